#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The line buffer a line is encoded into; no line is wider.
inline constexpr unsigned kLineBufferSize = 120;

// Turns the text of one line box into the bytes of one display line, exactly
// `columns` of them: "\\" gives one backslash, a backslash and three decimal
// digits of value 0..255 give that byte, every other character (a backslash that
// starts neither escape, Latin-1 128..255) is its own byte. The text ends at its
// end or at its first '\0', whichever comes first, as a C string would; a longer
// text is cut where the line is full, a shorter one is followed by spaces. At most
// 4 x `columns` characters are ever looked at.
//
// A `columns` above kLineBufferSize is clamped to the buffer: only the first 120
// positions are encoded, the rest of the `columns` bytes are spaces.
std::vector<std::uint8_t> EncodeLineText(std::string_view text, unsigned columns);

// The text of a "16x1" module's second half: box 1's typed characters from the
// 9th on, before any escape is decoded; empty when box 1 has 8 characters or fewer.
// The result views `box1Text`.
std::string_view SecondHalfText(std::string_view box1Text);
