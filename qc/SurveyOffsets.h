// Level shifts between the surveys merged into one station file: one constant
// per survey, estimated where surveys meet, with its standard error and
// whether it is a shift; and what the suspect rule needs to judge the
// stations with the shifts found removed.
//
// Where a station has stations of its own survey and of others within the
// search distance, a local model of its nearest stations (a smooth field, a
// plane or a quadratic, plus one constant per survey present; weighted by
// distance, robust to single blunders) gives the step from its survey to the
// others across the seam, whether the surveys overlap or only abut. Each such
// station gives one equation: its survey's offset minus the mix of the
// others' equals minus the step. The equations are solved for one offset per
// survey by robust least squares, each weighted by its share of the
// independent information (neighbouring steps share stations); the level
// most stations agree on is the datum (the station-weighted median of the
// offsets is 0) unless a reference survey is fixed at 0. A weak prior holds a
// survey with little contact near the datum; it fades for offsets beyond the
// floor, so that well measured shifts are not shrunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "qc/QcStation.h"
#include "qc/SurveyNames.h"

// The smooth field of the local model.
enum class SurveyTrend : uint8_t {
    Plane,     // a + b x + c y
    Quadratic, // and x², x y, y², where the neighbourhood holds enough stations
};

// How the offsets are estimated and judged. The defaults are the measured
// choice (bench/survey_bench.cpp).
struct SurveyOffsetOptions {
    // The survey fixed at 0; empty: the station-weighted median of the
    // offsets is 0, for each group of surveys linked by their contacts.
    std::string reference;
    // A survey is shifted when its offset is beyond this many standard errors
    // and beyond the floor (mGal).
    double offset_floor = 0.5;
    double standard_errors = 3.0;
    // The weight of the prior that holds a survey at the datum, in
    // independent steps of typical scatter.
    double prior_weight = 1.0;
    SurveyTrend trend = SurveyTrend::Quadratic;
    // Nearest stations within the search distance that a local model takes
    // at most.
    int32_t max_neighbours = 64;
    // The weight of a suspect or a duplicate station, in the local models
    // and for its own step, against 1 for any other.
    double down_weight = 0.1;
    // The grouping looks wrong when more than half of the stations are in
    // surveys of fewer stations than this, or when there are more surveys
    // than max_surveys.
    int32_t min_survey_stations = 3;
    int32_t max_surveys = 1000;
};

// Why no offsets were estimated.
enum class SurveyRefusal : uint8_t {
    None,               // estimated
    OneSurvey,          // the stations form one survey (or none)
    GroupingLooksWrong, // too many surveys, or too small (see the options)
    UnknownReference,   // the reference survey is not among the surveys
};

// One survey's figures.
struct SurveyOffset {
    int64_t stations = 0;   // stations of the survey
    int64_t in_contact = 0; // of them, those with a step to another survey
    // False: the survey touches no other (no step from or to it), and has no
    // offset.
    bool linked = false;
    // The constant by which its values stand above the datum, mGal; NaN when
    // not linked.
    double offset = qc_none;
    // Its standard error, mGal, relative to the datum survey of its group
    // (and, for the datum survey itself, to the station-weighted mean of the
    // others): from the scatter of the steps and their independent number.
    double standard_error = qc_none;
    // The robust scale of its own steps about the solution, mGal, and the
    // number of independent steps it takes part in.
    double scatter = qc_none;
    double independent_steps = 0.0;
    // Beyond standard_errors standard errors and beyond the floor.
    bool shifted = false;
    // The survey that holds its group at 0: the reference, or the one at
    // the median.
    bool datum = false;
    // The group of surveys linked to each other by steps, directly or through
    // others, from 0; -1 when not linked.
    int32_t group = -1;
};

struct SurveyOffsets {
    SurveyRefusal refusal = SurveyRefusal::OneSurvey;
    std::vector<SurveyOffset> surveys; // by survey index; empty when refused
    int64_t steps = 0;                 // stations with a step
    int32_t groups = 0;                // groups of linked surveys

    // The offset to take off the values of `survey`'s stations before they
    // are judged: its offset when shifted, else 0 (mGal).
    double Removed(uint32_t survey) const;
};

// Estimates one offset per survey of `grouping` from the stations' positions
// (x, y, metres) and values (mGal), within `search_distance` metres of each
// station (the run's search distance). A station marked suspect, or a
// duplicate, is down-weighted; one without a finite position or value is
// not used.
SurveyOffsets EstimateSurveyOffsets(const TQcStations &stations,
                                    const SurveyGrouping &grouping,
                                    double search_distance,
                                    const SurveyOffsetOptions &options);

// The offset to take off station k's value: that of its survey when shifted,
// else 0 (mGal).
double StationOffset(const SurveyOffsets &offsets,
                     const SurveyGrouping &grouping, size_t k);

// The stations whose leave-one-out estimates reached (QcStation::reach) a
// station from which another offset is taken than from their own: they are
// to be estimated again from the values with the offsets taken off. Every
// other station keeps its residual, as its value and its estimate lose the
// same offset. In index order.
std::vector<uint32_t> StationsToEstimateAgain(const TQcStations &stations,
                                              const SurveyGrouping &grouping,
                                              const SurveyOffsets &offsets);
