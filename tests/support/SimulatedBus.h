#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimulatedI2cBus.h"
#include "support/FakeKernel.h"

// A simulated I2C bus over `fallback` with the backpacks of the --sim-i2c
// values `setups` on it, its bus time handed to `wait`.
inline std::shared_ptr<SimulatedI2cBus> MakeSimulatedBus(
    const std::vector<std::string>& setups, Clock& clock, SimulatedI2cBus::Wait wait,
    std::shared_ptr<KernelSystem> fallback = std::make_shared<FakeKernel>()) {
    auto bus = std::make_shared<SimulatedI2cBus>(std::move(fallback), clock, std::move(wait));
    for (const std::string& text : setups) {
        std::string error;
        const auto setup = ParseBackpackSetup(text, error);
        EXPECT_TRUE(setup && bus->Add(*setup)) << text << ": " << error;
    }
    return bus;
}
