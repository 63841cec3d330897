#include "io/transports/Pcf8574.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <vector>

#include "base/HexText.h"

namespace {

// The names a pin map gives, by LineSet bit (0..11) and then the backlight.
constexpr const char* kTargetNames[] = {"D0", "D1", "D2", "D3", "D4", "D5", "D6",
                                        "D7", "E0", "RW", "RS", "E1", "BL"};
constexpr int kDataLineCount = 8;
constexpr int kTargetCount = sizeof kTargetNames / sizeof kTargetNames[0];
static_assert(kTargetCount == Pcf8574Map::kBacklight + 1);

constexpr std::string_view kBusPrefix = "/dev/i2c-";
constexpr std::string_view kNodePrefix = "i2c-";  // its name in /dev and in sysfs
constexpr const char* kSysfsBuses = "/sys/bus/i2c/devices/";
constexpr std::uint8_t kFirstAddress = 0x03, kLastAddress = 0x77;  // 7-bit, reserved ones aside
constexpr unsigned long kByteFunctions = I2C_FUNC_SMBUS_READ_BYTE | I2C_FUNC_SMBUS_WRITE_BYTE;
// Failed transfers in a row, after the device had answered, that mean it is gone.
constexpr int kFailuresForLost = 3;

constexpr const char kJoinGroupI2c[] =
    "add your user to group i2c (sudo groupadd -f i2c; sudo usermod -aG i2c $USER) and log in "
    "again; if the node is not in group i2c, a udev rule puts it there (the example "
    "60-i2c.rules: "
    "KERNEL==\"i2c-[0-9]*\", SUBSYSTEM==\"i2c-dev\", GROUP=\"i2c\", MODE=\"0660\")";

const std::string kShape = "expected /dev/i2c-N@ADDRESS, for example /dev/i2c-1@0x27";

std::string Pin(int pin) {
    return "P" + std::to_string(pin);
}

bool ParseNumber(std::string_view text, unsigned& value, int base) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

int TargetNamed(std::string_view name) {
    for (int t = 0; t < kTargetCount; ++t)
        if (name == kTargetNames[t]) return t;
    return Pcf8574Map::kNone;
}

// A message's fix for a bus that could not be opened because it is not there:
// the buses that are, by their adapters' names, or the module that makes them.
std::string FixForMissingBus(const KernelSystem& sys) {
    std::vector<std::string> names;
    std::vector<unsigned> numbers;
    if (sys.ListDirectory("/dev", names) >= 0) {
        for (const std::string& name : names) {
            unsigned n = 0;
            if (name.starts_with(kNodePrefix) &&
                ParseNumber(std::string_view(name).substr(kNodePrefix.size()), n, 10))
                numbers.push_back(n);
        }
    }
    if (numbers.empty())
        return "there is no /dev/i2c-* at all: load the kernel module i2c-dev (sudo modprobe "
               "i2c-dev), and plug in the USB I2C bridge if the backpack hangs on one";
    std::sort(numbers.begin(), numbers.end());
    std::string found;
    for (const unsigned n : numbers) {
        const std::string node = std::string(kNodePrefix) + std::to_string(n);
        std::string name;
        if (sys.ReadFile(kSysfsBuses + node + "/name", name) < 0) name.clear();
        while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
        found +=
            (found.empty() ? "/dev/" : ", /dev/") + node + (name.empty() ? "" : " (" + name + ")");
    }
    return "the I2C buses here are " + found + ": map the one the backpack hangs on";
}

// Errors of an open that mean the node is not there.
constexpr int kNoSuchBus[] = {ENOENT, ENODEV, ENXIO};

// What the user can do about a bus node that is there but cannot be opened.
constexpr ErrorFix kOpenFixes[] = {
    {EACCES, kJoinGroupI2c},
    {EPERM, kJoinGroupI2c},
    {0, "check that the kernel sees the bus (ls /dev/i2c-*; dmesg | grep i2c)"},
};

}  // namespace

Pcf8574Map Pcf8574Map::Common() {
    return {{10, 9, 8, kBacklight, 4, 5, 6, 7}};  // RS, RW, E0, backlight, D4..D7
}

LineSet Pcf8574Map::Wired() const {
    LineSet wired = 0;
    for (const int target : pin)
        if (target >= 0 && target < kBacklight) wired |= static_cast<LineSet>(1u << target);
    return wired;
}

