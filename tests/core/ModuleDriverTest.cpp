#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lcd/ModuleDriver.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "support/LineBench.h"

namespace {

class ModuleDriverTest : public ::testing::Test, protected LineBench {};

// Three cycles worked out byte for byte, each from control flags 0: the
// register each write goes to (data D at 0x378, control C at 0x37A) and the byte.
TEST_F(ModuleDriverTest, WorkedCycles) {
    const auto D = [](std::uint8_t v) { return BusEvent::WriteOf(0x378, v); };
    const auto C = [](std::uint8_t v) { return BusEvent::WriteOf(0x37A, v); };
    struct Case {
        void (ModuleDriver::*cycle)(std::uint8_t, std::uint8_t);
        std::uint8_t value, controller;
        std::vector<BusEvent> writes;
    };
    const Case cases[] = {
        {&ModuleDriver::WriteCommand8, 0x01, 0, {C(0x3), C(0x3), D(0x01), C(0x2), C(0x3)}},
        {&ModuleDriver::WriteData8, 0x41, 1, {C(0x7), C(0x7), D(0x41), C(0xF), C(0x7)}},
        {&ModuleDriver::WriteData4,
         0xA5,
         0,
         {C(0x7), C(0x7), D(0xA0), C(0x6), C(0x7), D(0x50), C(0x6), C(0x7)}},
    };
    for (const Case& c : cases) {
        g_lines.controlFlags = 0;
        timeline.events.clear();
        (driver.*c.cycle)(c.value, c.controller);
        EXPECT_EQ(timeline.Writes(), c.writes) << int(c.value);
    }
    // What is left on the lines is the low nibble, and the panel shows it.
    EXPECT_EQ(view.readouts.hexadecimal, "0x50");
    EXPECT_TRUE(view.checks[IDC_RS_HIGH]);
}

// Every cycle on both buses, sleeps included, to each controller number; an
// enable line already high by hand stays high through cycles to the other one.
TEST_F(ModuleDriverTest, EveryCycleFollowsTheBusRules) {
    using Pair = std::pair<std::uint8_t, std::uint8_t>;  // controller, control flags by hand
    for (const auto& [controller, byHand] :
         {Pair{0, 0}, {1, 0}, {2, 0}, {255, 0}, {0, kLineE1}, {1, kLineE0}}) {
        g_lines.controlFlags = byHand;
        timeline.events.clear();
        driver.WriteCommand8(0x38, controller);
        driver.WriteData8(0xFF, controller);
        driver.WriteCommand4(0x28, controller);
        driver.WriteData4(0x30, controller);  // low nibble 0: still two transfers
        ExpectedBus expected(byHand);
        expected.Cycle(false, false, 0x38, controller);
        expected.Cycle(true, false, 0xFF, controller);
        expected.Cycle(false, true, 0x28, controller);
        expected.Cycle(true, true, 0x30, controller);
        EXPECT_EQ(timeline.events, expected.events) << int(controller) << " " << int(byHand);
    }
}

}  // namespace
