#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lcd/ModuleDriver.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "support/LineBench.h"

namespace {

class ModuleDriverTest : public ::testing::Test, protected LineBench {};

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
