#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "io/KernelSystem.h"
#include "lines/ModuleLines.h"

// Where the module's lines end up: the simulated port, a real parallel port, a
// GPIO chip, an I2C backpack. The port I/O decodes each register write into
// the lines it sets and hands them on here.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    // A short description for the user, for example "simulated module".
    virtual std::string Describe() const = 0;
    // Takes the lines of the Port list entry `base` after a refresh changed `group`.
    virtual void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) = 0;
    // What the data lines of `base` carry now; nullopt when they cannot be read
    // (the reason is reported).
    virtual std::optional<std::uint8_t> ReadData(std::uint32_t base) = 0;
    // What the port at `base` carries to the module.
    virtual PortWiring Wiring(std::uint32_t base) const = 0;
};

// Sees every port write after the back-end has taken it (trace, waveform, the
// simulated module), and every read.
class PortObserver {
public:
    virtual ~PortObserver() = default;
    virtual void OnPortWrite(std::uint32_t address, std::uint8_t value) = 0;
    virtual void OnPortRead(std::uint32_t /*address*/, std::uint8_t /*value*/) {}
    // The device behind the Port list entry `base` went away.
    virtual void OnPortLost(std::uint32_t /*base*/, const std::string& /*message*/) {}
};

// What a transport talks back through: problems, each told once per cause,
// and its device gone.
class TransportContext {
public:
    virtual ~TransportContext() = default;
    virtual void Report(const std::string& cause, const std::string& message) = 0;
    // The device behind the Port list entry `base` went away (a USB bridge
    // unplugged): told once, and from now on runs on that entry stop and are
    // refused with `message`; the tool goes on.
    virtual void ReportLost(std::uint32_t base, const std::string& cause,
                            const std::string& message) = 0;
};

// What opening a transport for one Port list entry is given.
struct OpenRequest {
    std::uint32_t base;
    LineLevels start;  // the levels its lines start from
    std::shared_ptr<KernelSystem> sys;
    TransportContext& context;
};
