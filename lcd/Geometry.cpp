#include "lcd/Geometry.h"

#include <iterator>

#include "lcd/ModuleDriver.h"
#include "res/Strings.h"

namespace {

// DDRAM addresses at which the lines start. Lines 3 and 4 of a four-line
// module with one controller continue its lines 1 and 2.
constexpr std::uint8_t kLine1 = 0x00;
constexpr std::uint8_t kLine2 = 0x40;
constexpr std::uint8_t kLine3Of16 = 0x10;
constexpr std::uint8_t kLine4Of16 = 0x50;
constexpr std::uint8_t kLine3Of20 = 0x14;
constexpr std::uint8_t kLine4Of20 = 0x54;

// The Set DDRAM Address instruction that starts a line at `address`.
constexpr std::uint8_t Start(std::uint8_t address) {
    return kSetDdramAddress | address;
}
// Never read: the size has two lines per controller.
constexpr std::uint8_t kUnused = 0x00;

// Two lines on one controller, as most sizes have.
constexpr ModuleGeometry TwoLines(std::uint8_t columns) {
    return {columns, 2, 1, {Start(kLine1), Start(kLine2), kUnused, kUnused}};
}

// A row of the glass that shows one controller line whole.
constexpr Glass::Row Line(std::uint8_t address, int width, int controller = 0) {
    return {1, {{controller, address, width}, {}}};
}

}  // namespace

// In the Size list's order. Every non-empty demo text fills its line exactly
// (line 1 of "16x1" holds both halves). The oddities of the 40x4 texts ("wzyz",
// "GN") are the module maker's demo texts as they have always been shown.
constexpr ModuleSize kModuleSizes[kModuleSizeCount] = {
    {.geometry = TwoLines(8),
     .demo = {{"TORV0802", "* 8x2  *", "", ""}, {false, false, true, true}, false},
     .glass = {2, {Line(kLine1, 8), Line(kLine2, 8)}}},
    {.geometry = TwoLines(12),
     .demo = {{"* TORV1202 *", "*** 12x2 ***", "", ""}, {false, false, true, true}, false},
     .glass = {2, {Line(kLine1, 12), Line(kLine2, 12)}}},
    // 16x1: one row of 16, wired as two halves of 8 on the controller's two lines.
    {.geometry = TwoLines(8),
     .demo = {{"*TORV-1601 16x1*", "", "", ""}, {false, true, true, true}, false},
     .glass = {1, {{2, {{0, kLine1, 8}, {0, kLine2, 8}}}}}},
    {.geometry = TwoLines(16),
     .demo = {{"*TORV-1602 16x2*", "* Lumaworkshop *", "", ""}, {false, false, true, true}, false},
     .glass = {2, {Line(kLine1, 16), Line(kLine2, 16)}}},
    {.geometry = TwoLines(20),
     .demo = {{"** TORV-2002 20x2 **", "*** Lumaworkshop ***", "", ""},
              {false, false, true, true},
              false},
     .glass = {2, {Line(kLine1, 20), Line(kLine2, 20)}}},
    {.geometry = TwoLines(24),
     .demo = {{"**** TORV-2402 24x2 ****", "* www.lumaworkshop.com *", "", ""},
              {false, false, true, true},
              false},
     .glass = {2, {Line(kLine1, 24), Line(kLine2, 24)}}},
    {.geometry = {16, 4, 1, {Start(kLine1), Start(kLine2), Start(kLine3Of16), Start(kLine4Of16)}},
     .demo = {{"*TORV-1602 16x4*", "* Lumaworkshop *", "abcdefghijklmnop", "ABCDEFGHIJKLMNOP"},
              {false, false, false, false},
              false},
     .glass = {4,
               {Line(kLine1, 16), Line(kLine2, 16), Line(kLine3Of16, 16), Line(kLine4Of16, 16)}}},
    {.geometry = {20, 4, 1, {Start(kLine1), Start(kLine2), Start(kLine3Of20), Start(kLine4Of20)}},
     .demo = {{"** TORV-2002 20x4 **", "*** Lumaworkshop ***", "abcdefghijklmnopqrst",
               "ABCDEFGHIJKLMNOPQRST"},
              {false, false, false, false},
              false},
     .glass = {4,
               {Line(kLine1, 20), Line(kLine2, 20), Line(kLine3Of20, 20), Line(kLine4Of20, 20)}}},
    {.geometry = TwoLines(40),
     .demo = {{"* TORV-4002 Forty Columns by Two Lines *",
               "** Lumaworkshop America, Incorporated **", "", ""},
              {false, false, true, true},
              false},
     .glass = {2, {Line(kLine1, 40), Line(kLine2, 40)}}},
    // 40x4: lines 3 and 4 are the second controller's, on E1, which starts its
    // lines at the same addresses as the first (entries 2 and 3 hold them too,
    // though only entries 0 and 1 are read).
    {.geometry = {40, 2, 2, {Start(kLine1), Start(kLine2), Start(kLine1), Start(kLine2)}},
     .demo = {{"*TORV-4004: Forty Columns by Four Lines*",
               "** Lumaworkshop America, Incorporated **",
               "abcdefghijklmnopqrstuvwzyz1234567890-=,.",
               "ABCDEFGNIJKLMNOPQRSTUVWXYZ!@#$%^&*()_+<>"},
              {false, false, false, false},
              true},
     .glass = {4, {Line(kLine1, 40), Line(kLine2, 40), Line(kLine1, 40, 1), Line(kLine2, 40, 1)}}},
};

// The Size list's names live with the dialog template, which cannot look up
// here; each row's glass must name the entry at its place.
namespace {

// The decimal number at `text`, which moves past it.
constexpr int TakeNumber(const char*& text) {
    int n = 0;
    for (; *text >= '0' && *text <= '9'; ++text) n = n * 10 + (*text - '0');
    return n;
}

// Whether `name` is "<columns>x<rows>" of the glass.
constexpr bool Names(const char* name, const Glass& glass) {
    const int columns = TakeNumber(name);
    if (*name++ != 'x') return false;
    const int rows = TakeNumber(name);
    return *name == '\0' && columns == glass.Columns() && rows == glass.rowCount;
}

constexpr bool InTheSizeListsOrder() {
    for (int size = 0; size < kModuleSizeCount; ++size)
        if (!Names(kSizeNames[size], kModuleSizes[size].glass)) return false;
    return true;
}

}  // namespace

static_assert(std::size(kSizeNames) == kModuleSizeCount, "a module size per Size list entry");
static_assert(InTheSizeListsOrder(), "each size's glass is the size the Size list names there");
