// The simulated I2C bus over a fake kernel, reached as i2c-dev is (I2cDevice):
// what it hides and shows of the fallback, what an empty address and an
// unplugged device answer, each transfer's bus time, and each expander's
// transfers as the chip takes them, pin for pin and register for register.
// Detection on it, which answers as backpacks on a real bus do: every known
// wiring, many random ones, both backlight polarities, RW to ground, an empty
// bus, an expander without a module, several backpacks, a device gone during
// detection. The real transports, as --port-map opens them, driving backpacks on
// it on virtual time: a run reaches the module's memories as sent and Verify
// passes where the mapping is the backpack's wiring, and fails with its
// diagnosis where it is not; the simulated module shows the backpack of the port
// it hangs on. And --sim-i2c's values, read or refused.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/VirtualClock.h"
#include "io/I2cBus.h"
#include "lcd/Detect.h"
#include "lcd/Geometry.h"
#include "lcd/TestRun.h"
#include "lcd/Verify.h"
#include "sim/SimulatedI2cBus.h"
#include "sim/SimulatedModule.h"
#include "support/FakeKernel.h"
#include "support/LineBench.h"
#include "support/MappedPort.h"
#include "support/RunSources.h"
#include "support/SimulatedBus.h"

namespace {

// A bus with the backpacks of the --sim-i2c values `setups` on it, over a fake
// kernel; its bus time is listed and passes on a virtual clock.
struct BusBench {
    explicit BusBench(const std::vector<std::string>& setups)
        : bus(MakeSimulatedBus(
              setups, clock,
              [this](std::uint64_t micros) {
                  waits.push_back(micros);
                  clock.AdvanceMicros(micros);
              },
              fallback)) {}
    // A device on the bus, opened and claimed as the transports do it.
    std::unique_ptr<I2cDevice> Device(std::uint8_t address) {
        auto device =
            std::make_unique<I2cDevice>(bus, std::string(SimulatedI2cBus::kNode), 1, address);
        EXPECT_GE(device->OpenBus(), 0);
        EXPECT_EQ(device->Claim(), 0);
        return device;
    }
    DetectReport Detect() { return DetectModules(bus, clock, log); }
    // The module's first display line, as many characters as `length`.
    std::string FirstLine(std::uint8_t address, std::size_t length) const {
        const ControllerState& s = bus->At(address)->Module()->Controller(0).State();
        return std::string(s.ddram.begin(), s.ddram.begin() + static_cast<long>(length));
    }

    std::shared_ptr<FakeKernel> fallback = std::make_shared<FakeKernel>();
    VirtualClock clock;
    std::vector<std::uint64_t> waits;
    ProblemLog log;  // detection's
    std::shared_ptr<SimulatedI2cBus> bus;
};

// The real buses give way: /dev and sysfs show this one alone, other nodes are
// not there, and everything else is the fallback's. Requests i2c-dev refuses
// are refused alike.
TEST(SimulatedI2cBus, StandsInForTheRealBuses) {
    BusBench b({});
    b.fallback->dirs["/dev"] = {"null", "i2c-0", "parport0", "i2c-7"};
    b.fallback->files["/sys/bus/i2c/devices/i2c-0/name"] = "SMBus I801 adapter\n";
    const std::vector<I2cBusInfo> buses = ListI2cBuses(*b.bus);
    ASSERT_EQ(buses.size(), 1u);
    EXPECT_EQ(buses[0].node + " " + std::to_string(buses[0].number) + " " + buses[0].adapter,
              "/dev/i2c-1 1 lcdtest simulated I2C bus");
    std::vector<std::string> names;
    EXPECT_EQ(b.bus->ListDirectory("/dev", names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"i2c-1", "null", "parport0"}));
    std::string text;
    EXPECT_EQ(b.bus->ReadFile("/sys/bus/i2c/devices/i2c-0/name", text), -ENOENT);
    EXPECT_EQ(b.bus->Open("/dev/i2c-0", O_RDWR), -ENOENT);
    EXPECT_EQ(b.bus->Open("/dev/parport0", O_RDWR), 3);
    EXPECT_EQ(b.fallback->opened, std::vector<std::string>{"/dev/parport0"});

