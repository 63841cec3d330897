#pragma once

#include <cstdint>
#include <string>

// Numbers in messages, as the tool writes them everywhere.

// "0x2A": a byte, two upper-case hex digits.
std::string HexByte(std::uint8_t value);
// "0x378": an I/O address, at least three upper-case hex digits.
std::string HexAddress(std::uint32_t address);
