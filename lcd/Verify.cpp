#include "lcd/Verify.h"

#include <bit>
#include <cstdio>
#include <optional>

#include "base/HexText.h"
#include "io/PortIo.h"
#include "lcd/Geometry.h"
#include "port/LineState.h"

namespace {

using Register = ModuleDriver::Register;
using Area = VerifyDifference::Area;

constexpr std::uint8_t kLowNibble = 0x0F;
constexpr int kNibbleShift = 4;
constexpr int kDataLines = 8;
// What the data lines read while nothing drives them: the pull-ups.
constexpr std::uint8_t kFloatingLines = 0xFF;
// The lines compared in a byte of memory: all eight carry it.
constexpr std::uint8_t kAllDataLines = 0xFF;
// Whether the address counter carries into bit 6 after the 64th CGRAM byte
// differs between compatible controllers; the other seven bits must match.
constexpr std::uint8_t kBusyAddressMask = 0xBF;
constexpr std::uint8_t kAddressAfterGlyphs = sizeof kGlyphTable % 64;

// One enable pulse's read: the lines as read and as they should have been.
struct Sample {
    int controller;
    int block;  // which Read call took it: one register, one address set
    Area area;
    std::uint8_t read;
    std::uint8_t expected;
    std::uint8_t mask;  // the lines that carry the byte in this pulse
};

// The low nibble of a byte where the 4-bit bus carries it, on D7..D4.
std::uint8_t OnHighLines(std::uint8_t v) {
    return static_cast<std::uint8_t>(v << kNibbleShift);
}

// Reads bytes through the driver and keeps every pulse's sample.
class Reader {
public:
    Reader(ModuleDriver& driver, Clock& clock, BusWidth width)
        : driver_(driver), clock_(clock), width_(width) {}

    // The bytes read, one per expected byte; nullopt when the port could not be read.
    std::optional<std::vector<std::uint8_t>> Read(Area area, std::uint8_t controller,
                                                  const std::vector<std::uint8_t>& expected,
                                                  std::uint8_t mask) {
        clock_.SleepMillis(kCycleGapMs);
        const std::size_t perByte = width_ == BusWidth::Four ? 2 : 1;
        const Register reg = area == Area::BusyAddress ? Register::Instruction : Register::Data;
        const auto pulses = driver_.ReadPulses(reg, expected.size() * perByte, controller);
        const int block = blocks_++;
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const auto& first = pulses[i * perByte];
            const auto& second = pulses[i * perByte + perByte - 1];
            if (!first || !second) return std::nullopt;
            if (width_ == BusWidth::Eight) {
                samples.push_back({.controller = controller,
                                   .block = block,
                                   .area = area,
                                   .read = *first,
                                   .expected = expected[i],
                                   .mask = mask});
                bytes.push_back(*first);
                continue;
            }
            // D7..D4 carry the high nibble, then the low one.
            samples.push_back({.controller = controller,
                               .block = block,
                               .area = area,
                               .read = *first,
                               .expected = expected[i],
                               .mask = static_cast<std::uint8_t>(mask & kHighDataNibble)});
            samples.push_back({.controller = controller,
                               .block = block,
                               .area = area,
                               .read = *second,
                               .expected = OnHighLines(expected[i]),
                               .mask = OnHighLines(mask)});
            bytes.push_back(static_cast<std::uint8_t>((*first & kHighDataNibble) |
                                                      (*second & kHighDataNibble) >> kNibbleShift));
        }
        return bytes;
    }

    void Command(std::uint8_t value, std::uint8_t controller) {
        clock_.SleepMillis(kCycleGapMs);
        driver_.WriteCommand(width_, value, controller);
    }

    std::vector<Sample> samples;

private:
    ModuleDriver& driver_;
    Clock& clock_;
    BusWidth width_;
    int blocks_ = 0;
};

bool AllRead(const std::vector<Sample>& samples, int controller, std::uint8_t value) {
    for (const Sample& s : samples)
        if ((controller < 0 || s.controller == controller) && s.read != value) return false;
    return true;
}

// "the controller on E0", "the controllers on E0 and E1" (two at most).
std::string Controllers(const std::vector<int>& numbers) {
    std::string names;
    for (const int n : numbers) names += (names.empty() ? "E" : " and E") + std::to_string(n);
    return (numbers.size() == 1 ? "the controller on " : "the controllers on ") + names;
}

