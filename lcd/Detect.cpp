#include "lcd/Detect.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <optional>

#include "base/HexText.h"
#include "io/I2cBus.h"
#include "io/Transports.h"
#include "lcd/ModuleDriver.h"
#include "lines/ParportWiring.h"

namespace {

using Pins = std::uint16_t;

// Receive bytes read at an address before anything is written to it: enough
// to see a register walk of 22 twice.
constexpr std::size_t kLookReads = 44;
// A module's pull-ups hold RS, RW and E high when the pins are released; an
// expander with fewer high pins is loaded by something else.
constexpr int kModulePullUps = 3;
// The waits an instruction needs (the datasheet's 37 us and 1.52 ms, with a
// margin for a slow oscillator), and the first function set's after power-on.
constexpr std::uint64_t kInstructionWaitMicros = 50;
constexpr std::uint64_t kClearWaitMicros = 2000;
constexpr std::uint64_t kFirstFunctionSetWaitMicros = 5000;
// Pins a search takes at a time: one bank.
constexpr int kBankPins = 8;

// Counts the SMBus transfers that go through, for the steps' figures.
class CountingKernel final : public KernelSystem {
public:
    explicit CountingKernel(std::shared_ptr<KernelSystem> inner) : inner_(std::move(inner)) {}
    int ReadFile(const std::string& path, std::string& contents) const override {
        return inner_->ReadFile(path, contents);
    }
    int ListDirectory(const std::string& path, std::vector<std::string>& names) const override {
        return inner_->ListDirectory(path, names);
    }
    int Open(const std::string& path, int flags) override { return inner_->Open(path, flags); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        if (request == I2C_SMBUS) ++transfers;
        return inner_->Ioctl(fd, request, arg);
    }
    ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) override {
        return inner_->PWrite(fd, data, size, offset);
    }
    ssize_t PRead(int fd, void* data, std::size_t size, off_t offset) override {
        return inner_->PRead(fd, data, size, offset);
    }
    int Close(int fd) override { return inner_->Close(fd); }

    std::size_t transfers = 0;

private:
    std::shared_ptr<KernelSystem> inner_;
};

// The steps of detection, in the order the figures list them.
enum Step { kLook, kKindCheck, kKnownWirings, kSearch, kGreeting, kSteps };
constexpr std::string_view kStepNames[kSteps] = {"look", "kind check", "known wirings", "search",
                                                 "greeting"};

// Charges what happens while it lives to one step.
class StepTimer {
public:
    StepTimer(DetectReport& report, Step step, const CountingKernel& kernel, const Clock& clock)
        : step_(report.steps[step]),
          kernel_(kernel),
          clock_(clock),
          transfers_(kernel.transfers),
          start_(clock.NowMicros()) {}
    ~StepTimer() {
        step_.transfers += kernel_.transfers - transfers_;
        step_.micros += clock_.NowMicros() - start_;
    }
    StepTimer(const StepTimer&) = delete;
    StepTimer& operator=(const StepTimer&) = delete;

private:
    DetectStep& step_;
    const CountingKernel& kernel_;
    const Clock& clock_;
    std::size_t transfers_;
    std::uint64_t start_;
};

// A failure that ends the look at one address (the device stopped answering)
// or at everything (the bus went away).
struct Stopped {
    int error;
};

// One expander's pins through its chip's own transfers; a failed transfer
// stops the look at it.
class Expander {
public:
    Expander(I2cDevice& device, const ExpanderChip& chip) : device_(device), chip_(chip) {}

    const ExpanderChip& Chip() const { return chip_; }
    I2cDevice& Device() { return device_; }
    Pins AllPins() const { return static_cast<Pins>((1u << chip_.pins) - 1); }

