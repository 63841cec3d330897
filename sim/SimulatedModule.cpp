#include "sim/SimulatedModule.h"

#include "platform/ParportWiring.h"

namespace {
constexpr std::uint8_t kEnableLines[SimulatedModule::kControllers] = {kLineE0, kLineE1};
}

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

void SimulatedModule::OnPortWrite(std::uint32_t address, std::uint8_t value) {
    const std::uint8_t before = lines_.Control();
    if (!lines_.Apply(address, value)) return;
    const std::uint8_t after = lines_.Control();
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
            controller.LatchWrite(rs, lines_.Data());
        if (listener_) listener_({number, rs, read, lines_.Data()});
    }
}
