#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "base/Clock.h"
#include "io/PortIo.h"
#include "io/PortLines.h"
#include "io/Transports.h"
#include "io/transports/Simulated.h"
#include "sim/CharacterModule.h"
#include "sim/LcdController.h"
#include "sim/WiringFault.h"

class SimulatedI2cBus;
class SimulatedBackpack;

// The module on the end of the cable of the port picked, as the view shows it.
// It listens to the port I/O from construction to destruction (and drives the
// simulated port's data lines, where that is the back-end) and feeds its own
// character module the writes of one port at a time, at the levels the port's
// wiring puts on the module's pins (E1 straight to pin 17 arrives inverted;
// lines the wiring lacks: control low, data pulled high), through the wiring
// fault. A Port list entry that drives a backpack on the simulated I2C bus
// shows that backpack's module instead while the cable is there.
class SimulatedModule final : public PortObserver, public DataDriver {
public:
    static constexpr int kControllers = CharacterModule::kControllers;

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

    // The module shown now: the attached port's backpack's, else the module's own.
    const CharacterModule& Shown() const;
    const LcdController& Controller(int number) const { return Shown().Controller(number); }

    // Called after every latched transfer of the module shown, reads included,
    // so a view can repaint at once.
    using ChangeListener = CharacterModule::ChangeListener;
    void SetChangeListener(ChangeListener listener);
    // Called after a change that broke a bus rule but latched nothing, or that
    // switched the backlight, so that shows at once too.
    void SetViolationListener(std::function<void()> listener);

    // 2 (from construction): a 40x4's two controllers; 1: a module with one,
    // whose E1 pin is not there. Changes no level and makes no edge.
    void SetControllerCount(int count) { own_.SetControllerCount(count); }
    // What the port the module hangs on carries to it.
    const PortWiring& Wiring() const { return wiring_; }
    // Whether the glass is backlit: nullopt where nothing switches the
    // backlight (it is lit), else as the backpack's pin or the mapping has it.
    std::optional<bool> Backlight() const;

    // Puts a wiring fault between the port and the module (none by default).
    void SetWiringFault(const WiringFault& fault);
    const WiringFault& Fault() const { return fault_; }

    // Follows the --port-map entries: on the simulated port, an expander
    // mapping's backlight=; on the others, the backpacks `bus` has at the
    // addresses mapped on it. Then attaches again, with no edge.
    void FollowMappings(const std::vector<PortMapping>& map, SimulatedI2cBus* bus);

    void OnPortWrite(std::uint32_t address, std::uint8_t value) override;
    std::optional<std::uint8_t> DrivenData(std::uint32_t base) const override;

private:
    // The levels the module's pins see on the attached port.
    ModulePins Seen() const;
    std::uint8_t UnwiredData() const;
    SimulatedBackpack* BackpackAt(std::uint32_t base) const;
    // Where the backpack shown changes, its listeners follow.
    void ListenToShown();

    PortIo& io_;
    CharacterModule own_;
    PortLines lines_;
    PortWiring wiring_;
    WiringFault fault_;
    std::vector<std::pair<std::uint32_t, SimulatedBackpack*>> backpacks_;
    std::vector<std::pair<std::uint32_t, bool>> backlights_;  // the simulated port's, mapped
    SimulatedBackpack* listenedTo_ = nullptr;
    ChangeListener listener_;
    std::function<void()> violationListener_;
};