// Answering controllers whose busy flag read 1: the first pulse of each
// controller's first read is its busy flag, on either bus width. A D7 that reads
// 1 throughout is the line's fault, not the controller's.
std::vector<int> BusyControllers(const std::vector<Sample>& samples,
                                 const std::vector<bool>& answered) {
    std::vector<int> busy;
    for (std::size_t c = 0; c < answered.size(); ++c) {
        const auto controller = static_cast<int>(c);
        if (!answered[c]) continue;
        bool flagged = false;
        bool d7Always = true;
        bool first = true;
        for (const Sample& s : samples) {
            if (s.controller != controller) continue;
            if (first) flagged = (s.read & kBusyFlag) != 0;
            first = false;
            d7Always = d7Always && (s.read & kBusyFlag);
        }
        if (flagged && !d7Always) busy.push_back(controller);
    }
    return busy;
}

// With RS held low every data read is a busy flag read: it gives the address
// counter and moves nothing, so each read of memory repeats itself with a period
// of one pulse (or two, on a controller left on the other bus width), where
// memory would step from byte to byte. kGlyphTable alone never repeats so.
bool DataReadsRepeat(const std::vector<Sample>& samples) {
    bool any = false;
    for (std::size_t i = 2; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        if (s.area == Area::BusyAddress || samples[i - 2].block != s.block) continue;
        any = true;
        if (s.read != samples[i - 2].read) return false;
    }
    return any;
}

// Controllers that leave D3..D0 to the pull-ups on every read of an 8-bit run:
// they answer on the 4-bit bus.
std::vector<int> OnFourBits(const std::vector<Sample>& samples, const std::vector<bool>& answered,
                            BusWidth width) {
    std::vector<int> found;
    if (width != BusWidth::Eight) return found;
    for (std::size_t c = 0; c < answered.size(); ++c) {
        if (!answered[c]) continue;
        bool undriven = true;
        for (const Sample& s : samples)
            if (s.controller == static_cast<int>(c))
                undriven = undriven && (s.read & kLowNibble) == kLowNibble;
        if (undriven) found.push_back(static_cast<int>(c));
    }
    return found;
}

// Data lines that read at one level throughout although some byte needed the
// other: "D5 always reads 0". Such a line is named only where it accounts for
// what was read: in some read of memory whose every difference the constant
// lines explain, it made one; or no byte at all had the level it reads; or it is
// the only constant one. A stuck line that garbled the run's instructions leaves
// the memory scrambled, and the lines that merely read one level in scrambled
// bytes are no evidence; nor is a line that no byte needed at the other level.
std::string StuckLines(const std::vector<Sample>& samples) {
    std::uint8_t constant = 0;   // lines at one level with some byte needing the other
    std::uint8_t levels = 0;     // the level each of them reads
    std::uint8_t confirmed = 0;  // those named
    for (int n = 0; n < kDataLines; ++n) {
        const auto bit = static_cast<std::uint8_t>(1u << n);
        int level = -1;
        bool steady = true;
        bool other = false;
        bool same = false;
        for (const Sample& s : samples) {
            if (!(s.mask & bit)) continue;
            const int read = (s.read & bit) ? 1 : 0;
            const int expected = (s.expected & bit) ? 1 : 0;
            if (level < 0) level = read;
            steady = steady && read == level;
            other = other || expected != read;
            same = same || expected == read;
        }
        if (level < 0 || !steady || !other) continue;
        constant |= bit;
        if (level) levels |= bit;
        if (!same) confirmed |= bit;
    }
    const auto notConstant = static_cast<std::uint8_t>(~constant);
    for (std::size_t i = 0; i < samples.size();) {
        std::size_t end = i;
        bool explained = true;
        std::uint8_t differing = 0;
        for (; end < samples.size() && samples[end].block == samples[i].block; ++end) {
            const Sample& s = samples[end];
            const auto forced = static_cast<std::uint8_t>((s.expected & notConstant) | levels);
            explained = explained && ((s.read ^ forced) & s.mask) == 0;
            differing |= (s.read ^ s.expected) & s.mask;
        }
        if (samples[i].area != Area::BusyAddress && explained) confirmed |= differing & constant;
        i = end;
    }
    // One constant line among lines that vary is the fault, scrambled or not.
    if (!confirmed && std::popcount(constant) == 1) confirmed = constant;
    if (!confirmed) return "";
    std::string stuck;
    for (int n = 0; n < kDataLines; ++n) {
        const auto bit = static_cast<std::uint8_t>(1u << n);
        if (!(confirmed & bit)) continue;
        stuck += (stuck.empty() ? "" : ", ") + ("D" + std::to_string(n)) + " always reads " +
                 ((levels & bit) ? "1" : "0");
    }
    return stuck + (std::popcount(confirmed) == 1 ? ": that line is stuck or open"
                                                  : ": those lines are stuck or open");
}

