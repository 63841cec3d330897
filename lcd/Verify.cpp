#include "lcd/Verify.h"

#include <cstdio>
#include <optional>

#include "lcd/Geometry.h"
#include "platform/ParportScan.h"
#include "platform/PortIo.h"
#include "port/LineState.h"

namespace {

using Register = ModuleDriver::Register;

constexpr std::uint32_t kCycleGapMs = 2;         // before every command and block of reads
constexpr std::uint8_t kSetDdramAddress = 0x80;  // + a 7-bit DDRAM address
constexpr std::uint8_t kHighNibble = 0xF0;
constexpr int kNibbleShift = 4;
constexpr int kDataLines = 8;
constexpr std::uint8_t kFloatingLines = 0xFF;  // nothing drives: the pull-ups
// Whether the address counter carries into bit 6 after the 64th CGRAM byte
// differs between compatible controllers; the other seven bits must match.
constexpr std::uint8_t kBusyAddressMask = 0xBF;
constexpr std::uint8_t kAddressAfterGlyphs = sizeof kGlyphTable % 64;

// One enable pulse's read: the lines as read and as they should have been.
struct Sample {
    int controller;
    std::uint8_t read;
    std::uint8_t expected;
    std::uint8_t mask;  // the lines that carry the byte in this pulse
};

std::string Hex(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

// Reads bytes through the driver and keeps every pulse's sample.
class Reader {
public:
    Reader(ModuleDriver& driver, Clock& clock, BusWidth width)
        : driver_(driver), clock_(clock), fourBit_(width == BusWidth::Four) {}

    // The bytes read, one per expected byte; nullopt when the port could not be read.
    std::optional<std::vector<std::uint8_t>> Read(Register reg, std::uint8_t controller,
                                                  const std::vector<std::uint8_t>& expected,
                                                  std::uint8_t mask) {
        clock_.SleepMillis(kCycleGapMs);
        const std::size_t perByte = fourBit_ ? 2 : 1;
        const auto pulses = driver_.ReadPulses(reg, expected.size() * perByte, controller);
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const auto& first = pulses[i * perByte];
            const auto& second = pulses[i * perByte + perByte - 1];
            if (!first || !second) return std::nullopt;
            if (!fourBit_) {
                samples.push_back({controller, *first, expected[i], mask});
                bytes.push_back(*first);
                continue;
            }
            // D7..D4 carry the high nibble, then the low one.
            const auto low = [](std::uint8_t v) { return static_cast<std::uint8_t>(v << 4); };
            samples.push_back(
                {controller, *first, expected[i], static_cast<std::uint8_t>(mask & kHighNibble)});
            samples.push_back({controller, *second, low(expected[i]), low(mask)});
            bytes.push_back(static_cast<std::uint8_t>((*first & kHighNibble) |
                                                      (*second & kHighNibble) >> kNibbleShift));
        }
        return bytes;
    }

    void Command(std::uint8_t value, std::uint8_t controller) {
        clock_.SleepMillis(kCycleGapMs);
        if (fourBit_)
            driver_.WriteCommand4(value, controller);
        else
            driver_.WriteCommand8(value, controller);
    }

    std::vector<Sample> samples;

private:
    ModuleDriver& driver_;
    Clock& clock_;
    bool fourBit_;
};

bool AllRead(const std::vector<Sample>& samples, int controller, std::uint8_t value) {
    for (const Sample& s : samples)
        if ((controller < 0 || s.controller == controller) && s.read != value) return false;
    return true;
}

// Data lines that read at one level throughout although some byte needed the
// other: "D5 always reads 0".
std::string StuckLines(const std::vector<Sample>& samples) {
    std::string stuck;
    for (int n = 0; n < kDataLines; ++n) {
        const auto bit = static_cast<std::uint8_t>(1u << n);
        int level = -1;
        bool constant = true;
        bool other = false;
        for (const Sample& s : samples) {
            if (!(s.mask & bit)) continue;
            const int read = (s.read & bit) ? 1 : 0;
            if (level < 0) level = read;
            constant = constant && read == level;
            other = other || ((s.expected & bit) ? 1 : 0) != read;
        }
        if (level < 0 || !constant || !other) continue;
        stuck += (stuck.empty() ? "" : ", ") + ("D" + std::to_string(n)) + " always reads " +
                 std::to_string(level);
    }
    return stuck;
}

std::string LikelyCause(const std::vector<Sample>& samples, const std::vector<bool>& answered) {
    bool anyAnswered = false;
    for (bool a : answered) anyAnswered = anyAnswered || a;
    if (!anyAnswered || AllRead(samples, -1, samples.front().read)) {
        return "every read gave " + Hex(samples.front().read) +
               ": no module, RW or E0 not wired, or a port without a bidirectional mode";
    }
    for (std::size_t c = 0; c < answered.size(); ++c) {
        if (answered[c]) continue;
        const std::string e = "E" + std::to_string(c);
        return "the controller on " + e + " does not answer (its reads gave " +
               Hex(kFloatingLines) + "): check " + e + "'s wiring";
    }
    const std::string stuck = StuckLines(samples);
    if (!stuck.empty()) return stuck + ": that line is stuck or open";
    return "";
}

std::string Position(const VerifyDifference& d) {
    const std::string e = "E" + std::to_string(d.controller);
    switch (d.area) {
        case VerifyDifference::Area::BusyAddress:
            return e + " busy flag and address counter";
        case VerifyDifference::Area::Ddram:
            return e + " line " + std::to_string(d.line + 1) + " column " +
                   std::to_string(d.column + 1) + " (DDRAM " + Hex(d.address) + ")";
        case VerifyDifference::Area::Cgram:
            break;
    }
    return e + " CGRAM " + Hex(d.address);
}

std::string Describe(const VerifyDifference& d) {
    return Position(d) + ": expected " + Hex(d.expected) + ", read " + Hex(d.read);
}

}  // namespace

