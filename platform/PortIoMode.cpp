#include "platform/PortIoMode.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/ParportScan.h"
#include "platform/PpdevPort.h"
#include "platform/RawPort.h"

namespace {

struct ModeName {
    PortIoMode mode;
    std::string_view name;
};
constexpr ModeName kModeNames[] = {
    {PortIoMode::Auto, "auto"},
    {PortIoMode::Sim, "sim"},
    {PortIoMode::Ppdev, "ppdev"},
    {PortIoMode::Raw, "raw"},
};

PortBackendChoice Simulated(const std::string& why) {
    return {std::make_unique<SimulatedPort>(), "using the simulated module (" + why + ")"};
}

std::string PpdevAnnouncement(const PpdevPort& port) {
    return "using the parallel port through ppdev (" + DescribePorts(port.Ports()) + ")";
}

PortBackendChoice ChooseAuto(std::shared_ptr<ParportSystem> sys,
                             const std::vector<PortMapping>& map) {
    ParportScan scan = ScanParports(*sys);
    ApplyPortMap(scan, map);
    if (scan.ports.empty()) return Simulated("no parallel port found");
    auto port = std::make_unique<PpdevPort>(std::move(sys), std::move(scan.ports));
    // Why a port could not be had is reported by the claim itself.
    if (!port->ClaimAny()) return Simulated("no parallel port could be opened and claimed");
    std::string announcement = PpdevAnnouncement(*port);
    return {std::move(port), std::move(announcement)};
}

PortBackendChoice ChoosePpdev(std::shared_ptr<ParportSystem> sys,
                              const std::vector<PortMapping>& map) {
    ParportScan scan = ScanParports(*sys);
    ApplyPortMap(scan, map);
    const bool none = scan.ports.empty();
    if (none) {
        PortIo::Instance().ReportProblem(
            "ppdev-none",
            "no parallel port device: load the kernel modules parport_pc and ppdev (sudo "
            "modprobe parport_pc ppdev); if they are loaded, the kernel found no port");
    }
    auto port = std::make_unique<PpdevPort>(std::move(sys), std::move(scan.ports));
    std::string announcement = none ? "using ppdev, but no parallel port was found: port writes "
                                      "are dropped"
                                    : PpdevAnnouncement(*port);
    return {std::move(port), std::move(announcement)};
}

PortBackendChoice ChooseRaw(std::shared_ptr<ParportSystem> sys) {
    auto port = std::make_unique<RawPort>(std::move(sys));
    std::string announcement = port->Open()
                                   ? std::string("using raw port I/O through ") + kRawPortDevice
                                   : std::string("using raw port I/O, but ") + kRawPortDevice +
                                         " cannot be opened: port writes are dropped";
    return {std::move(port), std::move(announcement)};
}

}  // namespace

std::optional<PortIoMode> ParsePortIoMode(std::string_view text) {
    for (const ModeName& entry : kModeNames)
        if (entry.name == text) return entry.mode;
    return std::nullopt;
}

std::string_view FormatPortIoMode(PortIoMode mode) {
    for (const ModeName& entry : kModeNames)
        if (entry.mode == mode) return entry.name;
    return "unknown";
}

std::string_view PortIoOptionHelp() {
    return "How to reach the parallel port: auto (default: ppdev when a port can be claimed, "
           "otherwise the simulated module), sim (simulated module), ppdev (/dev/parportN, "
           "group lp) or raw (/dev/port, root only).";
}

std::string AddPortMapping(std::vector<PortMapping>& map, std::string_view text) {
    const std::string shown = "--" + std::string(kPortMapOptionName) + " " + std::string(text);
    const std::size_t equals = text.find('=');
    std::string_view address = text.substr(0, std::min(equals, text.size()));
    if (address.starts_with("0x") || address.starts_with("0X")) address.remove_prefix(2);
    PortMapping entry;
    const auto [end, error] =
        std::from_chars(address.data(), address.data() + address.size(), entry.base, 16);
    if (equals == std::string_view::npos || equals + 1 == text.size() || address.empty() ||
        error != std::errc{} || end != address.data() + address.size()) {
        return shown + ": expected a Port list address and a ppdev device, for example --" +
               kPortMapOptionName + " 0x378=/dev/parport1";
    }
    entry.devicePath = std::string(text.substr(equals + 1));
    if (std::find(std::begin(kPortBases), std::end(kPortBases), entry.base) ==
        std::end(kPortBases)) {
        return shown + ": " + HexAddress(entry.base) +
               " is not in the Port list (0x378, 0x278 or 0x3BC)";
    }
    for (const PortMapping& other : map) {
        if (other.base == entry.base || other.devicePath == entry.devicePath)
            return shown + ": " + HexAddress(other.base) + "=" + other.devicePath +
                   " is mapped already; each address and each device once";
    }
    map.push_back(entry);
    return {};
}

std::string_view PortMapOptionHelp() {
    return "Drive the Port list entry BASE through the ppdev device DEVICE, whatever the port's "
           "own address (a PCI or PCIe card), for example 0x378=/dev/parport1. May be given for "
           "each entry. Not used by --port-io=sim or raw.";
}

PortBackendChoice ChoosePortBackend(PortIoMode mode, std::shared_ptr<ParportSystem> sys,
                                    const std::vector<PortMapping>& map) {
    if (!map.empty() && (mode == PortIoMode::Sim || mode == PortIoMode::Raw)) {
        PortIo::Instance().ReportProblem(
            "port-map-ignored",
            std::string("--") + kPortMapOptionName +
                " is ignored with --port-io=" + std::string(FormatPortIoMode(mode)) +
                (mode == PortIoMode::Raw ? " (it writes only the registers at the Port list's "
                                           "own addresses)"
                                         : ""));
    }
    switch (mode) {
        case PortIoMode::Sim:
            return Simulated("--port-io=sim");
        case PortIoMode::Ppdev:
            return ChoosePpdev(std::move(sys), map);
        case PortIoMode::Raw:
            return ChooseRaw(std::move(sys));
        case PortIoMode::Auto:
            break;
    }
    return ChooseAuto(std::move(sys), map);
}

std::unique_ptr<PortBackend> MakePortBackend(PortIoMode mode, const std::vector<PortMapping>& map,
                                             std::shared_ptr<ParportSystem> sys) {
    PortBackendChoice choice = ChoosePortBackend(mode, std::move(sys), map);
    std::fprintf(stderr, "lcdtest: %s\n", choice.announcement.c_str());
    std::fflush(stderr);
    return std::move(choice.backend);
}
