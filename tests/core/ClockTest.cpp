#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/IdleWork.h"
#include "base/PreciseSleep.h"
#include "base/VirtualClock.h"

namespace {

using std::chrono::microseconds;

// The one real wait in the suite, a few milliseconds: a sleep may end late on a
// busy machine but never early, so only the lower bound is checked.
TEST(MonotonicClock, SleepNeverEndsBeforeItsDeadline) {
    MonotonicClock clock;
    for (const std::uint32_t ms : {1u, 4u}) {
        const auto start = std::chrono::steady_clock::now();
        clock.SleepMillis(ms);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms)) << ms;
    }
    for (const std::uint64_t us : {300u, 2500u}) {
        const auto start = std::chrono::steady_clock::now();
        clock.SleepMicros(us);
        EXPECT_GE(std::chrono::steady_clock::now() - start, microseconds(us)) << us;
    }
}

TEST(VirtualClock, WaitsAdvanceTimeRunTheIdleWorkAndAreRecordedInTheirUnit) {
    VirtualClock clock;
    int idle = 0;
    SetIdleWork([&idle] { ++idle; });
    clock.SleepMillis(2);
    clock.SleepMicros(250);
    clock.AdvanceMicros(5);
    clock.SleepMillis(1);
    SetIdleWork({});
    EXPECT_EQ(clock.NowMicros(), 3255u);
    EXPECT_EQ(clock.TotalSleptMicros(), 3250u);
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{2, 1}));
    EXPECT_EQ(clock.MicroSleeps(), (std::vector<std::uint64_t>{250}));
    EXPECT_EQ(idle, 3);
}

// Wake-up latencies in the order measured, as runs of equal ones, and the tail
// the sleep then spins.
struct TailCase {
    const char* what;
    std::vector<std::pair<int, microseconds>> wakeUps;  // {how many, latency}
    SpinTail::Duration tail;
};

TEST(SpinTail, FollowsTheLatestWakeUpsLeavingOutTheRareWorst) {
    const TailCase cases[] = {
        {"nothing measured yet", {}, SpinTail::kFirst},
        {"one wake-up, a quarter more", {{1, microseconds{100}}}, microseconds{125}},
        {"under 32 wake-ups the worst counts",
         {{9, microseconds{40}}, {1, microseconds{96}}},
         microseconds{120}},
        {"one in 32 left out", {{62, microseconds{60}}, {2, microseconds{4000}}}, microseconds{75}},
        {"more than one in 32 is covered",
         {{61, microseconds{60}}, {3, microseconds{100}}},
         microseconds{125}},
        {"the window forgets older wake-ups",
         {{64, microseconds{1000}}, {64, microseconds{40}}},
         microseconds{50}},
        {"never below the shortest", {{64, microseconds{5}}}, SpinTail::kShortest},
        {"an early wake-up counts as none", {{1, microseconds{-30}}}, SpinTail::kShortest},
        {"never above the longest", {{64, microseconds{900}}}, SpinTail::kLongest},
    };
    for (const TailCase& c : cases) {
        SpinTail tail;
        for (const auto& [count, latency] : c.wakeUps)
            for (int i = 0; i < count; ++i) tail.Observe(latency);
        EXPECT_EQ(tail.Length(), c.tail) << c.what;
    }
}

// Waits as a script of steps, each a letter and a count: T a trial on an idle
// machine, B one on a busy machine, s a spinning wait that kept its core, L one
// that lost it, z a kernel sleep. Then whether waits spin, whether a trial is
// due, and the backoff the next failure sets.
struct ModeCase {
    const char* what;
    const char* steps;
    bool spins, trialDue;
    std::size_t backoff;
};

TEST(WaitMode, SpinsUntilItLosesTheCoreAndTriesAgainLater) {
    const ModeCase cases[] = {
        {"a trial comes first", "", false, true, 128},
        {"spinning on an idle machine", "T1 s100", true, false, 128},
        {"a busy machine fails the trial without a spin", "B1 z127", false, false, 256},
        {"the backoff ends in a trial", "B1 z128", false, true, 256},
        {"one loss in a trial's first waits", "T1 s15 L1", false, false, 256},
        {"later one loss is borne", "T1 s16 L1 s15", true, false, 128},
        {"but not two within the window", "T1 s16 L1 s14 L1", false, false, 256},
        {"losses further apart are borne", "T1 s16 L1 s15 L1 s15 L1", true, false, 128},
        {"spinning that lasted starts the backoff over", "B1 z128 T1 s256 L2", false, false, 256},
        {"each early failure doubles it", "B1 z128 B1 z256 T1 L1", false, false, 1024},
        {"up to the longest", "B1 z128 B1 z256 B1 z512 B1 z1024 B1 z2048 B1", false, false, 4096},
    };
    for (const ModeCase& c : cases) {
        WaitMode mode;
        std::istringstream steps(c.steps);
        for (std::string step; steps >> step;)
            for (int n = std::stoi(step.substr(1)); n > 0; --n) {
                if (step[0] == 'T' || step[0] == 'B') mode.Try(step[0] == 'B');
                if (step[0] == 's' || step[0] == 'L') mode.Spun(step[0] == 'L');
                if (step[0] == 'z') mode.Slept();
            }
        EXPECT_EQ(mode.Spins(), c.spins) << c.what;
        EXPECT_EQ(mode.TrialDue(), c.trialDue) << c.what;
        EXPECT_EQ(mode.Backoff(), c.backoff) << c.what;
    }
}

}  // namespace
