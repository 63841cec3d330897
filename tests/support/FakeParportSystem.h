#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/ParportScan.h"
#include "platform/ParportSystem.h"

// The kernel as the parallel-port back-ends see it, in memory: files and
// directories to read, device nodes to open, and a record of every call made
// on them. Errors are planted as negated errno values.
class FakeParportSystem final : public ParportSystem {
public:
    struct IoctlCall {
        std::string path;
        unsigned long request;
        int byte;  // the argument byte, or -1 for a request without one
        bool operator==(const IoctlCall&) const = default;
    };

    // Publishes port N at `base` the way the kernel does.
    void AddPort(int number, std::uint32_t base) {
        const std::string name = kParportPrefix + std::to_string(number);
        dirs[kProcParportDir].push_back(name);
        files[std::string(kProcParportDir) + "/" + name + "/" + kBaseAddressFile] =
            std::to_string(base) + "\t" + std::to_string(base + kEcpOffset) + "\n";
    }

    int ReadFile(const std::string& path, std::string& contents) const override {
        if (auto e = errors.find(path); e != errors.end()) return e->second;
        auto f = files.find(path);
        if (f == files.end()) return -ENOENT;
        contents = f->second;
        return 0;
    }
    int ListDirectory(const std::string& path, std::vector<std::string>& names) const override {
        if (auto e = errors.find(path); e != errors.end()) return e->second;
        auto d = dirs.find(path);
        if (d == dirs.end()) return -ENOENT;
        names = d->second;
        return 0;
    }
    int Open(const std::string& path, int) override {
        opened.push_back(path);
        if (auto e = errors.find(path); e != errors.end()) return e->second;
        fds[nextFd_] = path;
        return nextFd_++;
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        const std::string& path = fds.at(fd);
        if (auto e = ioctlErrors.find({path, request}); e != ioctlErrors.end()) return e->second;
        ioctls.push_back({path, request, arg ? *static_cast<unsigned char*>(arg) : -1});
        return 0;
    }
    ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) override {
        if (pwriteError) return pwriteError;
        for (std::size_t i = 0; i < size; ++i)
            pwrites.emplace_back(fds.at(fd), offset + static_cast<off_t>(i),
                                 static_cast<const unsigned char*>(data)[i]);
        return static_cast<ssize_t>(size);
    }
    int Close(int fd) override {
        closed.push_back(fds.at(fd));
        fds.erase(fd);
        return 0;
    }

    std::map<std::string, std::string> files;
    std::map<std::string, std::vector<std::string>> dirs;
    std::map<std::string, int> errors;  // for reading, listing or opening a path
    std::map<std::pair<std::string, unsigned long>, int> ioctlErrors;
    int pwriteError = 0;

    std::vector<std::string> opened;  // every open attempt, failed ones too
    std::vector<std::string> closed;
    std::map<int, std::string> fds;  // open descriptors
    std::vector<IoctlCall> ioctls;   // successful ones
    std::vector<std::tuple<std::string, off_t, int>> pwrites;

private:
    static constexpr std::uint32_t kEcpOffset = 0x400;  // the kernel's second address
    int nextFd_ = 3;
};
