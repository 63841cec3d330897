#include "sim/SimulatedModule.h"

#include "platform/ParportWiring.h"

namespace {
constexpr std::uint8_t kEnableLines[SimulatedModule::kControllers] = {kLineE0, kLineE1};
constexpr std::uint8_t kLowNibbleLines = 0x0F;  // undriven on the 4-bit bus
}  // namespace

SimulatedModule::SimulatedModule(Clock& clock, std::uint32_t portBase)
    : controllers_{LcdController(clock), LcdController(clock)} {
    AttachToPort(portBase);
    PortIo::Instance().AddObserver(this);
}

SimulatedModule::~SimulatedModule() {
    PortIo::Instance().RemoveObserver(this);
}

void SimulatedModule::AttachToPort(std::uint32_t portBase) {
    lines_.Attach(portBase, PortIo::Instance().Simulated());
}

std::optional<std::uint8_t> SimulatedModule::DrivenData(std::uint32_t dataAddress) const {
    if (dataAddress != lines_.Base()) return std::nullopt;
    const std::uint8_t control = SeenControl();
    std::uint8_t lines = 0xFF;
    if (control & kLineRW) {
        for (int number = 0; number < kControllers; ++number) {
            if (!(control & kEnableLines[number])) continue;
            const LcdController& controller = controllers_[number];
            const bool fourBit = !controller.State().eightBitBus;
            lines &= controller.ReadOutput(control & kLineRS) | (fourBit ? kLowNibbleLines : 0);
        }
    }
    return fault_.Data(lines);
}

void SimulatedModule::OnPortWrite(std::uint32_t address, std::uint8_t value) {
    const std::uint8_t before = SeenControl();
    if (!lines_.Apply(address, value)) return;
    const std::uint8_t after = SeenControl();
    // RS and RW must hold past the edge, so the levels before this write count.
    const bool rs = before & kLineRS;
    const bool read = before & kLineRW;
    for (int number = 0; number < kControllers; ++number) {
        const std::uint8_t enable = kEnableLines[number];
        if (!(before & enable) || (after & enable)) continue;
        LcdController& controller = controllers_[number];
        if (read)
            controller.LatchRead(rs);
        else
            controller.LatchWrite(rs, SeenData());
        if (listener_) listener_({number, rs, read, SeenData()});
    }
}
