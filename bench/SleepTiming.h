#pragma once

#include <cstdint>
#include <vector>

#include "base/Clock.h"
#include "bench/Figures.h"

// Wraps a clock and times each of its sleeps on the steady clock, in
// nanoseconds, so the overshoot of a whole run can be told from its other costs.
class TimedClock final : public Clock {
public:
    explicit TimedClock(Clock& inner) : inner_(inner) {}

    std::uint64_t NowMicros() const override { return inner_.NowMicros(); }
    void SleepMicros(std::uint64_t us) override;

    const std::vector<SleepRecord>& Sleeps() const { return sleeps_; }
    // When the last sleep returned, on SteadyNanos; 0 before the first.
    std::uint64_t LastWakeNanos() const { return lastWake_; }
    std::uint64_t RequestedNanos() const;
    std::uint64_t ActualNanos() const;
    void Clear() { sleeps_.clear(); }

private:
    Clock& inner_;
    std::vector<SleepRecord> sleeps_;
    std::uint64_t lastWake_ = 0;
};

// The baseline: the monotonic clock with a plain std::this_thread::sleep_for.
class PlainSleepClock final : public Clock {
public:
    std::uint64_t NowMicros() const override;
    void SleepMicros(std::uint64_t us) override;
};

// Nanoseconds on the steady clock since an arbitrary origin.
std::uint64_t SteadyNanos();