    const int fd = b.bus->Open("/dev/i2c-1", O_RDWR);
    unsigned long functions = 0;
    EXPECT_EQ(b.bus->Ioctl(fd, I2C_FUNCS, &functions), 0);
    EXPECT_EQ(functions, I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA);
    i2c_smbus_data data{};
    const auto smbus = [&](char readWrite, std::uint32_t size, i2c_smbus_data* with) {
        i2c_smbus_ioctl_data request{static_cast<std::uint8_t>(readWrite), 0, size, with};
        return b.bus->Ioctl(fd, I2C_SMBUS, &request);
    };
    EXPECT_EQ(smbus(I2C_SMBUS_READ, I2C_SMBUS_WORD_DATA, &data), -EOPNOTSUPP);
    EXPECT_EQ(smbus(I2C_SMBUS_READ, 99, &data), -EINVAL);
    EXPECT_EQ(smbus(2, I2C_SMBUS_BYTE, &data), -EINVAL);
    EXPECT_EQ(smbus(I2C_SMBUS_READ, I2C_SMBUS_BYTE, nullptr), -EINVAL);
    EXPECT_EQ(b.bus->Ioctl(fd, I2C_SLAVE, reinterpret_cast<void*>(std::uintptr_t{0x80})), -EINVAL);
    EXPECT_EQ(b.bus->Ioctl(fd, I2C_RDWR, nullptr), -EOPNOTSUPP);
    EXPECT_EQ(b.bus->Ioctl(fd, I2C_PEC, nullptr), -ENOTTY);
    EXPECT_EQ(b.bus->Close(fd), 0);
    EXPECT_EQ(b.bus->Close(fd), -EBADF);  // the fallback never had it
    EXPECT_TRUE(b.waits.empty());
}

// Each transfer's bits at 10 us, waited before it returns and counted per
// address; an empty address takes its address byte alone, an unplugged
// device nothing at all.
TEST(SimulatedI2cBus, AnswersAndBusTime) {
    BusBench b({"0x27=pcf8574", "0x20=mcp23008"});
    const auto pcf = b.Device(0x27), mcp = b.Device(0x20), none = b.Device(0x30);
    std::uint8_t byte = 0;
    struct Case {
        const char* what;
        std::function<int()> transfer;
        int result;
        std::uint64_t micros;
    };
    const Case cases[] = {
        {"send byte", [&] { return pcf->SendByte(0x08); }, 0, 200},
        {"receive byte", [&] { return pcf->ReceiveByte(byte); }, 0, 200},
        {"quick write", [&] { return pcf->Quick(false); }, 0, 110},
        {"write byte data", [&] { return mcp->WriteByteData(0x0A, 1); }, 0, 290},
        {"read byte data", [&] { return mcp->ReadByteData(0x00, byte); }, 0, 390},
        {"nobody there", [&] { return none->ReadByteData(0x00, byte); }, -ENXIO, 110},
        {"unplugged", [&] { return (b.bus->Unplug(0x27), pcf->SendByte(0)); }, -ENODEV, 0},
    };
    for (const Case& c : cases) {
        b.waits.clear();
        EXPECT_EQ(c.transfer(), c.result) << c.what;
        EXPECT_EQ(b.waits, c.micros ? std::vector{c.micros} : std::vector<std::uint64_t>{})
            << c.what;
    }
    using T = SimulatedI2cBus::Traffic;
    EXPECT_EQ(b.bus->TrafficAt(0x27), (T{3, 510}));
    EXPECT_EQ(b.bus->TrafficAt(0x20), (T{2, 680}));
    EXPECT_EQ(b.bus->TrafficAt(0x30), (T{1, 110}));
    EXPECT_EQ(b.bus->Total(), (T{6, 1300}));
    EXPECT_EQ(b.bus->Describe(), "/dev/i2c-1 is simulated, with 0x20=mcp23008 and 0x27=pcf8574");
}

// One step of a script against one device: a transfer, and what it reads (or
// -1); then the pins as they stand and the backlight ('+' lit, '-' dark, ' '
// no backlight pin).
struct Step {
    char op;  // 'S' send byte, 'R' receive byte, 'W' write byte data, 'D' read byte data
    std::uint8_t command;
    int value;  // W: the byte written; R and D: the byte expected
    int pins;   // the pins' levels afterwards, -1 unchecked
    char backlight;
};

