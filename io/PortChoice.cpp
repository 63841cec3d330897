#include "io/PortChoice.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "io/transports/Gpio.h"
#include "io/transports/ParportScan.h"
#include "io/transports/Pcf8574.h"
#include "io/transports/Ppdev.h"
#include "io/transports/Raw.h"

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

// The kinds of port a --port-map entry can name; the first row is the default.
const PortKind kPortKinds[] = {
    {"ppdev", "/dev/parport", nullptr, nullptr, nullptr,
     "/dev/parportN: a parallel port through ppdev, for example a PCI or PCIe card"},
    {"gpio", "/dev/gpiochip", CheckGpioMapping, MakeGpioPort, SimulatedGpioWiring,
     "/dev/gpiochipN:LINE=OFFSET,...[,invert=LINE+LINE][,reads=safe]: lines of a GPIO chip, "
     "for example /dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18, with LINE one of D0..D7, E0, "
     "E1, RS, RW (lines not named are not wired), invert= naming lines through an inverting "
     "buffer and reads=safe letting Verify read (a level shifter or a 3.3 V module)"},
    {"pcf8574", "/dev/i2c-", CheckPcf8574Device, MakePcf8574Port, SimulatedPcf8574Wiring,
     "/dev/i2c-N@ADDR[:LINE=Pn,...][,backlight=on|off]: a PCF8574 I2C backpack at ADDR, for "
     "example /dev/i2c-1@0x27, wired RS=P0, RW=P1, E0=P2, BL=P3 (backlight), D4..D7=P4..P7 "
     "unless LINE=Pn items give the whole pin map"},
};

bool IsPpdev(const PortMapping& entry) {
    return &PortKindOf(entry.devicePath) == &kPortKinds[0];
}

std::vector<PortMapping> PpdevMappings(const std::vector<PortMapping>& map) {
    std::vector<PortMapping> ppdev;
    for (const PortMapping& entry : map)
        if (IsPpdev(entry)) ppdev.push_back(entry);
    return ppdev;
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
    PortWiring Wiring(std::uint32_t base) const override {
        for (const auto& [mappedBase, backend] : mapped_)
            if (mappedBase == base) return backend->Wiring(base);
        return rest_->Wiring(base);
    }

private:
    PortBackend& For(std::uint32_t base) {
        for (auto& [mappedBase, backend] : mapped_)
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
        const PortKind& kind = PortKindOf(entry.devicePath);
        if (!kind.simulated) continue;
        PortWiring wiring = kind.simulated(entry.devicePath);
        const std::string node = entry.devicePath.substr(0, entry.devicePath.find_first_of(":@"));
        wirings += (wirings.empty() ? "" : "; ") + HexAddress(entry.base) + " wired as on " + node +
                   " (" + wiring.text + ")";
        port->SetWiring(entry.base, std::move(wiring));
    }
    return {std::move(port),
            "using the simulated module (" + why + (wirings.empty() ? "" : "; " + wirings) + ")"};
}

// The GPIO, I2C and other non-ppdev entries of the map on their own back-ends,
// in front of `rest`; `rest` alone when there are none.
PortBackendChoice WithMappedPorts(PortBackendChoice rest, const std::vector<PortMapping>& map,
                                  const std::shared_ptr<KernelSystem>& sys) {
    PortRouter::Mapped mapped;
    for (const PortMapping& entry : map) {
        const PortKind& kind = PortKindOf(entry.devicePath);
        if (kind.make)
            mapped.emplace_back(entry.base, kind.make(entry.base, entry.devicePath, sys));
    }
    if (mapped.empty()) return rest;
    auto router = std::make_unique<PortRouter>(std::move(rest.backend), std::move(mapped));
    std::string announcement = "using " + router->Describe();
    return {std::move(router), std::move(announcement)};
}

bool HasMappedPorts(const std::vector<PortMapping>& map) {
    for (const PortMapping& entry : map)
        if (PortKindOf(entry.devicePath).make) return true;
    return false;
}

std::string PpdevAnnouncement(const PpdevPort& port) {
    return "using the parallel port through ppdev (" + DescribePorts(port.Ports()) + ")";
}

PortBackendChoice ChooseAuto(std::shared_ptr<KernelSystem> sys,
                             const std::vector<PortMapping>& map, E1Wiring e1) {
    ParportScan scan = ScanParports(*sys);
    ApplyPortMap(scan, PpdevMappings(map));
    if (scan.ports.empty()) return Simulated("no parallel port found", e1);
    auto port = std::make_unique<PpdevPort>(std::move(sys), std::move(scan.ports), e1);
    // Why a port could not be had is reported by the claim itself.
    if (!port->ClaimAny()) return Simulated("no parallel port could be opened and claimed", e1);
    std::string announcement = PpdevAnnouncement(*port);
    return {std::move(port), std::move(announcement)};
}

