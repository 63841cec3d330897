#pragma once

// The kernel in memory for the port back-ends' tests: files, directories and
// device nodes, errors planted per path, and a record of the calls made. Each
// transport's requests are answered here, so its logic runs without hardware.
#include <fcntl.h>
#include <linux/gpio.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
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
        if (_IOC_TYPE(request) == _IOC_TYPE(GPIO_GET_CHIPINFO_IOCTL))
            return GpioIoctl(fd, request, arg);
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

    // ---- GPIO: the character device's v2 uAPI (GpioPort) ----
    // Chips with their lines, as the kernel's v2 uAPI answers for them: line
    // requests, values, reconfiguration. As the kernel does, an output given no
    // value is driven low. Every request is logged as text, the lines in request
    // order with their levels: "set 8=1", "config 25=in 7=1", "get 25=0".
    struct FakeGpioChip {
        std::string label = "fake-gpio";
        std::uint32_t lines = 32;
        std::map<std::uint32_t, std::string> heldBy;  // lines someone else holds, by consumer
        std::map<std::uint32_t, int> level;           // what each line carries
        std::set<std::uint32_t> inputs;
        std::map<std::uint32_t, int> driven;  // what the module drives on an input (default 1)
    };
    std::string AddGpioChip(int number, std::uint32_t lines = 32) {
        const std::string name = "gpiochip" + std::to_string(number);
        dirs[kDeviceDir].push_back(name);
        gpioChips[std::string(kDeviceDir) + "/" + name].lines = lines;
        return std::string(kDeviceDir) + "/" + name;
    }

    std::map<std::string, FakeGpioChip> gpioChips;  // by device node
    std::vector<std::string> gpioCalls;
    // Requests on lines answered before the rest fail with gpioFailure; -1: all.
    int gpioFailAfter = -1;
    int gpioFailure = -ENODEV;

    struct GpioLines {
        std::string chip;
        std::vector<std::uint32_t> offsets;  // in request order
    };
    std::map<int, GpioLines> gpioRequests;  // by the request's descriptor

    int GpioIoctl(int fd, unsigned long request, void* arg) {
        if (request == GPIO_GET_CHIPINFO_IOCTL || request == GPIO_V2_GET_LINEINFO_IOCTL ||
            request == GPIO_V2_GET_LINE_IOCTL)
            return GpioChipIoctl(gpioChips.at(fds.at(fd)), fds.at(fd), request, arg);
        if (gpioFailAfter == 0) return gpioFailure;
        if (gpioFailAfter > 0) --gpioFailAfter;
        const GpioLines& lines = gpioRequests.at(fd);
        FakeGpioChip& chip = gpioChips.at(lines.chip);
        if (request == GPIO_V2_LINE_SET_CONFIG_IOCTL) {
            Configure(chip, lines.offsets, *static_cast<gpio_v2_line_config*>(arg));
            gpioCalls.push_back("config" + Levels(chip, lines.offsets));
            return 0;
        }
        auto& values = *static_cast<gpio_v2_line_values*>(arg);
        if (!values.mask || values.mask >> lines.offsets.size()) return -EINVAL;
        if (request == GPIO_V2_LINE_GET_VALUES_IOCTL) {
            values.bits = 0;
            for (std::size_t i = 0; i < lines.offsets.size(); ++i) {
                const std::uint32_t offset = lines.offsets[i];
                const bool high = chip.inputs.count(offset)
                                      ? !chip.driven.count(offset) || chip.driven.at(offset)
                                      : chip.level[offset];
                if (values.mask >> i & 1 && high) values.bits |= 1ull << i;
            }
            gpioCalls.push_back("get" + Values(lines.offsets, values.mask, values.bits));
            return 0;
        }
        for (std::size_t i = 0; i < lines.offsets.size(); ++i)
            if (values.mask >> i & 1 && chip.inputs.count(lines.offsets[i])) return -EPERM;
        for (std::size_t i = 0; i < lines.offsets.size(); ++i)
            if (values.mask >> i & 1) chip.level[lines.offsets[i]] = values.bits >> i & 1;
        gpioCalls.push_back("set" + Values(lines.offsets, values.mask, values.bits));
        return 0;
    }

    int GpioChipIoctl(FakeGpioChip& chip, const std::string& path, unsigned long request,
                      void* arg) {
        if (request == GPIO_GET_CHIPINFO_IOCTL) {
            auto& info = *static_cast<gpiochip_info*>(arg);
            std::strncpy(info.label, chip.label.c_str(), sizeof info.label - 1);
            info.lines = chip.lines;
            gpioCalls.push_back("info " + path);
            return 0;
        }
        if (request == GPIO_V2_GET_LINEINFO_IOCTL) {
            auto& info = *static_cast<gpio_v2_line_info*>(arg);
            if (info.offset >= chip.lines) return -EINVAL;
            if (auto held = chip.heldBy.find(info.offset); held != chip.heldBy.end()) {
                info.flags = GPIO_V2_LINE_FLAG_USED;
                std::strncpy(info.consumer, held->second.c_str(), sizeof info.consumer - 1);
            }
            gpioCalls.push_back("lineinfo " + std::to_string(info.offset));
            return 0;
        }
        auto& req = *static_cast<gpio_v2_line_request*>(arg);
        if (req.num_lines == 0 || req.num_lines > GPIO_V2_LINES_MAX) return -EINVAL;
        const std::vector<std::uint32_t> offsets(req.offsets, req.offsets + req.num_lines);
        for (const std::uint32_t offset : offsets) {
            if (offset >= chip.lines) return -EINVAL;
            if (chip.heldBy.count(offset)) return -EBUSY;
        }
        Configure(chip, offsets, req.config);
        for (const std::uint32_t offset : offsets) chip.heldBy[offset] = req.consumer;
        req.fd = nextFd++;
        fds[req.fd] = path + " lines";
        gpioRequests[req.fd] = {path, offsets};
        gpioCalls.push_back("request " + std::string(req.consumer) + Levels(chip, offsets));
        return 0;
    }

    // Each line's flags and value as the kernel takes them from a configuration.
    static void Configure(FakeGpioChip& chip, const std::vector<std::uint32_t>& offsets,
                          const gpio_v2_line_config& config) {
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            std::uint64_t flags = config.flags;
            int value = 0;
            for (std::uint32_t a = 0; a < config.num_attrs; ++a) {
                const gpio_v2_line_config_attribute& attr = config.attrs[a];
                if (!(attr.mask >> i & 1)) continue;
                if (attr.attr.id == GPIO_V2_LINE_ATTR_ID_FLAGS) flags = attr.attr.flags;
                if (attr.attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES)
                    value = attr.attr.values >> i & 1;
            }
            if (flags & GPIO_V2_LINE_FLAG_INPUT) {
                chip.inputs.insert(offsets[i]);
            } else {
                chip.inputs.erase(offsets[i]);
                chip.level[offsets[i]] = value;
            }
        }
    }
    // " 25=in 7=1": each line of a request, an input or the level it drives.
    static std::string Levels(FakeGpioChip& chip, const std::vector<std::uint32_t>& offsets) {
        std::string text;
        for (const std::uint32_t offset : offsets)
            text += " " + std::to_string(offset) + "=" +
                    (chip.inputs.count(offset) ? std::string("in")
                                               : std::to_string(chip.level[offset]));
        return text;
    }
    // " 8=1 7=0": the lines in `mask` with their bits.
    static std::string Values(const std::vector<std::uint32_t>& offsets, std::uint64_t mask,
                              std::uint64_t bits) {
        std::string text;
        for (std::size_t i = 0; i < offsets.size(); ++i)
            if (mask >> i & 1)
                text += " " + std::to_string(offsets[i]) + "=" + std::to_string(bits >> i & 1);
        return text;
    }
    // ---- end of GPIO ----

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
