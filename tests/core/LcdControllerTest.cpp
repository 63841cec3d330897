// The simulated controller, from the bus side, and how its state shows on the
// glass: the rows each size shows, and the dots of each character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/VirtualClock.h"
#include "sim/LcdController.h"
#include "sim/ModuleLayout.h"

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

}  // namespace
