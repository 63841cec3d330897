#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "io/I2cBus.h"
#include "io/PortBackend.h"
#include "io/Transport.h"

// What every I2C expander transport shares: a chip's pins and what drives each
// (a module line, the backlight, or nothing), the mapping text
// "/dev/i2c-N@ADDR[:LINE=PIN,...][,backlight=on|off]", and the back-end that
// opens the device, tells its failures once, finds it lost, and puts the lines
// on the pins through the chip's own transfers.

inline constexpr int kMostExpanderPins = 16;

// What drives each pin: a module line by its LineSet bit (0..11), kBacklight or kNone.
struct ExpanderPins {
    static constexpr int kNone = -1;
    static constexpr int kBacklight = kModuleLineCount;
    std::array<int, kMostExpanderPins> pin;

    LineSet Wired() const;
    // The pin `target` is on; -1 where none.
    int PinOf(int target) const;
    bool operator==(const ExpanderPins&) const = default;
};
// All pins unused: the start of a pin map of one's own.
constexpr ExpanderPins NoPins() {
    ExpanderPins pins{};
    pins.pin.fill(ExpanderPins::kNone);
    return pins;
}

// The pins' state a write leaves: levels, and which pins are inputs.
struct PinState {
    std::uint16_t levels = 0;
    std::uint16_t inputs = 0;
    bool operator==(const PinState&) const = default;
};

// One kind of expander, as its transport describes it: its pins, its texts, and
// its own transfers. Each transfer returns the first failed transfer's negated
// errno, or 0.
struct ExpanderChip {
    std::string_view name;             // "PCF8574", as messages name it
    int pins;                          // 8 or 16
    const std::string_view* pinNames;  // "P0".."P7", by pin
    std::string_view pinRange;         // "P0..P7"
    std::string_view pinForm;          // "Pn", as a message's LINE=Pn shows it
    ExpanderPins common;               // the wiring a mapping without a pin map gets
    std::uint32_t commonInverted;      // and which of its targets it inverts (bit 12: BL)
    std::string_view example;          // "/dev/i2c-1@0x27"
    std::string_view mapExample;       // "RS=P0,RW=P1,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7"
    // Where it may answer, for the message when nothing does: "a PCF8574 is at
    // 0x20..0x27, a PCF8574A at 0x38..0x3F; the solder jumpers A0..A2 set the low bits".
    std::string_view addresses;
    // Pins that are inputs whenever they are written high (a PCF8574's): no
    // direction to set, so the levels alone say what the pins do.
    bool quasiBidirectional;
    unsigned long functions;         // the SMBus transfers it needs (I2C_FUNC_* bits)
    std::string_view functionsText;  // "send and receive single bytes (...), which a PCF8574 needs"
    // The first transfer once the address is claimed: it shows a device answers,
    // and gives the pins as found (all released where the chip does not say).
    int (*greet)(I2cDevice& device, PinState& found);
    // Puts the pins in state `now`; `before` is what they held, if known.
    int (*write)(I2cDevice& device, const PinState& now, const std::optional<PinState>& before);
    // The levels of the pins, at least of those in `wanted`.
    int (*read)(I2cDevice& device, std::uint16_t wanted, std::uint16_t& levels);
    // Puts pull-ups on the pins that are inputs among `pins` (none on a chip
    // whose released pins pull up by themselves: nullptr).
    int (*pullUps)(I2cDevice& device, std::uint16_t pins);
    // How detection tells the chip by reads alone: receive bytes read its pins
    // (0), or walk its registers one after another, repeating after this many.
    std::size_t registerWalk;
    // The addresses it can have (both ends included), A0..A2 setting the low bits.
    std::array<std::pair<std::uint8_t, std::uint8_t>, 2> addressRanges;
};

// A wiring some backpack is known to have, which detection tries first.
struct KnownWiring {
    std::string_view name;    // "common backpack wiring", as detection reports it
    std::string_view source;  // the boards it is found on, and where that is written down
    ExpanderPins pins;
    std::uint32_t inverted;  // as ExpanderDevice::inverted
};

// The probe hook of an I2C kind's row (Transport::probe): the chip and the
// wirings known for it, most common first.
struct TransportProbe {
    const ExpanderChip& chip;
    std::span<const KnownWiring> known;
};

