// The simulated module: its controller from the bus side, how the controller's
// state shows on the glass (the rows each size shows, the dots of each
// character), and the module on the parallel port, driven by port bytes written
// by hand: the control register, the port it hangs on, and the bus rules. Then
// Verify on it: what each injected wiring fault, and a module that never
// finishes an instruction, reads back and is blamed for. (A sound module of
// every size at both widths, and the line discipline of the reads:
// SimulatedRunTest.)
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/VirtualClock.h"
#include "lcd/Geometry.h"
#include "lcd/Verify.h"
#include "sim/LcdController.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "support/BusTimeline.h"
#include "support/LineBench.h"
#include "support/RunSources.h"

namespace {

enum class Bus { Eight, Four };

class LcdControllerTest : public ::testing::Test {
protected:
    LcdControllerTest() { clock.AdvanceMicros(kPowerOnBusyMicros); }

    // One transfer, then longer than any execution time once powered on.
    void Edge(bool rs, std::uint8_t bus) {
        lcd.LatchWrite(rs, bus);
        clock.AdvanceMicros(5000);
    }
    void Send(Bus bus, bool rs, std::uint8_t value) {
        if (bus == Bus::Eight) return Edge(rs, value);
        Edge(rs, value & 0xF0);
        Edge(rs, static_cast<std::uint8_t>(value << 4));
    }
    void Command(Bus bus, std::initializer_list<std::uint8_t> values) {
        for (std::uint8_t v : values) Send(bus, false, v);
    }
    void Text(Bus bus, const std::string& text) {
        for (char c : text) Send(bus, true, static_cast<std::uint8_t>(c));
    }
    // Initialisation by instructions; its first four transfers are single 8-bit ones.
    void Init(Bus bus) {
        if (bus == Bus::Eight) Command(Bus::Eight, {0x38, 0x38, 0x38, 0x38});
        if (bus == Bus::Four) Command(Bus::Eight, {0x30, 0x30, 0x30, 0x20});
        if (bus == Bus::Four) Command(Bus::Four, {0x28});
        Command(bus, {0x08, 0x01, 0x06, 0x0F, 0x01});
    }
    std::string Ddram(std::uint8_t address, int count) const {
        std::string text;
        for (int i = 0; i < count; ++i) {
            const int cell = DdramCell(lcd.State(), static_cast<std::uint8_t>(address + i));
            text += cell < 0 ? '?' : static_cast<char>(lcd.State().ddram[cell]);
        }
        return text;
    }

