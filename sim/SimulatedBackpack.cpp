#include "sim/SimulatedBackpack.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/HexText.h"
#include "base/ListText.h"
#include "io/MappingText.h"
#include "io/Transports.h"
#include "lines/ModuleLines.h"
#include "sim/SimulatedI2cBus.h"

namespace {

constexpr int kDataLineCount = 8;
constexpr int kE0Bit = 8, kRwBit = 9, kE1Bit = 11;
constexpr int kBacklight = ExpanderPins::kBacklight;

// A PCF8574: quasi-bidirectional pins, each a strong low or a weak pull-up,
// written and read a byte at a time.
class Pcf8574 final : public SimulatedBackpack {
public:
    Pcf8574(const BackpackSetup& setup, Clock& clock) : SimulatedBackpack(setup, clock) {}

    int SendByte(std::uint8_t byte) override {
        Latch(byte);
        return 0;
    }
    int ReceiveByte(std::uint8_t& byte) override {
        byte = static_cast<std::uint8_t>(PinLevels());
        return 0;
    }
    // On the wire these are a write of the command byte followed by a write or
    // a read: the chip takes the command byte as pins too.
    int WriteByteData(std::uint8_t command, std::uint8_t value) override {
        Latch(command);
        Latch(value);
        return 0;
    }
    int ReadByteData(std::uint8_t command, std::uint8_t& value) override {
        Latch(command);
        return ReceiveByte(value);
    }

private:
    Drive DriveOf(int pin) const override { return latch_ >> pin & 1 ? Drive::PullUp : Drive::Low; }
    void Latch(std::uint8_t byte) {
        if (byte == latch_) return;
        latch_ = byte;
        PinsChanged();
    }

    std::uint8_t latch_ = 0xFF;  // every pin high at power-on
};

// An MCP23008 (one port) or MCP23017 (two): registers behind a pointer that a
// transfer's command byte sets.
class Mcp230xx final : public SimulatedBackpack {
public:
    Mcp230xx(const BackpackSetup& setup, Clock& clock)
        : SimulatedBackpack(setup, clock), ports_(setup.chip->pins / kDataLineCount) {
        for (auto& port : registers_) port[kIodir] = 0xFF;  // inputs at power-on
    }

    int SendByte(std::uint8_t byte) override {
        pointer_ = byte;
        return 0;
    }
    int ReceiveByte(std::uint8_t& byte) override {
        byte = Read(pointer_);
        Step();
        return 0;
    }
    int WriteByteData(std::uint8_t command, std::uint8_t value) override {
        pointer_ = command;
        Write(command, value);
        Step();
        return 0;
    }
    int ReadByteData(std::uint8_t command, std::uint8_t& value) override {
        pointer_ = command;
        return ReceiveByte(value);
    }

private:
    // A port's registers in address order with IOCON.BANK 1 (and on the MCP23008).
    enum Register {
        kIodir,
        kIpol,
        kGpinten,
        kDefval,
        kIntcon,
        kIocon,
        kGppu,
        kIntf,
        kIntcap,
        kGpio,
        kOlat
    };
    static constexpr int kRegisters = kOlat + 1;
    static constexpr std::uint8_t kBankB = 0x10;  // port B's first register with BANK 1
    static constexpr std::uint8_t kBankBit = 0x80, kSeqopBit = 0x20;
    // IOCON's bits that are there: BANK and MIRROR only on the MCP23017.
    static constexpr std::uint8_t kIoconBits[] = {0x3E, 0xFE};

    struct Where {
        int reg;
        int port;
    };

    bool Banked() const { return ports_ == 2 && (iocon_ & kBankBit); }

    // The register at `address` under the map in force; nullopt where none is.
    std::optional<Where> Decode(std::uint8_t address) const {
        if (ports_ == 1)
            return address < kRegisters ? std::optional<Where>({address, 0}) : std::nullopt;
        if (!Banked())  // the two ports' registers interleaved
            return address < 2 * kRegisters ? std::optional<Where>({address / 2, address % 2})
                                            : std::nullopt;
        const int port = address / kBankB, reg = address % kBankB;
        return port < 2 && reg < kRegisters ? std::optional<Where>({reg, port}) : std::nullopt;
    }

