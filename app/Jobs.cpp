// The default number of jobs, from the cores the process may use.
#include "app/Jobs.h"

#include <algorithm>
#include <sched.h>
#include <thread>

int32_t DefaultJobs() {
    int32_t cores = 0;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        cores = CPU_COUNT(&allowed);
    }
    if (cores <= 0) {
        cores = static_cast<int32_t>(std::thread::hardware_concurrency());
    }
    return std::clamp(cores, 1, default_jobs_limit);
}