std::string VerifyResult::Summary() const {
    if (outcome == Outcome::NothingSent)
        return "Verify: nothing to compare; run Init 8-bit or Init 4-bit first";
    if (outcome == Outcome::PortUnreadable) return "Verify: the port could not be read";
    if (outcome == Outcome::Refused) return "Verify " + cause;
    const std::string run = RunName(sizeIndex, width);
    if (outcome == Outcome::Pass)
        return "PASS: " + run + ", " + std::to_string(compared) + " bytes read back as sent";
    std::string line = "FAIL: " + run + ", " + std::to_string(differences.size()) + " of " +
                       std::to_string(compared) + " bytes differ, first " +
                       Describe(differences.front());
    if (!cause.empty()) line += "; likely cause: " + cause;
    return line;
}

std::vector<std::string> VerifyResult::Details(std::size_t most) const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < differences.size() && i < most; ++i)
        lines.push_back(Describe(differences[i]));
    return lines;
}

std::string VerifyRefusal(std::uint32_t base) {
    const PortWiring wiring = PortIo::Instance().Wiring(base);
    const std::string has =
        "the wiring of " + HexAddress(base) + (wiring.text.empty() ? "" : " (" + wiring.text + ")");
    if (!wiring.Wires(ControlLines(kLineRW)))
        return "needs RW to read the module, which " + has +
               " lacks: wire the module's RW to the port instead of to ground";
    if (!wiring.noReads.empty()) return "cannot read through " + has + ": " + wiring.noReads;
    return "";
}

