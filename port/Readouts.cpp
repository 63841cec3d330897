#include "port/Readouts.h"

#include <cstdio>

#include "base/HexText.h"

namespace {
constexpr unsigned kFirstPrintable = 0x20;
constexpr unsigned kLastPrintable = 0x7E;
}  // namespace

Readouts FormatReadouts(std::uint8_t dataLatch) {
    const unsigned value = dataLatch;
    char buffer[8];
    Readouts r;
    std::snprintf(buffer, sizeof buffer, "%u", value);
    r.decimal = buffer;
    r.hexadecimal = HexByte(dataLatch);
    // Printable is a fixed ASCII range, independent of any locale.
    if (value >= kFirstPrintable && value <= kLastPrintable) {
        r.character = {'\'', static_cast<char>(value), '\''};
    }
    return r;
}
