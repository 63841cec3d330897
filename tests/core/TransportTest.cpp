// The transports over the fake kernel. First what every kind of port in the
// table of transports must do, checked row by row: a mapping it cannot read
// refused with the reason, its kind named or not alike, the wiring the
// simulated module hangs on equal to the opened port's, runs and Verify the
// wiring cannot carry refused before any request, and a device that goes away
// told once, the run stopped and the next one refused. Then the GPIO chip and
// the PCF8574 backpack side by side: the mappings read or refused, the requests
// each wiring makes, the first cycles of a run, the runs a wiring cannot carry,
// and each failure told once. (Each expander's module pins: SimulatedI2cBusTest,
// where a run and Verify reach a module.)
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "io/PortChoice.h"
#include "lcd/Geometry.h"
#include "lcd/TestRun.h"
#include "lcd/Verify.h"
#include "support/KernelBench.h"

namespace {

// What one kind needs to be checked.
struct Sample {
    std::string_view kind;
    std::string fourBit;  // a 4-bit wiring with RW, read back safely
    std::string noRW;     // a 4-bit wiring without RW
    std::string bad;      // a device text the kind cannot read
    std::string badError;
    std::string gone;  // the lost message once the device in `fourBit` goes away
};

void PrintTo(const Sample& sample, std::ostream* os) {
    *os << sample.kind;
}

const Sample kSamples[] = {
    {"gpio", "/dev/gpiochip0:RS=7,RW=22,E0=8,D4=25,D5=24,D6=23,D7=18,reads=safe",
     "/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18", "/dev/gpiochip0:RS=7,E0=4294967296",
     "\"E0=4294967296\": the line offset must be a number, for example E0=7",
     "the GPIO chip /dev/gpiochip0 went away (No such device): the run stopped; plug it back in "
     "and start lcdtest again"},
    {"pcf8574", "/dev/i2c-1@0x27", "/dev/i2c-1@0x27:RS=P0,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7",
     "/dev/i2c-1@0x27:RS=P8", "\"P8\" is no PCF8574 pin: expected P0..P7",
     "the PCF8574 at 0x27 on /dev/i2c-1 is gone (No such device): the run stopped — plug the USB "
     "bridge back in or check the backpack's wiring and power, then start lcdtest again"},
    {"mcp23008", "/dev/i2c-1@0x20:RW=GP0,RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7",
     "/dev/i2c-1@0x20", "/dev/i2c-1@0x20:RS=P1", "\"P1\" is no MCP23008 pin: expected GP0..GP7",
     "the MCP23008 at 0x20 on /dev/i2c-1 is gone (No such device): the run stopped — plug the "
     "USB bridge back in or check the backpack's wiring and power, then start lcdtest again"},
    {"mcp23017", "/dev/i2c-1@0x20",
     "/dev/i2c-1@0x20:RS=GPB7,E0=GPB5,D4=GPB4,D5=GPB3,D6=GPB2,D7=GPB1", "/dev/i2c-1@0x20:RS=GPC1",
     "\"GPC1\" is no MCP23017 pin: expected GPA0..GPA7, GPB0..GPB7",
     "the MCP23017 at 0x20 on /dev/i2c-1 is gone (No such device): the run stopped — plug the "
     "USB bridge back in or check the backpack's wiring and power, then start lcdtest again"},
};

class TransportTest : public ::testing::TestWithParam<Sample>, protected KernelBench {
protected:
    // "KIND:DEVICE": `device` with the sample's kind named.
    static std::string Named(const std::string& device) {
        return std::string(GetParam().kind) + ":" + device;
    }
};

TEST(Transports, EveryKindThatOpensAPortHasASample) {
    for (const Transport* kind : Transports()) {
        const bool sampled = std::any_of(std::begin(kSamples), std::end(kSamples),
                                         [&](const Sample& s) { return s.kind == kind->name; });
        EXPECT_EQ(sampled, kind->open != nullptr) << kind->name;
    }
}

// Refused with the reason when it does not read; read alike without its kind
// where its device's name picks it; the simulated module's wiring is the
// opened port's.
TEST_P(TransportTest, ReadsItsMappingsOnceAndWiresTheSimulatedModuleAlike) {
    const Sample& s = GetParam();
    std::vector<PortMapping> map;
    EXPECT_EQ(AddPortMapping(map, "0x378=" + Named(s.bad)),
              "--port-map 0x378=" + Named(s.bad) + ": " + s.badError);
    ASSERT_EQ(AddPortMapping(map, "0x378=" + Named(s.fourBit)), "");
    ASSERT_EQ(map.front().kind->name, s.kind);
    if (TransportNamed(s.fourBit).kind == map.front().kind) {
        std::vector<PortMapping> unnamed;
        ASSERT_EQ(AddPortMapping(unnamed, "0x378=" + s.fourBit), "");
        EXPECT_EQ(unnamed.front().kind->wiring(unnamed.front().config),
                  map.front().kind->wiring(map.front().config));
    }
    Use(Named(s.fourBit));
    const PortWiring real = timeline.io.Wiring(0x378);
    EXPECT_EQ(map.front().kind->wiring(map.front().config), real);
    EXPECT_EQ(real.wired, ControlLines(kLineRS | kLineRW | kLineE0) | DataLines(kHighDataNibble));
    EXPECT_EQ(Told(), "");
}

// What the wiring lacks refuses the run or Verify that needs it, each told
// with the wiring as the start-up line shows it, and no request goes out.
TEST_P(TransportTest, RefusesWhatItsWiringCannotCarry) {
    const Sample& s = GetParam();
    Use(Named(s.noRW));
    const std::string has = "the wiring of 0x378 (" + timeline.io.Wiring(0x378).text + ")";
    const std::size_t opened = sys->requests.size();
    std::vector<std::string> told;
    timeline.io.Log().SetSink([&](const std::string& m) { told.push_back(m); });
    timeline.events.clear();
    const TestRunRecord sent{kSize16x2, {}, {}, BusWidth::Four, {}};
    RunA(kSize16x2, BusWidth::Eight);
    RunA(kSize40x4, BusWidth::Four);
    VerifyModule(driver, panel, timeline, sent);
    EXPECT_EQ(told, (std::vector<std::string>{
                        "Init 8-bit needs D0..D3, which " + has + " lacks: use Init 4-bit",
                        "40x4 needs E1 for its second controller, which " + has +
                            " lacks: wire E1, or test a size with one controller",
                        "Verify needs RW to read the module, which " + has +
                            " lacks: wire the module's RW to the port instead of to ground"}));
    EXPECT_TRUE(timeline.events.empty());
    EXPECT_EQ(sys->requests.size(), opened);
}

// Gone mid-run: told once, the run stops, nothing more is asked of it, and the
// next run and Verify are refused with the same message before any write, each
// refusal told again. The bring-up under way ends (its writes are dropped); no
// cycle of the run itself follows, and no rest: the lines stay as they are.
TEST_P(TransportTest, ADeviceThatGoesAwayIsToldOnce) {
    const Sample& s = GetParam();
    Use(Named(s.fourBit));
    sys->fates = "+++-";
    std::vector<std::string> told;  // as the dialog hears it
    timeline.io.Log().SetSink([&](const std::string& m) { told.push_back(m); });
    timeline.events.clear();
    const TestRunRecord sent = RunA(kSize16x2, BusWidth::Four);
    EXPECT_EQ(sent.stopped, s.gone);
    ExpectedBus bringUp;
    bringUp.Init(true, 0);
    EXPECT_EQ(timeline.events, bringUp.events);
    timeline.events.clear();
    const std::size_t asked = sys->requests.size();
    EXPECT_EQ(RunA(kSize16x2, BusWidth::Four).refusal, s.gone);
    const std::string unread = "Verify cannot read: " + s.gone;
    EXPECT_EQ(VerifyModule(driver, panel, timeline, sent).Summary(), unread);
    EXPECT_TRUE(timeline.events.empty());
    EXPECT_EQ(sys->requests.size(), asked);
    EXPECT_EQ(sys->failed, 1);
    EXPECT_EQ(Told(), s.gone);
    EXPECT_EQ(told, (std::vector<std::string>{s.gone, s.gone, unread}));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, TransportTest, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                             return std::string(info.param.kind);
                         });

