// Trace and waveform files that stop taking data: told once, the tool goes on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/OutputFile.h"
#include "base/VirtualClock.h"
#include "io/record/PortTrace.h"
#include "io/record/VcdWriter.h"

namespace {

constexpr std::uint32_t kBase = 0x378;
enum class Fault { DiskFull, ReaderGone, ReaderGoneBeforeClose };

struct LossCase {
    const char* name;
    bool waveform;
    Fault fault;
    const char* told;  // the one problem report; "@" stands for the path
};

class OutputLossTest : public ::testing::TestWithParam<LossCase> {
protected:
    PortIo io_;
    ScopedPortIo installed_{io_};
    VirtualClock clock_;
    ScopedClock scoped_{clock_};
};

// The pipe's reader goes away with no SIGPIPE ignored here: the writer must see
// to it, or the test dies.
TEST_P(OutputLossTest, IsToldOnceWithWhatWasWrittenAndThePortGoesOn) {
    const LossCase& c = GetParam();
    int pipe[2] = {-1, -1};
    ASSERT_TRUE(c.fault == Fault::DiskFull || ::pipe(pipe) == 0);
    const std::string path = pipe[1] < 0 ? "/dev/full" : "/proc/self/fd/" + std::to_string(pipe[1]);
    PortTrace trace(io_);
    VcdWriter vcd(clock_, io_);
    ASSERT_TRUE(c.waveform ? vcd.Open(path, kBase) : trace.Open(path));
    DlPortWritePortUchar(kBase, 0x41);
    DlPortWritePortUchar(kBase, 0x42);
    if (pipe[0] >= 0) ::close(pipe[0]);
    if (c.fault == Fault::ReaderGone) DlPortWritePortUchar(kBase, 0x43);
    trace.Close();
    vcd.Close();
    DlPortWritePortUchar(kBase, 0x44);
    if (pipe[1] >= 0) ::close(pipe[1]);

    std::string told = c.told;
    told.replace(told.find('@'), 1, path);
    EXPECT_EQ(io_.Log().Problems(), std::vector<std::string>{told});
    EXPECT_TRUE(c.waveform ? vcd.Lost() : trace.Lost());
    EXPECT_EQ(io_.Lines(kBase).data, 0x44);
}

const LossCase kLossCases[] = {
    {"TraceOnFullDisk", false, Fault::DiskFull,
     "cannot write the trace file @: No space left on device after 0 bytes (0 whole lines); the "
     "trace ends there"},
    {"TraceToClosedPipe", false, Fault::ReaderGone,
     "cannot write the trace file @: Broken pipe after 26 bytes (2 whole lines); the trace ends "
     "there"},
    {"WaveformToClosedPipe", true, Fault::ReaderGone,
     "cannot write the waveform file @: Broken pipe after 449 bytes; the waveform ends there"},
    {"WaveformClosedAfterReaderLeft", true, Fault::ReaderGoneBeforeClose,
     "cannot finish the waveform file @: Broken pipe after 449 bytes; the waveform ends there"},
};

INSTANTIATE_TEST_SUITE_P(, OutputLossTest, ::testing::ValuesIn(kLossCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OutputFileTest, SameFileWhateverTheSpelling) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("lcdtest-same-" + std::to_string(getpid()));
    fs::create_directories(dir / "sub");
    const std::string d = dir.string();
    for (const char* name : {"/a", "/b"}) OutputFile().Open(d + name);
    fs::create_symlink(dir / "a", dir / "link");
    fs::create_symlink("sub/../new", dir / "dangling");
    const std::tuple<std::string, std::string, bool> cases[] = {
        {d + "/a", d + "/./a", true},     {d + "/link", d + "/sub/../a", true},
        {d + "/a", d + "/b", false},      {d + "/dangling", d + "/new", true},
        {d + "/new", d + "/new2", false},
    };
    for (const auto& [a, b, same] : cases) EXPECT_EQ(SameFile(a, b), same) << a << " " << b;
    fs::remove_all(dir);
}

}  // namespace
