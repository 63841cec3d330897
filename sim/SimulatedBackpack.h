#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Clock.h"
#include "io/I2cExpander.h"
#include "sim/CharacterModule.h"

// A device on the simulated I2C bus: an expander of one kind, what each of its
// pins drives, and the character module behind it (or none), taking SMBus
// transfers as the chip does.
//
// A pin's level is what drives it: the expander (an output, or a PCF8574 pin
// written low), else what hangs on it: the module's data outputs while the
// module drives them, a load (a backlight transistor's base or a relay
// driver), the expander's pull-up (a PCF8574 pin written high, an MCP230xx
// input with GPPU set), the module's own pull-ups on RS, RW and D0..D7, and
// low on a floating E or an unused pin. An inverted line passes an inverting
// buffer on its way to the module, which always drives it.

// What one --sim-i2c value sets up.
struct BackpackSetup {
    std::string_view kind;               // "pcf8574", as the transport's row names it
    const ExpanderChip* chip = nullptr;  // that row's chip
    // The address, pin map and inverted lines; its bus is the simulated one.
    ExpanderDevice wiring;
    bool module = true;       // false: no module, every pin loaded low (a relay board)
    bool rwGrounded = false;  // the module's RW tied to ground (and the pin mapped to it)

    // The --sim-i2c value that sets this up: "0x27=pcf8574", with the pin map
    // and invert= where they are not the kind's common ones.
    std::string Text() const;
};

// --sim-i2c ADDR=KIND[:LINE=PIN,...][,invert=LINE+LINE][,rw=ground][,no-module]
inline constexpr const char kSimI2cOptionName[] = "sim-i2c";
// Reads one value of it; nullopt with the usage error in `error`.
std::optional<BackpackSetup> ParseBackpackSetup(std::string_view text, std::string& error);
// Adds one value of it to `setups`; the usage error (also for an address taken
// already), or "" when it was added.
std::string AddBackpackSetup(std::vector<BackpackSetup>& setups, std::string_view text);
// The help text of the option.
std::string SimI2cOptionHelp();

class SimulatedBackpack {
public:
    // The model of `setup.kind`, powered on now; its module's controllers run on `clock`.
    static std::unique_ptr<SimulatedBackpack> Make(const BackpackSetup& setup, Clock& clock);
    virtual ~SimulatedBackpack() = default;
    SimulatedBackpack(const SimulatedBackpack&) = delete;
    SimulatedBackpack& operator=(const SimulatedBackpack&) = delete;

    const BackpackSetup& Setup() const { return setup_; }
    std::uint8_t Address() const { return setup_.wiring.address; }
    // The module behind the expander (E0 only); nullptr on a relay board.
    const CharacterModule* Module() const { return setup_.module ? &module_ : nullptr; }
    CharacterModule* Module() { return setup_.module ? &module_ : nullptr; }
    // The pins' levels now, bit n for pin n.
    std::uint16_t PinLevels() const;
    // Whether a backlight pin lights the backlight; nullopt without one.
    std::optional<bool> Backlight() const;
    // Called when the backlight goes on or off.
    void SetBacklightListener(std::function<void()> listener) {
        backlightListener_ = std::move(listener);
    }

    // The SMBus transfers as the chip takes them: 0, or a negated errno.
    virtual int Quick(bool /*read*/) { return 0; }
    virtual int SendByte(std::uint8_t byte) = 0;
    virtual int ReceiveByte(std::uint8_t& byte) = 0;
    virtual int WriteByteData(std::uint8_t command, std::uint8_t value) = 0;
    virtual int ReadByteData(std::uint8_t command, std::uint8_t& value) = 0;

protected:
    // How the expander drives a pin: strongly low or high, with a weak
    // pull-up only, or not at all.
    enum class Drive { Low, High, PullUp, Released };

    SimulatedBackpack(const BackpackSetup& setup, Clock& clock);
    virtual Drive DriveOf(int pin) const = 0;
    // After the expander changed how it drives its pins: the module takes the
    // lines they give it.
    void PinsChanged();
    bool PinHigh(int pin) const;

private:
    int Target(int pin) const { return setup_.wiring.map.pin[static_cast<std::size_t>(pin)]; }
    bool Inverted(int target) const { return setup_.wiring.inverted >> target & 1; }
    ModulePins ModuleLines() const;

    BackpackSetup setup_;
    CharacterModule module_;
    std::optional<bool> backlight_;
    std::function<void()> backlightListener_;
};
