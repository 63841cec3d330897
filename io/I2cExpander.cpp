#include "io/I2cExpander.h"

#include <algorithm>
#include <cerrno>

#include "base/HexText.h"
#include "io/MappingText.h"

namespace {

constexpr int kDataLineCount = 8;
constexpr std::string_view kBacklightName = "BL";
// Failed transfers in a row, after the device had answered, that mean it is gone.
constexpr int kFailuresForLost = 3;

std::string TargetName(int target) {
    return target == ExpanderPins::kBacklight ? std::string(kBacklightName)
                                              : std::string(LineName(target));
}

int TargetNamed(std::string_view name) {
    return name == kBacklightName ? ExpanderPins::kBacklight : LineBitNamed(name);
}

int PinNamed(const ExpanderChip& chip, std::string_view name) {
    for (int p = 0; p < chip.pins; ++p)
        if (chip.pinNames[p] == name) return p;
    return -1;
}

std::string Shape(const ExpanderChip& chip) {
    return "expected /dev/i2c-N@ADDRESS, for example " + std::string(chip.example);
}

}  // namespace

LineSet ExpanderPins::Wired() const {
    LineSet wired = 0;
    for (const int target : pin)
        if (target >= 0 && target < kBacklight) wired |= static_cast<LineSet>(1u << target);
    return wired;
}

int ExpanderPins::PinOf(int target) const {
    for (int p = 0; p < kMostExpanderPins; ++p)
        if (pin[static_cast<std::size_t>(p)] == target) return p;
    return -1;
}

std::string ExpanderDevice::WiringText(const ExpanderChip& chip) const {
    std::string text;
    const auto add = [&](const std::string& item) { text += (text.empty() ? "" : ", ") + item; };
    const auto target = [&](int p) { return map.pin[static_cast<std::size_t>(p)]; };
    const auto mark = [&](int line) { return inverted >> line & 1 ? " inverted" : ""; };
    std::string backlight;  // its pins, where the first of them stands
    for (int p = 0; p < chip.pins; ++p) {
        const int line = target(p);
        const std::string pin(chip.pinNames[p]);
        if (line == ExpanderPins::kNone) continue;
        if (line == ExpanderPins::kBacklight) {
            if (backlight.empty()) add("\x01");
            backlight += (backlight.empty() ? "" : "+") + pin;
            continue;
        }
        // Three or more data lines in a row on pins in a row, none inverted,
        // read as one range.
        int last = p;
        while (line < kDataLineCount && !(inverted >> line & 1) && last + 1 < chip.pins &&
               target(last + 1) == line + (last + 1 - p) && target(last + 1) < kDataLineCount &&
               !(inverted >> target(last + 1) & 1))
            ++last;
        if (last - p >= 2) {
            add(TargetName(line) + ".." + TargetName(target(last)) + "=" + pin + ".." +
                std::string(chip.pinNames[last]));
            p = last;
        } else {
            add(TargetName(line) + "=" + pin + mark(line));
        }
    }
    if (!backlight.empty()) {
        const bool low = inverted >> ExpanderPins::kBacklight & 1;
        text.replace(text.find('\x01'), 1,
                     "backlight " + backlight + (backlightOn ? " on" : " off") +
                         (low ? " (lit by a low pin)" : ""));
    }
    // What the wiring lacks, said once here so the refusals need not surprise.
    const std::string lacks = WiringLacks(Wiring(chip, false));
    return lacks.empty() ? text : text + "; " + lacks;
}

PortWiring ExpanderDevice::Wiring(const ExpanderChip& chip) const {
    return Wiring(chip, true);
}

PortWiring ExpanderDevice::Wiring(const ExpanderChip& chip, bool withText) const {
    PortWiring wiring;
    wiring.wired = map.Wired();
    wiring.invertedAtModule = 0;  // the tool undoes the inverting stages itself
    if (withText) wiring.text = WiringText(chip);
    return wiring;
}

