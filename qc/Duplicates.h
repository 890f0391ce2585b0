// Stations that share a position, and pairs closer than a given distance: a
// repeated reading, or one whose coordinate was misplaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qc/QcStation.h"

// A position held by more than one station; the first in file order is the
// one the point table kept, the others were estimated against its value.
struct DuplicatePosition {
    std::vector<size_t> stations; // in file order
};

// Two stations at different positions closer than the distance asked for.
struct ClosePair {
    size_t first; // the earlier in file order
    size_t second;
    double distance; // metres
};

struct DuplicateFindings {
    std::vector<DuplicatePosition> positions; // in the order of their first
    std::vector<ClosePair> close_pairs;       // by their first station
    bool close_pairs_cut = false; // more pairs than max_close_pairs exist
};

// Close pairs kept at most; a survey with more is listed only so far.
inline constexpr size_t max_close_pairs = 100000;

// Finds both, and gives every later station at a taken position the status
// Duplicate (a skipped station stays skipped). `close_distance` in metres;
// 0 or less looks for no close pairs.
DuplicateFindings FindDuplicates(TQcStations &stations, double close_distance);