void RunScript(const std::string& device, const std::vector<Step>& steps) {
    BusBench b({device});
    SimulatedBackpack& backpack = *b.bus->At(0x20);
    const auto i2c = b.Device(0x20);
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const Step& s = steps[n];
        std::uint8_t read = 0;
        const int result = s.op == 'S'   ? i2c->SendByte(s.command)
                           : s.op == 'R' ? i2c->ReceiveByte(read)
                           : s.op == 'W'
                               ? i2c->WriteByteData(s.command, static_cast<std::uint8_t>(s.value))
                               : i2c->ReadByteData(s.command, read);
        const auto where = ::testing::Message() << device << ", step " << n;
        EXPECT_EQ(result, 0) << where;
        if (s.op == 'R' || s.op == 'D') {
            EXPECT_EQ(read, s.value) << where;
        }
        if (s.pins >= 0) {
            EXPECT_EQ(backpack.PinLevels(), s.pins) << where;
        }
        const auto lit = backpack.Backlight();
        EXPECT_EQ(lit ? (*lit ? '+' : '-') : ' ', s.backlight) << where;
    }
}

// A PCF8574 pin written high reads what drives it: the module's data outputs
// while RW and E are high (at power-on too: all pins high), the backlight
// transistor's base low (an NPN's; a PNP's high), RS and E high from the pin's
// own weak pull-up. A read or write byte data puts its command byte on the
// pins first. A relay board's pins read low unless written low... and low then.
TEST(SimulatedI2cBus, Pcf8574PinsAndLoads) {
    // Common wiring: RS=P0, RW=P1, E0=P2, BL=P3 (lit high), D4..D7=P4..P7. The
    // module powers up on 8 bits reading its data register (0): D4..D7 low.
    RunScript("0x20=pcf8574", {
                                  {'R', 0, 0x07, 0x07, '+'},
                                  {'S', 0x00, -1, 0x00, '-'},
                                  {'S', 0xF1, -1, 0xF1, '-'},  // E low: nothing drives D4..D7
                                  // E rises: the module drives its data register, a blank
                                  // since the power-on read E's first fall made.
                                  {'D', 0xFF, 0x27, 0x27, '+'},
                                  {'W', 0x00, 0xF8, 0xF0, '+'},
                              });
    // The backlight lit by a low pin; RW grounded with its pin.
    RunScript("0x20=pcf8574,invert=BL,rw=ground", {
                                                      {'R', 0, 0xFD, 0xFD, '-'},
                                                      {'S', 0xF7, -1, 0xF5, '+'},
                                                  });
    RunScript("0x20=pcf8574,no-module", {
                                            {'R', 0, 0x00, 0x00, ' '},
                                            {'S', 0x0F, -1, 0x00, ' '},
                                        });
}

// MCP23008 registers: the pointer a send byte sets walks them one a byte and
// wraps after OLAT, or stays with IOCON.SEQOP; GPIO reads the pins (through
// IPOL) and a write to it goes to OLAT; INTF and INTCAP stay 0; IOCON keeps
// the bits it has. An input pin reads its pull-up, the module's pull-ups on RS
// and the data lines, a floating E low; a relay board's inputs read low.
TEST(SimulatedI2cBus, Mcp23008Registers) {
    // Common wiring: RS=GP1, E0=GP2, D4..D7=GP3..GP6, BL=GP7, RW to ground.
    RunScript(
        "0x20=mcp23008",
        {
            {'W', 0x02, 0x12, -1, '-'},   {'W', 0x06, 0x81, 0x7B, '+'},  // pulled up: GP0, BL lit
            {'W', 0x08, 0x77, -1, '+'},                                  // INTCAP: not writable
            {'W', 0x09, 0x9A, 0x7B, '+'},  // to OLAT; all inputs still
            {'S', 0x00, -1, -1, '+'},     {'R', 0, 0xFF, -1, '+'},      {'R', 0, 0x00, -1, '+'},
            {'R', 0, 0x12, -1, '+'},      {'R', 0, 0x00, -1, '+'},  // DEFVAL
            {'R', 0, 0x00, -1, '+'},                                // INTCON

            {'R', 0, 0x00, -1, '+'},                                   // IOCON
            {'R', 0, 0x81, -1, '+'},      {'R', 0, 0x00, -1, '+'},     // INTF
            {'R', 0, 0x00, -1, '+'},                                   // INTCAP
            {'R', 0, 0x7B, -1, '+'},                                   // GPIO
            {'R', 0, 0x9A, -1, '+'},                                   // OLAT
            {'R', 0, 0xFF, -1, '+'},                                   // wrapped to IODIR
            {'W', 0x00, 0x00, 0x9A, '+'},                              // all outputs: OLAT
            {'W', 0x01, 0x0F, -1, '+'},   {'D', 0x09, 0x95, -1, '+'},  // IPOL inverts
            {'W', 0x05, 0xFF, -1, '+'},                                // SEQOP, and more
            {'D', 0x05, 0x3E, -1, '+'},   {'R', 0, 0x3E, -1, '+'},
        });
    RunScript("0x20=mcp23008,no-module", {
                                             {'W', 0x06, 0xFF, 0x00, ' '},
                                             {'W', 0x0A, 0xFF, 0x00, ' '},
                                             {'W', 0x00, 0xF0, 0x0F, ' '},
                                         });
}

