// A module on the lines of a GPIO chip (/dev/gpiochipN), one chip line per
// module line, as the mapping names them:
//
//   --port-map 0x378=/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18
//
//   module line  module pin  mapping   Raspberry Pi 40-pin header (/dev/gpiochip0)
//   RS           4           RS=7      GPIO7,  pin 26
//   RW           5           RW=N      not wired: module pin 5 to ground
//   E0           6           E0=8      GPIO8,  pin 24
//   D0 .. D3     7 .. 10     D0=N ...  not wired (4-bit bus only)
//   D4           11          D4=25     GPIO25, pin 22
//   D5           12          D5=24     GPIO24, pin 18
//   D6           13          D6=23     GPIO23, pin 16
//   D7           14          D7=18     GPIO18, pin 12
//   E1           (40x4)      E1=N      not wired (one controller only)
//
// A chip may be named by its label instead (gpio:LABEL:RS=7,...), and the
// Raspberry Pi's header as gpio:pi-header:RS=7,..., whichever chip carries it
// (pinctrl-bcm2835 on the Pi 1 to 3, pinctrl-bcm2711 on the Pi 4, pinctrl-rp1
// on the Pi 5, /dev/gpiochip0 or /dev/gpiochip4 by kernel release).
//
// Each line carries the level the dialog shows (no parallel-port inversions);
// invert=LINE+LINE names lines that pass an inverting buffer, which the tool
// undoes. A line not named is not wired: runs and Verify that need it are
// refused. The module's data lines at 5 V would damage 3.3 V GPIO pins, so
// reads need reads=safe (a level shifter, or a 3.3 V module).

#include <fcntl.h>
#include <linux/gpio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/HexText.h"
#include "base/ListText.h"
#include "io/MappingText.h"
#include "io/Transport.h"

namespace {

constexpr std::string_view kChipPrefix = "/dev/gpiochip";
// The chips that carry a Raspberry Pi's 40-pin header, by the labels their
// drivers give them.
constexpr std::string_view kPiHeader = "pi-header";
constexpr std::string_view kPiHeaderLabels[] = {"pinctrl-bcm2835", "pinctrl-bcm2711",
                                                "pinctrl-rp1"};
constexpr std::string_view kChipName = "gpiochip";
constexpr const char kConsumer[] = "lcdtest";
constexpr const char kExample[] = "/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18";
constexpr const char kNoReads[] =
    "5 V from the module's data lines can damage 3.3 V GPIO pins; add reads=safe to the mapping "
    "once a level shifter or a 3.3 V module makes reads safe";

// A parsed mapping: which chip line each module line is on.
struct GpioMapping {
    std::string chip;  // "/dev/gpiochip0", or what names it: a label, "pi-header"
    // The labels the chip may have, when it is named by one; none for a node.
    std::vector<std::string> labels;
    // The chip line offset of each module line, by LineSet bit; nullopt: not wired.
    std::array<std::optional<std::uint32_t>, kModuleLineCount> offsets{};
    LineSet inverted = 0;  // lines through an inverting buffer
    bool readsSafe = false;

