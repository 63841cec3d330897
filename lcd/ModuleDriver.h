#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/Clock.h"
#include "port/LinePanel.h"

// HD44780 instructions the driver sends.
inline constexpr std::uint8_t kFunctionSet8Bit2Lines = 0x38;  // 8-bit bus, 2 lines, 5x8 dots
inline constexpr std::uint8_t kFunctionSet8Bit = 0x30;        // 8-bit bus (0011 on D7..D4)
inline constexpr std::uint8_t kFunctionSet4Bit = 0x20;        // 4-bit bus (0010 on D7..D4)
inline constexpr std::uint8_t kFunctionSet4Bit2Lines = 0x28;  // 4-bit bus, 2 lines, 5x8 dots
inline constexpr std::uint8_t kDisplayOff = 0x08;             // display, cursor, blink off
inline constexpr std::uint8_t kClearDisplay = 0x01;           // clear, address 0
inline constexpr std::uint8_t kEntryModeIncrement = 0x06;     // increment, no display shift
inline constexpr std::uint8_t kDisplayOnCursorBlink = 0x0F;   // display, cursor, blink on
inline constexpr std::uint8_t kDisplayOnCursorOff = 0x0C;     // display on, cursor, blink off
inline constexpr std::uint8_t kSetCgramAddress0 = 0x40;       // CGRAM address 0
inline constexpr std::uint8_t kSetDdramAddress = 0x80;        // + a 7-bit DDRAM address
// What a read of the busy flag and address counter gives: D7 the busy flag.
inline constexpr std::uint8_t kBusyFlag = 0x80;

// The controller's data bus: all eight lines, or D7..D4 with each byte in two halves.
enum class BusWidth { Eight, Four };

// Clocks bytes into one or two HD44780-compatible controllers. Every line change
// is one refresh, so one port write, and is shown by the line panel: RS, RW and
// the enable lines move only through the panel's own handlers, and the data lines
// by setting the data latch as a whole and refreshing the data register. All
// timing is fixed sleeps on the clock.
//
// A read turns the data lines around (inputs) before RW and the enable line go
// high, and back to outputs only after the enable line is low again and RW has
// dropped, so the port and the controller never drive the lines at once.
//
// Controller number 0 is clocked by E0, any other number by E1; the other enable
// line is never touched. A pulse is the line High, then Low again, unless E1 is
// set active low: then E1's pulses run Low, then High, so that an E1 wired
// straight to pin 17 (which the port inverts) sees a pulse at the pin. Only
// Verify sets it; a test run keeps E1 active high whatever the wiring, so it
// writes as it always did (a straight E1 takes each write as E1 rises).
class ModuleDriver {
public:
    enum class Register { Instruction, Data };  // RS low, RS high

    ModuleDriver(LinePanel& panel, Clock& clock) : panel_(panel), clock_(clock) {}

    void SetE1ActiveLow(bool activeLow) { e1ActiveLow_ = activeLow; }

    // 8-bit bus: one transfer on D7..D0. 5 port writes, 2 sleeps of 1 ms.
    void WriteCommand8(std::uint8_t value, std::uint8_t controller);
    void WriteData8(std::uint8_t value, std::uint8_t controller);
    // 4-bit bus: high nibble, then low nibble, each on D7..D4 with D3..D0 low.
    // 8 port writes, 4 sleeps of 1 ms.
    void WriteCommand4(std::uint8_t value, std::uint8_t controller);
    void WriteData4(std::uint8_t value, std::uint8_t controller);

    // Reads with `pulses` enable pulses on one register: RS, the data lines
    // turned around, RW high; then per pulse a set-up sleep of 1 ms, the enable
    // line high, a 1 ms sleep, the data register read, the enable line low; last
    // RW low and the data lines outputs again. One sample per pulse, the whole
    // data register as read (a byte on the 8-bit bus, a nibble on D7..D4 on the
    // 4-bit bus); nullopt where the port could not be read.
    std::vector<std::optional<std::uint8_t>> ReadPulses(Register reg, std::size_t pulses,
                                                        std::uint8_t controller);

    // With E1 active low and the line panel's E1 Low, the pin's second enable
    // rests high, in the middle of a pulse: ends that pulse as a busy-flag read.
    // RS low and the data lines turned around first, so that when RW rises the
    // controller on E1 is the only driver; a 1 ms wait, E1 High (the pin falls);
    // then `pulses` - 1 more read pulses (2 in all on the 4-bit bus keep the
    // nibbles paired); last RW low and the data lines outputs again. Reads nothing.
    void EndRestingE1Pulse(std::size_t pulses);

    // Brings one controller up by instructions alone, on the 8-bit or the 4-bit
    // bus, and leaves it cleared, display, cursor and blink on. Returns right
    // after the final clear's cycle: any wait after it is the caller's.
    void InitController8(std::uint8_t controller);
    void InitController4(std::uint8_t controller);

    // The same, on the bus width given.
    void WriteCommand(BusWidth width, std::uint8_t value, std::uint8_t controller);
    void WriteData(BusWidth width, std::uint8_t value, std::uint8_t controller);
    void InitController(BusWidth width, std::uint8_t controller);

private:
    void Cycle8(Register reg, std::uint8_t value, std::uint8_t controller);
    void Cycle4(Register reg, std::uint8_t value, std::uint8_t controller);
    void SelectRegister(Register reg);
    void Transfer(std::uint8_t dataLatch, std::uint8_t controller);
    void Enable(std::uint8_t controller, bool high);

    LinePanel& panel_;
    Clock& clock_;
    bool e1ActiveLow_ = false;
};
