// Verify on the simulated module: what each injected wiring fault reads back and is
// blamed for. (A sound module of every size at both widths, and the line discipline
// of the reads: SimulatedRunTest.)

#include <gtest/gtest.h>

#include <string>

#include "lcd/Geometry.h"
#include "lcd/Verify.h"
#include "res/Resource.h"
#include "sim/SimulatedModule.h"
#include "support/BusTimeline.h"

namespace {

struct DemoBoxes final : TestRunSource {
    explicit DemoBoxes(int size) : size(size) {}
    int SizeSelection() const override { return size; }
    std::string LineBoxText(int id) const override {
        return kSizeDemos[size].lineText[id - IDC_LINE1];
    }
    int size;
};

struct Bench {
    explicit Bench(const WiringFault& fault = {}) {
        panel.OnCloseupPort();
        module.SetWiringFault(fault);
    }
    TestRunRecord Run(int size, BusWidth width) {
        module.SetControllerCount(kModuleGeometry[size].controllerCount);
        return RunDisplayTest(driver, panel, clock, width, DemoBoxes(size));
    }
    BusTimeline port;  // first: a fresh port and line state
    RecordingLineView view;
    LinePanel panel{view};
    VirtualClock clock;
    SimulatedModule module{clock, kPortBases[0]};
    ModuleDriver driver{panel, clock};
};

WiringFault Fault(const char* text) {
    std::string error;
    return ParseWiringFault(text, error).value();
}

TEST(Verify, EachWiringFaultFailsAndIsNamedWithoutChangingTheRun) {
    struct Case {
        const char* fault;
        int size;
        BusWidth width;
        const char* cause;
    };
    const Case cases[] = {
        {"D5=0", kSize20x4, BusWidth::Four, "D5 always reads 0"},
        {"D2=1", kSize16x2, BusWidth::Eight, "D2 always reads 1"},
        {"D6=open", kSize40x2, BusWidth::Four, "D6 always reads 1"},
        {"RW=0", kSize40x4, BusWidth::Four, "every read gave 0xFF: no module, RW"},
        {"E0=open", kSize8x2, BusWidth::Eight, "E0 not wired"},
        {"E1=open", kSize40x4, BusWidth::Eight, "the controller on E1 does not answer"},
    };
    for (const Case& c : cases) {
        std::vector<BusEvent> soundRun;
        {
            Bench sound;
            sound.Run(c.size, c.width);
            soundRun = sound.port.Writes();
        }
        Bench faulty(Fault(c.fault));
        const TestRunRecord sent = faulty.Run(c.size, c.width);
        EXPECT_TRUE(faulty.port.Writes() == soundRun) << c.fault;  // a run never reads
        const VerifyResult result = VerifyModule(faulty.driver, faulty.panel, faulty.clock, sent);
        EXPECT_EQ(result.outcome, VerifyResult::Outcome::Fail) << c.fault;
        EXPECT_NE(result.Summary().find(c.cause), std::string::npos)
            << c.fault << ": " << result.Summary();
    }
}

TEST(Verify, DifferencesNamePositionExpectedAndRead) {
    Bench bench;
    TestRunRecord sent = bench.Run(kSize16x2, BusWidth::Eight);
    sent.lines[1].bytes[3] = 'Z';  // as if the run had sent another byte there
    const VerifyResult result = VerifyModule(bench.driver, bench.panel, bench.clock, sent);
    ASSERT_EQ(result.differences.size(), 1u);
    EXPECT_EQ(result.Details(5).front(),
              "E0 line 2 column 4 (DDRAM 0x43): expected 0x5A, read 0x75");
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
