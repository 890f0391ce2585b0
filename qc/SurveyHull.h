// The outline of each survey: the convex hull of its stations, for the
// figure's map and the results window.
#pragma once

#include <vector>

#include "qc/QcStation.h"
#include "qc/SurveyNames.h"

// A point of an outline, metres.
struct HullPoint {
    double x = 0.0, y = 0.0;
};

// Per survey of `grouping` (by index), the convex hull of its stations with
// finite coordinates, counter-clockwise without repeating the first point;
// one or two points for a survey of one station or along a line, none for a
// survey without a placed station.
std::vector<std::vector<HullPoint>> SurveyHulls(const TQcStations &stations,
                                                const SurveyGrouping &grouping);