    VirtualClock clock;
    LcdController lcd{clock};
};

// From power-on, and from either bus left in or out of step (a cycle cut off
// after its first nibble), each initialisation brings the controller back in
// step: text afterwards lands where it is addressed, across the line boundary.
TEST_F(LcdControllerTest, InitialisationResynchronises) {
    enum Before { PowerOn, EightBit, FourBit, FourBitMidPair, FourBitMidFunctionSet };
    for (Before before : {PowerOn, EightBit, FourBit, FourBitMidPair, FourBitMidFunctionSet}) {
        for (Bus bus : {Bus::Eight, Bus::Four}) {
            lcd.PowerOn();
            clock.AdvanceMicros(kPowerOnBusyMicros);
            EXPECT_EQ(Ddram(0x00, 80), std::string(80, ' '));
            if (before == EightBit) Init(Bus::Eight);
            if (before >= FourBit) Init(Bus::Four);
            if (before == FourBitMidPair) Edge(false, 0x00);
            if (before == FourBitMidFunctionSet) Edge(false, 0x20);
            Init(bus);
            Command(bus, {0x80 | 0x26});
            Text(bus, "abc");
            const auto where = ::testing::Message()
                               << "before " << before << ", init " << (bus == Bus::Eight ? 8 : 4);
            EXPECT_EQ(lcd.State().eightBitBus, bus == Bus::Eight) << where;
            EXPECT_TRUE(lcd.State().twoLines && lcd.State().displayOn) << where;
            EXPECT_EQ(Ddram(0x26, 2) + Ddram(0x40, 2), "abc ") << where;
            EXPECT_EQ(lcd.TimingViolations(), 0u) << lcd.LastViolation();
        }
    }
}

TEST_F(LcdControllerTest, ReadsMoveOnlyTheAddressAndKeepThePairing) {
    Init(Bus::Four);
    Command(Bus::Four, {0x80});
    Text(Bus::Four, "XY");
    Command(Bus::Four, {0x80});
    // A data read pair returns the byte and steps the address once.
    EXPECT_EQ(lcd.LatchRead(true), 'X' & 0xF0);
    EXPECT_EQ(lcd.LatchRead(true), ('X' << 4) & 0xF0);
    EXPECT_EQ(lcd.State().addressCounter, 1);
    // A busy-flag read does not step it, and may come while the controller is busy.
    clock.AdvanceMicros(kInstructionMicros - 1);
    EXPECT_EQ(lcd.LatchRead(false), 0x80);
    EXPECT_EQ(lcd.LatchRead(false), 0x10);
    clock.AdvanceMicros(1);
    Text(Bus::Four, "Z");
    EXPECT_EQ(Ddram(0, 3), "XZ ");
    EXPECT_EQ(lcd.TimingViolations(), 0u) << lcd.LastViolation();
}

TEST_F(LcdControllerTest, EntryModeAndShifts) {
    Init(Bus::Eight);
    Command(Bus::Eight, {0x04, 0x81});  // decrement, no shift
    Text(Bus::Eight, "AB");
    EXPECT_EQ(Ddram(0x00, 2), "BA");
    EXPECT_EQ(lcd.State().addressCounter, 0x67);  // wrapped to the end of line 2
    Command(Bus::Eight, {0x07, 0x90});            // increment, shift the display
    Text(Bus::Eight, "xyz");
    EXPECT_EQ(lcd.State().displayShift, 3);
    Command(Bus::Eight, {0x1C, 0x10});  // display right, cursor left
    EXPECT_EQ(lcd.State().displayShift, 2);
    EXPECT_EQ(lcd.State().addressCounter, 0x12);
}

// A transfer that comes too early is counted; the same one a microsecond later is
// not. Each step: RS, read, value, microseconds before it; the last may be early.
TEST(LcdControllerTiming, TransfersLatchedWhileBusy) {
    struct Step {
        bool rs, read;
        std::uint8_t value;
        std::uint64_t waitBefore;
    };
    constexpr std::uint64_t kOn = kPowerOnBusyMicros;
    const Step set = {false, false, 0x38, kOn}, setAgain = {false, false, 0x38, 4100};
    const std::pair<const char*, std::vector<Step>> cases[] = {
        {"power-on", {set}},
        {"first function set", {set, setAgain}},
        {"second function set", {set, setAgain, {false, false, 0x38, 100}}},
        {"clear display", {{false, false, 0x01, kOn}, {true, false, 'a', 1520}}},
        {"return home", {{false, false, 0x02, kOn}, {false, false, 0x0C, 1520}}},
        {"data write", {{true, false, 'a', kOn}, {true, false, 'b', 37}}},
        {"data read", {{true, false, 'a', kOn}, {true, true, 0, 37}}},
    };
    for (const auto& [what, steps] : cases) {
        for (const bool early : {true, false}) {
            VirtualClock clock;
            LcdController lcd(clock);
            for (const Step& step : steps) {
                clock.AdvanceMicros(step.waitBefore - (early && &step == &steps.back() ? 1 : 0));
                step.read ? void(lcd.LatchRead(step.rs)) : lcd.LatchWrite(step.rs, step.value);
            }
            EXPECT_EQ(lcd.TimingViolations(), early ? 1u : 0u) << what << ", early " << early;
            EXPECT_EQ(lcd.LastViolation().empty(), !early) << what;
        }
    }
}

// A two-line controller whose cells hold '0'..'9' over and over on each line.
ControllerState Filled() {
    ControllerState s;
    s.twoLines = s.displayOn = true;
    for (int cell = 0; cell < kDdramBytes; ++cell)
        s.ddram[cell] = static_cast<std::uint8_t>('0' + cell % kTwoLineLength % 10);
    return s;
}

std::vector<std::string> Rows(int size, const ControllerState& c0,
                              const ControllerState& c1 = ControllerState{}) {
    std::vector<std::string> rows;
    for (const VisibleRow& row : VisibleRows(size, c0, c1)) {
        std::string text;
        for (const auto& code : row.codes) text += code ? static_cast<char>(*code) : '_';
        if (row.cursorColumn) text.insert(*row.cursorColumn, "^");
        rows.push_back(text);
    }
    return rows;
}

// Which rows each size has, and from which addresses: ExpectModuleShows in
// SimulatedRunTest, against the driver's own line addresses; each size's name
// there too, in the status lines. A size off the list has none.
TEST(VisibleRows, ShiftCursorDarkLines) {
    for (int bad : {-1, kModuleSizeCount}) EXPECT_TRUE(ModuleRows(bad).empty()) << bad;
    ControllerState s = Filled();
    s.displayShift = kDdramBytes - 3;  // three to the right: each line turns on itself
    EXPECT_EQ(Rows(0, s), (std::vector<std::string>{"78901234", "78901234"}));
    s.displayShift = 2;
    s.blinkOn = true;
    s.addressCounter = 0x43;
    EXPECT_EQ(Rows(2, s), (std::vector<std::string>{"234567892^3456789"}));
    EXPECT_EQ(Rows(9, s)[2], std::string(40, '_'));  // controller 1 is off
    s.target = AddressTarget::Cgram;                 // no cursor while the address is in CGRAM
    EXPECT_EQ(Rows(2, s), (std::vector<std::string>{"2345678923456789"}));
    // One line: the second line's commons go dark, line 3 of 16x4 continues line 1.
    s.twoLines = false;
    s.displayShift = 0;
    EXPECT_EQ(Rows(2, s), (std::vector<std::string>{"01234567________"}));
    EXPECT_EQ(Rows(6, s)[2], "6789012345678901");
    s.displayOn = false;
    EXPECT_EQ(Rows(6, s)[0], std::string(16, '_'));
}

TEST(GlyphRows, CgramTwiceThenRom) {
    ControllerState s;
    const std::uint8_t glyph[kGlyphRows] = {0x04, 0x0A, 0x04, 0x07, 0x04, 0x06, 0x01, 0xE1};
    std::copy(glyph, glyph + kGlyphRows, s.cgram.begin() + 3 * kGlyphRows);
    for (std::uint8_t code : {3, 11}) {
        const auto rows = GlyphRows(s, code);
        for (int r = 0; r < kGlyphRows; ++r) EXPECT_EQ(rows[r], glyph[r] & 0x1F) << int(code);
    }
    EXPECT_EQ(GlyphRows(s, 'A'),
              (std::array<std::uint8_t, kGlyphRows>{0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0}));
    EXPECT_EQ(GlyphRows(s, 0x5C)[0], 0x11);  // the yen sign, not a backslash
}

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

// Time that never passes for the module: it never finishes an instruction.
struct StoppedClock final : Clock {
    std::uint64_t NowMicros() const override { return 0; }
    void SleepMicros(std::uint64_t) override {}
};

struct VerifyBench : LineBench {
    explicit VerifyBench(const WiringFault& fault = {}, bool stalled = false)
        : module(stalled ? static_cast<Clock&>(stopped) : timeline, timeline.io, kPortBases[0]) {
        module.SetWiringFault(fault);
    }
    TestRunRecord Run(int size, BusWidth width) {
        module.SetControllerCount(kModuleGeometry[size].controllerCount);
        return RunDisplayTest(driver, panel, timeline, width, DemoBoxes(size));
    }
    VerifyResult Verify(const TestRunRecord& sent) {
        return VerifyModule(driver, panel, timeline, sent);
    }
    StoppedClock stopped;
    SimulatedModule module;
};

TEST(Verify, EachFaultIsNamedWithoutChangingTheRun) {
    // "stalled": a sound wiring to a module whose time stands still, so it never
    // finishes an instruction. The whole result line is checked, so a cause that
    // also blamed an innocent line would fail.
    struct Case {
        const char* fault;
        int size;
        BusWidth width;
        std::string summary;
    };
    const std::string rs =
        "likely cause: RS reads as low: every data read repeated the busy "
        "flag and address counter instead of stepping through memory; check "
        "RS (pin 16) for a line stuck low or open";
    const std::string busy =
        " long after the last instruction, as when a controller never finishes an instruction "
        "(check the module's supply) or a read comes too early";
    const std::string noModule =
        "likely cause: every read gave 0xFF: no module, RW or E0 not "
        "wired, or a port without a bidirectional mode";
    const std::string firstBusy = "first E0 busy flag and address counter: expected 0x00, read ";
    const std::string firstDdram = "first E0 line 1 column 1 (DDRAM 0x00): expected 0x2A, read ";
    const std::string stuck = ": that line is stuck or open";
    const Case cases[] = {
        {"D5=0", kSize20x4, BusWidth::Four,
         "FAIL: 20x4 4-bit, 121 of 145 bytes differ, " + firstDdram +
             "0x55; likely cause: D5 always reads 0" + stuck},
        {"D6=open", kSize40x2, BusWidth::Four,
         "FAIL: 40x2 4-bit, 145 of 145 bytes differ, " + firstBusy +
             "0x44; likely cause: D6 always reads 1" + stuck},
        {"D2=1,D5=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 55 of 97 bytes differ, " + firstBusy +
             "0x04; likely cause: D2 always reads 1, D5 always reads 0: those lines are stuck "
             "or open"},
        // The glyph rows that overwrite the text read D6 as 0 throughout: not named.
        {"D7=1", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 97 of 97 bytes differ, " + firstBusy +
             "0xB0; likely cause: D7 always reads 1" + stuck},
        // D7 is stuck too, but no byte needed it high: only D6 is named.
        {"D6=0,D7=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 89 of 97 bytes differ, " + firstBusy +
             "0x10; likely cause: D6 always reads 0" + stuck},
        // On the 4-bit bus D7 also carries bit 3, which the text needs.
        {"D7=0", kSize16x2, BusWidth::Four,
         "FAIL: 16x2 4-bit, 61 of 97 bytes differ, " + firstDdram +
             "0x02; likely cause: D7 always reads 0" + stuck},
        // No byte read needs D7 high; D5 and D6 read 0 in the glyphs read instead of text.
        {"D7=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 32 of 97 bytes differ, " + firstDdram +
             "0x0A; likely cause: the character memory reads back as sent but the display memory "
             "does not: the Set DDRAM Address instructions went astray, as when a data line is "
             "stuck at a level that no character sent needs"},
        // D6 reads 0 in the blank display memory, but the glyphs show D3 alone.
        {"D3=0", kSize16x1, BusWidth::Eight,
         "FAIL: 16x1 8-bit, 43 of 81 bytes differ, " + firstDdram +
             "0x22; likely cause: D3 always reads 0" + stuck},
        {"D0=0", kSize16x2, BusWidth::Four, "PASS: 16x2 4-bit, 97 bytes read back as sent"},
        {"D4=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 97 of 97 bytes differ, " + firstBusy +
             "0x4F; likely cause: the controller on E0 answers on a 4-bit bus after an 8-bit "
             "run (nothing drives the low four data lines): one of the run's instructions "
             "arrived as a 4-bit function set, as when a data line is stuck"},
        {"RS=0", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 97 of 97 bytes differ, " + firstBusy + "0x0F; " + rs},
        {"RS=0", kSize20x4, BusWidth::Four,
         "FAIL: 20x4 4-bit, 135 of 145 bytes differ, " + firstBusy + "0x02; " + rs},
        {"RW=0", kSize40x4, BusWidth::Four,
         "FAIL: 40x4 4-bit, 2 of 2 bytes differ, " + firstBusy + "0xFF; " + noModule},
        {"E0=open", kSize8x2, BusWidth::Eight,
         "FAIL: 8x2 8-bit, 1 of 1 bytes differ, " + firstBusy + "0xFF; " + noModule},
        {"E1=open", kSize40x4, BusWidth::Eight,
         "FAIL: 40x4 8-bit, 1 of 146 bytes differ, first E1 busy flag and address counter: "
         "expected 0x00, read 0xFF; likely cause: the controller on E1 does not answer (its "
         "reads gave 0xFF): check E1's wiring"},
        {"stalled", kSize16x2, BusWidth::Eight,
         "FAIL: 16x2 8-bit, 1 of 97 bytes differ, " + firstBusy +
             "0x80; likely cause: the controller on E0 stays busy: its busy flag still reads 1" +
             busy},
        {"stalled", kSize40x4, BusWidth::Four,
         "FAIL: 40x4 4-bit, 2 of 290 bytes differ, " + firstBusy +
             "0x80; likely cause: the controllers on E0 and E1 stay busy: their busy flags "
             "still read 1" +
             busy},
    };
    for (const Case& c : cases) {
        const bool stalled = c.fault == std::string("stalled");
        std::string error;
        VerifyBench faulty(ParseWiringFault(stalled ? "none" : c.fault, error).value(), stalled);
        EXPECT_EQ(faulty.Verify(faulty.Run(c.size, c.width)).Summary(), c.summary)
            << c.fault << " " << RunName(c.size, c.width);
    }
}

// A sound module whose record claims another byte than it holds: the one
// difference in detail. (Its summary's cause: the D7=0 8-bit case above.)
TEST(Verify, DifferencesNamePositionExpectedAndRead) {
    VerifyBench bench;
    TestRunRecord sent = bench.Run(kSize16x2, BusWidth::Eight);
    sent.lines[1].bytes[3] = 'Z';  // as if the run had sent another byte there
    EXPECT_EQ(
        bench.Verify(sent).Details(5),
        std::vector<std::string>{"E0 line 2 column 4 (DDRAM 0x43): expected 0x5A, read 0x75"});
}

TEST(WiringFault, ParsesListsAndRefusesTheRest) {
    // An open data line reads 1 and RW=0 is an open RW; the last word on a line counts.
    const std::pair<const char*, const char*> good[] = {
        {"none", "none"},    {"d5=0", "D5=0"},    {"D2=1,E1=open", "D2=1,E1=open"},
        {"D0=open", "D0=1"}, {"RW=0", "RW=open"}, {"D3=1,D3=0", "D3=0"},
    };
    for (const auto& [text, formatted] : good) {
        std::string error;
        const auto fault = ParseWiringFault(text, error);
        ASSERT_TRUE(fault) << text << ": " << error;
        EXPECT_EQ(FormatWiringFault(*fault), formatted);
    }
    for (const char* text : {"", "D8=0", "E1=1", "D5", "D5=2", "none,D5=0", "D5=0,"}) {
        std::string error;
        EXPECT_FALSE(ParseWiringFault(text, error)) << text;
        EXPECT_NE(error.find("unknown wiring fault"), std::string::npos) << text;
    }
}

}  // namespace
