// The GPIO chip back-end over the fake kernel: the mapping's text, the requests
// a run makes, the turn-around for reads without a glitch, the refusals of what
// a wiring lacks, and the failures, each told once with its fix.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "lcd/Geometry.h"
#include "lcd/ModuleDriver.h"
#include "lcd/TestRun.h"
#include "lcd/Verify.h"
#include "platform/GpioPort.h"
#include "platform/PortIoMode.h"
#include "platform/PortTrace.h"
#include "support/FakeKernel.h"
#include "support/LineBench.h"

namespace {

using Calls = std::vector<std::string>;

// The 4-bit wiring on a Raspberry Pi header, and all twelve lines with E1 and
// D3 through inverting buffers.
const std::string kFourBit = "/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18";
const std::string kFull =
    "/dev/gpiochip0:RS=7,RW=22,E0=8,E1=27,D0=5,D1=6,D2=13,D3=19,D4=25,D5=24,D6=23,D7=18,"
    "invert=E1+D3,reads=safe";
const std::string kFourBitReads =
    "/dev/gpiochip0:RS=7,RW=22,E0=8,D4=25,D5=24,D6=23,D7=18,reads=safe";
const std::string kInfo = "info /dev/gpiochip0";

struct BoxSource final : TestRunSource {
    explicit BoxSource(int size) : size(size) {}
    int SizeSelection() const override { return size; }
    std::string LineBoxText(int) const override { return "Hi"; }
    int size;
};

class GpioPortTest : public ::testing::Test, protected LineBench {
protected:
    ~GpioPortTest() override {
        PortIo::Instance().SetProblemSink({});
        PortIo::Instance().Reset();
    }
    // A fresh port and a kernel with one chip of 32 lines.
    void Fresh() {
        PortIo::Instance().Reset();
        sys = std::make_shared<FakeParportSystem>();
        sys->AddGpioChip(0);
    }
    // Drives 0x378 through `wiring`; the start-up line.
    std::string Use(const std::string& wiring) {
        std::vector<PortMapping> map;
        EXPECT_EQ(AddPortMapping(map, "0x378=" + wiring), "");
        PortBackendChoice choice = ChoosePortBackend(PortIoMode::Ppdev, sys, map);
        PortIo::Instance().SetBackend(std::move(choice.backend));
        return choice.announcement;
    }
    static std::string Told() {
        std::string all;
        for (const std::string& p : PortIo::Instance().Problems()) all += p + "\n";
        return all;
    }
    TestRunRecord Run(int size, BusWidth width) {
        return RunDisplayTest(driver, panel, timeline, width, BoxSource(size));
    }