    void Set(const PinState& state) {
        if (pins_ == state) return;
        Check(chip_.write(device_, state, pins_));
        pins_ = state;
    }
    Pins Read(Pins wanted) {
        Pins levels = 0;
        Check(chip_.read(device_, wanted, levels));
        return levels;
    }
    // Drives `pin` low and leaves the others as they are (released, where
    // nothing has been written yet).
    void Lower(Pins pin) {
        const PinState now = pins_.value_or(PinState{AllPins(), AllPins()});
        Set({static_cast<Pins>(now.levels & ~pin), static_cast<Pins>(now.inputs & ~pin)});
    }
    // Every pin released (an input with a pull-up, or written high) but those
    // in `low`, which are driven low; the pins' levels then.
    Pins ReleasedRead(Pins low) {
        Set({static_cast<Pins>(AllPins() & ~low), static_cast<Pins>(AllPins() & ~low)});
        return Read(AllPins());
    }

private:
    void Check(int result) {
        if (result < 0) throw Stopped{result};
    }

    I2cDevice& device_;
    const ExpanderChip& chip_;
    std::optional<PinState> pins_;
};

// Which pin carries what; -1 for none.
struct Roles {
    int rs = -1, rw = -1, e = -1;
    std::array<int, 4> d{-1, -1, -1, -1};  // D4..D7
    Pins backlight = 0;
    bool backlightLitLow = false;

    static Roles Of(const ExpanderPins& map, std::uint32_t inverted) {
        Roles roles;
        roles.rs = map.PinOf(10);
        roles.rw = map.PinOf(9);
        roles.e = map.PinOf(8);
        for (int k = 0; k < 4; ++k) roles.d[static_cast<std::size_t>(k)] = map.PinOf(4 + k);
        for (int p = 0; p < kMostExpanderPins; ++p)
            if (map.pin[static_cast<std::size_t>(p)] == ExpanderPins::kBacklight)
                roles.backlight |= static_cast<Pins>(1u << p);
        roles.backlightLitLow = inverted >> ExpanderPins::kBacklight & 1;
        return roles;
    }
    ExpanderPins Map() const {
        ExpanderPins map = NoPins();
        const auto put = [&](int pin, int target) {
            if (pin >= 0) map.pin[static_cast<std::size_t>(pin)] = target;
        };
        put(rs, 10);
        put(rw, 9);
        put(e, 8);
        for (int k = 0; k < 4; ++k) put(d[static_cast<std::size_t>(k)], 4 + k);
        for (int p = 0; p < kMostExpanderPins; ++p)
            if (backlight >> p & 1) put(p, ExpanderPins::kBacklight);
        return map;
    }
    Pins DataPins() const {
        Pins pins = 0;
        for (const int pin : d)
            if (pin >= 0) pins |= static_cast<Pins>(1u << pin);
        return pins;
    }
};

Pins Bit(int pin) {
    return pin < 0 ? 0 : static_cast<Pins>(1u << pin);
}

// The module on an expander's pins, as a set of roles says, on its 4-bit bus
// (or, before it is told otherwise, on its 8-bit bus with D3..D0 left to its
// pull-ups). Pins with no role are released.
class ModuleBus {
public:
    ModuleBus(Expander& expander, const Roles& roles, Clock& clock)
        : x_(expander), roles_(roles), clock_(clock) {}

    // E, RS and RW low, the data lines driven at `nibble` (D7..D4 in bits 3..0,
    // or released), the backlight lit.
    void Lines(bool rs, bool rw, bool e, std::uint8_t nibble, bool released) {
        Pins levels = x_.AllPins();
        Pins inputs = x_.AllPins();
        const auto drive = [&](int pin, bool high) {
            if (pin < 0) return;
            inputs &= static_cast<Pins>(~Bit(pin));
            levels = static_cast<Pins>(high ? levels | Bit(pin) : levels & ~Bit(pin));
        };
        drive(roles_.rs, rs);
        drive(roles_.rw, rw);
        drive(roles_.e, e);
        for (int k = 0; k < 4 && !released; ++k)
            drive(roles_.d[static_cast<std::size_t>(k)], nibble >> k & 1);
        for (int p = 0; p < kMostExpanderPins; ++p)
            if (roles_.backlight >> p & 1) drive(p, !roles_.backlightLitLow);
        x_.Set({levels, inputs});
    }
    void Rest() { Lines(false, false, false, 0, false); }

