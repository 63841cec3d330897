// The built program run with a fixed environment: what it says and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct StartCase {
    const char* name;
    const char* env;
    const char* args;
    int status;
    const char* told;
};

struct Ran {
    int status;
    std::string out;     // standard output
    std::string errors;  // the file "errors", where the command sends standard error there
};

// Runs `command` through the shell in a folder of its own, which holds a link
// to a file yet to be made.
Ran RunInFolder(const std::string& command) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("lcdtest-start-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::create_symlink("out", dir / "link");
    std::FILE* pipe = ::popen(("cd " + dir.string() + " && " + command).c_str(), "r");
    Ran ran{};
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        ran.out.append(buffer, n);
    ran.status = WEXITSTATUS(::pclose(pipe));
    std::ifstream errors(dir / "errors");
    ran.errors.assign(std::istreambuf_iterator<char>(errors), {});
    fs::remove_all(dir);
    return ran;
}

class StartupTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartupTest, RefusesPlainlyWithItsStatus) {
    const StartCase& c = GetParam();
    // A start-up that goes on to show the dialog is stopped, and fails the case.
    const Ran ran = RunInFolder(std::string("timeout 60 env -i ") + c.env + " " LCDTEST_BINARY " " +
                                c.args + " 2>&1");
    EXPECT_EQ(ran.status, c.status) << ran.out;
    const std::size_t at = ran.out.find(c.told);
    EXPECT_NE(at, std::string::npos) << ran.out;
    EXPECT_EQ(ran.out.find(c.told, at + 1), std::string::npos) << "told twice: " << ran.out;
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

// Answers that need no window, in an environment without a display or
// XDG_RUNTIME_DIR (root over ssh, CI): the answer and nothing the toolkit would
// say about the session on standard error.
struct AnswerCase {
    const char* name;
    const char* command;
    int status;
    const char* firstLine;  // of standard output
    const char* errors;     // all of standard error
};

class AnswerWithoutWindowTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerWithoutWindowTest, AnswersAloneWithItsStatus) {
    const AnswerCase& c = GetParam();
    const Ran ran = RunInFolder(std::string("timeout 60 env -i ") + c.command + " 2>errors");
    EXPECT_EQ(ran.status, c.status) << ran.out << ran.errors;
    EXPECT_EQ(ran.out.substr(0, ran.out.find('\n')), c.firstLine) << ran.out;
    EXPECT_EQ(ran.errors, c.errors);
}

const AnswerCase kAnswerCases[] = {
    {"Version", LCDTEST_BINARY " --version", 0, "lcdtest " LCDTEST_VERSION, ""},
    {"BenchHelp", LCDBENCH_BINARY " -h", 0, "Usage: " LCDBENCH_BINARY " [options]", ""},
    {"BenchRefuses", LCDBENCH_BINARY, 1, "",
     "lcdbench: no display: DISPLAY is not set; start lcdbench from a desktop session, or "
     "without one as `xvfb-run lcdbench`\n"},
};

INSTANTIATE_TEST_SUITE_P(, AnswerWithoutWindowTest, ::testing::ValuesIn(kAnswerCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
