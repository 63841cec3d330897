#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lcd/Geometry.h"
#include "sim/CharacterRom.h"
#include "sim/LcdController.h"

// Where a module's physical rows take their characters from, by module size
// index: the glass of lcd/Geometry.h, in the Size list's order.
inline constexpr int kModuleLayoutCount = kModuleSizeCount;

struct ModuleRow {
    std::vector<RowSegment> segments;  // left to right
    int Width() const;
};

// The size's name, columns by rows of the glass ("16x1", "40x4"), or "" for an
// index outside 0..9.
std::string ModuleSizeName(int sizeIndex);
// The physical rows, top first; none for an index outside 0..9.
std::vector<ModuleRow> ModuleRows(int sizeIndex);

// What one physical row shows: per position the character code, or nothing where
// no dot is lit (display off, a line the controller does not drive, an address
// without a DDRAM cell); and where the cursor or the blinking block stands.
struct VisibleRow {
    std::vector<std::optional<std::uint8_t>> codes;
    std::optional<int> cursorColumn;
};

// The rows of a module of the given size as its controllers' states show them,
// honouring the display shift; none for an index outside 0..9.
std::vector<VisibleRow> VisibleRows(int sizeIndex, const ControllerState& controller0,
                                    const ControllerState& controller1);

// The eight dot rows of a character code, top first, bit 4 the leftmost dot:
// codes 0-15 from CGRAM (8-15 repeat 0-7), the rest from the ROM.
std::array<std::uint8_t, kGlyphRows> GlyphRows(const ControllerState& controller,
                                               std::uint8_t code);
