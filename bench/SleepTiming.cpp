#include "bench/SleepTiming.h"

#include <chrono>
#include <numeric>
#include <thread>

#include "base/IdleWork.h"

namespace {
constexpr std::uint64_t kNanosPerMicro = 1000;
}  // namespace

std::uint64_t SteadyNanos() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void TimedClock::SleepMicros(std::uint64_t us) {
    const std::uint64_t start = SteadyNanos();
    inner_.SleepMicros(us);
    lastWake_ = SteadyNanos();
    sleeps_.push_back({us, lastWake_ - start});
}

std::uint64_t TimedClock::RequestedNanos() const {
    return std::accumulate(sleeps_.begin(), sleeps_.end(), std::uint64_t{0},
                           [](std::uint64_t sum, const SleepRecord& s) {
                               return sum + s.requestedMicros * kNanosPerMicro;
                           });
}

std::uint64_t TimedClock::ActualNanos() const {
    return std::accumulate(
        sleeps_.begin(), sleeps_.end(), std::uint64_t{0},
        [](std::uint64_t sum, const SleepRecord& s) { return sum + s.actualNanos; });
}

std::uint64_t PlainSleepClock::NowMicros() const {
    return SteadyNanos() / kNanosPerMicro;
}

void PlainSleepClock::SleepMicros(std::uint64_t us) {
    // The same idle work as the tool's own sleep, inside the same wait, so the
    // two differ only in how they wait.
    const auto start = std::chrono::steady_clock::now();
    RunIdleWork();
    std::this_thread::sleep_for(std::chrono::microseconds(us) -
                                (std::chrono::steady_clock::now() - start));
}
