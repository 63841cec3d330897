#include "sim/ModuleLayout.h"

#include <string>

namespace {

constexpr int kCgramGlyphs = kCgramBytes / kGlyphRows;  // CGRAM codes repeat after this
constexpr std::uint8_t kLineSelectBit = kSecondLineAddress;

// The DDRAM address that position `offset` of a segment shows. The display shift
// turns each line round on itself: 40 cells per line with two lines, all 80 with one.
std::optional<std::uint8_t> ShownAddress(const ControllerState& state, std::uint8_t start,
                                         int offset) {
    if (!state.twoLines) {
        // With one line the second line's commons are not driven.
        if (start & kLineSelectBit) return std::nullopt;
        return static_cast<std::uint8_t>((start + offset + state.displayShift) % kDdramBytes);
    }
    const std::uint8_t lineStart = start & kLineSelectBit;
    const int column = (start - lineStart + offset + state.displayShift) % kTwoLineLength;
    return static_cast<std::uint8_t>(lineStart + column);
}

}  // namespace

int ModuleRow::Width() const {
    int width = 0;
    for (const RowSegment& segment : segments) width += segment.width;
    return width;
}

std::string ModuleSizeName(int sizeIndex) {
    if (!IsModuleSizeIndex(sizeIndex)) return "";
    const Glass& glass = kModuleSizes[sizeIndex].glass;
    return std::to_string(glass.Columns()) + "x" + std::to_string(glass.rowCount);
}

std::vector<ModuleRow> ModuleRows(int sizeIndex) {
    std::vector<ModuleRow> rows;
    if (!IsModuleSizeIndex(sizeIndex)) return rows;
    const Glass& glass = kModuleSizes[sizeIndex].glass;
    for (int r = 0; r < glass.rowCount; ++r) {
        const Glass::Row& row = glass.rows[r];
        rows.push_back({{row.segments, row.segments + row.segmentCount}});
    }
    return rows;
}

std::vector<VisibleRow> VisibleRows(int sizeIndex, const ControllerState& controller0,
                                    const ControllerState& controller1) {
    std::vector<VisibleRow> visible;
    for (const ModuleRow& row : ModuleRows(sizeIndex)) {
        VisibleRow& out = visible.emplace_back();
        for (const RowSegment& segment : row.segments) {
            const ControllerState& state = segment.controller == 0 ? controller0 : controller1;
            const bool cursorShown = state.displayOn && (state.cursorOn || state.blinkOn) &&
                                     state.target == AddressTarget::Ddram;
            for (int offset = 0; offset < segment.width; ++offset) {
                const std::optional<std::uint8_t> address =
                    state.displayOn ? ShownAddress(state, segment.address, offset) : std::nullopt;
                const int cell = address ? DdramCell(state, *address) : -1;
                if (cell < 0) {
                    out.codes.emplace_back();
                    continue;
                }
                if (cursorShown && *address == state.addressCounter)
                    out.cursorColumn = static_cast<int>(out.codes.size());
                out.codes.emplace_back(state.ddram[cell]);
            }
        }
    }
    return visible;
}

std::array<std::uint8_t, kGlyphRows> GlyphRows(const ControllerState& controller,
                                               std::uint8_t code) {
    std::array<std::uint8_t, kGlyphRows> rows{};
    for (int r = 0; r < kGlyphRows; ++r) {
        const std::uint8_t dots = code < kFirstRomCode
                                      ? controller.cgram[(code % kCgramGlyphs) * kGlyphRows + r]
                                      : kCharacterRom[code - kFirstRomCode][r];
        rows[r] = dots & kGlyphDotMask;
    }
    return rows;
}
