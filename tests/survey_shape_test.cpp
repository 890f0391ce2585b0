// What a survey's positions and values say before a run: the spacing measured
// and the parameters it suggests, and numbers that look like degrees or
// observed gravity.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/StationFile.h"
#include "qc/SurveyShape.h"

namespace {

// A square lattice of side x side stations `spacing` metres apart.
void Lattice(int side, double spacing, std::vector<double> &x,
             std::vector<double> &y) {
    x.clear();
    y.clear();
    for (int k = 0; k < side * side; ++k) {
        x.push_back(500000.0 + spacing * (k % side));
        y.push_back(7000000.0 + spacing * (k / side));
    }
}

} // namespace

TEST(SurveyShape, SpacingOfALatticeIsItsStep) {
    std::vector<double> x, y;
    Lattice(31, 100.0, x, y);
    // A repeated position counts once.
    x.push_back(x[17]);
    y.push_back(y[17]);
    const SurveySpacing spacing = MeasureSpacing(x, y, 16);
    EXPECT_EQ(spacing.stations, 31 * 31);
    EXPECT_EQ(spacing.measured, 31 * 31);
    // Exact: the lattice's distances are whole multiples of its step.
    EXPECT_EQ(spacing.nearest, 100.0);
    // Inside: four at the step, four at its diagonal, then four at twice it;
    // on an edge the sixth lies at twice the step.
    EXPECT_DOUBLE_EQ(spacing.neighbourhood, 200.0);
    // 16 stations, itself among them, need the 5 x 5 square around it.
    EXPECT_EQ(spacing.window, 200.0);
    EXPECT_GE(spacing.widest_window, spacing.window);
}

TEST(SurveyShape, SampleOfABigSurveyMeasuresTheSame) {
    std::vector<double> x, y;
    Lattice(120, 50.0, x, y);
    const SurveySpacing all = MeasureSpacing(x, y, 16);
    const SurveySpacing sampled = MeasureSpacing(x, y, 16, 1000);
    EXPECT_LE(sampled.measured, 1000);
    EXPECT_EQ(sampled.nearest, all.nearest);
    EXPECT_EQ(sampled.window, all.window);
}

TEST(SurveyShape, TooFewStationsAreNotMeasured) {
    EXPECT_FALSE(MeasureSpacing({1.0}, {2.0}, 16).Known());
    EXPECT_FALSE(MeasureSpacing({1.0, 1.0}, {2.0, 2.0}, 16).Known());
    const SurveySpacing two = MeasureSpacing({0.0, 30.0}, {0.0, 40.0}, 16);
    ASSERT_TRUE(two.Known());
    EXPECT_EQ(two.nearest, 50.0);
    EXPECT_EQ(
        SuggestParameters(MeasureSpacing({1.0}, {2.0}, 16)).search_distance,
        0.0);
}

TEST(SurveyShape, SuggestionReachesTheNeighbourhoodAndFitsTheGrid) {
    std::vector<double> x, y;
    Lattice(40, 2400.0, x, y);
    const SurveySpacing spacing = MeasureSpacing(x, y, 16);
    const SuggestedParameters p = SuggestParameters(spacing);
    // Beyond the neighbourhood by the cell and a half of the nodes read.
    EXPECT_GE(p.search_distance, spacing.neighbourhood + 1.5 * p.cell_size);
    EXPECT_GE(p.increment, p.search_distance / 5.0);
    EXPECT_LE(p.increment, p.search_distance / 2.0);
    // The widest window's grid within 1,024 nodes each way.
    EXPECT_LE(2.0 * std::max(p.search_distance, spacing.widest_window) /
                      p.cell_size +
                  3.0,
              1024.0);
    EXPECT_EQ(p.min_points, 16);
    EXPECT_EQ(p.CommandLine(),
              "--search-distance " + std::to_string(int(p.search_distance)) +
                  " --increment " + std::to_string(int(p.increment)) +
                  " --min-points 16 --cell-size " +
                  std::to_string(int(p.cell_size)));
    // A stray station far away does not stretch the windows of the rest.
    x.push_back(9.0e6);
    y.push_back(9.0e6);
    EXPECT_EQ(SuggestParameters(MeasureSpacing(x, y, 16)).search_distance,
              p.search_distance);
}

TEST(SurveyShape, NumbersThatAreNotMetresAndAnAnomaly) {
    struct Case {
        const char *name;
        std::vector<double> x, y, value;
        bool degrees, gravity, spread;
    };
    const Case cases[] = {
        {"metres and an anomaly",
         {362472.4, 363047.4, 365885.1},
         {6008599.5, 6007741.5, 6010286.9},
         {-11.5, -14.4, -5.3},
         false,
         false,
         false},
        {"longitude and latitude",
         {-70.51, -70.50, -70.49},
         {-36.02, -36.01, -36.0},
         {-11.5, -14.4, -5.3},
         true,
         false,
         false},
        {"a latitude beyond 90 is no latitude",
         {-70.5, -70.4, -70.3},
         {-36.0, 95.0, -36.1},
         {1.0, 2.0, 3.0},
         false,
         false,
         false},
        {"observed gravity",
         {1e5, 2e5, 3e5},
         {1e6, 2e6, 3e6},
         {979812.3, 979790.1, 979850.7},
         false,
         true,
         false},
        {"values spread over thousands of mGal",
         {1e5, 2e5, 3e5},
         {1e6, 2e6, 3e6},
         {-4000.0, 10.0, 5000.0},
         false,
         false,
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const SurveyLooks looks = LookAtSurvey(c.x, c.y, c.value);
        EXPECT_EQ(looks.degrees, c.degrees);
        EXPECT_EQ(looks.observed_gravity, c.gravity);
        EXPECT_EQ(looks.spread_too_wide, c.spread);
        const std::vector<std::string> notes = SurveyLooksNotes(looks);
        EXPECT_EQ(notes.size(), size_t(c.degrees) + c.gravity + c.spread);
        for (const std::string &note : notes) {
            const bool says =
                (c.degrees &&
                 note.find("--source-crs EPSG:4326") != std::string::npos) ||
                (c.gravity && note.find("observed gravity, not an anomaly") !=
                                  std::string::npos) ||
                (c.spread &&
                 note.find("far beyond any anomaly") != std::string::npos);
            EXPECT_TRUE(says) << note;
        }
    }
}

// 2026-12-10, issue 19: thousands separators split a coordinate in three
// without a word.
TEST(SurveyShape, ThousandsSeparatorsAreToldFromOtherCommas) {
    struct Case {
        const char *line;
        bool thousands;
    };
    const Case cases[] = {
        {"362,472.40 6,008,599.50 LDM001 2185.5 -11.553", true},
        {"1,234 5 P 1 2", true},
        {"-6,008,599 5 P 1 2", true},
        {"362472.40,6008599.50,LDM001,2185.5,-11.553", false},
        {"1,23 4 P 1 2", false},     // two digits after the comma
        {"1234,567 4 P 1 2", false}, // four before it
        {"1,2345 4 P 1 2", false},   // four after it
        {"1;234 5 P 1 2", false},
        {"10 20 P,1 350 -1.5", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(HasThousandsSeparators(c.line), c.thousands);
    }
}
