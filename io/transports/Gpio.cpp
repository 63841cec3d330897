#include "io/transports/Gpio.h"

#include <fcntl.h>
#include <linux/gpio.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "io/transports/ParportScan.h"

namespace {

constexpr std::string_view kChipPrefix = "/dev/gpiochip";
constexpr std::string_view kChipName = "gpiochip";
constexpr const char kConsumer[] = "lcdtest";
constexpr const char kExample[] = "/dev/gpiochip0:RS=7,E0=8,D4=25,D5=24,D6=23,D7=18";
constexpr const char kNoReads[] =
    "5 V from the module's data lines can damage 3.3 V GPIO pins; add reads=safe to the mapping "
    "once a level shifter or a 3.3 V module makes reads safe";

// The module lines in the order texts name them: the module's pin order.
constexpr LineSet kTextOrder[] = {
    ControlLines(kLineRS), ControlLines(kLineRW), ControlLines(kLineE0), ControlLines(kLineE1),
    DataLines(0x01),       DataLines(0x02),       DataLines(0x04),       DataLines(0x08),
    DataLines(0x10),       DataLines(0x20),       DataLines(0x40),       DataLines(0x80),
};

int BitOf(LineSet line) {
    int bit = 0;
    while (!(line >> bit & 1)) ++bit;
    return bit;
}

// The line named `name` ("RS", "D4"); 0 for no line.
LineSet LineNamed(std::string_view name) {
    for (const LineSet line : kTextOrder)
        if (LineSetNames(line) == name) return line;
    return 0;
}

bool ParseNumber(std::string_view text, std::uint32_t& number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// "RS=7, E0=8 inverted, D4=25": the wired lines with their offsets, in pin order.
std::string WiredText(const GpioMapping& mapping) {
    std::string text;
    for (const LineSet line : kTextOrder) {
        const auto& offset = mapping.offsets[static_cast<std::size_t>(BitOf(line))];
        if (!offset) continue;
        text += (text.empty() ? "" : ", ") + LineSetNames(line) + "=" + std::to_string(*offset) +
                (mapping.inverted & line ? " inverted" : "");
    }
    return text;
}

// What the wiring leaves out, for the start-up line: "4-bit only, no E1".
std::string MissingText(const PortWiring& wiring) {
    std::string text;
    const auto add = [&](const char* note) {
        text += (text.empty() ? "" : ", ") + std::string(note);
    };
    if (!wiring.Wires(DataLines(kLowDataNibble))) add("4-bit only");
    if (!wiring.Wires(ControlLines(kLineE1))) add("no E1");
    if (!wiring.Wires(ControlLines(kLineRW)))
        add("no RW: no Verify");
    else if (!wiring.noReads.empty())
        add("no Verify without reads=safe");
    return text;
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

}  // namespace

LineSet GpioMapping::Wired() const {
    LineSet wired = 0;
    for (int bit = 0; bit < kLineCount; ++bit)
        if (offsets[static_cast<std::size_t>(bit)]) wired |= static_cast<LineSet>(1u << bit);
    return wired;
}

std::optional<GpioMapping> ParseGpioMapping(std::string_view device, std::string& error) {
    GpioMapping mapping;
    const std::size_t colon = device.find(':');
    const std::string_view chip = device.substr(0, colon);
    std::uint32_t number = 0;
    if (!chip.starts_with(kChipPrefix) || !ParseNumber(chip.substr(kChipPrefix.size()), number)) {
        error =
            "bad GPIO chip " + Quoted(chip) + ": expected /dev/gpiochipN, for example " + kExample;
        return std::nullopt;
    }
    mapping.chip = std::string(chip);
    std::string_view rest = colon == std::string_view::npos ? "" : device.substr(colon + 1);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? "" : rest.substr(comma + 1);
        const std::size_t equals = item.find('=');
        const std::string_view key = item.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? "" : item.substr(equals + 1);
        if (key == "reads") {
            if (value != "safe") {
                error = Quoted(item) + ": reads= takes only safe (reads=safe)";
                return std::nullopt;
            }
            mapping.readsSafe = true;
            continue;
        }
        if (key == "invert") {
            std::string_view names = value;
            do {
                const std::size_t plus = names.find('+');
                const std::string_view name = names.substr(0, plus);
                const LineSet line = LineNamed(name);
                if (!line) {
                    error = "invert=" + std::string(value) + ": unknown line " + Quoted(name) +
                            "; the lines are D0..D7, E0, E1, RS and RW";
                    return std::nullopt;
                }
                mapping.inverted |= line;
                names = plus == std::string_view::npos ? "" : names.substr(plus + 1);
            } while (!names.empty());
            continue;
        }
        const LineSet line = LineNamed(key);
        if (!line) {
            error = "unknown line " + Quoted(key) +
                    ": name D0..D7, E0, E1, RS or RW as LINE=OFFSET, then if need be "
                    "invert=LINE+LINE and reads=safe";
            return std::nullopt;
        }
        auto& offset = mapping.offsets[static_cast<std::size_t>(BitOf(line))];
        if (offset) {
            error = std::string(key) + " is named twice";
            return std::nullopt;
        }
        std::uint32_t parsed = 0;
        if (!ParseNumber(value, parsed)) {
            error = Quoted(item) + ": the line offset must be a number, for example " +
                    std::string(key) + "=7";
            return std::nullopt;
        }
        for (const LineSet other : kTextOrder) {
            if (mapping.offsets[static_cast<std::size_t>(BitOf(other))] == parsed) {
                error = "offset " + std::to_string(parsed) + " is given to both " +
                        LineSetNames(other) + " and " + std::string(key);
                return std::nullopt;
            }
        }
        offset = parsed;
    }
    if (!mapping.Wired()) {
        error =
            "nothing wired: name the lines and their offsets, for example " + std::string(kExample);
        return std::nullopt;
    }
    if (const LineSet unwired = mapping.inverted & ~mapping.Wired()) {
        error = "invert= names " + LineSetNames(unwired) + ", which the mapping does not wire";
        return std::nullopt;
    }
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

std::string CheckGpioMapping(std::string_view device) {
    std::string error;
    ParseGpioMapping(device, error);
    return error;
}

std::unique_ptr<PortBackend> MakeGpioPort(std::uint32_t base, const std::string& device,
                                          std::shared_ptr<KernelSystem> sys) {
    std::string error;
    const std::optional<GpioMapping> mapping = ParseGpioMapping(device, error);
    auto port = std::make_unique<GpioPort>(base, mapping.value_or(GpioMapping{}), std::move(sys));
    if (mapping)
        port->Open();
    else  // --port-map checks the text first, so only a caller's fault gets here
        PortIo::Instance().ReportProblem("gpio-mapping:" + device, device + ": " + error);
    return port;
}

PortWiring SimulatedGpioWiring(const std::string& device) {
    std::string error;
    return GpioWiring(ParseGpioMapping(device, error).value_or(GpioMapping{}));
}

GpioPort::GpioPort(std::uint32_t base, GpioMapping mapping, std::shared_ptr<KernelSystem> sys)
    : base_(base), mapping_(std::move(mapping)), sys_(std::move(sys)) {
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
    const std::string missing = MissingText(wiring);
    return "the GPIO chip " + mapping_.chip + " (" + wiring.text +
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
    PortIo::Instance().ReportProblem(cause + ":" + mapping_.chip, message);
}

// "/dev/gpiochip0, /dev/gpiochip1", in number order; "" for none.
std::string GpioPort::ChipsFound() const {
    std::vector<std::string> names;
    sys_->ListDirectory(kDeviceDir, names);
    std::vector<std::uint32_t> numbers;
    for (const std::string& name : names) {
        std::uint32_t number = 0;
        if (std::string_view(name).starts_with(kChipName) &&
            ParseNumber(std::string_view(name).substr(kChipName.size()), number))
            numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    std::string chips;
    for (const std::uint32_t number : numbers)
        chips += (chips.empty() ? "" : ", ") + std::string(kChipPrefix) + std::to_string(number);
    return chips;
}

// "RS=7 ("spi0 CS1"), E0=8": the wired lines the kernel says someone holds,
// with their holders; all wired lines when it does not say.
std::string GpioPort::HeldLines(int chipFd) const {
    std::string held;
    for (const LineSet line : kTextOrder) {
        const auto& offset = mapping_.offsets[static_cast<std::size_t>(BitOf(line))];
        if (!offset) continue;
        gpio_v2_line_info info{};
        info.offset = *offset;
        if (sys_->Ioctl(chipFd, GPIO_V2_GET_LINEINFO_IOCTL, &info) < 0 ||
            !(info.flags & GPIO_V2_LINE_FLAG_USED))
            continue;
        const std::string consumer(info.consumer, strnlen(info.consumer, sizeof info.consumer));
        held += (held.empty() ? "" : ", ") + LineSetNames(line) + "=" + std::to_string(*offset) +
                (consumer.empty() ? "" : " (" + Quoted(consumer) + ")");
    }
    return held.empty() ? "one of " + WiredText(mapping_) : held;
}

bool GpioPort::Open() {
    const std::string& chip = mapping_.chip;
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
    const std::string& chip = mapping_.chip;
    gpiochip_info info{};
    if (const int error = sys_->Ioctl(chipFd, GPIO_GET_CHIPINFO_IOCTL, &info); error < 0) {
        ReportOpenProblem("gpio-info", "cannot ask " + chip + " for its lines: " +
                                           ErrorText(error) + " — is it a GPIO chip? (dmesg)");
        return false;
    }
    std::string missing;
    for (const LineSet line : kTextOrder) {
        const auto& offset = mapping_.offsets[static_cast<std::size_t>(BitOf(line))];
        if (offset && *offset >= info.lines)
            missing +=
                (missing.empty() ? "" : ", ") + LineSetNames(line) + "=" + std::to_string(*offset);
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
    const LineLevels& now = PortIo::Instance().Lines(base_);
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
    const std::string& chip = mapping_.chip;
    if (IsGone(error)) {
        sys_->Close(lineFd_);
        lineFd_ = -1;
        PortIo::Instance().ReportLost(base_, "gpio-lost:" + chip,
                                      "the GPIO chip " + chip + " went away (" + ErrorText(error) +
                                          "): the run stopped; plug it back in and start lcdtest "
                                          "again");
        return false;
    }
    PortIo::Instance().ReportProblem(
        "gpio-" + std::string(what) + ":" + chip + ":" + std::to_string(-error),
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
