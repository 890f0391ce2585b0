// The summary of a run as JSON: its parameters, counts, the r2 statistics,
// the suspects with their causes and fixes, the duplicates, the density
// check and where each file went. Keys are only ever added (see
// docs/summary.md); a value that is not known is null.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/CalcRun.h"
#include "app/RunSettings.h"

// What a review did (see review/): its decisions and what they did to the
// stations.
struct SummaryReview {
    std::string file; // empty: none given (a cleaned survey only)
    int64_t decisions = 0;
    int64_t kept = 0, rejected = 0, fixed = 0, levelled = 0;
    std::vector<std::string> stale; // decisions that met no station
};

// What the run does not know of itself: the program, the files around it.
struct SummaryContext {
    std::string program; // "korvanel-batch"
    std::string version;
    std::string station_file; // as given; "-" is standard input
    std::string dem;          // the DEM's path; empty: none
    // Where the outputs went; empty: not written.
    std::string result, table, gpkg, plot, summary, clean;
    // With --review or --clean.
    std::optional<SummaryReview> review;
};

// The summary's JSON text (indented, ending with a line end).
std::string RunSummaryJson(const RunOutcome &outcome,
                           const RunSettings &settings,
                           const SummaryContext &context);
