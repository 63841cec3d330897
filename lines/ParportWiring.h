#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lines/ModuleLines.h"

// How a module hangs on a parallel port: the registers the tool writes and which
// register bit drives which module line. The line state, the trace, the real
// back-ends and the simulated module all take the register encoding from here.
//
//   module line   register bit               DB-25 pin   at the pin when High
//   D0 .. D7      data bits 0 .. 7           2 .. 9      5 V
//   E0            control bit 0 (strobe)     1           5 V
//   RW            control bit 1 (autofeed)   14          5 V
//   RS            control bit 2 (init)       16          5 V
//   E1            control bit 3 (select-in)  17          0 V (inverted, not compensated)

// The parallel port bases offered by the Port list, in its order: the classic
// motherboard ports, and the only ones the raw back-end ever writes.
inline constexpr std::uint32_t kPortBases[] = {0x378, 0x278, 0x3BC};
inline constexpr int kPortCount = sizeof kPortBases / sizeof kPortBases[0];
// "0x378, 0x278 or 0x3BC": the Port list's bases as messages name them, with
// `firstNote` after the first ("0x378 (default), 0x278 or 0x3BC").
std::string PortListText(std::string_view firstNote = "");

// Offset of the control register from the port base (the data register).
inline constexpr std::uint32_t kControlRegisterOffset = 2;

// Bit 5 of the control register turns a bidirectional port's data lines into
// inputs, for a read; a port without a bidirectional mode ignores it. No module
// line: it reaches the register unchanged.
inline constexpr std::uint8_t kDataLinesInput = 0x20;

// E0 and RW are inverted on their way to the control register, which the port
// hardware inverts again; select-in (E1) is inverted by the hardware alone.
inline constexpr std::uint8_t kControlInvertMask = kLineE0 | kLineRW;
inline constexpr LineSet kParportInvertedAtModule = ControlLines(kLineE1);

// The byte the control register receives for the given control flags
// (kDataLinesInput included while reading).
constexpr std::uint8_t ControlRegisterByte(std::uint8_t flags) {
    return static_cast<std::uint8_t>(flags ^ kControlInvertMask);
}

// A control register byte as the module's lines and the data direction; the
// data lines are left as they are.
constexpr void DecodeControlRegister(std::uint8_t byte, LineLevels& lines) {
    lines.control = static_cast<std::uint8_t>((byte ^ kControlInvertMask) & kModuleControlLines);
    lines.dataInput = byte & kDataLinesInput;
}

// The register bytes that give these lines.
constexpr std::uint8_t ControlRegisterOf(const LineLevels& lines) {
    return ControlRegisterByte(
        static_cast<std::uint8_t>(lines.control | (lines.dataInput ? kDataLinesInput : 0)));
}

// The Port list entry an I/O address is a register of, with which register;
// nullopt for any other address.
struct ParportRegister {
    int port;  // index into kPortBases
    LineGroup group;
};
constexpr std::optional<ParportRegister> ParportRegisterAt(std::uint32_t address) {
    for (int i = 0; i < kPortCount; ++i) {
        if (address == kPortBases[i]) return ParportRegister{i, LineGroup::Data};
        if (address == kPortBases[i] + kControlRegisterOffset)
            return ParportRegister{i, LineGroup::Control};
    }
    return std::nullopt;
}

// How a 40x4 module's second enable hangs on pin 17: straight, as the table
// above wires it, so that it sees the pin the port inverts (High in the dialog
// is 0 V there, and the enable rests high); or through an inverter on the cable
// (a 74HC04 gate, say), which undoes the port's inversion.
enum class E1Wiring { Straight, Inverter };
// The module hangs on the connector as the table says until the user tells otherwise.
inline constexpr E1Wiring kDefaultE1Wiring = E1Wiring::Straight;

// The --e1-wiring values, in the order the help names them.
struct E1WiringName {
    E1Wiring wiring;
    std::string_view name;
};
inline constexpr E1WiringName kE1WiringNames[] = {
    {E1Wiring::Straight, "straight"},
    {E1Wiring::Inverter, "inverter"},
};

// A parallel port carries all twelve lines, reads wherever the port has a
// bidirectional mode, and hands E1 to the module inverted unless an inverter
// on the cable undoes it.
inline PortWiring ParallelPortWiring(E1Wiring e1 = kDefaultE1Wiring) {
    PortWiring wiring;
    const bool straight = e1 == E1Wiring::Straight;
    wiring.invertedAtModule = straight ? kParportInvertedAtModule : 0;
    wiring.text = straight ? "E1 straight to pin 17" : "E1 through an inverter";
    return wiring;
}
