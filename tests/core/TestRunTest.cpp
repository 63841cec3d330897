// The line panel, the module driver and the test run over a recording port,
// as the dialog holds them. The panel without the dialog: the readouts and the
// Port list's close-up (each button's own line, a Low click on a Low line
// included, is checked through real clicks in MainDialogTest). The driver's
// cycles, and whole runs, against the bus rules as ExpectedBus builds them. And
// what a run makes of the text in a line box.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "io/transports/Simulated.h"
#include "lcd/Geometry.h"
#include "lcd/LineText.h"
#include "lcd/ModuleDriver.h"
#include "lcd/TestRun.h"
#include "port/LinePanel.h"
#include "port/Readouts.h"
#include "res/Resource.h"
#include "res/Strings.h"
#include "support/LineBench.h"

namespace {

class LineBenchTest : public ::testing::Test, protected LineBench {};

TEST(Readouts, TellingValues) {
    struct Case {
        std::uint8_t latch;
        const char *dec, *hex, *chr;
    };
    const Case cases[] = {
        {0x00, "0", "0x00", ""},      {0x0A, "10", "0x0A", ""},    {0x1F, "31", "0x1F", ""},
        {0x20, "32", "0x20", "' '"},  {0x27, "39", "0x27", "'''"}, {0x41, "65", "0x41", "'A'"},
        {0x7E, "126", "0x7E", "'~'"}, {0x7F, "127", "0x7F", ""},   {0x80, "128", "0x80", ""},
        {0xFF, "255", "0xFF", ""},
    };
    for (const Case& c : cases) {
        const Readouts r = FormatReadouts(c.latch);
        EXPECT_EQ(r.decimal + " " + r.hexadecimal + " " + r.character,
                  std::string(c.dec) + " " + c.hex + " " + c.chr);
    }
}

// Any selection but the second and third port, none included, means the first.
TEST_F(LineBenchTest, CloseupPortRepointsWithoutWriting) {
    for (const auto& [selection, base] :
         {std::pair{1, 0x278u}, {2, 0x3BCu}, {-1, 0x378u}, {3, 0x378u}}) {
        view.selection = selection;
        panel.OnCloseupPort();
        EXPECT_EQ(g_lines.portBase, base) << selection;
        EXPECT_EQ(g_lines.controlPort, base + 2) << selection;
    }
    EXPECT_TRUE(timeline.events.empty());
}

// Every cycle on both buses, sleeps included, to each controller number; an
// enable line already high by hand stays high through cycles to the other one.
TEST_F(LineBenchTest, EveryDriverCycleFollowsTheBusRules) {
    using Pair = std::pair<std::uint8_t, std::uint8_t>;  // controller, control flags by hand
    for (const auto& [controller, byHand] :
         {Pair{0, 0}, {1, 0}, {2, 0}, {255, 0}, {0, kLineE1}, {1, kLineE0}}) {
        g_lines.controlFlags = byHand;
        timeline.events.clear();
        driver.WriteCommand8(0x38, controller);
        driver.WriteData8(0xFF, controller);
        driver.WriteCommand4(0x28, controller);
        driver.WriteData4(0x30, controller);  // low nibble 0: still two transfers
        ExpectedBus expected(byHand);
        expected.Cycle(false, false, 0x38, controller);
        expected.Cycle(true, false, 0xFF, controller);
        expected.Cycle(false, true, 0x28, controller);
        expected.Cycle(true, true, 0x30, controller);
        EXPECT_EQ(timeline.events, expected.events) << int(controller) << " " << int(byHand);
    }
}

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

// E1 set by hand stays high through the run; only its end rests it.
TEST_F(LineBenchTest, LinesSetByHandStayUntilTheFinalRest) {
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

TEST_F(LineBenchTest, NoSizeSelectedTouchesNothing) {
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

using Bytes = std::vector<std::uint8_t>;
using namespace std::string_literals;

// `written` followed by spaces up to `columns`.
Bytes Padded(std::string_view written, unsigned columns) {
    Bytes line(columns, 0x20);
    for (std::size_t k = 0; k < written.size() && k < columns; ++k) line[k] = written[k];
    return line;
}

TEST(EncodeLineText, Table) {
    struct Case {
        std::string text;
        unsigned columns;
        std::string written;  // the rest of the line is spaces
        const char* remark;
    };
    const std::string forty(40, 'x'), thirtyNine(39, 'y');
    const Case cases[] = {
        {"", 16, "", "a line is always sent in full"},
        {"\\065B", 16, "AB", "byte escape, then an ordinary character"},
        {"\\\\", 16, "\\", "backslash escape: two typed, one written"},
        {"\\\\065", 16, "\\065", "digits after a backslash escape are ordinary"},
        {"\\255", 16, "\xFF", "the largest byte escape"},
        {"\\256", 16, "\\256", "above 255: four ordinary characters"},
        {"\\000AB", 4, "\0AB"s, "code 0, custom character 0, does not end the line"},
        {"\\0650", 16, "A0", "only three digits belong to the escape"},
        {"\\07", 16, "\\07", "the text ends after two digits"},
        {"\\06x", 16, "\\06x", "the third character is no digit"},
        {"\\n", 16, "\\n", "a backslash before a letter is ordinary"},
        {"A\\", 16, "A\\", "a backslash at the end of the text is ordinary"},
        {thirtyNine + "\\065", 40, thirtyNine + "A", "the escape fills the last position"},
        {forty + "\\065", 40, forty, "the escape is never consumed"},
        {"\\\\\\065", 16, "\\A", "a backslash escape, then a byte escape"},
        {"\\0\2625", 16, "\\0\2625", "Latin-1 superscript two (octal 262) is no digit"},
        {"\xE9t\xE9", 16, "\xE9t\xE9", "Latin-1 letters are written unchanged"},
        {"AB", 0, "", "a line without positions consumes nothing"},
        {"AB\0CD"s, 8, "AB", "a zero character ends the text"},
        {std::string(300, 'q'), 200, std::string(120, 'q'), "past the 120-byte buffer: spaces"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EncodeLineText(c.text, c.columns), Padded(c.written, c.columns)) << c.remark;

    // The view ends inside a longer string: the escape must not see the digits after it.
    const std::string_view whole = "A\\065";
    EXPECT_EQ(EncodeLineText(whole.substr(0, 3), 8), Padded("A\\0", 8));
    EXPECT_EQ(EncodeLineText(whole.substr(0, 2), 8), Padded("A\\", 8));
}

TEST(SixteenByOneHalves, Table) {
    struct Case {
        std::string box1, first, second;  // each half: of the 8 positions, the rest spaces
    };
    const Case cases[] = {
        {"ABC", "ABC", ""},
        {"\\065BCDEFGHIJK", "ABCDEFGH", "FGHIJK"},
        {"ABCDEFG\\\\065Z", "ABCDEFG\\", "AZ"},
        {"*TORV-1601 16x1*", "*TORV-16", "01 16x1*"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeLineText(c.box1, 8), Padded(c.first, 8)) << c.box1;
        EXPECT_EQ(EncodeLineText(SecondHalfText(c.box1), 8), Padded(c.second, 8)) << c.box1;
    }
}

}  // namespace