VerifyResult VerifyModule(ModuleDriver& driver, LinePanel& panel, Clock& clock,
                          const TestRunRecord& sent) {
    VerifyResult result;
    if (!IsModuleSizeIndex(sent.sizeIndex)) return result;
    if (std::string refusal = VerifyRefusal(g_lines.portBase); !refusal.empty()) {
        result.outcome = VerifyResult::Outcome::Refused;
        result.cause = std::move(refusal);
        PortIo::Instance().Refuse(result.Summary());
        return result;
    }
    result.sizeIndex = sent.sizeIndex;
    result.width = sent.width;
    const int controllers = kModuleGeometry[sent.sizeIndex].controllerCount;
    // E1 straight to pin 17 is active low at the pin: its pulses run the other
    // way, and at rest it sits in the middle of one.
    const bool e1ActiveLow =
        controllers > 1 &&
        (PortIo::Instance().Wiring(g_lines.portBase).invertedAtModule & ControlLines(kLineE1));
    ModuleDriver bus = driver;
    bus.SetE1ActiveLow(e1ActiveLow);
    Reader reader(bus, clock, sent.width);
    std::vector<bool> answered(static_cast<std::size_t>(controllers), false);

    const auto compare = [&](const VerifyDifference& where, const std::vector<std::uint8_t>& read,
                             const std::vector<std::uint8_t>& expected, std::uint8_t mask) {
        for (std::size_t i = 0; i < read.size(); ++i) {
            ++result.compared;
            if ((read[i] & mask) == (expected[i] & mask)) continue;
            VerifyDifference d = where;
            d.column += static_cast<int>(i);
            d.address = static_cast<std::uint8_t>(d.address + i);
            d.expected = expected[i];
            d.read = read[i];
            result.differences.push_back(d);
        }
    };

    const auto finish = [&](VerifyResult::Outcome outcome) {
        // RS settles before E1 goes back to rest, which raises the straight pin.
        if (e1ActiveLow && (g_lines.controlFlags & kLineRS)) panel.OnRSLow();
        g_lines.dataLatch = 0;
        panel.RefreshDataPort();
        g_lines.controlFlags = 0;
        panel.RefreshControlPort();
        result.outcome = outcome;
        if (outcome == VerifyResult::Outcome::Fail)
            result.cause = LikelyCause(reader.samples, answered);
        return result;
    };

    // Before anything reads, the second controller's resting pulse ends, so that
    // only the controller read ever drives the data lines.
    if (e1ActiveLow && !(g_lines.controlFlags & kLineE1)) {
        clock.SleepMillis(kCycleGapMs);
        bus.EndRestingE1Pulse(sent.width == BusWidth::Four ? 2 : 1);
    }
    bool anyAnswered = false;
    for (std::uint8_t c = 0; c < controllers; ++c) {
        const std::vector<std::uint8_t> expected{kAddressAfterGlyphs};
        const auto read = reader.Read(Register::Instruction, c, expected, kBusyAddressMask);
        if (!read) return finish(VerifyResult::Outcome::PortUnreadable);
        answered[c] = read->front() != kFloatingLines;
        anyAnswered = anyAnswered || answered[c];
        compare({c, VerifyDifference::Area::BusyAddress, 0, 0, 0, 0, 0}, *read, expected,
                kBusyAddressMask);
    }
    if (!anyAnswered) return finish(VerifyResult::Outcome::Fail);

    const std::vector<std::uint8_t> glyphs(std::begin(kGlyphTable), std::end(kGlyphTable));
    for (std::uint8_t c = 0; c < controllers; ++c) {
        if (!answered[c]) continue;
        for (std::size_t n = 0; n < sent.lines.size(); ++n) {
            const SentLine& line = sent.lines[n];
            if (line.controller != c) continue;
            reader.Command(static_cast<std::uint8_t>(kSetDdramAddress | line.ddramAddress), c);
            const auto read = reader.Read(Register::Data, c, line.bytes, kFloatingLines);
            if (!read) return finish(VerifyResult::Outcome::PortUnreadable);
            compare(
                {c, VerifyDifference::Area::Ddram, static_cast<int>(n), 0, line.ddramAddress, 0, 0},
                *read, line.bytes, kFloatingLines);
        }
        reader.Command(kSetCgramAddress0, c);
        const auto read = reader.Read(Register::Data, c, glyphs, kFloatingLines);
        if (!read) return finish(VerifyResult::Outcome::PortUnreadable);
        compare({c, VerifyDifference::Area::Cgram, 0, 0, 0, 0, 0}, *read, glyphs, kFloatingLines);
    }
    return finish(result.differences.empty() ? VerifyResult::Outcome::Pass
                                             : VerifyResult::Outcome::Fail);
}
