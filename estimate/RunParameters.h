// The four parameters of a run, as the window's fields and the batch tool's
// options give them: one record, its defaults written here once.
#pragma once

#include <cstdint>

// The four parameters of a run, the same for every station. The defaults
// here are the window's and the batch tool's.
struct RunParameters {
    // Starting half-size of the search window, metres; also the gridder's
    // search radius.
    double search_distance = 2500.0;
    double increment = 500.0; // growth step of the half-size, metres
    // Minimum number of stations N in the window; also the gridder's most
    // neighbours of a node.
    int32_t min_points = 16;
    double cell_size = 200.0; // grid spacing for both axes, metres
};
