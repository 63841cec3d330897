#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/PortSession.h"
#include "app/ScriptedRun.h"
#include "base/VirtualClock.h"
#include "lcd/Detect.h"
#include "lcd/Geometry.h"
#include "sim/SimulatedModule.h"
#include "support/BusTimeline.h"

namespace {

// The scripted run of the command line `lcdtest ARGS...`; its exit status.
int RunWith(const std::vector<const char*>& args) {
    std::vector<char*> argv{const_cast<char*>("lcdtest")};
    for (const char* arg : args) argv.push_back(const_cast<char*>(arg));
    return RunScripted(static_cast<int>(argv.size()), argv.data());
}

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
        {"40x4:4", false, "D5=0", true, kExitOk, "DONE: 40x4 4-bit"},
        {"16x2:8", true, "D5=0", true, kExitFail, "FAIL: 16x2 8-bit"},
        {"16x2:8", true, "none", false, kExitPortUnreachable, "ERROR: no parallel port"},
    };
    for (const Case& c : cases) {
        BusTimeline port;  // a fresh port and line state
        VirtualClock clock;
        SimulatedModule module(clock, port.io, kPortBases[0]);
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

// The whole scripted run from its command line, on virtual time: --line1 reaches
// the module. Verify compares with what was sent, so only the bytes written
// (the trace's) tell.
TEST(ScriptedRun, LineOptionsReachTheModule) {
    VirtualClock clock;
    ScopedClock useClock(clock);
    const std::string trace = ::testing::TempDir() + "lcdtest-scripted-trace.txt";
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunWith({"--run", "16x2:8", "--verify", "--trace", trace.c_str(), "--port-io=sim",
                       "--no-window", "--line1", "\\001typed"}),
              kExitOk);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "PASS: 16x2 8-bit, 97 bytes read back as sent\n");
    // On the 8-bit bus each byte is one data-register write: line 1 follows its
    // address (0x80) and ends where line 2's address (0xC0) follows.
    std::vector<std::uint8_t> data;
    std::ifstream lines(trace);
    for (std::string stamp, address, value, read; lines >> stamp >> address >> value;) {
        if (std::getline(lines, read); address == "0x378" && read.empty())
            data.push_back(static_cast<std::uint8_t>(std::stoul(value, nullptr, 16)));
    }
    std::remove(trace.c_str());
    const std::vector<std::uint8_t> line1 = {0x80, 0x01, 't', 'y', 'p', 'e', 'd', ' ', ' ',
                                             ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' ', 0xC0};
    EXPECT_TRUE(std::search(data.begin(), data.end(), line1.begin(), line1.end()) != data.end())
        << "line 1 was not written as given";
}

// --sim-i2c hangs a backpack on a bus of the tool's own, which --port-map's
// PCF8574 transport drives for real: the start-up line says the bus is
// simulated, and Verify passes on the backpack's wiring (a wiring of another:
// SimulatedI2cBusTest).
TEST(ScriptedRun, OnTheSimulatedI2cBus) {
    VirtualClock clock;
    ScopedClock useClock(clock);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunWith({"--run", "16x2:4", "--verify", "--no-window", "--sim-i2c", "0x27=pcf8574",
                       "--port-map", "0x378=/dev/i2c-1@0x27"}),
              kExitOk);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "PASS: 16x2 4-bit, 97 bytes read back as sent\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "lcdtest: using 0x378 on the PCF8574 at 0x27 on /dev/i2c-1 (RS=P0, RW=P1, E0=P2, "
              "backlight P3 on, D4..D7=P4..P7; 4-bit only, no E1); /dev/i2c-1 is simulated, with "
              "0x27=pcf8574\n");
}

// What the dialog's "Find I2C backpacks" does with its pick: a backpack that
// detection found on the session's bus, mapped to the Port list entry, then
// carries a run that Verify passes; a mapping no kind takes is refused.
TEST(ScriptedRun, ADetectedBackpackMappedInTheSessionPasses) {
    VirtualClock clock;
    ScopedClock useClock(clock);
    CommonOptions options;
    ASSERT_EQ(AddBackpackSetup(options.simI2c,
                               "0x3F=pcf8574:D4=P0,D5=P1,D6=P2,D7=P3,E0=P6,RW=P5,RS=P4,BL=P7"),
              "");
    PortSession session(options, kPortBases[0], clock);
    const DetectReport report = DetectModules(session.Kernel(), clock, session.Io().Log());
    ASSERT_EQ(report.modules.size(), 1u);
    EXPECT_EQ(
        session.Map(0x378, "/dev/i2c-1"),
        "--port-map 0x378=/dev/i2c-1: expected /dev/i2c-N@ADDRESS, for example /dev/i2c-1@0x27");
    ASSERT_EQ(session.Map(0x378, report.modules.front().Mapping()), "");
    ScriptedRun run;
    run.choice = ParseRunChoice("16x2:4").value();
    run.verify = true;
    EXPECT_EQ(RunScriptedTest(run, clock).line, "PASS: 16x2 4-bit, 97 bytes read back as sent");
}

}  // namespace
