#include "sim/SimulatedI2cBus.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::string_view kNodePrefix = "/dev/i2c-";
constexpr std::string_view kNodeName = "i2c-1";  // in /dev and in sysfs
// Where sysfs describes I2C buses: this bus's entries alone are there.
constexpr std::string_view kSysfsPrefixes[] = {"/sys/bus/i2c/", "/sys/class/i2c-"};
constexpr const char kSysfsDevices[] = "/sys/bus/i2c/devices";
constexpr const char kSysfsName[] = "/sys/bus/i2c/devices/i2c-1/name";

// The descriptors of the bus's node: far above any the kernel hands out to a
// process in practice, so they never meet the fallback's.
constexpr int kFirstFd = 1 << 30;
constexpr std::uintptr_t kLastAddress = 0x7F;  // 7-bit addresses only

constexpr unsigned long kFunctions =
    I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA;

// The bits each transfer puts on the wire: start and stop one each, a byte
// nine with its acknowledge.
struct WireBits {
    std::uint32_t size;
    bool read;
    std::uint64_t bits;
};
constexpr WireBits kWireBits[] = {
    {I2C_SMBUS_QUICK, false, 11},      // S, address, P
    {I2C_SMBUS_QUICK, true, 11},       // the same with the read bit
    {I2C_SMBUS_BYTE, false, 20},       // S, address, byte, P
    {I2C_SMBUS_BYTE, true, 20},        // S, address, byte from the device, P
    {I2C_SMBUS_BYTE_DATA, false, 29},  // S, address, command, byte, P
    {I2C_SMBUS_BYTE_DATA, true, 39},   // S, address, command, Sr, address, byte, P
};
// A transfer nobody acknowledges ends after the address: S, address, P.
constexpr std::uint64_t kUnansweredBits = 11;

// The SMBus sizes i2c-dev knows; of these the bus does quick, byte and byte data.
constexpr std::uint32_t kKnownSizes[] = {
    I2C_SMBUS_QUICK,
    I2C_SMBUS_BYTE,
    I2C_SMBUS_BYTE_DATA,
    I2C_SMBUS_WORD_DATA,
    I2C_SMBUS_PROC_CALL,
    I2C_SMBUS_BLOCK_DATA,
    I2C_SMBUS_I2C_BLOCK_BROKEN,
    I2C_SMBUS_BLOCK_PROC_CALL,
    I2C_SMBUS_I2C_BLOCK_DATA,
};

bool Sysfs(const std::string& path) {
    for (const std::string_view prefix : kSysfsPrefixes)
        if (path.starts_with(prefix)) return true;
    return false;
}

}  // namespace

SimulatedI2cBus::SimulatedI2cBus(std::shared_ptr<KernelSystem> fallback, Clock& clock, Wait wait)
    : fallback_(std::move(fallback)), clock_(clock), wait_(std::move(wait)), nextFd_(kFirstFd) {}

SimulatedI2cBus::~SimulatedI2cBus() = default;

SimulatedBackpack* SimulatedI2cBus::Add(const BackpackSetup& setup) {
    if (devices_.count(setup.wiring.address)) return nullptr;
    std::unique_ptr<SimulatedBackpack> backpack = SimulatedBackpack::Make(setup, clock_);
    if (!backpack) return nullptr;
    SimulatedBackpack* added = backpack.get();
    devices_[setup.wiring.address].backpack = std::move(backpack);
    return added;
}

SimulatedBackpack* SimulatedI2cBus::At(std::uint8_t address) const {
    const auto found = devices_.find(address);
    return found == devices_.end() ? nullptr : found->second.backpack.get();
}

void SimulatedI2cBus::Unplug(std::uint8_t address) {
    if (const auto found = devices_.find(address); found != devices_.end())
        found->second.unplugged = true;
}

SimulatedI2cBus::Traffic SimulatedI2cBus::TrafficAt(std::uint8_t address) const {
    const auto found = traffic_.find(address);
    return found == traffic_.end() ? Traffic{} : found->second;
}

std::string SimulatedI2cBus::Describe() const {
    std::string devices;
    std::size_t n = 0;
    for (const auto& [address, device] : devices_)
        devices += (n++ == 0               ? ""
                    : n == devices_.size() ? " and "
                                           : ", ") +
                   device.backpack->Setup().Text();
    return std::string(kNode) + " is simulated, with " +
           (devices.empty() ? "nothing on it" : devices);
}

int SimulatedI2cBus::ReadFile(const std::string& path, std::string& contents) const {
    if (!Sysfs(path)) return fallback_->ReadFile(path, contents);
    if (path != kSysfsName) return -ENOENT;
    contents = std::string(kAdapterName) + "\n";
    return 0;
}

