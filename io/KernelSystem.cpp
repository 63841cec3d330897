#include "io/KernelSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kReadChunk = 4096;

// Calls `call` again while it is interrupted by a signal; a claim can block.
template <typename Call>
auto RetryOnInterrupt(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

class LinuxKernelSystem final : public KernelSystem {
public:
    int ReadFile(const std::string& path, std::string& contents) const override {
        const int fd = RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
        if (fd < 0) return -errno;
        contents.clear();
        char buffer[kReadChunk];
        int result = 0;
        for (;;) {
            const ssize_t n = RetryOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
            if (n < 0) {
                result = -errno;
                break;
            }
            if (n == 0) break;
            contents.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return result;
    }

    int ListDirectory(const std::string& path, std::vector<std::string>& names) const override {
        DIR* dir = ::opendir(path.c_str());
        if (!dir) return -errno;
        names.clear();
        int result = 0;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (!entry) {
                result = -errno;  // 0 at the end of the directory
                break;
            }
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
        return result;
    }

    int Open(const std::string& path, int flags) override {
        const int fd = RetryOnInterrupt([&] { return ::open(path.c_str(), flags | O_CLOEXEC); });
        return fd < 0 ? -errno : fd;
    }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        const int result = RetryOnInterrupt([&] { return ::ioctl(fd, request, arg); });
        return result < 0 ? -errno : result;
    }

    ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) override {
        const ssize_t n = RetryOnInterrupt([&] { return ::pwrite(fd, data, size, offset); });
        return n < 0 ? -errno : n;
    }

    ssize_t PRead(int fd, void* data, std::size_t size, off_t offset) override {
        const ssize_t n = RetryOnInterrupt([&] { return ::pread(fd, data, size, offset); });
        return n < 0 ? -errno : n;
    }

    // Not retried on EINTR: on Linux the descriptor is gone either way.
    int Close(int fd) override { return ::close(fd) < 0 ? -errno : 0; }
};

}  // namespace

std::shared_ptr<KernelSystem> MakeLinuxKernelSystem() {
    return std::make_shared<LinuxKernelSystem>();
}

std::string ErrorText(int negatedErrno) {
    return std::strerror(-negatedErrno);
}

std::string FixFor(int negatedErrno, std::span<const ErrorFix> fixes) {
    for (const ErrorFix& row : fixes)
        if (row.error == -negatedErrno || row.error == 0) return row.fix;
    return "";
}
