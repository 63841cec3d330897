#pragma once

#include <cstdint>

#include "io/PortIo.h"
#include "lines/ModuleLines.h"

// The twelve lines of one Port list entry, followed write by write, as the port
// I/O decodes its register writes.
class PortLines {
public:
    explicit PortLines(const PortIo& io) : io_(io) {}
    // Follows the port at `base` from now on, from its current lines.
    void Attach(std::uint32_t base);
    // Takes one port write; false when it is not for the attached port's registers.
    bool Apply(std::uint32_t address);

    std::uint32_t Base() const { return base_; }
    std::uint8_t Data() const { return lines_.data; }  // bit n = Dn
    std::uint8_t Control() const {
        return lines_.control;
    }  // kLineE0 | kLineRW | kLineRS | kLineE1
    // The port has turned its data lines around: it drives none of them.
    bool DataInput() const { return lines_.dataInput; }
    const LineLevels& Levels() const { return lines_; }

private:
    const PortIo& io_;
    std::uint32_t base_ = 0;
    LineLevels lines_;
};
