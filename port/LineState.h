#pragma once

#include <cstdint>

#include "platform/ParportScan.h"

// Control flag bits: the logical levels of the module's control lines.
inline constexpr std::uint8_t kLineE0 = 0x01;
inline constexpr std::uint8_t kLineRW = 0x02;
inline constexpr std::uint8_t kLineRS = 0x04;
inline constexpr std::uint8_t kLineE1 = 0x08;

// Not a line: the data lines' direction, inputs while set (a read). It reaches
// the control register unchanged, as the port's direction bit.
inline constexpr std::uint8_t kDataLinesInput = kParportDataInputBit;

// E0 and RW are inverted on their way to the control register.
inline constexpr std::uint8_t kControlInvertMask = kLineE0 | kLineRW;

// Offset of the control register from the port base.
inline constexpr std::uint32_t kControlRegisterOffset = 2;

// The parallel port bases offered by the Port list, in its order.
inline constexpr std::uint32_t kPortBases[] = {0x378, 0x278, 0x3BC};

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

// The byte the control register receives for the given control flags.
constexpr std::uint8_t ControlRegisterByte(std::uint8_t flags) {
    return static_cast<std::uint8_t>(flags ^ kControlInvertMask);
}

// The port base for a Port list selection; anything but 1 and 2 (no selection
// included) falls back to the first port.
constexpr std::uint32_t PortBaseForSelection(int selection) {
    return selection == 1 || selection == 2 ? kPortBases[selection] : kPortBases[0];
}
