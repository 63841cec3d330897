// A module on an MCP23008 I2C expander (an I2C backpack of its own make, or a
// maker's board), reached through i2c-dev (/dev/i2c-N). The backpack most sold
// with one wires its eight pins like this:
//
//   MCP23008 pin     module line              module pin
//   GP0  (pin 10)    not wired                -
//   GP1  (pin 11)    RS                       4
//   GP2  (pin 12)    E (the tool's E0)        6
//   GP3  (pin 13)    D4                       11
//   GP4  (pin 14)    D5                       12
//   GP5  (pin 15)    D6                       13
//   GP6  (pin 16)    D7                       14
//   GP7  (pin 17)    backlight                16 (K), switched by a transistor
//   A0..A2 (3..5)    address jumpers          -
//   RW (module pin 5) to ground: such a module cannot be read.
//
//   --port-map 0x378=mcp23008:/dev/i2c-1@0x20
//   --port-map
//   0x378=mcp23008:/dev/i2c-1@0x20:RW=GP0,RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7
//
// The expander has registers: IODIR (0x00) sets which pins are inputs, OLAT
// (0x0A) what the outputs drive, GPIO (0x09) reads the pins, GPPU (0x06) puts
// pull-ups on inputs (detection's). Each is one SMBus
// "write byte data" or "read byte data". The outputs' levels go out before
// pins turn into outputs, and pins turn into inputs before other levels
// change, so no pin drives a level it should not even for one transfer.

#include <linux/i2c.h>

#include "io/I2cExpander.h"
#include "io/Transport.h"

namespace {

constexpr std::string_view kPins[] = {"GP0", "GP1", "GP2", "GP3", "GP4", "GP5", "GP6", "GP7"};
constexpr std::uint8_t kIodir = 0x00, kGppu = 0x06, kGpio = 0x09, kOlat = 0x0A;
constexpr int kNone = ExpanderPins::kNone, kBacklight = ExpanderPins::kBacklight;

int Greet(I2cDevice& device, PinState& found) {
    std::uint8_t directions = 0;
    const int result = device.ReadByteData(kIodir, directions);
    found = {0xFF, directions};
    return result;
}

int Write(I2cDevice& device, const PinState& now, const std::optional<PinState>& before) {
    const auto levels = static_cast<std::uint8_t>(now.levels);
    const auto inputs = static_cast<std::uint8_t>(now.inputs);
    const bool levelsChange = !before || before->levels != now.levels;
    const bool inputsChange = !before || before->inputs != now.inputs;
    // Pins that become outputs get their levels first.
    const bool levelsFirst = !before || (before->inputs & ~now.inputs);
    int result = 0;
    if (levelsFirst && levelsChange) result = device.WriteByteData(kOlat, levels);
    if (result >= 0 && inputsChange) result = device.WriteByteData(kIodir, inputs);
    if (result >= 0 && !levelsFirst && levelsChange) result = device.WriteByteData(kOlat, levels);
    return result;
}

int Read(I2cDevice& device, std::uint16_t, std::uint16_t& levels) {
    std::uint8_t pins = 0;
    const int result = device.ReadByteData(kGpio, pins);
    levels = pins;
    return result;
}

int PullUps(I2cDevice& device, std::uint16_t pins) {
    return device.WriteByteData(kGppu, static_cast<std::uint8_t>(pins));
}

constexpr ExpanderChip kMcp23008 = {
    .name = "MCP23008",
    .pins = 8,
    .pinNames = kPins,
    .pinRange = "GP0..GP7",
    .pinForm = "GPn",
    .common = {{kNone, 10, 8, 4, 5, 6, 7, kBacklight, kNone, kNone, kNone, kNone, kNone, kNone,
                kNone, kNone}},
    .commonInverted = 0,
    .example = "/dev/i2c-1@0x20",
    .mapExample = "RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7",
    .addresses = "an MCP23008 is at 0x20..0x27; the pins A0..A2 set the low bits",
    .quasiBidirectional = false,
    .functions = I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA,
    .functionsText =
        "read and write byte registers (SMBus read byte data and write byte data), "
        "which an MCP23008 needs",
    .greet = Greet,
    .write = Write,
    .read = Read,
    .pullUps = PullUps,
    .registerWalk = 11,
    .addressRanges = {{{0x20, 0x27}, {0x20, 0x27}}},
};

constexpr KnownWiring kKnown[] = {
    {"common backpack wiring",
     "the I2C/SPI character LCD backpack sold by Adafruit (product 292), as its schematic and "
     "its maker's driver give it; RW to ground",
     kMcp23008.common, 0},
};

constexpr TransportProbe kProbe{kMcp23008, kKnown};

}  // namespace

extern const Transport kMcp23008Transport = MakeExpanderTransport<kMcp23008>(
    "mcp23008",
    "mcp23008:/dev/i2c-N@ADDR[:LINE=GPn,...][,invert=LINE+LINE][,backlight=on|off]: an MCP23008 "
    "I2C expander at ADDR, wired RS=GP1, E0=GP2, D4..D7=GP3..GP6, BL=GP7 (RW to ground) unless "
    "LINE=GPn items give the whole pin map",
    &kProbe);
