#include "io/I2cBus.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "base/HexText.h"
#include "io/MappingText.h"

namespace {

constexpr std::string_view kNodePrefix = "i2c-";  // its name in /dev and in sysfs
constexpr const char* kSysfsBuses = "/sys/bus/i2c/devices/";

constexpr const char kJoinGroupI2c[] =
    "add your user to group i2c (sudo groupadd -f i2c; sudo usermod -aG i2c $USER) and log in "
    "again; if the node is not in group i2c, a udev rule puts it there (the example "
    "60-i2c.rules: "
    "KERNEL==\"i2c-[0-9]*\", SUBSYSTEM==\"i2c-dev\", GROUP=\"i2c\", MODE=\"0660\")";

// Errors of an open that mean the node is not there.
constexpr int kNoSuchBus[] = {ENOENT, ENODEV, ENXIO};

// What the user can do about a bus node that is there but cannot be opened.
constexpr ErrorFix kOpenFixes[] = {
    {EACCES, kJoinGroupI2c},
    {EPERM, kJoinGroupI2c},
    {0, "check that the kernel sees the bus (ls /dev/i2c-*; dmesg | grep i2c)"},
};

// A message's fix for a bus that could not be opened because it is not there:
// the buses that are, by their adapters' names, or the module that makes them.
std::string FixForMissingBus(const KernelSystem& sys) {
    const std::vector<I2cBusInfo> buses = ListI2cBuses(sys);
    if (buses.empty())
        return "there is no /dev/i2c-* at all: load the kernel module i2c-dev (sudo modprobe "
               "i2c-dev), and plug in the USB I2C bridge if the backpack hangs on one";
    std::string found;
    for (const I2cBusInfo& bus : buses)
        found += (found.empty() ? "" : ", ") + bus.node +
                 (bus.adapter.empty() ? "" : " (" + bus.adapter + ")");
    return "the I2C buses here are " + found + ": map the one the backpack hangs on";
}

}  // namespace

std::optional<std::uint8_t> ParseI2cAddress(std::string_view text, std::string_view example,
                                            std::string& error) {
    std::uint32_t value = 0;
    if (!(text.starts_with("0x") || text.starts_with("0X")) ||
        !ParseNumber(text.substr(2), value, 16)) {
        error = Quoted(text) + " is no device address: give it in hex, for example " +
                std::string(example) + " (as i2cdetect shows it)";
        return std::nullopt;
    }
    if (value < kFirstI2cAddress || value > kLastI2cAddress) {
        error = std::string(text) + " is outside the device addresses " +
                HexByte(kFirstI2cAddress) + ".." + HexByte(kLastI2cAddress);
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

std::vector<I2cBusInfo> ListI2cBuses(const KernelSystem& sys) {
    std::vector<std::uint32_t> numbers;
    ListNumbered(sys, kDeviceDir, kNodePrefix, numbers);
    std::vector<I2cBusInfo> buses;
    for (const std::uint32_t n : numbers) {
        const std::string node = std::string(kNodePrefix) + std::to_string(n);
        std::string name;
        if (sys.ReadFile(kSysfsBuses + node + "/name", name) < 0) name.clear();
        while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
        buses.push_back({std::string(kDeviceDir) + "/" + node, n, name});
    }
    return buses;
}

bool NoAcknowledge(int negatedErrno) {
    return negatedErrno == -ENXIO || negatedErrno == -EREMOTEIO || negatedErrno == -EIO;
}

I2cDevice::I2cDevice(std::shared_ptr<KernelSystem> sys, std::string bus, std::uint32_t busNumber,
                     std::uint8_t address)
    : sys_(std::move(sys)), bus_(std::move(bus)), busNumber_(busNumber), address_(address) {}

I2cDevice::~I2cDevice() {
    Close();
}

int I2cDevice::OpenBus() {
    Close();
    const int fd = sys_->Open(bus_, O_RDWR | O_CLOEXEC);
    if (fd >= 0) fd_ = fd;
    return fd;
}

unsigned long I2cDevice::Functions() {
    unsigned long functions = 0;
    return sys_->Ioctl(fd_, I2C_FUNCS, &functions) < 0 ? 0 : functions;
}

int I2cDevice::Claim() {
    return sys_->Ioctl(fd_, I2C_SLAVE, reinterpret_cast<void*>(std::uintptr_t{address_}));
}

int I2cDevice::Close() {
    if (fd_ < 0) return 0;
    const int closed = sys_->Close(fd_);
    fd_ = -1;
    return closed;
}

int I2cDevice::Transfer(char readWrite, std::uint8_t command, int size, void* data) {
    i2c_smbus_ioctl_data request{};
    request.read_write = readWrite;
    request.command = command;
    request.size = static_cast<std::uint32_t>(size);
    request.data = static_cast<i2c_smbus_data*>(data);
    return sys_->Ioctl(fd_, I2C_SMBUS, &request);
}

// A send byte carries the byte in the command field, as i2cset does.
int I2cDevice::SendByte(std::uint8_t byte) {
    return Transfer(I2C_SMBUS_WRITE, byte, I2C_SMBUS_BYTE, nullptr);
}

int I2cDevice::ReceiveByte(std::uint8_t& byte) {
    i2c_smbus_data data{};
    const int result = Transfer(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data);
    if (result >= 0) byte = data.byte;
    return result;
}

int I2cDevice::WriteByteData(std::uint8_t reg, std::uint8_t value) {
    i2c_smbus_data data{};
    data.byte = value;
    return Transfer(I2C_SMBUS_WRITE, reg, I2C_SMBUS_BYTE_DATA, &data);
}

int I2cDevice::ReadByteData(std::uint8_t reg, std::uint8_t& value) {
    i2c_smbus_data data{};
    const int result = Transfer(I2C_SMBUS_READ, reg, I2C_SMBUS_BYTE_DATA, &data);
    if (result >= 0) value = data.byte;
    return result;
}

int I2cDevice::Quick(bool read) {
    return Transfer(read ? I2C_SMBUS_READ : I2C_SMBUS_WRITE, 0, I2C_SMBUS_QUICK, nullptr);
}

std::string I2cDevice::OpenProblem(int negatedErrno) const {
    const bool missing = std::find(std::begin(kNoSuchBus), std::end(kNoSuchBus), -negatedErrno) !=
                         std::end(kNoSuchBus);
    return "cannot open " + bus_ + ": " + ErrorText(negatedErrno) + " — " +
           (missing ? FixForMissingBus(*sys_) : FixFor(negatedErrno, kOpenFixes));
}

std::string I2cDevice::ClaimProblem(int negatedErrno) const {
    if (negatedErrno != -EBUSY)
        return "cannot address " + HexByte(address_) + " on " + bus_ + ": " +
               ErrorText(negatedErrno);
    char client[32];  // the kernel's name for the device at that address: "1-0027"
    std::snprintf(client, sizeof client, "%u-%04x", static_cast<unsigned>(busNumber_),
                  static_cast<unsigned>(address_));
    return "a kernel driver owns address " + HexByte(address_) + " on " + bus_ + " (i2cdetect -y " +
           std::to_string(busNumber_) + " shows UU there): unbind it (echo " + client +
           " | sudo tee /sys/bus/i2c/devices/" + client +
           "/driver/unbind), or check the backpack's address";
}