std::string Pcf8574Device::WiringText() const {
    std::string text;
    const auto add = [&](const std::string& item) { text += (text.empty() ? "" : ", ") + item; };
    for (int p = 0; p < kPcf8574Pins; ++p) {
        const int target = map.pin[p];
        if (target == Pcf8574Map::kNone) continue;
        if (target == Pcf8574Map::kBacklight) {
            add("backlight " + Pin(p) + (backlightOn ? " on" : " off"));
            continue;
        }
        // Three or more data lines in a row on pins in a row read as one range.
        int last = p;
        while (target < kDataLineCount && last + 1 < kPcf8574Pins &&
               map.pin[last + 1] == target + (last + 1 - p) && map.pin[last + 1] < kDataLineCount)
            ++last;
        if (last - p >= 2) {
            add(std::string(kTargetNames[target]) + ".." + kTargetNames[map.pin[last]] + "=" +
                Pin(p) + ".." + Pin(last));
            p = last;
        } else {
            add(std::string(kTargetNames[target]) + "=" + Pin(p));
        }
    }
    // What the wiring lacks, said once here so the refusals need not surprise.
    const LineSet wired = map.Wired();
    LineSet missing = kAllModuleLines & ~wired;
    std::string lacks;
    if ((wired & DataLines(kHighDataNibble)) == DataLines(kHighDataNibble) &&
        (wired & DataLines(kLowDataNibble)) != DataLines(kLowDataNibble)) {
        lacks = "4-bit only";
        missing &= static_cast<LineSet>(~DataLines(kLowDataNibble));
    }
    if (missing) lacks += (lacks.empty() ? "no " : ", no ") + LineSetNames(missing);
    return lacks.empty() ? text : text + "; " + lacks;
}

PortWiring Pcf8574Device::Wiring() const {
    PortWiring wiring;
    wiring.wired = map.Wired();
    wiring.invertedAtModule = 0;
    wiring.text = WiringText();
    return wiring;
}

std::uint8_t Pcf8574Device::PinsOf(const LineLevels& lines) const {
    std::uint8_t pins = 0;
    for (int p = 0; p < kPcf8574Pins; ++p) {
        const int target = map.pin[p];
        bool high = true;  // an unused pin stays a weak input, as at power-on
        if (target == Pcf8574Map::kBacklight)
            high = backlightOn;
        else if (target >= kDataLineCount)
            high = lines.control >> (target - kDataLineCount) & 1;
        else if (target >= 0)
            high = lines.dataInput || (lines.data >> target & 1);
        if (high) pins |= static_cast<std::uint8_t>(1u << p);
    }
    return pins;
}

std::uint8_t Pcf8574Device::DataOf(std::uint8_t pins) const {
    std::uint8_t data = 0xFF;
    for (int p = 0; p < kPcf8574Pins; ++p) {
        const int target = map.pin[p];
        if (target >= 0 && target < kDataLineCount && !(pins >> p & 1))
            data &= static_cast<std::uint8_t>(~(1u << target));
    }
    return data;
}

