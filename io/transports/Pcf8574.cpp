// A module on a PCF8574 (or PCF8574A) I2C backpack, reached through i2c-dev
// (/dev/i2c-N). The common backpack wires the expander's eight pins like this:
//
//   PCF8574 pin      module line              module pin
//   P0  (pin 4)      RS                       4
//   P1  (pin 5)      RW                       5
//   P2  (pin 6)      E (the tool's E0)        6
//   P3  (pin 7)      backlight                16 (K), switched by a transistor
//   P4  (pin 9)      D4                       11
//   P5  (pin 10)     D5                       12
//   P6  (pin 11)     D6                       13
//   P7  (pin 12)     D7                       14
//   A0..A2 (1..3)    address jumpers          -
//
//   --port-map 0x378=/dev/i2c-1@0x27
//   --port-map 0x378=/dev/i2c-1@0x3F:D7=P0,D6=P1,D5=P2,D4=P3,BL=P4,E0=P5,RW=P6,RS=P7
//
// D0..D3 (module pins 7..10) and a second enable (E1) are not wired: the
// backpack drives a module of one controller on the 4-bit bus only. The
// expander and the module share one supply, so reading the module is safe.
//
// The pins are quasi-bidirectional: one written high is an input that reads
// what drives it. Every change of a pin is one SMBus "send byte" carrying all
// eight pins, and a read is one "receive byte": the same single-byte transfers
// on the wire as a plain write(2) and read(2), but taken by SMBus-only
// adapters too.

#include <linux/i2c.h>

#include "io/I2cExpander.h"
#include "io/Transport.h"

namespace {

constexpr std::string_view kPins[] = {"P0", "P1", "P2", "P3", "P4", "P5", "P6", "P7"};

int Greet(I2cDevice& device, PinState& found) {
    std::uint8_t pins = 0;
    const int result = device.ReceiveByte(pins);
    found = {pins, 0};
    return result;
}

// A pin written high is an input already.
int Write(I2cDevice& device, const PinState& now, const std::optional<PinState>&) {
    return device.SendByte(static_cast<std::uint8_t>(now.levels));
}

int Read(I2cDevice& device, std::uint16_t, std::uint16_t& levels) {
    std::uint8_t pins = 0;
    const int result = device.ReceiveByte(pins);
    levels = pins;
    return result;
}

constexpr ExpanderChip kPcf8574 = {
    .name = "PCF8574",
    .pins = 8,
    .pinNames = kPins,
    .pinRange = "P0..P7",
    .pinForm = "Pn",
    // RS, RW, E0, the backlight, D4..D7 (the table above).
    .common = {{10, 9, 8, ExpanderPins::kBacklight, 4, 5, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1}},
    .commonInverted = 0,
    .example = "/dev/i2c-1@0x27",
    .mapExample = "RS=P0,RW=P1,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7",
    .addresses =
        "a PCF8574 is at 0x20..0x27, a PCF8574A at 0x38..0x3F; the solder jumpers "
        "A0..A2 set the low bits",
    .quasiBidirectional = true,
    .functions = I2C_FUNC_SMBUS_READ_BYTE | I2C_FUNC_SMBUS_WRITE_BYTE,
    .functionsText =
        "send and receive single bytes (SMBus send byte and receive byte), which "
        "a PCF8574 needs",
    .greet = Greet,
    .write = Write,
    .read = Read,
    .pullUps = nullptr,
    .registerWalk = 0,
    .addressRanges = {{{0x20, 0x27}, {0x38, 0x3F}}},
};

constexpr int kNone = ExpanderPins::kNone, kBacklight = ExpanderPins::kBacklight;

// By pin, P0 first: a module line's LineSet bit (RS 10, RW 9, E0 8, D4..D7 4..7) or BL.
constexpr KnownWiring kKnown[] = {
    {"common backpack wiring",
     "most PCF8574 and PCF8574A backpacks sold (boards marked LCM1602 IIC, FC-113 or YwRobot), "
     "the table above",
     kPcf8574.common, 0},
    {"backpack wiring with E on P0",
     "backpacks documented with E and RS swapped against the common one (E=P0, RS=P2)",
     {{8, 9, 10, kBacklight, 4, 5, 6, 7, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone}},
     0},
    {"backpack wiring with D4..D7 on P0..P3",
     "backpacks marked mjkdz, as their users document them: D4..D7=P0..P3, E=P4, RW=P5, RS=P6, "
     "backlight P7 lit by a low pin",
     {{4, 5, 6, 7, 8, 9, 10, kBacklight, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone}},
     1u << kBacklight},
};

constexpr TransportProbe kProbe{kPcf8574, kKnown};

}  // namespace

extern const Transport kPcf8574Transport = MakeExpanderTransport<kPcf8574>(
    "pcf8574",
    "/dev/i2c-N@ADDR[:LINE=Pn,...][,invert=LINE+LINE][,backlight=on|off]: a PCF8574 I2C "
    "backpack at ADDR, for example /dev/i2c-1@0x27, wired RS=P0, RW=P1, E0=P2, BL=P3 "
    "(backlight), D4..D7=P4..P7 unless LINE=Pn items give the whole pin map; invert= names "
    "lines a low pin drives high (invert=BL: a backlight lit by a low pin)",
    &kProbe);
