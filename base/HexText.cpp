#include "base/HexText.h"

#include <cstdio>
#include <limits>

std::string HexByte(std::uint8_t value) {
    char text[sizeof "0xFF"];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

std::string HexAddress(std::uint32_t address) {
    char text[sizeof "0x" + std::numeric_limits<std::uint32_t>::digits / 4];
    std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(address));
    return text;
}
