#pragma once

// ppdev and /dev/port in memory: the requests made, and what a read of a data
// register gives.
#include <linux/ppdev.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

struct FakeParport {
    using IoctlCall = std::tuple<std::string, unsigned long, int>;  // byte -1: no argument

    int Ioctl(const std::string& path, unsigned long request, void* arg) {
        ioctls.emplace_back(path, request, arg ? *static_cast<unsigned char*>(arg) : -1);
        if (request == PPRDATA) *static_cast<unsigned char*>(arg) = dataLines;
        return 0;
    }

    std::vector<IoctlCall> ioctls;  // the successful ones
    std::vector<std::tuple<std::string, off_t, int>> pwrites;
    std::vector<std::pair<std::string, off_t>> preads;
    unsigned char dataLines = 0xFF;  // what a read of a data register gives
};
