#pragma once

// The kernel in memory for the transports' tests: files, directories and
// device nodes, errors planted as negated errno values per path or request, and
// a record of the calls made. Each kernel interface has a fake of its own
// (ppdev, a GPIO chip, an I2C bus), reached by the node a request goes to.
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "io/KernelSystem.h"
#include "io/transports/Ppdev.h"
#include "support/FakeGpioChip.h"
#include "support/FakeParport.h"
#include "support/FakeSmbus.h"

struct FakeKernel final : KernelSystem {
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
        const auto log = [this](std::string text) {
            requests.push_back(std::move(text));
            return 0;
        };
        if (_IOC_TYPE(request) == _IOC_TYPE(GPIO_GET_CHIPINFO_IOCTL)) {
            const bool transfer = request != GPIO_GET_CHIPINFO_IOCTL &&
                                  request != GPIO_V2_GET_LINEINFO_IOCTL &&
                                  request != GPIO_V2_GET_LINE_IOCTL;
            return gpio.Ioctl(request, arg, log, transfer ? Planted() : 0, nextFd, fds);
        }
        if (path.starts_with("/dev/i2c-"))
            return smbus.Ioctl(request, arg, log, [this] { return Planted(); });
        return parport.Ioctl(path, request, arg);
    }
    ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) override {
        parport.pwrites.emplace_back(fds.at(fd), offset, *static_cast<const unsigned char*>(data));
        return static_cast<ssize_t>(size);
    }
    ssize_t PRead(int fd, void* data, std::size_t size, off_t offset) override {
        parport.preads.emplace_back(fds.at(fd), offset);
        *static_cast<unsigned char*>(data) = parport.dataLines;
        return static_cast<ssize_t>(size);
    }
    int Close(int fd) override { return fds.erase(fd) ? 0 : -EBADF; }

    FakeParport parport;
    FakeGpioChip gpio;
    FakeSmbus smbus;

    std::map<std::string, std::string> files;
    std::map<std::string, std::vector<std::string>> dirs;
    std::map<std::string, int> errors;  // reading, listing or opening a path
    std::set<std::string> symlinks;     // paths that are symbolic links to a working node
    std::map<std::pair<std::string, unsigned long>, int> ioctlErrors;

    std::vector<std::string> opened;  // every attempt, failed ones too
    std::map<int, std::string> fds;   // open descriptors
    // The successful GPIO and I2C requests, as text: "info", "request lcdtest 25=0 7=1"
    // (the lines in request order with their levels; "up" a pulled-up input),
    // "set 8=1", "config 25=up 7=1", "get 25=0"; "funcs", "address 0x27",
    // "receive", and a send byte as its two hex digits, "3C".
    std::vector<std::string> requests;

    // The fate of each transfer (GPIO line request, SMBus transfer) from the
    // first: '+' it works, '-' it fails with `failure`; past the end the last
    // fate holds. None: all work.
    std::string fates;
    int failure = -ENODEV;
    int failed = 0;  // transfers refused so

private:
    template <typename Map, typename Value>
    int Find(const Map& map, const std::string& path, Value& value) const {
        if (auto e = errors.find(path); e != errors.end()) return e->second;
        auto found = map.find(path);
        if (found == map.end()) return -ENOENT;
        value = found->second;
        return 0;
    }
    int Planted() {
        if (fates.empty() || fates[std::min(transfers_++, fates.size() - 1)] == '+') return 0;
        return ++failed, failure;
    }
    int nextFd = 3;
    std::size_t transfers_ = 0;
};
