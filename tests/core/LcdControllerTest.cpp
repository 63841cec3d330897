#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/LcdController.h"
#include "sim/ModuleLayout.h"

namespace {

// Longer than any execution time once the power-on wait is over.
constexpr std::uint64_t kSettleMicros = 5000;

enum class Bus { Eight, Four };

class LcdControllerTest : public ::testing::Test {
protected:
    LcdControllerTest() { clock.AdvanceMicros(kPowerOnBusyMicros); }

    void Edge(bool rs, std::uint8_t bus) {
        lcd.LatchWrite(rs, bus);
        clock.AdvanceMicros(kSettleMicros);
    }
    void Send(Bus bus, bool rs, std::uint8_t value) {
        if (bus == Bus::Eight) return Edge(rs, value);
        Edge(rs, value & 0xF0);
        Edge(rs, static_cast<std::uint8_t>(value << 4));
    }
    void Command(Bus bus, std::uint8_t value) { Send(bus, false, value); }
    void Text(Bus bus, const std::string& text) {
        for (char c : text) Send(bus, true, static_cast<std::uint8_t>(c));
    }
    // Initialisation by instructions, the first transfers single 8-bit ones.
    void Init(Bus bus) {
        const std::vector<std::uint8_t> wake =
            bus == Bus::Eight ? std::vector<std::uint8_t>{0x38, 0x38, 0x38, 0x38}
                              : std::vector<std::uint8_t>{0x30, 0x30, 0x30, 0x20, 0x28};
        for (std::size_t i = 0; i < wake.size(); ++i) Command(i < 4 ? Bus::Eight : bus, wake[i]);
        for (std::uint8_t v : {0x08, 0x01, 0x06, 0x0F, 0x01}) Command(bus, v);
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

TEST_F(LcdControllerTest, PowerOnState) {
    const ControllerState& s = lcd.State();
    EXPECT_TRUE(s.eightBitBus);
    EXPECT_FALSE(s.twoLines);
    EXPECT_FALSE(s.displayOn);
    EXPECT_TRUE(s.increment);
    EXPECT_EQ(Ddram(0x00, 80), std::string(80, ' '));
}

TEST_F(LcdControllerTest, InitThenTextLandsAtItsAddresses) {
    for (Bus bus : {Bus::Eight, Bus::Four}) {
        lcd.PowerOn();
        clock.AdvanceMicros(kPowerOnBusyMicros);
        Init(bus);
        EXPECT_EQ(lcd.State().eightBitBus, bus == Bus::Eight);
        EXPECT_TRUE(lcd.State().twoLines);
        Command(bus, 0x80 | 0x26);
        Text(bus, "abc");  // runs from the end of line 1 onto line 2
        Command(bus, 0xC0 | 0x05);
        Text(bus, "Hi");
        EXPECT_EQ(Ddram(0x26, 2), "ab");
        EXPECT_EQ(Ddram(0x40, 7), "c    Hi");
        EXPECT_EQ(lcd.TimingViolations(), 0u) << lcd.LastViolation();
    }
}

TEST_F(LcdControllerTest, FourBitBusPairsNibblesHighFirst) {
    Init(Bus::Four);
    Command(Bus::Four, 0x80);
    Edge(true, 0x4F);  // D3..D0 are not wired on the 4-bit bus
    EXPECT_TRUE(lcd.State().lowNibbleDue);
    EXPECT_EQ(Ddram(0, 1), " ");
    Edge(true, 0x1F);
    EXPECT_FALSE(lcd.State().lowNibbleDue);
    EXPECT_EQ(Ddram(0, 1), "A");
}

// Whatever bus state the controller was left in, each initialisation brings it
// back in step, and text afterwards lands where it is addressed.
TEST_F(LcdControllerTest, InitialisationResynchronises) {
    enum class Before { PowerOn, EightBit, FourBit, FourBitMidPair, FourBitMidPairFunctionSet };
    const Before befores[] = {Before::PowerOn, Before::EightBit, Before::FourBit,
                              Before::FourBitMidPair, Before::FourBitMidPairFunctionSet};
    for (Before before : befores) {
        for (Bus bus : {Bus::Eight, Bus::Four}) {
            lcd.PowerOn();
            clock.AdvanceMicros(kPowerOnBusyMicros);
            if (before == Before::EightBit) Init(Bus::Eight);
            if (before != Before::PowerOn && before != Before::EightBit) Init(Bus::Four);
            // A cycle cut off after its first nibble: the controller waits for the second.
            if (before == Before::FourBitMidPair) Edge(false, 0x00);
            if (before == Before::FourBitMidPairFunctionSet) Edge(false, 0x20);
            Init(bus);
            Command(bus, 0xC0);
            Text(bus, "ok");
            const auto where = ::testing::Message() << "before " << static_cast<int>(before)
                                                    << ", init " << (bus == Bus::Eight ? 8 : 4);
            EXPECT_EQ(lcd.State().eightBitBus, bus == Bus::Eight) << where;
            EXPECT_TRUE(lcd.State().twoLines) << where;
            EXPECT_EQ(Ddram(0x40, 2), "ok") << where;
        }
    }
}

// On the 4-bit bus the first 0x38 is only a high nibble; the second completes
// 0x33, an 8-bit one-line function set, and only the third is a full byte.
TEST_F(LcdControllerTest, EightBitInitAfterFourBitGoesThroughNibbles) {
    Init(Bus::Four);
    Command(Bus::Eight, 0x38);
    EXPECT_FALSE(lcd.State().eightBitBus);
    Command(Bus::Eight, 0x38);
    EXPECT_TRUE(lcd.State().eightBitBus);
    EXPECT_FALSE(lcd.State().twoLines);
    Command(Bus::Eight, 0x38);
    EXPECT_TRUE(lcd.State().twoLines);
}

TEST_F(LcdControllerTest, ReadsMoveOnlyTheAddressAndKeepThePairing) {
    Init(Bus::Four);
    Command(Bus::Four, 0x80);
    Text(Bus::Four, "XY");
    Command(Bus::Four, 0x80);
    // A data read pair returns the byte and steps the address; a busy-flag read does not.
    EXPECT_EQ(lcd.LatchRead(true), 'X' & 0xF0);
    EXPECT_EQ(lcd.LatchRead(true), ('X' << 4) & 0xF0);
    EXPECT_EQ(lcd.State().addressCounter, 1);
    lcd.LatchRead(false);
    lcd.LatchRead(false);
    EXPECT_EQ(lcd.State().addressCounter, 1);
    clock.AdvanceMicros(kSettleMicros);
    Text(Bus::Four, "Z");
    EXPECT_EQ(Ddram(0, 3), "XZ ");
    EXPECT_EQ(lcd.TimingViolations(), 0u) << lcd.LastViolation();
}

TEST_F(LcdControllerTest, BusyFlagReadsBusyWithTheAddress) {
    Init(Bus::Eight);
    Command(Bus::Eight, 0x85);
    lcd.LatchWrite(true, 'a');
    clock.AdvanceMicros(kInstructionMicros - 1);
    EXPECT_EQ(lcd.LatchRead(false), 0x80 | 0x06);
    clock.AdvanceMicros(1);
    EXPECT_EQ(lcd.LatchRead(false), 0x06);
    EXPECT_EQ(lcd.TimingViolations(), 0u);
}

TEST_F(LcdControllerTest, EntryModeAndShifts) {
    Init(Bus::Eight);
    Command(Bus::Eight, 0x04);  // decrement, no shift
    Command(Bus::Eight, 0x81);
    Text(Bus::Eight, "AB");
    EXPECT_EQ(Ddram(0x00, 2), "BA");
    EXPECT_EQ(lcd.State().addressCounter, 0x67);  // wrapped to the end of line 2
    Command(Bus::Eight, 0x07);                    // increment, shift the display
    Command(Bus::Eight, 0x90);
    Text(Bus::Eight, "xyz");
    EXPECT_EQ(lcd.State().displayShift, 3);
    Command(Bus::Eight, 0x1C);  // display right
    Command(Bus::Eight, 0x10);  // cursor left
    EXPECT_EQ(lcd.State().displayShift, 2);
    EXPECT_EQ(lcd.State().addressCounter, 0x12);
    Command(Bus::Eight, 0x04);
    Command(Bus::Eight, 0x01);  // clear brings increment back, keeps S
    EXPECT_TRUE(lcd.State().increment);
    EXPECT_FALSE(lcd.State().shiftDisplay);
    EXPECT_EQ(lcd.State().displayShift, 0);
}

TEST_F(LcdControllerTest, CgramGlyphsShowOnCodesZeroToFifteen) {
    Init(Bus::Eight);
    const std::uint8_t glyph[kGlyphRows] = {0x04, 0x0A, 0x04, 0x07, 0x04, 0x06, 0x01, 0xE1};
    Command(Bus::Eight, 0x40 + 3 * kGlyphRows);
    for (std::uint8_t row : glyph) Send(Bus::Eight, true, row);
    for (std::uint8_t code : {3, 11}) {
        const auto rows = GlyphRows(lcd.State(), code);
        for (int r = 0; r < kGlyphRows; ++r) EXPECT_EQ(rows[r], glyph[r] & 0x1F) << int(code);
    }
    EXPECT_EQ(GlyphRows(lcd.State(), 2)[0], 0);
    EXPECT_EQ(GlyphRows(lcd.State(), 'A'),
              (std::array<std::uint8_t, kGlyphRows>{0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0}));
    EXPECT_EQ(lcd.State().target, AddressTarget::Cgram);
    EXPECT_EQ(Ddram(0, 8), std::string(8, ' '));
}

// A transfer that comes too early is counted; the same one a microsecond later is not.
TEST(LcdControllerTiming, TransfersLatchedWhileBusy) {
    struct Step {
        bool rs;
        bool read;
        std::uint8_t value;
        std::uint64_t waitBefore;
    };
    constexpr bool kIr = false, kDr = true, kWrite = false, kRead = true;
    const struct {
        const char* what;
        std::vector<Step> steps;  // the last one is the transfer that may come early
    } cases[] = {
        {"power-on", {{kIr, kWrite, 0x38, kPowerOnBusyMicros}}},
        {"first function set",
         {{kIr, kWrite, 0x38, kPowerOnBusyMicros}, {kIr, kWrite, 0x38, 4100}}},
        {"second function set",
         {{kIr, kWrite, 0x38, kPowerOnBusyMicros},
          {kIr, kWrite, 0x38, 4100},
          {kIr, kWrite, 0x38, 100}}},
        {"clear display", {{kIr, kWrite, 0x01, kPowerOnBusyMicros}, {kDr, kWrite, 'a', 1520}}},
        {"return home", {{kIr, kWrite, 0x02, kPowerOnBusyMicros}, {kIr, kWrite, 0x0C, 1520}}},
        {"data write", {{kDr, kWrite, 'a', kPowerOnBusyMicros}, {kDr, kWrite, 'b', 37}}},
        {"data read", {{kDr, kWrite, 'a', kPowerOnBusyMicros}, {kDr, kRead, 0, 37}}},
    };
    for (const auto& c : cases) {
        for (const bool early : {true, false}) {
            VirtualClock clock;
            LcdController lcd(clock);
            for (const Step& step : c.steps) {
                const bool last = &step == &c.steps.back();
                clock.AdvanceMicros(step.waitBefore - (early && last ? 1 : 0));
                if (step.read)
                    lcd.LatchRead(step.rs);
                else
                    lcd.LatchWrite(step.rs, step.value);
            }
            EXPECT_EQ(lcd.TimingViolations(), early ? 1u : 0u) << c.what << ", early " << early;
            EXPECT_EQ(lcd.LastViolation().empty(), !early) << c.what;
        }
    }
}

}  // namespace
