#include "io/PortLines.h"

#include "lines/ParportWiring.h"

void PortLines::Attach(std::uint32_t base) {
    base_ = base;
    lines_ = PortIo::Instance().Lines(base);
}

bool PortLines::Apply(std::uint32_t address) {
    if (address != base_ && address != base_ + kControlRegisterOffset) return false;
    lines_ = PortIo::Instance().Lines(base_);
    return true;
}
