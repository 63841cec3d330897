#pragma once

#include <cstdint>
#include <iterator>

#include "lines/ParportWiring.h"

// The line state: one set for the whole process, shared by every handler of
// the main dialog.
struct LineState {
    std::uint32_t portBase = 0;     // data register address
    std::uint32_t controlPort = 0;  // control register address, always portBase + 2
    std::uint8_t dataLatch = 0;     // bit n = Dn, 1 = High
    std::uint8_t controlFlags = 0;  // kLineE0 | kLineRW | kLineRS | kLineE1, 1 = High;
                                    // kDataLinesInput while reading
};

extern LineState g_lines;

// The port base for a Port list selection; anything but 1 and 2 (no selection
// included) falls back to the first port.
constexpr std::uint32_t PortBaseForSelection(int selection) {
    return selection == 1 || selection == 2 ? kPortBases[selection] : kPortBases[0];
}

// The Port list selection whose base is `base`; -1 for an address not in the list.
constexpr int PortSelectionForBase(std::uint32_t base) {
    for (int i = 0; i < static_cast<int>(std::size(kPortBases)); ++i)
        if (kPortBases[i] == base) return i;
    return -1;
}