int SimulatedI2cBus::ListDirectory(const std::string& path, std::vector<std::string>& names) const {
    if (path == kSysfsDevices) {
        names = {std::string(kNodeName)};
        return 0;
    }
    if (Sysfs(path)) return -ENOENT;
    const int listed = fallback_->ListDirectory(path, names);
    if (path != kDeviceDir) return listed;
    // The real buses give way to this one, which is there whatever /dev holds.
    if (listed < 0) names.clear();
    std::erase_if(names, [](const std::string& name) { return name.starts_with("i2c-"); });
    names.emplace_back(kNodeName);
    return 0;
}

int SimulatedI2cBus::Open(const std::string& path, int flags) {
    if (path == kNode) {
        open_[nextFd_] = 0;  // as i2c-dev, no address until I2C_SLAVE
        return nextFd_++;
    }
    if (path.starts_with(kNodePrefix)) return -ENOENT;
    return fallback_->Open(path, flags);
}

int SimulatedI2cBus::Ioctl(int fd, unsigned long request, void* arg) {
    const auto open = open_.find(fd);
    if (open == open_.end()) return fallback_->Ioctl(fd, request, arg);
    switch (request) {
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE: {
            const auto address = reinterpret_cast<std::uintptr_t>(arg);
            if (address > kLastAddress) return -EINVAL;
            open->second = static_cast<std::uint8_t>(address);
            return 0;
        }
        case I2C_FUNCS:
            if (!arg) return -EFAULT;
            *static_cast<unsigned long*>(arg) = kFunctions;
            return 0;
        case I2C_SMBUS:
            if (!arg) return -EFAULT;
            return Transfer(open->second, arg);
        case I2C_RDWR:
            return -EOPNOTSUPP;  // plain I2C messages: an SMBus-only adapter has none
        default:
            return -ENOTTY;
    }
}

int SimulatedI2cBus::Transfer(std::uint8_t address, void* request) {
    auto& smbus = *static_cast<i2c_smbus_ioctl_data*>(request);
    const bool read = smbus.read_write == I2C_SMBUS_READ;
    if (!read && smbus.read_write != I2C_SMBUS_WRITE) return -EINVAL;
    if (std::find(std::begin(kKnownSizes), std::end(kKnownSizes), smbus.size) ==
        std::end(kKnownSizes))
        return -EINVAL;
    // Every transfer but a quick one and a send byte carries its byte in `data`.
    if (!smbus.data && smbus.size != I2C_SMBUS_QUICK && !(smbus.size == I2C_SMBUS_BYTE && !read))
        return -EINVAL;
    const WireBits* cost = nullptr;
    for (const WireBits& row : kWireBits)
        if (row.size == smbus.size && row.read == read) cost = &row;
    if (!cost) return -EOPNOTSUPP;

    const auto found = devices_.find(address);
    if (found != devices_.end() && found->second.unplugged) return -ENODEV;
    SimulatedBackpack* device = found == devices_.end() ? nullptr : found->second.backpack.get();
    const std::uint64_t micros = (device ? cost->bits : kUnansweredBits) * kMicrosPerBit;
    for (Traffic* traffic : {&traffic_[address], &total_}) {
        ++traffic->transfers;
        traffic->micros += micros;
    }
    // The device acts at the transfer's end.
    if (wait_) wait_(micros);
    if (!device) return -ENXIO;
    std::uint8_t byte = 0;
    int result = 0;
    switch (smbus.size) {
        case I2C_SMBUS_QUICK:
            return device->Quick(read);
        case I2C_SMBUS_BYTE:
            if (!read) return device->SendByte(smbus.command);
            result = device->ReceiveByte(byte);
            break;
        default:
            if (!read) return device->WriteByteData(smbus.command, smbus.data->byte);
            result = device->ReadByteData(smbus.command, byte);
            break;
    }
    if (result >= 0) smbus.data->byte = byte;
    return result;
}

ssize_t SimulatedI2cBus::PWrite(int fd, const void* data, std::size_t size, off_t offset) {
    // Plain I2C messages, which an SMBus-only adapter does not carry.
    if (open_.count(fd)) return -EOPNOTSUPP;
    return fallback_->PWrite(fd, data, size, offset);
}

ssize_t SimulatedI2cBus::PRead(int fd, void* data, std::size_t size, off_t offset) {
    if (open_.count(fd)) return -EOPNOTSUPP;
    return fallback_->PRead(fd, data, size, offset);
}

int SimulatedI2cBus::Close(int fd) {
    if (open_.erase(fd)) return 0;
    return fallback_->Close(fd);
}
