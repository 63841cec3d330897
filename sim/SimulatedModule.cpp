#include "sim/SimulatedModule.h"

#include "lines/ModuleLines.h"

namespace {
constexpr std::uint8_t kAllDataLines = 0xFF;
}  // namespace

SimulatedModule::SimulatedModule(Clock& clock, PortIo& io, std::uint32_t portBase)
    : io_(io), own_(clock), lines_(io) {
    AttachToPort(portBase);
    io_.AddObserver(this);
    if (SimulatedPort* port = io_.Simulated()) port->Connect(this);
}

SimulatedModule::~SimulatedModule() {
    if (SimulatedPort* port = io_.Simulated()) port->Disconnect(this);
    io_.RemoveObserver(this);
}

void SimulatedModule::AttachToPort(std::uint32_t portBase) {
    lines_.Attach(portBase);
    wiring_ = io_.Wiring(portBase);
    own_.Place(Seen());
}
void SimulatedModule::SetWiringFault(const WiringFault& fault) {
    fault_ = fault;
    own_.Place(Seen());
}

std::uint8_t SimulatedModule::UnwiredData() const {
    return static_cast<std::uint8_t>(~wiring_.wired & DataLines(kAllDataLines));
}

ModulePins SimulatedModule::Seen() const {
    ModulePins pins;
    const auto control = static_cast<std::uint8_t>(
        (lines_.Control() ^ (wiring_.invertedAtModule >> kControlLineShift)) &
        (wiring_.wired >> kControlLineShift));
    pins.control = fault_.Control(control);
    pins.data = fault_.Data((lines_.DataInput() ? kAllDataLines : lines_.Data()) | UnwiredData());
    pins.driven = lines_.DataInput() ? 0 : static_cast<std::uint8_t>(wiring_.wired & kAllDataLines);
    return pins;
}

std::optional<std::uint8_t> SimulatedModule::DrivenData(std::uint32_t base) const {
    if (base != lines_.Base()) return std::nullopt;
    return fault_.Data(own_.Output() | UnwiredData());
}

void SimulatedModule::OnPortWrite(std::uint32_t address, std::uint8_t /*value*/) {
    if (lines_.Apply(address)) own_.Take(Seen());
}
