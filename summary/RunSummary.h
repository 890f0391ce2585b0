// The summary of a run as JSON: its parameters, counts, the r2 statistics,
// the suspects with their causes and fixes, the duplicates, the density
// check and where each file went. Keys are only ever added (see
// docs/summary.md); a value that is not known is null.
#pragma once

#include <string>

#include "app/CalcRun.h"
#include "app/RunSettings.h"

// What the run does not know of itself: the program, the files around it.
struct SummaryContext {
    std::string program; // "korvanel-batch"
    std::string version;
    std::string station_file; // as given; "-" is standard input
    std::string dem;          // the DEM's path; empty: none
    // Where the outputs went; empty: not written.
    std::string result, table, gpkg, plot, summary;
};

// The summary's JSON text (indented, ending with a line end).
std::string RunSummaryJson(const RunOutcome &outcome,
                           const RunSettings &settings,
                           const SummaryContext &context);
