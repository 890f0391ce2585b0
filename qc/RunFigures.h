// The figures of a run's summary, counted once from the stations' records:
// what the batch tool's summary, the figure's title and the results window
// all show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qc/QcStation.h"
#include "qc/SuspectRule.h"

struct RunFigures {
    // The stations of the source: read by the second pass, and those a
    // stopped run did not reach.
    int64_t read = 0;
    int64_t not_reached = 0;
    int64_t written = 0;    // with a result line
    int64_t estimated = 0;  // status Ok: both estimates made
    int64_t blank = 0;      // status Blank: an estimate could not be made
    int64_t skipped = 0;    // status Skipped: no result line
    int64_t duplicates = 0; // status Duplicate: a later station of a position
    // Written with a leave-one-out estimate, whatever their status.
    int64_t with_estimate = 0;
    // Stations whose r2 quality control judges (QcStation::Judged), and
    // their r2, mGal.
    int64_t with_r2 = 0;
    double sum_r2 = 0.0;
    double sum_squares_r2 = 0.0;
    double largest_abs_r2 = qc_none;
    std::string largest_station; // its name, UTF-8
    // What quality control found (suspects 0, median and scale NaN without).
    int64_t suspects = 0;
    double median = qc_none; // of r2 as the suspect rule judged it, mGal
    double scale = qc_none;  // robust scale of r2, mGal

    // Every station of the source the run knows of.
    int64_t Stations() const { return read + not_reached; }
    // Mean and root mean square of r2 over with_r2; NaN without any.
    double MeanR2() const;
    double RmsR2() const;
};

// Counts one station, once its record is final: after quality control when
// it ran (duplicates are known then), else as the second pass leaves it.
void CountStation(RunFigures &figures, const QcStation &station,
                  std::string_view name);
// Takes what the suspect rule found.
void CountFindings(RunFigures &figures, const SuspectFindings &suspects);
// The figures of records already final, all at once.
RunFigures FiguresOf(const TQcStations &stations,
                     const SuspectFindings &suspects);