// MCP23017: with IOCON.BANK 0 the ports' registers interleave and the pointer
// wraps after OLATB (0x15), or toggles within an A/B pair with SEQOP; with
// BANK 1 port B's sit at 0x10 on, IOCON at 0x05 and 0x15, the pointer steps
// from OLATA to IODIRB and wraps after OLATB (0x1A). Writing 0 to 0x05 there
// puts BANK back to 0. The plate's three backlight pins are lit by a low pin.
TEST(SimulatedI2cBus, Mcp23017RegistersInBothBankMaps) {
    RunScript("0x20=mcp23017",
              {
                  {'W', 0x14, 0xBF, 0xDFC0, '-'},  // OLATA; all inputs
                  {'W', 0x00, 0xBF, -1, '+'},      // GPA6 output low: red
                  {'R', 0, 0xFF, -1, '+'},         // IODIRB
                  {'S', 0x14, -1, -1, '+'},       {'R', 0, 0xBF, -1, '+'},
                  {'R', 0, 0x00, -1, '+'},  // OLATB
                  {'R', 0, 0xBF, -1, '+'},  // wrapped to IODIRA
                  {'W', 0x0A, 0x20, -1, '+'},     {'D', 0x12, 0x80, -1, '+'},
                  {'R', 0, 0xDF, -1, '+'},     // GPIOB
                  {'R', 0, 0x80, -1, '+'},     // GPIOA again
                  {'W', 0x0B, 0x80, -1, '+'},  // BANK 1 through IOCONB
                  {'D', 0x05, 0x80, -1, '+'},     {'D', 0x15, 0x80, -1, '+'},
                  {'S', 0x0A, -1, -1, '+'},       {'R', 0, 0xBF, -1, '+'},  // OLATA
                  {'R', 0, 0xFF, -1, '+'},                                  // IODIRB
                  {'S', 0x1A, -1, -1, '+'},       {'R', 0, 0x00, -1, '+'},  // OLATB
                  {'R', 0, 0xBF, -1, '+'},                                  // wrapped to IODIRA
                  {'W', 0x05, 0x00, -1, '+'},     {'D', 0x0A, 0x00, -1, '+'},
                  {'R', 0, 0x00, -1, '+'},
              });
}

std::vector<std::string> Lines(const DetectReport& report) {
    std::vector<std::string> lines;
    for (std::size_t n = 0; n < report.modules.size(); ++n)
        lines.push_back(report.modules[n].Describe(OfferedBase(n)));
    return lines;
}

