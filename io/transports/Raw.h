#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/KernelSystem.h"
#include "io/PortBackend.h"
#include "lines/ParportWiring.h"

inline constexpr const char kRawPortDevice[] = "/dev/port";

// The classic ports driven directly through /dev/port, for root (--port-io=raw;
// no --port-map reaches it). Only the registers of the Port list's ports are
// ever written or read: a bug elsewhere must not reach an arbitrary I/O port,
// so the port refuses and reports every other address itself, whatever its
// callers check first.
// The data lines turned around go to bit 5 of the control register, which does
// it on a port in a bidirectional mode.
class RawPort final : public PortBackend {
public:
    // `e1`: how a 40x4's second enable hangs on pin 17 (the tool cannot see it).
    RawPort(std::shared_ptr<KernelSystem> sys, TransportContext& context,
            E1Wiring e1 = kDefaultE1Wiring);
    ~RawPort() override;
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    std::string Describe() const override { return "parallel port (raw I/O through /dev/port)"; }
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t) const override { return ParallelPortWiring(e1_); }

    // Opens /dev/port now, if that was not tried yet; true while it is open.
    // A failure is reported and not tried again.
    bool Open();

private:
    // False, after reporting it, for an address that is not allowed.
    bool Allowed(std::uint32_t address, const char* operation);
    std::shared_ptr<KernelSystem> sys_;
    TransportContext& context_;
    E1Wiring e1_;
    int fd_ = -1;
    bool tried_ = false;
};
