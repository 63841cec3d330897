#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A wiring fault between the port and the simulated module, to practise on:
// data lines stuck at a level, control lines the module never sees high. Both
// directions suffer alike: the controller takes a stuck data line at its level,
// and the port reads it there.
struct WiringFault {
    std::uint8_t dataLow = 0;     // data lines held low (bit n = Dn)
    std::uint8_t dataHigh = 0;    // data lines held high, or open (the pull-ups win)
    std::uint8_t controlLow = 0;  // control lines (kLineE0 .. kLineE1) held low or open

    std::uint8_t Data(std::uint8_t lines) const {
        return static_cast<std::uint8_t>((lines & ~dataLow) | dataHigh);
    }
    std::uint8_t Control(std::uint8_t lines) const {
        return static_cast<std::uint8_t>(lines & ~controlLow);
    }
    bool operator==(const WiringFault&) const = default;
};

// "none", or faults joined by commas: "Dn=0", "Dn=1", "Dn=open" (n 0..7), and
// "E0", "E1", "RW" or "RS" with "=0" or "=open". Case does not matter. nullopt
// with `error` set for anything else.
std::optional<WiringFault> ParseWiringFault(std::string_view text, std::string& error);
// The text ParseWiringFault reads back, "none" for no fault.
std::string FormatWiringFault(const WiringFault& fault);
