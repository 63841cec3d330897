#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "lcd/Geometry.h"
#include "lcd/ModuleDriver.h"
#include "lcd/TestRun.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "support/BusTimeline.h"
#include "support/PortRecorder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// The dialog as a run sees it. Every box read is put on the time line, and the
// size selection answers another size after its first read, so a second read would show.
class FakeSource final : public TestRunSource {
public:
    FakeSource(BusTimeline& timeline, int size) : timeline_(timeline), size_(size) {}

    int SizeSelection() const override { return sizeReads++ == 0 ? size_ : kLaterSize; }
    std::string LineBoxText(int id) const override {
        timeline_.events.push_back(BusEvent::FetchOf(id));
        const auto it = texts.find(id);
        return it == texts.end() ? std::string() : it->second;
    }

    std::map<int, std::string> texts;
    mutable int sizeReads = 0;

private:
    static constexpr int kLaterSize = kSize40x4;
    BusTimeline& timeline_;
    int size_;
};

// One display line as the module should receive it.
struct ExpectedLine {
    std::uint8_t address;
    int box;
    Bytes bytes;
};

// One controller's share of a run, from the rules: its initialisation, then every
// cycle the run starts itself after a 2 ms sleep, each box read right after its
// line's address command.
void ExpectController(ExpectedBus& e, bool fourBit, std::uint8_t c,
                      const std::vector<ExpectedLine>& lines) {
    const auto command = [&](std::uint8_t v) {
        e.Sleep(2);
        e.Command(fourBit, v, c);
    };
    const auto data = [&](std::uint8_t v) {
        e.Sleep(2);
        e.Data(fourBit, v, c);
    };
    e.Init(fourBit, c);
    for (const ExpectedLine& line : lines) {
        command(line.address);
        e.Fetch(line.box);
        for (const std::uint8_t b : line.bytes) data(b);
    }
    command(0x0C);
    command(0x40);
    for (const std::uint8_t row : kGlyphTable) data(row);
}

// The bytes a module would have taken in. On the 4-bit bus each controller's
// initialisation opens with four single transfers (its 8-bit function sets); every
// later byte comes as two nibbles, high first.
std::vector<LatchedTransfer> ReceivedBytes(const std::vector<BusEvent>& events, bool fourBit) {
    const std::vector<LatchedTransfer> transfers = DecodeTransfers(events);
    if (!fourBit) return transfers;
    std::vector<LatchedTransfer> bytes;
    std::map<int, int> seen;                  // transfers so far, per controller
    std::map<int, LatchedTransfer> highHalf;  // a high nibble waiting for its low one
    for (const LatchedTransfer& t : transfers) {
        if (seen[t.controller]++ < 4) {
            bytes.push_back(t);
        } else if (const auto it = highHalf.find(t.controller); it == highHalf.end()) {
            highHalf.emplace(t.controller, t);
        } else {
            LatchedTransfer whole = it->second;
            whole.data = static_cast<std::uint8_t>(whole.data | (t.data >> 4));
            bytes.push_back(whole);
            highHalf.erase(it);
        }
    }
    return bytes;
}

// What the controllers took in after an initialisation, split by RS, and the boxes
// read on the way.
struct AfterInit {
    Bytes commands, data;
    std::vector<int> boxes;
};

AfterInit ReceivedAfterInit(const std::vector<BusEvent>& events, bool fourBit) {
    const std::size_t initCycles = fourBit ? 4 + 6 : 9;
    const std::vector<LatchedTransfer> received = ReceivedBytes(events, fourBit);
    AfterInit after;
    for (std::size_t k = initCycles; k < received.size(); ++k)
        (received[k].rs ? after.data : after.commands).push_back(received[k].data);
    for (const BusEvent& e : events)
        if (e.kind == BusEvent::Fetch) after.boxes.push_back(static_cast<int>(e.where));
    return after;
}

class TestRunTest : public ::testing::TestWithParam<BusWidth> {
protected:
    TestRunTest() { panel.OnCloseupPort(); }

    bool FourBit() const { return GetParam() == BusWidth::Four; }
    void Run(const FakeSource& source) {
        RunDisplayTest(driver, panel, timeline, GetParam(), source);
    }

    PortRecorder port;
    RecordingLineView view;
    LinePanel panel{view};
    BusTimeline timeline;
    ModuleDriver driver{panel, timeline};
};

INSTANTIATE_TEST_SUITE_P(BothWidths, TestRunTest,
                         ::testing::Values(BusWidth::Eight, BusWidth::Four), [](const auto& info) {
                             return info.param == BusWidth::Eight ? "EightBit" : "FourBit";
                         });

TEST_P(TestRunTest, EightByTwoWriteForWrite) {
    FakeSource source(timeline, kSize8x2);
    source.texts[IDC_LINE1] = "Hi\\007\\\\x";
    source.texts[IDC_LINE2] = "0123456789";
    source.texts[IDC_LINE3] = "never read";
    Run(source);

    ExpectedBus expected;
    ExpectController(expected, FourBit(), 0,
                     {{0x80, IDC_LINE1, {'H', 'i', 0x07, '\\', 'x', ' ', ' ', ' '}},
                      {0xC0, IDC_LINE2, BytesOf("01234567")}});
    expected.RestAll();
    EXPECT_EQ(timeline.events, expected.events);
    EXPECT_EQ(source.sizeReads, 1);
    EXPECT_EQ(g_lines.dataLatch, 0);
    EXPECT_EQ(g_lines.controlFlags, 0);
}