// Every read of character memory as sent, some read of display memory not.
bool OnlyDisplayMemoryDiffers(const std::vector<Sample>& samples) {
    bool ddramDiffers = false;
    for (const Sample& s : samples) {
        const bool differs = ((s.read ^ s.expected) & s.mask) != 0;
        if (differs && s.area == Area::Cgram) return false;
        ddramDiffers = ddramDiffers || (differs && s.area == Area::Ddram);
    }
    return ddramDiffers;
}

std::string LikelyCause(const std::vector<Sample>& samples, const std::vector<bool>& answered,
                        BusWidth width) {
    bool anyAnswered = false;
    for (bool a : answered) anyAnswered = anyAnswered || a;
    if (!anyAnswered || AllRead(samples, -1, samples.front().read)) {
        return "every read gave " + HexByte(samples.front().read) +
               ": no module, RW or E0 not wired, or a port without a bidirectional mode";
    }
    for (std::size_t c = 0; c < answered.size(); ++c) {
        if (answered[c]) continue;
        const std::string e = "E" + std::to_string(c);
        return "the controller on " + e + " does not answer (its reads gave " +
               HexByte(kFloatingLines) + "): check " + e + "'s wiring";
    }
    const std::vector<int> busy = BusyControllers(samples, answered);
    if (!busy.empty()) {
        const bool one = busy.size() == 1;
        return Controllers(busy) +
               (one ? " stays busy: its busy flag still reads 1"
                    : " stay busy: their busy flags still read 1") +
               " long after the last instruction, as when a controller never finishes an "
               "instruction (check the module's supply) or a read comes too early";
    }
    if (DataReadsRepeat(samples)) {
        return "RS reads as low: every data read repeated the busy flag and address counter "
               "instead of stepping through memory; check RS (pin 16) for a line stuck low or "
               "open";
    }
    const std::vector<int> fourBit = OnFourBits(samples, answered, width);
    if (!fourBit.empty()) {
        return Controllers(fourBit) + (fourBit.size() == 1 ? " answers" : " answer") +
               " on a 4-bit bus after an 8-bit run (nothing drives the low four data lines): "
               "one of the run's instructions arrived as a 4-bit function set, as when a data "
               "line is stuck";
    }
    const std::string stuck = StuckLines(samples);
    if (!stuck.empty() || !OnlyDisplayMemoryDiffers(samples)) return stuck;
    return "the character memory reads back as sent but the display memory does not: the "
           "Set DDRAM Address instructions went astray, as when a data line is stuck at a level "
           "that no character sent needs";
}

std::string Position(const VerifyDifference& d) {
    const std::string e = "E" + std::to_string(d.controller);
    switch (d.area) {
        case VerifyDifference::Area::BusyAddress:
            return e + " busy flag and address counter";
        case VerifyDifference::Area::Ddram:
            return e + " line " + std::to_string(d.line + 1) + " column " +
                   std::to_string(d.column + 1) + " (DDRAM " + HexByte(d.address) + ")";
        case VerifyDifference::Area::Cgram:
            break;
    }
    return e + " CGRAM " + HexByte(d.address);
}

std::string Describe(const VerifyDifference& d) {
    return Position(d) + ": expected " + HexByte(d.expected) + ", read " + HexByte(d.read);
}

// One read-back of a run: the reads, the differences they show and the
// controllers that answered, through a copy of the driver whose E1 pulses run
// the way the wiring needs.
class Verification {
public:
    Verification(const ModuleDriver& driver, LinePanel& panel, Clock& clock,
                 const TestRunRecord& sent)
        : panel_(panel),
          clock_(clock),
          sent_(sent),
          controllers_(kModuleGeometry[sent.sizeIndex].controllerCount),
          // E1 straight to pin 17 is active low at the pin: its pulses run the
          // other way, and at rest it sits in the middle of one.
          e1ActiveLow_(controllers_ > 1 && (ThePortIo().Wiring(g_lines.portBase).invertedAtModule &
                                            ControlLines(kLineE1))),
          bus_(driver),
          reader_(bus_, clock, sent.width),
          answered_(static_cast<std::size_t>(controllers_), false) {
        bus_.SetE1ActiveLow(e1ActiveLow_);
        result_.sizeIndex = sent.sizeIndex;
        result_.width = sent.width;
    }
    Verification(const Verification&) = delete;
    Verification& operator=(const Verification&) = delete;

