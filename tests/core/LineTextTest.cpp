#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "lcd/LineText.h"

namespace {

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