std::string ExpanderDevice::MappingText(const ExpanderChip& chip) const {
    std::string text = bus + "@" + HexByte(address);
    if (map == chip.common && inverted == chip.commonInverted) return text;
    std::string items;
    const auto add = [&](const std::string& item) { items += (items.empty() ? "" : ",") + item; };
    for (const int line : kLinesInPinOrder)
        if (const int pin = map.PinOf(line); pin >= 0)
            add(TargetName(line) + "=" + std::string(chip.pinNames[pin]));
    for (int p = 0; p < chip.pins; ++p)
        if (map.pin[static_cast<std::size_t>(p)] == ExpanderPins::kBacklight)
            add("BL=" + std::string(chip.pinNames[p]));
    std::string invert;
    for (int line = 0; line <= ExpanderPins::kBacklight; ++line)
        if (inverted >> line & 1) invert += (invert.empty() ? "" : "+") + TargetName(line);
    if (!invert.empty()) add("invert=" + invert);
    return text + ":" + items;
}

std::uint16_t ExpanderDevice::PinsOf(const ExpanderChip& chip, const LineLevels& lines) const {
    std::uint16_t pins = 0;
    for (int p = 0; p < chip.pins; ++p) {
        const int target = map.pin[static_cast<std::size_t>(p)];
        const bool invert = target >= 0 && (inverted >> target & 1);
        bool high = true;  // an unused pin stays a weak input, as at power-on
        if (target == ExpanderPins::kBacklight)
            high = backlightOn != invert;
        else if (target >= kDataLineCount)
            high = static_cast<bool>(lines.control >> (target - kDataLineCount) & 1) != invert;
        else if (target >= 0)  // a data pin to be read is written high, whatever it inverts
            high = lines.dataInput || static_cast<bool>(lines.data >> target & 1) != invert;
        if (high) pins |= static_cast<std::uint16_t>(1u << p);
    }
    return pins;
}

std::uint16_t ExpanderDevice::DataPins(const ExpanderChip& chip) const {
    std::uint16_t pins = 0;
    for (int p = 0; p < chip.pins; ++p) {
        const int target = map.pin[static_cast<std::size_t>(p)];
        if (target >= 0 && target < kDataLineCount) pins |= static_cast<std::uint16_t>(1u << p);
    }
    return pins;
}

std::uint8_t ExpanderDevice::DataOf(const ExpanderChip& chip, std::uint16_t pins) const {
    std::uint8_t data = 0xFF;
    for (int p = 0; p < chip.pins; ++p) {
        const int target = map.pin[static_cast<std::size_t>(p)];
        if (target < 0 || target >= kDataLineCount) continue;
        const bool high =
            static_cast<bool>(pins >> p & 1) != static_cast<bool>(inverted >> target & 1);
        if (!high) data &= static_cast<std::uint8_t>(~(1u << target));
    }
    return data;
}

