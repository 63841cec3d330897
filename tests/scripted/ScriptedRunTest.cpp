#include <gtest/gtest.h>

#include <string>

#include "app/ScriptedRun.h"
#include "lcd/Geometry.h"
#include "platform/Clock.h"
#include "sim/SimulatedModule.h"
#include "support/BusTimeline.h"

namespace {

// Status and first word of the line, on the simulated module and virtual time.
TEST(ScriptedRun, StatusFollowsTheOutcome) {
    struct Case {
        const char* choice;
        bool verify;
        const char* fault;
        bool simulationAsked;
        int status;
        const char* line;
    };
    const Case cases[] = {
        {"16x2:8", true, "none", true, kScriptPass, "PASS: 16x2 8-bit"},
        {"40x4:4", false, "D5=0", true, kScriptPass, "DONE: 40x4 4-bit"},
        {"16x2:8", true, "D5=0", true, kScriptFail, "FAIL: 16x2 8-bit"},
        {"16x2:8", true, "none", false, kScriptPortUnreachable, "ERROR: no parallel port"},
    };
    for (const Case& c : cases) {
        BusTimeline port;  // a fresh port and line state
        VirtualClock clock;
        SimulatedModule module(clock, kPortBases[0]);
        std::string error;
        module.SetWiringFault(ParseWiringFault(c.fault, error).value());
        ScriptedRun run;
        run.choice = ParseRunChoice(c.choice).value();
        module.SetControllerCount(kModuleGeometry[run.choice.sizeIndex].controllerCount);
        run.verify = c.verify;
        run.simulationAsked = c.simulationAsked;
        run.lines[0] = "\\001typed";
        const ScriptedResult result = RunScriptedTest(run, clock);
        EXPECT_EQ(result.status, c.status) << c.choice << " " << c.fault;
        EXPECT_EQ(result.line.rfind(c.line, 0), 0u) << result.line;
    }
}

}  // namespace
