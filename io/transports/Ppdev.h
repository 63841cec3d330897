#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/KernelSystem.h"
#include "io/PortBackend.h"
#include "io/Transports.h"
#include "lines/ParportWiring.h"

// Parallel ports through the kernel's ppdev driver (/dev/parportN), the way an
// ordinary user in group lp reaches the hardware: the kernel's list of ports,
// a --port-map of one of them to a Port list entry, and the port itself.
//
//   module line   register bit               DB-25 pin   --port-map
//   D0 .. D7      data bits 0 .. 7           2 .. 9      0x378=/dev/parport1
//   E0, RW, RS    control bits 0, 1, 2       1, 14, 16   (the whole connector:
//   E1            control bit 3              17           lines/ParportWiring.h)

// The ppdev row of the table of transports.
extern const Transport kPpdevTransport;

// Where the kernel publishes its parallel ports: one directory per port, named
// like the port's device node, each with the port's base address.
inline constexpr const char kProcParportDir[] = "/proc/sys/dev/parport";
inline constexpr const char kBaseAddressFile[] = "base-addr";
inline constexpr const char kParportPrefix[] = "parport";

// One parallel port the kernel knows.
struct ParportDevice {
    std::string name;        // "parport0"
    std::string devicePath;  // "/dev/parport0"
    std::uint32_t base = 0;  // I/O address of the data register, as the tool addresses it
    // For a port mapped to a Port list address: the base the kernel gives it; 0 otherwise.
    std::uint32_t mappedFrom = 0;
    bool operator==(const ParportDevice&) const = default;
};

struct ParportScan {
    std::vector<ParportDevice> ports;  // in port-number order
    // False when the kernel publishes no parallel-port directory at all (no
    // parport module loaded), true when it does, even with no port in it.
    bool kernelHasParport = false;
};

// Lists the ports under kProcParportDir. An entry whose base address cannot be
// read or parsed is left out and reported.
ParportScan ScanParports(const KernelSystem& sys, TransportContext& context);

// Makes each mapped ppdev device answer to its Port list address; a port the
// kernel has at a mapped address gives way. A device the scan did not find is
// reported. Mappings of other kinds are passed over.
void ApplyPortMap(ParportScan& scan, const std::vector<PortMapping>& map,
                  TransportContext& context);

// "0x378 on /dev/parport0, 0x278 on /dev/parport1", or "none"; a mapped port
// reads "0x378 on /dev/parport1 at 0xE800 by --port-map".
std::string DescribePorts(const std::vector<ParportDevice>& ports);

// The ports of a scan as one back-end. Each port is opened, taken exclusively
// and claimed on its first write, and held until the back-end is destroyed. A
// write the hardware cannot take is dropped and the user is told once per
// cause; nothing here stops the program.
//
// The data lines turned around (bit 5 of the control register) become a
// PPDATADIR request (the kernel keeps the direction apart from the control
// lines), and a read of the data lines is a PPRDATA request.
class PpdevPort final : public PortBackend {
public:
    // `e1`: how a 40x4's second enable hangs on pin 17 (the tool cannot see it).
    PpdevPort(std::shared_ptr<KernelSystem> sys, std::vector<ParportDevice> ports,
              TransportContext& context, E1Wiring e1 = kDefaultE1Wiring);
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
    TransportContext& context_;
    E1Wiring e1_;
    std::vector<Handle> handles_;  // one per port, same order
};
