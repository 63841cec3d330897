#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "io/transports/Simulated.h"
#include "lcd/Geometry.h"
#include "lcd/ModuleDriver.h"
#include "lcd/TestRun.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "res/Strings.h"
#include "support/LineBench.h"

namespace {

// The dialog as a run sees it. Every box read is put on the time line, and the
// size selection answers another size after its first read, so a second read would show.
struct FakeSource final : TestRunSource {
    FakeSource(BusTimeline& timeline, int size) : timeline(timeline), size(size) {}
    int SizeSelection() const override { return sizeReads++ == 0 ? size : kSize40x4; }
    std::string LineBoxText(int id) const override {
        timeline.events.push_back(BusEvent::FetchOf(id));
        return texts.at(id - IDC_LINE1);
    }

    BusTimeline& timeline;
    int size;
    std::array<std::string, 4> texts;
    mutable int sizeReads = 0;
};

// One display line as the module should receive it.
struct ExpectedLine {
    std::uint8_t address;
    int box;
    std::string bytes;
};

// A run of one size from typed boxes; per controller the lines it must write, and
// the run's writes and requested milliseconds at 8 and 4 bits. The lines and figures
// are written out by hand, independent of the code they check. (Escapes, the 16x1's
// halves and every other size, as the module shows them: SimulatedRunTest.)
struct RunCase {
    int size;
    std::array<std::string, 4> boxes;
    std::vector<std::vector<ExpectedLine>> controllers;
    std::size_t writes[2];
    std::uint64_t millis[2];
};

const RunCase kRuns[] = {
    {kSize16x2,
     {"*TORV-1602 16x2*", "* Lumaworkshop *"},
     {{{0x80, IDC_LINE1, "*TORV-1602 16x2*"}, {0xC0, IDC_LINE2, "* Lumaworkshop *"}}},
     {547, 870},
     {599, 813}},
    // Controller 0 is finished, glyphs included, before controller 1 starts.
    {kSize40x4,
     {std::string(40, 'A'), std::string(40, 'B'), std::string(40, 'C'), std::string(40, 'D')},
     {{{0x80, IDC_LINE1, std::string(40, 'A')}, {0xC0, IDC_LINE2, std::string(40, 'B')}},
      {{0x80, IDC_LINE3, std::string(40, 'C')}, {0xC0, IDC_LINE4, std::string(40, 'D')}}},
     {1572, 2506},
     {1582, 2202}},
};

// One controller's share of a run: its initialisation (so both bring-ups on both
// controllers are checked here, event for event), then every cycle the run starts
// itself after a 2 ms sleep, each box read right after its line's address.
void ExpectController(ExpectedBus& e, bool fourBit, std::uint8_t c,
                      const std::vector<ExpectedLine>& lines) {
    const auto cycle = [&](bool data, std::uint8_t v) {
        e.Sleep(2);
        e.Cycle(data, fourBit, v, c);
    };
    e.Init(fourBit, c);
    for (const ExpectedLine& line : lines) {
        cycle(false, line.address);
        e.Fetch(line.box);
        for (const char b : line.bytes) cycle(true, static_cast<std::uint8_t>(b));
    }
    cycle(false, 0x0C);
    cycle(false, 0x40);
    for (const std::uint8_t row : kGlyphTable) cycle(true, row);
}

class TestRunTest : public ::testing::TestWithParam<std::tuple<RunCase, BusWidth, E1Wiring>>,
                    protected LineBench {};

// Whichever way E1 hangs on pin 17, a run writes the same.
TEST_P(TestRunTest, WritesEveryCycleInOrder) {
    const auto& [run, width, e1] = GetParam();
    timeline.io.SetBackend(std::make_unique<SimulatedPort>(e1));
    const bool fourBit = width == BusWidth::Four;
    FakeSource source(timeline, run.size);
    source.texts = run.boxes;
    RunDisplayTest(driver, panel, timeline, width, source);

    ExpectedBus expected;
    for (std::size_t c = 0; c < run.controllers.size(); ++c)
        ExpectController(expected, fourBit, static_cast<std::uint8_t>(c), run.controllers[c]);
    expected.RestAll();
    EXPECT_EQ(timeline.events, expected.events);
    EXPECT_EQ(source.sizeReads, 1);
    EXPECT_EQ(timeline.WriteCount(), run.writes[fourBit]);
    EXPECT_EQ(timeline.SleptMillis(), run.millis[fourBit]);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TestRunTest,
    ::testing::Combine(::testing::ValuesIn(kRuns),
                       ::testing::Values(BusWidth::Eight, BusWidth::Four),
                       ::testing::Values(E1Wiring::Straight, E1Wiring::Inverter)),
    [](const auto& info) {
        return std::string(kSizeNames[std::get<0>(info.param).size]) +
               (std::get<1>(info.param) == BusWidth::Eight ? "_8bit" : "_4bit") +
               (std::get<2>(info.param) == E1Wiring::Straight ? "_straight" : "_inverter");
    });

class TestRunStateTest : public ::testing::Test, protected LineBench {};

// E1 set by hand stays high through the run; only its end rests it.
TEST_F(TestRunStateTest, LinesSetByHandStayUntilTheFinalRest) {
    panel.OnE1High();
    timeline.events.clear();
    RunDisplayTest(driver, panel, timeline, BusWidth::Four, FakeSource(timeline, kSize16x2));
    ExpectedBus expected(kLineE1);
    const std::string blank(16, ' ');
    ExpectController(expected, true, 0, {{0x80, IDC_LINE1, blank}, {0xC0, IDC_LINE2, blank}});
    expected.RestAll();
    EXPECT_EQ(timeline.events, expected.events);
    EXPECT_TRUE(view.checks[IDC_E1_LOW]);
}

TEST_F(TestRunStateTest, NoSizeSelectedTouchesNothing) {
    panel.OnE1High();
    timeline.events.clear();
    for (const int selection : {-1, kModuleSizeCount, 100}) {
        FakeSource source(timeline, selection);
        RunDisplayTest(driver, panel, timeline, BusWidth::Eight, source);
        EXPECT_EQ(source.sizeReads, 1);
    }
    EXPECT_TRUE(timeline.events.empty());
    EXPECT_EQ(g_lines.controlFlags, kLineE1);
}

// A port whose device goes away after a number of writes, as an unplugged USB
// bridge does: from then on it takes nothing.
class VanishingPort final : public PortBackend {
public:
    VanishingPort(int writes, TransportContext& context) : left_(writes), context_(context) {}
    std::string Describe() const override { return "vanishing port"; }
    void Apply(std::uint32_t base, const LineLevels&, LineGroup) override {
        if (left_-- == 0) context_.ReportLost(base, "gone", kGone);
    }
    std::optional<std::uint8_t> ReadData(std::uint32_t) override { return std::nullopt; }
    PortWiring Wiring(std::uint32_t) const override { return {}; }
    static constexpr const char* kGone = "the device went away";

private:
    int left_;
    TransportContext& context_;
};

// The run stops at the next cycle after the port is lost, leaving the lines as
// they are; it is told once, and the next run is refused before any write.
TEST_F(TestRunStateTest, ALostPortStopsTheRunAndRefusesTheNext) {
    timeline.io.SetBackend(std::make_unique<VanishingPort>(3, timeline.io));
    std::vector<std::string> told;
    timeline.io.Log().SetSink([&](const std::string& m) { told.push_back(m); });
    FakeSource source(timeline, kSize16x2);
    const TestRunRecord record = RunDisplayTest(driver, panel, timeline, BusWidth::Eight, source);
    // The bring-up under way ends (its writes are dropped); no cycle of the run
    // itself follows, and no rest.
    ExpectedBus expected;
    expected.Init(false, 0);
    EXPECT_EQ(timeline.events, expected.events);
    EXPECT_EQ(record.stopped, VanishingPort::kGone);
    EXPECT_EQ(told, std::vector<std::string>{VanishingPort::kGone});

    timeline.events.clear();
    const TestRunRecord next = RunDisplayTest(driver, panel, timeline, BusWidth::Four, source);
    EXPECT_EQ(next.refusal, VanishingPort::kGone);
    EXPECT_TRUE(timeline.events.empty());
    EXPECT_EQ(told, (std::vector<std::string>{VanishingPort::kGone, VanishingPort::kGone}));
}

}  // namespace
