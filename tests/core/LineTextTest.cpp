#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "lcd/LineText.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// `written` followed by spaces up to `columns`.
Bytes Padded(const Bytes& written, unsigned columns) {
    Bytes line(columns, 0x20);
    for (std::size_t k = 0; k < written.size() && k < columns; ++k) line[k] = written[k];
    return line;
}

Bytes BytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

std::string Repeat(std::string_view s, int times) {
    std::string out;
    for (int k = 0; k < times; ++k) out += s;
    return out;
}

struct EncodingCase {
    std::string text;
    unsigned columns;
    Bytes written;  // the rest of the line is spaces
    const char* remark;
};

TEST(EncodeLineText, Table) {
    const std::string forty(40, 'x');
    const std::string thirtyNine(39, 'y');
    const EncodingCase cases[] = {
        {"", 16, {}, "a line is always sent in full"},
        {"\\065B", 16, {0x41, 0x42}, "byte escape, then an ordinary character"},
        {"\\\\", 16, {0x5C}, "backslash escape: two typed, one written"},
        {"\\\\065", 16, {0x5C, 0x30, 0x36, 0x35}, "digits after a backslash escape are ordinary"},
        {"\\255", 16, {0xFF}, "the largest byte escape"},
        {"\\256", 16, {0x5C, 0x32, 0x35, 0x36}, "above 255: four ordinary characters"},
        {"\\000", 16, {0x00}, "code 0, custom character 0"},
        {"\\0650", 16, {0x41, 0x30}, "only three digits belong to the escape"},
        {"\\07", 16, {0x5C, 0x30, 0x37}, "the text ends after two digits"},
        {"\\06x", 16, {0x5C, 0x30, 0x36, 0x78}, "the third character is no digit"},
        {"\\n", 16, {0x5C, 0x6E}, "a backslash before a letter is ordinary"},
        {"A\\", 16, {0x41, 0x5C}, "a backslash at the end of the text is ordinary"},
        {"ABCDEFGHIJ", 8, BytesOf("ABCDEFGH"), "I and J are never consumed"},
        {Repeat("\\065", 40), 40, Bytes(40, 0x41), "the longest text one line can consume"},
        {thirtyNine + "\\065", 40, BytesOf(thirtyNine + "A"), "the escape fills the last position"},
        {forty + "\\065", 40, BytesOf(forty), "the escape is never consumed"},
        // Beyond the table: values around the limits and characters that are no digits.
        {"\\999", 16, BytesOf("\\999"), "the largest three-digit value is no byte"},
        {"\\300x", 16, BytesOf("\\300x"), "300 is four ordinary characters"},
        {"\\\\\\065", 16, {0x5C, 0x41}, "a backslash escape, then a byte escape"},
        {"\\0\xB2"
         "5",
         16,
         {0x5C, 0x30, 0xB2, 0x35},
         "Latin-1 superscript two is no digit"},
        {"\xE9t\xE9", 16, {0xE9, 0x74, 0xE9}, "Latin-1 letters are written unchanged"},
        {"\\", 16, {0x5C}, "a lone backslash"},
        {"AB", 0, {}, "a line without positions consumes nothing"},
        {"\\007\\001", 16, {0x07, 0x01}, "custom characters 7 and 1"},
    };
    for (const EncodingCase& c : cases) {
        EXPECT_EQ(EncodeLineText(c.text, c.columns), Padded(c.written, c.columns)) << c.remark;
    }
}

TEST(EncodeLineText, ZeroByteWrittenByAnEscapeDoesNotEndTheLine) {
    EXPECT_EQ(EncodeLineText("\\000AB", 4), (Bytes{0x00, 0x41, 0x42, 0x20}));
}

TEST(EncodeLineText, ZeroCharacterInTheTextEndsIt) {
    using namespace std::string_view_literals;
    EXPECT_EQ(EncodeLineText("AB\0CD"sv, 8), Padded(BytesOf("AB"), 8));
    EXPECT_EQ(EncodeLineText("\\06\0"
                             "5"sv,
                             8),
              Padded(BytesOf("\\06"), 8));
    EXPECT_EQ(EncodeLineText("\0ABC"sv, 4), Bytes(4, 0x20));
}

TEST(EncodeLineText, NeverLooksPastTheEndOfTheView) {
    // The view ends inside a longer string: the escape must not see the digits after it.
    const std::string whole = "A\\065";
    EXPECT_EQ(EncodeLineText(std::string_view(whole).substr(0, 3), 8), Padded(BytesOf("A\\0"), 8));
    EXPECT_EQ(EncodeLineText(std::string_view(whole).substr(0, 2), 8), Padded(BytesOf("A\\"), 8));
}

// Wider than the 120-byte line buffer: the first 120 positions are encoded, the
// rest are spaces, and the result still has `columns` bytes.
TEST(EncodeLineText, WiderThanTheBufferIsClampedAndPadded) {
    const Bytes line = EncodeLineText(std::string(300, 'q'), 200);
    ASSERT_EQ(line.size(), 200u);
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 120), Bytes(120, 'q'));
    EXPECT_EQ(Bytes(line.begin() + 120, line.end()), Bytes(80, 0x20));
    EXPECT_EQ(EncodeLineText(std::string(120, 'q'), 120), Bytes(120, 'q'));
}

struct HalvesCase {
    std::string box1;
    std::string first;  // of the 8 positions, the rest spaces
    std::string second;
};

TEST(SixteenByOneHalves, Table) {
    const HalvesCase cases[] = {
        {"ABCDEFGHIJKLMNOP", "ABCDEFGH", "IJKLMNOP"},
        {"ABC", "ABC", ""},
        {"ABCDEFGH", "ABCDEFGH", ""},
        {"\\065BCDEFGHIJK", "ABCDEFGH", "FGHIJK"},
        {"ABCDEF\\065XYZ", "ABCDEFAX", "65XYZ"},
        {"ABCDEFG\\\\065Z", "ABCDEFG\\", "AZ"},
        {"*TORV-1601 16x1*", "*TORV-16", "01 16x1*"},
    };
    for (const HalvesCase& c : cases) {
        EXPECT_EQ(EncodeLineText(c.box1, 8), Padded(BytesOf(c.first), 8)) << c.box1;
        EXPECT_EQ(EncodeLineText(SecondHalfText(c.box1), 8), Padded(BytesOf(c.second), 8))
            << c.box1;
    }
}

}  // namespace
