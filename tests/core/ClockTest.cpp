#include <gtest/gtest.h>

#include <chrono>

#include "platform/Clock.h"

namespace {

// The one real wait in the suite, a few milliseconds: a sleep may end late on a
// busy machine but never early, so only the lower bound is checked.
TEST(MonotonicClock, SleepNeverEndsBeforeItsDeadline) {
    MonotonicClock clock;
    for (const std::uint32_t ms : {1u, 4u}) {  // one spun on the clock, one in the kernel
        const auto start = std::chrono::steady_clock::now();
        clock.SleepMillis(ms);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms)) << ms;
    }
}

}  // namespace
