#include "base/PreciseSleep.h"

#include <time.h>

#include <algorithm>
#include <bit>
#include <cerrno>

#include "base/IdleWork.h"
#include "base/LoadProbe.h"

namespace {

using Steady = std::chrono::steady_clock;

// A kernel sleep shorter than this is spun instead: the wake-up alone would take
// about as long.
constexpr std::chrono::microseconds kShortestKernelSleep{50};

// The idle work starts twice as long before the deadline as it has lately
// taken (within the lead's bounds), so it is done by the deadline: the lead
// follows a longer piece of work at once and a shorter one slowly. The upper
// bound keeps one piece of work that was taken off the core from moving the
// work to the start of every wait.
// Late rather than early: the work (repainting) warms the code and the caches
// for the refresh after the sleep, which the kernel sleep otherwise leaves cold.
constexpr std::chrono::microseconds kShortestIdleLead{100};
constexpr std::chrono::microseconds kLongestIdleLead{500};
constexpr int kIdleLeadFactor = 2;
constexpr int kIdleLeadDecayEighths = 7;

// A pause this long between two readings of the clock in a spin means the
// thread was off its core for another task's time slice. Shorter ones come
// from interrupts, a kernel thread or the hypervisor, a few a second on a
// quiet virtual machine; a spin on a busy one sees pauses of a millisecond and
// more, dozens a second.
constexpr std::chrono::microseconds kOffCore{500};

constexpr long kNanosPerSecond = 1'000'000'000;

// Tells the core that this is a busy-wait, which saves power and leaves the
// other hardware thread of the core its share.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    asm volatile("yield");
#endif
}

// Sleeps in the kernel until `wake` on the monotonic clock, which is the
// steady clock's own. An interrupted sleep sleeps on; any other failure ends
// the kernel sleep and returns false, and the caller's spin still holds to the
// deadline.
bool SleepUntil(Steady::time_point wake) {
    const auto sinceEpoch = wake.time_since_epoch();
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
    const timespec until{static_cast<time_t>(nanos / kNanosPerSecond), nanos % kNanosPerSecond};
    const FineTimerSlack fine;
    int error = 0;
    while ((error = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr)) == EINTR) {
    }
    return error == 0;
}

}  // namespace

void SpinTail::Observe(Duration latency) {
    recent_[next_] = std::max(latency, Duration::zero());
    next_ = (next_ + 1) % kWindow;
    count_ = std::min(count_ + 1, kWindow);
    // The samples fill the window from its start, so the first count_ are the
    // ones measured.
    std::array<Duration, kWindow> sorted = recent_;
    const auto first = sorted.begin();
    const std::size_t rank = (count_ * (kLeftOutOneIn - 1) + kLeftOutOneIn - 1) / kLeftOutOneIn;
    std::nth_element(first, first + static_cast<std::ptrdiff_t>(rank - 1),
                     first + static_cast<std::ptrdiff_t>(count_));
    const Duration covered = sorted[rank - 1];
    length_ = std::clamp(covered + covered * kMarginQuarters / 4, kShortest, kLongest);
}

void WaitMode::Try(bool machineBusy) {
    if (machineBusy) {
        GiveUp();
        return;
    }
    spinning_ = true;
    losses_ = 0;
    spun_ = 0;
}

void WaitMode::GiveUp() {
    spinning_ = false;
    sleepsLeft_ = backoff_;
    backoff_ = std::min(backoff_ * 2, kLongestBackoff);
}

void WaitMode::Spun(bool lostCore) {
    constexpr std::uint32_t kWindowMask = (std::uint32_t{1} << kLossWindow) - 1;
    losses_ = ((losses_ << 1) | (lostCore ? 1u : 0u)) & kWindowMask;
    ++spun_;
    const int tolerated = spun_ <= kLossWindow ? 0 : 1;
    if (std::popcount(losses_) > tolerated) {
        GiveUp();
        return;
    }
    if (spun_ == kLasting) backoff_ = kFirstBackoff;
}

void WaitMode::Slept() {
    if (sleepsLeft_ > 0) --sleepsLeft_;
}

MonotonicClock::MonotonicClock() : idleLead_(kShortestIdleLead) {}

std::uint64_t MonotonicClock::NowMicros() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<microseconds>(Steady::now().time_since_epoch()).count());
}

void MonotonicClock::SleepInKernelUntil(Steady::time_point wake) {
    if (wake - Steady::now() < kShortestKernelSleep) return;
    if (!slice_) slice_.emplace();
    if (SleepUntil(wake)) tail_.Observe(Steady::now() - wake);
}

bool MonotonicClock::SpinUntil(Steady::time_point until) {
    bool offCore = false;
    for (Steady::time_point last = Steady::now(), now = last; now < until; last = now) {
        CpuRelax();
        now = Steady::now();
        offCore = offCore || now - last > kOffCore;
    }
    return offCore;
}

void MonotonicClock::SleepMicros(std::uint64_t us) {
    // An absolute deadline: time lost on the way in or on waking does not add up.
    // A kernel sleep ends the spin tail before the idle work is due, and the
    // rest is spun, so the sleep is never shorter than asked and hardly ever
    // much longer, while a busy machine sees the thread wait in the kernel.
    if (mode_.TrialDue()) mode_.Try(MachineBusy());
    const bool spins = mode_.Spins();
    const Steady::time_point start = Steady::now();
    const Steady::time_point deadline = start + std::chrono::microseconds(us);
    // Work that was waiting for a pause uses the end of the wait, not time of
    // its own.
    const Steady::time_point idleAt = std::max(start, deadline - idleLead_);
    if (!spins) SleepInKernelUntil(idleAt - tail_.Length());
    bool offCore = SpinUntil(idleAt);
    const Steady::time_point idleStart = Steady::now();
    RunIdleWork();
    const auto took = Steady::now() - idleStart;
    idleLead_ = std::clamp(std::max(took * kIdleLeadFactor, idleLead_ * kIdleLeadDecayEighths / 8),
                           Steady::duration{kShortestIdleLead}, Steady::duration{kLongestIdleLead});
    // Idle work done early (a wait shorter than its lead) leaves more than a
    // tail to the deadline, which is slept too.
    if (!spins) SleepInKernelUntil(deadline - tail_.Length());
    offCore = SpinUntil(deadline) || offCore;
    spins ? mode_.Spun(offCore) : mode_.Slept();
}