    std::uint8_t Read(std::uint8_t address) const {
        const auto at = Decode(address);
        if (!at) return 0;
        if (at->reg == kIocon) return iocon_;
        if (at->reg != kGpio) return registers_[at->port][at->reg];
        std::uint8_t pins = 0;
        for (int bit = 0; bit < kDataLineCount; ++bit)
            if (PinHigh(at->port * kDataLineCount + bit))
                pins |= static_cast<std::uint8_t>(1u << bit);
        return pins ^ registers_[at->port][kIpol];
    }

    void Write(std::uint8_t address, std::uint8_t value) {
        const auto at = Decode(address);
        if (!at || at->reg == kIntf || at->reg == kIntcap) return;  // read-only, or nothing there
        if (at->reg == kIocon) {
            iocon_ = value & kIoconBits[ports_ - 1];
            return;
        }
        const int reg = at->reg == kGpio ? kOlat : at->reg;  // a write to GPIO goes to the latch
        registers_[at->port][reg] = value;
        if (reg == kIodir || reg == kGppu || reg == kOlat) PinsChanged();
    }

    // After each byte: on to the next register (past the last, the first;
    // with BANK 1 from port A's last to port B's first), unless IOCON.SEQOP
    // keeps it (toggling within an A/B pair where the ports interleave).
    void Step() {
        if (iocon_ & kSeqopBit) {
            if (ports_ == 2 && !Banked()) pointer_ ^= 1;
            return;
        }
        const int last = ports_ == 1 ? kRegisters - 1
                         : Banked()  ? kBankB + kRegisters - 1
                                     : 2 * kRegisters - 1;
        if (pointer_ >= last)
            pointer_ = 0;
        else if (Banked() && pointer_ == kRegisters - 1)
            pointer_ = kBankB;
        else
            ++pointer_;
    }

    Drive DriveOf(int pin) const override {
        const auto& port = registers_[pin / kDataLineCount];
        const int bit = pin % kDataLineCount;
        if (port[kIodir] >> bit & 1)
            return port[kGppu] >> bit & 1 ? Drive::PullUp : Drive::Released;
        return port[kOlat] >> bit & 1 ? Drive::High : Drive::Low;
    }

    int ports_;
    std::array<std::array<std::uint8_t, kRegisters>, 2> registers_{};  // INTF and INTCAP stay 0
    std::uint8_t iocon_ = 0;
    std::uint8_t pointer_ = 0;
};

// The kinds with a model, by the name their transport's row has.
struct Model {
    std::string_view kind;
    std::unique_ptr<SimulatedBackpack> (*make)(const BackpackSetup& setup, Clock& clock);
};
template <typename Chip>
std::unique_ptr<SimulatedBackpack> MakeModel(const BackpackSetup& setup, Clock& clock) {
    return std::make_unique<Chip>(setup, clock);
}
constexpr Model kModels[] = {
    {"pcf8574", MakeModel<Pcf8574>},
    {"mcp23008", MakeModel<Mcp230xx>},
    {"mcp23017", MakeModel<Mcp230xx>},
};

// "pcf8574, mcp23008 or mcp23017"
std::string KindNames() {
    std::vector<std::string> names;
    for (const auto& model : kModels) names.emplace_back(model.kind);
    return Alternatives(names);
}

const Model* ModelNamed(std::string_view kind) {
    for (const Model& model : kModels)
        if (model.kind == kind) return &model;
    return nullptr;
}

// The chip of the transport row named `kind`.
const ExpanderChip* ChipNamed(std::string_view kind) {
    for (const Transport* row : Transports())
        if (row->name == kind && row->probe) return &row->probe->chip;
    return nullptr;
}

}  // namespace

std::string BackpackSetup::Text() const {
    std::string text = HexByte(wiring.address) + "=" + std::string(kind);
    if (module) {
        // The mapping text's pin map and invert=, after the bus and address.
        const std::string mapping = wiring.MappingText(*chip);
        if (const std::size_t items = mapping.find(':'); items != std::string::npos)
            text += mapping.substr(items);
    }
    if (rwGrounded) text += ",rw=ground";
    if (!module) text += ",no-module";
    return text;
}

