#include "platform/Clock.h"

#include <chrono>
#include <numeric>
#include <thread>

std::uint64_t MonotonicClock::NowMicros() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void MonotonicClock::SleepMillis(std::uint32_t ms) {
    // sleep_until on the steady clock never wakes before the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
}

void VirtualClock::SleepMillis(std::uint32_t ms) {
    sleeps_.push_back(ms);
    now_ += std::uint64_t{ms} * 1000;
}

std::uint64_t VirtualClock::TotalSleptMillis() const {
    return std::accumulate(sleeps_.begin(), sleeps_.end(), std::uint64_t{0});
}

namespace {
Clock*& CurrentClock() {
    static MonotonicClock monotonic;
    static Clock* current = &monotonic;
    return current;
}
}  // namespace

Clock& TheClock() { return *CurrentClock(); }

ScopedClock::ScopedClock(Clock& clock) : previous_(CurrentClock()) { CurrentClock() = &clock; }

ScopedClock::~ScopedClock() { CurrentClock() = previous_; }

void Sleep(std::uint32_t ms) { TheClock().SleepMillis(ms); }