    LineSet Wired() const {
        LineSet wired = 0;
        for (int bit = 0; bit < kModuleLineCount; ++bit)
            if (offsets[static_cast<std::size_t>(bit)]) wired |= static_cast<LineSet>(1u << bit);
        return wired;
    }
    const std::optional<std::uint32_t>& OffsetOf(int bit) const {
        return offsets[static_cast<std::size_t>(bit)];
    }
};

// "RS=7, E0=8 inverted, D4=25": the wired lines with their offsets, in pin order.
std::string WiredText(const GpioMapping& mapping) {
    std::string text;
    for (const int bit : kLinesInPinOrder) {
        const auto& offset = mapping.OffsetOf(bit);
        if (!offset) continue;
        text += (text.empty() ? "" : ", ") + std::string(LineName(bit)) + "=" +
                std::to_string(*offset) + (mapping.inverted >> bit & 1 ? " inverted" : "");
    }
    return text;
}

// invert=LINE+LINE: the lines named; false with the usage error.
bool ParseInverted(std::string_view names, LineSet& inverted, std::string& error) {
    std::vector<MappingItem> items = MappingItems(names, '+');
    if (items.empty()) items.push_back({});  // "invert=" names no line
    for (const MappingItem& name : items) {
        const int bit = LineBitNamed(name.text);
        if (bit < 0) {
            error = "invert=" + std::string(names) + ": unknown line " + Quoted(name.text) +
                    "; the lines are D0..D7, E0, E1, RS and RW";
            return false;
        }
        inverted |= static_cast<LineSet>(1u << bit);
    }
    return true;
}

std::optional<GpioMapping> ParseGpioMapping(std::string_view device, std::string& error) {
    const auto fail = [&](std::string why) -> std::optional<GpioMapping> {
        error = std::move(why);
        return std::nullopt;
    };
    GpioMapping mapping;
    const std::size_t colon = device.find(':');
    const std::string_view chip = device.substr(0, colon);
    std::uint32_t number = 0;
    if (chip == kPiHeader)
        mapping.labels.assign(std::begin(kPiHeaderLabels), std::end(kPiHeaderLabels));
    else if (!chip.starts_with("/") && !chip.empty())
        mapping.labels = {std::string(chip)};
    else if (!chip.starts_with(kChipPrefix) ||
             !ParseNumber(chip.substr(kChipPrefix.size()), number))
        return fail("bad GPIO chip " + Quoted(chip) + ": expected /dev/gpiochipN, for example " +
                    kExample + ", or the chip's label (gpio:LABEL:...) or gpio:pi-header:...");
    mapping.chip = std::string(chip);
    const std::string_view items = colon == std::string_view::npos ? "" : device.substr(colon + 1);
    for (const MappingItem& item : MappingItems(items)) {
        if (item.key == "reads") {
            if (item.value != "safe")
                return fail(Quoted(item.text) + ": reads= takes only safe (reads=safe)");
            mapping.readsSafe = true;
            continue;
        }
        if (item.key == "invert") {
            if (!ParseInverted(item.value, mapping.inverted, error)) return std::nullopt;
            continue;
        }
        const int bit = LineBitNamed(item.key);
        if (bit < 0)
            return fail("unknown line " + Quoted(item.key) +
                        ": name D0..D7, E0, E1, RS or RW as LINE=OFFSET, then if need be "
                        "invert=LINE+LINE and reads=safe");
        if (mapping.OffsetOf(bit)) return fail(std::string(item.key) + " is named twice");
        std::uint32_t offset = 0;
        if (!ParseNumber(item.value, offset))
            return fail(Quoted(item.text) + ": the line offset must be a number, for example " +
                        std::string(item.key) + "=7");
        for (const int other : kLinesInPinOrder) {
            if (mapping.OffsetOf(other) == offset)
                return fail("offset " + std::to_string(offset) + " is given to both " +
                            std::string(LineName(other)) + " and " + std::string(item.key));
        }
        mapping.offsets[static_cast<std::size_t>(bit)] = offset;
    }
    if (!mapping.Wired())
        return fail("nothing wired: name the lines and their offsets, for example " +
                    std::string(kExample));
    if (const LineSet unwired = mapping.inverted & ~mapping.Wired())
        return fail("invert= names " + LineSetNames(unwired) + ", which the mapping does not wire");
    return mapping;
}

PortWiring GpioWiring(const GpioMapping& mapping) {
    PortWiring wiring;
    wiring.wired = mapping.Wired();
    wiring.invertedAtModule = 0;  // the tool undoes the inverting buffers itself
    if (!mapping.readsSafe) wiring.noReads = kNoReads;
    wiring.text = WiredText(mapping);
    return wiring;
}

std::uint64_t RequestMask(int lines) {
    return lines >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << lines) - 1;
}

constexpr const char kCheckKernel[] = "check what the kernel says about the chip (dmesg)";
constexpr const char kNoSuchChip[] = "no such GPIO chip";
constexpr const char kJoinGroup[] =
    "add your user to group gpio (sudo usermod -aG gpio $USER) and log in again; if the chip's "
    "node is not in group gpio, install the udev rule 60-gpio.rules from the tool's documents in "
    "/etc/udev/rules.d/";
