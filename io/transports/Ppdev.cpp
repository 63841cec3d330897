#include "io/transports/Ppdev.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <limits>
#include <utility>

#include "base/HexText.h"
#include "io/MappingText.h"

// ---- The kernel's list of ports ----

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

ParportScan ScanParports(const KernelSystem& sys, TransportContext& context) {
    ParportScan scan;
    std::vector<std::string> names;
    const int listed = sys.ListDirectory(kProcParportDir, names);
    if (listed < 0) {
        if (listed != -ENOENT) {
            context.Report("scan-list", std::string("cannot list ") + kProcParportDir + ": " +
                                            ErrorText(listed) +
                                            " — parallel ports cannot be found");
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
            context.Report("scan-read:" + file, "cannot read " + file + ": " + ErrorText(read) +
                                                    " — " + device.devicePath + " is not used");
            continue;
        }
        if (!ParseBase(text, device.base)) {
            context.Report("scan-parse:" + file, "no base address in " + file + " — " +
                                                     device.devicePath + " is not used");
            continue;
        }
        scan.ports.push_back(device);
    }
    return scan;
}

void ApplyPortMap(ParportScan& scan, const std::vector<PortMapping>& map,
                  TransportContext& context) {
    const std::string found = DescribePorts(scan.ports);
    std::vector<ParportDevice> mapped;
    for (const PortMapping& entry : map) {
        if (entry.kind != &kPpdevTransport) continue;
        auto device = std::find_if(scan.ports.begin(), scan.ports.end(), [&](const auto& port) {
            return port.devicePath == entry.devicePath;
        });
        if (device == scan.ports.end()) {
            context.Report("port-map:" + entry.devicePath,
                           std::string("--") + kPortMapOptionName + " " + HexAddress(entry.base) +
                               "=" + entry.devicePath +
                               ": the kernel has no parallel port there (ports found: " + found +
                               "), so " + HexAddress(entry.base) + " is not mapped");
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

// ---- The ports ----

namespace {

constexpr const char kCheckKernel[] = "check that the kernel sees the port (dmesg | grep parport)";

// What the user can do about a device node that cannot be opened.
constexpr ErrorFix kOpenFixes[] = {
    {ENOENT, "load the kernel module ppdev (sudo modprobe ppdev)"},
    {ENODEV, "load the kernel module ppdev (sudo modprobe ppdev)"},
    {ENXIO, "load the kernel module ppdev (sudo modprobe ppdev)"},  // a node without its driver
    {EACCES, "add your user to group lp (sudo usermod -aG lp $USER) and log in again"},
    {EPERM, "add your user to group lp (sudo usermod -aG lp $USER) and log in again"},
    // Opened with O_NOFOLLOW: only the node the scan named will do.
    {ELOOP, "it is a symbolic link, not the kernel's device node; check /dev"},
    {0, kCheckKernel},
};

// What the user can do about a port that cannot be claimed. The kernel refuses
// an exclusive claim with ENXIO while another driver is registered on the port.
constexpr const char kUnloadLp[] =
    "another driver holds the port, usually the printer driver: unload it (sudo modprobe -r lp) "
    "and close any program using the port";
constexpr ErrorFix kClaimFixes[] = {{ENXIO, kUnloadLp}, {EBUSY, kUnloadLp}, {0, kCheckKernel}};

}  // namespace

PpdevPort::PpdevPort(std::shared_ptr<KernelSystem> sys, std::vector<ParportDevice> ports,
                     TransportContext& context, E1Wiring e1)
    : sys_(std::move(sys)),
      ports_(std::move(ports)),
      context_(context),
      e1_(e1),
      handles_(ports_.size()) {}

PpdevPort::~PpdevPort() {
    for (std::size_t i = 0; i < handles_.size(); ++i) {
        const int fd = handles_[i].fd;
        if (fd < 0) continue;
        const int released = sys_->Ioctl(fd, PPRELEASE, nullptr);
        const int closed = sys_->Close(fd);
        const int error = released < 0 ? released : closed;
        if (error < 0) {
            context_.Report("ppdev-release:" + ports_[i].devicePath,
                            "cannot release " + ports_[i].devicePath + ": " + ErrorText(error));
        }
    }
}

std::string PpdevPort::Describe() const {
    return "parallel port (ppdev: " + DescribePorts(ports_) + ")";
}

bool PpdevPort::Claim(std::uint32_t base) {
    for (std::size_t i = 0; i < ports_.size(); ++i)
        if (ports_[i].base == base) return ClaimAt(i);
    return false;
}

bool PpdevPort::ClaimAny() {
    for (std::size_t i = 0; i < ports_.size(); ++i)
        if (ClaimAt(i)) return true;
    return false;
}

bool PpdevPort::ClaimAt(std::size_t index) {
    Handle& handle = handles_[index];
    if (handle.tried) return handle.fd >= 0;
    handle.tried = true;
    const std::string& path = ports_[index].devicePath;

    // The path was built from the kernel's port list long before this first
    // write; a symbolic link put in its place is refused, not followed.
    const int fd = sys_->Open(path, O_RDWR | O_NOFOLLOW);
    if (fd < 0) {
        context_.Report("ppdev-open:" + path, "cannot open " + path + ": " + ErrorText(fd) + " — " +
                                                  FixFor(fd, kOpenFixes));
        return false;
    }
    // Exclusive, so no other driver slips its own writes between the module's.
    int error = sys_->Ioctl(fd, PPEXCL, nullptr);
    if (error >= 0) error = sys_->Ioctl(fd, PPCLAIM, nullptr);
    if (error < 0) {
        context_.Report("ppdev-claim:" + path, "cannot claim " + path + ": " + ErrorText(error) +
                                                   " — " + FixFor(error, kClaimFixes));
        sys_->Close(fd);  // never claimed, so nothing is lost if this fails too
        return false;
    }
    handle.fd = fd;
    return true;
}

int PpdevPort::PortAt(std::uint32_t base) const {
    for (std::size_t i = 0; i < ports_.size(); ++i)
        if (base == ports_[i].base) return static_cast<int>(i);
    return -1;
}

void PpdevPort::ReportFailure(std::size_t index, const char* cause, const std::string& what,
                              int error) {
    const std::string& path = ports_[index].devicePath;
    context_.Report(
        "ppdev-" + std::string(cause) + ":" + path + ":" + std::to_string(-error),
        what + " through " + path + " failed: " + ErrorText(error) +
            " — the module did not get it; check the port and its cable (dmesg | grep parport)");
}

void PpdevPort::ReportNoPort(std::uint32_t base) {
    context_.Report("ppdev-no-port:" + HexAddress(base),
                    "no parallel port at " + HexAddress(base) +
                        ": its writes are dropped (ports found: " + DescribePorts(ports_) + ")" +
                        SuggestPortMap(base));
}

// A port the Port list cannot reach on its own: one away from the list's
// addresses and not mapped already.
std::string PpdevPort::SuggestPortMap(std::uint32_t base) const {
    for (const ParportDevice& port : ports_) {
        if (port.mappedFrom != 0 || ParportRegisterAt(port.base)) continue;
        return std::string(" — to drive it from the Port list, map it: --") + kPortMapOptionName +
               " " + HexAddress(base) + "=" + port.devicePath;
    }
    return {};
}

void PpdevPort::Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) {
    const int index = PortAt(base);
    if (index < 0) {
        ReportNoPort(base);
        return;
    }
    const auto i = static_cast<std::size_t>(index);
    if (!ClaimAt(i)) return;  // dropped; the reason was reported when the claim failed

    Handle& handle = handles_[i];
    const bool control = group == LineGroup::Control;
    const std::uint32_t address = control ? base + kControlRegisterOffset : base;
    unsigned char byte = lines.data;
    if (control) {
        if (lines.dataInput != handle.dataInput) {
            int direction = lines.dataInput ? 1 : 0;
            const int error = sys_->Ioctl(handle.fd, PPDATADIR, &direction);
            if (error < 0) {
                ReportFailure(i, "direction",
                              "turning the data lines of " + HexAddress(address) + " around",
                              error);
                return;
            }
            handle.dataInput = lines.dataInput;
        }
        byte = ControlRegisterByte(lines.control);
    }
    const int error = sys_->Ioctl(handle.fd, control ? PPWCONTROL : PPWDATA, &byte);
    if (error < 0) ReportFailure(i, "write", "write to " + HexAddress(address), error);
}

std::optional<std::uint8_t> PpdevPort::ReadData(std::uint32_t base) {
    const int index = PortAt(base);
    if (index < 0) {
        ReportNoPort(base);
        return std::nullopt;
    }
    const auto i = static_cast<std::size_t>(index);
    if (!ClaimAt(i)) return std::nullopt;
    unsigned char byte = 0;
    const int error = sys_->Ioctl(handles_[i].fd, PPRDATA, &byte);
    if (error < 0) {
        ReportFailure(i, "read", "read of " + HexAddress(base), error);
        return std::nullopt;
    }
    return byte;
}

// ---- The row ----

namespace {

std::optional<std::string> ParsePpdevDevice(std::string_view text, std::string& error) {
    if (text.starts_with("/dev/parport")) return std::string(text);
    error = Quoted(text) + " is no ppdev device: expected /dev/parportN, for example /dev/parport1";
    return std::nullopt;
}

}  // namespace

// Mapped devices need no back-end of their own: the scan's port takes them.
extern const Transport kPpdevTransport =
    MakeTransport<std::string, ParsePpdevDevice, nullptr, nullptr>(
        "ppdev", "/dev/parport",
        "/dev/parportN: a parallel port through ppdev, for example a PCI or PCIe card");