// The 4-bit wiring on a Raspberry Pi header; all twelve lines with E1 and D3
// through inverting buffers; the 4-bit lines in another order with RW.
const std::string kFourBit = "/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18";
const std::string kFull =
    "/dev/gpiochip0:RS=7,RW=22,E0=8,E1=27,D0=5,D1=6,D2=13,D3=19,D4=25,D5=24,D6=23,D7=18,"
    "invert=E1+D3,reads=safe";
const std::string kReordered = "/dev/gpiochip0:D7=18,D6=23,D5=24,D4=25,E0=0,RW=4,RS=7,invert=E0+RS";
const std::string kFourBitShown =
    "the GPIO chip /dev/gpiochip0 (RS=7, E0=8, D4=25, D5=24, D6=23, D7=18; 4-bit only, no E1, "
    "no RW: no Verify)";
// The common backpack, and one wired without RW.
const std::string kBackpack = "/dev/i2c-1@0x27";
const std::string kBackpackNoRW = "/dev/i2c-1@0x27:RS=P4,E0=P5,D4=P0,D5=P1,D6=P2,D7=P3";
const std::string kBackpackShown =
    "the PCF8574 at 0x27 on /dev/i2c-1 (RS=P0, RW=P1, E0=P2, backlight P3 on, D4..D7=P4..P7; "
    "4-bit only, no E1)";