std::optional<ExpanderDevice> ParseExpanderDevice(const ExpanderChip& chip, std::string_view text,
                                                  std::string& error) {
    const auto fail = [&](std::string why) -> std::optional<ExpanderDevice> {
        error = std::move(why);
        return std::nullopt;
    };
    const std::size_t at = text.find('@');
    if (!text.starts_with(kI2cBusPrefix) || at == std::string_view::npos) return fail(Shape(chip));
    ExpanderDevice device;
    device.map = chip.common;
    device.inverted = chip.commonInverted;
    device.bus = std::string(text.substr(0, at));
    if (!ParseNumber(text.substr(kI2cBusPrefix.size(), at - kI2cBusPrefix.size()),
                     device.busNumber))
        return fail(device.bus + " is no I2C bus: " + Shape(chip));

    std::string_view rest = text.substr(at + 1);
    const std::size_t end = std::min(rest.find_first_of(":,"), rest.size());
    std::string why;
    const auto address = ParseI2cAddress(rest.substr(0, end), "@0x27", why);
    if (!address) return fail(why);
    device.address = *address;
    if (end == rest.size()) return device;

    ExpanderPins map = NoPins();
    bool mapped = false;
    std::optional<bool> backlight;
    std::optional<std::uint32_t> inverted;
    std::vector<MappingItem> items = MappingItems(rest.substr(end + 1));
    if (items.empty()) items.push_back({});  // a separator with nothing after it
    for (const MappingItem& item : items) {
        if (!item.hasValue)
            return fail(Quoted(item.text) + " is neither LINE=" + std::string(chip.pinForm) +
                        " nor backlight=on|off, for example " + std::string(chip.example) + ":" +
                        std::string(chip.mapExample));
        if (item.key == "backlight") {
            if (backlight) return fail("backlight is given twice");
            if (item.value != "on" && item.value != "off")
                return fail("backlight=" + std::string(item.value) +
                            ": expected backlight=on or backlight=off");
            backlight = item.value == "on";
            continue;
        }
        if (item.key == "invert") {
            inverted = 0;
            for (const MappingItem& name : MappingItems(item.value, '+')) {
                const int target = TargetNamed(name.text);
                if (target < 0)
                    return fail("invert=" + std::string(item.value) + ": unknown line " +
                                Quoted(name.text) +
                                "; the lines are D0..D7, E0, E1, RS, RW and BL (the backlight)");
                *inverted |= 1u << target;
            }
            continue;
        }
        const int target = TargetNamed(item.key);
        if (target < 0)
            return fail("unknown line " + Quoted(item.key) +
                        ": expected D0..D7, E0, E1, RS, RW or BL (the backlight)");
        const int pin = PinNamed(chip, item.value);
        if (pin < 0)
            return fail(Quoted(item.value) + " is no " + std::string(chip.name) +
                        " pin: expected " + std::string(chip.pinRange));
        // A backlight may take several pins (red, green and blue).
        if (target != ExpanderPins::kBacklight && map.PinOf(target) >= 0)
            return fail(std::string(item.key) + " is named twice");
        if (const int taken = map.pin[static_cast<std::size_t>(pin)]; taken != ExpanderPins::kNone)
            return fail(std::string(item.value) + " is named twice, for " + TargetName(taken) +
                        " and " + std::string(item.key));
        map.pin[static_cast<std::size_t>(pin)] = target;
        mapped = true;
    }
    if (mapped) {  // a pin map of its own replaces the whole common one
        device.map = map;
        device.inverted = 0;
    }
    if (inverted) {
        for (int target = 0; target <= ExpanderPins::kBacklight; ++target)
            if (*inverted >> target & 1 && device.map.PinOf(target) < 0)
                return fail("invert= names " + TargetName(target) +
                            ", which the mapping does not wire");
        device.inverted = *inverted;
    }
    if (backlight) {
        if (device.map.PinOf(ExpanderPins::kBacklight) < 0)
            return fail(std::string("backlight=") + (*backlight ? "on" : "off") +
                        " needs the backlight's pin: add BL=" + std::string(chip.pinForm) +
                        " to the map");
        device.backlightOn = *backlight;
    }
    return device;
}

ExpanderPort::ExpanderPort(const ExpanderChip& chip, ExpanderDevice device,
                           const OpenRequest& request)
    : chip_(chip),
      device_(std::move(device)),
      i2c_(request.sys, device_.bus, device_.busNumber, device_.address),
      base_(request.base),
      context_(request.context) {}

ExpanderPort::~ExpanderPort() {
    if (const int closed = i2c_.Close(); closed < 0)
        context_.Report("i2c-close:" + device_.bus,
                        "cannot close " + device_.bus + ": " + ErrorText(closed));
}

std::unique_ptr<PortBackend> ExpanderPort::Open(const ExpanderChip& chip,
                                                const ExpanderDevice& device,
                                                const OpenRequest& request) {
    auto port = std::make_unique<ExpanderPort>(chip, device, request);
    port->Connect();
    return port;
}

std::string ExpanderPort::Where() const {
    return "the " + std::string(chip_.name) + " at " + HexByte(device_.address) + " on " +
           device_.bus;
}

std::string ExpanderPort::Describe() const {
    return Where() + " (" + device_.WiringText(chip_) + ")" +
           (reached_ ? "" : ", not reached: its writes are dropped");
}

