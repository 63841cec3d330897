// What every kind of port in the table of transports must do, checked row by
// row over the fake kernel: a mapping it cannot read refused with the reason,
// its kind named or not alike, the wiring the simulated module hangs on equal
// to the opened port's, runs and Verify the wiring cannot carry refused before
// any request, and a device that goes away told once, the run stopped and the
// next one refused. (The lines at rest: the GPIO chip's and the PCF8574's
// request traces in GpioPcf8574Test, and each expander's module pins in
// SimulatedBackpackTest, where a run and Verify reach a module.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/PortChoice.h"
#include "lcd/Geometry.h"
#include "lcd/TestRun.h"
#include "lcd/Verify.h"
#include "support/FakeKernel.h"
#include "support/LineBench.h"
#include "support/MappedPort.h"
#include "support/RunSources.h"

namespace {

// What one kind needs to be checked.
struct Sample {
    std::string_view kind;
    std::string fourBit;  // a 4-bit wiring with RW, read back safely
    std::string noRW;     // a 4-bit wiring without RW
    std::string bad;      // a device text the kind cannot read
    std::string badError;
    std::string gone;  // the lost message once the device in `fourBit` goes away
};

void PrintTo(const Sample& sample, std::ostream* os) {
    *os << sample.kind;
}

const Sample kSamples[] = {
    {"gpio", "/dev/gpiochip0:RS=7,RW=22,E0=8,D4=25,D5=24,D6=23,D7=18,reads=safe",
     "/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18", "/dev/gpiochip0:RS=7,E0=4294967296",
     "\"E0=4294967296\": the line offset must be a number, for example E0=7",
     "the GPIO chip /dev/gpiochip0 went away (No such device): the run stopped; plug it back in "
     "and start lcdtest again"},
    {"pcf8574", "/dev/i2c-1@0x27", "/dev/i2c-1@0x27:RS=P0,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7",
     "/dev/i2c-1@0x27:RS=P8", "\"P8\" is no PCF8574 pin: expected P0..P7",
     "the PCF8574 at 0x27 on /dev/i2c-1 is gone (No such device): the run stopped — plug the USB "
     "bridge back in or check the backpack's wiring and power, then start lcdtest again"},
    {"mcp23008", "/dev/i2c-1@0x20:RW=GP0,RS=GP1,E0=GP2,D4=GP3,D5=GP4,D6=GP5,D7=GP6,BL=GP7",
     "/dev/i2c-1@0x20", "/dev/i2c-1@0x20:RS=P1", "\"P1\" is no MCP23008 pin: expected GP0..GP7",
     "the MCP23008 at 0x20 on /dev/i2c-1 is gone (No such device): the run stopped — plug the "
     "USB bridge back in or check the backpack's wiring and power, then start lcdtest again"},
    {"mcp23017", "/dev/i2c-1@0x20",
     "/dev/i2c-1@0x20:RS=GPB7,E0=GPB5,D4=GPB4,D5=GPB3,D6=GPB2,D7=GPB1", "/dev/i2c-1@0x20:RS=GPC1",
     "\"GPC1\" is no MCP23017 pin: expected GPA0..GPA7, GPB0..GPB7",
     "the MCP23017 at 0x20 on /dev/i2c-1 is gone (No such device): the run stopped — plug the "
     "USB bridge back in or check the backpack's wiring and power, then start lcdtest again"},
};

class TransportTest : public ::testing::TestWithParam<Sample>, protected LineBench {
protected:
    // "0x378=KIND:DEVICE": the mapping of `device` with the sample's kind named.
    static std::string Mapping(const std::string& device) {
        return "0x378=" + std::string(GetParam().kind) + ":" + device;
    }
    // Maps 0x378 to `device` and puts its back-end in use.
    void Use(const std::string& device) { UsePortMap(timeline.io, sys, Mapping(device)); }
    TestRunRecord Run(int size, BusWidth width) {
        return RunDisplayTest(driver, panel, timeline, width, OneLetter(size));
    }