    // One transfer: RS and RW settle with E low first, the nibble goes with E
    // rising (the controller takes it as E falls).
    void Nibble(bool rs, std::uint8_t nibble) {
        Lines(rs, false, false, last_, false);
        Lines(rs, false, true, nibble, false);
        Lines(rs, false, false, nibble, false);
        last_ = nibble;
    }
    void Write(bool rs, std::uint8_t byte, std::uint64_t waitMicros = kInstructionWaitMicros) {
        Nibble(rs, byte >> 4);
        Nibble(rs, byte & 0x0F);
        clock_.SleepMicros(waitMicros);
    }
    // One read with E high: D7..D4 as read, in bits 3..0.
    std::uint8_t ReadNibble(bool rs) {
        Lines(rs, false, false, 0, true);
        Lines(rs, true, false, 0, true);
        Lines(rs, true, true, 0, true);
        const Pins pins = x_.Read(roles_.DataPins());
        Lines(rs, true, false, 0, true);
        std::uint8_t nibble = 0;
        for (int k = 0; k < 4; ++k)
            if (pins >> roles_.d[static_cast<std::size_t>(k)] & 1)
                nibble |= static_cast<std::uint8_t>(1u << k);
        return nibble;
    }
    std::uint8_t Read(bool rs) {
        const std::uint8_t high = ReadNibble(rs);
        const std::uint8_t low = ReadNibble(rs);
        Lines(rs, false, false, 0, false);
        clock_.SleepMicros(kInstructionWaitMicros);
        return static_cast<std::uint8_t>(high << 4 | low);
    }
    // The bring-up by instructions from any state: three 8-bit function sets
    // (whatever nibble the controller waited for), then the 4-bit bus, two
    // lines, display off, clear, increment, display on without a cursor.
    void Init() {
        // A module found with E high (a PCF8574 at power-on) must not see RS
        // or RW move before E has fallen.
        x_.Lower(Bit(roles_.e));
        Rest();
        const std::uint64_t waits[] = {kFirstFunctionSetWaitMicros, 150, 150};
        for (const std::uint64_t wait : waits) {
            Nibble(false, kFunctionSet8Bit >> 4);
            clock_.SleepMicros(wait);
        }
        Nibble(false, kFunctionSet4Bit >> 4);
        clock_.SleepMicros(kInstructionWaitMicros);
        Write(false, kFunctionSet4Bit2Lines);
        Write(false, kDisplayOff);
        Write(false, kClearDisplay, kClearWaitMicros);
        Write(false, kEntryModeIncrement);
        Write(false, kDisplayOnCursorOff);
    }
    // Writes `text` from the start of line 1; how many bytes read back as
    // written (the address counter, then each byte).
    std::size_t Show(const std::string& text) {
        Write(false, kSetDdramAddress);
        for (const char c : text) Write(true, static_cast<std::uint8_t>(c));
        return 1 + text.size();
    }
    std::size_t ReadBack(const std::string& text) {
        std::size_t matched = Read(false) == text.size() ? 1 : 0;
        Write(false, kSetDdramAddress);
        for (const char c : text) matched += Read(true) == static_cast<std::uint8_t>(c) ? 1 : 0;
        return matched;
    }

private:
    Expander& x_;
    Roles roles_;
    Clock& clock_;
    std::uint8_t last_ = 0;
};

// The search's view of a bank: which of its pins E, RW, RS and each data line
// are, found from the module's answers. Nothing it sends can do the module
// harm: on a wrong guess it takes instructions that set an address or the
// bus width, or data.
class WiringSearch {
public:
    // `accept` proves a set of roles the module answered to (or not).
    using Accept = std::function<bool(Roles&)>;
    WiringSearch(Expander& expander, Pins bank, Clock& clock, Accept accept)
        : x_(expander), bank_(bank), clock_(clock), accept_(std::move(accept)) {}

