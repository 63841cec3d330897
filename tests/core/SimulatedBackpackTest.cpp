// The real transports, as --port-map opens them, driving backpacks on the
// simulated I2C bus on virtual time: a run reaches the module's memories as
// sent and Verify passes where the mapping is the backpack's wiring, and
// fails with its diagnosis where it is not; the simulated module shows the
// backpack of the port it hangs on. And --sim-i2c's values, read or refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lcd/Geometry.h"
#include "lcd/TestRun.h"
#include "lcd/Verify.h"
#include "sim/SimulatedI2cBus.h"
#include "sim/SimulatedModule.h"
#include "support/LineBench.h"
#include "support/MappedPort.h"
#include "support/RunSources.h"
#include "support/SimulatedBus.h"

namespace {

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
