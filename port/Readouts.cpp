#include "port/Readouts.h"

#include <cstdio>

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
    std::snprintf(buffer, sizeof buffer, "0x%02X", value);
    r.hexadecimal = buffer;
    // Printable is a fixed ASCII range, independent of any locale.
    if (value >= kFirstPrintable && value <= kLastPrintable) {
        r.character = {'\'', static_cast<char>(value), '\''};
    }
    return r;
}
