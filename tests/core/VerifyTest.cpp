// Verify on the simulated module: what a sound module reads back, what each
// injected wiring fault reads back and is blamed for, and the line discipline of
// the reads on the port.

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

// While RW and an enable line are high the data lines are inputs, and they turn
// only while RW and both enable lines are low; everything ends at rest.
void ExpectLineDiscipline(const std::vector<BusEvent>& writes) {
    const std::uint32_t control = kPortBases[0] + kControlRegisterOffset;
    int previous = -1;
    for (const BusEvent& w : writes) {
        if (w.where != control) continue;
        const auto flags = static_cast<std::uint8_t>(w.value ^ kControlInvertMask);
        const bool driving = (flags & kLineRW) && (flags & (kLineE0 | kLineE1));
        EXPECT_TRUE(!driving || (flags & kDataLinesInput)) << int(w.value);
        if (previous >= 0 && ((previous ^ flags) & kDataLinesInput)) {
            EXPECT_EQ((previous | flags) & (kLineRW | kLineE0 | kLineE1), 0) << int(w.value);
        }
        previous = flags;
    }
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2], BusEvent::WriteOf(kPortBases[0], 0));
    EXPECT_EQ(writes.back(), BusEvent::WriteOf(control, ControlRegisterByte(0)));
}

class VerifySizes : public ::testing::TestWithParam<std::tuple<int, BusWidth>> {};

TEST_P(VerifySizes, ASoundModuleReadsBackAsSent) {
    const auto [size, width] = GetParam();
    Bench bench;
    const TestRunRecord sent = bench.Run(size, width);
    const std::size_t runWrites = bench.port.WriteCount();
    const VerifyResult result = VerifyModule(bench.driver, bench.panel, bench.clock, sent);
    EXPECT_EQ(result.outcome, VerifyResult::Outcome::Pass) << result.Summary();
    const ModuleGeometry& g = kModuleGeometry[size];
    const std::size_t lines = g.controllerCount * g.linesPerController;
    EXPECT_EQ(result.compared, g.controllerCount * (1u + sizeof kGlyphTable) + lines * g.columns);
    for (int c = 0; c < g.controllerCount; ++c)
        EXPECT_EQ(bench.module.Controller(c).TimingViolations(), 0u)
            << bench.module.Controller(c).LastViolation();
    const std::vector<BusEvent> writes = bench.port.Writes();
    ExpectLineDiscipline({writes.begin() + static_cast<std::ptrdiff_t>(runWrites), writes.end()});
}

INSTANTIATE_TEST_SUITE_P(EverySizeBothWidths, VerifySizes,
                         ::testing::Combine(::testing::Range(0, kModuleSizeCount),
                                            ::testing::Values(BusWidth::Eight, BusWidth::Four)),
                         [](const auto& info) {
                             return std::string(kSizeDemos[std::get<0>(info.param)].name) + "_" +
                                    (std::get<1>(info.param) == BusWidth::Eight ? "8" : "4") +
                                    "bit";
                         });

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

TEST(RunChoice, NamesASizeAndAWidth) {
    EXPECT_EQ(ParseRunChoice("16x2:8")->sizeIndex, kSize16x2);
    EXPECT_EQ(ParseRunChoice("40x4:4")->width, BusWidth::Four);
    for (const char* text : {"16x2", "16x2:5", "16X2:8", "15x2:8", ":8", "16x2:8:8"})
        EXPECT_FALSE(ParseRunChoice(text)) << text;
}

}  // namespace
