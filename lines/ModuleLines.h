#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The twelve lines of a character module as every transport sees them: the
// levels the dialog shows, whichever way a port carries them to the module.

// Control lines, one bit each (1 = High as the dialog shows it).
inline constexpr std::uint8_t kLineE0 = 0x01;
inline constexpr std::uint8_t kLineRW = 0x02;
inline constexpr std::uint8_t kLineRS = 0x04;
inline constexpr std::uint8_t kLineE1 = 0x08;
inline constexpr std::uint8_t kModuleControlLines = kLineE0 | kLineRW | kLineRS | kLineE1;

// The lines of one port after a refresh: D0..D7, the four control lines, and
// whether the data lines are turned into inputs (for a read of the module).
struct LineLevels {
    std::uint8_t data = 0;     // bit n = Dn
    std::uint8_t control = 0;  // kLineE0 | kLineRW | kLineRS | kLineE1
    bool dataInput = false;
    bool operator==(const LineLevels&) const = default;
};

// Which group of lines a refresh changed: the data register's or the control register's.
enum class LineGroup { Data, Control };

// A set of module lines: bits 0..7 are D0..D7, bits 8..11 the control lines.
using LineSet = std::uint16_t;
inline constexpr int kControlLineShift = 8;
constexpr LineSet DataLines(std::uint8_t data) {
    return data;
}
constexpr LineSet ControlLines(std::uint8_t control) {
    return static_cast<LineSet>(control << kControlLineShift);
}
inline constexpr LineSet kAllModuleLines = DataLines(0xFF) | ControlLines(kModuleControlLines);
inline constexpr std::uint8_t kLowDataNibble = 0x0F;   // D0..D3, unused on the 4-bit bus
inline constexpr std::uint8_t kHighDataNibble = 0xF0;  // D4..D7

// What a port carries to the module, and what it can do besides driving lines.
struct PortWiring {
    LineSet wired = kAllModuleLines;
    // Lines whose level at the module is the inverse of the dialog's: the port
    // hardware inverts them and nothing compensates.
    LineSet invertedAtModule = 0;
    // Why the data lines cannot be read back; empty when they can.
    std::string noReads;
    // The wiring in a few words, for the start-up line ("RS=7, E0=8, D4=25, ...").
    std::string text;

    bool Wires(LineSet lines) const { return (wired & lines) == lines; }
    bool operator==(const PortWiring&) const = default;
};

// The bits of a LineSet: D0..D7 are 0..7, E0, RW, RS and E1 are 8..11.
inline constexpr int kModuleLineCount = 12;

// The lines by their LineSet bits in the module's pin order (RS, RW and E on
// pins 4 to 6, E1 beside E0, D0..D7 on pins 7 to 14): the order the tool names
// a wiring's lines in.
inline constexpr int kLinesInPinOrder[kModuleLineCount] = {10, 9, 8, 11, 0, 1, 2, 3, 4, 5, 6, 7};

// "D4", "RS": the name of the line at a LineSet bit (0..11).
std::string_view LineName(int bit);
// The LineSet bit of the line named `name` ("RS", "D4"); -1 for no line.
int LineBitNamed(std::string_view name);

// "D0..D3", "E1", "RW": the names of the lines in a set, for messages.
std::string LineSetNames(LineSet lines);
