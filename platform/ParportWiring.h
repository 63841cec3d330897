#pragma once

#include <cstdint>

// How a module hangs on a parallel port: the registers the tool writes and which
// register bit drives which module line. The line state, the real back-ends and
// the simulated module all take these from here.

// The parallel port bases offered by the Port list, in its order: the classic
// motherboard ports, and the only ones the raw back-end ever writes.
inline constexpr std::uint32_t kPortBases[] = {0x378, 0x278, 0x3BC};

// Offset of the control register from the port base (the data register).
inline constexpr std::uint32_t kControlRegisterOffset = 2;

// Control register bits as the module lines they drive (1 = High as the dialog shows it).
inline constexpr std::uint8_t kLineE0 = 0x01;  // strobe
inline constexpr std::uint8_t kLineRW = 0x02;  // autofeed
inline constexpr std::uint8_t kLineRS = 0x04;  // init
inline constexpr std::uint8_t kLineE1 = 0x08;  // select-in

// Bit 5 of the control register turns a bidirectional port's data lines into
// inputs, for a read; a port without a bidirectional mode ignores it. No module
// line: it reaches the register unchanged.
inline constexpr std::uint8_t kDataLinesInput = 0x20;

// E0 and RW are inverted on their way to the control register.
inline constexpr std::uint8_t kControlInvertMask = kLineE0 | kLineRW;

// The four control lines the module's connector carries; bits 4 to 7 have no pin there.
inline constexpr std::uint8_t kModuleControlLines = kLineE0 | kLineRW | kLineRS | kLineE1;