constexpr ErrorFix kOpenFixes[] = {
    {ENOENT, kNoSuchChip}, {ENODEV, kNoSuchChip}, {ENXIO, kNoSuchChip},
    {EACCES, kJoinGroup},  {EPERM, kJoinGroup},   {0, kCheckKernel},
};
// EBUSY: after the lines held and who holds them.
constexpr ErrorFix kRequestFixes[] = {
    {EBUSY, "close it, or free the line (gpioinfo shows who holds each line)"},
    {0, "check the mapping and what the kernel says (dmesg)"},
};

bool IsGone(int error) {
    // ENODEV once the chip is unregistered; a USB bridge may answer ENXIO or
    // EIO first, while it is being torn down.
    return error == -ENODEV || error == -ENXIO || error == -EIO;
}

// The kernel's GPIO character device, v2 uAPI (linux/gpio.h), called directly:
// Debian 12 ships libgpiod 1.6 (over the obsolete v1 ioctls), Debian 13 the
// incompatible 2.x, and the dozen ioctls the tool needs are stable kernel ABI.
//
// All wired lines are taken at start as one request, outputs at the dialog's
// levels. A refresh sets the lines that changed; turning the data lines around
// reconfigures the request with the other lines' values given, so no output
// moves. A chip that goes away (a USB bridge unplugged) is reported lost: runs
// stop, the tool goes on.
class GpioPort final : public PortBackend {
public:
    GpioPort(GpioMapping mapping, const OpenRequest& request);
    ~GpioPort() override;
    GpioPort(const GpioPort&) = delete;
    GpioPort& operator=(const GpioPort&) = delete;

    std::string Describe() const override;
    void Apply(std::uint32_t base, const LineLevels& lines, LineGroup group) override;
    std::optional<std::uint8_t> ReadData(std::uint32_t base) override;
    PortWiring Wiring(std::uint32_t) const override { return GpioWiring(mapping_); }

    // Opens the chip and takes the lines; false, after telling why, when that fails.
    bool Open();

private:
    // The request's value bits of module lines (their levels as the pins carry them).
    std::uint64_t PinBits(LineSet lines) const;
    bool Take(int chipFd);
    // A request on the lines; false, after telling why, when it fails.
    bool LineRequest(unsigned long request, void* arg, const char* what);
    bool SetValues(std::uint64_t pins, std::uint64_t mask);
    bool TurnData(bool input, std::uint64_t pins);
    void ReportOpenProblem(const std::string& cause, const std::string& message);
    std::string ChipsFound() const;
    std::string HeldLines(int chipFd) const;
    // The node of the chip the mapping names by label; "" after telling why not.
    std::string FindByLabel();
    // "/dev/gpiochip4 labelled pinctrl-rp1", "labelled pinctrl-rp1" before it is found.
    std::string ChipName() const;

    std::uint32_t base_;
    GpioMapping mapping_;
    std::string node_;  // the chip's device node, once known
    std::shared_ptr<KernelSystem> sys_;
    TransportContext& context_;
    LineLevels start_;                           // the levels the lines are taken at
    std::array<int, kModuleLineCount> index_{};  // request index by LineSet bit; -1: none
    int lineCount_ = 0;
    int lineFd_ = -1;         // the line request; -1 when not taken or lost
    std::uint64_t pins_ = 0;  // the levels the request's outputs carry
    bool dataInput_ = false;
    bool reached_ = false;
};

GpioPort::GpioPort(GpioMapping mapping, const OpenRequest& request)
    : base_(request.base),
      mapping_(std::move(mapping)),
      sys_(request.sys),
      context_(request.context),
      start_(request.start) {
    // The request holds the wired lines in LineSet order: D0..D7, E0, RW, RS, E1.
    for (std::size_t bit = 0; bit < index_.size(); ++bit)
        index_[bit] = mapping_.offsets[bit] ? lineCount_++ : -1;
}

GpioPort::~GpioPort() {
    // The lines keep their levels once released; nothing is written at the end.
    if (lineFd_ >= 0) sys_->Close(lineFd_);
}

std::string GpioPort::Describe() const {
    const PortWiring wiring = GpioWiring(mapping_);
    const std::string missing = WiringLacks(wiring);
    return "the GPIO chip " + ChipName() + " (" + wiring.text +
           (missing.empty() ? "" : "; " + missing) + ")" +
           (reached_ ? "" : ", not reached: its writes are dropped");
}