    std::optional<Roles> Find() {
        // With two pins held low and the rest released (E, RW and RS high
        // where they are among the rest), the module drives the data lines
        // unless E or RW is held. Where RS is the other one held, it reads its
        // busy flag, 0 on D7: so a pin that is neither E nor RW is driven
        // against by the module with some partner, and E and RW never are.
        // A pin that reads low whenever it is released is loaded (a
        // transistor's base), not driven.
        std::vector<int> pins;
        for (int p = 0; p < kMostExpanderPins; ++p)
            if (bank_ >> p & 1) pins.push_back(p);
        std::vector<std::vector<Pins>> lows(kMostExpanderPins,
                                            std::vector<Pins>(kMostExpanderPins, 0));
        for (std::size_t i = 0; i < pins.size(); ++i) {
            for (std::size_t j = i + 1; j < pins.size(); ++j) {
                const Pins held = static_cast<Pins>(Bit(pins[i]) | Bit(pins[j]));
                const auto low = static_cast<Pins>(~x_.ReleasedRead(held) & bank_ & ~held);
                lows[static_cast<std::size_t>(pins[i])][static_cast<std::size_t>(pins[j])] = low;
                lows[static_cast<std::size_t>(pins[j])][static_cast<std::size_t>(pins[i])] = low;
            }
        }
        Pins loaded = bank_;
        for (const int p : pins)
            for (const int q : pins)
                for (const int r : pins)
                    if (q != r && q != p && r != p)
                        if (!(lows[static_cast<std::size_t>(q)][static_cast<std::size_t>(r)] >> p &
                              1))
                            loaded &= static_cast<Pins>(~Bit(p));
        std::vector<int> quiet;
        for (const int p : pins) {
            bool driven = false;
            for (const int q : pins)
                if (q != p &&
                    (lows[static_cast<std::size_t>(p)][static_cast<std::size_t>(q)] & ~loaded))
                    driven = true;
            if (!driven) quiet.push_back(p);
        }
        if (quiet.size() < 2 || quiet.size() > 4) return std::nullopt;
        for (std::size_t i = 0; i < quiet.size(); ++i)
            for (std::size_t j = 0; j < quiet.size(); ++j)
                if (i != j)
                    if (auto roles = WithEnable(quiet[i], quiet[j], loaded)) return roles;
        return std::nullopt;
    }

private:
    // E and RW known: RS and the backlight among the rest (the backlight is
    // the one pin a transistor's base pulls low, where one does).
    std::optional<Roles> WithEnable(int e, int rw, Pins loaded) {
        const Pins rest = static_cast<Pins>(bank_ & ~Bit(e) & ~Bit(rw));
        for (int rs = 0; rs < kMostExpanderPins; ++rs) {
            if (!(rest >> rs & 1)) continue;
            for (int bl = 0; bl < kMostExpanderPins; ++bl) {
                if (!(rest >> bl & 1) || bl == rs) continue;
                if (std::popcount(loaded) == 1 && !(loaded >> bl & 1)) continue;
                const Pins data = static_cast<Pins>(rest & ~Bit(rs) & ~Bit(bl));
                if (std::popcount(data) != 4) continue;
                if (auto roles = DataOrder(e, rw, rs, bl, data); roles && accept_(*roles))
                    return roles;
            }
        }
        return std::nullopt;
    }

