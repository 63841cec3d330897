#include "base/LoadProbe.h"

#include <sched.h>

#include <cstdio>

bool MachineBusy() {
    // "1.21 0.95 0.56 2/108 21845": the fourth field counts the runnable tasks.
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
