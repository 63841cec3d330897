#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The figures the benchmark reports, worked out from what it timed. No window
// and no clock here, so they are checked on made-up timings
// (bench/tests/FiguresTest.cpp).

// One sleep as asked for and as it lasted on the wall clock.
struct SleepRecord {
    std::uint64_t requestedMicros;
    std::uint64_t actualNanos;
};

// Each sleep's overshoot (actual minus requested) in microseconds.
std::vector<double> OvershootMicros(const std::vector<SleepRecord>& sleeps);

// The spread of a set of samples; all zero when there are none.
struct Spread {
    std::size_t count = 0;
    double min = 0;
    double median = 0;
    double p99 = 0;  // nearest rank: 99 % of the samples are at most this
    double max = 0;
    double mean = 0;
};
Spread SpreadOf(std::vector<double> samples);

// A run's time: the delays it requested, how long its sleeps lasted and how
// long it took from start to end.
struct RunTimes {
    std::uint64_t requestedNanos = 0;
    std::uint64_t sleptNanos = 0;
    std::uint64_t wallNanos = 0;

    // Wall time over the requested delays; 0 when nothing was requested.
    double Ratio() const;
    // Shares of the time above the requested delays: the sleeps' overshoot, and
    // everything else (the refreshes). Both 0 when there is no such time; a
    // sleep that returned early shows as a negative overshoot share.
    double OvershootShare() const;
    double OtherShare() const;
};