PortBackendChoice ChoosePpdev(std::shared_ptr<KernelSystem> sys,
                              const std::vector<PortMapping>& map, E1Wiring e1) {
    ParportScan scan = ScanParports(*sys);
    ApplyPortMap(scan, PpdevMappings(map));
    const bool none = scan.ports.empty();
    if (none) {
        PortIo::Instance().ReportProblem(
            "ppdev-none",
            "no parallel port device: load the kernel modules parport_pc and ppdev (sudo "
            "modprobe parport_pc ppdev); if they are loaded, the kernel found no port");
    }
    auto port = std::make_unique<PpdevPort>(std::move(sys), std::move(scan.ports), e1);
    std::string announcement = none ? "using ppdev, but no parallel port was found: port writes "
                                      "are dropped"
                                    : PpdevAnnouncement(*port);
    return {std::move(port), std::move(announcement)};
}

PortBackendChoice ChooseRaw(std::shared_ptr<KernelSystem> sys, E1Wiring e1) {
    auto port = std::make_unique<RawPort>(std::move(sys), e1);
    std::string announcement = port->Open()
                                   ? std::string("using raw port I/O through ") + kRawPortDevice
                                   : std::string("using raw port I/O, but ") + kRawPortDevice +
                                         " cannot be opened: port writes are dropped";
    return {std::move(port), std::move(announcement)};
}

}  // namespace

const PortKind& PortKindOf(std::string_view device) {
    for (const PortKind& kind : kPortKinds)
        if (device.starts_with(kind.devicePrefix)) return kind;
    return kPortKinds[0];
}

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
        return shown + ": expected a Port list address and a device, for example --" +
               kPortMapOptionName + " 0x378=/dev/parport1";
    }
    entry.devicePath = std::string(text.substr(equals + 1));
    if (const PortKind& kind = PortKindOf(entry.devicePath); kind.check) {
        if (std::string wrong = kind.check(entry.devicePath); !wrong.empty())
            return shown + ": " + wrong;
    }
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

std::string PortMapOptionHelp() {
    std::string help =
        "Drive the Port list entry BASE through DEVICE, whatever the port's own address, for "
        "example 0x378=/dev/parport1. May be given for each entry. DEVICE is";
    for (const PortKind& kind : kPortKinds) help += std::string(" ") + std::string(kind.help) + ";";
    help.back() = '.';
    return help + " --port-io=sim practises on the wiring; raw ignores the mapping.";
}

PortBackendChoice ChoosePortBackend(PortIoMode mode, std::shared_ptr<KernelSystem> sys,
                                    const std::vector<PortMapping>& map, E1Wiring e1) {
    // The simulated module can hang on a GPIO or backpack wiring, not on another
    // parallel port.
    const bool ignored = mode == PortIoMode::Raw
                             ? !map.empty()
                             : mode == PortIoMode::Sim && !PpdevMappings(map).empty();
    if (ignored) {
        PortIo::Instance().ReportProblem(
            "port-map-ignored",
            std::string("--") + kPortMapOptionName +
                " is ignored with --port-io=" + std::string(FormatPortIoMode(mode)) +
                (mode == PortIoMode::Raw ? " (it writes only the registers at the Port list's "
                                           "own addresses)"
                                         : ""));
    }
    if (HasMappedPorts(map) && (mode == PortIoMode::Auto || mode == PortIoMode::Ppdev)) {
        // The entries not mapped to their own device stay on the parallel ports.
        ParportScan scan = ScanParports(*sys);
        ApplyPortMap(scan, PpdevMappings(map));
        PortBackendChoice rest{std::make_unique<PpdevPort>(sys, std::move(scan.ports), e1), ""};
        return WithMappedPorts(std::move(rest), map, sys);
    }
    switch (mode) {
        case PortIoMode::Sim:
            return Simulated("--port-io=sim", e1, map);
        case PortIoMode::Ppdev:
            return ChoosePpdev(std::move(sys), map, e1);
        case PortIoMode::Raw:
            return ChooseRaw(std::move(sys), e1);
        case PortIoMode::Auto:
            break;
    }
    return ChooseAuto(std::move(sys), map, e1);
}

std::unique_ptr<PortBackend> MakePortBackend(PortIoMode mode, const std::vector<PortMapping>& map,
                                             E1Wiring e1, std::shared_ptr<KernelSystem> sys) {
    PortBackendChoice choice = ChoosePortBackend(mode, std::move(sys), map, e1);
    std::fprintf(stderr, "lcdtest: %s\n", choice.announcement.c_str());
    std::fflush(stderr);
    return std::move(choice.backend);
}
