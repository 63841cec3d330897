#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/CommonOptions.h"
#include "base/Clock.h"
#include "io/PortIo.h"
#include "io/record/PortTrace.h"
#include "io/record/VcdWriter.h"
#include "sim/SimulatedI2cBus.h"
#include "sim/SimulatedModule.h"

// What the dialog and a scripted run both set up around the port, in this
// order: a port I/O of their own, installed for the register functions, on the
// back-end the options choose (its start-up line said), over the simulated
// I2C bus when --sim-i2c puts backpacks on one, the simulated module when the
// port is simulated or drives a backpack on that bus, then the trace and the
// waveform. The cable and
// the waveform start on `portBase`. Its end undoes it all in reverse.
class PortSession {
public:
    PortSession(const CommonOptions& options, std::uint32_t portBase, Clock& clock);
    ~PortSession();
    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;

    // Why an output file could not be made (a usage error); "" when all is open.
    const std::string& Error() const { return error_; }
    PortIo& Io() { return io_; }
    // The simulated module, or nullptr when a real port is driven.
    SimulatedModule* Module() { return module_.get(); }
    // The simulated I2C bus, or nullptr without --sim-i2c.
    SimulatedI2cBus* Bus() { return bus_.get(); }
    // Moves the cable and the waveform to another Port list entry.
    void AttachToPort(std::uint32_t base);
    // The kernel the transports reach (the simulated bus, where there is one).
    std::shared_ptr<KernelSystem> Kernel() const { return sys_; }
    // Makes the Port list entry `base` drive `device` (a --port-map DEVICE) from
    // now on, in place of what it drove: the back-end is chosen again, and its
    // start-up line said. The usage error, or "" when it is in use.
    std::string Map(std::uint32_t base, const std::string& device);
    // Closes the outputs; `status`, or kExitOutputLost when either lost data.
    int Finish(int status);

private:
    void UseBackend();

    CommonOptions options_;
    std::shared_ptr<KernelSystem> sys_;
    PortIo io_;
    ScopedPortIo installed_;
    std::shared_ptr<SimulatedI2cBus> bus_;  // before the module, which shows its backpacks
    std::unique_ptr<SimulatedModule> module_;
    PortTrace trace_;
    VcdWriter vcd_;
    std::string error_;
};