    // The data lines' order from what the module reads back. On the 8-bit
    // bus, with D3..D0 left to its pull-ups, setting the DDRAM address with all
    // four high loads 0x7F, whose busy flag (0) shows on D7. With D5 alone high
    // it takes the 4-bit bus, which shows as the low nibble (all high) on a
    // second read; each other pin alone sets an address or shifts the display.
    // On the 4-bit bus, the entry mode (with D6..D4 high) makes the counter
    // increment, and 0x0F, one data read further, carries into D4. A guess
    // that is wrong fails one of these.
    std::optional<Roles> DataOrder(int e, int rw, int rs, int bl, Pins data) {
        Roles roles;
        roles.e = e;
        roles.rw = rw;
        roles.rs = rs;
        roles.backlight = Bit(bl);
        std::array<int, 4> pins{};
        for (int p = 0, k = 0; p < kMostExpanderPins; ++p)
            if (data >> p & 1) pins[static_cast<std::size_t>(k++)] = p;
        roles.d = pins;  // any order, for what does not depend on it
        ModuleBus bus(x_, roles, clock_);
        EightBitBus(bus, roles);
        Send(bus, roles, data);  // set the DDRAM address 0x7F
        const Pins d7 = static_cast<Pins>(data & ~Sample(bus, roles, false));
        bus.Rest();
        if (std::popcount(d7) != 1) return std::nullopt;
        const Pins others = static_cast<Pins>(data & ~d7);
        Pins d5 = 0;
        for (int p = 0; p < kMostExpanderPins && !d5; ++p) {
            if (!(others >> p & 1)) continue;
            Send(bus, roles, data);  // 0x7F again
            Send(bus, roles, Bit(p));
            Sample(bus, roles, false);
            if (Sample(bus, roles, false) & d7) d5 = Bit(p);  // the low nibble: 4-bit
            bus.Rest();
        }
        if (!d5) return std::nullopt;
        Send(bus, roles, 0);  // entry mode: increment (and shift on writes)
        Send(bus, roles, others);
        Send(bus, roles, d7);  // the DDRAM address 0x0F
        Send(bus, roles, data);
        Sample(bus, roles, true);  // a data read moves the counter on as E falls
        Sample(bus, roles, true);
        bus.Rest();
        clock_.SleepMicros(kInstructionWaitMicros);
        const Pins d4 = static_cast<Pins>(Sample(bus, roles, false) & others & ~d5);
        Sample(bus, roles, false);
        bus.Rest();
        if (std::popcount(d4) != 1) return std::nullopt;
        const Pins d6 = static_cast<Pins>(others & ~d5 & ~d4);
        roles.d = {std::countr_zero(d4), std::countr_zero(d5), std::countr_zero(d6),
                   std::countr_zero(d7)};
        return roles;
    }

    // One E pulse with RS and RW low and `high` among the data pins high.
    void Send(ModuleBus& bus, const Roles& roles, Pins high) {
        std::uint8_t nibble = 0;
        for (int k = 0; k < 4; ++k)
            if (high >> roles.d[static_cast<std::size_t>(k)] & 1)
                nibble |= static_cast<std::uint8_t>(1u << k);
        bus.Nibble(false, nibble);
        clock_.SleepMicros(kInstructionWaitMicros);
    }

    // One read pulse: the data pins that read high.
    Pins Sample(ModuleBus& bus, const Roles& roles, bool rs) {
        const std::uint8_t nibble = bus.ReadNibble(rs);
        Pins pins = 0;
        for (int k = 0; k < 4; ++k)
            if (nibble >> k & 1) pins |= Bit(roles.d[static_cast<std::size_t>(k)]);
        return pins;
    }

    // Every way of two data lines high, and the first once more, twice over:
    // on the 8-bit bus each is an address to set or (D4 and D5) the 8-bit
    // function set; on the 4-bit bus the pulses pair up, and since a round has
    // an odd number, D4 and D5 land as a high nibble, followed by a low one,
    // in one of the rounds: the 8-bit function set. Either way the module ends
    // on the 8-bit bus.
    void EightBitBus(ModuleBus& bus, const Roles& roles) {
        bus.Rest();
        const std::array<int, 4>& pins = roles.d;
        for (int round = 0; round < 2; ++round) {
            for (std::size_t i = 0; i < pins.size(); ++i)
                for (std::size_t j = i + 1; j < pins.size(); ++j)
                    Send(bus, roles, static_cast<Pins>(Bit(pins[i]) | Bit(pins[j])));
            Send(bus, roles, static_cast<Pins>(Bit(pins[0]) | Bit(pins[1])));
            clock_.SleepMicros(kFirstFunctionSetWaitMicros);
        }
    }

    Expander& x_;
    Pins bank_;
    Clock& clock_;
    Accept accept_;
};

