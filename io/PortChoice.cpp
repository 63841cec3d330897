#include "io/PortChoice.h"

#include <algorithm>
#include <cstdio>

#include "base/HexText.h"
#include "io/transports/Ppdev.h"
#include "io/transports/Raw.h"
#include "io/transports/Simulated.h"

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

bool IsPpdev(const PortMapping& entry) {
    return entry.kind == &kPpdevTransport;
}

bool HasMappedPorts(const std::vector<PortMapping>& map) {
    for (const PortMapping& entry : map)
        if (entry.kind->open) return true;
    return false;
}

// Sends the mapped Port list entries to their own back-ends, the rest to one
// back-end for all.
class PortRouter final : public PortBackend {
public:
    using Mapped = std::vector<std::pair<std::uint32_t, std::unique_ptr<PortBackend>>>;
    PortRouter(std::unique_ptr<PortBackend> rest, Mapped mapped)
        : rest_(std::move(rest)), mapped_(std::move(mapped)) {}

    std::string Describe() const override {
        std::string text;
        for (const auto& [base, backend] : mapped_)
            text += (text.empty() ? "" : "; ") + HexAddress(base) + " on " + backend->Describe();
        return text;
    }
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override {
        For(base).Apply(base, lines, group);
    }
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override {
        return For(base).ReadData(base);
    }
    PortWiring Wiring(std::uint32_t base) const override { return For(base).Wiring(base); }

private:
    PortBackend& For(std::uint32_t base) const {
        for (const auto& [mappedBase, backend] : mapped_)
            if (mappedBase == base) return *backend;
        return *rest_;
    }
    std::unique_ptr<PortBackend> rest_;
    Mapped mapped_;
};

PortBackendChoice Simulated(const std::string& why, E1Wiring e1,
                            const std::vector<PortMapping>& map = {}) {
    auto port = std::make_unique<SimulatedPort>(e1);
    std::string wirings;
    for (const PortMapping& entry : map) {
        if (!entry.kind->wiring) continue;
        PortWiring wiring = entry.kind->wiring(entry.config);
        const std::string node = entry.devicePath.substr(0, entry.devicePath.find_first_of(":@"));
        wirings += (wirings.empty() ? "" : "; ") + HexAddress(entry.base) + " wired as on " + node +
                   " (" + wiring.text + ")";
        port->SetWiring(entry.base, std::move(wiring));
    }
    return {std::move(port),
            "using the simulated module (" + why + (wirings.empty() ? "" : "; " + wirings) + ")"};
}

// The GPIO, I2C and other non-ppdev entries of the map on their own back-ends,
// in front of `rest`.
PortBackendChoice WithMappedPorts(std::unique_ptr<PortBackend> rest,
                                  const std::vector<PortMapping>& map,
                                  const std::shared_ptr<KernelSystem>& sys, PortIo& io) {
    PortRouter::Mapped mapped;
    for (const PortMapping& entry : map) {
        if (!entry.kind->open) continue;
        const OpenRequest request{entry.base, io.Lines(entry.base), sys, io};
        mapped.emplace_back(entry.base, entry.kind->open(entry.config, request));
    }
    auto router = std::make_unique<PortRouter>(std::move(rest), std::move(mapped));
    std::string announcement = "using " + router->Describe();
    return {std::move(router), std::move(announcement)};
}

std::string PpdevAnnouncement(const PpdevPort& port) {
    return "using the parallel port through ppdev (" + DescribePorts(port.Ports()) + ")";
}

ParportScan MappedScan(const KernelSystem& sys, const std::vector<PortMapping>& map, PortIo& io) {
    ParportScan scan = ScanParports(sys, io);
    ApplyPortMap(scan, map, io);
    return scan;
}

PortBackendChoice ChooseAuto(std::shared_ptr<KernelSystem> sys, const std::vector<PortMapping>& map,
                             E1Wiring e1, PortIo& io) {
    ParportScan scan = MappedScan(*sys, map, io);
    if (scan.ports.empty()) return Simulated("no parallel port found", e1);
    auto port = std::make_unique<PpdevPort>(std::move(sys), std::move(scan.ports), io, e1);
    // Why a port could not be had is reported by the claim itself.
    if (!port->ClaimAny()) return Simulated("no parallel port could be opened and claimed", e1);
    std::string announcement = PpdevAnnouncement(*port);
    return {std::move(port), std::move(announcement)};
}

PortBackendChoice ChoosePpdev(std::shared_ptr<KernelSystem> sys,
                              const std::vector<PortMapping>& map, E1Wiring e1, PortIo& io) {
    ParportScan scan = MappedScan(*sys, map, io);
    const bool none = scan.ports.empty();
    if (none) {
        io.Report("ppdev-none",
                  "no parallel port device: load the kernel modules parport_pc and ppdev (sudo "
                  "modprobe parport_pc ppdev); if they are loaded, the kernel found no port");
    }
    auto port = std::make_unique<PpdevPort>(std::move(sys), std::move(scan.ports), io, e1);
    std::string announcement = none ? "using ppdev, but no parallel port was found: port writes "
                                      "are dropped"
                                    : PpdevAnnouncement(*port);
    return {std::move(port), std::move(announcement)};
}

PortBackendChoice ChooseRaw(std::shared_ptr<KernelSystem> sys, E1Wiring e1, PortIo& io) {
    auto port = std::make_unique<RawPort>(std::move(sys), io, e1);
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

PortBackendChoice ChoosePortBackend(PortIoMode mode, std::shared_ptr<KernelSystem> sys,
                                    const std::vector<PortMapping>& map, E1Wiring e1, PortIo& io) {
    // The simulated module can hang on a GPIO or backpack wiring, not on another
    // parallel port.
    const bool ignored = mode == PortIoMode::Raw ? !map.empty()
                                                 : mode == PortIoMode::Sim &&
                                                       std::any_of(map.begin(), map.end(), IsPpdev);
    if (ignored) {
        io.Report("port-map-ignored",
                  std::string("--") + kPortMapOptionName +
                      " is ignored with --port-io=" + std::string(FormatPortIoMode(mode)) +
                      (mode == PortIoMode::Raw ? " (it writes only the registers at the Port "
                                                 "list's own addresses)"
                                               : ""));
    }
    if (HasMappedPorts(map) && (mode == PortIoMode::Auto || mode == PortIoMode::Ppdev)) {
        // The entries not mapped to their own device stay on the parallel ports.
        auto rest = std::make_unique<PpdevPort>(sys, MappedScan(*sys, map, io).ports, io, e1);
        return WithMappedPorts(std::move(rest), map, sys, io);
    }
    switch (mode) {
        case PortIoMode::Sim:
            return Simulated("--port-io=sim", e1, map);
        case PortIoMode::Ppdev:
            return ChoosePpdev(std::move(sys), map, e1, io);
        case PortIoMode::Raw:
            return ChooseRaw(std::move(sys), e1, io);
        case PortIoMode::Auto:
            break;
    }
    return ChooseAuto(std::move(sys), map, e1, io);
}

void UsePortBackend(PortIo& io, PortIoMode mode, const std::vector<PortMapping>& map, E1Wiring e1,
                    std::shared_ptr<KernelSystem> sys) {
    PortBackendChoice choice = ChoosePortBackend(mode, std::move(sys), map, e1, io);
    std::fprintf(stderr, "lcdtest: %s\n", choice.announcement.c_str());
    std::fflush(stderr);
    io.SetBackend(std::move(choice.backend));
}
