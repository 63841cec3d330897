#include "lcd/Geometry.h"

#include <iterator>

#include "res/Strings.h"

static_assert(std::size(kSizeNames) == kModuleSizeCount, "a geometry row per Size list entry");

// Set DDRAM Address instructions (0x80 + address) that start the lines.
namespace {
constexpr std::uint8_t kAddr00 = 0x80;  // address 0x00
constexpr std::uint8_t kAddr40 = 0xC0;  // address 0x40
constexpr std::uint8_t kAddr10 = 0x90;  // address 0x10, line 3 of a 16x4 module
constexpr std::uint8_t kAddr50 = 0xD0;  // address 0x50, line 4 of a 16x4 module
constexpr std::uint8_t kAddr14 = 0x94;  // address 0x14, line 3 of a 20x4 module
constexpr std::uint8_t kAddr54 = 0xD4;  // address 0x54, line 4 of a 20x4 module
constexpr std::uint8_t kUnused = 0x00;  // never read: the row has two lines per controller
}  // namespace

// lineAddress[2] and [3] are read only where a controller has four lines. Row
// "40x4" holds 0x80 and 0xC0 there, but its second controller starts its lines with
// lineAddress[0] and [1] like the first one.
const ModuleGeometry kModuleGeometry[kModuleSizeCount] = {
    // columns, lines per controller, controllers, line addresses
    {8, 2, 1, {kAddr00, kAddr40, kUnused, kUnused}},   // 8x2
    {12, 2, 1, {kAddr00, kAddr40, kUnused, kUnused}},  // 12x2
    {8, 2, 1, {kAddr00, kAddr40, kUnused, kUnused}},   // 16x1: two halves of 8
    {16, 2, 1, {kAddr00, kAddr40, kUnused, kUnused}},  // 16x2
    {20, 2, 1, {kAddr00, kAddr40, kUnused, kUnused}},  // 20x2
    {24, 2, 1, {kAddr00, kAddr40, kUnused, kUnused}},  // 24x2
    {16, 4, 1, {kAddr00, kAddr40, kAddr10, kAddr50}},  // 16x4
    {20, 4, 1, {kAddr00, kAddr40, kAddr14, kAddr54}},  // 20x4
    {40, 2, 1, {kAddr00, kAddr40, kUnused, kUnused}},  // 40x2
    {40, 2, 2, {kAddr00, kAddr40, kAddr00, kAddr40}},  // 40x4: lines 3 and 4 on E1
};

// Every non-empty text fills its line exactly (line 1 of "16x1" holds both halves).
// The oddities of the 40x4 texts ("wzyz", "GN") are the module maker's demo texts
// as they have always been shown.
const SizeDemo kSizeDemos[kModuleSizeCount] = {
    // line 1 to line 4, read-only boxes 1 to 4, E1 enabled; in the Size list's order
    {{"TORV0802", "* 8x2  *", "", ""}, {false, false, true, true}, false},
    {{"* TORV1202 *", "*** 12x2 ***", "", ""}, {false, false, true, true}, false},
    {{"*TORV-1601 16x1*", "", "", ""}, {false, true, true, true}, false},
    {{"*TORV-1602 16x2*", "* Lumaworkshop *", "", ""}, {false, false, true, true}, false},
    {{"** TORV-2002 20x2 **", "*** Lumaworkshop ***", "", ""}, {false, false, true, true}, false},
    {{"**** TORV-2402 24x2 ****", "* www.lumaworkshop.com *", "", ""},
     {false, false, true, true},
     false},
    {{"*TORV-1602 16x4*", "* Lumaworkshop *", "abcdefghijklmnop", "ABCDEFGHIJKLMNOP"},
     {false, false, false, false},
     false},
    {{"** TORV-2002 20x4 **", "*** Lumaworkshop ***", "abcdefghijklmnopqrst",
      "ABCDEFGHIJKLMNOPQRST"},
     {false, false, false, false},
     false},
    {{"* TORV-4002 Forty Columns by Two Lines *", "** Lumaworkshop America, Incorporated **", "",
      ""},
     {false, false, true, true},
     false},
    {{"*TORV-4004: Forty Columns by Four Lines*", "** Lumaworkshop America, Incorporated **",
      "abcdefghijklmnopqrstuvwzyz1234567890-=,.", "ABCDEFGNIJKLMNOPQRSTUVWXYZ!@#$%^&*()_+<>"},
     {false, false, false, false},
     true},
};
