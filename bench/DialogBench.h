#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Clock.h"
#include "bench/SleepTiming.h"
#include "lcd/TestRun.h"

// One test run driven through the main dialog: the Size list set and closed up,
// then a click on the Init button, timed from the click to the handler's return.
struct RunResult : RunTimes {
    std::string error;  // empty when the run took place
    std::size_t sleeps = 0;
    std::size_t portWrites = 0;
    std::uint64_t timingViolations = 0;  // as the simulated module counted them
    // Each refresh of the run, in microseconds: from the end of what came before
    // it (a sleep or another refresh) to the end of its port write.
    Spread dataRefresh;
    Spread controlRefresh;
};

// Runs the test of module size `sizeIndex` over `width` through a fresh dialog on
// the simulated port and module, with `sleeper` behind every delay; with
// `showModule`, the module's view is shown beside the dialog, as the tool does.
RunResult RunThroughDialog(Clock& sleeper, int sizeIndex, BusWidth width, bool showModule);

// The cost of one refresh of each register on a shown dialog, in microseconds,
// and of the line buttons' repaint that the pair left for the next pause; then
// of a data refresh right after a sleep, as in a test run.
struct RefreshCost {
    std::string error;
    Spread data;
    Spread control;
    Spread pause;
    Spread dataAfterSleep;
};
RefreshCost MeasureRefreshes(std::size_t calls);