// The known wirings are proven and named; a module wired otherwise is found by
// the search; one that cannot be read gets its kind's common wiring assumed.
// Each proven one is left greeting, every line at rest.
TEST(Detect, FindsEachKnownWiringAndProvesIt) {
    struct Case {
        std::string setup;
        std::string line;
        bool triedFirst = false;  // the first wiring its kind tries
    };
    const std::string proven = "proven: read back 14 of 14 bytes)";
    const Case cases[] = {
        {"0x27=pcf8574",
         "0x378=pcf8574:/dev/i2c-1@0x27 (common backpack wiring, backlight active high; " + proven,
         true},
        {"0x3F=pcf8574:E0=P0,RW=P1,RS=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7",
         "0x378=pcf8574:/dev/i2c-1@0x3F:RS=P2,RW=P1,E0=P0,D4=P4,D5=P5,D6=P6,D7=P7,BL=P3 "
         "(backpack wiring with E on P0, backlight active high; " +
             proven},
        {"0x20=pcf8574:D4=P0,D5=P1,D6=P2,D7=P3,E0=P4,RW=P5,RS=P6,BL=P7,invert=BL",
         "0x378=pcf8574:/dev/i2c-1@0x20:RS=P6,RW=P5,E0=P4,D4=P0,D5=P1,D6=P2,D7=P3,BL=P7,"
         "invert=BL (backpack wiring with D4..D7 on P0..P3, backlight active low; " +
             proven},
        {"0x21=mcp23017",
         "0x378=mcp23017:/dev/i2c-1@0x21 (the RGB LCD plate's wiring, backlight active low; " +
             proven,
         true},
        {"0x20=mcp23008:RW=GP0,RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7",
         "0x378=mcp23008:/dev/i2c-1@0x20:RS=GP1,RW=GP0,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7 "
         "(a wiring found by search, backlight active high; " +
             proven},
        {"0x20=mcp23008",
         "0x378=mcp23008:/dev/i2c-1@0x20 (not proven: nothing read back, as when the module's RW "
         "is tied to ground; assumed the common backpack wiring, backlight active high: if it "
         "is right, the glass shows \"lcdtest 0x20 ok?\")"},
        {"0x27=pcf8574,rw=ground",
         "0x378=pcf8574:/dev/i2c-1@0x27 (not proven: nothing read back, as when the module's RW "
         "is tied to ground; assumed the common backpack wiring, backlight active high: if it is "
         "right, the glass shows \"lcdtest 0x27 ok?\")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setup);
        BusBench bench({c.setup});
        bench.clock.AdvanceMicros(kPowerOnBusyMicros);  // the module was on before detection
        const DetectReport report = bench.Detect();
        EXPECT_EQ(Lines(report), std::vector<std::string>{c.line});
        EXPECT_EQ(bench.log.Problems(), std::vector<std::string>{});
        ASSERT_EQ(report.modules.size(), 1u);
        const FoundModule& found = report.modules.front();
        const std::uint8_t address = found.device.address;
        EXPECT_EQ(bench.FirstLine(address, found.shown.size()), found.shown);
        const CharacterModule& module = *bench.bus->At(address)->Module();
        EXPECT_EQ(module.Controller(0).State().displayOn, true);
        EXPECT_EQ(bench.bus->At(address)->Backlight(), std::optional<bool>(true));
        // The wiring tried first meets the module as powered (a PCF8574's E
        // high) and brings it up within the bus rules; later ones come after
        // wrong guesses.
        if (c.triedFirst) {
            EXPECT_EQ(module.Controller(0).LastViolation(), "");
        }
    }
}

// Any assignment of the eight pins whose module has RW wired, with either
// backlight polarity, is found and proven, on both kinds of eight pins.
TEST(Detect, TheSearchFindsAnyWiringWithRW) {
    std::mt19937 random(2026);
    const char* const names[] = {"RS", "RW", "E0", "D4", "D5", "D6", "D7", "BL"};
    for (int trial = 0; trial < 40; ++trial) {
        const bool pcf = trial % 2 == 0;
        std::vector<int> pins = {0, 1, 2, 3, 4, 5, 6, 7};
        std::shuffle(pins.begin(), pins.end(), random);
        std::string map;
        for (int i = 0; i < 8; ++i)
            map += (i ? "," : "") + std::string(names[i]) + "=" + (pcf ? "P" : "GP") +
                   std::to_string(pins[static_cast<std::size_t>(i)]);
        const bool low = trial % 3 == 0;
        const std::string setup = std::string("0x22=") + (pcf ? "pcf8574:" : "mcp23008:") + map +
                                  (low ? ",invert=BL" : "");
        SCOPED_TRACE(setup);
        BusBench bench({setup});
        const DetectReport report = bench.Detect();
        ASSERT_EQ(report.modules.size(), 1u);
        const FoundModule& found = report.modules.front();
        EXPECT_TRUE(found.proven);
        EXPECT_EQ(found.device.map, bench.bus->At(0x22)->Setup().wiring.map);
        EXPECT_EQ(found.backlightLitLow, low);
    }
}

// Nothing there, an expander whose pins are loaded (relays), and a device that
// answers as no expander: none is written to beyond the kind check, and each is
// said once.
TEST(Detect, LeavesAloneWhatIsNoModule) {
    BusBench empty({});
    EXPECT_EQ(Lines(empty.Detect()), std::vector<std::string>{});
    EXPECT_EQ(empty.bus->Total().transfers, 16u);  // one receive byte at each address

    BusBench relays({"0x24=pcf8574,no-module"});
    const std::uint16_t before = relays.bus->At(0x24)->PinLevels();
    const DetectReport report = relays.Detect();
    EXPECT_EQ(Lines(report), std::vector<std::string>{});
    EXPECT_EQ(report.notes,
              std::vector<std::string>{"0x24 on /dev/i2c-1: a PCF8574 without a character module "
                                       "(its pins read low when released, loaded as relays or "
                                       "LEDs load them); left as it was found"});
    EXPECT_EQ(relays.bus->At(0x24)->PinLevels(), before);
    // The look (44 receive bytes), then the kind check: release, read, put back.
    EXPECT_EQ(relays.bus->TrafficAt(0x24).transfers, 44u + 3u);
}

// Several backpacks on one bus, in address order, each offered the next Port
// list entry. (A mapping detection prints, driven: ScriptedRunTest; each one's
// whole text: FindsEachKnownWiringAndProvesIt.)
TEST(Detect, SeveralBackpacksInAddressOrder) {
    BusBench bench({"0x3F=pcf8574:D4=P0,D5=P1,D6=P2,D7=P3,E0=P4,RW=P5,RS=P6,BL=P7,invert=BL",
                    "0x27=pcf8574", "0x21=mcp23017"});
    const std::vector<std::string> lines = Lines(bench.Detect());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("0x378=mcp23017:/dev/i2c-1@0x21 ")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("0x278=pcf8574:/dev/i2c-1@0x27 ")) << lines[1];
    EXPECT_TRUE(lines[2].starts_with("0x3BC=pcf8574:/dev/i2c-1@0x3F:")) << lines[2];
}