    VerifyResult Run() {
        // Before anything reads, the second controller's resting pulse ends, so
        // that only the controller read ever drives the data lines.
        if (e1ActiveLow_ && !(g_lines.controlFlags & kLineE1)) {
            clock_.SleepMillis(kCycleGapMs);
            bus_.EndRestingE1Pulse(sent_.width == BusWidth::Four ? 2 : 1);
        }
        const Outcome outcome = ReadBack();
        // RS settles before E1 goes back to rest, which raises the straight pin.
        if (e1ActiveLow_ && (g_lines.controlFlags & kLineRS)) panel_.OnRSLow();
        panel_.ReturnToRest();
        result_.outcome = outcome;
        if (outcome == Outcome::Fail)
            result_.cause = LikelyCause(reader_.samples, answered_, sent_.width);
        return result_;
    }

private:
    using Outcome = VerifyResult::Outcome;

    // Each controller's busy flag and address counter, then the memory of those
    // that answered.
    Outcome ReadBack() {
        bool anyAnswered = false;
        for (std::uint8_t c = 0; c < controllers_; ++c) {
            const std::vector<std::uint8_t> expected{kAddressAfterGlyphs};
            const auto read = reader_.Read(Area::BusyAddress, c, expected, kBusyAddressMask);
            if (!read) return Outcome::PortUnreadable;
            answered_[c] = read->front() != kFloatingLines;
            anyAnswered = anyAnswered || answered_[c];
            Compare({.controller = c, .area = Area::BusyAddress}, *read, expected,
                    kBusyAddressMask);
        }
        if (!anyAnswered) return Outcome::Fail;
        for (std::uint8_t c = 0; c < controllers_; ++c)
            if (answered_[c] && !ReadMemory(c)) return Outcome::PortUnreadable;
        return result_.differences.empty() ? Outcome::Pass : Outcome::Fail;
    }

    // The DDRAM of every line the run wrote on controller `c`, then the CGRAM;
    // false when the port could not be read.
    bool ReadMemory(std::uint8_t c) {
        for (std::size_t n = 0; n < sent_.lines.size(); ++n) {
            const SentLine& line = sent_.lines[n];
            if (line.controller != c) continue;
            reader_.Command(static_cast<std::uint8_t>(kSetDdramAddress | line.ddramAddress), c);
            const auto read = reader_.Read(Area::Ddram, c, line.bytes, kAllDataLines);
            if (!read) return false;
            Compare({.controller = c,
                     .area = Area::Ddram,
                     .line = static_cast<int>(n),
                     .address = line.ddramAddress},
                    *read, line.bytes, kAllDataLines);
        }
        const std::vector<std::uint8_t> glyphs(std::begin(kGlyphTable), std::end(kGlyphTable));
        reader_.Command(kSetCgramAddress0, c);
        const auto read = reader_.Read(Area::Cgram, c, glyphs, kAllDataLines);
        if (!read) return false;
        Compare({.controller = c, .area = Area::Cgram}, *read, glyphs, kAllDataLines);
        return true;
    }

    // Counts the bytes read and keeps those that differ from what was sent on
    // the lines of `mask`; `first` places the first byte, the others follow it
    // column by column and address by address.
    void Compare(const VerifyDifference& first, const std::vector<std::uint8_t>& read,
                 const std::vector<std::uint8_t>& expected, std::uint8_t mask) {
        for (std::size_t i = 0; i < read.size(); ++i) {
            ++result_.compared;
            if ((read[i] & mask) == (expected[i] & mask)) continue;
            VerifyDifference d = first;
            d.column += static_cast<int>(i);
            d.address = static_cast<std::uint8_t>(d.address + i);
            d.expected = expected[i];
            d.read = read[i];
            result_.differences.push_back(d);
        }
    }

    LinePanel& panel_;
    Clock& clock_;
    const TestRunRecord& sent_;
    const int controllers_;
    const bool e1ActiveLow_;
    ModuleDriver bus_;
    Reader reader_;
    std::vector<bool> answered_;
    VerifyResult result_;
};

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
    if (const std::string& lost = ThePortIo().LostMessage(base); !lost.empty())
        return "cannot read: " + lost;
    const PortWiring wiring = ThePortIo().Wiring(base);
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
    if (!IsModuleSizeIndex(sent.sizeIndex)) return {};
    if (std::string refusal = VerifyRefusal(g_lines.portBase); !refusal.empty()) {
        VerifyResult refused;
        refused.outcome = VerifyResult::Outcome::Refused;
        refused.cause = std::move(refusal);
        ThePortIo().Log().Refuse(refused.Summary());
        return refused;
    }
    return Verification(driver, panel, clock, sent).Run();
}
