// Reads through each back-end: the direction bit turned into the kernel's
// requests, the allow-list, and the trace's read lines.

#include <gtest/gtest.h>
#include <linux/ppdev.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Clock.h"
#include "platform/PortTrace.h"
#include "platform/PpdevPort.h"
#include "platform/RawPort.h"
#include "support/FakeParportSystem.h"

namespace {

using Ioctl = FakeParportSystem::IoctlCall;

struct PortReadTest : ::testing::Test {
    PortReadTest() { PortIo::Instance().Reset(); }
    ~PortReadTest() override { PortIo::Instance().Reset(); }
    std::shared_ptr<FakeParportSystem> sys = std::make_shared<FakeParportSystem>();
};

// Turned around, read, turned back: the direction goes by PPDATADIR, never as
// bit 5 of PPWCONTROL, and only when it changes.
TEST_F(PortReadTest, PpdevTurnsTheLinesAroundByRequest) {
    sys->dataLines = 0x5A;
    PpdevPort port(sys, {{"parport0", "/dev/parport0", 0x378}});
    port.Write(0x37A, 0x27);
    port.Write(0x37A, 0x25);
    EXPECT_EQ(port.Read(0x378), 0x5A);
    port.Write(0x37A, 0x07);
    const std::string node = "/dev/parport0";
    const std::vector<Ioctl> expected = {
        {node, PPEXCL, -1},       {node, PPCLAIM, -1},      {node, PPDATADIR, 1},
        {node, PPWCONTROL, 0x07}, {node, PPWCONTROL, 0x05}, {node, PPRDATA, 0},
        {node, PPDATADIR, 0},     {node, PPWCONTROL, 0x07},
    };
    EXPECT_EQ(sys->ioctls, expected);
    EXPECT_FALSE(port.Read(0x278));  // no port there: reported, nothing read
    EXPECT_EQ(PortIo::Instance().Problems().size(), 1u);
}

TEST_F(PortReadTest, RawReadsOnlyTheAllowedRegisters) {
    sys->dataLines = 0xA5;
    RawPort port(sys);
    EXPECT_EQ(port.Read(0x278), 0xA5);
    EXPECT_FALSE(port.Read(0x379));
    EXPECT_EQ(sys->preads, (std::vector<std::pair<std::string, off_t>>{{"/dev/port", 0x278}}));
    ASSERT_EQ(PortIo::Instance().Problems().size(), 1u);
    EXPECT_EQ(PortIo::Instance().Problems()[0],
              "refused to read from I/O address 0x379: not a parallel-port register (a fault in "
              "the tool; please report it)");
}

// The simulated port reads its latch until bit 5 turns it around; then the
// pull-ups, as nothing drives the lines.
TEST_F(PortReadTest, TraceMarksReadsAndTheSimulatedPortHonoursTheDirection) {
    VirtualClock clock;
    ScopedClock use(clock);
    const auto path = std::filesystem::temp_directory_path() / "lcdtest-read-trace.txt";
    {
        PortTrace trace;
        ASSERT_TRUE(trace.Open(path.string()));
        DlPortWritePortUchar(0x378, 0x41);
        EXPECT_EQ(DlPortReadPortUchar(0x378), 0x41);
        clock.AdvanceMicros(7);
        DlPortWritePortUchar(0x37A, 0x20);
        EXPECT_EQ(DlPortReadPortUchar(0x378), 0xFF);
    }
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "0 0x378 0x41\n0 0x378 0x41 read\n7 0x37A 0x20\n7 0x378 0xFF read\n");
    std::filesystem::remove(path);
}

}  // namespace
