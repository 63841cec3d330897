#pragma once

#include <cstdint>
#include <vector>

#include "base/Clock.h"

// Virtual time for tests: a wait only advances the clock, after running the
// idle work as every clock does, and is recorded in the unit it was asked in.
class VirtualClock final : public Clock {
public:
    std::uint64_t NowMicros() const override { return now_; }
    void SleepMicros(std::uint64_t us) override;
    void SleepMillis(std::uint32_t ms) override;
    void AdvanceMicros(std::uint64_t us) { now_ += us; }

    const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }
    const std::vector<std::uint64_t>& MicroSleeps() const { return microSleeps_; }
    // Every wait, in either unit.
    std::uint64_t TotalSleptMicros() const;
    void ClearSleeps();

private:
    void Pass(std::uint64_t us);

    std::uint64_t now_ = 0;
    std::vector<std::uint32_t> sleeps_;
    std::vector<std::uint64_t> microSleeps_;
};
