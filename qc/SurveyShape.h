// What a survey's positions and values say before any station is judged: how
// far apart the stations are, the run parameters that suit that spacing, and
// whether the numbers look like something other than metres and an anomaly
// (degrees, observed gravity).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Stations an estimate needs around it: a grid node is estimated from more
// than four stations within the search distance, and one more is kept spare.
inline constexpr int32_t spacing_neighbours = 6;
// Share of the stations whose neighbourhood the suggested search distance
// covers, and the share of windows the suggested cell size keeps within the
// grid's limit of nodes.
inline constexpr double spacing_covered = 0.98;
inline constexpr double spacing_widest = 0.995;

// The spacing of a survey's distinct positions, metres (NaN when there are
// too few stations to tell).
struct SurveySpacing {
    int64_t stations = 0;   // distinct positions
    int64_t measured = 0;   // of them, those measured (a sample of a big one)
    int32_t min_points = 0; // N of the windows below
    double nearest = 0.0;   // median distance to the nearest other station
    // The distance within which spacing_covered of the stations have
    // spacing_neighbours other stations.
    double neighbourhood = 0.0;
    // Half-size of the smallest square window around a station that holds N
    // stations (itself included): the median over the stations, and the
    // spacing_widest quantile.
    double window = 0.0;
    double widest_window = 0.0;
    // Each measured station's half-size, for the windows a growth from a
    // starting half-size would reach.
    std::vector<double> windows;

    bool Known() const { return measured >= 2; }
};

// Measures the spacing of the stations at (x[k], y[k]) (metres; repeated
// positions count once) for windows of N = `min_points` stations. A survey of
// more than `sample` positions is measured at an even sample of them.
SurveySpacing MeasureSpacing(std::vector<double> x, std::vector<double> y,
                             int32_t min_points, size_t sample = 20000);

// Run parameters for a spacing: a search distance that reaches
// spacing_neighbours stations around spacing_covered of them, from every grid
// node next to a station; an increment of a fifth of it; a cell size of about
// a twelfth, raised where the widest windows would need more than the grid's
// 1,024 nodes each way. Values are rounded up to 1, 1.5, 2, 2.5, 3, 4, 5, 6
// or 8 times a power of ten.
struct SuggestedParameters {
    double search_distance = 0.0;
    double increment = 0.0;
    double cell_size = 0.0;
    int32_t min_points = 0;
    // Why, in one line for the user.
    std::string reasoning;

    // "--search-distance A --increment I --min-points N --cell-size C".
    std::string CommandLine() const;
    // "search distance A m, increment I m, minimum N, cell size C m".
    std::string Words() const;
};
SuggestedParameters SuggestParameters(const SurveySpacing &spacing);

// What the numbers look like, for a note to the user.
struct SurveyLooks {
    // Every x within +-180 and every y within +-90: longitude and latitude?
    bool degrees = false;
    // The median value lies where observed gravity does (978,000 to 983,000
    // mGal), or the values spread far wider than any anomaly.
    bool observed_gravity = false;
    bool spread_too_wide = false;
    double median_value = 0.0;
    double value_spread = 0.0; // between the 5th and 95th percentile, mGal
};
SurveyLooks LookAtSurvey(const std::vector<double> &x,
                         const std::vector<double> &y,
                         const std::vector<double> &value);

// The notes for what LookAtSurvey found, one line each.
std::vector<std::string> SurveyLooksNotes(const SurveyLooks &looks);
