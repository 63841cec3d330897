#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lcd/ModuleDriver.h"
#include "port/LinePanel.h"
#include "res/Resource.h"
#include "support/BusTimeline.h"

namespace {

class ModuleDriverTest : public ::testing::Test {
protected:
    ModuleDriverTest() { panel.OnCloseupPort(); }

    BusTimeline timeline;  // first: a fresh port and line state
    RecordingLineView view;
    LinePanel panel{view};
    ModuleDriver driver{panel, timeline};
};

// Three cycles worked out byte for byte, each from control flags 0: the
// register each write goes to (data D at 0x378, control C at 0x37A) and the byte.
TEST_F(ModuleDriverTest, WorkedCycles) {
    struct Case {
        void (ModuleDriver::*cycle)(std::uint8_t, std::uint8_t);
        std::uint8_t value, controller;
        std::string writes;
    };
    const Case cases[] = {
        {&ModuleDriver::WriteCommand8, 0x01, 0, "C03 C03 D01 C02 C03"},
        {&ModuleDriver::WriteData8, 0x41, 1, "C07 C07 D41 C0F C07"},
        {&ModuleDriver::WriteData4, 0xA5, 0, "C07 C07 DA0 C06 C07 D50 C06 C07"},
    };
    for (const Case& c : cases) {
        g_lines.controlFlags = 0;
        timeline.events.clear();
        (driver.*c.cycle)(c.value, c.controller);
        std::string writes;
        for (const BusEvent& w : timeline.Writes()) {
            char write[8];
            std::snprintf(write, sizeof write, " %c%02X",
                          w.where == 0x378   ? 'D'
                          : w.where == 0x37A ? 'C'
                                             : '?',
                          w.value);
            writes += write;
        }
        EXPECT_EQ(writes.substr(1), c.writes);
    }
    // What is left on the lines is the low nibble, and the panel shows it.
    EXPECT_EQ(view.readouts[IDC_HEX], "0x50");
    EXPECT_TRUE(view.checks[IDC_RS_HIGH]);
}

// Every cycle on both buses, sleeps included, to each controller number; an
// enable line already high by hand stays high through cycles to the other one.
TEST_F(ModuleDriverTest, EveryCycleFollowsTheBusRules) {
    struct Case {
        std::uint8_t controller, byHand;
    };
    for (const Case c :
         {Case{0, 0}, Case{1, 0}, Case{2, 0}, Case{255, 0}, Case{0, kLineE1}, Case{1, kLineE0}}) {
        g_lines.controlFlags = c.byHand;
        timeline.events.clear();
        driver.WriteCommand8(0x38, c.controller);
        driver.WriteData8(0xFF, c.controller);
        driver.WriteCommand4(0x28, c.controller);
        driver.WriteData4(0x30, c.controller);  // low nibble 0: still two transfers
        ExpectedBus expected(c.byHand);
        expected.Command(false, 0x38, c.controller);
        expected.Data(false, 0xFF, c.controller);
        expected.Command(true, 0x28, c.controller);
        expected.Data(true, 0x30, c.controller);
        EXPECT_EQ(timeline.events, expected.events) << int(c.controller) << " " << int(c.byHand);
    }
}

}  // namespace
