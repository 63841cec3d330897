#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "base/Clock.h"
#include "io/PortIo.h"
#include "io/PortLines.h"
#include "io/transports/Simulated.h"
#include "sim/LcdController.h"
#include "sim/WiringFault.h"

// One transfer as a controller latched it on the falling edge of its enable line.
struct BusTransfer {
    int controller;    // 0 on E0, 1 on E1
    bool rs;           // data register when true, instruction register otherwise
    bool read;         // RW was high
    std::uint8_t bus;  // D7..D0 as they stood at the edge
};

// The module on the end of the cable: two controllers sharing RS, RW and D0..D7,
// controller 0 clocked by E0 and controller 1 by E1 (a one-controller module has
// nothing on E1). It listens to the port I/O from construction to destruction
// (and drives the simulated port's data lines, where that is the back-end)
// and takes the writes of one port at a time, at the levels the port's wiring
// puts on the module's pins (E1 straight to pin 17 arrives inverted). While RW
// and a controller's enable are high it drives that controller's output on the
// data lines (D3..D0 left to the pull-ups on the 4-bit bus), as a real module
// does, so a read of the turned-around port during the enable pulse sees it.
//
// Besides the controllers' busy times it checks the bus rules, per controller:
// RS and RW stay put from its enable's rise to its fall, and nothing else drives
// the data lines it drives (the port's outputs, or the other controller).
class SimulatedModule final : public PortObserver, public DataDriver {
public:
    static constexpr int kControllers = 2;

    // Powers both controllers on now and attaches to the port at `portBase`.
    SimulatedModule(Clock& clock, PortIo& io, std::uint32_t portBase);
    ~SimulatedModule() override;
    SimulatedModule(const SimulatedModule&) = delete;
    SimulatedModule& operator=(const SimulatedModule&) = delete;

    // Moves the cable to another port: its registers' current values become the
    // line levels, and no edge results from the move.
    void AttachToPort(std::uint32_t portBase);
    std::uint32_t AttachedPort() const { return lines_.Base(); }
    const PortLines& Lines() const { return lines_; }

    // Controller 0, or controller 1 for any other number (as E1 serves every
    // controller number but 0).
    const LcdController& Controller(int number) const { return controllers_[number == 0 ? 0 : 1]; }

    // Called after every latched transfer, reads included, so a view can repaint at once.
    using ChangeListener = std::function<void(const BusTransfer&)>;
    void SetChangeListener(ChangeListener listener) { listener_ = std::move(listener); }
    // Called after a write that broke a bus rule but latched nothing, so the
    // violation shows at once too.
    void SetViolationListener(std::function<void()> listener) {
        violationListener_ = std::move(listener);
    }

    // 2 (from construction): a 40x4's two controllers; 1: a module with one,
    // whose E1 pin is not there. Changes no level and makes no edge.
    void SetControllerCount(int count) {
        controllerCount_ = count < kControllers ? 1 : kControllers;
    }
    // What the port the module hangs on carries to it.
    const PortWiring& Wiring() const { return wiring_; }

    // Puts a wiring fault between the port and the module (none by default).
    void SetWiringFault(const WiringFault& fault) { fault_ = fault; }
    const WiringFault& Fault() const { return fault_; }

    void OnPortWrite(std::uint32_t address, std::uint8_t value) override;
    std::optional<std::uint8_t> DrivenData(std::uint32_t base) const override;

private:
    std::array<LcdController, kControllers> controllers_;
    // The levels the module's pins see: what the port's wiring carries (lines it
    // does not wire: control low, data pulled high), through the wiring fault;
    // the data lines float high while the port has turned them around.
    std::uint8_t SeenControl() const;
    std::uint8_t SeenData() const;
    std::uint8_t UnwiredData() const;
    // The data lines each controller drives now (none while RW or its enable is low).
    std::array<std::uint8_t, kControllers> DrivenBy(std::uint8_t control) const;
    // The data lines the port drives now.
    std::uint8_t PortDrives() const;
    // The bus-rule violations of both controllers so far (busy times aside).
    std::uint64_t BusViolations() const;
    // The bus rules around one write: RS and RW against each enable, then the
    // data lines' drivers before and after it.
    void CheckControl(std::uint8_t before, std::uint8_t after);
    void CheckDrivers(const std::array<std::uint8_t, kControllers>& drivenBefore,
                      std::uint8_t portBefore);

    PortIo& io_;
    PortLines lines_;
    PortWiring wiring_;
    int controllerCount_ = kControllers;
    WiringFault fault_;
    ChangeListener listener_;
    std::function<void()> violationListener_;
};