    std::shared_ptr<FakeKernel> sys = std::make_shared<FakeKernel>();
};

TEST(Transports, EveryKindThatOpensAPortHasASample) {
    for (const Transport* kind : Transports()) {
        const bool sampled = std::any_of(std::begin(kSamples), std::end(kSamples),
                                         [&](const Sample& s) { return s.kind == kind->name; });
        EXPECT_EQ(sampled, kind->open != nullptr) << kind->name;
    }
}

// Refused with the reason when it does not read; read alike without its kind
// where its device's name picks it; the simulated module's wiring is the
// opened port's.
TEST_P(TransportTest, ReadsItsMappingsOnceAndWiresTheSimulatedModuleAlike) {
    const Sample& s = GetParam();
    std::vector<PortMapping> map;
    EXPECT_EQ(AddPortMapping(map, Mapping(s.bad)),
              "--port-map " + Mapping(s.bad) + ": " + s.badError);
    ASSERT_EQ(AddPortMapping(map, Mapping(s.fourBit)), "");
    ASSERT_EQ(map.front().kind->name, s.kind);
    if (TransportNamed(s.fourBit).kind == map.front().kind) {
        std::vector<PortMapping> unnamed;
        ASSERT_EQ(AddPortMapping(unnamed, "0x378=" + s.fourBit), "");
        EXPECT_EQ(unnamed.front().kind->wiring(unnamed.front().config),
                  map.front().kind->wiring(map.front().config));
    }
    Use(s.fourBit);
    const PortWiring real = timeline.io.Wiring(0x378);
    EXPECT_EQ(map.front().kind->wiring(map.front().config), real);
    EXPECT_EQ(real.wired, ControlLines(kLineRS | kLineRW | kLineE0) | DataLines(kHighDataNibble));
    EXPECT_EQ(Told(timeline.io), "");
}

// What the wiring lacks refuses the run or Verify that needs it, each told
// with the wiring as the start-up line shows it, and no request goes out.
TEST_P(TransportTest, RefusesWhatItsWiringCannotCarry) {
    const Sample& s = GetParam();
    Use(s.noRW);
    const std::string has = "the wiring of 0x378 (" + timeline.io.Wiring(0x378).text + ")";
    const std::size_t opened = sys->requests.size();
    std::vector<std::string> told;
    timeline.io.Log().SetSink([&](const std::string& m) { told.push_back(m); });
    timeline.events.clear();
    const TestRunRecord sent{kSize16x2, {}, {}, BusWidth::Four, {}};
    Run(kSize16x2, BusWidth::Eight);
    Run(kSize40x4, BusWidth::Four);
    VerifyModule(driver, panel, timeline, sent);
    EXPECT_EQ(told, (std::vector<std::string>{
                        "Init 8-bit needs D0..D3, which " + has + " lacks: use Init 4-bit",
                        "40x4 needs E1 for its second controller, which " + has +
                            " lacks: wire E1, or test a size with one controller",
                        "Verify needs RW to read the module, which " + has +
                            " lacks: wire the module's RW to the port instead of to ground"}));
    EXPECT_TRUE(timeline.events.empty());
    EXPECT_EQ(sys->requests.size(), opened);
}

// Gone mid-run: told once, the run stops, nothing more is asked of it, and the
// next run and Verify are refused with the same message.
TEST_P(TransportTest, ADeviceThatGoesAwayIsToldOnce) {
    const Sample& s = GetParam();
    Use(s.fourBit);
    sys->fates = "+++-";
    const TestRunRecord sent = Run(kSize16x2, BusWidth::Four);
    EXPECT_EQ(sent.stopped, s.gone);
    const std::size_t asked = sys->requests.size();
    EXPECT_EQ(Run(kSize16x2, BusWidth::Four).refusal, s.gone);
    EXPECT_EQ(VerifyModule(driver, panel, timeline, sent).Summary(),
              "Verify cannot read: " + s.gone);
    EXPECT_EQ(sys->requests.size(), asked);
    EXPECT_EQ(sys->failed, 1);
    EXPECT_EQ(Told(timeline.io), s.gone);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, TransportTest, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                             return std::string(info.param.kind);
                         });

}  // namespace
