#include "io/transports/Raw.h"

#include <fcntl.h>

#include <cerrno>

#include "base/HexText.h"

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

RawPort::RawPort(std::shared_ptr<KernelSystem> sys, TransportContext& context, E1Wiring e1)
    : sys_(std::move(sys)), context_(context), e1_(e1) {}

RawPort::~RawPort() {
    if (fd_ < 0) return;
    if (const int closed = sys_->Close(fd_); closed < 0) {
        context_.Report("raw-close",
                        std::string("cannot close ") + kRawPortDevice + ": " + ErrorText(closed));
    }
}

bool RawPort::Open() {
    if (tried_) return fd_ >= 0;
    tried_ = true;
    const int fd = sys_->Open(kRawPortDevice, O_RDWR);
    if (fd < 0) {
        context_.Report("raw-open", std::string("cannot open ") + kRawPortDevice + ": " +
                                        ErrorText(fd) + " — " + FixFor(fd, kOpenFixes));
        return false;
    }
    fd_ = fd;
    return true;
}

bool RawPort::Allowed(std::uint32_t address, const char* operation) {
    if (ParportRegisterAt(address)) return true;
    context_.Report("raw-refused:" + HexAddress(address),
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
    context_.Report("raw-read:" + std::to_string(-error), "read of " + HexAddress(address) +
                                                              " through " + kRawPortDevice +
                                                              " failed: " + ErrorText(error));
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
    context_.Report("raw-write:" + std::to_string(-error),
                    "write to " + HexAddress(address) + " through " + kRawPortDevice +
                        " failed: " + ErrorText(error) + " — the module did not get it");
}
