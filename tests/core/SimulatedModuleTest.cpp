// The simulated module on the parallel port, driven by port bytes written by
// hand: the control register, the port it hangs on, and the bus rules.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/SimulatedModule.h"
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
    SimulatedModule module{clock, clock.io, 0x378};
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
}

// The bus rules by hand, control byte after control byte from rest: RS and RW
// held from an enable's rise to its fall (its own edges included), and one
// driver at a time on the data lines. A straight E1 rests high; a module with
// one controller has nothing on pin 17.
TEST(SimulatedModule, BusRulesPerController) {
    constexpr std::uint8_t In = kDataLinesInput, RW = kLineRW, RS = kLineRS, E0 = kLineE0,
                           E1 = kLineE1;
    struct Seen {
        std::uint64_t unsteady, twoDrivers;
        const char* last;
    };
    struct Case {
        E1Wiring e1;
        int controllers;
        bool fourBitE0;  // controller 0 set to the 4-bit bus first
        std::vector<std::uint8_t> controls;
        Seen e0, e1Seen;
    };
    using W = E1Wiring;
    // clang-format off
    const Case cases[] = {
        {W::Straight, 2, false, {RW}, {0, 0, ""}, {1, 1, "E1 and the port both drove D0..D7"}},
        {W::Straight, 1, false, {RW, RS, In}, {0, 0, ""}, {0, 0, ""}},
        {W::Straight, 2, false, {In, In | RW, In | RW | E0},
         {0, 1, "E0 and E1 both drove D0..D7"}, {1, 1, "E0 and E1 both drove D0..D7"}},
        {W::Straight, 2, false, {RW, RW | E0},
         {0, 1, "E0, E1 and the port all drove D0..D7"}, {1, 1, "E1 and the port both drove D0..D7"}},
        {W::Inverter, 2, false, {RS, RS | E0, E0, 0}, {1, 0, "RS fell while E0 was high"}, {0, 0, ""}},
        {W::Inverter, 2, false, {RS | E0, 0}, {2, 0, "RS fell as E0 fell"}, {0, 0, ""}},
        {W::Inverter, 2, false, {E1, E1 | RW, 0}, {0, 0, ""}, {2, 1, "RW fell as E1 fell"}},
        {W::Inverter, 2, true, {In, In | RW, In | RW | E0, In | RW | E0 | E1},
         {0, 1, "E0 and E1 both drove D4..D7"}, {0, 1, "E0 and E1 both drove D4..D7"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        BusTimeline clock;
        clock.io.SetBackend(std::make_unique<SimulatedPort>(c.e1));
        SimulatedModule module{clock, clock.io, 0x378};
        module.SetControllerCount(c.controllers);
        clock.AdvanceMicros(kPowerOnBusyMicros);
        if (c.fourBitE0) {
            DlPortWritePortUchar(0x378, 0x20);
            Control(0x378, c.e1 == W::Straight ? 0 : E0);
            Control(0x378, 0);
            clock.AdvanceMicros(kInstructionMicros);
        }
        for (const std::uint8_t flags : c.controls) Control(0x378, flags);
        const auto trace = ::testing::Message() << "case " << (&c - cases);
        for (int n = 0; n < 2; ++n) {
            const LcdController& controller = module.Controller(n);
            const Seen& seen = n == 0 ? c.e0 : c.e1Seen;
            EXPECT_EQ(controller.Violations(Violation::UnsteadyControl), seen.unsteady) << trace;
            EXPECT_EQ(controller.Violations(Violation::TwoDrivers), seen.twoDrivers) << trace;
            EXPECT_EQ(controller.LastViolation(), seen.last) << trace << ", E" << n;
            EXPECT_EQ(controller.TimingViolations(), 0u) << trace;
        }
    }
}

}  // namespace
