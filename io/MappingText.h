#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/KernelSystem.h"
#include "lines/ModuleLines.h"

// What every transport reads and writes of a --port-map device text: numbers,
// the LINE=VALUE items of a list, quoted pieces of the user's text, and what a
// wiring lacks.

// A whole number in `base` (no sign, no prefix, nothing after it).
bool ParseNumber(std::string_view text, std::uint32_t& value, int base = 10);

// One item of a list: "RS=7" has the key "RS" and the value "7"; "RS" alone
// has no value.
struct MappingItem {
    std::string_view text;  // the whole item
    std::string_view key;
    std::string_view value;
    bool hasValue;
};
// The items of `list` joined by `separator`; an empty one between two
// separators is kept, one after the last is not; none for "".
std::vector<MappingItem> MappingItems(std::string_view list, char separator = ',');

// "\"RS=x\"": a piece of the user's text as a message quotes it.
std::string Quoted(std::string_view text);

// What a wiring leaves out, for the start-up line: "4-bit only, no E1, no RW:
// no Verify"; "" when it carries everything.
std::string WiringLacks(const PortWiring& wiring);

// The numbers N of the entries named PREFIX followed by N in `dir` ("gpiochip"
// in /dev gives 0, 2, 10), in number order. Returns what listing the directory
// returned (the negated errno when it failed).
int ListNumbered(const KernelSystem& sys, const std::string& dir, std::string_view prefix,
                 std::vector<std::uint32_t>& numbers);
