#pragma once

#include <cstdint>

// The time source behind every delay and every timestamp of the tool. The tool
// runs on the precise sleep (base/PreciseSleep.h); tests run on virtual time
// (base/VirtualClock.h), so nothing sleeps for real there and the requested
// delays can be read back.
class Clock {
public:
    static constexpr std::uint64_t kMicrosPerMilli = 1000;

    virtual ~Clock() = default;
    // Microseconds since an arbitrary origin fixed for the clock's life.
    virtual std::uint64_t NowMicros() const = 0;
    // Waits at least `us` microseconds; never returns early. The thread's idle
    // work (base/IdleWork.h) runs within the wait, inside the same deadline.
    virtual void SleepMicros(std::uint64_t us) = 0;
    // The same in milliseconds, the unit of the module's bus delays. A clock
    // that lists the millisecond sleeps as such (the virtual one) overrides it.
    virtual void SleepMillis(std::uint32_t ms) { SleepMicros(ms * kMicrosPerMilli); }
};

// The process's clock: the precise sleep unless a ScopedClock has replaced it.
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