std::uint64_t GpioPort::PinBits(LineSet lines) const {
    std::uint64_t bits = 0;
    for (std::size_t bit = 0; bit < index_.size(); ++bit)
        if (index_[bit] >= 0 && (lines >> bit & 1)) bits |= std::uint64_t{1} << index_[bit];
    return bits;
}

void GpioPort::ReportOpenProblem(const std::string& cause, const std::string& message) {
    context_.Report(cause + ":" + mapping_.chip, message);
}

std::string GpioPort::ChipName() const {
    if (mapping_.labels.empty()) return node_;
    const std::string label = "labelled " + (mapping_.labels.size() == 1 ? mapping_.labels.front()
                                                                         : std::string(kPiHeader));
    return node_.empty() ? label : node_ + " " + label;
}

std::string GpioPort::FindByLabel() {
    std::vector<std::uint32_t> numbers;
    ListNumbered(*sys_, kDeviceDir, kChipName, numbers);
    std::string seen;  // "/dev/gpiochip0 (pinctrl-bcm2711)": what there is
    for (const std::uint32_t number : numbers) {
        const std::string node = std::string(kChipPrefix) + std::to_string(number);
        const int fd = sys_->Open(node, O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            ReportOpenProblem("gpio-open", "cannot open " + node + " to read its label: " +
                                               ErrorText(fd) + " — " + FixFor(fd, kOpenFixes));
            return "";
        }
        gpiochip_info info{};
        const int asked = sys_->Ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info);
        sys_->Close(fd);
        const std::string label(info.label, strnlen(info.label, sizeof info.label));
        if (asked >= 0 && std::find(mapping_.labels.begin(), mapping_.labels.end(), label) !=
                              mapping_.labels.end())
            return node;
        seen += (seen.empty() ? "" : ", ") + node + (label.empty() ? "" : " (" + label + ")");
    }
    ReportOpenProblem("gpio-label",
                      (mapping_.chip == kPiHeader ? "no Raspberry Pi header here: no GPIO chip is "
                                                    "labelled "
                                                  : "no GPIO chip is labelled ") +
                          Alternatives(mapping_.labels) + " (" +
                          (seen.empty() ? "no GPIO chip under /dev" : "the chips: " + seen) +
                          ") — fix the mapping (gpiodetect lists the chips with their labels)");
    return "";
}

// "/dev/gpiochip0, /dev/gpiochip1", in number order; "" for none.
std::string GpioPort::ChipsFound() const {
    std::vector<std::uint32_t> numbers;
    ListNumbered(*sys_, kDeviceDir, kChipName, numbers);
    std::string chips;
    for (const std::uint32_t number : numbers)
        chips += (chips.empty() ? "" : ", ") + std::string(kChipPrefix) + std::to_string(number);
    return chips;
}

// "RS=7 ("spi0 CS1"), E0=8": the wired lines the kernel says someone holds,
// with their holders; all wired lines when it does not say.
std::string GpioPort::HeldLines(int chipFd) const {
    std::string held;
    for (const int bit : kLinesInPinOrder) {
        const auto& offset = mapping_.OffsetOf(bit);
        if (!offset) continue;
        gpio_v2_line_info info{};
        info.offset = *offset;
        if (sys_->Ioctl(chipFd, GPIO_V2_GET_LINEINFO_IOCTL, &info) < 0 ||
            !(info.flags & GPIO_V2_LINE_FLAG_USED))
            continue;
        const std::string consumer(info.consumer, strnlen(info.consumer, sizeof info.consumer));
        held += (held.empty() ? "" : ", ") + std::string(LineName(bit)) + "=" +
                std::to_string(*offset) + (consumer.empty() ? "" : " (" + Quoted(consumer) + ")");
    }
    return held.empty() ? "one of " + WiredText(mapping_) : held;
}

