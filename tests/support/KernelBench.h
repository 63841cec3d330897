#pragma once

#include <memory>
#include <string>

#include "io/PortIo.h"
#include "support/BusTimeline.h"
#include "support/FakeKernel.h"

// A port I/O of a test's own, installed for the register functions, and a
// fake kernel for its transports.
struct KernelBench {
    PortIo io;
    ScopedPortIo installed{io};
    std::shared_ptr<FakeKernel> sys = std::make_shared<FakeKernel>();

    // Every message reported so far, one a line.
    std::string Told() const { return ::Told(io); }
};
