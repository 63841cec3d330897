#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/LcdController.h"
#include "sim/ModuleLayout.h"

namespace {

// Which rows each size has, and from which addresses: ExpectModuleShows in
// SimulatedRunTest, against the driver's own line addresses; each size's name
// there too, in the status lines.
TEST(ModuleLayout, NoRowsOutsideTheList) {
    for (int bad : {-1, kModuleSizeCount}) EXPECT_TRUE(ModuleRows(bad).empty()) << bad;
}

// A two-line controller whose cells hold '0'..'9' over and over on each line.
ControllerState Filled() {
    ControllerState s;
    s.twoLines = s.displayOn = true;
    for (int cell = 0; cell < kDdramBytes; ++cell)
        s.ddram[cell] = static_cast<std::uint8_t>('0' + cell % kTwoLineLength % 10);
    return s;
}

std::vector<std::string> Rows(int size, const ControllerState& c0,
                              const ControllerState& c1 = ControllerState{}) {
    std::vector<std::string> rows;
    for (const VisibleRow& row : VisibleRows(size, c0, c1)) {
        std::string text;
        for (const auto& code : row.codes) text += code ? static_cast<char>(*code) : '_';
        if (row.cursorColumn) text.insert(*row.cursorColumn, "^");
        rows.push_back(text);
    }
    return rows;
}

TEST(VisibleRows, ShiftCursorDarkLines) {
    ControllerState s = Filled();
    s.displayShift = kDdramBytes - 3;  // three to the right: each line turns on itself
    EXPECT_EQ(Rows(0, s), (std::vector<std::string>{"78901234", "78901234"}));
    s.displayShift = 2;
    s.blinkOn = true;
    s.addressCounter = 0x43;
    EXPECT_EQ(Rows(2, s), (std::vector<std::string>{"234567892^3456789"}));
    EXPECT_EQ(Rows(9, s)[2], std::string(40, '_'));  // controller 1 is off
    s.target = AddressTarget::Cgram;                 // no cursor while the address is in CGRAM
    EXPECT_EQ(Rows(2, s), (std::vector<std::string>{"2345678923456789"}));
    // One line: the second line's commons go dark, line 3 of 16x4 continues line 1.
    s.twoLines = false;
    s.displayShift = 0;
    EXPECT_EQ(Rows(2, s), (std::vector<std::string>{"01234567________"}));
    EXPECT_EQ(Rows(6, s)[2], "6789012345678901");
    s.displayOn = false;
    EXPECT_EQ(Rows(6, s)[0], std::string(16, '_'));
}

TEST(GlyphRows, CgramTwiceThenRom) {
    ControllerState s;
    const std::uint8_t glyph[kGlyphRows] = {0x04, 0x0A, 0x04, 0x07, 0x04, 0x06, 0x01, 0xE1};
    std::copy(glyph, glyph + kGlyphRows, s.cgram.begin() + 3 * kGlyphRows);
    for (std::uint8_t code : {3, 11}) {
        const auto rows = GlyphRows(s, code);
        for (int r = 0; r < kGlyphRows; ++r) EXPECT_EQ(rows[r], glyph[r] & 0x1F) << int(code);
    }
    EXPECT_EQ(GlyphRows(s, 'A'),
              (std::array<std::uint8_t, kGlyphRows>{0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0}));
    EXPECT_EQ(GlyphRows(s, 0x5C)[0], 0x11);  // the yen sign, not a backslash
}

}  // namespace
