#include "platform/Clock.h"

#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <numeric>
#include <utility>

namespace {

using Steady = std::chrono::steady_clock;

// Sleeps up to this long are spun on the clock from start to end. Any kernel
// sleep, however short, costs the code after it: the core wakes up slow and with
// cold caches, and the refresh that follows takes up to twice as long. A test
// run's own gaps are all this short, so the run keeps a warm core; the waits of
// an initialisation are longer and sleep in the kernel.
constexpr std::chrono::milliseconds kLongestSpin{2};

// How long before the deadline a kernel sleep ends; the rest is spun on the
// clock. It covers the usual wake-up latency of an idle machine, so the spin
// rarely starts late and the sleep ends within a microsecond of its deadline.
constexpr std::chrono::microseconds kSpinMargin{150};

// The idle work starts twice as long before the deadline as it has lately
// taken (never less than the shortest lead), so it is done by the deadline:
// the lead follows a longer piece of work at once and a shorter one slowly.
// Late rather than early: the work (repainting) warms the code the refresh
// after the sleep runs, which a long spin otherwise lets go cold.
constexpr int kIdleLeadFactor = 2;
constexpr int kIdleLeadDecayEighths = 7;

// The finest timer slack the kernel takes (nanoseconds). Its default of 50 us
// would let every wake-up come up to that much late, on top of the latency.
constexpr unsigned long kFinestTimerSlackNs = 1;

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

// Lowers the calling thread's timer slack for one kernel sleep and puts the
// thread's own value back afterwards. Where the slack cannot be read, it is
// left alone: the wake-up may come later, never earlier.
class FineTimerSlack {
public:
    FineTimerSlack() : previous_(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)) {
        if (previous_ > 0) prctl(PR_SET_TIMERSLACK, kFinestTimerSlackNs, 0, 0, 0);
    }
    ~FineTimerSlack() {
        if (previous_ > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_), 0, 0, 0);
    }
    FineTimerSlack(const FineTimerSlack&) = delete;
    FineTimerSlack& operator=(const FineTimerSlack&) = delete;

private:
    int previous_;
};

// Sleeps in the kernel until `wake` on the monotonic clock, which is the
// steady clock's own. An interrupted sleep sleeps on; any other failure just
// ends the kernel sleep, and the caller's spin still holds to the deadline.
void SleepUntil(Steady::time_point wake) {
    const auto sinceEpoch = wake.time_since_epoch();
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
    const timespec until{static_cast<time_t>(nanos / kNanosPerSecond), nanos % kNanosPerSecond};
    const FineTimerSlack fine;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace

std::uint64_t MonotonicClock::NowMicros() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<microseconds>(Steady::now().time_since_epoch()).count());
}

void MonotonicClock::SleepMillis(std::uint32_t ms) {
    // An absolute deadline: time lost on the way in or on waking does not add up.
    // A kernel sleep ends a little early and the last stretch is spun, so the
    // sleep is never shorter than asked and hardly ever much longer.
    const auto length = std::chrono::milliseconds(ms);
    const Steady::time_point start = Steady::now();
    const Steady::time_point deadline = start + length;
    // Work that was waiting for a pause uses the end of the wait, not time of
    // its own.
    const Steady::time_point idleAt = std::max(start, deadline - idleLead_);
    if (length > kLongestSpin) SleepUntil(idleAt - kSpinMargin);
    while (Steady::now() < idleAt) CpuRelax();
    const Steady::time_point idleStart = Steady::now();
    RunIdleWork();
    const auto took = Steady::now() - idleStart;
    idleLead_ = std::max({Steady::duration{kShortestIdleLead}, took * kIdleLeadFactor,
                          idleLead_ * kIdleLeadDecayEighths / 8});
    while (Steady::now() < deadline) CpuRelax();
}

void VirtualClock::SleepMillis(std::uint32_t ms) {
    sleeps_.push_back(ms);
    RunIdleWork();
    now_ += std::uint64_t{ms} * 1000;
}

std::uint64_t VirtualClock::TotalSleptMillis() const {
    return std::accumulate(sleeps_.begin(), sleeps_.end(), std::uint64_t{0});
}

namespace {
std::function<void()>& IdleWork() {
    static std::function<void()> work;
    return work;
}
}  // namespace

void SetIdleWork(std::function<void()> work) {
    IdleWork() = std::move(work);
}

void RunIdleWork() {
    if (IdleWork()) IdleWork()();
}

namespace {
Clock*& CurrentClock() {
    static MonotonicClock monotonic;
    static Clock* current = &monotonic;
    return current;
}
}  // namespace

Clock& TheClock() {
    return *CurrentClock();
}

ScopedClock::ScopedClock(Clock& clock) : previous_(CurrentClock()) {
    CurrentClock() = &clock;
}

ScopedClock::~ScopedClock() {
    CurrentClock() = previous_;
}

void Sleep(std::uint32_t ms) {
    TheClock().SleepMillis(ms);
}
