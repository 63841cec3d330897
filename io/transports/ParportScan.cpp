#include "io/transports/ParportScan.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <limits>
#include <utility>

#include "io/PortIo.h"

namespace {

constexpr int kDecimal = 10;

// The port number of a directory entry named "parportN", or -1 for anything
// else (the kernel also publishes a "default" entry there).
long PortNumber(const std::string& name) {
    const std::string prefix = kParportPrefix;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
    long number = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    const auto [end, error] = std::from_chars(first, last, number, kDecimal);
    return error == std::errc{} && end == last ? number : -1;
}

// The first number of a base-addr file ("888\t1912\n" gives 888).
bool ParseBase(const std::string& text, std::uint32_t& base) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    while (first != last && std::isspace(static_cast<unsigned char>(*first))) ++first;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, kDecimal);
    if (error != std::errc{} || end == first) return false;
    if (end != last && !std::isspace(static_cast<unsigned char>(*end))) return false;
    if (value > std::numeric_limits<std::uint32_t>::max()) return false;
    base = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace

ParportScan ScanParports(const KernelSystem& sys) {
    ParportScan scan;
    std::vector<std::string> names;
    const int listed = sys.ListDirectory(kProcParportDir, names);
    if (listed < 0) {
        if (listed != -ENOENT) {
            PortIo::Instance().ReportProblem(
                "scan-list", std::string("cannot list ") + kProcParportDir + ": " +
                                 ErrorText(listed) + " — parallel ports cannot be found");
        }
        return scan;
    }
    scan.kernelHasParport = true;

    std::vector<std::pair<long, std::string>> numbered;
    for (const std::string& name : names) {
        const long number = PortNumber(name);
        if (number >= 0) numbered.emplace_back(number, name);
    }
    std::sort(numbered.begin(), numbered.end());

    for (const auto& [number, name] : numbered) {
        const std::string file = std::string(kProcParportDir) + "/" + name + "/" + kBaseAddressFile;
        std::string text;
        const int read = sys.ReadFile(file, text);
        ParportDevice device{name, std::string(kDeviceDir) + "/" + name, 0};
        if (read < 0) {
            PortIo::Instance().ReportProblem(
                "scan-read:" + file, "cannot read " + file + ": " + ErrorText(read) + " — " +
                                         device.devicePath + " is not used");
            continue;
        }
        if (!ParseBase(text, device.base)) {
            PortIo::Instance().ReportProblem(
                "scan-parse:" + file,
                "no base address in " + file + " — " + device.devicePath + " is not used");
            continue;
        }
        scan.ports.push_back(device);
    }
    return scan;
}

void ApplyPortMap(ParportScan& scan, const std::vector<PortMapping>& map) {
    const std::string found = DescribePorts(scan.ports);
    std::vector<ParportDevice> mapped;
    for (const PortMapping& entry : map) {
        auto device = std::find_if(scan.ports.begin(), scan.ports.end(), [&](const auto& port) {
            return port.devicePath == entry.devicePath;
        });
        if (device == scan.ports.end()) {
            PortIo::Instance().ReportProblem(
                "port-map:" + entry.devicePath,
                std::string("--") + kPortMapOptionName + " " + HexAddress(entry.base) + "=" +
                    entry.devicePath + ": the kernel has no parallel port there (ports found: " +
                    found + "), so " + HexAddress(entry.base) + " is not mapped");
            continue;
        }
        ParportDevice port = *device;
        port.mappedFrom = port.base;
        port.base = entry.base;
        mapped.push_back(port);
        scan.ports.erase(device);
    }
    // Mapped ports answer first, and a port at a mapped address no longer does.
    std::erase_if(scan.ports, [&](const ParportDevice& port) {
        return std::any_of(mapped.begin(), mapped.end(),
                           [&](const ParportDevice& m) { return m.base == port.base; });
    });
    scan.ports.insert(scan.ports.begin(), mapped.begin(), mapped.end());
}

std::uint32_t LegacyBaseOf(std::uint32_t address) {
    for (std::uint32_t base : kPortBases)
        if (address == base + kControlRegisterOffset) return base;
    return address;
}

std::string DescribePorts(const std::vector<ParportDevice>& ports) {
    if (ports.empty()) return "none";
    std::string text;
    for (const ParportDevice& port : ports) {
        if (!text.empty()) text += ", ";
        text += HexAddress(port.base) + " on " + port.devicePath;
        if (port.mappedFrom != 0)
            text += " at " + HexAddress(port.mappedFrom) + " by --" + kPortMapOptionName;
    }
    return text;
}
