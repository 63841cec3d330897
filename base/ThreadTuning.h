#pragma once

#include <cstdint>

// What the precise sleep asks of the kernel for the thread that sleeps, each
// given back as it was found.

// The calling thread's scheduler slice, shortened while this lives (Linux 6.12
// on, older kernels ignore it). On a busy machine a thread woken from its sleep
// waits until the task on the core has run its slice, 1.4 ms here, often
// longer; with a shorter slice of its own it takes the core at once. It is a
// slice of the thread's fair share, not more CPU time: it cannot let a runaway
// run take a core. It must stay set: changing it re-queues the thread, and set
// around each sleep it bought nothing in trials under load. Only an ordinary
// thread's: real-time, batch and idle threads keep what they were given.
class ShortSlice {
public:
    // Covers what the thread runs between two sleeps (the tail, the idle work
    // and a refresh), or it would be taken off the core at the next tick.
    static constexpr std::uint64_t kSliceNs = 300'000;

    ShortSlice();
    ~ShortSlice();
    ShortSlice(const ShortSlice&) = delete;
    ShortSlice& operator=(const ShortSlice&) = delete;

private:
    long thread_ = -1;  // the thread whose slice was shortened; -1: none
    std::uint64_t previousNs_ = 0;
};

// The calling thread's timer slack at its finest for one kernel sleep. The
// default of 50 us would let every wake-up come up to that much late, on top of
// the latency, and the spin tail would have to be that much longer. Where the
// slack cannot be read it is left alone: the wake-up may come later, never
// earlier.
class FineTimerSlack {
public:
    FineTimerSlack();
    ~FineTimerSlack();
    FineTimerSlack(const FineTimerSlack&) = delete;
    FineTimerSlack& operator=(const FineTimerSlack&) = delete;

private:
    int previous_;
};