std::optional<Pcf8574Device> ParsePcf8574Device(std::string_view text, std::string& error) {
    const auto fail = [&](std::string why) -> std::optional<Pcf8574Device> {
        error = std::move(why);
        return std::nullopt;
    };
    const std::size_t at = text.find('@');
    if (!text.starts_with(kBusPrefix) || at == std::string_view::npos) return fail(kShape);
    Pcf8574Device device;
    device.bus = std::string(text.substr(0, at));
    unsigned number = 0;
    if (!ParseNumber(text.substr(kBusPrefix.size(), at - kBusPrefix.size()), number, 10))
        return fail(device.bus + " is no I2C bus: " + kShape);
    device.busNumber = static_cast<int>(number);

    std::string_view rest = text.substr(at + 1);
    const std::size_t end = std::min(rest.find_first_of(":,"), rest.size());
    std::string_view address = rest.substr(0, end);
    unsigned value = 0;
    if (!(address.starts_with("0x") || address.starts_with("0X")) ||
        !ParseNumber(address.substr(2), value, 16))
        return fail("\"" + std::string(address) +
                    "\" is no device address: give it in hex, for example @0x27 (as i2cdetect "
                    "shows it)");
    if (value < kFirstAddress || value > kLastAddress)
        return fail(std::string(address) + " is outside the device addresses " +
                    HexByte(kFirstAddress) + ".." + HexByte(kLastAddress));
    device.address = static_cast<std::uint8_t>(value);
    if (end == rest.size()) return device;

    Pcf8574Map map;
    map.pin.fill(Pcf8574Map::kNone);
    bool mapped = false;
    std::optional<bool> backlight;
    std::string_view items = rest.substr(end + 1);
    for (;;) {
        const std::size_t comma = std::min(items.find(','), items.size());
        const std::string_view item = items.substr(0, comma);
        const std::size_t equals = item.find('=');
        const std::string_view name = item.substr(0, std::min(equals, item.size()));
        const std::string_view given = item.substr(std::min(equals + 1, item.size()));
        if (equals == std::string_view::npos)
            return fail("\"" + std::string(item) +
                        "\" is neither LINE=Pn nor backlight=on|off, for example "
                        "/dev/i2c-1@0x27:RS=P0,RW=P1,E0=P2,BL=P3,D4=P4,D5=P5,D6=P6,D7=P7");
        if (name == "backlight") {
            if (backlight) return fail("backlight is given twice");
            if (given != "on" && given != "off")
                return fail("backlight=" + std::string(given) +
                            ": expected backlight=on or backlight=off");
            backlight = given == "on";
        } else {
            const int target = TargetNamed(name);
            if (target == Pcf8574Map::kNone)
                return fail("unknown line \"" + std::string(name) +
                            "\": expected D0..D7, E0, E1, RS, RW or BL (the backlight)");
            unsigned pin = 0;
            if (!given.starts_with("P") || !ParseNumber(given.substr(1), pin, 10) ||
                pin >= kPcf8574Pins)
                return fail("\"" + std::string(given) + "\" is no PCF8574 pin: expected P0..P7");
            if (std::find(map.pin.begin(), map.pin.end(), target) != map.pin.end())
                return fail(std::string(name) + " is named twice");
            if (const int taken = map.pin[pin]; taken != Pcf8574Map::kNone)
                return fail(Pin(static_cast<int>(pin)) + " is named twice, for " +
                            kTargetNames[taken] + " and " + std::string(name));
            map.pin[pin] = target;
            mapped = true;
        }
        if (comma == items.size()) break;
        items.remove_prefix(comma + 1);
    }
    if (mapped) device.map = map;  // a pin map of its own replaces the whole common one
    if (backlight) {
        if (std::find(device.map.pin.begin(), device.map.pin.end(), Pcf8574Map::kBacklight) ==
            device.map.pin.end())
            return fail(std::string("backlight=") + (*backlight ? "on" : "off") +
                        " needs the backlight's pin: add BL=Pn to the map");
        device.backlightOn = *backlight;
    }
    return device;
}

Pcf8574Port::Pcf8574Port(std::uint32_t base, Pcf8574Device device,
                         std::shared_ptr<KernelSystem> sys)
    : base_(base), device_(std::move(device)), sys_(std::move(sys)) {
    Open();
}

Pcf8574Port::~Pcf8574Port() {
    if (fd_ >= 0 && sys_->Close(fd_) < 0) {
        // PortIo may already be gone at program end.
        std::fprintf(stderr, "lcdtest: cannot close %s\n", device_.bus.c_str());
    }
}

std::string Pcf8574Port::Where() const {
    return "the PCF8574 at " + HexByte(device_.address) + " on " + device_.bus;
}

std::string Pcf8574Port::Describe() const {
    return Where() + " (" + device_.WiringText() + ")" +
           (IsOpen() ? "" : ", not reached: its writes are dropped");
}

bool Pcf8574Port::Open() {
    PortIo& io = PortIo::Instance();
    const std::string& bus = device_.bus;
    const int fd = sys_->Open(bus, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const bool missing =
            std::find(std::begin(kNoSuchBus), std::end(kNoSuchBus), -fd) != std::end(kNoSuchBus);
        io.ReportProblem("i2c-open:" + bus,
                         "cannot open " + bus + ": " + ErrorText(fd) + " — " +
                             (missing ? FixForMissingBus(*sys_) : FixFor(fd, kOpenFixes)));
        return false;
    }
    const auto give_up = [&](const std::string& cause, const std::string& message) {
        io.ReportProblem(cause, message);
        sys_->Close(fd);  // nothing was sent, so nothing is lost if this fails too
        return false;
    };
    unsigned long functions = 0;
    if (sys_->Ioctl(fd, I2C_FUNCS, &functions) < 0 ||
        (functions & kByteFunctions) != kByteFunctions) {
        return give_up("i2c-functions:" + bus,
                       "the adapter of " + bus +
                           " cannot send and receive single bytes (SMBus send byte and receive "
                           "byte), which a PCF8574 needs: put the backpack on another I2C bus");
    }
    const int address = device_.address;
    const int chosen =
        sys_->Ioctl(fd, I2C_SLAVE, reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)));
    if (chosen < 0) {
        char client[32];  // the kernel's name for the device at that address: "1-0027"
        std::snprintf(client, sizeof client, "%d-%04x", device_.busNumber, address);
        return give_up(
            "i2c-address:" + bus + "@" + HexByte(address),
            chosen == -EBUSY
                ? "a kernel driver owns address " + HexByte(address) + " on " + bus +
                      " (i2cdetect -y " + std::to_string(device_.busNumber) +
                      " shows UU there): unbind it (echo " + std::string(client) +
                      " | sudo tee /sys/bus/i2c/devices/" + std::string(client) +
                      "/driver/unbind), or check the backpack's address"
                : "cannot address " + HexByte(address) + " on " + bus + ": " + ErrorText(chosen));
    }
    fd_ = fd;
    std::uint8_t pins = 0;
    const int answered = Transfer(true, pins);
    if (answered < 0) {
        fd_ = -1;
        const bool silent = answered == -ENXIO || answered == -EREMOTEIO || answered == -EIO;
        const std::string n = std::to_string(device_.busNumber);
        return give_up(
            "i2c-probe:" + bus + "@" + HexByte(address),
            silent ? "no device answers at " + HexByte(address) + " on " + bus +
                         ": check the address with i2cdetect -y " + n +
                         " (a PCF8574 is at 0x20..0x27, a PCF8574A at 0x38..0x3F; the solder "
                         "jumpers A0..A2 set the low bits), and the wiring and power of SDA, "
                         "SCL, VCC and GND"
                   : "cannot read " + Where() + ": " + ErrorText(answered) +
                         " — check the bus (dmesg | grep i2c)");
    }
    return true;
}