bool GpioPort::Open() {
    node_ = mapping_.labels.empty() ? mapping_.chip : FindByLabel();
    if (node_.empty()) return false;
    const std::string& chip = node_;
    const int fd = sys_->Open(chip, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::string fix = FixFor(fd, kOpenFixes);
        if (fix == kNoSuchChip) {
            const std::string chips = ChipsFound();
            fix = chips.empty() ? "no GPIO chip under /dev: load the driver of the board's or the "
                                  "USB bridge's GPIO chip (dmesg shows what the kernel found)"
                                : fix + " (found under /dev: " + chips + "; gpiodetect names them)";
        }
        ReportOpenProblem("gpio-open", "cannot open " + chip + ": " + ErrorText(fd) + " — " + fix);
        return false;
    }
    // The line request lives on without the chip's descriptor.
    reached_ = Take(fd);
    sys_->Close(fd);
    return reached_;
}

bool GpioPort::Take(int chipFd) {
    const std::string& chip = node_;
    gpiochip_info info{};
    if (const int error = sys_->Ioctl(chipFd, GPIO_GET_CHIPINFO_IOCTL, &info); error < 0) {
        ReportOpenProblem("gpio-info", "cannot ask " + chip + " for its lines: " +
                                           ErrorText(error) + " — is it a GPIO chip? (dmesg)");
        return false;
    }
    std::string missing;
    for (const int bit : kLinesInPinOrder) {
        const auto& offset = mapping_.OffsetOf(bit);
        if (offset && *offset >= info.lines)
            missing += (missing.empty() ? "" : ", ") + std::string(LineName(bit)) + "=" +
                       std::to_string(*offset);
    }
    if (!missing.empty()) {
        const std::string label(info.label, strnlen(info.label, sizeof info.label));
        ReportOpenProblem("gpio-offsets", "a line offset the chip lacks: " + missing + " (" + chip +
                                              (label.empty() ? "" : ", " + label + ",") + " has " +
                                              std::to_string(info.lines) + " lines, offsets 0 to " +
                                              std::to_string(info.lines - 1) +
                                              ") — fix the mapping (gpioinfo " + chip +
                                              " lists the lines)");
        return false;
    }

    gpio_v2_line_request request{};
    for (std::size_t bit = 0; bit < index_.size(); ++bit)
        if (index_[bit] >= 0)
            request.offsets[static_cast<std::size_t>(index_[bit])] = *mapping_.offsets[bit];
    request.num_lines = static_cast<std::uint32_t>(lineCount_);
    std::memcpy(request.consumer, kConsumer, sizeof kConsumer);
    // Outputs from the start, at the levels the dialog shows now: taking a line
    // as an output without values would drive it low.
    const LineLevels& now = start_;
    const std::uint64_t pins =
        PinBits((DataLines(now.data) | ControlLines(now.control)) ^ mapping_.inverted);
    request.config.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    request.config.num_attrs = 1;
    request.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
    request.config.attrs[0].attr.values = pins;
    request.config.attrs[0].mask = RequestMask(lineCount_);
    if (const int error = sys_->Ioctl(chipFd, GPIO_V2_GET_LINE_IOCTL, &request); error < 0) {
        const std::string held =
            error == -EBUSY ? "another program or driver holds " + HeldLines(chipFd) + ": " : "";
        ReportOpenProblem("gpio-request", "cannot take the lines of " + chip + ": " +
                                              ErrorText(error) + " — " + held +
                                              FixFor(error, kRequestFixes));
        return false;
    }
    lineFd_ = request.fd;
    pins_ = pins;
    return true;
}

bool GpioPort::LineRequest(unsigned long request, void* arg, const char* what) {
    const int error = sys_->Ioctl(lineFd_, request, arg);
    if (error >= 0) return true;
    const std::string& chip = node_;
    if (IsGone(error)) {
        sys_->Close(lineFd_);
        lineFd_ = -1;
        context_.ReportLost(base_, "gpio-lost:" + chip,
                            "the GPIO chip " + chip + " went away (" + ErrorText(error) +
                                "): the run stopped; plug it back in and start lcdtest "
                                "again");
        return false;
    }
    context_.Report("gpio-" + std::string(what) + ":" + chip + ":" + std::to_string(-error),
                    std::string(what) + " the lines of " + HexAddress(base_) + " on " + chip +
                        " failed: " + ErrorText(error) + " — " + kCheckKernel);
    return false;
}

