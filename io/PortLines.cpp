#include "io/PortLines.h"

#include "lines/ParportWiring.h"

void PortLines::Attach(std::uint32_t base) {
    base_ = base;
    lines_ = io_.Lines(base);
}

bool PortLines::Apply(std::uint32_t address) {
    if (address != base_ && address != base_ + kControlRegisterOffset) return false;
    lines_ = io_.Lines(base_);
    return true;
}