std::optional<BackpackSetup> ParseBackpackSetup(std::string_view text, std::string& error) {
    const auto fail = [&](const std::string& why) -> std::optional<BackpackSetup> {
        error = "--" + std::string(kSimI2cOptionName) + " " + std::string(text) + ": " + why;
        return std::nullopt;
    };
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return fail("expected ADDR=KIND, for example 0x27=pcf8574");
    std::string why;
    const auto address = ParseI2cAddress(text.substr(0, equals), "0x27", why);
    if (!address) return fail(why);

    const std::string_view rest = text.substr(equals + 1);
    const std::size_t end = std::min(rest.find_first_of(":,"), rest.size());
    const std::string_view kind = rest.substr(0, end);
    const Model* model = ModelNamed(kind);
    BackpackSetup setup;
    setup.kind = model ? model->kind : "";
    setup.chip = ChipNamed(kind);
    if (!model || !setup.chip)
        return fail("unknown kind " + Quoted(kind) + ": expected " + KindNames());
    const std::string_view pinForm = setup.chip->pinForm;

    // What is the option's own goes; the rest is read as --port-map reads
    // the kind's device.
    std::string device = std::string(SimulatedI2cBus::kNode) + "@" + HexByte(*address);
    std::string wiring;
    if (end < rest.size()) {
        std::vector<MappingItem> items = MappingItems(rest.substr(end + 1));
        if (items.empty()) items.push_back({});  // a separator with nothing after it
        for (const MappingItem& item : items) {
            if (item.text == "no-module") {
                setup.module = false;
            } else if (item.text == "rw=ground") {
                setup.rwGrounded = true;
            } else if (item.key == "backlight") {
                return fail(
                    "backlight= is --port-map's: a simulated backpack's backlight "
                    "follows its pin");
            } else if (!item.hasValue) {
                return fail(Quoted(item.text) + " is neither LINE=" + std::string(pinForm) +
                            ", invert=LINE+LINE, rw=ground nor no-module, for example " +
                            HexByte(*address) + "=" + std::string(kind) + ":" +
                            std::string(setup.chip->mapExample));
            } else {
                wiring += (wiring.empty() ? ":" : ",") + std::string(item.text);
            }
        }
    }
    if (!setup.module && (!wiring.empty() || setup.rwGrounded))
        return fail(
            "no-module is an expander without a module (a relay board): it takes no pin "
            "map, invert= or rw=ground");
    std::optional<ExpanderDevice> parsed = ParseExpanderDevice(*setup.chip, device + wiring, why);
    if (!parsed) return fail(why);
    setup.wiring = std::move(*parsed);
    if (!setup.module) {
        setup.wiring.map = NoPins();
        setup.wiring.inverted = 0;
    }
    return setup;
}

std::string AddBackpackSetup(std::vector<BackpackSetup>& setups, std::string_view text) {
    std::string error;
    std::optional<BackpackSetup> setup = ParseBackpackSetup(text, error);
    if (!setup) return error;
    for (const BackpackSetup& other : setups)
        if (other.wiring.address == setup->wiring.address)
            return "--" + std::string(kSimI2cOptionName) + " " + std::string(text) + ": " +
                   HexByte(other.wiring.address) + " holds " + other.Text() +
                   " already; one device per address";
    setups.push_back(std::move(*setup));
    return "";
}

std::string SimI2cOptionHelp() {
    return "Put a simulated I2C backpack on a simulated bus, " +
           std::string(SimulatedI2cBus::kNode) +
           ", which then stands in for the real I2C buses (they are left alone): "
           "ADDR=KIND[:LINE=PIN,...][,invert=LINE+LINE][,rw=ground][,no-module], KIND one of " +
           KindNames() +
           " at ADDR (hex, for example 0x27), wired as the kind's common backpack unless "
           "LINE=PIN items give the whole pin map, as --port-map takes it for that kind; invert= "
           "names lines a low pin drives (BL: a backlight lit by a low pin); rw=ground ties the "
           "module's RW to ground; no-module leaves the expander without a module, every pin "
           "loaded low as on a relay board. May be repeated, one device per address; drive one "
           "with --port-map BASE=KIND:" +
           std::string(SimulatedI2cBus::kNode) + "@ADDR.";
}

