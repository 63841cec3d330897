#include "base/IdleWork.h"

#include <utility>

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
