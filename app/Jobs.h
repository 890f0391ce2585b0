// How many stations a run estimates at once by default.
#pragma once

#include <cstdint>

// Each job holds its own share of the run's memory: a machine with many cores
// gets no more than this many unless asked.
inline constexpr int32_t default_jobs_limit = 8;

// The cores this process may run on (a container or taskset may allow fewer
// than the machine has), at least 1 and at most default_jobs_limit.
int32_t DefaultJobs();
