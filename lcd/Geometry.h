#pragma once

#include <cstdint>

// The module sizes, in the order of the Size list (kSizeNames in res/Strings.h);
// a size index is the list's 0-based selection and a row of kModuleSizes.
inline constexpr int kModuleSizeCount = 10;
inline constexpr int kSize8x2 = 0;
inline constexpr int kSize12x2 = 1;
inline constexpr int kSize16x1 = 2;  // driven as 8 columns by 2 lines: two halves of one line
inline constexpr int kSize16x2 = 3;
inline constexpr int kSize20x2 = 4;
inline constexpr int kSize24x2 = 5;
inline constexpr int kSize16x4 = 6;
inline constexpr int kSize20x4 = 7;
inline constexpr int kSize40x2 = 8;
inline constexpr int kSize40x4 = 9;  // two controllers of 40 columns by 2 lines

// True for the indexes that have a row; anything else (no selection, -1) has none.
constexpr bool IsModuleSizeIndex(int index) {
    return index >= 0 && index < kModuleSizeCount;
}

// How a module of one size is driven: the characters written on each controller
// line, the lines of each controller, the number of controllers (controller 0 on
// E0, controller 1 on E1), and the Set DDRAM Address instruction that starts
// controller line l (lineAddress[l], the same for every controller).
struct ModuleGeometry {
    std::uint8_t columns, linesPerController, controllerCount;
    std::uint8_t lineAddress[4];
};

// What the dialog shows for a size: the demo text of each line box (line 1 at
// the top; "" for a line the size does not have), which line boxes are
// read-only (lineReadOnly[0] is always false: box 1 is editable for every
// size), and whether the E1 buttons are enabled. Fixed per size, not derived
// from the geometry: "16x1" has two lines per controller, yet line box 2 is
// unused.
struct SizeDemo {
    const char* lineText[4];
    bool lineReadOnly[4];
    bool e1Enabled;
};

// A run of `width` consecutive positions of a physical row, shown from one
// controller's DDRAM starting at `address` (before any display shift).
struct RowSegment {
    int controller;
    std::uint8_t address;
    int width;
};

// How the glass is wired: its rows, top first, each one segment or two halves
// side by side. Its columns by its rows name the size: "16x1" is one row of 16
// made of two halves of 8.
struct Glass {
    struct Row {
        int segmentCount;
        RowSegment segments[2];

        constexpr int Width() const {
            int width = 0;
            for (int s = 0; s < segmentCount; ++s) width += segments[s].width;
            return width;
        }
    };
    int rowCount;
    Row rows[4];

    constexpr int Columns() const { return rows[0].Width(); }
};

// One module size: how the driver drives it, what the dialog shows for it and
// what its glass shows where.
struct ModuleSize {
    ModuleGeometry geometry;
    SizeDemo demo;
    Glass glass;
};

extern const ModuleSize kModuleSizes[kModuleSizeCount];

// The table's columns by size index, for code that needs only one of them.
struct ModuleGeometryColumn {
    const ModuleGeometry& operator[](int sizeIndex) const {
        return kModuleSizes[sizeIndex].geometry;
    }
};
struct SizeDemoColumn {
    const SizeDemo& operator[](int sizeIndex) const { return kModuleSizes[sizeIndex].demo; }
};
inline constexpr ModuleGeometryColumn kModuleGeometry{};
inline constexpr SizeDemoColumn kSizeDemos{};
