#include "sim/PortLines.h"

#include "platform/ParportWiring.h"

namespace {

std::uint8_t ControlLevels(std::uint8_t registerByte) {
    return (registerByte ^ kControlInvertMask) & kModuleControlLines;
}

std::uint8_t CurrentValue(const SimulatedPort* port, std::uint32_t address) {
    const int value = port ? port->LastWritten(address) : -1;
    return value < 0 ? 0 : static_cast<std::uint8_t>(value);
}

}  // namespace

void PortLines::Attach(std::uint32_t base, const SimulatedPort* port) {
    base_ = base;
    data_ = CurrentValue(port, base);
    const std::uint8_t control = CurrentValue(port, base + kControlRegisterOffset);
    control_ = ControlLevels(control);
    dataInput_ = control & kDataLinesInput;
}

bool PortLines::Apply(std::uint32_t address, std::uint8_t value) {
    if (address == base_) {
        data_ = value;
        return true;
    }
    if (address == base_ + kControlRegisterOffset) {
        control_ = ControlLevels(value);
        dataInput_ = value & kDataLinesInput;
        return true;
    }
    return false;
}
