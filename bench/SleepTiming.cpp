#include "bench/SleepTiming.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numeric>
#include <thread>

namespace {
constexpr double kNanosPerMicro = 1000.0;
constexpr std::uint64_t kNanosPerMilli = 1'000'000;
constexpr std::uint64_t kNanosPerMicroWhole = 1000;
constexpr double kP99 = 0.99;
}  // namespace

std::uint64_t SteadyNanos() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void TimedClock::SleepMillis(std::uint32_t ms) {
    const std::uint64_t start = SteadyNanos();
    inner_.SleepMillis(ms);
    lastWake_ = SteadyNanos();
    sleeps_.push_back({ms, lastWake_ - start});
}

std::uint64_t TimedClock::RequestedNanos() const {
    return std::accumulate(sleeps_.begin(), sleeps_.end(), std::uint64_t{0},
                           [](std::uint64_t sum, const SleepRecord& s) {
                               return sum + s.requestedMs * kNanosPerMilli;
                           });
}

std::uint64_t TimedClock::ActualNanos() const {
    return std::accumulate(
        sleeps_.begin(), sleeps_.end(), std::uint64_t{0},
        [](std::uint64_t sum, const SleepRecord& s) { return sum + s.actualNanos; });
}

std::uint64_t PlainSleepClock::NowMicros() const {
    return SteadyNanos() / kNanosPerMicroWhole;
}

void PlainSleepClock::SleepMillis(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Spread SpreadOf(std::vector<double> samples) {
    Spread s;
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    s.count = n;
    s.min = samples.front();
    s.max = samples.back();
    s.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    const auto rank = static_cast<std::size_t>(std::ceil(kP99 * static_cast<double>(n)));
    s.p99 = samples[std::max<std::size_t>(rank, 1) - 1];
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(n);
    return s;
}

std::vector<double> OvershootMicros(const std::vector<SleepRecord>& sleeps) {
    std::vector<double> overshoot;
    overshoot.reserve(sleeps.size());
    for (const SleepRecord& s : sleeps) {
        const double requested = static_cast<double>(s.requestedMs * kNanosPerMilli);
        overshoot.push_back((static_cast<double>(s.actualNanos) - requested) / kNanosPerMicro);
    }
    return overshoot;
}
