#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Clock.h"
#include "lcd/ModuleDriver.h"
#include "port/LinePanel.h"
#include "res/Resource.h"

// The run's own delay before every bus cycle it starts; Verify keeps it too.
inline constexpr std::uint32_t kCycleGapMs = 2;

// What a test run reads from the dialog.
class TestRunSource {
public:
    virtual ~TestRunSource() = default;
    // The Size list's selection, -1 for none.
    virtual int SizeSelection() const = 0;
    // The whole text of line box IDC_LINE1..IDC_LINE4, as single-byte text.
    virtual std::string LineBoxText(int lineBoxId) const = 0;
};

// The line box each display line is read from, line 1 (the top) first.
inline constexpr int kLineBoxes[4] = {IDC_LINE1, IDC_LINE2, IDC_LINE3, IDC_LINE4};

// The eight custom characters of 5x8 dots loaded into CGRAM: byte 8 x g + r is row r
// (top first) of character g, bit 4 the leftmost dot.
extern const std::uint8_t kGlyphTable[64];

// What a run sent: the size and bus width, and each display line's bytes with
// the controller and DDRAM address they went to, in the order sent. Every
// controller of the size also took kGlyphTable from CGRAM address 0.
struct SentLine {
    std::uint8_t controller;
    std::uint8_t ddramAddress;
    std::vector<std::uint8_t> bytes;
};
struct TestRunRecord {
    int sizeIndex = -1;   // -1: nothing was sent
    std::string refusal;  // why the port's wiring could not drive the run, when it could not
    std::string stopped;  // why the run stopped part way (the port's device went away)
    BusWidth width = BusWidth::Eight;
    std::vector<SentLine> lines;
};

// "16x2:8" or "40x4:4": a size by its Size-list name and a bus width; nullopt
// for anything else.
struct RunChoice {
    int sizeIndex;
    BusWidth width;
};
std::optional<RunChoice> ParseRunChoice(std::string_view text);
// "16x2 8-bit": how results name a run.
std::string RunName(int sizeIndex, BusWidth width);

// Why a run of this size and width cannot go through the port at `base` (a
// line it needs is not wired), naming what to use instead; "" when it can.
std::string RunRefusal(std::uint32_t base, int sizeIndex, BusWidth width);

// One test run, "Init 8-bit" or "Init 4-bit": reads the size once; then for each
// controller in turn initialises it, writes its lines from the line boxes (each box
// read after its line's address command, the whole line encoded before its first
// byte), turns the display on with the cursor off and loads the glyphs into CGRAM;
// last, returns the data latch and the control flags to 0 and writes both. Every
// bus cycle the run starts itself follows a 2 ms sleep.
//
// A selection that is not a module size (none) does nothing at all: no sleep, no
// port write, no box read, and an empty record. Neither does a run the port's
// wiring cannot carry (RunRefusal): its record holds the refusal, which the
// user is told through the port I/O. A run whose port's device goes away
// stops at its next bus cycle and leaves the lines as they are.
TestRunRecord RunDisplayTest(ModuleDriver& driver, LinePanel& panel, Clock& clock, BusWidth width,
                             const TestRunSource& source);