// Every fault in a mapping is a usage error that names it: "DEVICE: WHY".
TEST(GpioPcf8574Mapping, MappingsThatDoNotReadAreRefusedWithTheReason) {
    const std::string example = ", for example " + kFourBit;
    const std::string cases[] = {
        "/dev/gpiochip0: nothing wired: name the lines and their offsets" + example,
        "/dev/gpiochipA:RS=7: bad GPIO chip \"/dev/gpiochipA\": expected /dev/gpiochipN" + example +
            ", or the chip's label (gpio:LABEL:...) or gpio:pi-header:...",
        "/dev/gpiochip0:RS=7,E=8: unknown line \"E\": name D0..D7, E0, E1, RS or RW as "
        "LINE=OFFSET, then if need be invert=LINE+LINE and reads=safe",
        "/dev/gpiochip0:RS=7,RS=8: RS is named twice",
        "/dev/gpiochip0:RS=7,E0=7: offset 7 is given to both RS and E0",
        "/dev/gpiochip0:RS=7,reads=yes: \"reads=yes\": reads= takes only safe (reads=safe)",
        "/dev/gpiochip0:RS=7,invert=E1+RS: invert= names E1, which the mapping does not wire",
        "/dev/gpiochip0:RS=7,invert=RS+E: invert=RS+E: unknown line \"E\"; the lines are D0..D7, "
        "E0, E1, RS and RW",
        "/dev/i2c-1: expected /dev/i2c-N@ADDRESS, for example /dev/i2c-1@0x27",
        "/dev/i2c-@0x27: /dev/i2c- is no I2C bus: expected /dev/i2c-N@ADDRESS, for example "
        "/dev/i2c-1@0x27",
        "/dev/i2c-1@27: \"27\" is no device address: give it in hex, for example @0x27 (as "
        "i2cdetect shows it)",
        "/dev/i2c-1@0x78: 0x78 is outside the device addresses 0x03..0x77",
        "/dev/i2c-1@0x27:RS=P0,RS=P1: RS is named twice",
        "/dev/i2c-1@0x27:RS=P0,E0=P0: P0 is named twice, for RS and E0",
        "/dev/i2c-1@0x27:EN=P2: unknown line \"EN\": expected D0..D7, E0, E1, RS, RW or BL (the "
        "backlight)",
        "/dev/i2c-1@0x27:RS: \"RS\" is neither LINE=Pn nor backlight=on|off, for example "
        "/dev/i2c-1@0x27:RS=P0,RW=P1,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7",
        "/dev/i2c-1@0x27,backlight=dim: backlight=dim: expected backlight=on or backlight=off",
        "/dev/i2c-1@0x27:RS=P0,E0=P2,D4=P4,D5=P5,D6=P6,D7=P7,backlight=off: backlight=off needs "
        "the backlight's pin: add BL=Pn to the map",
    };
    for (const std::string& error : cases) {
        std::vector<PortMapping> map;
        EXPECT_EQ(AddPortMapping(map, "0x378=" + error.substr(0, error.find(": "))),
                  "--port-map 0x378=" + error);
        EXPECT_TRUE(map.empty());
    }
}

