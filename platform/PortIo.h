#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Where port writes end up: the simulated port, or a real parallel port.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    // A short description for the user, for example "simulated module".
    virtual std::string Describe() const = 0;
    virtual void Write(std::uint32_t address, std::uint8_t value) = 0;
    // What the port's data lines carry now; nullopt when it cannot be read (the
    // reason is reported).
    virtual std::optional<std::uint8_t> Read(std::uint32_t address) = 0;
};

// Sees every port write after the back-end has taken it (trace, waveform, views),
// and every read.
class PortObserver {
public:
    virtual ~PortObserver() = default;
    virtual void OnPortWrite(std::uint32_t address, std::uint8_t value) = 0;
    virtual void OnPortRead(std::uint32_t /*address*/, std::uint8_t /*value*/) {}
    // For the simulated port: the levels this observer puts on the data lines of
    // the port whose data register is `dataAddress`; nullopt when it has none.
    virtual std::optional<std::uint8_t> DrivenData(std::uint32_t /*dataAddress*/) const {
        return std::nullopt;
    }
};

// The default back-end: keeps the last byte written to each I/O address. It is
// a bidirectional port: a read of a data register returns the latch while the
// data lines are outputs, and what the observers drive on them once bit 5 of the
// control register has turned them around (0xFF, the pull-ups, where none drives).
class SimulatedPort final : public PortBackend {
public:
    SimulatedPort();
    std::string Describe() const override { return "simulated module"; }
    void Write(std::uint32_t address, std::uint8_t value) override;
    std::optional<std::uint8_t> Read(std::uint32_t address) override;
    // The last byte written to `address`, or -1 if it was never written.
    int LastWritten(std::uint32_t address) const;

private:
    std::vector<std::int16_t> last_;  // one slot per 16-bit I/O address
};

// The process's one path to the port: a back-end behind a seam, observers beside it,
// and the place where a back-end tells the user that hardware is not reached.
class PortIo {
public:
    static PortIo& Instance();

    // Replaces the back-end; nullptr brings back a fresh simulated port.
    void SetBackend(std::unique_ptr<PortBackend> backend);
    PortBackend& Backend() { return *backend_; }
    // The simulated port when it is the back-end in use, otherwise nullptr.
    SimulatedPort* Simulated();

    void AddObserver(PortObserver* observer);
    void RemoveObserver(PortObserver* observer);

    void Write(std::uint32_t address, std::uint8_t value);
    std::optional<std::uint8_t> Read(std::uint32_t address);
    // The levels on the data lines of a turned-around port with nothing but the
    // observers driving them: pulled up, and low where an observer pulls low.
    std::uint8_t DataLines(std::uint32_t dataAddress) const;

    // Tells the user once per cause (on standard error and through the sink,
    // which the dialog shows in its notice line). The sink may be empty.
    using ProblemSink = std::function<void(const std::string& message)>;
    void SetProblemSink(ProblemSink sink);
    // `aboutPort` is false for a problem of a file that records the port (a
    // trace or waveform), which leaves the port itself reached.
    void ReportProblem(const std::string& cause, const std::string& message, bool aboutPort = true);
    // The messages reported so far, oldest first.
    const std::vector<std::string>& Problems() const { return problems_; }
    // The latest problem about the port itself, "" while there is none.
    const std::string& LastPortProblem() const { return lastPortProblem_; }
    // Forgets reported causes and the back-end; for a fresh start (tests).
    void Reset();

private:
    PortIo();
    std::unique_ptr<PortBackend> backend_;
    std::vector<PortObserver*> observers_;
    ProblemSink sink_;
    std::set<std::string> reportedCauses_;
    std::vector<std::string> problems_;
    std::string lastPortProblem_;
};

// Writes one byte to one I/O port before it returns.
void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value);
// Reads one byte from one I/O port; nullopt when the port cannot be read.
std::optional<std::uint8_t> DlPortReadPortUchar(std::uint32_t port);
