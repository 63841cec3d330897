#pragma once

// i2c-dev in memory: I2C_FUNCS, I2C_SLAVE, and SMBus transfers to one device:
// byte transfers (a PCF8574's pins, read as the module drives them) and byte
// data ones (a register file).
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

struct FakeSmbus {
    using Log = std::function<int(std::string)>;

    int Ioctl(unsigned long request, void* arg, const Log& log, const std::function<int()>& plant) {
        char hex[8];
        if (request == I2C_FUNCS) {
            *static_cast<unsigned long*>(arg) = functions;
            return log("funcs");
        }
        if (request == I2C_SLAVE) {
            std::snprintf(hex, sizeof hex, "0x%02X",
                          unsigned(reinterpret_cast<std::uintptr_t>(arg)));
            return log("address " + std::string(hex));
        }
        auto& smbus = *static_cast<i2c_smbus_ioctl_data*>(arg);
        const bool data = smbus.size == I2C_SMBUS_BYTE_DATA;
        if (request != I2C_SMBUS || (smbus.size != I2C_SMBUS_BYTE && !data)) return -EINVAL;
        if (const int error = plant()) return error;
        if (data) {
            const std::uint8_t reg = smbus.command;
            if (smbus.read_write == I2C_SMBUS_WRITE) {
                registers[reg] = smbus.data->byte;
                std::snprintf(hex, sizeof hex, "%02X=%02X", reg, smbus.data->byte);
                return log("write " + std::string(hex));
            }
            smbus.data->byte = registers[reg];
            std::snprintf(hex, sizeof hex, "%02X", reg);
            return log("read " + std::string(hex));
        }
        if (smbus.read_write == I2C_SMBUS_READ) {
            smbus.data->byte = moduleDrives;
            return log("receive");
        }
        std::snprintf(hex, sizeof hex, "%02X", smbus.command);
        return log(hex);
    }

    unsigned long functions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA;
    std::uint8_t moduleDrives = 0xFF;                // what a receive byte gives
    std::map<std::uint8_t, std::uint8_t> registers;  // as written
};
