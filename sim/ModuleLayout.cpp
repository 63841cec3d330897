#include "sim/ModuleLayout.h"

#include <string>

namespace {

constexpr int kMaxRows = 4;
constexpr int kMaxSegments = 2;
constexpr int kCgramGlyphs = kCgramBytes / kGlyphRows;  // CGRAM codes repeat after this
constexpr std::uint8_t kLineSelectBit = kSecondLineAddress;

// Lines 3 and 4 of four-line modules continue lines 1 and 2 of the controller.
constexpr std::uint8_t kLine3Of16 = 0x10;
constexpr std::uint8_t kLine4Of16 = 0x50;
constexpr std::uint8_t kLine3Of20 = 0x14;
constexpr std::uint8_t kLine4Of20 = 0x54;
constexpr std::uint8_t kLine1 = 0x00;
constexpr std::uint8_t kLine2 = kSecondLineAddress;

struct LayoutRow {
    int segmentCount;
    RowSegment segments[kMaxSegments];
};

struct Layout {
    int rowCount;
    LayoutRow rows[kMaxRows];
};

constexpr LayoutRow TwoLineRow(std::uint8_t address, int width, int controller = 0) {
    return {1, {{controller, address, width}, {}}};
}

// In the Size list's order; each comment is the name the rows give.
constexpr Layout kLayouts[kModuleLayoutCount] = {
    // 8x2
    {2, {TwoLineRow(kLine1, 8), TwoLineRow(kLine2, 8)}},
    // 12x2
    {2, {TwoLineRow(kLine1, 12), TwoLineRow(kLine2, 12)}},
    // 16x1: one row of 16, wired as two halves of 8 on the controller's two lines.
    {1, {{2, {{0, kLine1, 8}, {0, kLine2, 8}}}}},
    // 16x2
    {2, {TwoLineRow(kLine1, 16), TwoLineRow(kLine2, 16)}},
    // 20x2
    {2, {TwoLineRow(kLine1, 20), TwoLineRow(kLine2, 20)}},
    // 24x2
    {2, {TwoLineRow(kLine1, 24), TwoLineRow(kLine2, 24)}},
    // 16x4
    {4,
     {TwoLineRow(kLine1, 16), TwoLineRow(kLine2, 16), TwoLineRow(kLine3Of16, 16),
      TwoLineRow(kLine4Of16, 16)}},
    // 20x4
    {4,
     {TwoLineRow(kLine1, 20), TwoLineRow(kLine2, 20), TwoLineRow(kLine3Of20, 20),
      TwoLineRow(kLine4Of20, 20)}},
    // 40x2
    {2, {TwoLineRow(kLine1, 40), TwoLineRow(kLine2, 40)}},
    // 40x4
    {4,
     {TwoLineRow(kLine1, 40, 0), TwoLineRow(kLine2, 40, 0), TwoLineRow(kLine1, 40, 1),
      TwoLineRow(kLine2, 40, 1)}},
};

bool IsLayoutIndex(int sizeIndex) {
    return sizeIndex >= 0 && sizeIndex < kModuleLayoutCount;
}

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
    const std::vector<ModuleRow> rows = ModuleRows(sizeIndex);
    if (rows.empty()) return "";
    return std::to_string(rows.front().Width()) + "x" + std::to_string(rows.size());
}

std::vector<ModuleRow> ModuleRows(int sizeIndex) {
    std::vector<ModuleRow> rows;
    if (!IsLayoutIndex(sizeIndex)) return rows;
    const Layout& layout = kLayouts[sizeIndex];
    for (int r = 0; r < layout.rowCount; ++r) {
        const LayoutRow& row = layout.rows[r];
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
