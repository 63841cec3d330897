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
    lines_.Attach(portBase);
    wiring_ = PortIo::Instance().Wiring(portBase);
}

std::uint8_t SimulatedModule::SeenControl() const {
    auto pins = static_cast<std::uint8_t>(lines_.Control() ^
                                          (wiring_.invertedAtModule >> kControlLineShift));
    if (e1Inverter_ && (wiring_.invertedAtModule & ControlLines(kLineE1))) pins ^= kLineE1;
    return fault_.Control(pins & static_cast<std::uint8_t>(wiring_.wired >> kControlLineShift));
}

std::uint8_t SimulatedModule::UnwiredData() const {
    return static_cast<std::uint8_t>(~wiring_.wired & DataLines(0xFF));
}

std::uint8_t SimulatedModule::SeenData() const {
    const std::uint8_t driven = lines_.DataInput() ? 0xFF : lines_.Data();
    return fault_.Data(driven | UnwiredData());
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
    return fault_.Data(lines | UnwiredData());
}

void SimulatedModule::OnPortWrite(std::uint32_t address, std::uint8_t /*value*/) {
    const std::uint8_t before = SeenControl();
    if (!lines_.Apply(address)) return;
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
