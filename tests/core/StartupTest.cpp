// The tool's start-up refusals, seen as a user sees them: the built program run
// with a fixed environment, its standard error and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int status;
    std::string error;
};

Outcome RunTool(std::vector<std::string> env, std::vector<std::string> args) {
    args.insert(args.begin(), LCDTEST_BINARY);
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        env.push_back(std::string("ASAN_OPTIONS=") + asan);
    int out[2];
    if (::pipe(out) != 0) return {-1, "no pipe"};
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(60);  // a start-up that goes on to show the dialog ends, and fails the case
        ::dup2(out[1], 2);
        ::close(out[0]);
        std::vector<char*> argv, envp;
        for (std::string& a : args) argv.push_back(a.data());
        for (std::string& e : env) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    Outcome outcome{-1, {}};
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        outcome.error.append(buffer, n);
    ::close(out[0]);
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return outcome;
}

struct StartCase {
    const char* name;
    std::vector<std::string> env;
    std::vector<std::string> args;  // "@" stands for a scratch folder
    int status;
    const char* told;
};

class StartupTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartupTest, RefusesPlainlyWithItsStatus) {
    const StartCase& c = GetParam();
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("lcdtest-start-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::create_symlink(dir / "out", dir / "link");
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        if (const auto at = a.find('@'); at != std::string::npos) a.replace(at, 1, dir.string());
    const Outcome outcome = RunTool(c.env, args);
    fs::remove_all(dir);
    EXPECT_EQ(outcome.status, c.status) << outcome.error;
    EXPECT_NE(outcome.error.find(c.told), std::string::npos) << outcome.error;
}

const std::vector<std::string> kOffscreen = {"QT_QPA_PLATFORM=offscreen"};
const StartCase kStartCases[] = {
    {"NoServerOnTheDisplay",
     {"DISPLAY=:4711"},
     {},
     1,
     "lcdtest: cannot open the X display :4711; start lcdtest from a desktop session, or without "
     "one as `xvfb-run lcdtest`"},
    {"NoDisplayAtAll", {}, {}, 1, "lcdtest: no display: DISPLAY is not set"},
    {"NoWaylandServer",
     {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=/nonexistent"},
     {},
     1,
     "cannot reach the Wayland display /nonexistent;"},
    {"EmptyTraceName", kOffscreen, {"--trace="}, 2, "lcdtest: --trace needs a file name"},
    {"EmptyWaveformName", kOffscreen, {"--vcd="}, 2, "lcdtest: --vcd needs a file name"},
    {"ExtraArgument", kOffscreen, {"stray"}, 2, "lcdtest: unexpected argument \"stray\""},
    {"UnknownOption", kOffscreen, {"--bogus"}, 2, "lcdtest: Unknown option 'bogus'."},
    {"SameFileThroughDot",
     kOffscreen,
     {"--trace", "@/out", "--vcd=@/./out"},
     2,
     "name the same file"},
    {"SameFileThroughLink",
     kOffscreen,
     {"--trace=@/link", "--vcd", "@/out"},
     2,
     "name the same file"},
    {"TraceNotWritable",
     kOffscreen,
     {"--trace", "@/none/t"},
     2,
     "/none/t: No such file or directory"},
};

INSTANTIATE_TEST_SUITE_P(, StartupTest, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
