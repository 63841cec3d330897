#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/Clock.h"
#include "base/ThreadTuning.h"

// How long before its deadline a kernel sleep ends so that the thread runs
// again in time, the rest being spun on the clock: a little above the latest
// wake-ups' latency (how late the kernel let the thread run after the time it
// asked for), leaving out the rare worst one, within fixed bounds. A tail too
// short ends the sleep late; one too long spins, and a thread that spins uses
// up its share of a busy machine and is taken off the core for a time slice.
class SpinTail {
public:
    using Duration = std::chrono::nanoseconds;
    // Before any wake-up was measured: the latency of an idle machine.
    static constexpr Duration kFirst = std::chrono::microseconds{150};
    static constexpr Duration kShortest = std::chrono::microseconds{20};
    static constexpr Duration kLongest = std::chrono::microseconds{150};
    // The wake-ups it follows. It covers all but the worst one in kLeftOutOneIn
    // of them, and kMarginQuarters quarters more for the wake-ups a little
    // later than any of them.
    static constexpr std::size_t kWindow = 64;
    static constexpr std::size_t kLeftOutOneIn = 32;
    static constexpr int kMarginQuarters = 1;

    Duration Length() const { return length_; }
    // One wake-up's latency; a negative one (the kernel woke early) counts as 0.
    void Observe(Duration latency);

private:
    std::array<Duration, kWindow> recent_{};
    std::size_t count_ = 0;
    std::size_t next_ = 0;
    Duration length_ = kFirst;
};

// Whether a wait spins on the clock all through or sleeps in the kernel. A spin
// keeps a deadline to the microsecond while the thread keeps its core; a
// kernel sleep wakes late where the core idles meanwhile (a halted virtual CPU
// can take milliseconds to run again). On a busy machine a spinning thread uses
// up its share and is taken off the core for a time slice, and a sleeping one
// is woken promptly. So spinning is tried when no more tasks are ready to run
// than there are cores, and given up when it loses the core: once in its first
// few waits, or twice in a few waits later (one loss may be the hypervisor's).
// The waits then sleep in the kernel for a while, which doubles each time
// spinning fails before it has lasted.
class WaitMode {
public:
    // Kernel sleeps before spinning is tried again, the first time and at most.
    static constexpr std::size_t kFirstBackoff = 128;
    static constexpr std::size_t kLongestBackoff = 4096;
    // The spinning waits that count the losses of the core: the first ones of a
    // trial, and later the latest ones.
    static constexpr std::size_t kLossWindow = 16;
    // Spinning waits after which spinning has lasted and the backoff starts over.
    static constexpr std::size_t kLasting = 256;

    // A trial of spinning is due before the next wait; `machineBusy` (more
    // tasks ready to run than cores) fails it at once.
    bool TrialDue() const { return !spinning_ && sleepsLeft_ == 0; }
    void Try(bool machineBusy);
    bool Spins() const { return spinning_; }
    std::size_t Backoff() const { return backoff_; }
    // One wait done, spun (whether the thread lost its core meanwhile) or slept.
    void Spun(bool lostCore);
    void Slept();

private:
    void GiveUp();

    bool spinning_ = false;
    std::uint32_t losses_ = 0;  // one bit per spinning wait, the latest lowest
    std::size_t spun_ = 0;      // spinning waits in this trial
    std::size_t sleepsLeft_ = 0;
    std::size_t backoff_ = kFirstBackoff;
};

// The precise sleep: waits to an absolute deadline on the monotonic clock.
// While spinning keeps the core (WaitMode) it spins; otherwise it sleeps in the
// kernel, with the finest timer slack, until the spin tail (SpinTail) before
// the deadline, then spins. The idle work runs near the end of the wait. The
// first thread that sleeps in the kernel keeps a short scheduler slice while
// the clock lives (base/ThreadTuning.h).
class MonotonicClock final : public Clock {
public:
    MonotonicClock();
    MonotonicClock(const MonotonicClock&) = delete;
    MonotonicClock& operator=(const MonotonicClock&) = delete;

    std::uint64_t NowMicros() const override;
    void SleepMicros(std::uint64_t us) override;

private:
    using Steady = std::chrono::steady_clock;

    // Sleeps in the kernel until `wake` when that is far enough off to be
    // worth it, and learns the wake-up's latency.
    void SleepInKernelUntil(Steady::time_point wake);
    // Spins until `until`; true if the thread was off its core meanwhile.
    static bool SpinUntil(Steady::time_point until);

    // How long before the deadline the idle work starts.
    Steady::duration idleLead_;
    SpinTail tail_;
    WaitMode mode_;
    std::optional<ShortSlice> slice_;
};