// A bus that goes away during detection is told once, and detection ends.
TEST(Detect, ABusGoneEndsDetection) {
    BusBench bench({"0x27=pcf8574"});
    bench.bus->Unplug(0x27);
    const DetectReport report = bench.Detect();
    EXPECT_EQ(Lines(report), std::vector<std::string>{});
    EXPECT_EQ(bench.log.Problems(),
              std::vector<std::string>{"an I2C bus went away during detection (No such device): "
                                       "detection ends there; plug it back in and look again"});
}

// The bus with one device, 0x378 mapped through it, and the simulated module
// following the mapping, at rest as the dialog starts, whatever the lines held.
struct BackpackBench : LineBench {
    BackpackBench(const std::string& setup, const std::string& mapping)
        : bus(MakeSimulatedBus({setup}, timeline,
                               [this](std::uint64_t micros) { timeline.AdvanceMicros(micros); })),
          backpack(bus->At(static_cast<std::uint8_t>(std::stoul(setup, nullptr, 16)))) {
        const MappedPort port = UsePortMap(timeline.io, bus, mapping);
        module = std::make_unique<SimulatedModule>(timeline, timeline.io, 0x378);
        module->FollowMappings(port.map, bus.get());
        // The module was powered on with the bus; the tool starts later.
        timeline.AdvanceMicros(kPowerOnBusyMicros);
        g_lines.dataLatch = 0xFF;
        panel.RefreshDataPort();
        panel.ReturnToRest();
    }
    // A 16x2 4-bit run of the demo texts, then Verify.
    VerifyResult RunAndVerify() {
        sent = RunDisplayTest(driver, panel, timeline, BusWidth::Four, DemoBoxes());
        EXPECT_EQ(sent.refusal + sent.stopped, "");
        return VerifyModule(driver, panel, timeline, sent);
    }

    std::shared_ptr<SimulatedI2cBus> bus;
    SimulatedBackpack* backpack;
    std::unique_ptr<SimulatedModule> module;
    TestRunRecord sent;
};

