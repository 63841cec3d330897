// The trace and the waveform files: what they record, and files that stop
// taking data, told once while the tool goes on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/OutputFile.h"
#include "io/record/PortTrace.h"
#include "io/record/VcdWriter.h"
#include "io/transports/Simulated.h"
#include "support/BusTimeline.h"

namespace {

// The simulated port reads its latch until bit 5 turns it around; then the
// pull-ups, as nothing drives the lines. The trace marks the reads, and where
// the port's device went away.
TEST(PortTrace, MarksReadsAndTheSimulatedPortHonoursTheDirection) {
    BusTimeline clock;  // a fresh port
    ScopedClock use(clock);
    const auto path = std::filesystem::temp_directory_path() / "lcdtest-read-trace.txt";
    {
        PortTrace trace(clock.io);
        ASSERT_TRUE(trace.Open(path.string()));
        DlPortWritePortUchar(0x378, 0x41);
        EXPECT_EQ(DlPortReadPortUchar(0x378), 0x41);
        clock.AdvanceMicros(7);
        DlPortWritePortUchar(0x37A, 0x20);
        EXPECT_EQ(DlPortReadPortUchar(0x378), 0xFF);
        clock.io.ReportLost(0x378, "gone", "the device went away");
        clock.io.ReportLost(0x378, "gone", "told once");
    }
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(),
              "0 0x378 0x41\n0 0x378 0x41 read\n7 0x37A 0x20\n7 0x378 0xFF read\n"
              "7 0x378 lost the device went away\n");
    std::filesystem::remove(path);
}

// On a port that wires only some lines the others float in the dump, and a
// line the port inverts on its way (E1 at pin 17) is recorded at its pin; the
// other port's writes are not recorded. (That each change is on disk at once:
// OutputLossTest, whose pipe breaks at the write after.)
TEST(VcdWriter, RecordsTheLinesAsThePortWiresThem) {
    BusTimeline clock;
    VcdWriter unopened(clock, clock.io);
    EXPECT_FALSE(unopened.Open("/nonexistent-dir/x.vcd", 0x378));
    EXPECT_NE(unopened.Error().find("/nonexistent-dir/x.vcd"), std::string::npos);
    auto port = std::make_unique<SimulatedPort>();
    PortWiring fourBit;
    fourBit.wired = ControlLines(kLineE0 | kLineRS) | DataLines(kHighDataNibble);
    port->SetWiring(0x278, fourBit);
    clock.io.SetBackend(std::move(port));
    const auto path =
        std::filesystem::temp_directory_path() / ("lcdtest-wired.vcd-" + std::to_string(getpid()));
    for (const std::uint32_t base : {0x378u, 0x278u}) {
        VcdWriter vcd(clock, clock.io);
        ASSERT_TRUE(vcd.Open(path, base)) << vcd.Error();
        clock.AdvanceMicros(10);
        DlPortWritePortUchar(base + kControlRegisterOffset,
                             ControlRegisterByte(kLineE0 | kLineRW | kLineE1));
        DlPortWritePortUchar(0x3BC, 0x55);  // another port
        DlPortWritePortUchar(base, 0xFF);
        vcd.Close();
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        const std::string dump = text.str().substr(text.str().find("$dumpvars"));
        // Header order: E0 ! E1 " RS # RW $, then D0 % .. D7 ,
        EXPECT_EQ(dump, base == 0x378
                            ? "$dumpvars\n0!\n1\"\n0#\n0$\n0%\n0&\n0'\n0(\n0)\n0*\n0+\n0,\n"
                              "$end\n#10\n1!\n0\"\n1$\n#11\n1%\n1&\n1'\n1(\n1)\n1*\n"
                              "1+\n1,\n#12\n"
                            : "$dumpvars\n0!\nz\"\n0#\nz$\nz%\nz&\nz'\nz(\n0)\n0*\n0+\n0,\n"
                              "$end\n#10\n1!\n#11\n1)\n1*\n1+\n1,\n#12\n");
    }
    std::filesystem::remove(path);
}

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
    BusTimeline clock;  // a fresh port
    ScopedClock scoped{clock};
};

// The pipe's reader goes away with no SIGPIPE ignored here: the writer must see
// to it, or the test dies.
TEST_P(OutputLossTest, IsToldOnceWithWhatWasWrittenAndThePortGoesOn) {
    const LossCase& c = GetParam();
    int pipe[2] = {-1, -1};
    ASSERT_TRUE(c.fault == Fault::DiskFull || ::pipe(pipe) == 0);
    const std::string path = pipe[1] < 0 ? "/dev/full" : "/proc/self/fd/" + std::to_string(pipe[1]);
    PortTrace trace(clock.io);
    VcdWriter vcd(clock, clock.io);
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
    EXPECT_EQ(clock.io.Log().Problems(), std::vector<std::string>{told});
    EXPECT_TRUE(c.waveform ? vcd.Lost() : trace.Lost());
    EXPECT_EQ(clock.io.Lines(kBase).data, 0x44);
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
