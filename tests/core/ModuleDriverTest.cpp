#include <gtest/gtest.h>

#include <vector>

#include "lcd/ModuleDriver.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "support/BusTimeline.h"
#include "support/PortRecorder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class ModuleDriverTest : public ::testing::Test {
protected:
    ModuleDriverTest() { panel.OnCloseupPort(); }

    PortRecorder port;  // first: fresh port and line state
    RecordingLineView view;
    LinePanel panel{view};
    BusTimeline timeline;
    ModuleDriver driver{panel, timeline};
};

// Three cycles worked out byte for byte, each from control flags 0.
TEST_F(ModuleDriverTest, WorkedCycles) {
    struct Case {
        void (ModuleDriver::*cycle)(std::uint8_t, std::uint8_t);
        std::uint8_t value, controller;
        std::vector<PortWrite> writes;
    };
    const Case cases[] = {
        {&ModuleDriver::WriteCommand8,
         0x01,
         0,
         {{0x37A, 0x03}, {0x37A, 0x03}, {0x378, 0x01}, {0x37A, 0x02}, {0x37A, 0x03}}},
        {&ModuleDriver::WriteData8,
         0x41,
         1,
         {{0x37A, 0x07}, {0x37A, 0x07}, {0x378, 0x41}, {0x37A, 0x0F}, {0x37A, 0x07}}},
        {&ModuleDriver::WriteData4,
         0xA5,
         0,
         {{0x37A, 0x07},
          {0x37A, 0x07},
          {0x378, 0xA0},
          {0x37A, 0x06},
          {0x37A, 0x07},
          {0x378, 0x50},
          {0x37A, 0x06},
          {0x37A, 0x07}}},
    };
    for (const Case& c : cases) {
        g_lines.controlFlags = 0;
        port.writes.clear();
        (driver.*c.cycle)(c.value, c.controller);
        EXPECT_EQ(port.writes, c.writes) << int(c.value);
    }
    // What is left on the lines is the low nibble, and the panel shows it.
    EXPECT_EQ(view.readouts[IDC_HEX], "0x50");
    EXPECT_TRUE(view.checks[IDC_RS_HIGH]);
}

// The model the run tests build on agrees with the driver, sleeps included: set-up
// before the rising edge and the pulse itself, 1 ms each.
TEST_F(ModuleDriverTest, EveryCycleFollowsTheBusRules) {
    driver.WriteCommand8(0x38, 0);
    driver.WriteData8(0xFF, 0);
    driver.WriteCommand4(0x28, 1);
    driver.WriteData4(0x30, 1);  // low nibble 0: still two transfers
    ExpectedBus expected;
    expected.Command8(0x38, 0);
    expected.Data8(0xFF, 0);
    expected.Command4(0x28, 1);
    expected.Data4(0x30, 1);
    EXPECT_EQ(timeline.events, expected.events);
    EXPECT_EQ(timeline.WriteCount(), 5u + 5 + 8 + 8);
    EXPECT_EQ(timeline.SleptMillis(), 2u + 2 + 4 + 4);
}

TEST_F(ModuleDriverTest, EveryNonzeroControllerNumberClocksE1) {
    for (const std::uint8_t controller : {1, 2, 255}) {
        timeline.events.clear();
        driver.WriteCommand8(0x01, controller);
        driver.WriteData4(0xA5, controller);
        ExpectedBus expected;
        expected.Command8(0x01, 1);
        expected.Data4(0xA5, 1);
        EXPECT_EQ(timeline.events, expected.events) << int(controller);
        EXPECT_EQ(timeline.ValuesAt(kControlRegister)[2], 0x0B) << "E1 high, RS and RW low";
    }
}

// An enable line set high by hand stays high through cycles to the other controller.
TEST_F(ModuleDriverTest, TheOtherEnableLineIsLeftAlone) {
    struct Case {
        void (LinePanel::*setByHand)();
        std::uint8_t line, controller;
    };
    for (const Case c :
         {Case{&LinePanel::OnE1High, kLineE1, 0}, Case{&LinePanel::OnE0High, kLineE0, 1}}) {
        g_lines.controlFlags = 0;
        (panel.*c.setByHand)();
        timeline.events.clear();
        driver.WriteData8(0x41, c.controller);
        driver.WriteCommand4(0x28, c.controller);
        ExpectedBus expected(c.line);
        expected.Data8(0x41, c.controller);
        expected.Command4(0x28, c.controller);
        EXPECT_EQ(timeline.events, expected.events) << int(c.controller);
        for (const std::uint8_t byte : timeline.ValuesAt(kControlRegister))
            EXPECT_TRUE((byte ^ kControlInvertMask) & c.line) << int(byte);
    }
}

TEST_F(ModuleDriverTest, InitSequences) {
    struct Case {
        void (ModuleDriver::*init)(std::uint8_t);
        void (ExpectedBus::*expect)(std::uint8_t);
        Bytes dataRegister;
        std::size_t writes;
        std::uint64_t millis;
        std::uint8_t lastLatch;
    };
    const Case cases[] = {
        {&ModuleDriver::InitController8, &ExpectedBus::Init8,
         Bytes{0x38, 0x38, 0x38, 0x38, 0x08, 0x01, 0x06, 0x0F, 0x01}, 45, 199, 0x01},
        {&ModuleDriver::InitController4, &ExpectedBus::Init4,
         Bytes{0x30, 0x30, 0x30, 0x20, 0x20, 0x80, 0x00, 0x80, 0x00, 0x10, 0x00, 0x60, 0x00, 0xF0,
               0x00, 0x10},
         68, 213, 0x10},
    };
    for (const Case& c : cases) {
        timeline.events.clear();
        (driver.*c.init)(0);
        EXPECT_EQ(timeline.ValuesAt(kDataRegister), c.dataRegister);
        EXPECT_EQ(timeline.WriteCount(), c.writes);
        EXPECT_EQ(timeline.SleptMillis(), c.millis);
        ExpectedBus expected;
        (expected.*c.expect)(0);
        EXPECT_EQ(timeline.events, expected.events);
        EXPECT_EQ(g_lines.dataLatch, c.lastLatch);
        EXPECT_EQ(g_lines.controlFlags, 0) << "RS, RW and E0 low";
    }
}

TEST_F(ModuleDriverTest, InitController4OnController1NeverPulsesE0) {
    driver.InitController4(1);
    ExpectedBus expected;
    expected.Init4(1);
    EXPECT_EQ(timeline.events, expected.events);
    const std::vector<LatchedTransfer> transfers = DecodeTransfers(timeline.events);
    EXPECT_EQ(transfers.size(), 4u + 2 * 6);
    for (const LatchedTransfer& t : transfers) EXPECT_EQ(t.controller, 1);
}

}  // namespace
