#include "base/Clock.h"

#include "base/PreciseSleep.h"

namespace {
Clock*& CurrentClock() {
    static MonotonicClock monotonic;
    static Clock* current = &monotonic;
    return current;
}
}  // namespace

Clock& TheClock() {
    return *CurrentClock();
}

ScopedClock::ScopedClock(Clock& clock) : previous_(CurrentClock()) {
    CurrentClock() = &clock;
}

ScopedClock::~ScopedClock() {
    CurrentClock() = previous_;
}

void Sleep(std::uint32_t ms) {
    TheClock().SleepMillis(ms);
}
