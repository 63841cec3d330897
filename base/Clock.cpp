#include "base/Clock.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <utility>

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
constexpr int kIdleLeadFactor = 2;
constexpr int kIdleLeadDecayEighths = 7;

// The finest timer slack the kernel takes (nanoseconds). Its default of 50 us
// would let every wake-up come up to that much late, on top of the latency,
// and the tail would have to spin that much longer.
constexpr unsigned long kFinestTimerSlackNs = 1;

constexpr long kNanosPerSecond = 1'000'000'000;

// The scheduler slice asked for the sleeping thread (nanoseconds; Linux 6.12
// on, older kernels ignore it). On a busy machine a thread woken from its sleep
// waits until the task on the core has run its slice, 1.4 ms here, often
// longer; with a shorter slice of its own it takes the core at once. The slice
// covers what the thread runs between two sleeps (the tail, the idle work and
// a refresh), or it would be taken off the core at the next tick after all. It
// is a slice of the thread's fair share, not more CPU time: it cannot let a
// runaway run take a core. It must stay set: changing it re-queues the thread,
// and set around each sleep it bought nothing in trials under load.
constexpr std::uint64_t kWakeSliceNs = 300'000;

// The kernel's struct sched_attr (its header clashes with the C library's).
struct SchedAttr {
    std::uint32_t size;
    std::uint32_t sched_policy;
    std::uint64_t sched_flags;
    std::int32_t sched_nice;
    std::uint32_t sched_priority;
    std::uint64_t sched_runtime;
    std::uint64_t sched_deadline;
    std::uint64_t sched_period;
    std::uint32_t sched_util_min;
    std::uint32_t sched_util_max;
};

bool ReadSchedAttr(long thread, SchedAttr& attr) {
    attr = {};
    return syscall(SYS_sched_getattr, thread, &attr, sizeof attr, 0) == 0;
}

bool WriteSchedAttr(long thread, SchedAttr& attr) {
    attr.size = sizeof attr;
    return syscall(SYS_sched_setattr, thread, &attr, 0) == 0;
}

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

// A pause this long between two readings of the clock in a spin means the
// thread was off its core for another task's time slice. Shorter ones come
// from interrupts, a kernel thread or the hypervisor, a few a second on a
// quiet virtual machine; a spin on a busy one sees pauses of a millisecond and
// more, dozens a second.
constexpr std::chrono::microseconds kOffCore{500};

// The tail covers all but the worst one in this many wake-ups, and a quarter
// more for the wake-ups a little later than any of them.
constexpr std::size_t kLeftOutOneIn = 32;
constexpr int kTailMarginQuarters = 1;

}  // namespace

std::uint64_t MonotonicClock::NowMicros() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<microseconds>(Steady::now().time_since_epoch()).count());
}

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
    length_ = std::clamp(covered + covered * kTailMarginQuarters / 4, kShortest, kLongest);
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

namespace {
// More tasks ready to run than cores this thread may use, from the kernel's
// count of runnable tasks in /proc/loadavg ("1.21 0.95 0.56 2/108 21845").
// Unreadable, the machine counts as idle: a spin that loses its core still
// gives spinning up.
bool MachineBusy() {
    std::FILE* file = std::fopen("/proc/loadavg", "re");
    if (!file) return false;
    double averages[3];
    unsigned long runnable = 0;
    const int read =
        std::fscanf(file, "%lf %lf %lf %lu/", &averages[0], &averages[1], &averages[2], &runnable);
    std::fclose(file);
    cpu_set_t cores;
    if (read != 4 || sched_getaffinity(0, sizeof cores, &cores) != 0) return false;
    return runnable > static_cast<unsigned long>(CPU_COUNT(&cores));
}
}  // namespace

MonotonicClock::~MonotonicClock() {
    // The slice is put back at the length it was read with.
    SchedAttr attr;
    if (slicedThread_ > 0 && ReadSchedAttr(slicedThread_, attr)) {
        attr.sched_runtime = previousSliceNs_;
        WriteSchedAttr(slicedThread_, attr);
    }
}

void MonotonicClock::ShortenSlice() {
    // Only the first thread that sleeps, and only an ordinary one: real-time,
    // batch and idle threads keep what they were given.
    slicedThread_ = -1;
    const long thread = syscall(SYS_gettid);
    SchedAttr attr;
    if (!ReadSchedAttr(thread, attr) || attr.sched_policy != SCHED_OTHER) return;
    const std::uint64_t previous = attr.sched_runtime;
    attr.sched_runtime = kWakeSliceNs;
    if (!WriteSchedAttr(thread, attr)) return;
    slicedThread_ = thread;
    previousSliceNs_ = previous;
}

void MonotonicClock::SleepInKernelUntil(Steady::time_point wake) {
    if (wake - Steady::now() < kShortestKernelSleep) return;
    if (slicedThread_ == 0) ShortenSlice();
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

void MonotonicClock::SleepMillis(std::uint32_t ms) {
    // An absolute deadline: time lost on the way in or on waking does not add up.
    // A kernel sleep ends the spin tail before the idle work is due, and the
    // rest is spun, so the sleep is never shorter than asked and hardly ever
    // much longer, while a busy machine sees the thread wait in the kernel.
    if (mode_.TrialDue()) mode_.Try(MachineBusy());
    const bool spins = mode_.Spins();
    const Steady::time_point start = Steady::now();
    const Steady::time_point deadline = start + std::chrono::milliseconds(ms);
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
