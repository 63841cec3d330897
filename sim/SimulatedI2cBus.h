#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Clock.h"
#include "io/KernelSystem.h"
#include "sim/SimulatedBackpack.h"

// An I2C bus of the tool's own, with simulated backpacks on it, served through
// the calls i2c-dev takes, so every transport and detection reach it as they
// reach a real bus. It stands in for the real I2C buses while it is used: /dev
// lists the fallback kernel's entries without its i2c-* nodes, plus this bus's
// node; any other /dev/i2c-N is not there. Every other path and descriptor
// goes to the fallback.
//
// Each transfer costs the bits it puts on the wire at 100 kHz (start, address
// byte and acknowledge, each further byte and its acknowledge, a repeated
// start where the transfer reads after writing, stop), handed to the wait
// before the transfer returns, and counted per address. An address without a
// device answers no transfer (ENXIO, as i2c-i801 reports it); an unplugged
// device's transfers fail with ENODEV, as a USB bridge's do once it is gone.
class SimulatedI2cBus final : public KernelSystem {
public:
    static constexpr std::string_view kNode = "/dev/i2c-1";  // as on a Raspberry Pi
    static constexpr std::string_view kAdapterName = "lcdtest simulated I2C bus";
    static constexpr std::uint64_t kMicrosPerBit = 10;  // 100 kHz

    // Takes the bus time of one transfer, in microseconds.
    using Wait = std::function<void(std::uint64_t micros)>;

    // The bus over `fallback`; the modules' controllers run on `clock`, and
    // the bus time goes to `wait` (none: it is only counted).
    SimulatedI2cBus(std::shared_ptr<KernelSystem> fallback, Clock& clock, Wait wait = {});
    ~SimulatedI2cBus() override;

    // Puts a device on the bus, powered on now; nullptr when its address is
    // taken or its kind has no model.
    SimulatedBackpack* Add(const BackpackSetup& setup);
    // The device at `address`, unplugged or not; nullptr for none.
    SimulatedBackpack* At(std::uint8_t address) const;
    // From now on the device at `address` fails every transfer with ENODEV.
    void Unplug(std::uint8_t address);

    // Transfers put on the wire and their bus time.
    struct Traffic {
        std::uint64_t transfers = 0;
        std::uint64_t micros = 0;
        bool operator==(const Traffic&) const = default;
    };
    // To one address (answered or not), and on the whole bus.
    Traffic TrafficAt(std::uint8_t address) const;
    Traffic Total() const { return total_; }

    // "/dev/i2c-1 is simulated, with 0x20=mcp23008,no-module and 0x27=pcf8574", by address.
    std::string Describe() const;

    int ReadFile(const std::string& path, std::string& contents) const override;
    int ListDirectory(const std::string& path, std::vector<std::string>& names) const override;
    int Open(const std::string& path, int flags) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) override;
    ssize_t PRead(int fd, void* data, std::size_t size, off_t offset) override;
    int Close(int fd) override;

private:
    struct Device {
        std::unique_ptr<SimulatedBackpack> backpack;
        bool unplugged = false;
    };
    // One SMBus transfer to `address`: the device's answer, its bus time paid.
    int Transfer(std::uint8_t address, void* request);

    std::shared_ptr<KernelSystem> fallback_;
    Clock& clock_;
    Wait wait_;
    std::map<std::uint8_t, Device> devices_;
    std::map<int, std::uint8_t> open_;  // the bus's descriptors and the address each aims at
    int nextFd_;
    std::map<std::uint8_t, Traffic> traffic_;
    Traffic total_;
};
