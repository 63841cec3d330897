#include "io/transports/Ppdev.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>

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
                     E1Wiring e1)
    : sys_(std::move(sys)), ports_(std::move(ports)), e1_(e1), handles_(ports_.size()) {}

PpdevPort::~PpdevPort() {
    // PortIo may already be gone at program end, so a failure here is said on
    // standard error directly.
    for (std::size_t i = 0; i < handles_.size(); ++i) {
        const int fd = handles_[i].fd;
        if (fd < 0) continue;
        const int released = sys_->Ioctl(fd, PPRELEASE, nullptr);
        const int closed = sys_->Close(fd);
        const int error = released < 0 ? released : closed;
        if (error < 0) {
            std::fprintf(stderr, "lcdtest: cannot release %s: %s\n", ports_[i].devicePath.c_str(),
                         ErrorText(error).c_str());
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
        PortIo::Instance().ReportProblem(
            "ppdev-open:" + path,
            "cannot open " + path + ": " + ErrorText(fd) + " — " + FixFor(fd, kOpenFixes));
        return false;
    }
    // Exclusive, so no other driver slips its own writes between the module's.
    int error = sys_->Ioctl(fd, PPEXCL, nullptr);
    if (error >= 0) error = sys_->Ioctl(fd, PPCLAIM, nullptr);
    if (error < 0) {
        PortIo::Instance().ReportProblem(
            "ppdev-claim:" + path,
            "cannot claim " + path + ": " + ErrorText(error) + " — " + FixFor(error, kClaimFixes));
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
    PortIo::Instance().ReportProblem(
        "ppdev-" + std::string(cause) + ":" + path + ":" + std::to_string(-error),
        what + " through " + path + " failed: " + ErrorText(error) +
            " — the module did not get it; check the port and its cable (dmesg | grep parport)");
}

void PpdevPort::ReportNoPort(std::uint32_t base) {
    PortIo::Instance().ReportProblem("ppdev-no-port:" + HexAddress(base),
                                     "no parallel port at " + HexAddress(base) +
                                         ": its writes are dropped (ports found: " +
                                         DescribePorts(ports_) + ")" + SuggestPortMap(base));
}

// A port the Port list cannot reach on its own: one away from the list's
// addresses and not mapped already.
std::string PpdevPort::SuggestPortMap(std::uint32_t base) const {
    for (const ParportDevice& port : ports_) {
        if (port.mappedFrom != 0 || LegacyBaseOf(port.base + kControlRegisterOffset) == port.base)
            continue;
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
