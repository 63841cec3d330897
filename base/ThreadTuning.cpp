#include "base/ThreadTuning.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The finest timer slack the kernel takes (nanoseconds).
constexpr unsigned long kFinestTimerSlackNs = 1;

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

}  // namespace

ShortSlice::ShortSlice() {
    const long thread = syscall(SYS_gettid);
    SchedAttr attr;
    if (!ReadSchedAttr(thread, attr) || attr.sched_policy != SCHED_OTHER) return;
    const std::uint64_t previous = attr.sched_runtime;
    attr.sched_runtime = kSliceNs;
    if (!WriteSchedAttr(thread, attr)) return;
    thread_ = thread;
    previousNs_ = previous;
}

ShortSlice::~ShortSlice() {
    // Put back at the length it was read with, from whichever thread ends it.
    SchedAttr attr;
    if (thread_ > 0 && ReadSchedAttr(thread_, attr)) {
        attr.sched_runtime = previousNs_;
        WriteSchedAttr(thread_, attr);
    }
}

FineTimerSlack::FineTimerSlack() : previous_(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)) {
    if (previous_ > 0) prctl(PR_SET_TIMERSLACK, kFinestTimerSlackNs, 0, 0, 0);
}

FineTimerSlack::~FineTimerSlack() {
    if (previous_ > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_), 0, 0, 0);
}
