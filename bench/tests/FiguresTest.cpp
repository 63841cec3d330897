// The benchmark's arithmetic on made-up timings, and its timing clock on
// virtual time: nothing here sleeps or looks at a real duration.

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "bench/Figures.h"
#include "bench/SleepTiming.h"

namespace {

constexpr std::uint64_t kMs = 1'000'000;  // nanoseconds

std::vector<double> Shuffled1To(int n) {
    std::vector<double> samples(static_cast<std::size_t>(n));
    std::iota(samples.begin(), samples.end(), 1.0);
    std::shuffle(samples.begin(), samples.end(), std::mt19937(n));
    return samples;
}

TEST(SpreadOf, TakesMedianAndNearestRankP99FromUnsortedSamples) {
    struct Case {
        std::vector<double> samples;
        double min, median, p99, max, mean;
    };
    const Case cases[] = {
        {{5, 1, 3}, 1, 3, 5, 5, 3},
        {{4, 1, 3, 2}, 1, 2.5, 4, 4, 2.5},
        {{7}, 7, 7, 7, 7, 7},
        {Shuffled1To(100), 1, 50.5, 99, 100, 50.5},
        {Shuffled1To(200), 1, 100.5, 198, 200, 100.5},
        {Shuffled1To(1000), 1, 500.5, 990, 1000, 500.5},
    };
    for (const Case& c : cases) {
        const Spread s = SpreadOf(c.samples);
        EXPECT_EQ(s.count, c.samples.size());
        EXPECT_DOUBLE_EQ(s.min, c.min) << c.samples.size();
        EXPECT_DOUBLE_EQ(s.median, c.median) << c.samples.size();
        EXPECT_DOUBLE_EQ(s.p99, c.p99) << c.samples.size();
        EXPECT_DOUBLE_EQ(s.max, c.max) << c.samples.size();
        EXPECT_DOUBLE_EQ(s.mean, c.mean) << c.samples.size();
    }
    const Spread none = SpreadOf({});
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(none.max, 0);
}

TEST(RunFigures, SplitTheTimeAboveTheRequestedDelays) {
    // 600 ms asked, the sleeps lasted 603 ms, the run 610 ms: 10 ms above the
    // delays, 3 of them overshoot and 7 everything else.
    const RunTimes run{600 * kMs, 603 * kMs, 610 * kMs};
    EXPECT_DOUBLE_EQ(run.Ratio(), 610.0 / 600.0);
    EXPECT_DOUBLE_EQ(run.OvershootShare(), 0.3);
    EXPECT_DOUBLE_EQ(run.OtherShare(), 0.7);

    const RunTimes exact{600 * kMs, 600 * kMs, 600 * kMs};
    EXPECT_DOUBLE_EQ(exact.Ratio(), 1.0);
    EXPECT_EQ(exact.OvershootShare(), 0.0);
    EXPECT_EQ(exact.OtherShare(), 0.0);

    // A sleep that returned early is shown, not hidden.
    const RunTimes early{600 * kMs, 598 * kMs, 602 * kMs};
    EXPECT_DOUBLE_EQ(early.OvershootShare(), -1.0);
    EXPECT_DOUBLE_EQ(early.OtherShare(), 2.0);

    EXPECT_EQ(RunTimes{}.Ratio(), 0.0);

    const std::vector<SleepRecord> sleeps = {{1, kMs + 250}, {2, 2 * kMs}, {2, 2 * kMs - 1000}};
    EXPECT_EQ(OvershootMicros(sleeps), (std::vector<double>{0.25, 0.0, -1.0}));
}

TEST(TimedClock, PassesEverySleepOnAndRecordsIt) {
    VirtualClock inner;
    TimedClock timed(inner);
    EXPECT_EQ(timed.LastWakeNanos(), 0u);
    for (const std::uint32_t ms : {40u, 1u, 2u}) timed.SleepMillis(ms);

    EXPECT_EQ(inner.Sleeps(), (std::vector<std::uint32_t>{40, 1, 2}));
    EXPECT_EQ(timed.NowMicros(), inner.NowMicros());
    ASSERT_EQ(timed.Sleeps().size(), 3u);
    EXPECT_EQ(timed.Sleeps()[0].requestedMs, 40u);
    EXPECT_EQ(timed.RequestedNanos(), 43 * kMs);
    std::uint64_t actual = 0;
    for (const SleepRecord& s : timed.Sleeps()) actual += s.actualNanos;
    EXPECT_EQ(timed.ActualNanos(), actual);
    EXPECT_GT(timed.LastWakeNanos(), 0u);

    timed.Clear();
    EXPECT_TRUE(timed.Sleeps().empty());
    EXPECT_EQ(timed.RequestedNanos(), 0u);
}

}  // namespace