// Controller 0 is finished, glyphs included, before controller 1 is initialised;
// controller 1 addresses its lines with 0x80 and 0xC0 again, from boxes 3 and 4.
TEST_P(TestRunTest, FortyByFourFinishesE0BeforeE1) {
    FakeSource source(timeline, kSize40x4);
    for (int n = 0; n < 4; ++n) source.texts[IDC_LINE1 + n] = std::string(40, char('A' + n));
    Run(source);

    const auto& events = timeline.events;
    const auto powerOnWait = [](const BusEvent& e) { return e == BusEvent::SleepOf(40); };
    const auto first = std::find_if(events.begin(), events.end(), powerOnWait);
    const auto second = std::find_if(first + 1, events.end(), powerOnWait);
    ASSERT_NE(second, events.end());
    const std::vector<BusEvent> before(events.begin(), second), after(second, events.end());

    const auto linesAndGlyphs = [](char box1, char box2) {
        Bytes bytes(40, box1);
        bytes.insert(bytes.end(), 40, box2);
        bytes.insert(bytes.end(), std::begin(kGlyphTable), std::end(kGlyphTable));
        return bytes;
    };
    struct Half {
        const std::vector<BusEvent>& events;
        int controller;
        Bytes data;
        std::vector<int> boxes;
    };
    const Half halves[] = {
        {before, 0, linesAndGlyphs('A', 'B'), {IDC_LINE1, IDC_LINE2}},
        {after, 1, linesAndGlyphs('C', 'D'), {IDC_LINE3, IDC_LINE4}},
    };
    for (const Half& half : halves) {
        for (const LatchedTransfer& t : DecodeTransfers(half.events))
            EXPECT_EQ(t.controller, half.controller);
        const AfterInit got = ReceivedAfterInit(half.events, FourBit());
        EXPECT_EQ(got.commands, (Bytes{0x80, 0xC0, 0x0C, 0x40})) << half.controller;
        EXPECT_EQ(got.data, half.data) << half.controller;
        EXPECT_EQ(got.boxes, half.boxes) << half.controller;
    }
}

TEST_P(TestRunTest, E1SetByHandStaysHighUntilTheFinalReset) {
    panel.OnE1High();
    panel.OnD3High();
    port.writes.clear();
    FakeSource source(timeline, kSize16x2);
    Run(source);
    const Bytes control = port.ValuesAt(kControlRegister);
    ASSERT_FALSE(control.empty());
    for (std::size_t k = 0; k + 1 < control.size(); ++k)
        EXPECT_TRUE((control[k] ^ kControlInvertMask) & kLineE1) << k;
    EXPECT_EQ(control.back(), 0x03);
    EXPECT_EQ(port.writes.end()[-2], (PortWrite{kDataRegister, 0x00}));
    EXPECT_EQ(g_lines.controlFlags, 0);
    EXPECT_TRUE(view.checks[IDC_E1_LOW]);
}

TEST_P(TestRunTest, NoSizeSelectedTouchesNothing) {
    panel.OnE1High();
    panel.OnD3High();
    const LineState before = g_lines;
    timeline.events.clear();
    for (const int selection : {-1, kModuleSizeCount, 100}) {
        FakeSource source(timeline, selection);
        source.texts[IDC_LINE1] = "ABC";
        Run(source);
        EXPECT_EQ(source.sizeReads, 1);
    }
    EXPECT_TRUE(timeline.events.empty());
    EXPECT_EQ(g_lines.dataLatch, before.dataLatch);
    EXPECT_EQ(g_lines.controlFlags, before.controlFlags);
}

// Sums of the run's writes and requested delays, and its bus cycles.
TEST(TestRunTotals, MatchThePerformanceTable) {
    struct Case {
        int size;
        BusWidth width;
        std::size_t writes;
        std::uint64_t millis;
        std::size_t eightBitCycles, fourBitCycles;
    };
    const Case cases[] = {
        {kSize16x2, BusWidth::Eight, 547, 599, 109, 0},
        {kSize16x2, BusWidth::Four, 870, 813, 4, 106},
        {kSize40x4, BusWidth::Eight, 1572, 1582, 314, 0},
        {kSize40x4, BusWidth::Four, 2506, 2202, 8, 308},
    };
    for (const Case& c : cases) {
        PortRecorder port;
        RecordingLineView view;
        LinePanel panel{view};
        panel.OnCloseupPort();
        BusTimeline timeline;
        ModuleDriver driver{panel, timeline};
        FakeSource source(timeline, c.size);
        for (int n = 0; n < 4; ++n) source.texts[IDC_LINE1 + n] = kSizeDemos[c.size].lineText[n];

        RunDisplayTest(driver, panel, timeline, c.width, source);
        const char* what = c.width == BusWidth::Eight ? " 8-bit" : " 4-bit";
        EXPECT_EQ(timeline.WriteCount(), c.writes) << kSizeDemos[c.size].name << what;
        EXPECT_EQ(timeline.SleptMillis(), c.millis) << kSizeDemos[c.size].name << what;
        EXPECT_EQ(DecodeTransfers(timeline.events).size(), c.eightBitCycles + 2 * c.fourBitCycles)
            << kSizeDemos[c.size].name << what;
    }
}

}  // namespace
