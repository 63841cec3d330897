#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "io/I2cBus.h"
#include "io/PortBackend.h"

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

// One kind of expander, as its transport describes it.
struct ExpanderChip {
    std::string_view name;             // "PCF8574", as messages name it
    int pins;                          // 8 or 16
    const std::string_view* pinNames;  // "P0".."P7", by pin
    std::string_view pinRange;         // "P0..P7"
    std::string_view pinForm;          // "Pn", as a message's LINE=Pn shows it
    ExpanderPins common;               // the wiring a mapping without a pin map gets
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
};

// A mapping's device text read for one chip.
struct ExpanderDevice {
    std::string bus;  // "/dev/i2c-1"
    std::uint32_t busNumber = 0;
    std::uint8_t address = 0;
    ExpanderPins map;
    bool backlightOn = true;

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

// Reads "/dev/i2c-N@ADDR[:LINE=PIN,...][,backlight=on|off]"; a pin map of its
// own replaces the whole common one. nullopt with the usage error in `error`.
std::optional<ExpanderDevice> ParseExpanderDevice(const ExpanderChip& chip, std::string_view text,
                                                  std::string& error);

// One expander as the back-end of one Port list entry. Made by Open below: the
// bus opened, its abilities checked, the address claimed and the chip greeted;
// what fails is told once with the fix, and its writes are then dropped. A
// device that goes away mid-run (the USB bridge unplugged) is reported lost:
// at ENODEV, or after three transfers in a row that nothing acknowledged.
class ExpanderPort : public PortBackend {
public:
    ExpanderPort(const ExpanderChip& chip, ExpanderDevice device, const OpenRequest& request);
    ~ExpanderPort() override;
    ExpanderPort(const ExpanderPort&) = delete;
    ExpanderPort& operator=(const ExpanderPort&) = delete;

    // Makes a port of the chip's type and opens it.
    template <typename Port>
    static std::unique_ptr<PortBackend> Open(const ExpanderChip& chip, const ExpanderDevice& device,
                                             const OpenRequest& request) {
        auto port = std::make_unique<Port>(chip, device, request);
        port->Connect();
        return port;
    }

    std::string Describe() const override;
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t) const override { return device_.Wiring(chip_); }

protected:
    // The chip's own transfers; each returns the first failed transfer's negated
    // errno, or 0. Greet: the first transfer once the address is claimed, which
    // shows that a device answers there.
    virtual int Greet() = 0;
    // Drives the pins not in `inputs` at `levels` and makes `inputs` inputs.
    virtual int WritePins(std::uint16_t levels, std::uint16_t inputs) = 0;
    virtual int ReadPins(std::uint16_t& levels) = 0;

    I2cDevice& Device() { return i2c_; }
    const ExpanderChip& Chip() const { return chip_; }
    const ExpanderDevice& Mapping() const { return device_; }

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
    // What the pins hold, once a write went through: levels, then the inputs.
    std::optional<std::pair<std::uint16_t, std::uint16_t>> pins_;
};
