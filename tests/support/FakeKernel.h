#pragma once

// The kernel in memory for the port back-ends' tests: files, directories and
// device nodes, errors planted per path, and a record of the calls made. Each
// transport's requests are answered here, so its logic runs without hardware.
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
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
        if (i2cBuses.count(path)) return I2cIoctl(fd, path, request, arg);
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

    // ---- I2C: i2c-dev's I2C_FUNCS, I2C_SLAVE and SMBus byte transfers ----
    // Successful requests go into `ioctls` as (node, request, value): I2C_FUNCS
    // with -1, I2C_SLAVE with the address, a send byte with the byte, a receive
    // byte with kSmbusReceive.
    static constexpr int kSmbusReceive = 0x100;
    struct I2cBus {
        unsigned long functions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_BYTE;
        std::set<int> answering;    // addresses a device answers at
        std::set<int> driverOwned;  // addresses a kernel driver holds: I2C_SLAVE gives EBUSY
    };
    // Publishes /dev/i2c-N and its adapter's name in sysfs.
    void AddI2cBus(int number, const std::string& name, I2cBus bus) {
        const std::string node = "i2c-" + std::to_string(number);
        dirs["/dev"].push_back(node);
        files["/sys/bus/i2c/devices/" + node + "/name"] = name + "\n";
        i2cBuses["/dev/" + node] = std::move(bus);
    }
    int I2cIoctl(int fd, const std::string& path, unsigned long request, void* arg) {
        const I2cBus& bus = i2cBuses.at(path);
        int value = -1;
        if (request == I2C_FUNCS) {
            *static_cast<unsigned long*>(arg) = bus.functions;
        } else if (request == I2C_SLAVE) {
            value = static_cast<int>(reinterpret_cast<std::uintptr_t>(arg));
            if (bus.driverOwned.count(value)) return -EBUSY;
            i2cAddressOf[fd] = value;
        } else if (request == I2C_SMBUS) {
            const auto& smbus = *static_cast<i2c_smbus_ioctl_data*>(arg);
            if (smbus.size != I2C_SMBUS_BYTE) return -EINVAL;
            const auto address = i2cAddressOf.find(fd);
            if (address == i2cAddressOf.end() || !bus.answering.count(address->second))
                return -ENXIO;
            if (smbusOkLeft == 0) return smbusError;
            if (smbusOkLeft > 0) --smbusOkLeft;
            const bool receive = smbus.read_write == I2C_SMBUS_READ;
            if (receive) smbus.data->byte = expanderPins;
            value = receive ? kSmbusReceive : smbus.command;
        } else {
            return -ENOTTY;
        }
        ioctls.emplace_back(path, request, value);
        return 0;
    }
    std::map<std::string, I2cBus> i2cBuses;  // by node
    std::map<int, int> i2cAddressOf;         // the address I2C_SLAVE set on each descriptor
    unsigned char expanderPins = 0xFF;       // what a receive byte reads
    int smbusOkLeft = -1;                    // transfers that work before each fails (-1: all)
    int smbusError = -EIO;                   // how they fail
    // ---- end of I2C ----
};
