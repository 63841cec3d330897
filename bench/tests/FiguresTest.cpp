#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "bench/Figures.h"

namespace {

// The benchmark's figures on made-up timings, worked out by hand.

std::array<double, 6> Fields(const Spread& s) {
    return {static_cast<double>(s.count), s.min, s.median, s.p99, s.max, s.mean};
}

std::vector<double> OneTo(int n) {
    std::vector<double> samples;
    for (int i = n; i >= 1; --i) samples.push_back(i);  // unsorted on purpose
    return samples;
}

TEST(BenchFigures, SpreadOfSamples) {
    struct Case {
        const char* what;
        std::vector<double> samples;
        std::array<double, 6> spread;  // count, min, median, p99, max, mean
    };
    const Case cases[] = {
        {"none", {}, {0, 0, 0, 0, 0, 0}},
        {"one", {7}, {1, 7, 7, 7, 7, 7}},
        {"odd count, unsorted", {5, 1, 3}, {3, 1, 3, 5, 5, 3}},
        {"even count: the median lies between the middle two",
         {4, 1, 3, 2},
         {4, 1, 2.5, 4, 4, 2.5}},
        {"p99 of 100 by nearest rank: the 99th", OneTo(100), {100, 1, 50.5, 99, 100, 50.5}},
        {"p99 of 200: the 198th", OneTo(200), {200, 1, 100.5, 198, 200, 100.5}},
        {"p99 of 101: the 100th", OneTo(101), {101, 1, 51, 100, 101, 51}},
        {"negative overshoot", {-2, 4}, {2, -2, 1, 4, 4, 1}},
    };
    for (const Case& c : cases) EXPECT_EQ(Fields(SpreadOf(c.samples)), c.spread) << c.what;
}

TEST(BenchFigures, OvershootOfEachSleep) {
    // Late, early (a sleep that broke its promise must show, not wrap around)
    // and one of no length.
    const std::vector<SleepRecord> sleeps = {{1000, 1'000'250}, {2000, 1'999'000}, {0, 500}};
    EXPECT_EQ(OvershootMicros(sleeps), (std::vector<double>{0.25, -1.0, 0.5}));
}

TEST(BenchFigures, RunRatioAndShares) {
    struct Case {
        const char* what;
        RunTimes times;  // requested, slept, wall (ns)
        double ratio, overshootShare, otherShare;
    };
    const Case cases[] = {
        {"a run", {1'000'000'000, 1'010'000'000, 1'050'000'000}, 1.05, 0.2, 0.8},
        {"sleeps that ended early", {1'000'000'000, 990'000'000, 1'040'000'000}, 1.04, -0.25, 1.25},
        {"exactly its delays", {1'000'000'000, 1'000'000'000, 1'000'000'000}, 1.0, 0, 0},
        {"shorter than its delays", {1'000'000'000, 1'000'000'000, 900'000'000}, 0.9, 0, 0},
        {"nothing requested", {0, 0, 5'000}, 0, 0, 1},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(c.times.Ratio(), c.ratio) << c.what;
        EXPECT_DOUBLE_EQ(c.times.OvershootShare(), c.overshootShare) << c.what;
        EXPECT_DOUBLE_EQ(c.times.OtherShare(), c.otherShare) << c.what;
    }
}

}  // namespace
