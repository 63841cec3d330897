#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lines/ModuleLines.h"
#include "lines/ParportWiring.h"

// Where the module's lines end up: the simulated port, a real parallel port, a
// GPIO chip, an I2C backpack. The line state writes registers; PortIo turns
// each register write into the lines it sets and hands them on here.
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

// Sees every port write after the back-end has taken it (trace, waveform, views),
// and every read.
class PortObserver {
public:
    virtual ~PortObserver() = default;
    virtual void OnPortWrite(std::uint32_t address, std::uint8_t value) = 0;
    virtual void OnPortRead(std::uint32_t /*address*/, std::uint8_t /*value*/) {}
    // The device behind the Port list entry `base` went away (PortIo::ReportLost).
    virtual void OnPortLost(std::uint32_t /*base*/, const std::string& /*message*/) {}
    // For the simulated port: the levels this observer puts on the data lines of
    // the port whose data register is `dataAddress`; nullopt when it has none.
    virtual std::optional<std::uint8_t> DrivenData(std::uint32_t /*dataAddress*/) const {
        return std::nullopt;
    }
};

// The default back-end: keeps each port's lines. It is a bidirectional parallel
// port: a read returns the latch while the data lines are outputs, and what the
// observers drive on them once they are turned around (0xFF, the pull-ups,
// where none drives). A Port list entry may be given another wiring (a GPIO
// chip's or a backpack's) to practise on; nothing is opened for it.
class SimulatedPort final : public PortBackend {
public:
    // `e1`: how a 40x4's second enable hangs on pin 17 of every parallel port here.
    explicit SimulatedPort(E1Wiring e1 = kDefaultE1Wiring) : e1_(e1) {}
    std::string Describe() const override { return "simulated module"; }
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t base) const override;
    void SetWiring(std::uint32_t base, PortWiring wiring);

private:
    E1Wiring e1_;
    std::vector<std::pair<std::uint32_t, PortWiring>> wirings_;
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
    // The device behind the Port list entry `base` went away (a USB bridge
    // unplugged): told once, the observers hear of it, and from now on runs on
    // that entry stop and are refused with `message`; the tool goes on.
    void ReportLost(std::uint32_t base, const std::string& cause, const std::string& message);
    // The message a lost entry was reported with; "" while it works.
    const std::string& LostMessage(std::uint32_t base) const;

    // A request the wiring cannot carry out (a run the port cannot drive): shown
    // through the sink every time it is refused, said on standard error once.
    void Refuse(const std::string& message);
    // The messages reported so far, oldest first.
    const std::vector<std::string>& Problems() const { return problems_; }
    // The latest problem about the port itself, "" while there is none.
    const std::string& LastPortProblem() const { return lastPortProblem_; }
    // Forgets reported causes and the back-end; for a fresh start (tests).
    void Reset();

private:
    PortIo();
    std::unique_ptr<PortBackend> backend_;
    std::array<LineLevels, kPortCount> lines_{};  // one per Port list entry
    std::array<std::string, kPortCount> lost_;
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
