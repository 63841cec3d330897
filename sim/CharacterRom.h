#pragma once

#include <cstdint>

// The controller's character generator: codes 0x00-0x0F come from CGRAM (eight
// user glyphs, each reachable by two codes), the rest from the mask ROM.
inline constexpr int kGlyphRows = 8;                 // 5x8 dots, cursor row last
inline constexpr std::uint8_t kGlyphDotMask = 0x1F;  // bit 4 leftmost, bit 0 rightmost
inline constexpr std::uint8_t kFirstRomCode = 0x10;  // below: CGRAM
inline constexpr int kRomGlyphCount = 0x100 - kFirstRomCode;

// ROM glyph of code kFirstRomCode + i, top dot row first.
extern const std::uint8_t kCharacterRom[kRomGlyphCount][kGlyphRows];
