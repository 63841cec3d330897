#include "bench/Figures.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {
constexpr double kNanosPerMicro = 1000.0;
constexpr double kP99 = 0.99;

double Difference(std::uint64_t a, std::uint64_t b) {
    return static_cast<double>(a) - static_cast<double>(b);
}
}  // namespace

std::vector<double> OvershootMicros(const std::vector<SleepRecord>& sleeps) {
    std::vector<double> overshoot;
    overshoot.reserve(sleeps.size());
    for (const SleepRecord& s : sleeps)
        overshoot.push_back(static_cast<double>(s.actualNanos) / kNanosPerMicro -
                            static_cast<double>(s.requestedMicros));
    return overshoot;
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

double RunTimes::Ratio() const {
    return requestedNanos == 0
               ? 0.0
               : static_cast<double>(wallNanos) / static_cast<double>(requestedNanos);
}

double RunTimes::OvershootShare() const {
    const double overhead = Difference(wallNanos, requestedNanos);
    return overhead <= 0 ? 0.0 : Difference(sleptNanos, requestedNanos) / overhead;
}

double RunTimes::OtherShare() const {
    const double overhead = Difference(wallNanos, requestedNanos);
    return overhead <= 0 ? 0.0 : Difference(wallNanos, sleptNanos) / overhead;
}
