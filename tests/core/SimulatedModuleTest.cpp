#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/SimulatedModule.h"
#include "sim/VcdWriter.h"
#include "support/BusTimeline.h"

namespace {

void Control(std::uint32_t base, std::uint8_t flags) {
    DlPortWritePortUchar(base + kControlRegisterOffset, ControlRegisterByte(flags));
}

// Port bytes by hand: the control register reaches the module XOR 0x03, only the
// attached port counts, and moving to another port makes no edge. (Which
// controller E1 reaches: the 40x4 runs of SimulatedRunTest.)
TEST(SimulatedModule, ControlRegisterAndAttachment) {
    BusTimeline clock;  // first: a fresh port and line state
    SimulatedModule module{clock, 0x378};
    std::vector<BusTransfer> seen;
    module.SetChangeListener([&](const BusTransfer& t) { seen.push_back(t); });
    clock.AdvanceMicros(kPowerOnBusyMicros);

    // Lines start low, so raising E0 and RW makes no transfer; dropping them is
    // a read on controller 0.
    Control(0x378, kLineE0 | kLineRW);
    EXPECT_TRUE(seen.empty());
    Control(0x378, 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].read && seen[0].controller == 0);

    // Another port's edges do not reach the module.
    DlPortWritePortUchar(0x278, 0x8A);
    for (const std::uint8_t flags : {kLineE0, std::uint8_t{0}, kLineE0}) Control(0x278, flags);
    EXPECT_EQ(seen.size(), 1u);

    // Moving there with E0 high on the old port and high on the new one: no edge;
    // the old port no longer counts, and the new one's E0 and data do.
    Control(0x378, kLineE0);
    module.AttachToPort(0x278);
    Control(0x378, 0);
    EXPECT_EQ(seen.size(), 1u);
    Control(0x278, 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(module.Controller(0).State().addressCounter, 0x0A);
    EXPECT_EQ(module.Controller(0).TimingViolations(), 0u);
}

TEST(VcdWriter, ChangesAreOnDiskAtOnceAndFailuresAreTold) {
    BusTimeline clock;
    VcdWriter vcd(clock);
    EXPECT_FALSE(vcd.Open("/nonexistent-dir/x.vcd", 0x378));
    EXPECT_NE(vcd.Error().find("/nonexistent-dir/x.vcd"), std::string::npos);

    const auto path =
        std::filesystem::temp_directory_path() / ("lcdtest-flush.vcd-" + std::to_string(getpid()));
    ASSERT_TRUE(vcd.Open(path, 0x378)) << vcd.Error();
    clock.AdvanceMicros(250);
    Control(0x378, kLineRS);
    DlPortWritePortUchar(0x278, 0xFF);  // another port: nothing recorded
    clock.AdvanceMicros(1);
    DlPortWritePortUchar(0x378, 0x41);
    // Every line starts low; RS rises, then D0 and D6.
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_NE(text.str().find("$timescale 1us $end"), std::string::npos);
    EXPECT_TRUE(text.str().ends_with("#250\n1#\n#251\n1%\n1+\n")) << text.str();
    vcd.Close();
    std::filesystem::remove(path);
}

// On a port that wires only some lines the others float in the dump, and a
// line the port inverts on its way (E1 at pin 17) is recorded at its pin.
TEST(VcdWriter, RecordsTheLinesAsThePortWiresThem) {
    BusTimeline clock;
    auto port = std::make_unique<SimulatedPort>();
    PortWiring fourBit;
    fourBit.wired = ControlLines(kLineE0 | kLineRS) | DataLines(kHighDataNibble);
    port->SetWiring(0x278, fourBit);
    PortIo::Instance().SetBackend(std::move(port));
    const auto path =
        std::filesystem::temp_directory_path() / ("lcdtest-wired.vcd-" + std::to_string(getpid()));
    for (const std::uint32_t base : {0x378u, 0x278u}) {
        VcdWriter vcd(clock);
        ASSERT_TRUE(vcd.Open(path, base)) << vcd.Error();
        clock.AdvanceMicros(10);
        Control(base, kLineE0 | kLineRW | kLineE1);
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

}  // namespace
