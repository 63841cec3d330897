#include "platform/PortIoMode.h"

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

PortBackendChoice ChooseAuto(std::shared_ptr<ParportSystem> sys) {
    ParportScan scan = ScanParports(*sys);
    if (scan.ports.empty()) return Simulated("no parallel port found");
    auto port = std::make_unique<PpdevPort>(std::move(sys), std::move(scan.ports));
    // Why a port could not be had is reported by the claim itself.
    if (!port->ClaimAny()) return Simulated("no parallel port could be opened and claimed");
    std::string announcement = PpdevAnnouncement(*port);
    return {std::move(port), std::move(announcement)};
}

PortBackendChoice ChoosePpdev(std::shared_ptr<ParportSystem> sys) {
    ParportScan scan = ScanParports(*sys);
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

PortBackendChoice ChoosePortBackend(PortIoMode mode, std::shared_ptr<ParportSystem> sys) {
    switch (mode) {
        case PortIoMode::Sim:
            return Simulated("--port-io=sim");
        case PortIoMode::Ppdev:
            return ChoosePpdev(std::move(sys));
        case PortIoMode::Raw:
            return ChooseRaw(std::move(sys));
        case PortIoMode::Auto:
            break;
    }
    return ChooseAuto(std::move(sys));
}

std::unique_ptr<PortBackend> MakePortBackend(PortIoMode mode, std::shared_ptr<ParportSystem> sys) {
    PortBackendChoice choice = ChoosePortBackend(mode, std::move(sys));
    std::fprintf(stderr, "lcdtest: %s\n", choice.announcement.c_str());
    std::fflush(stderr);
    return std::move(choice.backend);
}
