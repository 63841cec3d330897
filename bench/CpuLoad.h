#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// CPU-bound processes of the benchmark's own, spinning at its own priority
// while the object lives, so a figure under load is measured under a load the
// benchmark knows. They end with the object, and with the benchmark however it
// ends: a signal that ends it ends them first, and each asks the kernel to
// kill it when the benchmark is gone.
class CpuLoad {
public:
    explicit CpuLoad(unsigned processes);
    ~CpuLoad();
    CpuLoad(const CpuLoad&) = delete;
    CpuLoad& operator=(const CpuLoad&) = delete;

    // Why fewer processes than asked for are running; empty when all are.
    const std::string& Error() const { return error_; }

private:
    std::vector<pid_t> children_;
    bool catching_ = false;
    std::string error_;
};
