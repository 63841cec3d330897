#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "io/PortBackend.h"
#include "lines/ParportWiring.h"

// What hangs on the simulated port's data lines and may drive them: the
// levels it puts on the data lines of the port at `base`, nullopt when none.
class DataDriver {
public:
    virtual ~DataDriver() = default;
    virtual std::optional<std::uint8_t> DrivenData(std::uint32_t base) const = 0;
};

// The default back-end: keeps each port's lines. It is a bidirectional parallel
// port: a read returns the latch while the data lines are outputs, and what the
// connected drivers put on them once they are turned around (0xFF, the
// pull-ups, where none drives). A Port list entry may be given another wiring
// (a GPIO chip's or a backpack's) to practise on; nothing is opened for it.
class SimulatedPort final : public PortBackend {
public:
    // `e1`: how a 40x4's second enable hangs on pin 17 of every parallel port here.
    explicit SimulatedPort(E1Wiring e1 = kDefaultE1Wiring) : e1_(e1) {}
    std::string Describe() const override { return "simulated module"; }
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t base) const override;
    void SetWiring(std::uint32_t base, PortWiring wiring);

    // A driver on the data lines, until it is disconnected.
    void Connect(const DataDriver* driver);
    void Disconnect(const DataDriver* driver);

private:
    E1Wiring e1_;
    std::vector<std::pair<std::uint32_t, PortWiring>> wirings_;
    std::vector<std::pair<std::uint32_t, LineLevels>> lines_;
    std::vector<const DataDriver*> drivers_;
};
