#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/HexText.h"
#include "io/KernelSystem.h"
#include "lines/ParportWiring.h"

// Where the kernel publishes its parallel ports: one directory per port, named
// like the port's device node, each with the port's base address.
inline constexpr const char kProcParportDir[] = "/proc/sys/dev/parport";
inline constexpr const char kBaseAddressFile[] = "base-addr";
inline constexpr const char kDeviceDir[] = "/dev";
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

// --port-map BASE=DEVICE: the Port list entry BASE drives the ppdev device
// DEVICE whatever the port's own address (PCI and PCIe cards sit elsewhere).
inline constexpr const char kPortMapOptionName[] = "port-map";
struct PortMapping {
    std::uint32_t base = 0;  // one of kPortBases
    std::string devicePath;  // "/dev/parport1"
    bool operator==(const PortMapping&) const = default;
};

struct ParportScan {
    std::vector<ParportDevice> ports;  // in port-number order
    // False when the kernel publishes no parallel-port directory at all (no
    // parport module loaded), true when it does, even with no port in it.
    bool kernelHasParport = false;
};

// Lists the ports under kProcParportDir. An entry whose base address cannot be
// read or parsed is left out and reported to the user.
ParportScan ScanParports(const KernelSystem& sys);

// Makes each mapped device answer to its Port list address; a port the kernel
// has at a mapped address gives way. A device the scan did not find is reported.
void ApplyPortMap(ParportScan& scan, const std::vector<PortMapping>& map);

// The port base an I/O address belongs to when it is a register of a classic
// port (0x37A gives 0x378), otherwise the address itself.
std::uint32_t LegacyBaseOf(std::uint32_t address);
// "0x378 on /dev/parport0, 0x278 on /dev/parport1", or "none"; a mapped port
// reads "0x378 on /dev/parport1 at 0xE800 by --port-map".
std::string DescribePorts(const std::vector<ParportDevice>& ports);