// A mapping's device text read for one chip.
struct ExpanderDevice {
    std::string bus;  // "/dev/i2c-1"
    std::uint32_t busNumber = 0;
    std::uint8_t address = 0;
    ExpanderPins map;
    // Targets whose pin is low when the line is high (bit 12: the backlight,
    // lit by a low pin), as invert=LINE+LINE names them.
    std::uint32_t inverted = 0;
    bool backlightOn = true;

    // The mapping text that gives this device: "/dev/i2c-1@0x27", with the pin
    // map and invert= where they are not the chip's common ones.
    std::string MappingText(const ExpanderChip& chip) const;

    // "RS=P0, RW=P1, E0=P2, backlight P3 on, D4..D7=P4..P7; 4-bit only, no E1".
    std::string WiringText(const ExpanderChip& chip) const;
    PortWiring Wiring(const ExpanderChip& chip) const;
    PortWiring Wiring(const ExpanderChip& chip, bool withText) const;
    // The level of each pin for these lines: the data pins high while the data
    // lines are inputs (a quasi-bidirectional pin reads what drives it then);
    // unused pins high, as at power-on.
    std::uint16_t PinsOf(const ExpanderChip& chip, const LineLevels& lines) const;
    // The pins that carry data lines.
    std::uint16_t DataPins(const ExpanderChip& chip) const;
    // The data lines pins read give; unwired ones read 1, as the pull-ups make them.
    std::uint8_t DataOf(const ExpanderChip& chip, std::uint16_t pins) const;
};

// Reads "/dev/i2c-N@ADDR[:LINE=PIN,...][,invert=LINE+LINE][,backlight=on|off]";
// a pin map of its own replaces the whole common one, and BL may name several
// pins (an RGB backlight). nullopt with the usage error in `error`.
std::optional<ExpanderDevice> ParseExpanderDevice(const ExpanderChip& chip, std::string_view text,
                                                  std::string& error);

// One expander as the back-end of one Port list entry. Made by Open below: the
// bus opened, its abilities checked, the address claimed and the chip greeted;
// what fails is told once with the fix, and its writes are then dropped. A
// device that goes away mid-run (the USB bridge unplugged) is reported lost:
// at ENODEV, or after three transfers in a row that nothing acknowledged.
class ExpanderPort final : public PortBackend {
public:
    ExpanderPort(const ExpanderChip& chip, ExpanderDevice device, const OpenRequest& request);
    ~ExpanderPort() override;
    ExpanderPort(const ExpanderPort&) = delete;
    ExpanderPort& operator=(const ExpanderPort&) = delete;

    // A port of `chip`, opened.
    static std::unique_ptr<PortBackend> Open(const ExpanderChip& chip, const ExpanderDevice& device,
                                             const OpenRequest& request);

    std::string Describe() const override;
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t) const override { return device_.Wiring(chip_); }

private:
    void Connect();
    std::string Where() const;  // "the PCF8574 at 0x27 on /dev/i2c-1"
    void ReportTransferFailure(bool reading, int error);

    const ExpanderChip& chip_;
    ExpanderDevice device_;
    I2cDevice i2c_;
    std::uint32_t base_;
    TransportContext& context_;
    bool reached_ = false;
    bool lost_ = false;
    int failuresInARow_ = 0;
    PinState found_;                // the pins as the greeting found them
    std::optional<PinState> pins_;  // what the pins hold, once a write went through
};

// The functions of an expander kind's row: its mappings read, wired and opened by `kChip`.
template <const ExpanderChip& kChip>
struct ExpanderRow {
    static std::optional<ExpanderDevice> Parse(std::string_view text, std::string& error) {
        return ParseExpanderDevice(kChip, text, error);
    }
    static PortWiring Wiring(const ExpanderDevice& device) { return device.Wiring(kChip); }
    static std::unique_ptr<PortBackend> Open(const ExpanderDevice& device,
                                             const OpenRequest& request) {
        return ExpanderPort::Open(kChip, device, request);
    }
};

// The row of an expander kind.
template <const ExpanderChip& kChip>
constexpr Transport MakeExpanderTransport(std::string_view name, std::string_view help,
                                          const TransportProbe* probe) {
    using Row = ExpanderRow<kChip>;
    return MakeTransport<ExpanderDevice, Row::Parse, Row::Wiring, Row::Open>(name, kI2cBusPrefix,
                                                                             help, probe);
}
