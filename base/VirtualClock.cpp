#include "base/VirtualClock.h"

#include <numeric>

#include "base/IdleWork.h"

void VirtualClock::SleepMicros(std::uint64_t us) {
    microSleeps_.push_back(us);
    Pass(us);
}

void VirtualClock::SleepMillis(std::uint32_t ms) {
    sleeps_.push_back(ms);
    Pass(ms * kMicrosPerMilli);
}

void VirtualClock::Pass(std::uint64_t us) {
    RunIdleWork();
    now_ += us;
}

std::uint64_t VirtualClock::TotalSleptMicros() const {
    return std::accumulate(sleeps_.begin(), sleeps_.end(), std::uint64_t{0}) * kMicrosPerMilli +
           std::accumulate(microSleeps_.begin(), microSleeps_.end(), std::uint64_t{0});
}

void VirtualClock::ClearSleeps() {
    sleeps_.clear();
    microSleeps_.clear();
}
