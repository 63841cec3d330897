#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/LcdController.h"
#include "sim/ModuleLayout.h"

namespace {

// "c:aa+w" per segment, segments joined by ' ', rows by '|'.
std::string Describe(int size) {
    std::string text;
    for (const ModuleRow& row : ModuleRows(size)) {
        if (!text.empty()) text += '|';
        for (const RowSegment& s : row.segments) {
            char part[16];
            std::snprintf(part, sizeof part, "%s%d:%02X+%d", &s == &row.segments[0] ? "" : " ",
                          s.controller, s.address, s.width);
            text += part;
        }
    }
    return text;
}

TEST(ModuleLayout, RowsOfTheIrregularSizes) {
    EXPECT_EQ(Describe(0), "0:00+8|0:40+8");
    EXPECT_EQ(Describe(2), "0:00+8 0:40+8");
    EXPECT_EQ(Describe(6), "0:00+16|0:40+16|0:10+16|0:50+16");
    EXPECT_EQ(Describe(7), "0:00+20|0:40+20|0:14+20|0:54+20");
    EXPECT_EQ(Describe(9), "0:00+40|0:40+40|1:00+40|1:40+40");
    EXPECT_STREQ(ModuleSizeName(2), "16x1");
    for (int bad : {-1, kModuleLayoutCount}) {
        EXPECT_TRUE(ModuleRows(bad).empty());
        EXPECT_STREQ(ModuleSizeName(bad), "");
    }
    // Each size's name is its columns by its rows.
    for (int size = 0; size < kModuleLayoutCount; ++size) {
        const auto rows = ModuleRows(size);
        EXPECT_EQ(std::to_string(rows[0].Width()) + "x" + std::to_string(rows.size()),
                  ModuleSizeName(size));
    }
}

class VisibleRowsTest : public ::testing::Test {
protected:
    VisibleRowsTest() {
        clock.AdvanceMicros(kPowerOnBusyMicros);
        for (std::uint8_t v : {0x38, 0x38, 0x38, 0x0C, 0x01}) Command(v);
    }
    void Command(std::uint8_t v) { Send(false, v); }
    void Send(bool rs, std::uint8_t v) {
        lcd.LatchWrite(rs, v);
        clock.AdvanceMicros(5000);
    }
    void Fill() {  // '0'..'9' repeated from address 0 on each line
        for (std::uint8_t line : {0x80, 0xC0}) {
            Command(line);
            for (int i = 0; i < 40; ++i) Send(true, static_cast<std::uint8_t>('0' + i % 10));
        }
    }
    std::vector<std::string> Rows(int size) const {
        std::vector<std::string> rows;
        for (const VisibleRow& row : VisibleRows(size, lcd.State(), other.State())) {
            std::string text;
            for (const auto& code : row.codes) text += code ? static_cast<char>(*code) : '_';
            if (row.cursorColumn) text.insert(*row.cursorColumn, "^");
            rows.push_back(text);
        }
        return rows;
    }

    VirtualClock clock;
    LcdController lcd{clock};
    LcdController other{clock};  // controller 1, display off
};

TEST_F(VisibleRowsTest, ShiftWrapsEachLineOnItself) {
    Fill();
    EXPECT_EQ(Rows(0), (std::vector<std::string>{"01234567", "01234567"}));
    for (int i = 0; i < 3; ++i) Command(0x1C);  // display right three times
    EXPECT_EQ(Rows(0), (std::vector<std::string>{"78901234", "78901234"}));
    for (int i = 0; i < 5; ++i) Command(0x18);  // then left five
    EXPECT_EQ(Rows(2), (std::vector<std::string>{"2345678923456789"}));
}

TEST_F(VisibleRowsTest, CursorDisplayOffAndOneLine) {
    Fill();
    Command(0x0E);  // cursor on
    Command(0xC2);
    EXPECT_EQ(Rows(2), (std::vector<std::string>{"0123456701^234567"}));
    EXPECT_EQ(Rows(9)[2], std::string(40, '_'));  // controller 1 is off
    Command(0x30);                                // one line: the second line's half goes dark
    Command(0x80);
    EXPECT_EQ(Rows(2), (std::vector<std::string>{"^01234567________"}));
    EXPECT_EQ(Rows(6)[2], "6789012345678901");  // line 3 continues line 1
    Command(0x08);
    EXPECT_EQ(Rows(6)[0], std::string(16, '_'));
}

}  // namespace
