#pragma once

#include <cstdint>
#include <string>

// The three echoes of the data latch.
struct Readouts {
    std::string decimal;      // "%d"
    std::string hexadecimal;  // "0x%02X"
    std::string character;    // "'%c'" for 0x20..0x7E, else empty
};

Readouts FormatReadouts(std::uint8_t dataLatch);