std::string Greeting(std::uint8_t address) {
    return "found at " + HexByte(address);
}

std::string Pattern(std::uint8_t address) {
    return "lcdtest " + HexByte(address) + " ok?";
}

// One address on one bus.
class AddressLook {
public:
    AddressLook(Clock& clock, const I2cBusInfo& bus, std::uint8_t address,
                std::shared_ptr<KernelSystem> sys)
        : clock_(clock),
          bus_(bus),
          address_(address),
          device_(std::move(sys), bus.node, bus.number, address) {}

    I2cDevice& Device() { return device_; }

    // The kinds whose reads these are, most likely first; none when nothing
    // answers or it is no expander this tool knows.
    std::vector<const Transport*> Kinds(const std::vector<std::uint8_t>& reads) {
        std::vector<const Transport*> kinds;
        const bool steady = std::all_of(reads.begin(), reads.end(),
                                        [&](std::uint8_t r) { return r == reads.front(); });
        for (const Transport* kind : Transports()) {
            if (!kind->probe || !At(kind->probe->chip)) continue;
            const std::size_t walk = kind->probe->chip.registerWalk;
            const bool walks = walk && !steady && Repeats(reads, walk);
            if (walks || (!walk && steady)) kinds.push_back(kind);
        }
        return kinds;
    }

    // Whether a module's pull-ups hold at least three of the pins high once
    // they are released. A PCF8574's pins are released by writing them high,
    // and what was found is written back where no module is; an expander with
    // registers powers up with its pins released, and its pins are read as
    // they are.
    bool KindCheck(Expander& x, std::uint8_t seen) {
        if (!x.Chip().quasiBidirectional)
            return std::popcount(x.Read(x.AllPins())) >= kModulePullUps;
        // Pins driven back to what was found would drive against a module
        // that drives its data lines (E and RW high, as at power-on): a
        // module's are left released.
        const bool module = std::popcount(x.ReleasedRead(0)) >= kModulePullUps;
        if (!module) x.Set({seen, 0});
        return module;
    }

    FoundModule Found(const Transport* kind, const Roles& roles, std::string wiring) {
        FoundModule found;
        found.bus = bus_.node;
        found.adapter = bus_.adapter;
        found.kind = kind;
        found.device.bus = bus_.node;
        found.device.busNumber = bus_.number;
        found.device.address = address_;
        found.device.map = roles.Map();
        found.device.inverted = roles.backlightLitLow ? 1u << ExpanderPins::kBacklight : 0;
        found.wiring = std::move(wiring);
        found.backlightLitLow = roles.backlightLitLow;
        return found;
    }

    // Brings the module up on `roles`, greets, and reads the greeting back.
    std::optional<FoundModule> Prove(Expander& x, const Transport* kind, const Roles& roles,
                                     std::string wiring) {
        ModuleBus bus(x, roles, clock_);
        bus.Init();
        const std::string text = Greeting(address_);
        const std::size_t compared = bus.Show(text);
        if (bus.ReadBack(text) != compared) return std::nullopt;
        bus.Rest();
        FoundModule found = Found(kind, roles, std::move(wiring));
        found.proven = true;
        found.compared = compared;
        found.shown = text;
        return found;
    }

    // The backlight pin released: a transistor's base pulls it low when a high
    // pin lights it.
    bool LitLow(Expander& x, const Roles& roles) {
        const Pins pins = x.ReleasedRead(static_cast<Pins>(x.AllPins() & ~roles.backlight));
        return (pins & roles.backlight) != 0;
    }

    void Check(int result) {
        if (result < 0) throw Stopped{result};
    }

private:
    bool At(const ExpanderChip& chip) const {
        return std::any_of(
            chip.addressRanges.begin(), chip.addressRanges.end(),
            [&](const auto& r) { return address_ >= r.first && address_ <= r.second; });
    }
    static bool Repeats(const std::vector<std::uint8_t>& reads, std::size_t period) {
        for (std::size_t i = period; i < reads.size(); ++i)
            if (reads[i] != reads[i - period]) return false;
        return reads.size() >= 2 * period;
    }

