#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "platform/Clock.h"

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

}  // namespace
