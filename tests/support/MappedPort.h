#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/PortChoice.h"

// A --port-map value put in use as start-up does it.
struct MappedPort {
    std::vector<PortMapping> map;
    std::string announcement;  // the start-up line
};

// Maps `mapping` ("0x378=DEVICE"; "" maps nothing) and puts in use on `io` the
// back-end `mode` chooses over `kernel`.
inline MappedPort UsePortMap(PortIo& io, std::shared_ptr<KernelSystem> kernel,
                             const std::string& mapping, PortIoMode mode = PortIoMode::Auto,
                             E1Wiring e1 = kDefaultE1Wiring) {
    MappedPort port;
    if (!mapping.empty()) {
        EXPECT_EQ(AddPortMapping(port.map, mapping), "") << mapping;
    }
    PortBackendChoice choice = ChoosePortBackend(mode, std::move(kernel), port.map, e1, io);
    io.SetBackend(std::move(choice.backend));
    port.announcement = std::move(choice.announcement);
    return port;
}
