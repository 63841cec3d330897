#pragma once

#include <memory>
#include <string>

#include "lcd/TestRun.h"
#include "support/FakeKernel.h"
#include "support/LineBench.h"
#include "support/MappedPort.h"
#include "support/RunSources.h"

// The line panel and the driver over a port I/O of their own (installed for the
// register functions), and a fake kernel for its transports.
struct KernelBench : LineBench {
    std::shared_ptr<FakeKernel> sys = std::make_shared<FakeKernel>();

    // Maps 0x378 to `device` ("KIND:DEVICE", or a device whose name picks its
    // kind) as start-up does and puts its back-end in use; the start-up line.
    std::string Use(const std::string& device) {
        return UsePortMap(timeline.io, sys, "0x378=" + device).announcement;
    }
    // A run of `size` at `width`, "A" in line 1.
    TestRunRecord RunA(int size, BusWidth width) {
        return RunDisplayTest(driver, panel, timeline, width, OneLetter(size));
    }
    // Every message reported so far, one a line.
    std::string Told() const { return ::Told(timeline.io); }
};
