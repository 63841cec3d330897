#include "io/transports/Simulated.h"

#include <algorithm>

void SimulatedPort::Apply(std::uint32_t base, const LineLevels& lines, LineGroup) {
    for (auto& [port, kept] : lines_) {
        if (port != base) continue;
        kept = lines;
        return;
    }
    lines_.emplace_back(base, lines);
}

std::optional<std::uint8_t> SimulatedPort::ReadData(std::uint32_t base) {
    LineLevels lines;
    for (const auto& [port, kept] : lines_)
        if (port == base) lines = kept;
    if (!lines.dataInput) return lines.data;
    // Turned around: pulled up, and low where a driver pulls low.
    std::uint8_t levels = 0xFF;
    for (const DataDriver* driver : drivers_)
        if (const auto driven = driver->DrivenData(base)) levels &= *driven;
    return levels;
}

PortWiring SimulatedPort::Wiring(std::uint32_t base) const {
    for (const auto& [wired, wiring] : wirings_)
        if (wired == base) return wiring;
    return ParallelPortWiring(e1_);
}

void SimulatedPort::SetWiring(std::uint32_t base, PortWiring wiring) {
    for (auto& [wired, existing] : wirings_) {
        if (wired != base) continue;
        existing = std::move(wiring);
        return;
    }
    wirings_.emplace_back(base, std::move(wiring));
}

void SimulatedPort::Connect(const DataDriver* driver) {
    if (std::find(drivers_.begin(), drivers_.end(), driver) == drivers_.end())
        drivers_.push_back(driver);
}

void SimulatedPort::Disconnect(const DataDriver* driver) {
    std::erase(drivers_, driver);
}
