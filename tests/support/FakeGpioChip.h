#pragma once

// One GPIO chip on the v2 uAPI in memory: its lines' directions and levels,
// lines someone else holds, and what the module drives. An output given no
// value is driven low, as the kernel does.
#include <linux/gpio.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct FakeGpioChip {
    // Logs a successful request; `planted` gives a planted failure or 0.
    using Log = std::function<int(std::string)>;

    int Ioctl(unsigned long request, void* arg, const Log& log, int planted, int& nextFd,
              std::map<int, std::string>& fds) {
        if (request == GPIO_GET_CHIPINFO_IOCTL) {
            auto& info = *static_cast<gpiochip_info*>(arg);
            std::strcpy(info.label, label.c_str());
            info.lines = lines;
            return log("info");
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
            return log("request " + std::string(req.consumer) + Levels());
        }
        if (planted) return planted;
        if (request == GPIO_V2_LINE_SET_CONFIG_IOCTL) {
            Configure(*static_cast<gpio_v2_line_config*>(arg));
            return log("config" + Levels());
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
        return log(text);
    }

    std::string label = "fake-gpio";
    std::uint32_t lines = 32;
    std::map<std::uint32_t, std::string> heldBy;  // lines someone else holds, by consumer
    std::uint32_t moduleDrives = ~0u;             // bit N: what the module drives on input N
    std::vector<std::uint32_t> taken;             // the request's lines, in request order
    std::map<std::uint32_t, std::string> line;    // "0", "1", "up" or "in" (floating)

private:
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
};
