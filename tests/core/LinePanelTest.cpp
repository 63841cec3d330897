#include <gtest/gtest.h>

#include <string>

#include "port/LinePanel.h"
#include "port/Readouts.h"
#include "res/Resource.h"
#include "support/BusTimeline.h"
#include "support/PortRecorder.h"

namespace {

class LinePanelTest : public ::testing::Test {
protected:
    LinePanelTest() { panel.OnCloseupPort(); }
    PortRecorder port;
    RecordingLineView view;
    LinePanel panel{view};
};

TEST(Readouts, TellingValues) {
    struct Case {
        std::uint8_t latch;
        const char* dec;
        const char* hex;
        const char* chr;
    };
    const Case cases[] = {
        {0x00, "0", "0x00", ""},      {0x0A, "10", "0x0A", ""},    {0x1F, "31", "0x1F", ""},
        {0x20, "32", "0x20", "' '"},  {0x27, "39", "0x27", "'''"}, {0x41, "65", "0x41", "'A'"},
        {0x7E, "126", "0x7E", "'~'"}, {0x7F, "127", "0x7F", ""},   {0x80, "128", "0x80", ""},
        {0xFF, "255", "0xFF", ""},
    };
    for (const Case& c : cases) {
        const Readouts r = FormatReadouts(c.latch);
        EXPECT_EQ(r.decimal, c.dec) << int(c.latch);
        EXPECT_EQ(r.hexadecimal, c.hex) << int(c.latch);
        EXPECT_EQ(r.character, c.chr) << int(c.latch);
    }
}

TEST(LineState, ControlRegisterByteInvertsOnlyE0AndRW) {
    const std::pair<std::uint8_t, std::uint8_t> table[] = {
        {0x00, 0x03}, {0x01, 0x02}, {0x02, 0x01}, {0x04, 0x07},
        {0x05, 0x06}, {0x08, 0x0B}, {0x0C, 0x0F}, {0x0F, 0x0C},
    };
    for (auto [flags, byte] : table) EXPECT_EQ(ControlRegisterByte(flags), byte) << int(flags);
}

TEST(LineState, PortSelectionMapping) {
    EXPECT_EQ(PortBaseForSelection(0), 0x378u);
    EXPECT_EQ(PortBaseForSelection(1), 0x278u);
    EXPECT_EQ(PortBaseForSelection(2), 0x3BCu);
    EXPECT_EQ(PortBaseForSelection(-1), 0x378u);
    EXPECT_EQ(PortBaseForSelection(3), 0x378u);
}

TEST_F(LinePanelTest, CloseupPortRepointsWithoutWriting) {
    view.selection = 1;
    panel.OnCloseupPort();
    EXPECT_EQ(g_lines.portBase, 0x278u);
    EXPECT_EQ(g_lines.controlPort, 0x27Au);
    view.selection = -1;
    panel.OnCloseupPort();
    EXPECT_EQ(g_lines.controlPort, 0x37Au);
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(LinePanelTest, DataClicksFromRestState) {
    panel.OnD6High();
    panel.OnD0High();
    EXPECT_EQ(port.writes, (std::vector<PortWrite>{{0x378, 0x40}, {0x378, 0x41}}));
    EXPECT_EQ(view.readouts[IDC_DEC], "65");
    EXPECT_EQ(view.readouts[IDC_HEX], "0x41");
    EXPECT_EQ(view.readouts[IDC_CHAR], "'A'");
    EXPECT_TRUE(view.checks[IDC_D6_HIGH]);
    EXPECT_FALSE(view.checks[IDC_D6_LOW]);
    EXPECT_TRUE(view.checks[IDC_D1_LOW]);
    panel.OnD7High();
    EXPECT_EQ(view.readouts[IDC_DEC], "193");
    EXPECT_EQ(view.readouts[IDC_CHAR], "");
}

TEST_F(LinePanelTest, EveryHandlerMovesItsOwnBitAndWritesOnlyItsRegister) {
    using Handler = void (LinePanel::*)();
    struct Case {
        Handler high, low;
        bool data;
        std::uint8_t mask;
        int highId;
    };
    const Case cases[] = {
        {&LinePanel::OnD0High, &LinePanel::OnD0Low, true, 0x01, IDC_D0_HIGH},
        {&LinePanel::OnD1High, &LinePanel::OnD1Low, true, 0x02, IDC_D1_HIGH},
        {&LinePanel::OnD2High, &LinePanel::OnD2Low, true, 0x04, IDC_D2_HIGH},
        {&LinePanel::OnD3High, &LinePanel::OnD3Low, true, 0x08, IDC_D3_HIGH},
        {&LinePanel::OnD4High, &LinePanel::OnD4Low, true, 0x10, IDC_D4_HIGH},
        {&LinePanel::OnD5High, &LinePanel::OnD5Low, true, 0x20, IDC_D5_HIGH},
        {&LinePanel::OnD6High, &LinePanel::OnD6Low, true, 0x40, IDC_D6_HIGH},
        {&LinePanel::OnD7High, &LinePanel::OnD7Low, true, 0x80, IDC_D7_HIGH},
        {&LinePanel::OnE0High, &LinePanel::OnE0Low, false, kLineE0, IDC_E0_HIGH},
        {&LinePanel::OnRWHigh, &LinePanel::OnRWLow, false, kLineRW, IDC_RW_HIGH},
        {&LinePanel::OnRSHigh, &LinePanel::OnRSLow, false, kLineRS, IDC_RS_HIGH},
        {&LinePanel::OnE1High, &LinePanel::OnE1Low, false, kLineE1, IDC_E1_HIGH},
    };
    for (const Case& c : cases) {
        port.writes.clear();
        (panel.*c.high)();
        (panel.*c.high)();  // already High: written again all the same
        const std::uint32_t address = c.data ? 0x378 : 0x37A;
        const std::uint8_t expected = c.data ? c.mask : ControlRegisterByte(c.mask);
        EXPECT_EQ(port.writes, (std::vector<PortWrite>{{address, expected}, {address, expected}}));
        EXPECT_TRUE(view.checks[c.highId]);
        (panel.*c.low)();
        EXPECT_EQ(g_lines.dataLatch | g_lines.controlFlags, 0);
        EXPECT_FALSE(view.checks[c.highId]);
    }
}

}  // namespace