    Clock& clock_;
    const I2cBusInfo& bus_;
    std::uint8_t address_;
    I2cDevice device_;
};

// The addresses expanders can have, in the order they are looked at.
std::vector<std::uint8_t> ExpanderAddresses() {
    std::vector<std::uint8_t> addresses;
    for (const Transport* kind : Transports()) {
        if (!kind->probe) continue;
        for (const auto& [first, last] : kind->probe->chip.addressRanges)
            for (unsigned a = first; a <= last; ++a)
                addresses.push_back(static_cast<std::uint8_t>(a));
    }
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    return addresses;
}

class Detection {
public:
    Detection(std::shared_ptr<KernelSystem> sys, Clock& clock, ProblemLog& log)
        : kernel_(std::make_shared<CountingKernel>(std::move(sys))), clock_(clock), log_(log) {
        report_.steps.resize(kSteps);
        for (int s = 0; s < kSteps; ++s)
            report_.steps[static_cast<std::size_t>(s)].name = kStepNames[s];
    }

    DetectReport Run() {
        const std::vector<I2cBusInfo> buses = ListI2cBuses(*kernel_);
        if (buses.empty()) {
            log_.Report("detect-no-bus",
                        "no I2C bus to look at: load the kernel module i2c-dev (sudo modprobe "
                        "i2c-dev), and plug in the USB I2C bridge if the backpack hangs on one");
        }
        try {
            for (const I2cBusInfo& bus : buses) LookAtBus(bus);
        } catch (const Stopped& stopped) {
            log_.Report("detect-gone",
                        "an I2C bus went away during detection (" + ErrorText(stopped.error) +
                            "): detection ends there; plug it back in and look again");
        }
        return std::move(report_);
    }

private:
    void LookAtBus(const I2cBusInfo& bus) {
        I2cDevice probe(kernel_, bus.node, bus.number, 0);
        if (const int opened = probe.OpenBus(); opened < 0) {
            log_.Report("detect-open:" + bus.node, probe.OpenProblem(opened));
            return;
        }
        if (!(probe.Functions() & I2C_FUNC_SMBUS_READ_BYTE)) {
            log_.Report("detect-functions:" + bus.node,
                        "the adapter of " + bus.node +
                            " cannot receive single bytes (SMBus receive byte), which detection "
                            "needs to look at an address without writing: its addresses are left "
                            "alone");
            return;
        }
        probe.Close();
        ++report_.buses;
        for (const std::uint8_t address : ExpanderAddresses()) {
            try {
                LookAt(bus, address);
            } catch (const Stopped& stopped) {
                if (stopped.error == -ENODEV) throw;
                report_.notes.push_back(HexByte(address) + " on " + bus.node +
                                        " stopped answering during detection (" +
                                        ErrorText(stopped.error) + "): left as it was");
            }
        }
    }

    void LookAt(const I2cBusInfo& bus, std::uint8_t address) {
        AddressLook look(clock_, bus, address, kernel_);
        I2cDevice& device = look.Device();
        if (const int opened = device.OpenBus(); opened < 0) throw Stopped{opened};
        if (const int claimed = device.Claim(); claimed < 0) {
            log_.Report("detect-address:" + bus.node + "@" + HexByte(address),
                        device.ClaimProblem(claimed));
            return;
        }
        std::vector<std::uint8_t> reads;
        {
            StepTimer timer(report_, kLook, *kernel_, clock_);
            for (std::size_t i = 0; i < kLookReads; ++i) {
                std::uint8_t byte = 0;
                const int result = device.ReceiveByte(byte);
                if (result < 0 && i == 0 && NoAcknowledge(result)) return;  // nothing there
                look.Check(result);
                reads.push_back(byte);
            }
        }
        const std::vector<const Transport*> kinds = look.Kinds(reads);
        if (kinds.empty()) {
            report_.notes.push_back(HexByte(address) + " on " + bus.node +
                                    ": answers, but not as an expander this tool knows; left "
                                    "alone");
            return;
        }
        const Transport* kind = kinds.front();
        const ExpanderChip& chip = kind->probe->chip;
        Expander x(device, chip);
        bool module = false;
        {
            StepTimer timer(report_, kKindCheck, *kernel_, clock_);
            module = look.KindCheck(x, reads.front());
        }
        if (!module) {
            report_.notes.push_back(HexByte(address) + " on " + bus.node + ": a " +
                                    std::string(chip.name) +
                                    " without a character module (its pins read low when "
                                    "released, loaded as relays or LEDs load them); left as it "
                                    "was found");
            return;
        }
        // Released pins of an expander with registers float unless pulled up.
        if (chip.pullUps) look.Check(chip.pullUps(device, x.AllPins()));
        std::optional<FoundModule> found = FindWiring(look, x, kind);
        if (!found) found = Assume(look, x, kind);
        if (chip.pullUps) look.Check(chip.pullUps(device, 0));
        report_.modules.push_back(std::move(*found));
    }