bool GpioPort::SetValues(std::uint64_t pins, std::uint64_t lines) {
    const std::uint64_t changed = lines & (pins ^ pins_);
    if (!changed) return true;
    gpio_v2_line_values values{};
    values.bits = pins & changed;
    values.mask = changed;
    if (!LineRequest(GPIO_V2_LINE_SET_VALUES_IOCTL, &values, "setting")) return false;
    pins_ = (pins_ & ~changed) | values.bits;
    return true;
}

// The data lines become inputs (pulled up, so no module reads 0xFF as on the
// parallel port) or outputs again at the latch's levels. The other lines stay
// outputs, and their values are given: the kernel drives an output it is given
// no value for low, and a glitch on E or RS is a cycle the module takes.
bool GpioPort::TurnData(bool input, std::uint64_t pins) {
    const std::uint64_t data = PinBits(DataLines(0xFF));
    const std::uint64_t all = RequestMask(lineCount_);
    gpio_v2_line_config config{};
    config.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    std::uint64_t next = pins_;
    if (input) {
        config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_FLAGS;
        config.attrs[0].attr.flags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
        config.attrs[0].mask = data;
        config.attrs[1].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
        config.attrs[1].attr.values = pins_ & ~data;
        config.attrs[1].mask = all & ~data;
        config.num_attrs = config.attrs[1].mask ? 2 : 1;
    } else {
        next = (pins_ & ~data) | (pins & data);
        config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
        config.attrs[0].attr.values = next;
        config.attrs[0].mask = all;
        config.num_attrs = 1;
    }
    if (data && !LineRequest(GPIO_V2_LINE_SET_CONFIG_IOCTL, &config, "turning around"))
        return false;
    pins_ = next;
    dataInput_ = input;
    return true;
}

void GpioPort::Apply(std::uint32_t, const LineLevels& lines, LineGroup group) {
    if (lineFd_ < 0) return;  // not reached (told at start) or lost (told then)
    const std::uint64_t pins =
        PinBits((DataLines(lines.data) | ControlLines(lines.control)) ^ mapping_.inverted);
    if (group == LineGroup::Data) {
        // Inputs take no values: the latch goes out when they turn back.
        if (!dataInput_) SetValues(pins, PinBits(DataLines(0xFF)));
        return;
    }
    // Inputs before RW may rise; RW low again before the data lines drive.
    if (lines.dataInput && !dataInput_ && !TurnData(true, pins)) return;
    if (!SetValues(pins, PinBits(ControlLines(kModuleControlLines)))) return;
    if (!lines.dataInput && dataInput_) TurnData(false, pins);
}

std::optional<std::uint8_t> GpioPort::ReadData(std::uint32_t) {
    if (lineFd_ < 0) return std::nullopt;
    gpio_v2_line_values values{};
    values.mask = PinBits(DataLines(0xFF));
    if (values.mask && !LineRequest(GPIO_V2_LINE_GET_VALUES_IOCTL, &values, "reading"))
        return std::nullopt;
    std::uint8_t data = 0;
    for (int n = 0; n < 8; ++n) {
        const int index = index_[static_cast<std::size_t>(n)];
        // An unwired data line reads high, as the controller's pull-ups make it.
        const bool high =
            index < 0 || ((values.bits >> index & 1) != ((mapping_.inverted >> n) & 1));
        if (high) data |= static_cast<std::uint8_t>(1u << n);
    }
    return data;
}

std::unique_ptr<PortBackend> OpenGpioPort(const GpioMapping& mapping, const OpenRequest& request) {
    auto port = std::make_unique<GpioPort>(mapping, request);
    port->Open();
    return port;
}

}  // namespace

extern const Transport kGpioTransport =
    MakeTransport<GpioMapping, ParseGpioMapping, GpioWiring, OpenGpioPort>(
        "gpio", kChipPrefix,
        "/dev/gpiochipN:LINE=OFFSET,...[,invert=LINE+LINE][,reads=safe]: lines of a GPIO chip, "
        "for example /dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18, with LINE one of D0..D7, "
        "E0, E1, RS, RW (lines not named are not wired), invert= naming lines through an "
        "inverting buffer and reads=safe letting Verify read (a level shifter or a 3.3 V module)");
