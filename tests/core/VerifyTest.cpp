// Verify on the simulated module: what each injected wiring fault, and a module
// that never finishes an instruction, reads back and is blamed for. (A sound
// module of every size at both widths, and the line discipline of the reads:
// SimulatedRunTest.)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lcd/Geometry.h"
#include "lcd/Verify.h"
#include "sim/SimulatedModule.h"
#include "support/LineBench.h"
#include "support/RunSources.h"

namespace {

// Time that never passes for the module: it never finishes an instruction.
struct StoppedClock final : Clock {
    std::uint64_t NowMicros() const override { return 0; }
    void SleepMicros(std::uint64_t) override {}
};

struct Bench : LineBench {
    explicit Bench(const WiringFault& fault = {}, bool stalled = false)
        : module(stalled ? static_cast<Clock&>(stopped) : timeline, timeline.io, kPortBases[0]) {
        module.SetWiringFault(fault);
    }
    TestRunRecord Run(int size, BusWidth width) {
        module.SetControllerCount(kModuleGeometry[size].controllerCount);
        return RunDisplayTest(driver, panel, timeline, width, DemoBoxes(size));
    }
    VerifyResult Verify(const TestRunRecord& sent) {
        return VerifyModule(driver, panel, timeline, sent);
    }
    StoppedClock stopped;
    SimulatedModule module;
};

TEST(Verify, EachFaultIsNamedWithoutChangingTheRun) {
    // "stalled": a sound wiring to a module whose time stands still, so it never
    // finishes an instruction. The whole result line is checked, so a cause that
    // also blamed an innocent line would fail.
    struct Case {
        const char* fault;
        int size;
        BusWidth width;
        std::string summary;
    };
    const std::string rs =
        "likely cause: RS reads as low: every data read repeated the busy "
        "flag and address counter instead of stepping through memory; check "
        "RS (pin 16) for a line stuck low or open";
    const std::string busy =
        " long after the last instruction, as when a controller never finishes an instruction "
        "(check the module's supply) or a read comes too early";
    const std::string noModule =
        "likely cause: every read gave 0xFF: no module, RW or E0 not "
        "wired, or a port without a bidirectional mode";
    const std::string firstBusy = "first E0 busy flag and address counter: expected 0x00, read ";
    const std::string firstDdram = "first E0 line 1 column 1 (DDRAM 0x00): expected 0x2A, read ";
    const std::string stuck = ": that line is stuck or open";
    const Case cases[] = {
        {"D5=0", kSize20x4, BusWidth::Four,
         "FAIL: 20x4 4-bit, 121 of 145 bytes differ, " + firstDdram +
             "0x55; likely cause: D5 always reads 0" + stuck},
        {"D6=open", kSize40x2, BusWidth::Four,
         "FAIL: 40x2 4-bit, 145 of 145 bytes differ, " + firstBusy +
             "0x44; likely cause: D6 always reads 1" + stuck},
        {"D2=1,D5=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 55 of 97 bytes differ, " + firstBusy +
             "0x04; likely cause: D2 always reads 1, D5 always reads 0: those lines are stuck "
             "or open"},
        // The glyph rows that overwrite the text read D6 as 0 throughout: not named.
        {"D7=1", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 97 of 97 bytes differ, " + firstBusy +
             "0xB0; likely cause: D7 always reads 1" + stuck},
        // D7 is stuck too, but no byte needed it high: only D6 is named.
        {"D6=0,D7=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 89 of 97 bytes differ, " + firstBusy +
             "0x10; likely cause: D6 always reads 0" + stuck},
        // On the 4-bit bus D7 also carries bit 3, which the text needs.
        {"D7=0", kSize16x2, BusWidth::Four,
         "FAIL: 16x2 4-bit, 61 of 97 bytes differ, " + firstDdram +
             "0x02; likely cause: D7 always reads 0" + stuck},
        // No byte read needs D7 high; D5 and D6 read 0 in the glyphs read instead of text.
        {"D7=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 32 of 97 bytes differ, " + firstDdram +
             "0x0A; likely cause: the character memory reads back as sent but the display memory "
             "does not: the Set DDRAM Address instructions went astray, as when a data line is "
             "stuck at a level that no character sent needs"},
        // D6 reads 0 in the blank display memory, but the glyphs show D3 alone.
        {"D3=0", kSize16x1, BusWidth::Eight,
         "FAIL: 16x1 8-bit, 43 of 81 bytes differ, " + firstDdram +
             "0x22; likely cause: D3 always reads 0" + stuck},
        {"D0=0", kSize16x2, BusWidth::Four, "PASS: 16x2 4-bit, 97 bytes read back as sent"},
        {"D4=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 97 of 97 bytes differ, " + firstBusy +
             "0x4F; likely cause: the controller on E0 answers on a 4-bit bus after an 8-bit "
             "run (nothing drives the low four data lines): one of the run's instructions "
             "arrived as a 4-bit function set, as when a data line is stuck"},
        {"RS=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 97 of 97 bytes differ, " + firstBusy + "0x0F; " + rs},
        {"RS=0", kSize20x4, BusWidth::Four,
         "FAIL: 20x4 4-bit, 135 of 145 bytes differ, " + firstBusy + "0x02; " + rs},
        {"RW=0", kSize40x4, BusWidth::Four,
         "FAIL: 40x4 4-bit, 2 of 2 bytes differ, " + firstBusy + "0xFF; " + noModule},
        {"E0=open", kSize8x2, BusWidth::Eight,
         "FAIL: 8x2 8-bit, 1 of 1 bytes differ, " + firstBusy + "0xFF; " + noModule},
        {"E1=open", kSize40x4, BusWidth::Eight,
         "FAIL: 40x4 8-bit, 1 of 146 bytes differ, first E1 busy flag and address counter: "
         "expected 0x00, read 0xFF; likely cause: the controller on E1 does not answer (its "
         "reads gave 0xFF): check E1's wiring"},
        {"stalled", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 1 of 97 bytes differ, " + firstBusy +
             "0x80; likely cause: the controller on E0 stays busy: its busy flag still reads 1" +
             busy},
        {"stalled", kSize40x4, BusWidth::Four,
         "FAIL: 40x4 4-bit, 2 of 290 bytes differ, " + firstBusy +
             "0x80; likely cause: the controllers on E0 and E1 stay busy: their busy flags "
             "still read 1" +
             busy},
    };
    for (const Case& c : cases) {
        const bool stalled = c.fault == std::string("stalled");
        std::string error;
        Bench faulty(ParseWiringFault(stalled ? "none" : c.fault, error).value(), stalled);
        const TestRunRecord sent = faulty.Run(c.size, c.width);
        const VerifyResult result = faulty.Verify(sent);
        EXPECT_EQ(result.Summary(), c.summary) << c.fault << " " << RunName(c.size, c.width);
    }
}

// A sound module whose record claims another byte than it holds: the one
// difference in detail. (Its summary's cause: the D7=0 8-bit case above.)
TEST(Verify, DifferencesNamePositionExpectedAndRead) {
    Bench bench;
    TestRunRecord sent = bench.Run(kSize16x2, BusWidth::Eight);
    sent.lines[1].bytes[3] = 'Z';  // as if the run had sent another byte there
    EXPECT_EQ(
        bench.Verify(sent).Details(5),
        std::vector<std::string>{"E0 line 2 column 4 (DDRAM 0x43): expected 0x5A, read 0x75"});
}

TEST(WiringFault, ParsesListsAndRefusesTheRest) {
    // An open data line reads 1 and RW=0 is an open RW; the last word on a line counts.
    const std::pair<const char*, const char*> good[] = {
        {"none", "none"},    {"d5=0", "D5=0"},    {"D2=1,E1=open", "D2=1,E1=open"},
        {"D0=open", "D0=1"}, {"RW=0", "RW=open"}, {"D3=1,D3=0", "D3=0"},
    };
    for (const auto& [text, formatted] : good) {
        std::string error;
        const auto fault = ParseWiringFault(text, error);
        ASSERT_TRUE(fault) << text << ": " << error;
        EXPECT_EQ(FormatWiringFault(*fault), formatted);
    }
    for (const char* text : {"", "D8=0", "E1=1", "D5", "D5=2", "none,D5=0", "D5=0,"}) {
        std::string error;
        EXPECT_FALSE(ParseWiringFault(text, error)) << text;
        EXPECT_NE(error.find("unknown wiring fault"), std::string::npos) << text;
    }
}

}  // namespace
