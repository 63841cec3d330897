#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

// The time source behind every delay and every timestamp of the tool. The tool
// runs on the monotonic clock; tests run on virtual time, so nothing sleeps for
// real there and the requested delays can be read back.
class Clock {
public:
    virtual ~Clock() = default;
    // Microseconds since an arbitrary origin fixed for the clock's life.
    virtual std::uint64_t NowMicros() const = 0;
    // Waits at least `ms` milliseconds; never returns early. The thread's idle
    // work (see SetIdleWork) runs within the wait, inside the same deadline.
    virtual void SleepMillis(std::uint32_t ms) = 0;
};

// Sleeps to an absolute deadline on the monotonic clock. Short sleeps spin on
// the clock; longer ones sleep in the kernel until shortly before the deadline
// and spin the last stretch. The idle work runs near the end of the wait.
class MonotonicClock final : public Clock {
public:
    std::uint64_t NowMicros() const override;
    void SleepMillis(std::uint32_t ms) override;

private:
    static constexpr std::chrono::microseconds kShortestIdleLead{100};
    // How long before the deadline the idle work starts.
    std::chrono::steady_clock::duration idleLead_ = kShortestIdleLead;
};

// Virtual time: a sleep only advances the clock, and is recorded.
class VirtualClock final : public Clock {
public:
    std::uint64_t NowMicros() const override { return now_; }
    void SleepMillis(std::uint32_t ms) override;
    void AdvanceMicros(std::uint64_t us) { now_ += us; }

    const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }
    std::uint64_t TotalSleptMillis() const;
    void ClearSleeps() { sleeps_.clear(); }

private:
    std::uint64_t now_ = 0;
    std::vector<std::uint32_t> sleeps_;
};

// Work that may wait for the thread's next pause, such as repaints the screen
// can take a moment later. Every sleep runs it within its own deadline, so a
// wait that would only have spun does it instead. One piece of work at a
// time; an empty function removes it.
void SetIdleWork(std::function<void()> work);
void RunIdleWork();

// The process's clock: a monotonic one unless a ScopedClock has replaced it.
Clock& TheClock();

class ScopedClock {
public:
    explicit ScopedClock(Clock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* previous_;
};

// Millisecond sleep on the process's clock.
void Sleep(std::uint32_t ms);
