#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lcd/Geometry.h"
#include "lcd/ModuleDriver.h"
#include "lcd/TestRun.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "sim/VcdWriter.h"
#include "support/BusTimeline.h"

namespace {

namespace fs = std::filesystem;

struct Boxes final : TestRunSource {
    Boxes(int size, std::array<std::string, 4> lines) : size(size), lines(std::move(lines)) {}
    int SizeSelection() const override { return size; }
    std::string LineBoxText(int id) const override { return lines.at(id - IDC_LINE1); }
    int size;
    std::array<std::string, 4> lines;
};

// The tool's panel and driver on a fresh port, with the module on the first port.
struct Bench {
    Bench() { panel.OnCloseupPort(); }
    void Run(BusWidth width, const Boxes& boxes) {
        RunDisplayTest(driver, panel, clock, width, boxes);
    }

    BusTimeline clock;  // first: a fresh port and line state
    RecordingLineView view;
    LinePanel panel{view};
    SimulatedModule module{clock, kPortBases[0]};
    ModuleDriver driver{panel, clock};
};

// Port bytes by hand: the control register reaches the module XOR 0x03, only the
// attached port counts, and moving to another port makes no edge.
TEST(SimulatedModule, ControlRegisterAndAttachment) {
    BusTimeline clock;
    SimulatedModule module{clock, 0x378};
    std::vector<BusTransfer> seen;
    module.SetChangeListener([&](const BusTransfer& t) { seen.push_back(t); });
    clock.AdvanceMicros(kPowerOnBusyMicros);
    const auto control = [](std::uint32_t base, std::uint8_t flags) {
        DlPortWritePortUchar(base + kControlRegisterOffset, ControlRegisterByte(flags));
    };

    // The unwritten control register reads 0x00: E0 and RW high. Dropping them
    // is a read on controller 0.
    control(0x378, 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].read && seen[0].controller == 0);

    // Set CGRAM address 5 on controller 1 only.
    DlPortWritePortUchar(0x378, 0x45);
    control(0x378, kLineE1);
    control(0x378, 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[1].controller == 1 && !seen[1].rs && !seen[1].read);
    EXPECT_EQ(module.Controller(1).State().target, AddressTarget::Cgram);
    EXPECT_EQ(module.Controller(1).State().addressCounter, 5);
    EXPECT_EQ(module.Controller(0).State().target, AddressTarget::Ddram);

    // Another port's edges do not reach the module.
    DlPortWritePortUchar(0x278, 0x8A);
    control(0x278, kLineE0);
    control(0x278, 0);
    control(0x278, kLineE0);
    EXPECT_EQ(seen.size(), 2u);

    // Moving there with E0 high on the old port and high on the new one: no edge;
    // the old port no longer counts, and the new one's E0 and data do.
    control(0x378, kLineE0);
    module.AttachToPort(0x278);
    control(0x378, 0);
    EXPECT_EQ(seen.size(), 2u);
    control(0x278, 0);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(module.Controller(0).State().addressCounter, 0x0A);
    EXPECT_EQ(module.Controller(0).TimingViolations(), 0u);
}

fs::path TempFile(const char* name) {
    return fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The program of that name in a PATH directory, or "" when there is none.
std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return "";
}

TEST(VcdWriter, ChangesAreOnDiskAtOnceAndFailuresAreTold) {
    BusTimeline clock;
    VcdWriter vcd(clock);
    EXPECT_FALSE(vcd.Open("/nonexistent-dir/x.vcd", kPortBases[0]));
    EXPECT_NE(vcd.Error().find("/nonexistent-dir/x.vcd"), std::string::npos);

    const fs::path path = TempFile("lcdtest-flush.vcd");
    ASSERT_TRUE(vcd.Open(path, kPortBases[0])) << vcd.Error();
    clock.AdvanceMicros(250);
    DlPortWritePortUchar(kPortBases[0] + kControlRegisterOffset, ControlRegisterByte(kLineRS));
    DlPortWritePortUchar(kPortBases[1], 0xFF);  // another port: nothing recorded
    // Unwritten registers read 0x00, so E0 and RW start high; RS rises, both fall.
    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("$timescale 1us $end"), std::string::npos);
    EXPECT_TRUE(text.ends_with("#250\n0!\n1#\n0$\n")) << text;
    vcd.Close();
    fs::remove(path);
}

// A logic-analyser decoder clocked on E0's falling edge reads back exactly the
// bytes the module latched.
TEST(VcdWriter, DecoderFindsTheLatchedBytes) {
    const std::string sigrok = FindOnPath("sigrok-cli");
    if (sigrok.empty()) GTEST_SKIP() << "sigrok-cli is not on the PATH";

    Bench bench;
    std::vector<std::uint8_t> latched;
    bench.module.SetChangeListener([&](const BusTransfer& t) {
        if (t.controller == 0) latched.push_back(t.bus);
    });
    const fs::path path = TempFile("lcdtest-session.vcd");
    {
        VcdWriter vcd(bench.clock);
        ASSERT_TRUE(vcd.Open(path, kPortBases[0])) << vcd.Error();
        const Boxes boxes(kSize16x2, {"Wave\\255"});
        bench.Run(BusWidth::Eight, boxes);
        bench.Run(BusWidth::Four, boxes);
        // The decoder tells a byte when the next edge closes it: end on a busy-flag read.
        bench.panel.OnRWHigh();
        bench.panel.OnE0High();
        bench.clock.SleepMillis(1);
        bench.panel.OnE0Low();
    }
    ASSERT_GT(latched.size(), 200u);
    latched.pop_back();

    std::string command = "'" + sigrok + "' -I vcd -i '" + path.string() + "' -P parallel:clk=E0";
    for (int bit = 0; bit < 8; ++bit)
        command += ":d" + std::to_string(bit) + "=D" + std::to_string(bit);
    std::FILE* pipe = popen((command + ":clock_edge=falling 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::uint8_t> decoded;
    std::string output;
    char line[256];
    unsigned byte = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        output += line;
        if (std::sscanf(line, "parallel-1: %x", &byte) == 1)
            decoded.push_back(static_cast<std::uint8_t>(byte));
    }
    const int status = pclose(pipe);
    // Some builds of the decoder library abort while Python shuts down, after all
    // output is out; anything else is a failure.
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 0) ||
                output.find("bool_dealloc") != std::string::npos)
        << output;
    EXPECT_EQ(decoded, latched);
    fs::remove(path);
}

}  // namespace