// Each kind in its common wiring (the MCP23008's with RW on GP0, so it can be
// read): the lines at rest once the tool rests them and after Verify, the run
// in the module's memories as sent, Verify passes, and the bus time went to
// the wait. The simulated module shows the backpack
// while its cable is on 0x378, and the port's own module elsewhere. No bus
// rule is broken, from power-on (a PCF8574's E and RW high) on.
TEST(SimulatedBackpack, EachKindCarriesARunAndVerifyPasses) {
    struct Case {
        const char* setup;
        const char* mapping;
        const char* chip;
    };
    const char* const mcp23008 = "RW=GP0,RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7";
    const Case cases[] = {
        {"0x27=pcf8574", "0x378=/dev/i2c-1@0x27", "PCF8574 at 0x27"},
        {"0x20=mcp23008:", "0x378=mcp23008:/dev/i2c-1@0x20:", "MCP23008 at 0x20"},
        {"0x21=mcp23017", "0x378=mcp23017:/dev/i2c-1@0x21", "MCP23017 at 0x21"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setup);
        const char* const map = std::string(c.setup).back() == ':' ? mcp23008 : "";
        BackpackBench b(c.setup + std::string(map), c.mapping + std::string(map));
        // At rest: E, RW and RS low, D4..D7 driven low, D0..D3 left to the pull-ups.
        const ModulePins rest{0, kLowDataNibble, kHighDataNibble};
        EXPECT_EQ(b.backpack->Module()->Pins(), rest);
        EXPECT_EQ(b.RunAndVerify().Summary(), "PASS: 16x2 4-bit, 97 bytes read back as sent");
        EXPECT_EQ(b.backpack->Module()->Pins(), rest);
        const LcdController& e0 = b.backpack->Module()->Controller(0);
        for (const SentLine& line : b.sent.lines)
            for (std::size_t n = 0; n < line.bytes.size(); ++n)
                EXPECT_EQ(e0.State().ddram[DdramCell(
                              e0.State(), static_cast<std::uint8_t>(line.ddramAddress + n))],
                          line.bytes[n]);
        EXPECT_TRUE(
            std::equal(std::begin(kGlyphTable), std::end(kGlyphTable), e0.State().cgram.begin()));
        // Every broken rule, of whatever kind, leaves its description here.
        EXPECT_EQ(e0.LastViolation(), "");
        EXPECT_EQ(b.timeline.NowMicros(),
                  kPowerOnBusyMicros + b.timeline.SleptMillis() * 1000 + b.bus->Total().micros);

        EXPECT_EQ(&b.module->Controller(0), &e0);
        EXPECT_EQ(b.module->Wiring().text, "the simulated " + std::string(c.chip) + ", driven as " +
                                               b.timeline.io.Wiring(0x378).text);
        EXPECT_EQ(b.module->Backlight(), true);
        b.module->AttachToPort(0x278);
        EXPECT_NE(&b.module->Controller(0), &e0);
        EXPECT_EQ(b.module->Wiring().text, "nothing simulated hangs on it");
        EXPECT_EQ(b.module->Backlight(), std::nullopt);
    }
}

// A --port-map that is not the backpack's wiring fails with the diagnosis the
// wiring's fault gives, or, where only the backlight's pin is wrong, passes
// with the glass dark.
TEST(SimulatedBackpack, AMappingOtherThanItsWiringFailsOrLeavesItDark) {
    const std::string noReads =
        "FAIL: 16x2 4-bit, 1 of 1 bytes differ, first E0 busy flag and address counter: "
        "expected 0x00, read 0xFF; likely cause: every read gave 0xFF: no module, RW or E0 not "
        "wired, or a port without a bidirectional mode";
    struct Case {
        const char* setup;
        const char* mapping;
        std::string summary;
        bool lit;
    };
    const Case cases[] = {
        // The PCF8574's other common wiring, driven as the first.
        {"0x27=pcf8574:D4=P0,D5=P1,D6=P2,D7=P3,E0=P4,RW=P5,RS=P6,BL=P7,invert=BL",
         "0x378=/dev/i2c-1@0x27", noReads, true},
        // RW on the backlight's pin; D5 on a pin the tool keeps high.
        {"0x27=pcf8574:RS=P0,RW=P1,E0=P2,D5=P3,D4=P4,BL=P5,D6=P6,D7=P7", "0x378=/dev/i2c-1@0x27",
         "FAIL: 16x2 4-bit, 62 of 97 bytes differ, first E0 line 1 column 1 (DDRAM 0x00): "
         "expected 0x2A, read 0x08; likely cause: D5 always reads 0: that line is stuck or open",
         false},
        // RS and the backlight swapped: RS stays high, so every read is a data read.
        {"0x27=pcf8574:RS=P3,RW=P1,E0=P2,BL=P0,D4=P4,D5=P5,D6=P6,D7=P7", "0x378=/dev/i2c-1@0x27",
         "FAIL: 16x2 4-bit, 93 of 97 bytes differ, first E0 busy flag and address counter: "
         "expected 0x00, read 0xA0; likely cause: the controller on E0 stays busy: its busy flag "
         "still reads 1 long after the last instruction, as when a controller never finishes an "
         "instruction (check the module's supply) or a read comes too early",
         false},
        // RW to ground on the backpack, read through GP0 all the same.
        {"0x20=mcp23008",
         "0x378=mcp23008:/dev/i2c-1@0x20:RW=GP0,RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7",
         noReads, true},
        {"0x21=mcp23017,rw=ground", "0x378=mcp23017:/dev/i2c-1@0x21", noReads, true},
        // One backlight pin lit by a high one, driven low as the plate's.
        {"0x21=mcp23017:RS=GPB7,RW=GPB6,E0=GPB5,D4=GPB4,D5=GPB3,D6=GPB2,D7=GPB1,BL=GPB0",
         "0x378=mcp23017:/dev/i2c-1@0x21", "PASS: 16x2 4-bit, 97 bytes read back as sent", false},
    };
    for (const Case& c : cases) {
        BackpackBench b(c.setup, c.mapping);
        EXPECT_EQ(b.RunAndVerify().Summary(), c.summary) << c.setup;
        EXPECT_EQ(b.module->Backlight(), c.lit) << c.setup;
    }
}

