#include "sim/SimulatedModule.h"

#include <string>
#include <vector>

#include "lines/ModuleLines.h"

namespace {
constexpr std::uint8_t kEnableLines[SimulatedModule::kControllers] = {kLineE0, kLineE1};
constexpr const char* kEnableNames[SimulatedModule::kControllers] = {"E0", "E1"};
constexpr std::uint8_t kLowNibbleLines = 0x0F;  // undriven on the 4-bit bus
constexpr std::uint8_t kAllDataLines = 0xFF;

struct SteadyLine {
    std::uint8_t line;
    const char* name;
};
constexpr SteadyLine kSteadyLines[] = {{kLineRS, "RS"}, {kLineRW, "RW"}};
}  // namespace

SimulatedModule::SimulatedModule(Clock& clock, PortIo& io, std::uint32_t portBase)
    : controllers_{LcdController(clock), LcdController(clock)}, io_(io), lines_(io) {
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
}

std::uint8_t SimulatedModule::SeenControl() const {
    auto pins = static_cast<std::uint8_t>(lines_.Control() ^
                                          (wiring_.invertedAtModule >> kControlLineShift));
    if (controllerCount_ < kControllers) pins &= static_cast<std::uint8_t>(~kLineE1);
    return fault_.Control(pins & static_cast<std::uint8_t>(wiring_.wired >> kControlLineShift));
}

std::uint8_t SimulatedModule::UnwiredData() const {
    return static_cast<std::uint8_t>(~wiring_.wired & DataLines(kAllDataLines));
}

std::uint8_t SimulatedModule::SeenData() const {
    const std::uint8_t driven = lines_.DataInput() ? kAllDataLines : lines_.Data();
    return fault_.Data(driven | UnwiredData());
}

std::array<std::uint8_t, SimulatedModule::kControllers> SimulatedModule::DrivenBy(
    std::uint8_t control) const {
    std::array<std::uint8_t, kControllers> driven{};
    if (!(control & kLineRW)) return driven;
    for (int number = 0; number < kControllers; ++number) {
        if (!(control & kEnableLines[number])) continue;
        const bool fourBit = !controllers_[number].State().eightBitBus;
        driven[number] = fourBit ? static_cast<std::uint8_t>(~kLowNibbleLines) : kAllDataLines;
    }
    return driven;
}

std::uint8_t SimulatedModule::PortDrives() const {
    return lines_.DataInput() ? 0 : static_cast<std::uint8_t>(wiring_.wired & kAllDataLines);
}

std::optional<std::uint8_t> SimulatedModule::DrivenData(std::uint32_t base) const {
    if (base != lines_.Base()) return std::nullopt;
    const std::uint8_t control = SeenControl();
    const auto driven = DrivenBy(control);
    std::uint8_t lines = kAllDataLines;
    for (int number = 0; number < kControllers; ++number) {
        if (!driven[number]) continue;
        lines &= controllers_[number].ReadOutput(control & kLineRS) |
                 static_cast<std::uint8_t>(~driven[number]);
    }
    return fault_.Data(lines | UnwiredData());
}

// "RS rose while E1 was high", "RW fell as E0 rose": a change on the enable's
// own edge breaks the set-up or the hold time just as well.
void SimulatedModule::CheckControl(std::uint8_t before, std::uint8_t after) {
    for (int number = 0; number < kControllers; ++number) {
        const std::uint8_t enable = kEnableLines[number];
        const bool wasHigh = before & enable;
        const bool isHigh = after & enable;
        if (!wasHigh && !isHigh) continue;
        const std::string when = wasHigh && isHigh
                                     ? " while " + std::string(kEnableNames[number]) + " was high"
                                 : isHigh ? " as " + std::string(kEnableNames[number]) + " rose"
                                          : " as " + std::string(kEnableNames[number]) + " fell";
        for (const SteadyLine& steady : kSteadyLines) {
            if (!((before ^ after) & steady.line)) continue;
            controllers_[number].ReportViolation(
                Violation::UnsteadyControl,
                std::string(steady.name) + ((after & steady.line) ? " rose" : " fell") + when);
        }
    }
}

// A controller that starts driving against another driver, or finds one
// driving against it, takes one violation, as the other controller does.
void SimulatedModule::CheckDrivers(const std::array<std::uint8_t, kControllers>& drivenBefore,
                                   std::uint8_t portBefore) {
    const auto driven = DrivenBy(SeenControl());
    const std::uint8_t port = PortDrives();
    const auto against = [](const std::array<std::uint8_t, kControllers>& by, std::uint8_t onPort,
                            int number) {
        return static_cast<std::uint8_t>(by[number] & (onPort | by[1 - number]));
    };
    for (int number = 0; number < kControllers; ++number) {
        const std::uint8_t fought = against(driven, port, number);
        if (!fought || against(drivenBefore, portBefore, number)) continue;
        std::vector<std::string> names;
        for (int other = 0; other < kControllers; ++other)
            if (driven[other] & fought) names.emplace_back(kEnableNames[other]);
        if (port & fought) names.emplace_back("the port");
        // "E1 and the port both drove D0..D7", "E0, E1 and the port all drove D4..D7".
        std::string drivers = names.front();
        for (std::size_t n = 1; n < names.size(); ++n)
            drivers += (n + 1 == names.size() ? " and " : ", ") + names[n];
        controllers_[number].ReportViolation(
            Violation::TwoDrivers, drivers + (names.size() > 2 ? " all drove " : " both drove ") +
                                       LineSetNames(DataLines(fought)));
    }
}

std::uint64_t SimulatedModule::BusViolations() const {
    std::uint64_t count = 0;
    for (const LcdController& controller : controllers_)
        for (const Violation kind : {Violation::UnsteadyControl, Violation::TwoDrivers})
            count += controller.Violations(kind);
    return count;
}

void SimulatedModule::OnPortWrite(std::uint32_t address, std::uint8_t /*value*/) {
    const std::uint64_t violations = BusViolations();
    bool latched = false;
    const std::uint8_t before = SeenControl();
    const auto drivenBefore = DrivenBy(before);
    const std::uint8_t portBefore = PortDrives();
    if (!lines_.Apply(address)) return;
    const std::uint8_t after = SeenControl();
    CheckControl(before, after);
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
        latched = true;
        if (listener_) listener_({number, rs, read, SeenData()});
    }
    CheckDrivers(drivenBefore, portBefore);
    if (!latched && BusViolations() != violations && violationListener_) violationListener_();
}
