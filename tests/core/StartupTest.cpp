// The built program run with a fixed environment: what it says and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

struct StartCase {
    const char* name;
    const char* env;
    const char* args;
    int status;
    const char* told;
};

class StartupTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartupTest, RefusesPlainlyWithItsStatus) {
    const StartCase& c = GetParam();
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("lcdtest-start-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::create_symlink("out", dir / "link");  // to a file yet to be made
    // A start-up that goes on to show the dialog is stopped, and fails the case.
    const std::string command = "cd " + dir.string() + " && timeout 60 env -i " + c.env +
                                " " LCDTEST_BINARY " " + c.args + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::string told;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        told.append(buffer, n);
    const int status = ::pclose(pipe);
    fs::remove_all(dir);
    EXPECT_EQ(WEXITSTATUS(status), c.status) << told;
    const std::size_t at = told.find(c.told);
    EXPECT_NE(at, std::string::npos) << told;
    EXPECT_EQ(told.find(c.told, at + 1), std::string::npos) << "told twice: " << told;
}

const StartCase kStartCases[] = {
    {"NoServerOnTheDisplay", "DISPLAY=:4711", "", 1,
     "lcdtest: cannot open the X display :4711; start lcdtest from a desktop session, or without "
     "one as `xvfb-run lcdtest`"},
    {"EmptyTraceName", "QT_QPA_PLATFORM=offscreen", "--trace=", 2, "--trace needs a file name"},
    {"ExtraArgument", "QT_QPA_PLATFORM=offscreen", "stray", 2, "unexpected argument \"stray\""},
    {"SameFileThroughLink", "QT_QPA_PLATFORM=offscreen", "--trace link --vcd ./out", 2,
     "--trace and --vcd name the same file (link and ./out)"},
    {"TraceNotWritable", "QT_QPA_PLATFORM=offscreen", "--trace none/t", 2,
     "cannot write the trace file none/t: No such file or directory"},
    {"WaveformHeaderNotWritten", "QT_QPA_PLATFORM=offscreen", "--vcd /dev/full", 2,
     "cannot write the waveform file /dev/full: No space left on device"},
    {"UnknownPortIo", "QT_QPA_PLATFORM=offscreen", "--port-io=AUTO", 2, "unknown --port-io mode"},
    {"UnknownE1Wiring", "", "--run 40x4:8 --e1-wiring=crossed", 2,
     "lcdtest: unknown --e1-wiring \"crossed\" (straight or inverter)"},
    // Scripted runs need no display and settle these before any run.
    {"RunWidth", "", "--run 16x2:9", 2, "--run takes a size and a bus width"},
    {"RunSize", "", "--run 16X2:8", 2, "--run takes a size and a bus width"},
    {"RunPort", "", "--run 16x2:8 --port 0x379", 2, "--port takes 0x378, 0x278 or 0x3BC"},
    {"RunFault", "", "--run 16x2:8 --sim-fault D9=0", 2, "unknown wiring fault"},
    {"RunFaultOnRealPort", "", "--run 16x2:8 --sim-fault D5=0 --port-io=ppdev", 2,
     "--sim-fault wires the simulated module"},
};

INSTANTIATE_TEST_SUITE_P(, StartupTest, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
