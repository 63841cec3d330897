#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Clock.h"
#include "io/I2cExpander.h"
#include "io/KernelSystem.h"
#include "io/ProblemLog.h"
#include "io/Transport.h"

// Finding character modules on I2C expanders: every bus under /dev, only the
// expanders' addresses (0x20..0x27, and 0x38..0x3F for the PCF8574A). At each
// address that answers, reads alone tell the kind of expander (a PCF8574
// reads its pins, steady; an MCP23008 or MCP23017 walks its registers); only
// then does detection write to it: the kind check releases the pins to see
// whether a module's pull-ups hold them (relays and LEDs load them low, and
// such an expander is put back as it was found). For a module, the wirings
// known for that kind are tried first, then a search finds any assignment of
// an 8-pin bank's pins whose module has RW wired: it tells E and RW by which
// pin, held low, stops the module driving the data lines, and each data line
// by the address counter the module reads back. A wiring counts as proven only
// when the module reads back what was written; a module that cannot be read
// (RW to ground) gets the kind's common wiring assumed, said so, and a pattern
// on the glass to confirm by eye. A proven module is left greeting ("found at
// 0x27"), every line at rest.

// What detection found at one address.
struct FoundModule {
    std::string bus;      // "/dev/i2c-1"
    std::string adapter;  // its adapter's name, "" where the kernel does not say
    const Transport* kind = nullptr;
    ExpanderDevice device;  // the wiring found (or assumed)
    std::string wiring;     // "common backpack wiring", "a wiring found by search"
    bool proven = false;
    std::size_t compared = 0;  // bytes read back and compared
    std::string shown;         // what it left on the glass
    bool backlightLitLow = false;

    // "pcf8574:/dev/i2c-1@0x27": the device of the --port-map value that drives it.
    std::string Mapping() const;
    // "0x378=pcf8574:/dev/i2c-1@0x27 (common backpack wiring, backlight active
    // high; proven: read back 14 of 14 bytes)": the --port-map value that
    // drives it from the Port list entry `base`, then what was proven.
    std::string Describe(std::uint32_t base) const;
};

// The transfers and the time one step of detection took, over every address.
struct DetectStep {
    std::string_view name;
    std::size_t transfers = 0;
    std::uint64_t micros = 0;
};

struct DetectReport {
    std::vector<FoundModule> modules;
    // One line each for an address left alone: an expander without a module,
    // a device that is no expander this tool knows.
    std::vector<std::string> notes;
    std::size_t buses = 0;  // the buses looked at
    std::vector<DetectStep> steps;
};

// Looks at every I2C bus the kernel `sys` shows. What keeps it from a bus or
// an address (no bus at all, no permission, a kernel driver owning an address,
// a bus gone during detection) is told once through `log`, and detection goes
// on with the rest. Waits for the module's instructions are `clock`'s.
DetectReport DetectModules(std::shared_ptr<KernelSystem> sys, Clock& clock, ProblemLog& log);

// The Port list entry a module found n-th (from 0) is offered for: the list's
// bases in turn.
std::uint32_t OfferedBase(std::size_t n);