void ExpanderPort::Connect() {
    const std::string& bus = device_.bus;
    const std::string at = bus + "@" + HexByte(device_.address);
    if (const int opened = i2c_.OpenBus(); opened < 0) {
        context_.Report("i2c-open:" + bus, i2c_.OpenProblem(opened));
        return;
    }
    // Nothing was sent when any of these fails, so nothing is lost if the close fails too.
    if ((i2c_.Functions() & chip_.functions) != chip_.functions) {
        context_.Report("i2c-functions:" + bus, "the adapter of " + bus + " cannot " +
                                                    std::string(chip_.functionsText) +
                                                    ": put the backpack on another I2C bus");
        i2c_.Close();
        return;
    }
    if (const int claimed = i2c_.Claim(); claimed < 0) {
        context_.Report("i2c-address:" + at, i2c_.ClaimProblem(claimed));
        i2c_.Close();
        return;
    }
    if (const int greeted = chip_.greet(i2c_, found_); greeted < 0) {
        context_.Report("i2c-probe:" + at,
                        NoAcknowledge(greeted)
                            ? "no device answers at " + HexByte(device_.address) + " on " + bus +
                                  ": check the address with i2cdetect -y " +
                                  std::to_string(device_.busNumber) + " (" +
                                  std::string(chip_.addresses) +
                                  "), and the wiring and power of SDA, SCL, VCC and GND"
                            : "cannot read " + Where() + ": " + ErrorText(greeted) +
                                  " — check the bus (dmesg | grep i2c)");
        i2c_.Close();
        return;
    }
    reached_ = true;
}

void ExpanderPort::ReportTransferFailure(bool reading, int error) {
    if (error == -ENODEV || (NoAcknowledge(error) && ++failuresInARow_ >= kFailuresForLost)) {
        lost_ = true;
        context_.ReportLost(base_, "i2c-lost:" + device_.bus + "@" + HexByte(device_.address),
                            Where() + (error == -ENODEV ? " is gone" : " stopped answering") +
                                " (" + ErrorText(error) +
                                "): the run stopped — plug the USB bridge back in or check the "
                                "backpack's wiring and power, then start lcdtest again");
        return;
    }
    context_.Report("i2c-transfer:" + device_.bus + ":" + std::to_string(-error),
                    (reading ? "reading " : "sending to ") + Where() +
                        " failed: " + ErrorText(error) +
                        " — the module did not get it; check the backpack's wiring and power");
}

void ExpanderPort::Apply(std::uint32_t, const LineLevels& lines, LineGroup) {
    if (!reached_ || lost_) return;  // dropped; why was told when it happened
    std::uint16_t inputs = 0;
    if (!chip_.quasiBidirectional) {
        for (int p = 0; p < chip_.pins; ++p)
            if (device_.map.pin[static_cast<std::size_t>(p)] == ExpanderPins::kNone)
                inputs |= static_cast<std::uint16_t>(1u << p);
        if (lines.dataInput) inputs |= device_.DataPins(chip_);
    }
    const PinState pins{device_.PinsOf(chip_, lines), inputs};
    if (pins_ == pins) return;  // no pin changes, so nothing goes on the wire
    if (!pins_) {
        // The pins as found may hold E high (a PCF8574 powers up with every pin
        // high, and the module then drives the data lines): E goes to rest
        // alone first, every other pin released, so the module takes no cycle
        // of the other lines' first change and nothing drives against it.
        std::uint16_t enables = 0, rest = 0;
        for (const int line : {8, 11}) {
            const int pin = device_.map.PinOf(line);
            if (pin < 0) continue;
            enables |= static_cast<std::uint16_t>(1u << pin);
            if (device_.inverted >> line & 1) rest |= static_cast<std::uint16_t>(1u << pin);
        }
        const auto all = static_cast<std::uint16_t>((1u << chip_.pins) - 1);
        const PinState lowered{static_cast<std::uint16_t>((all & ~enables) | rest),
                               static_cast<std::uint16_t>(found_.inputs & ~enables)};
        const bool atRest = (found_.levels & enables) == rest && !(found_.inputs & enables);
        if (!atRest) {
            if (const int error = chip_.write(i2c_, lowered, found_); error < 0) {
                ReportTransferFailure(false, error);
                return;
            }
            failuresInARow_ = 0;
            pins_ = lowered;
        }
    }
    if (const int error = chip_.write(i2c_, pins, pins_); error < 0) {
        ReportTransferFailure(false, error);
        return;
    }
    failuresInARow_ = 0;
    pins_ = pins;
}

std::optional<std::uint8_t> ExpanderPort::ReadData(std::uint32_t) {
    if (!reached_ || lost_) return std::nullopt;
    std::uint16_t pins = 0;
    if (const int error = chip_.read(i2c_, device_.DataPins(chip_), pins); error < 0) {
        ReportTransferFailure(true, error);
        return std::nullopt;
    }
    failuresInARow_ = 0;
    return device_.DataOf(chip_, pins);
}
