#pragma once

#include <QCommandLineOption>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/ExitStatus.h"
#include "io/PortChoice.h"
#include "lcd/TestRun.h"
#include "port/LineState.h"
#include "sim/WiringFault.h"

class Clock;

// True when the command line asks for a scripted run (--run).
bool IsScriptedRun(int argc, char** argv);
// A whole scripted run: reads the options, runs (and verifies), prints one result
// line on standard output; returns the exit status. No window unless there is a
// display and --no-window is not given; then the simulated module's window shows.
int RunScripted(int argc, char** argv);

struct ScriptedRun {
    RunChoice choice{-1, BusWidth::Eight};
    bool verify = false;
    std::array<std::optional<std::string>, 4> lines;  // unset: the size's demo text
    std::uint32_t portBase = kPortBases[0];
    bool simulationAsked = false;  // --port-io=sim: the simulated module counts as the port
};

struct ScriptedResult {
    int status;
    std::string line;                  // for standard output
    std::vector<std::string> details;  // the first differences, for standard error
};

// The run, and Verify when asked, through the same driver and line panel as the
// dialog, on the back-end PortIo holds. Port unreachable: a problem reported, or
// the simulated module standing in for a port that was not asked to be simulated.
ScriptedResult RunScriptedTest(const ScriptedRun& run, Clock& clock);
