// The line panel without the dialog: the readouts and the Port list's close-up. Each
// button's own line, a Low click on a Low line included, is checked through real
// clicks in MainDialogTest.
#include <gtest/gtest.h>

#include <string>

#include "port/LinePanel.h"
#include "port/Readouts.h"
#include "res/Resource.h"
#include "support/LineBench.h"

namespace {

class LinePanelTest : public ::testing::Test, protected LineBench {};

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

}  // namespace