std::unique_ptr<SimulatedBackpack> SimulatedBackpack::Make(const BackpackSetup& setup,
                                                           Clock& clock) {
    const Model* model = ModelNamed(setup.kind);
    if (!model || !setup.chip) return nullptr;
    std::unique_ptr<SimulatedBackpack> backpack = model->make(setup, clock);
    // The module comes up on the lines the expander's power-on state gives it.
    backpack->module_.Place(backpack->ModuleLines());
    backpack->backlight_ = backpack->Backlight();
    return backpack;
}

SimulatedBackpack::SimulatedBackpack(const BackpackSetup& setup, Clock& clock)
    : setup_(setup), module_(clock, "the " + std::string(setup.chip->name)) {
    module_.SetControllerCount(1);
}

std::uint16_t SimulatedBackpack::PinLevels() const {
    std::uint16_t levels = 0;
    for (int p = 0; p < setup_.chip->pins; ++p)
        if (PinHigh(p)) levels |= static_cast<std::uint16_t>(1u << p);
    return levels;
}

bool SimulatedBackpack::PinHigh(int pin) const {
    const Drive drive = DriveOf(pin);
    const int target = Target(pin);
    if (drive == Drive::Low || (setup_.rwGrounded && target == kRwBit)) return false;
    if (drive == Drive::High) return true;
    if (!setup_.module) return false;  // a relay driver's input pulls it low
    // A transistor's base: an NPN's pulls the pin low, a PNP's (lit by a low pin) high.
    if (target == kBacklight) return Inverted(target);
    const bool direct = target >= 0 && !Inverted(target);
    if (direct && target < kDataLineCount && (module_.Drives() >> target & 1))
        return module_.Output() >> target & 1;
    if (drive == Drive::PullUp) return true;
    // The module pulls up RS, RW and the data lines; E floats, as an unused pin does.
    return direct && target != kE0Bit && target != kE1Bit;
}

std::optional<bool> SimulatedBackpack::Backlight() const {
    if (!setup_.module) return std::nullopt;
    std::optional<bool> lit;
    for (int p = 0; p < setup_.chip->pins; ++p) {
        if (Target(p) != kBacklight) continue;
        const Drive drive = DriveOf(p);
        const bool on = Inverted(kBacklight) ? drive == Drive::Low
                                             : drive == Drive::High || drive == Drive::PullUp;
        lit = lit.value_or(false) || on;
    }
    return lit;
}

ModulePins SimulatedBackpack::ModuleLines() const {
    ModulePins lines;  // control lines low, data lines pulled up, nothing driving them
    for (int p = 0; p < setup_.chip->pins; ++p) {
        const int target = Target(p);
        if (target < 0 || target == kBacklight) continue;
        const Drive drive = DriveOf(p);
        bool high = drive == Drive::High || drive == Drive::PullUp;
        bool drives = drive == Drive::High || drive == Drive::Low;
        if (Inverted(target)) {
            high = !high;  // a released pin without pull-up leaves the buffer's input low
            drives = true;
        } else if (drive == Drive::Released) {
            high = target != kE0Bit && target != kE1Bit;  // the module's pull-ups
        }
        if (target < kDataLineCount) {
            if (!high) lines.data &= static_cast<std::uint8_t>(~(1u << target));
            if (drives) lines.driven |= static_cast<std::uint8_t>(1u << target);
        } else if (high) {
            lines.control |= static_cast<std::uint8_t>(1u << (target - kDataLineCount));
        }
    }
    if (setup_.rwGrounded) lines.control &= static_cast<std::uint8_t>(~kLineRW);
    return lines;
}

void SimulatedBackpack::PinsChanged() {
    if (setup_.module) module_.Take(ModuleLines());
    const std::optional<bool> lit = Backlight();
    if (lit == backlight_) return;
    backlight_ = lit;
    if (backlightListener_) backlightListener_();
}
