#include <gtest/gtest.h>

#include <string>

#include "port/LinePanel.h"
#include "port/Readouts.h"
#include "res/Resource.h"
#include "support/BusTimeline.h"

namespace {

class LinePanelTest : public ::testing::Test {
protected:
    LinePanelTest() { panel.OnCloseupPort(); }
    BusTimeline timeline;  // first: a fresh port and line state
    RecordingLineView view;
    LinePanel panel{view};
};

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
TEST_F(LinePanelTest, CloseupPortRepointsWithoutWriting) {
    for (const auto& [selection, base] :
         {std::pair{1, 0x278u}, {2, 0x3BCu}, {-1, 0x378u}, {3, 0x378u}}) {
        view.selection = selection;
        panel.OnCloseupPort();
        EXPECT_EQ(g_lines.portBase, base) << selection;
        EXPECT_EQ(g_lines.controlPort, base + 2) << selection;
    }
    EXPECT_TRUE(timeline.events.empty());
}

// From rest, each line's Low, High, High again and Low: every click writes its
// register, a line already Low stays Low, and only its own bit moves.
TEST_F(LinePanelTest, EveryHandlerMovesItsOwnBitAndWritesOnlyItsRegister) {
    using Handler = void (LinePanel::*)();
    struct Case {
        Handler high, low;
        std::uint32_t address;
        std::uint8_t rest, set;  // the register byte with the line Low and High
        int highId, lowId;
    };
    const Case cases[] = {
        {&LinePanel::OnD0High, &LinePanel::OnD0Low, 0x378, 0x00, 0x01, IDC_D0_HIGH, IDC_D0_LOW},
        {&LinePanel::OnD1High, &LinePanel::OnD1Low, 0x378, 0x00, 0x02, IDC_D1_HIGH, IDC_D1_LOW},
        {&LinePanel::OnD2High, &LinePanel::OnD2Low, 0x378, 0x00, 0x04, IDC_D2_HIGH, IDC_D2_LOW},
        {&LinePanel::OnD3High, &LinePanel::OnD3Low, 0x378, 0x00, 0x08, IDC_D3_HIGH, IDC_D3_LOW},
        {&LinePanel::OnD4High, &LinePanel::OnD4Low, 0x378, 0x00, 0x10, IDC_D4_HIGH, IDC_D4_LOW},
        {&LinePanel::OnD5High, &LinePanel::OnD5Low, 0x378, 0x00, 0x20, IDC_D5_HIGH, IDC_D5_LOW},
        {&LinePanel::OnD6High, &LinePanel::OnD6Low, 0x378, 0x00, 0x40, IDC_D6_HIGH, IDC_D6_LOW},
        {&LinePanel::OnD7High, &LinePanel::OnD7Low, 0x378, 0x00, 0x80, IDC_D7_HIGH, IDC_D7_LOW},
        {&LinePanel::OnE0High, &LinePanel::OnE0Low, 0x37A, 0x03, 0x02, IDC_E0_HIGH, IDC_E0_LOW},
        {&LinePanel::OnRWHigh, &LinePanel::OnRWLow, 0x37A, 0x03, 0x01, IDC_RW_HIGH, IDC_RW_LOW},
        {&LinePanel::OnRSHigh, &LinePanel::OnRSLow, 0x37A, 0x03, 0x07, IDC_RS_HIGH, IDC_RS_LOW},
        {&LinePanel::OnE1High, &LinePanel::OnE1Low, 0x37A, 0x03, 0x0B, IDC_E1_HIGH, IDC_E1_LOW},
    };
    for (const Case& c : cases) {
        timeline.events.clear();
        for (const Handler click : {c.low, c.high, c.high, c.low}) {
            (panel.*click)();
            const bool high = click == c.high;
            EXPECT_EQ(timeline.Writes().back(), BusEvent::WriteOf(c.address, high ? c.set : c.rest))
                << c.highId;
            EXPECT_EQ(view.checks[c.highId], high) << c.highId;
            EXPECT_EQ(view.checks[c.lowId], !high) << c.lowId;
        }
        EXPECT_EQ(timeline.WriteCount(), 4u) << c.highId;
    }
}

}  // namespace
