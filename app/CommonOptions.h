#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <cstdint>
#include <string>
#include <vector>

#include "io/PortChoice.h"
#include "io/Transports.h"
#include "io/record/PortTrace.h"
#include "io/record/VcdWriter.h"
#include "sim/SimulatedBackpack.h"
#include "sim/WiringFault.h"

// What the dialog and a scripted run both take from the command line: how the
// port is reached and where its traffic is recorded.
struct CommonOptions {
    std::string tracePath;
    std::string vcdPath;
    PortIoMode portIo = kDefaultPortIoMode;
    WiringFault simFault;
    std::vector<PortMapping> portMap;
    E1Wiring e1Wiring = kDefaultE1Wiring;  // for real and simulated parallel ports alike
    // The backpacks on the simulated I2C bus; none: the real buses are used.
    std::vector<BackpackSetup> simI2c;
};

// --trace, --vcd, --port-io, --port-map, --sim-fault, --e1-wiring and --sim-i2c, defined once
// for both parsers.
class CommonOptionSet {
public:
    CommonOptionSet();
    void AddTo(QCommandLineParser& parser) const;
    // Reads them from a parser that has parsed; "" or the usage error to tell.
    std::string Read(const QCommandLineParser& parser, CommonOptions& options) const;

private:
    QCommandLineOption trace_, vcd_, portIo_, portMap_, simFault_, e1Wiring_, simI2c_;
};

// Opens the trace and the waveform the options name (the waveform following the
// port at `portBase`); "" or the usage error to tell. Both naming one file would
// wreck each other, so that is refused.
std::string OpenOutputs(const CommonOptions& options, std::uint32_t portBase, PortTrace& trace,
                        VcdWriter& vcd);

// Closes both outputs at the end; `status`, or kExitOutputLost when either lost
// data (each loss was told when it happened).
int CloseOutputs(PortTrace& trace, VcdWriter& vcd, int status);
