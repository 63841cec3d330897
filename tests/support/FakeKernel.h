#pragma once

// The kernel in memory for the port back-ends' tests: files, directories and
// device nodes, errors planted as negated errno values per path, and a record
// of the calls made. Each transport's requests are answered here, so its logic
// runs without hardware.
#include <fcntl.h>
#include <linux/gpio.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "io/transports/ParportScan.h"
#include "io/KernelSystem.h"

struct FakeKernel final : KernelSystem {
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
            return GpioIoctl(request, arg);
        if (path.starts_with("/dev/i2c-")) return I2cIoctl(request, arg);
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
    std::vector<IoctlCall> ioctls;    // successful ppdev ones
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

    // The fate of each transfer (GPIO line request, SMBus transfer) from the
    // first: '+' it works, '-' it fails with `failure`; past the end the last
    // fate holds. None: all work.
    std::string fates;
    int failure = -ENODEV;
    int failed = 0;  // transfers refused so
    std::size_t transfers = 0;
    int Planted() {
        if (fates.empty() || fates[std::min(transfers++, fates.size() - 1)] == '+') return 0;
        return ++failed, failure;
    }
    // What the module drives: bit N on GPIO input N, the low byte on the expander's pins.
    std::uint32_t moduleDrives = ~0u;
    // The successful GPIO and I2C requests, as text: "info", "request lcdtest 25=0 7=1"
    // (the lines in request order with their levels; "up" a pulled-up input),
    // "set 8=1", "config 25=up 7=1", "get 25=0"; "funcs", "address 0x27",
    // "receive", and a send byte as its two hex digits, "3C".
    std::vector<std::string> requests;
    int Log(std::string text) {
        requests.push_back(std::move(text));
        return 0;
    }

    // ---- GPIO: one chip on the v2 uAPI; an output given no value is driven low ----
    std::uint32_t gpioLines = 32;
    std::map<std::uint32_t, std::string> heldBy;  // lines someone else holds, by consumer
    std::vector<std::uint32_t> taken;             // the request's lines, in request order
    std::map<std::uint32_t, std::string> line;    // "0", "1", "up" or "in" (floating)

    int GpioIoctl(unsigned long request, void* arg) {
        if (request == GPIO_GET_CHIPINFO_IOCTL) {
            auto& info = *static_cast<gpiochip_info*>(arg);
            std::strcpy(info.label, "fake-gpio");
            info.lines = gpioLines;
            return Log("info");
        }
        if (request == GPIO_V2_GET_LINEINFO_IOCTL) {
            auto& info = *static_cast<gpio_v2_line_info*>(arg);
            if (auto held = heldBy.find(info.offset); held != heldBy.end()) {
                info.flags = GPIO_V2_LINE_FLAG_USED;
                std::strcpy(info.consumer, held->second.c_str());
            }
            return 0;
        }
        if (request == GPIO_V2_GET_LINE_IOCTL) {
            auto& req = *static_cast<gpio_v2_line_request*>(arg);
            taken.assign(req.offsets, req.offsets + req.num_lines);
            for (const std::uint32_t offset : taken)
                if (heldBy.count(offset)) return -EBUSY;
            Configure(req.config);
            fds[req.fd = nextFd++] = "lines";
            return Log("request " + std::string(req.consumer) + Levels());
        }
        if (const int error = Planted()) return error;
        if (request == GPIO_V2_LINE_SET_CONFIG_IOCTL) {
            Configure(*static_cast<gpio_v2_line_config*>(arg));
            return Log("config" + Levels());
        }
        auto& values = *static_cast<gpio_v2_line_values*>(arg);
        const bool get = request == GPIO_V2_LINE_GET_VALUES_IOCTL;
        std::string text = get ? "get" : "set";
        for (std::size_t i = 0; i < taken.size(); ++i) {
            if (!(values.mask >> i & 1)) continue;
            std::string& now = line[taken[i]];
            if (!get) now = std::to_string(values.bits >> i & 1);
            const bool high = now == "1" || (now.size() > 1 && moduleDrives >> taken[i] & 1);
            if (get) values.bits = (values.bits & ~(1ull << i)) | std::uint64_t{high} << i;
            text += " " + std::to_string(taken[i]) + "=" + std::to_string(high);
        }
        return Log(text);
    }
    // Each line's direction and level as the kernel takes them from a configuration.
    void Configure(const gpio_v2_line_config& config) {
        for (std::size_t i = 0; i < taken.size(); ++i) {
            std::uint64_t flags = config.flags;
            unsigned value = 0;
            for (std::uint32_t a = 0; a < config.num_attrs; ++a) {
                const gpio_v2_line_attribute& attr = config.attrs[a].attr;
                if (!(config.attrs[a].mask >> i & 1)) continue;
                if (attr.id == GPIO_V2_LINE_ATTR_ID_FLAGS) flags = attr.flags;
                if (attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES) value = attr.values >> i & 1;
            }
            const bool up = flags & GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
            line[taken[i]] =
                flags & GPIO_V2_LINE_FLAG_INPUT ? (up ? "up" : "in") : std::to_string(value);
        }
    }
    std::string Levels() {  // " 25=up 7=1": each line of the request
        std::string text;
        for (const std::uint32_t offset : taken)
            text += " " + std::to_string(offset) + "=" + line[offset];
        return text;
    }

    // ---- I2C: i2c-dev's I2C_FUNCS, I2C_SLAVE and SMBus byte transfers ----
    unsigned long i2cFunctions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_BYTE;
    int I2cIoctl(unsigned long request, void* arg) {
        char hex[8];
        if (request == I2C_FUNCS) {
            *static_cast<unsigned long*>(arg) = i2cFunctions;
            return Log("funcs");
        }
        if (request == I2C_SLAVE) {
            std::snprintf(hex, sizeof hex, "0x%02X",
                          unsigned(reinterpret_cast<std::uintptr_t>(arg)));
            return Log("address " + std::string(hex));
        }
        auto& smbus = *static_cast<i2c_smbus_ioctl_data*>(arg);
        if (request != I2C_SMBUS || smbus.size != I2C_SMBUS_BYTE) return -EINVAL;
        if (const int error = Planted()) return error;
        if (smbus.read_write == I2C_SMBUS_READ) {
            smbus.data->byte = moduleDrives & 0xFF;
            return Log("receive");
        }
        std::snprintf(hex, sizeof hex, "%02X", smbus.command);
        return Log(hex);
    }
};
