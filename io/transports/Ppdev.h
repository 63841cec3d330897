#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/transports/ParportScan.h"
#include "io/KernelSystem.h"
#include "lines/ParportWiring.h"
#include "io/PortIo.h"

// A real parallel port through the kernel's ppdev driver (/dev/parportN), the
// way an ordinary user in group lp reaches the hardware. Each port is opened,
// taken exclusively and claimed on its first write, and held until the
// back-end is destroyed. A write the hardware cannot take is dropped and the
// user is told once per cause; nothing here stops the program.
//
// The data lines turned around (bit 5 of the control register) become a
// PPDATADIR request (the kernel keeps the direction apart from the control
// lines), and a read of the data lines is a PPRDATA request.
class PpdevPort final : public PortBackend {
public:
    // `e1`: how a 40x4's second enable hangs on pin 17 (the tool cannot see it).
    PpdevPort(std::shared_ptr<KernelSystem> sys, std::vector<ParportDevice> ports,
              E1Wiring e1 = kDefaultE1Wiring);
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    std::string Describe() const override;
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t) const override { return ParallelPortWiring(e1_); }

    // Opens and claims the port with this base now, if that was not tried yet;
    // true while it is held. A failure is reported and not tried again.
    bool Claim(std::uint32_t base);
    // Claims the ports in order until one is held; true if one is.
    bool ClaimAny();

    const std::vector<ParportDevice>& Ports() const { return ports_; }

private:
    struct Handle {
        int fd = -1;
        bool tried = false;
        bool dataInput = false;  // the direction last set through PPDATADIR
    };
    bool ClaimAt(std::size_t index);
    // The index of the port at `base`; -1 when none.
    int PortAt(std::uint32_t base) const;
    // Reports a failed request on port `index` once per cause and error.
    void ReportFailure(std::size_t index, const char* cause, const std::string& what, int error);
    void ReportNoPort(std::uint32_t base);
    std::string SuggestPortMap(std::uint32_t base) const;

    std::shared_ptr<KernelSystem> sys_;
    std::vector<ParportDevice> ports_;
    E1Wiring e1_;
    std::vector<Handle> handles_;  // one per port, same order
};