    std::optional<FoundModule> FindWiring(AddressLook& look, Expander& x, const Transport* kind) {
        {
            StepTimer timer(report_, kKnownWirings, *kernel_, clock_);
            for (const KnownWiring& known : kind->probe->known) {
                const Roles roles = Roles::Of(known.pins, known.inverted);
                if (roles.rw < 0) continue;  // nothing to read back by
                if (auto found = look.Prove(x, kind, roles, std::string(known.name))) return found;
            }
        }
        StepTimer timer(report_, kSearch, *kernel_, clock_);
        const ExpanderChip& chip = kind->probe->chip;
        std::optional<FoundModule> found;
        for (int bank = 0; bank * kBankPins < chip.pins && !found; ++bank) {
            const auto pins = static_cast<Pins>(0xFFu << (bank * kBankPins));
            WiringSearch search(x, pins, clock_, [&](Roles& roles) {
                roles.backlightLitLow = look.LitLow(x, roles);
                found = look.Prove(x, kind, roles, "a wiring found by search");
                return found.has_value();
            });
            search.Find();
        }
        return found;
    }

    // Nothing read back: the kind's common wiring is assumed and shows a
    // pattern to check by eye.
    FoundModule Assume(AddressLook& look, Expander& x, const Transport* kind) {
        StepTimer timer(report_, kGreeting, *kernel_, clock_);
        const KnownWiring& common = kind->probe->known.front();
        const Roles roles = Roles::Of(common.pins, common.inverted);
        ModuleBus bus(x, roles, clock_);
        bus.Init();
        const std::string text = Pattern(look.Device().Address());
        bus.Show(text);
        bus.Rest();
        FoundModule found = look.Found(kind, roles, std::string(common.name));
        found.shown = text;
        return found;
    }

    std::shared_ptr<CountingKernel> kernel_;
    Clock& clock_;
    ProblemLog& log_;
    DetectReport report_;
};

}  // namespace

std::string FoundModule::Mapping() const {
    return std::string(kind->name) + ":" + device.MappingText(kind->probe->chip);
}

std::string FoundModule::Describe(std::uint32_t base) const {
    const std::string mapping = HexAddress(base) + "=" + Mapping();
    const std::string backlight =
        std::string("backlight active ") + (backlightLitLow ? "low" : "high");
    if (proven)
        return mapping + " (" + wiring + ", " + backlight + "; proven: read back " +
               std::to_string(compared) + " of " + std::to_string(compared) + " bytes)";
    return mapping +
           " (not proven: nothing read back, as when the module's RW is tied to "
           "ground; assumed the " +
           wiring + ", " + backlight + ": if it is right, the glass shows \"" + shown + "\")";
}

std::uint32_t OfferedBase(std::size_t n) {
    return kPortBases[n % kPortCount];
}

DetectReport DetectModules(std::shared_ptr<KernelSystem> sys, Clock& clock, ProblemLog& log) {
    return Detection(std::move(sys), clock, log).Run();
}
