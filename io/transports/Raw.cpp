#include "io/transports/Raw.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>

#include "io/transports/ParportScan.h"

namespace {

constexpr const char kRawNeedsRoot[] =
    "raw port I/O needs root (sudo), and a kernel in lockdown (Secure Boot) refuses it even "
    "then; use --port-io=ppdev instead";
constexpr ErrorFix kOpenFixes[] = {
    {EACCES, kRawNeedsRoot},
    {EPERM, kRawNeedsRoot},
    {ENOENT, "this kernel has no /dev/port; use --port-io=ppdev instead"},
    {0, "use --port-io=ppdev instead"},
};

}  // namespace

RawPort::RawPort(std::shared_ptr<KernelSystem> sys, E1Wiring e1) : sys_(std::move(sys)), e1_(e1) {}

RawPort::~RawPort() {
    if (fd_ < 0) return;
    // PortIo may already be gone at program end, so say it on standard error directly.
    const int closed = sys_->Close(fd_);
    if (closed < 0) {
        std::fprintf(stderr, "lcdtest: cannot close %s: %s\n", kRawPortDevice,
                     ErrorText(closed).c_str());
    }
}

bool RawPort::IsAllowedAddress(std::uint32_t address) {
    for (std::uint32_t base : kPortBases)
        if (address == base || address == base + kControlRegisterOffset) return true;
    return false;
}

bool RawPort::Open() {
    if (tried_) return fd_ >= 0;
    tried_ = true;
    const int fd = sys_->Open(kRawPortDevice, O_RDWR);
    if (fd < 0) {
        PortIo::Instance().ReportProblem("raw-open", std::string("cannot open ") + kRawPortDevice +
                                                         ": " + ErrorText(fd) + " — " +
                                                         FixFor(fd, kOpenFixes));
        return false;
    }
    fd_ = fd;
    return true;
}

bool RawPort::Allowed(std::uint32_t address, const char* operation) {
    if (IsAllowedAddress(address)) return true;
    PortIo::Instance().ReportProblem(
        "raw-refused:" + HexAddress(address),
        "refused to " + std::string(operation) + " I/O address " + HexAddress(address) +
            ": not a parallel-port register (a fault in the tool; please report it)");
    return false;
}

std::optional<std::uint8_t> RawPort::ReadData(std::uint32_t address) {
    if (!Allowed(address, "read from") || !Open()) return std::nullopt;
    unsigned char byte = 0;
    const ssize_t read = sys_->PRead(fd_, &byte, sizeof byte, static_cast<off_t>(address));
    if (read == static_cast<ssize_t>(sizeof byte)) return byte;
    const int error = read < 0 ? static_cast<int>(read) : -EIO;
    PortIo::Instance().ReportProblem("raw-read:" + std::to_string(-error),
                                     "read of " + HexAddress(address) + " through " +
                                         kRawPortDevice + " failed: " + ErrorText(error));
    return std::nullopt;
}

void RawPort::Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) {
    const bool control = group == LineGroup::Control;
    const std::uint32_t address = control ? base + kControlRegisterOffset : base;
    const std::uint8_t value = control ? ControlRegisterOf(lines) : lines.data;
    if (!Allowed(address, "write to")) return;
    if (!Open()) return;  // dropped; the reason was reported when the open failed

    const unsigned char byte = value;
    const ssize_t written = sys_->PWrite(fd_, &byte, sizeof byte, static_cast<off_t>(address));
    if (written == static_cast<ssize_t>(sizeof byte)) return;
    const int error = written < 0 ? static_cast<int>(written) : -EIO;
    PortIo::Instance().ReportProblem("raw-write:" + std::to_string(-error),
                                     "write to " + HexAddress(address) + " through " +
                                         kRawPortDevice + " failed: " + ErrorText(error) +
                                         " — the module did not get it");
}