// Each wiring as the start-up line shows it, and every request of the opening,
// a data write, one read of the data register, the data lines turned around
// with a write meanwhile and back, and every line to rest: the data lines,
// then RS, each a set of the lines that change or a send byte of all eight
// pins (an inverted line rests high). A GPIO turn-around moves no output:
// the other lines' values go with it. The backpack drives the data pins high
// before RW rises and while the lines are inputs, whatever the latch. What is
// read comes back at the module's levels, an unwired data line as 1. A
// backpack found with E high (0x1E holds P2) first lowers E alone.
TEST(GpioPcf8574, EachWiringPutsTheLinesOnItsPins) {
    struct Case {
        std::string device;
        std::uint32_t drives;  // the module's levels: by GPIO offset, or on the expander's pins
        std::string shown;     // after "using 0x378 on "
        std::string requests;
        int read;
    };
    const Case cases[] = {
        {kFull, 1u << 5 | 1u << 19 | 1u << 23,
         "the GPIO chip /dev/gpiochip0 (RS=7, RW=22, E0=8, E1=27 inverted, D0=5, D1=6, D2=13, "
         "D3=19 inverted, D4=25, D5=24, D6=23, D7=18)",
         "info, request lcdtest 5=0 6=0 13=0 19=1 25=0 24=0 23=0 18=0 8=0 22=0 7=0 27=1, "
         "set 6=1 19=0 25=1 23=1, set 7=1, "
         "config 5=up 6=up 13=up 19=up 25=up 24=up 23=up 18=up 8=0 22=0 7=1 27=1, set 22=1, "
         "set 8=1, get 5=1 6=0 13=0 19=1 25=0 24=0 23=1 18=0, set 8=0, set 22=0, "
         "config 5=0 6=1 13=0 19=0 25=1 24=0 23=1 18=0 8=0 22=0 7=1 27=1, "
         "config 5=up 6=up 13=up 19=up 25=up 24=up 23=up 18=up 8=0 22=0 7=1 27=1, "
         "config 5=1 6=1 13=0 19=1 25=0 24=0 23=1 18=1 8=0 22=0 7=1 27=1, "
         "set 5=0 6=0 23=0 18=0, set 7=0",
         0x41},
        {kReordered, 1u << 23,
         "the GPIO chip /dev/gpiochip0 (RS=7 inverted, RW=4, E0=0 inverted, D4=25, D5=24, D6=23, "
         "D7=18; 4-bit only, no E1, no Verify without reads=safe)",
         "info, request lcdtest 25=0 24=0 23=0 18=0 0=1 4=0 7=1, set 25=1 23=1, set 7=0, "
         "config 25=up 24=up 23=up 18=up 0=1 4=0 7=0, set 4=1, set 0=0, get 25=0 24=0 23=1 18=0, "
         "set 0=1, set 4=0, config 25=1 24=0 23=1 18=0 0=1 4=0 7=0, "
         "config 25=up 24=up 23=up 18=up 0=1 4=0 7=0, config 25=0 24=0 23=1 18=1 0=1 4=0 7=0, "
         "set 23=0 18=0, set 7=1",
         0x4F},
        // P0 RS, P1 RW, P2 E, P3 the backlight, P4..P7 D4..D7.
        {kBackpack, 0x1E, kBackpackShown,
         "funcs, address 0x27, receive, FB, 58, 59, F9, FB, FF, receive, FB, F9, 59, F9, C9, 09, "
         "08",
         0x1F},
        // Reversed, as some backpacks are: a map of its own replaces the whole common one.
        {"/dev/i2c-10@0x3F:D7=P0,D6=P1,D5=P2,D4=P3,BL=P4,E0=P5,RW=P6,RS=P7,backlight=off", 0x1E,
         "the PCF8574 at 0x3F on /dev/i2c-10 (D7=P0, D6=P1, D5=P2, D4=P3, backlight P4 off, E0=P5, "
         "RW=P6, RS=P7; 4-bit only, no E1)",
         "funcs, address 0x3F, receive, 0A, 8A, 8F, CF, EF, receive, CF, 8F, 8A, 8F, 83, 80, 00",
         0x7F},
        // Pins left unused stay high, as at power-on.
        {kBackpackNoRW, 0x1E,
         "the PCF8574 at 0x27 on /dev/i2c-1 (D4..D7=P0..P3, RS=P4, E0=P5; 4-bit only, no E1, "
         "no RW: no Verify)",
         "funcs, address 0x27, receive, C5, D5, DF, FF, receive, DF, D5, DF, DC, D0, C0", 0xEF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        KernelBench b;
        b.sys->gpio.moduleDrives = c.drives;
        b.sys->smbus.moduleDrives = static_cast<std::uint8_t>(c.drives);
        EXPECT_EQ(b.Use(c.device), "using 0x378 on " + c.shown);
        DlPortWritePortUchar(kDataRegister, 0x5A);
        const auto read = b.driver.ReadPulses(ModuleDriver::Register::Data, 1, 0);
        b.panel.OnDataInput();
        DlPortWritePortUchar(kDataRegister, 0xC3);
        b.panel.OnDataOutput();
        b.panel.ReturnToRest();
        EXPECT_EQ(Joined(b.sys->requests, ", "), c.requests);
        EXPECT_EQ(read, (std::vector<std::optional<std::uint8_t>>{c.read}));
        EXPECT_EQ(b.Told(), "");
    }
}

// Verify over GPIO without reads=safe is refused before any request (what
// every kind refuses for lines it lacks: RefusesWhatItsWiringCannotCarry).
TEST(GpioPcf8574, VerifyOverGpioWaitsForSafeReads) {
    KernelBench b;
    b.Use(kReordered);
    const std::vector<std::string> opened = b.sys->requests;
    const TestRunRecord sent{kSize16x2, {}, {}, BusWidth::Four, {}};
    EXPECT_EQ(VerifyModule(b.driver, b.panel, b.timeline, sent).Summary(),
              "Verify cannot read through the wiring of 0x378 (RS=7 inverted, RW=4, E0=0 inverted, "
              "D4=25, D5=24, D6=23, D7=18): 5 V from the module's data lines can damage 3.3 V GPIO "
              "pins; add reads=safe to the mapping once a level shifter or a 3.3 V module makes "
              "reads safe");
    EXPECT_EQ(b.sys->requests, opened);
}

// A chip named by its label, or as the Raspberry Pi's header, is found among
// the chips by the labels they give; none with it is told with what there is.
TEST(GpioPcf8574, AChipIsFoundByItsLabel) {
    const std::string lines = ":RS=7,E0=8,D4=25,D5=24,D6=23,D7=18";
    const std::pair<std::string, std::string> cases[] = {
        {"gpio:fake-gpio" + lines,
         "using 0x378 on the GPIO chip /dev/gpiochip1 labelled fake-gpio (RS=7, E0=8, D4=25, "
         "D5=24, D6=23, D7=18; 4-bit only, no E1, no RW: no Verify)"},
        {"gpio:pi-header" + lines,
         "no Raspberry Pi header here: no GPIO chip is labelled pinctrl-bcm2835, pinctrl-bcm2711 "
         "or pinctrl-rp1 (the chips: /dev/gpiochip1 (fake-gpio), /dev/gpiochip3 (fake-gpio)) — "
         "fix the mapping (gpiodetect lists the chips with their labels)"},
    };
    for (const auto& [mapping, told] : cases) {
        KernelBench b;
        b.sys->dirs["/dev"] = {"gpiochip3", "null", "gpiochip1"};
        const std::string shown = b.Use(mapping);
        EXPECT_EQ(b.Told().empty() ? shown : b.Told(), told);
    }
}

// Each way the hardware cannot be had is told once with its fix: the start-up
// line says its writes are dropped, the descriptor is closed, and runs go on
// without a request. A device that goes away mid-run (a USB bridge unplugged)
// is lost: told once, the run stops, nothing more is asked of it and the next
// run is refused with the same message. Another failure is told once, and the
// port goes on.
TEST(GpioPcf8574, EachFailureIsToldOnceWithItsFix) {
    enum Outcome { Unreached, Lost, GoesOn };
    struct Case {
        std::string device;
        std::function<void(FakeKernel&)> plant;
        Outcome outcome;
        std::string told;  // every problem, one a line; a lost port's message last
        int refused = 0;   // transfers the planted failure refused
    };
    using K = FakeKernel;
    const auto fails = [](const char* fates, int error) {
        return [=](K& k) {
            k.fates = fates;
            k.failure = error;
        };
    };
    const auto ioctlFails = [](const char* path, unsigned long request, int error) {
        return [=](K& k) { k.ioctlErrors[{path, request}] = error; };
    };
    // The node is not there; /dev holds `found`.
    const auto missing = [](const char* path, std::vector<std::string> found) {
        return [=](K& k) {
            k.errors[path] = -ENOENT;
            k.dirs["/dev"] = found;
        };
    };
    const char* chip = "/dev/gpiochip0";
    const char* bus = "/dev/i2c-1";
    const std::string gone =
        ": the run stopped — plug the USB bridge back in or check the "
        "backpack's wiring and power, then start lcdtest again";
    const Case cases[] = {
        {kFourBit, missing(chip, {"gpiochip10", "null", "gpiochip2", "gpiochipx"}), Unreached,
         "cannot open /dev/gpiochip0: No such file or directory — no such GPIO chip (found under "
         "/dev: /dev/gpiochip2, /dev/gpiochip10; gpiodetect names them)"},
        {kFourBit, missing(chip, {"null", "parport0"}), Unreached,
         "cannot open /dev/gpiochip0: No such file or directory — no GPIO chip under /dev: load "
         "the driver of the board's or the USB bridge's GPIO chip (dmesg shows what the kernel "
         "found)"},
        {kFourBit, [&](K& k) { k.errors[chip] = -EACCES; }, Unreached,
         "cannot open /dev/gpiochip0: Permission denied — add your user to group gpio (sudo "
         "usermod -aG gpio $USER) and log in again; if the chip's node is not in group gpio, "
         "install the udev rule 60-gpio.rules from the tool's documents in /etc/udev/rules.d/"},
        {kFourBit, [](K& k) { k.gpio.lines = 24; }, Unreached,
         "a line offset the chip lacks: D4=25, D5=24 (/dev/gpiochip0, fake-gpio, has 24 lines, "
         "offsets 0 to 23) — fix the mapping (gpioinfo /dev/gpiochip0 lists the lines)"},
        {kFourBit,
         [](K& k) {
             k.gpio.heldBy = {{7, "spi0 CS1"}, {8, ""}, {9, "held"}};
         },
         Unreached,
         "cannot take the lines of /dev/gpiochip0: Device or resource busy — another program or "
         "driver holds RS=7 (\"spi0 CS1\"), E0=8: close it, or free the line (gpioinfo shows who "
         "holds each line)"},
        {kFourBit, ioctlFails(chip, GPIO_GET_CHIPINFO_IOCTL, -ENOTTY), Unreached,
         "cannot ask /dev/gpiochip0 for its lines: Inappropriate ioctl for device — is it a GPIO "
         "chip? (dmesg)"},
        {kBackpack,
         [&](K& k) {
             missing(bus, {"i2c-10", "null", "i2c-7"})(k);
             k.files["/sys/bus/i2c/devices/i2c-7/name"] = "SMBus I801 adapter at efa0\n";
             k.files["/sys/bus/i2c/devices/i2c-10/name"] = "CP2112 SMBus Bridge on hidraw0\n";
         },
         Unreached,
         "cannot open /dev/i2c-1: No such file or directory — the I2C buses here are /dev/i2c-7 "
         "(SMBus I801 adapter at efa0), /dev/i2c-10 (CP2112 SMBus Bridge on hidraw0): map the "
         "one the backpack hangs on"},
        {kBackpack, missing(bus, {"null", "i2c", "i2c-x"}), Unreached,
         "cannot open /dev/i2c-1: No such file or directory — there is no /dev/i2c-* at all: load "
         "the kernel module i2c-dev (sudo modprobe i2c-dev), and plug in the USB I2C bridge if "
         "the backpack hangs on one"},
        {kBackpack, [&](K& k) { k.errors[bus] = -EACCES; }, Unreached,
         "cannot open /dev/i2c-1: Permission denied — add your user to group i2c (sudo groupadd "
         "-f i2c; sudo usermod -aG i2c $USER) and log in again; if the node is not in group i2c, "
         "a udev rule puts it there (the example 60-i2c.rules: KERNEL==\"i2c-[0-9]*\", "
         "SUBSYSTEM==\"i2c-dev\", GROUP=\"i2c\", MODE=\"0660\")"},
        {kBackpack,
         [](K& k) { k.smbus.functions = I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE_DATA; },
         Unreached,
         "the adapter of /dev/i2c-1 cannot send and receive single bytes (SMBus send byte and "
         "receive byte), which a PCF8574 needs: put the backpack on another I2C bus"},
        {kBackpack, ioctlFails(bus, I2C_SLAVE, -EBUSY), Unreached,
         "a kernel driver owns address 0x27 on /dev/i2c-1 (i2cdetect -y 1 shows UU there): "
         "unbind it (echo 1-0027 | sudo tee /sys/bus/i2c/devices/1-0027/driver/unbind), or check "
         "the backpack's address"},
        {kBackpack, fails("-", -ENXIO), Unreached,
         "no device answers at 0x27 on /dev/i2c-1: check the address with i2cdetect -y 1 (a "
         "PCF8574 is at 0x20..0x27, a PCF8574A at 0x38..0x3F; the solder jumpers A0..A2 set the "
         "low bits), and the wiring and power of SDA, SCL, VCC and GND",
         1},
        // ENODEV once the chip is unregistered (ADeviceThatGoesAwayIsToldOnce); a
        // USB bridge may answer EIO first.
        {kFourBit, fails("-", -EIO), Lost,
         "the GPIO chip /dev/gpiochip0 went away (Input/output error): the run stopped; plug it "
         "back in and start lcdtest again",
         1},
        {kFourBit, ioctlFails("lines", GPIO_V2_LINE_GET_VALUES_IOCTL, -EPERM), GoesOn,
         "reading the lines of 0x378 on /dev/gpiochip0 failed: Operation not permitted — check "
         "what the kernel says about the chip (dmesg)"},
        // The backpack is gone at ENODEV (ADeviceThatGoesAwayIsToldOnce), or after
        // three transfers in a row unanswered: two, one that goes through, then three.
        {kBackpack, fails("+--+-", -ENXIO), Lost,
         "sending to the PCF8574 at 0x27 on /dev/i2c-1 failed: No such device or address — the "
         "module did not get it; check the backpack's wiring and power\n"
         "the PCF8574 at 0x27 on /dev/i2c-1 stopped answering (No such device or address)" +
             gone,
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.told);
        KernelBench b;
        c.plant(*b.sys);
        const bool gpio = c.device == kFourBit;
        EXPECT_EQ(b.Use(c.device), "using 0x378 on " + (gpio ? kFourBitShown : kBackpackShown) +
                                       (c.outcome == Unreached ? ", not reached: its writes are "
                                                                 "dropped"
                                                               : ""));
        const std::size_t opened = b.sys->requests.size();
        const std::string lost = c.outcome == Lost ? c.told.substr(c.told.rfind('\n') + 1) : "";
        EXPECT_EQ(b.RunA(kSize16x2, BusWidth::Four).stopped, lost);
        EXPECT_EQ(DlPortReadPortUchar(kDataRegister), std::nullopt);
        const std::size_t first = b.sys->requests.size() - opened;  // what went through
        EXPECT_EQ(b.RunA(kSize16x2, BusWidth::Four).refusal, lost);
        EXPECT_EQ(DlPortReadPortUchar(kDataRegister), std::nullopt);
        EXPECT_EQ(b.Told(), c.told);
        EXPECT_EQ(b.sys->failed, c.refused);
        // Nothing goes through to a port not had or lost; one that goes on asks as before.
        EXPECT_EQ(b.sys->requests.size() - opened - first, c.outcome == GoesOn ? first : 0);
        EXPECT_TRUE(first > 0 || c.outcome != GoesOn);
        // The GPIO chip's lines are let go when it is lost.
        EXPECT_EQ(b.sys->fds.empty(), c.outcome == Unreached || (gpio && c.outcome == Lost));
    }
}

}  // namespace
