#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/PortBackend.h"
#include "io/ProblemLog.h"
#include "lines/ModuleLines.h"
#include "lines/ParportWiring.h"

class SimulatedPort;

// One path to the port: register writes decoded into the lines they set and
// handed to a back-end, observers told of every write and read, the entries
// whose device went away, and the log the user is told through. Its owner
// installs it (ScopedPortIo) for the register functions below; the back-end it
// holds is destroyed before its log, so a back-end may report to the end.
class PortIo final : public TransportContext {
public:
    // Starts on a simulated port.
    PortIo();
    ~PortIo() override;
    PortIo(const PortIo&) = delete;
    PortIo& operator=(const PortIo&) = delete;

    // Replaces the back-end; nullptr brings back a fresh simulated port.
    void SetBackend(std::unique_ptr<PortBackend> backend);
    PortBackend& Backend() { return *backend_; }
    // The simulated port when it is the back-end in use, otherwise nullptr.
    SimulatedPort* Simulated();
    ProblemLog& Log() { return log_; }
    const ProblemLog& Log() const { return log_; }

    void AddObserver(PortObserver* observer);
    void RemoveObserver(PortObserver* observer);

    // A register write of the line state: the lines it sets go to the back-end,
    // then the observers hear of the write. An address that is no register of
    // the Port list's ports reaches no back-end and is reported.
    void Write(std::uint32_t address, std::uint8_t value);
    // A read of a data register; nullopt when the port cannot be read.
    std::optional<std::uint8_t> Read(std::uint32_t address);
    // The lines of the Port list entry `base` as the register writes left them
    // (all low before the first); all low for any other address.
    const LineLevels& Lines(std::uint32_t base) const;
    // What the back-end's port at `base` carries to the module.
    PortWiring Wiring(std::uint32_t base) const { return backend_->Wiring(base); }

    void Report(const std::string& cause, const std::string& message) override {
        log_.Report(cause, message);
    }
    void ReportLost(std::uint32_t base, const std::string& cause,
                    const std::string& message) override;
    // The message a lost entry was reported with; "" while it works.
    const std::string& LostMessage(std::uint32_t base) const;

private:
    ProblemLog log_;
    std::array<LineLevels, kPortCount> lines_{};  // one per Port list entry
    std::array<std::string, kPortCount> lost_;
    std::vector<PortObserver*> observers_;
    std::unique_ptr<PortBackend> backend_;  // last: destroyed first
};

// The port I/O the register functions reach: the one a ScopedPortIo installed
// last, or a port I/O of its own on a simulated port while none is.
PortIo& ThePortIo();

class ScopedPortIo {
public:
    explicit ScopedPortIo(PortIo& io);
    ~ScopedPortIo();
    ScopedPortIo(const ScopedPortIo&) = delete;
    ScopedPortIo& operator=(const ScopedPortIo&) = delete;

private:
    PortIo* previous_;
};

// Writes one byte to one I/O port before it returns.
void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value);
// Reads one byte from one I/O port; nullopt when the port cannot be read.
std::optional<std::uint8_t> DlPortReadPortUchar(std::uint32_t port);
