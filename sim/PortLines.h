#pragma once

#include <cstdint>

#include "platform/ParportWiring.h"
#include "platform/PortIo.h"

// The twelve lines of one parallel port, followed write by write. Only the data
// register (base) and the control register (base + 2) reach the module.
class PortLines {
public:
    // Follows the port at `base` from now on, taking its registers' current values
    // from `port` (nullptr, or a register never written: 0x00).
    void Attach(std::uint32_t base, const SimulatedPort* port);
    // Takes one port write; false when it is not for the attached port's registers.
    bool Apply(std::uint32_t address, std::uint8_t value);

    std::uint32_t Base() const { return base_; }
    std::uint8_t Data() const { return data_; }        // bit n = Dn
    std::uint8_t Control() const { return control_; }  // kLineE0 | kLineRW | kLineRS | kLineE1
    // The port has turned its data lines around: it drives none of them.
    bool DataInput() const { return dataInput_; }

private:
    std::uint32_t base_ = 0;
    std::uint8_t data_ = 0;
    std::uint8_t control_ = 0;
    bool dataInput_ = false;
};
