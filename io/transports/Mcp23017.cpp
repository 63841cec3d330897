// A module on an MCP23017 I2C expander of sixteen pins in two banks, reached
// through i2c-dev (/dev/i2c-N). The RGB LCD plate most sold with one wires it
// like this (bank A also carries the plate's five buttons, which the tool
// leaves alone as inputs):
//
//   MCP23017 pin     module line              module pin
//   GPB7 (pin 8)     RS                       4
//   GPB6 (pin 7)     RW                       5
//   GPB5 (pin 6)     E (the tool's E0)        6
//   GPB4 (pin 5)     D4                       11
//   GPB3 (pin 4)     D5                       12
//   GPB2 (pin 3)     D6                       13
//   GPB1 (pin 2)     D7                       14
//   GPA6, GPA7, GPB0 backlight red, green, blue: lit by a low pin
//   A0..A2 (15..17)  address jumpers          -
//
//   --port-map 0x378=mcp23017:/dev/i2c-1@0x20
//
// The expander has registers (with IOCON.BANK 0, as it powers up): IODIRA and
// IODIRB (0x00, 0x01) set which pins are inputs, OLATA and OLATB (0x14,
// 0x15) what the outputs drive, GPIOA and GPIOB (0x12, 0x13) read the pins,
// GPPUA and GPPUB (0x0C, 0x0D) put pull-ups on inputs (detection's).
// Each is one SMBus "write byte data" or "read byte data", a bank at a time,
// and only for a bank that changes. Opening it writes 0 to register 0x05,
// which is IOCON where BANK is 1 (so it puts BANK back to 0) and an interrupt
// enable the tool does not use where BANK is 0.

#include <linux/i2c.h>

#include "io/I2cExpander.h"
#include "io/Transport.h"

namespace {

constexpr std::string_view kPins[] = {
    "GPA0", "GPA1", "GPA2", "GPA3", "GPA4", "GPA5", "GPA6", "GPA7",
    "GPB0", "GPB1", "GPB2", "GPB3", "GPB4", "GPB5", "GPB6", "GPB7",
};
// Register addresses by bank (A, B) with IOCON.BANK 0.
constexpr std::uint8_t kIodir[] = {0x00, 0x01}, kGppu[] = {0x0C, 0x0D}, kGpio[] = {0x12, 0x13},
                       kOlat[] = {0x14, 0x15};
constexpr std::uint8_t kIoconWhereBankIsOne = 0x05;
constexpr int kNone = ExpanderPins::kNone, kBacklight = ExpanderPins::kBacklight;

std::uint8_t Bank(std::uint16_t pins, int bank) {
    return static_cast<std::uint8_t>(pins >> (8 * bank));
}

int Greet(I2cDevice& device, PinState& found) {
    std::uint8_t a = 0, b = 0;
    int result = device.WriteByteData(kIoconWhereBankIsOne, 0);
    if (result >= 0) result = device.ReadByteData(kIodir[0], a);
    if (result >= 0) result = device.ReadByteData(kIodir[1], b);
    found = {0xFFFF, static_cast<std::uint16_t>(b << 8 | a)};
    return result;
}

int Write(I2cDevice& device, const PinState& now, const std::optional<PinState>& before) {
    int result = 0;
    for (int bank = 0; bank < 2 && result >= 0; ++bank) {
        const std::uint8_t levels = Bank(now.levels, bank), inputs = Bank(now.inputs, bank);
        const bool levelsChange = !before || Bank(before->levels, bank) != levels;
        const bool inputsChange = !before || Bank(before->inputs, bank) != inputs;
        // Pins that become outputs get their levels first.
        const bool levelsFirst = !before || (Bank(before->inputs, bank) & ~inputs);
        if (levelsFirst && levelsChange) result = device.WriteByteData(kOlat[bank], levels);
        if (result >= 0 && inputsChange) result = device.WriteByteData(kIodir[bank], inputs);
        if (result >= 0 && !levelsFirst && levelsChange)
            result = device.WriteByteData(kOlat[bank], levels);
    }
    return result;
}

int Read(I2cDevice& device, std::uint16_t wanted, std::uint16_t& levels) {
    int result = 0;
    levels = 0xFFFF;
    for (int bank = 0; bank < 2 && result >= 0; ++bank) {
        if (!Bank(wanted, bank)) continue;
        std::uint8_t pins = 0;
        result = device.ReadByteData(kGpio[bank], pins);
        levels = static_cast<std::uint16_t>((levels & ~(0xFF << (8 * bank))) | pins << (8 * bank));
    }
    return result;
}

int PullUps(I2cDevice& device, std::uint16_t pins) {
    int result = 0;
    for (int bank = 0; bank < 2 && result >= 0; ++bank)
        result = device.WriteByteData(kGppu[bank], Bank(pins, bank));
    return result;
}

constexpr ExpanderChip kMcp23017 = {
    .name = "MCP23017",
    .pins = 16,
    .pinNames = kPins,
    .pinRange = "GPA0..GPA7, GPB0..GPB7",
    .pinForm = "GPxn",
    .common = {{kNone, kNone, kNone, kNone, kNone, kNone, kBacklight, kBacklight,  // bank A
                kBacklight, 7, 6, 5, 4, 8, 9, 10}},                                // bank B
    .commonInverted = 1u << kBacklight,
    .example = "/dev/i2c-1@0x20",
    .mapExample = "RS=GPB7,RW=GPB6,E0=GPB5,D4=GPB4,D5=GPB3,D6=GPB2,D7=GPB1,BL=GPB0",
    .addresses = "an MCP23017 is at 0x20..0x27; the pins A0..A2 set the low bits",
    .quasiBidirectional = false,
    .functions = I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA,
    .functionsText =
        "read and write byte registers (SMBus read byte data and write byte data), "
        "which an MCP23017 needs",
    .greet = Greet,
    .write = Write,
    .read = Read,
    .pullUps = PullUps,
    .registerWalk = 22,
    .addressRanges = {{{0x20, 0x27}, {0x20, 0x27}}},
};

constexpr KnownWiring kKnown[] = {
    {"the RGB LCD plate's wiring",
     "the RGB character LCD plate for the Raspberry Pi sold by Adafruit (products 1109, 1110), "
     "as its maker's driver gives it",
     kMcp23017.common, kMcp23017.commonInverted},
};

constexpr TransportProbe kProbe{kMcp23017, kKnown};

}  // namespace

extern const Transport kMcp23017Transport = MakeExpanderTransport<kMcp23017>(
    "mcp23017",
    "mcp23017:/dev/i2c-N@ADDR[:LINE=GPxn,...][,invert=LINE+LINE][,backlight=on|off]: an "
    "MCP23017 I2C expander at ADDR, wired as the RGB LCD plate (RS=GPB7, RW=GPB6, E0=GPB5, "
    "D4..D7=GPB4..GPB1, BL=GPA6+GPA7+GPB0 lit by a low pin) unless LINE=GPxn items give the "
    "whole pin map",
    &kProbe);
