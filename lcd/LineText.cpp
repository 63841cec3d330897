#include "lcd/LineText.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint8_t kSpace = 0x20;
constexpr char kBackslash = '\\';
constexpr unsigned kLargestByteEscape = 255;
constexpr std::size_t kHalfWidth = 8;  // characters in each half of a "16x1" line

// The text as a C string would see it: up to its first '\0'.
std::string_view UpToTerminator(std::string_view text) {
    return text.substr(0, std::min(text.find('\0'), text.size()));
}

// Only the ten ASCII digits; never a Latin-1 character, whatever the locale.
constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr unsigned DigitValue(char c) {
    return static_cast<unsigned>(c - '0');
}

// The byte of a byte escape at `i` ("\ddd", value 0..255), or -1 when there is
// none. The digit tests stop at the first non-digit, so nothing past the end of
// the text is looked at.
int ByteEscapeAt(std::string_view text, std::size_t i) {
    if (text[i] != kBackslash) return -1;
    unsigned value = 0;
    for (std::size_t k = i + 1; k <= i + 3; ++k) {
        if (k >= text.size() || !IsDigit(text[k])) return -1;
        value = value * 10 + DigitValue(text[k]);
    }
    return value <= kLargestByteEscape ? static_cast<int>(value) : -1;
}

}  // namespace

std::vector<std::uint8_t> EncodeLineText(std::string_view text, unsigned columns) {
    text = UpToTerminator(text);
    std::array<std::uint8_t, kLineBufferSize> buffer;
    buffer.fill(kSpace);
    const std::size_t width = std::min(columns, kLineBufferSize);

    std::size_t i = 0;  // next typed character
    for (std::size_t o = 0; o < width && i < text.size(); ++o) {
        if (text[i] == kBackslash && i + 1 < text.size() && text[i + 1] == kBackslash) {
            buffer[o] = static_cast<std::uint8_t>(kBackslash);
            i += 2;
        } else if (const int byte = ByteEscapeAt(text, i); byte >= 0) {
            buffer[o] = static_cast<std::uint8_t>(byte);
            i += 4;
        } else {
            buffer[o] = static_cast<std::uint8_t>(text[i]);
            i += 1;
        }
    }

    std::vector<std::uint8_t> line(columns, kSpace);
    std::copy_n(buffer.begin(), width, line.begin());
    return line;
}

std::string_view SecondHalfText(std::string_view box1Text) {
    const std::string_view text = UpToTerminator(box1Text);
    return text.size() > kHalfWidth ? text.substr(kHalfWidth) : std::string_view{};
}