    ScopedClock useClock{timeline};
    std::shared_ptr<FakeParportSystem> sys = std::make_shared<FakeParportSystem>();
};

// Lines in the module's pin order with their offsets, what each leaves out;
// every fault in a mapping is a usage error that names it.
TEST(GpioMapping, MappingsReadOrAreRefusedWithTheReason) {
    struct Good {
        std::string device;
        LineSet wired;
        const char* text;
        bool reads;
    };
    const LineSet fourBit = ControlLines(kLineRS | kLineE0) | DataLines(0xF0);
    const Good good[] = {
        {kFourBit, fourBit, "RS=7, E0=8, D4=25, D5=24, D6=23, D7=18", false},
        {"/dev/gpiochip12:D7=18,D6=23,D5=24,D4=25,E0=0,RW=4,RS=7,invert=E0+RS,reads=safe",
         fourBit | ControlLines(kLineRW),
         "RS=7 inverted, RW=4, E0=0 inverted, D4=25, D5=24, D6=23, D7=18", true},
        {kFull, kAllModuleLines,
         "RS=7, RW=22, E0=8, E1=27 inverted, D0=5, D1=6, D2=13, D3=19 inverted, D4=25, D5=24, "
         "D6=23, D7=18",
         true},
    };
    for (const Good& c : good) {
        std::vector<PortMapping> map;
        EXPECT_EQ(AddPortMapping(map, "0x378=" + c.device), "");
        const PortWiring wiring = SimulatedGpioWiring(c.device);
        EXPECT_EQ(wiring.wired, c.wired) << c.device;
        EXPECT_EQ(wiring.invertedAtModule, 0);  // the tool undoes the buffers
        EXPECT_EQ(wiring.text, c.text);
        EXPECT_EQ(wiring.noReads.empty(), c.reads) << wiring.noReads;
    }
    const std::string nothing =
        "nothing wired: name the lines and their offsets, for example " + kFourBit;
    const std::pair<const char*, std::string> bad[] = {
        {"/dev/gpiochip0", nothing},
        {"/dev/gpiochipA:RS=7",
         "bad GPIO chip \"/dev/gpiochipA\": expected /dev/gpiochipN, for example " + kFourBit},
        {"/dev/gpiochip0:RS=7,E=8",
         "unknown line \"E\": name D0..D7, E0, E1, RS or RW as LINE=OFFSET, then if need be "
         "invert=LINE+LINE and reads=safe"},
        {"/dev/gpiochip0:RS=7,RS=8", "RS is named twice"},
        {"/dev/gpiochip0:RS=7,E0=7", "offset 7 is given to both RS and E0"},
        {"/dev/gpiochip0:RS=x", "\"RS=x\": the line offset must be a number, for example RS=7"},
        {"/dev/gpiochip0:RS=4294967296",
         "\"RS=4294967296\": the line offset must be a number, for example RS=7"},
        {"/dev/gpiochip0:RS", "\"RS\": the line offset must be a number, for example RS=7"},
        {"/dev/gpiochip0:RS=7,reads=yes", "\"reads=yes\": reads= takes only safe (reads=safe)"},
        {"/dev/gpiochip0:RS=7,invert=E1+RS", "invert= names E1, which the mapping does not wire"},
        {"/dev/gpiochip0:RS=7,invert=RS+E",
         "invert=RS+E: unknown line \"E\"; the lines are D0..D7, E0, E1, RS and RW"},
    };
    for (const auto& [device, error] : bad) {
        std::vector<PortMapping> map;
        EXPECT_EQ(AddPortMapping(map, "0x378=" + std::string(device)),
                  "--port-map 0x378=" + std::string(device) + ": " + error);
        EXPECT_TRUE(map.empty());
    }
}

// Every request of a 16x2 "Init 4-bit" run's first cycles: the lines taken as
// outputs at the dialog's levels, then one set per line change, in request order
// (D4..D7, E0, RS), the inverted lines at the opposite level.
TEST_F(GpioPortTest, AFourBitRunSetsTheLinesThatChange) {
    // One bus transfer a line.
    // clang-format off
    const std::pair<std::string, Calls> cases[] = {
        {kFourBit,
         {kInfo, "request lcdtest 25=0 24=0 23=0 18=0 8=0 7=0",
          "set 25=1 24=1", "set 8=1", "set 8=0",      // 0x30
          "set 8=1", "set 8=0",                       // 0x30
          "set 8=1", "set 8=0",                       // 0x30
          "set 25=0", "set 8=1", "set 8=0",           // 0x20
          "set 8=1", "set 8=0",                       // 0x28, high half
          "set 24=0 18=1", "set 8=1", "set 8=0",      // low half
          "set 18=0", "set 8=1", "set 8=0",           // 0x08
          "set 18=1", "set 8=1", "set 8=0"}},
        {kFourBit + ",invert=E0+RS",
         {kInfo, "request lcdtest 25=0 24=0 23=0 18=0 8=1 7=1",
          "set 25=1 24=1", "set 8=0", "set 8=1",      // 0x30
          "set 8=0", "set 8=1"}},                     // 0x30
    };
    // clang-format on
    for (const auto& [wiring, first] : cases) {
        SCOPED_TRACE(wiring);
        Fresh();
        Use(wiring);
        const TestRunRecord record = Run(kSize16x2, BusWidth::Four);
        EXPECT_EQ(record.sizeIndex, kSize16x2);
        ASSERT_GE(sys->gpioCalls.size(), first.size());
        EXPECT_EQ(Calls(sys->gpioCalls.begin(), sys->gpioCalls.begin() + first.size()), first);
        EXPECT_EQ(Told(), "");
        // The run ends at rest: every line low at the module.
        const bool inverted = wiring.find("invert") != std::string::npos;
        for (const auto& [offset, level] : sys->gpioChips.at("/dev/gpiochip0").level)
            EXPECT_EQ(level, inverted && (offset == 8 || offset == 7)) << offset;
    }
}

// A read turns the data lines into pulled-up inputs with every other line an
// output carrying the value it had, and back at the latch's values; a data write
// meanwhile waits for the turn back. What is read comes back at the module's
// levels: the inverted line flipped, an unwired line high.
TEST_F(GpioPortTest, TheTurnAroundMovesNoOutput) {
    struct Case {
        std::string wiring;
        std::map<std::uint32_t, int> driven;  // the pins while the module drives them
        Calls calls;
        std::uint8_t read;
    };
    const Case cases[] = {
        {kFull,
         {{5, 1}, {6, 0}, {13, 0}, {19, 1}, {25, 0}, {24, 0}, {23, 1}, {18, 0}},
         {kInfo, "request lcdtest 5=0 6=0 13=0 19=1 25=0 24=0 23=0 18=0 8=0 22=0 7=0 27=1",
          "set 6=1 19=0 25=1 23=1",  // 0x5A
          "set 7=1", "config 5=in 6=in 13=in 19=in 25=in 24=in 23=in 18=in 8=0 22=0 7=1 27=1",
          "set 22=1", "set 8=1", "get 5=1 6=0 13=0 19=1 25=0 24=0 23=1 18=0", "set 8=0", "set 22=0",
          "config 5=0 6=1 13=0 19=0 25=1 24=0 23=1 18=0 8=0 22=0 7=1 27=1",
          "config 5=in 6=in 13=in 19=in 25=in 24=in 23=in 18=in 8=0 22=0 7=1 27=1",
          "config 5=1 6=1 13=0 19=1 25=0 24=0 23=1 18=1 8=0 22=0 7=1 27=1"},  // 0xC3
         0x41},
        {kFourBitReads,
         {{25, 0}, {24, 0}, {23, 1}, {18, 0}},
         {kInfo, "request lcdtest 25=0 24=0 23=0 18=0 8=0 22=0 7=0", "set 25=1 23=1", "set 7=1",
          "config 25=in 24=in 23=in 18=in 8=0 22=0 7=1", "set 22=1", "set 8=1",
          "get 25=0 24=0 23=1 18=0", "set 8=0", "set 22=0",
          "config 25=1 24=0 23=1 18=0 8=0 22=0 7=1", "config 25=in 24=in 23=in 18=in 8=0 22=0 7=1",
          "config 25=0 24=0 23=1 18=1 8=0 22=0 7=1"},
         0x4F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wiring);
        Fresh();
        sys->gpioChips["/dev/gpiochip0"].driven = c.driven;
        Use(c.wiring);
        DlPortWritePortUchar(kDataRegister, 0x5A);
        const auto read = driver.ReadPulses(ModuleDriver::Register::Data, 1, 0);
        panel.OnDataInput();
        DlPortWritePortUchar(kDataRegister, 0xC3);
        panel.OnDataOutput();
        EXPECT_EQ(sys->gpioCalls, c.calls);
        EXPECT_EQ(read, (std::vector<std::optional<std::uint8_t>>{c.read}));
        EXPECT_EQ(Told(), "");
    }
}

// What the wiring lacks is refused before any write, with the reason and what
// to do; the start-up line said it first.
TEST_F(GpioPortTest, RunsAndVerifyTheWiringCannotCarryWriteNothing) {
    struct Case {
        std::string wiring;
        int size;
        BusWidth width;
        bool verify;
        const char* told;
    };
    const std::string fourBit = "the wiring of 0x378 (RS=7, E0=8, D4=25, D5=24, D6=23, D7=18)";
    const std::string withRW =
        "the wiring of 0x378 (RS=7, RW=22, E0=8, D4=25, D5=24, D6=23, D7=18)";
    const Case cases[] = {
        {kFourBit, kSize16x2, BusWidth::Eight, false,
         "Init 8-bit needs D0..D3, which the wiring of 0x378 (RS=7, E0=8, D4=25, D5=24, D6=23, "
         "D7=18) lacks: use Init 4-bit"},
        {kFourBit, kSize40x4, BusWidth::Four, false,
         "40x4 needs E1 for its second controller, which the wiring of 0x378 (RS=7, E0=8, D4=25, "
         "D5=24, D6=23, D7=18) lacks: wire E1, or test a size with one controller"},
        {kFourBit, kSize16x2, BusWidth::Four, true,
         "Verify needs RW to read the module, which the wiring of 0x378 (RS=7, E0=8, D4=25, D5=24, "
         "D6=23, D7=18) lacks: wire the module's RW to the port instead of to ground"},
        {"/dev/gpiochip0:RS=7,RW=22,E0=8,D4=25,D5=24,D6=23,D7=18", kSize16x2, BusWidth::Four, true,
         "Verify cannot read through the wiring of 0x378 (RS=7, RW=22, E0=8, D4=25, D5=24, D6=23, "
         "D7=18): 5 V from the module's data lines can damage 3.3 V GPIO pins; add reads=safe to "
         "the mapping once a level shifter or a 3.3 V module makes reads safe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.told);
        Fresh();
        Use(c.wiring);
        std::vector<std::string> told;
        PortIo::Instance().SetProblemSink([&](const std::string& m) { told.push_back(m); });
        timeline.events.clear();
        if (c.verify) {
            TestRunRecord sent;
            sent.sizeIndex = c.size;
            sent.width = c.width;
            EXPECT_EQ(VerifyModule(driver, panel, timeline, sent).outcome,
                      VerifyResult::Outcome::Refused);
        } else {
            EXPECT_EQ(Run(c.size, c.width).refusal, c.told);
        }
        EXPECT_EQ(told, std::vector<std::string>{c.told});
        EXPECT_TRUE(timeline.events.empty());
        EXPECT_EQ(sys->gpioCalls.size(), 2u);  // the chip's info and the lines taken
    }
}

// The start-up line says what the wiring has, or that it was not reached; a
// chip that cannot be had is told once with the fix, its descriptor closed, and
// writes to it are dropped without a request.
TEST_F(GpioPortTest, StartUpSaysWhatTheWiringHasAndEachFailureOnceWithItsFix) {
    struct Case {
        std::string wiring;
        std::function<void(FakeParportSystem&)> plant;
        const char* told;
        std::string shown;  // after "using 0x378 on the GPIO chip "
    };
    const std::string fourBit =
        "/dev/gpiochip0 (RS=7, E0=8, D4=25, D5=24, D6=23, D7=18; 4-bit only, no E1, no RW: no "
        "Verify)";
    const auto none = [](FakeParportSystem&) {};
    const Case cases[] = {
        {kFourBit, none, "", fourBit},
        {kFull, none, "",
         "/dev/gpiochip0 (RS=7, RW=22, E0=8, E1=27 inverted, D0=5, D1=6, D2=13, D3=19 inverted, "
         "D4=25, D5=24, D6=23, D7=18)"},
        {kFull.substr(0, kFull.find(",invert")), none, "",
         "/dev/gpiochip0 (RS=7, RW=22, E0=8, E1=27, D0=5, D1=6, D2=13, D3=19, D4=25, D5=24, "
         "D6=23, D7=18; no Verify without reads=safe)"},
        {"/dev/gpiochip1:RS=7,E0=8",
         [](FakeParportSystem& s) {
             s.AddGpioChip(10);
             s.AddGpioChip(2);
             s.dirs["/dev"].push_back("gpiochipx");
             s.errors["/dev/gpiochip1"] = -ENOENT;
         },
         "cannot open /dev/gpiochip1: No such file or directory — no such GPIO chip (found "
         "under /dev: /dev/gpiochip0, /dev/gpiochip2, /dev/gpiochip10; gpiodetect names them)",
         "/dev/gpiochip1 (RS=7, E0=8; 4-bit only, no E1, no RW: no Verify)"},
        {kFourBit,
         [](FakeParportSystem& s) {
             s.dirs["/dev"] = {"null", "parport0"};
             s.errors["/dev/gpiochip0"] = -ENOENT;
         },
         "cannot open /dev/gpiochip0: No such file or directory — no GPIO chip under /dev: load "
         "the driver of the board's or the USB bridge's GPIO chip (dmesg shows what the kernel "
         "found)",
         fourBit},
        {kFourBit, [](FakeParportSystem& s) { s.errors["/dev/gpiochip0"] = -EACCES; },
         "cannot open /dev/gpiochip0: Permission denied — add your user to group gpio (sudo "
         "usermod -aG gpio $USER) and log in again; if the chip's node is not in group gpio, "
         "install the udev rule 60-gpio.rules from the tool's documents in /etc/udev/rules.d/",
         fourBit},
        {kFourBit, [](FakeParportSystem& s) { s.gpioChips["/dev/gpiochip0"].lines = 24; },
         "a line offset the chip lacks: D4=25, D5=24 (/dev/gpiochip0, fake-gpio, has 24 lines, "
         "offsets 0 to 23) — fix the mapping (gpioinfo /dev/gpiochip0 lists the lines)",
         fourBit},
        {kFourBit,
         [](FakeParportSystem& s) {
             s.gpioChips["/dev/gpiochip0"].heldBy = {{7, "spi0 CS1"}, {8, ""}, {9, "other"}};
         },
         "cannot take the lines of /dev/gpiochip0: Device or resource busy — another program or "
         "driver holds RS=7 (\"spi0 CS1\"), E0=8: close it, or free the line (gpioinfo shows "
         "who holds each line)",
         fourBit},
        {kFourBit,
         [](FakeParportSystem& s) {
             s.ioctlErrors[{"/dev/gpiochip0", GPIO_GET_CHIPINFO_IOCTL}] = -ENOTTY;
         },
         "cannot ask /dev/gpiochip0 for its lines: Inappropriate ioctl for device — is it a GPIO "
         "chip? (dmesg)",
         fourBit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.told);
        Fresh();
        c.plant(*sys);
        const std::string announced = Use(c.wiring);
        const std::size_t calls = sys->gpioCalls.size();
        for (int round = 0; round < 2; ++round) {
            Run(kSize16x2, BusWidth::Four);
            DlPortWritePortUchar(kControlRegister, 0x0F);
            EXPECT_EQ(DlPortReadPortUchar(kDataRegister).has_value(), !*c.told);
        }
        EXPECT_EQ(announced, "using 0x378 on the GPIO chip " + c.shown +
                                 (*c.told ? ", not reached: its writes are dropped" : ""));
        EXPECT_EQ(Told(), *c.told ? std::string(c.told) + "\n" : "");
        if (*c.told) {
            EXPECT_EQ(sys->gpioCalls.size(), calls);  // nothing asked of a chip not had
            EXPECT_TRUE(sys->fds.empty());
        }
    }
}

// A chip that goes away mid-run (ENODEV; a bridge may answer ENXIO or EIO) is
// lost: told once, the run stops, the trace says where, the descriptor is closed
// and nothing more is asked of it. Another failure is told once and the run goes on.
TEST_F(GpioPortTest, AChipThatGoesAwayStopsTheRun) {
    const auto path = std::filesystem::temp_directory_path() / "lcdtest-gpio-lost.txt";
    const std::pair<int, const char*> cases[] = {
        {-ENODEV, "No such device"},
        {-EIO, "Input/output error"},
        {-EPERM, nullptr},
    };
    for (const auto& [error, lost] : cases) {
        SCOPED_TRACE(error);
        Fresh();
        Use(kFourBit);
        sys->gpioFailAfter = 5;  // the third 0x30's enable pulse, at 175 ms, fails
        sys->gpioFailure = error;
        TestRunRecord record;
        {
            PortTrace trace;
            ASSERT_TRUE(trace.Open(path.string()));
            record = Run(kSize16x2, BusWidth::Four);
        }
        std::ifstream file(path);
        std::vector<std::string> lostLines;
        for (std::string line; std::getline(file, line);)
            if (line.find(" lost ") != std::string::npos) lostLines.push_back(line);
        const std::string message = lost ? std::string("the GPIO chip /dev/gpiochip0 went away (") +
                                               lost +
                                               "): the run stopped; plug it back in and start "
                                               "lcdtest again"
                                         : "";
        EXPECT_EQ(record.stopped, message);
        if (lost) {
            EXPECT_EQ(Told(), message + "\n");
            EXPECT_EQ(lostLines, std::vector<std::string>{"175000 0x378 lost " + message});
            EXPECT_EQ(sys->gpioCalls.size(), 2u + 5u);
            EXPECT_TRUE(sys->fds.empty());
            EXPECT_EQ(Run(kSize16x2, BusWidth::Four).refusal, message);
        } else {
            EXPECT_EQ(Told(),
                      "setting the lines of 0x378 on /dev/gpiochip0 failed: Operation not "
                      "permitted — check what the kernel says about the chip (dmesg)\n");
            EXPECT_TRUE(lostLines.empty());
            EXPECT_EQ(record.lines.size(), 2u);  // the whole run
        }
    }
    std::filesystem::remove(path);
}

}  // namespace