int Pcf8574Port::Transfer(bool receive, std::uint8_t& byte) {
    i2c_smbus_data data{};
    i2c_smbus_ioctl_data request{};
    request.read_write = receive ? I2C_SMBUS_READ : I2C_SMBUS_WRITE;
    // A send byte carries the byte in the command field, as i2cset does.
    request.command = receive ? 0 : byte;
    request.size = I2C_SMBUS_BYTE;
    request.data = receive ? &data : nullptr;
    const int result = sys_->Ioctl(fd_, I2C_SMBUS, &request);
    if (result >= 0) {
        if (receive) byte = data.byte;
        failuresInARow_ = 0;
    }
    return result;
}

void Pcf8574Port::ReportTransferFailure(bool receive, int error) {
    PortIo& io = PortIo::Instance();
    const std::string what = receive ? "reading " : "sending to ";
    const bool silent = error == -ENXIO || error == -EREMOTEIO || error == -EIO;
    if (error == -ENODEV || (silent && ++failuresInARow_ >= kFailuresForLost)) {
        lost_ = true;
        io.ReportLost(base_, "i2c-lost:" + device_.bus + "@" + HexByte(device_.address),
                      Where() + (error == -ENODEV ? " is gone" : " stopped answering") + " (" +
                          ErrorText(error) +
                          "): the run stopped — plug the USB bridge back in or check the "
                          "backpack's wiring and power, then start lcdtest again");
        return;
    }
    io.ReportProblem("i2c-transfer:" + device_.bus + ":" + std::to_string(-error),
                     what + Where() + " failed: " + ErrorText(error) +
                         " — the module did not get it; check the backpack's wiring and power");
}

void Pcf8574Port::Apply(std::uint32_t, const LineLevels& lines, LineGroup) {
    if (fd_ < 0 || lost_) return;  // dropped; why was told when it happened
    std::uint8_t pins = device_.PinsOf(lines);
    if (pins_ == pins) return;  // no pin changes, so nothing goes on the wire
    if (const int error = Transfer(false, pins); error < 0) {
        ReportTransferFailure(false, error);
        return;
    }
    pins_ = pins;
}

std::optional<std::uint8_t> Pcf8574Port::ReadData(std::uint32_t) {
    if (fd_ < 0 || lost_) return std::nullopt;
    std::uint8_t pins = 0;
    if (const int error = Transfer(true, pins); error < 0) {
        ReportTransferFailure(true, error);
        return std::nullopt;
    }
    return device_.DataOf(pins);
}

std::string CheckPcf8574Device(std::string_view device) {
    std::string error;
    ParsePcf8574Device(device, error);
    return error;
}

std::unique_ptr<PortBackend> MakePcf8574Port(std::uint32_t base, const std::string& device,
                                             std::shared_ptr<KernelSystem> sys) {
    std::string error;
    auto parsed = ParsePcf8574Device(device, error);
    // The mapping was checked when the option was read.
    return std::make_unique<Pcf8574Port>(base, parsed.value_or(Pcf8574Device{}), std::move(sys));
}

PortWiring SimulatedPcf8574Wiring(const std::string& device) {
    std::string error;
    return ParsePcf8574Device(device, error).value_or(Pcf8574Device{}).Wiring();
}
