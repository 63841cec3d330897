#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/KernelSystem.h"

// What the I2C transports and detection share of the kernel's i2c-dev
// (/dev/i2c-N): the buses there are, and one device on one bus.

inline constexpr std::string_view kI2cBusPrefix = "/dev/i2c-";
// 7-bit addresses, the reserved ones at both ends aside.
inline constexpr std::uint8_t kFirstI2cAddress = 0x03, kLastI2cAddress = 0x77;

// One bus: "/dev/i2c-1", its number, and its adapter's name ("SMBus I801
// adapter at efa0"; "" when the kernel does not say).
struct I2cBusInfo {
    std::string node;
    std::uint32_t number = 0;
    std::string adapter;
};
// A device address as the user gives it ("0x27", in hex as i2cdetect shows
// it); nullopt and `error` saying why otherwise. `example` is the form the
// message shows ("@0x27" in a mapping).
std::optional<std::uint8_t> ParseI2cAddress(std::string_view text, std::string_view example,
                                            std::string& error);

// The buses under /dev, in number order.
std::vector<I2cBusInfo> ListI2cBuses(const KernelSystem& sys);

// Whether a failed transfer means that no device acknowledged it: an empty
// address (ENXIO on most adapters, EREMOTEIO or EIO on some).
bool NoAcknowledge(int negatedErrno);

// One device on one bus. Every call returns 0 or more on success, or the
// negated errno; the transfers are SMBus ones, which SMBus-only adapters take.
class I2cDevice {
public:
    I2cDevice(std::shared_ptr<KernelSystem> sys, std::string bus, std::uint32_t busNumber,
              std::uint8_t address);
    ~I2cDevice();
    I2cDevice(const I2cDevice&) = delete;
    I2cDevice& operator=(const I2cDevice&) = delete;

    const std::string& Bus() const { return bus_; }
    std::uint32_t BusNumber() const { return busNumber_; }
    std::uint8_t Address() const { return address_; }
    bool IsOpen() const { return fd_ >= 0; }

    // Opens the bus node.
    int OpenBus();
    // The transfers the adapter offers (I2C_FUNC_* bits), 0 when it does not say.
    unsigned long Functions();
    // Aims the transfers at the device's address; -EBUSY when a kernel driver owns it.
    int Claim();
    // Closes the bus node; the result of close(2).
    int Close();

    int SendByte(std::uint8_t byte);
    int ReceiveByte(std::uint8_t& byte);
    int WriteByteData(std::uint8_t reg, std::uint8_t value);
    int ReadByteData(std::uint8_t reg, std::uint8_t& value);
    // An SMBus quick write or read: only the address and the direction bit.
    int Quick(bool read);

    // What to tell the user when OpenBus failed (no such bus, no permission).
    std::string OpenProblem(int negatedErrno) const;
    // What to tell the user when Claim failed.
    std::string ClaimProblem(int negatedErrno) const;

private:
    int Transfer(char readWrite, std::uint8_t command, int size, void* data);

    std::shared_ptr<KernelSystem> sys_;
    std::string bus_;
    std::uint32_t busNumber_;
    std::uint8_t address_;
    int fd_ = -1;
};