// --sim-i2c values: read, and given back as the device's own text; or refused
// with what is wrong.
TEST(SimulatedBackpack, ReadsOrRefusesSimI2cValues) {
    const std::pair<const char*, std::string> read[] = {
        {"0x27=pcf8574", "0x27=pcf8574"},
        {"0x3f=pcf8574:D4=P0,D5=P1,D6=P2,D7=P3,E0=P4,RW=P5,RS=P6,BL=P7,invert=BL",
         "0x3F=pcf8574:RS=P6,RW=P5,E0=P4,D4=P0,D5=P1,D6=P2,D7=P3,BL=P7,invert=BL"},
        {"0x20=mcp23008,rw=ground", "0x20=mcp23008,rw=ground"},
        {"0x20=mcp23017,no-module", "0x20=mcp23017,no-module"},
    };
    for (const auto& [text, shown] : read) {
        std::vector<BackpackSetup> setups;
        EXPECT_EQ(AddBackpackSetup(setups, text), "");
        ASSERT_EQ(setups.size(), 1u);
        EXPECT_EQ(setups[0].Text(), shown);
        EXPECT_EQ(AddBackpackSetup(setups, shown), "--sim-i2c " + std::string(shown) + ": " +
                                                       shown.substr(0, 4) + " holds " + shown +
                                                       " already; one device per address");
    }
    const std::string neither =
        " is neither LINE=Pn, invert=LINE+LINE, rw=ground nor no-module, for example "
        "0x27=pcf8574:RS=P0,RW=P1,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7";
    const std::pair<const char*, std::string> refused[] = {
        {"0x27", "expected ADDR=KIND, for example 0x27=pcf8574"},
        {"27=pcf8574",
         "\"27\" is no device address: give it in hex, for example 0x27 (as i2cdetect shows it)"},
        {"0x78=pcf8574", "0x78 is outside the device addresses 0x03..0x77"},
        {"0x27=pcf8575", "unknown kind \"pcf8575\": expected pcf8574, mcp23008 or mcp23017"},
        {"0x27=pcf8574:RS=P9", "\"P9\" is no PCF8574 pin: expected P0..P7"},
        {"0x27=pcf8574:RS", "\"RS\"" + neither},
        {"0x27=pcf8574:", "\"\"" + neither},
        {"0x27=pcf8574,backlight=off",
         "backlight= is --port-map's: a simulated backpack's backlight follows its pin"},
        {"0x20=mcp23008:RS=GP1,no-module",
         "no-module is an expander without a module (a relay board): it takes no pin map, "
         "invert= or rw=ground"},
    };
    for (const auto& [text, why] : refused) {
        std::vector<BackpackSetup> setups;
        EXPECT_EQ(AddBackpackSetup(setups, text), "--sim-i2c " + std::string(text) + ": " + why);
        EXPECT_TRUE(setups.empty());
    }
}
}  // namespace
