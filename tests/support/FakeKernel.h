#pragma once

// The kernel in memory for the port back-ends' tests: files, directories and
// device nodes, errors planted per path, and a record of the calls made. Each
// transport's requests are answered here, so its logic runs without hardware.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ParportScan.h"
#include "platform/ParportSystem.h"

// The kernel in memory: files, directories and device nodes, errors planted as
// negated errno values per path, and a record of the calls made.
struct FakeParportSystem final : ParportSystem {
    using IoctlCall = std::tuple<std::string, unsigned long, int>;  // byte -1: no argument

    // Publishes port N at `base` as the kernel does (the second number is unused).
    void AddPort(int number, std::uint32_t base) {
        const std::string name = kParportPrefix + std::to_string(number);
        dirs[kProcParportDir].push_back(name);
        files[std::string(kProcParportDir) + "/" + name + "/" + kBaseAddressFile] =
            std::to_string(base) + "\t0\n";
    }

    int ReadFile(const std::string& path, std::string& contents) const override {
        return Find(files, path, contents);
    }
    int ListDirectory(const std::string& path, std::vector<std::string>& names) const override {
        return Find(dirs, path, names);
    }
    int Open(const std::string& path, int flags) override {
        opened.push_back(path);
        if (auto e = errors.find(path); e != errors.end()) return e->second;
        if (symlinks.count(path) && (flags & O_NOFOLLOW)) return -ELOOP;
        fds[nextFd] = path;
        return nextFd++;
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        const std::string& path = fds.at(fd);
        if (auto e = ioctlErrors.find({path, request}); e != ioctlErrors.end()) return e->second;
        ioctls.emplace_back(path, request, arg ? *static_cast<unsigned char*>(arg) : -1);
        if (request == PPRDATA) *static_cast<unsigned char*>(arg) = dataLines;
        return 0;
    }
    ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) override {
        pwrites.emplace_back(fds.at(fd), offset, *static_cast<const unsigned char*>(data));
        return static_cast<ssize_t>(size);
    }
    ssize_t PRead(int fd, void* data, std::size_t size, off_t offset) override {
        preads.emplace_back(fds.at(fd), offset);
        *static_cast<unsigned char*>(data) = dataLines;
        return static_cast<ssize_t>(size);
    }
    int Close(int fd) override { return fds.erase(fd) ? 0 : -EBADF; }

    std::map<std::string, std::string> files;
    std::map<std::string, std::vector<std::string>> dirs;
    std::map<std::string, int> errors;  // reading, listing or opening a path
    std::set<std::string> symlinks;     // paths that are symbolic links to a working node
    std::map<std::pair<std::string, unsigned long>, int> ioctlErrors;

    std::vector<std::string> opened;  // every attempt, failed ones too
    std::map<int, std::string> fds;   // open descriptors
    std::vector<IoctlCall> ioctls;    // successful ones
    std::vector<std::tuple<std::string, off_t, int>> pwrites;
    std::vector<std::pair<std::string, off_t>> preads;
    unsigned char dataLines = 0xFF;  // what a read of a data register gives

    template <typename Map, typename Value>
    int Find(const Map& map, const std::string& path, Value& value) const {
        if (auto e = errors.find(path); e != errors.end()) return e->second;
        auto found = map.find(path);
        if (found == map.end()) return -ENOENT;
        value = found->second;
        return 0;
    }
    int nextFd = 3;
};
