// Detection on the simulated I2C bus, which answers as backpacks on a real bus
// do: every known wiring, many random ones, both backlight polarities, RW to
// ground, an empty bus, an expander without a module, several backpacks, a
// device gone during detection.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/VirtualClock.h"
#include "lcd/Detect.h"
#include "sim/SimulatedI2cBus.h"
#include "support/SimulatedBus.h"

namespace {

// A bus with the given --sim-i2c setups, and detection run on it.
struct DetectBench {
    explicit DetectBench(const std::vector<std::string>& setups)
        : bus(MakeSimulatedBus(setups, clock,
                               [this](std::uint64_t micros) { clock.AdvanceMicros(micros); })) {
        clock.AdvanceMicros(kPowerOnBusyMicros);  // the modules were on before detection starts
    }
    DetectReport Detect() { return DetectModules(bus, clock, log); }
    // The module's first display line, as many characters as `length`.
    std::string FirstLine(std::uint8_t address, std::size_t length) const {
        const ControllerState& s = bus->At(address)->Module()->Controller(0).State();
        return std::string(s.ddram.begin(), s.ddram.begin() + static_cast<long>(length));
    }

    VirtualClock clock;
    ProblemLog log;
    std::shared_ptr<SimulatedI2cBus> bus;
};

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
        DetectBench bench({c.setup});
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
        // A wiring tried as known meets the module at power-on (a PCF8574's E
        // high) and must bring it up within the bus rules; a search may not.
        // The wiring tried first meets the module as powered (a PCF8574's E
        // high) and brings it up within the bus rules; later ones come after
        // wrong guesses.
        if (c.triedFirst) {
            const LcdController& e0 = module.Controller(0);
            EXPECT_EQ(e0.Violations(Violation::Busy) + e0.Violations(Violation::UnsteadyControl) +
                          e0.Violations(Violation::TwoDrivers),
                      0u)
                << e0.LastViolation();
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
        DetectBench bench({setup});
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
    DetectBench empty({});
    EXPECT_EQ(Lines(empty.Detect()), std::vector<std::string>{});
    EXPECT_EQ(empty.bus->Total().transfers, 16u);  // one receive byte at each address

    DetectBench relays({"0x24=pcf8574,no-module"});
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
    DetectBench bench({"0x3F=pcf8574:D4=P0,D5=P1,D6=P2,D7=P3,E0=P4,RW=P5,RS=P6,BL=P7,invert=BL",
                       "0x27=pcf8574", "0x21=mcp23017"});
    const std::vector<std::string> lines = Lines(bench.Detect());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("0x378=mcp23017:/dev/i2c-1@0x21 ")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("0x278=pcf8574:/dev/i2c-1@0x27 ")) << lines[1];
    EXPECT_TRUE(lines[2].starts_with("0x3BC=pcf8574:/dev/i2c-1@0x3F:")) << lines[2];
}

// A bus that goes away during detection is told once, and detection ends.
TEST(Detect, ABusGoneEndsDetection) {
    DetectBench bench({"0x27=pcf8574"});
    bench.bus->Unplug(0x27);
    const DetectReport report = bench.Detect();
    EXPECT_EQ(Lines(report), std::vector<std::string>{});
    EXPECT_EQ(bench.log.Problems(),
              std::vector<std::string>{"an I2C bus went away during detection (No such device): "
                                       "detection ends there; plug it back in and look again"});
}

}  // namespace
