#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

// The kernel calls the transports make (ppdev, /dev/port, the GPIO character
// device, i2c-dev, and the files that list devices), behind one seam so their
// logic runs in tests without hardware. Every call returns 0 or more on
// success and the negated errno on failure, so no caller has to read errno.
class KernelSystem {
public:
    virtual ~KernelSystem() = default;

    // Reads a whole (small) file into `contents`.
    virtual int ReadFile(const std::string& path, std::string& contents) const = 0;
    // The names in a directory, without "." and "..", in no particular order.
    virtual int ListDirectory(const std::string& path, std::vector<std::string>& names) const = 0;

    // A file descriptor.
    virtual int Open(const std::string& path, int flags) = 0;
    // `arg` points to the request's argument, or is nullptr for requests without one.
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    // The number of bytes written.
    virtual ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) = 0;
    // The number of bytes read.
    virtual ssize_t PRead(int fd, void* data, std::size_t size, off_t offset) = 0;
    virtual int Close(int fd) = 0;
};

// Where the kernel puts device nodes.
inline constexpr const char kDeviceDir[] = "/dev";

// The seam over the running Linux kernel.
std::shared_ptr<KernelSystem> MakeLinuxKernelSystem();

// The text of a negated errno, for messages ("Permission denied").
std::string ErrorText(int negatedErrno);

// What the user can do about a failed request, by its errno: each back-end keeps
// a table of these, and the last row, errno 0, serves every other error.
struct ErrorFix {
    int error;  // a positive errno; 0 for any other
    const char* fix;
};
std::string FixFor(int negatedErrno, std::span<const ErrorFix> fixes);
