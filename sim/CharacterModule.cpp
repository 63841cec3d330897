#include "sim/CharacterModule.h"

#include <string>
#include <vector>

#include "lines/ModuleLines.h"

namespace {
constexpr std::uint8_t kEnableLines[CharacterModule::kControllers] = {kLineE0, kLineE1};
constexpr const char* kEnableNames[CharacterModule::kControllers] = {"E0", "E1"};
constexpr std::uint8_t kAllDataLines = 0xFF;

struct SteadyLine {
    std::uint8_t line;
    const char* name;
};
constexpr SteadyLine kSteadyLines[] = {{kLineRS, "RS"}, {kLineRW, "RW"}};
}  // namespace

CharacterModule::CharacterModule(Clock& clock, std::string outside)
    : controllers_{LcdController(clock), LcdController(clock)}, outside_(std::move(outside)) {}

std::uint8_t CharacterModule::Control(const ModulePins& pins) const {
    return controllerCount_ < kControllers ? static_cast<std::uint8_t>(pins.control & ~kLineE1)
                                           : pins.control;
}

std::array<std::uint8_t, CharacterModule::kControllers> CharacterModule::DrivenBy(
    std::uint8_t control) const {
    std::array<std::uint8_t, kControllers> driven{};
    if (!(control & kLineRW)) return driven;
    for (int number = 0; number < kControllers; ++number) {
        if (!(control & kEnableLines[number])) continue;
        const bool fourBit = !controllers_[number].State().eightBitBus;
        driven[number] = fourBit ? kHighDataNibble : kAllDataLines;
    }
    return driven;
}

std::uint8_t CharacterModule::Drives() const {
    const auto driven = DrivenBy(Control(pins_));
    return static_cast<std::uint8_t>(driven[0] | driven[1]);
}

std::uint8_t CharacterModule::Output() const {
    const std::uint8_t control = Control(pins_);
    const auto driven = DrivenBy(control);
    std::uint8_t lines = kAllDataLines;
    for (int number = 0; number < kControllers; ++number) {
        if (!driven[number]) continue;
        lines &= controllers_[number].ReadOutput(control & kLineRS) |
                 static_cast<std::uint8_t>(~driven[number]);
    }
    return lines;
}

// "RS rose while E1 was high", "RW fell as E0 rose": a change on the enable's
// own edge breaks the set-up or the hold time just as well.
void CharacterModule::CheckControl(std::uint8_t before, std::uint8_t after) {
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
void CharacterModule::CheckDrivers(const std::array<std::uint8_t, kControllers>& drivenBefore,
                                   std::uint8_t outsideBefore) {
    const auto driven = DrivenBy(Control(pins_));
    const std::uint8_t outside = pins_.driven;
    const auto against = [](const std::array<std::uint8_t, kControllers>& by,
                            std::uint8_t fromOutside, int number) {
        return static_cast<std::uint8_t>(by[number] & (fromOutside | by[1 - number]));
    };
    for (int number = 0; number < kControllers; ++number) {
        const std::uint8_t fought = against(driven, outside, number);
        if (!fought || against(drivenBefore, outsideBefore, number)) continue;
        std::vector<std::string> names;
        for (int other = 0; other < kControllers; ++other)
            if (driven[other] & fought) names.emplace_back(kEnableNames[other]);
        if (outside & fought) names.push_back(outside_);
        // "E1 and the port both drove D0..D7", "E0, E1 and the port all drove D4..D7".
        std::string drivers = names.front();
        for (std::size_t n = 1; n < names.size(); ++n)
            drivers += (n + 1 == names.size() ? " and " : ", ") + names[n];
        controllers_[number].ReportViolation(
            Violation::TwoDrivers, drivers + (names.size() > 2 ? " all drove " : " both drove ") +
                                       LineSetNames(DataLines(fought)));
    }
}

std::uint64_t CharacterModule::BusViolations() const {
    std::uint64_t count = 0;
    for (const LcdController& controller : controllers_)
        for (const Violation kind : {Violation::UnsteadyControl, Violation::TwoDrivers})
            count += controller.Violations(kind);
    return count;
}

void CharacterModule::Take(const ModulePins& pins) {
    const std::uint64_t violations = BusViolations();
    bool latched = false;
    const std::uint8_t before = Control(pins_);
    const auto drivenBefore = DrivenBy(before);
    const std::uint8_t outsideBefore = pins_.driven;
    pins_ = pins;
    const std::uint8_t after = Control(pins_);
    CheckControl(before, after);
    // RS and RW must hold past the edge, so the levels before this change count.
    const bool rs = before & kLineRS;
    const bool read = before & kLineRW;
    for (int number = 0; number < kControllers; ++number) {
        const std::uint8_t enable = kEnableLines[number];
        if (!(before & enable) || (after & enable)) continue;
        LcdController& controller = controllers_[number];
        if (read)
            controller.LatchRead(rs);
        else
            controller.LatchWrite(rs, pins_.data);
        latched = true;
        if (listener_) listener_({number, rs, read, pins_.data});
    }
    CheckDrivers(drivenBefore, outsideBefore);
    if (!latched && BusViolations() != violations && violationListener_) violationListener_();
}
