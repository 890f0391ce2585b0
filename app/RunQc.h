// Quality control of a Calc run: the stations' records as the second pass
// meets them, then duplicates, suspects (estimating again through the run's
// window index) and the companion table.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "estimate/StationEstimate.h"
#include "qc/CompanionTable.h"
#include "qc/Duplicates.h"
#include "qc/QcStation.h"
#include "qc/SuspectRule.h"
#include "qc/SurveyNames.h"
#include "qc/SurveyOffsets.h"

struct StationOutcome;
struct InputRecord;
class TPointWindows;

// What quality control does, as the user set it.
struct QcSettings {
    // Off: the result file only: no sigma, no suspects, no companion table.
    bool enabled = true;
    // Robust scales of r2 beyond which a station is suspect.
    double suspect_threshold = 4.0;
    // Nearest stations that give a station's local scale (see SuspectRule.h).
    int32_t local_neighbours = SuspectOptions{}.local_neighbours;
    double local_share = SuspectOptions{}.local_share;
    // Stations at different positions closer than this (metres) are
    // reported as a pair.
    double duplicate_distance = 1.0;
    // The companion table's path; empty: beside the result file.
    std::string table_path;
    // The density the survey was reduced with, g/cm3, and how far a height
    // may lie from a DEM's, metres (see qc/Diagnosis.h).
    double density = DiagnosisOptions{}.density;
    double dem_tolerance = DiagnosisOptions{}.dem_tolerance;

    // The suspect rule's options as these settings give them.
    SuspectOptions SuspectRule() const;
    // How a station's name gives its survey (--survey-from-name); none: the
    // names give none, and only a survey field of the source groups them.
    std::optional<TSurveyNamer> survey_namer;
    // The reference survey and the floor of a shift (qc/SurveyOffsets.h).
    SurveyOffsetOptions surveys;
};

// What quality control found in a run.
struct QcFindings {
    TQcStations stations; // every station of the second pass, in file order
    SuspectFindings suspects;
    DuplicateFindings duplicates;
    std::string table_path; // where the companion table went; empty: none
    bool checked = false;   // duplicates and suspects were looked for
    // Why the suspects are wrong, z's calibration, the density check.
    Diagnosis diagnosis;
    // Each station's height from a DEM, metres (NaN outside it); empty
    // without a DEM.
    std::vector<double> dem;
    // The stations' surveys, from the source's survey field or their names;
    // empty (no survey) when neither gives them, and nothing below is done.
    SurveyGrouping grouping;
    // One offset per survey, or why there are none.
    SurveyOffsets offsets;
    // Suspects of the values as they are that the values with the shifted
    // surveys' offsets taken off no longer make suspects, and the stations
    // estimated again for it.
    int64_t suspects_levelled = 0;
    int64_t estimated_again = 0;

    bool HasSurveys() const { return !grouping.survey.empty(); }
};

// Adds `delta` (mGal) to the value the window index holds for the station at
// (x, y), as parsed: TPointIndex::ShiftValue on the run's index.
using ValueShifter = std::function<void(double x, double y, double delta)>;

// The record of a station as the second pass left it.
QcStation QcRecord(const StationOutcome &outcome);
// The record of a station a stopped run did not reach.
QcStation NotReachedRecord(const InputRecord &record);

// Looks for duplicates and suspects among findings.stations, estimating
// stations again through `windows` with the run's parameters. With surveys
// (findings.grouping), estimates their offsets and judges the stations again
// on values with the shifted surveys' offsets taken off: `shift` moves the
// index's values there and back, and the stations whose estimates reach
// across a shifted survey's edge are estimated again. The records keep their
// values and estimates; the suspects are those of the levelled values.
void CheckStations(QcFindings &findings, TPointWindows &windows,
                   const RunParameters &parameters, const QcSettings &settings,
                   const ValueShifter &shift = {});

// Says why the suspects of `findings` are wrong, with `value_texts` (each
// suspect's value as its source wrote it, in the suspects' order; empty
// texts where unknown), the DEM's heights in findings.dem and the values'
// decimal separator.
void DiagnoseStations(QcFindings &findings,
                      const std::vector<std::string> &value_texts,
                      const QcSettings &settings, char decimal_separator);
