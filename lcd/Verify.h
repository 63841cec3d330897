#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "lcd/ModuleDriver.h"
#include "lcd/TestRun.h"
#include "port/LinePanel.h"

// One byte read back that is not what the run left there.
struct VerifyDifference {
    enum class Area { BusyAddress, Ddram, Cgram };
    int controller = 0;  // 0 on E0, 1 on E1
    Area area = Area::BusyAddress;
    int line = 0;              // display line, 0 at the top (Ddram only)
    int column = 0;            // 0 at the left (Ddram only)
    std::uint8_t address = 0;  // DDRAM or CGRAM address (not for BusyAddress)
    std::uint8_t expected = 0;
    std::uint8_t read = 0;
};

struct VerifyResult {
    enum class Outcome { Pass, Fail, NothingSent, PortUnreadable, Refused };
    Outcome outcome = Outcome::NothingSent;
    int sizeIndex = -1;
    BusWidth width = BusWidth::Eight;
    std::size_t compared = 0;  // bytes read and compared
    std::vector<VerifyDifference> differences;
    std::string cause;  // the likely cause where the pattern shows one, else ""; why, when refused

    // One line: PASS or FAIL, what was compared, the first difference and the cause.
    std::string Summary() const;
    // One line per difference, the first `most` of them.
    std::vector<std::string> Details(std::size_t most) const;
};

// Reads the module back after a run and compares with what the run sent, on the
// same bus width: first the busy flag and address counter of each controller
// (not busy; the address counter where the 64 CGRAM bytes left it), then, for
// each controller that answered, the DDRAM of every line the run wrote and the
// 64 bytes of CGRAM. A controller whose first read gives 0xFF (nothing drives
// the lines) is not read further: with RW tied low every read would be a write.
// Every command and every block of reads follows a 2 ms sleep; the lines end at
// rest (data latch and control flags 0, both written), the data lines outputs.
//
// On a module with two controllers whose E1 reaches it inverted (straight to pin
// 17), E1's pulses run Low-High in the line panel. That enable rests high at the
// pin, so before the first read its pulse is ended as a busy-flag read with the
// data lines already turned around (two on the 4-bit bus); E1 then stays High
// (the pin low) while the first controller is read, and at the end RS is brought
// low before E1 returns to rest. So no two drivers ever share the data lines.
// Why the port at `base` cannot read the module back (RW not wired, or reads
// its wiring cannot take safely); "" when it can.
std::string VerifyRefusal(std::uint32_t base);

// Refused (nothing written, and the user told through the port I/O) when
// VerifyRefusal gives a reason.
VerifyResult VerifyModule(ModuleDriver& driver, LinePanel& panel, Clock& clock,
                          const TestRunRecord& sent);
