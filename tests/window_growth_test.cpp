// Growing a station's search square until it holds N stations, and gathering
// them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "estimate/StationEstimate.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

namespace {

struct Point {
    double x, y, u;
};

class WindowGrowth : public testing::Test {
  protected:
    void Load(const std::vector<Point> &points) {
        CppSQLite3Statement insert = BeginLoad(db);
        for (const Point &p : points) {
            AddStation(insert, p.x, p.y, p.u);
        }
        EndLoad(db, insert);
    }

    // Stations around (0, 0): `inner` inside the 2500 square, `ring` more
    // between 2500 and 3000, `far` beyond 10000.
    void LoadRings(int inner, int ring, int far) {
        std::vector<Point> points{{0.0, 0.0, 1.0}}; // the station itself
        for (int k = 1; k < inner; ++k) {
            points.push_back({100.0 * k, -100.0 * k, 1.0 + k});
        }
        for (int k = 0; k < ring; ++k) {
            points.push_back({2700.0, -1000.0 + 100.0 * k, 50.0 + k});
        }
        for (int k = 0; k < far; ++k) {
            points.push_back({20000.0 + k, 0.0, 99.0});
        }
        Load(points);
    }

    CppSQLite3DB db;
    SampleArrays samples;
    int32_t own_index = -2;
};

} // namespace

TEST_F(WindowGrowth, SquareThatHoldsNAlreadyDoesNotGrow) {
    LoadRings(20, 3, 0);
    double distance = 2500.0;
    int32_t n_points = 16;
    ASSERT_TRUE(GatherStationSamples(db, 0.0, 0.0, 500.0, distance, n_points,
                                     samples, own_index));
    EXPECT_EQ(distance, 2500.0);
    EXPECT_EQ(n_points, 20); // the count found, which may exceed N
    EXPECT_EQ(samples.sample_count, 20);
    EXPECT_EQ(own_index, 0);
}

TEST_F(WindowGrowth, GrowsByTheIncrementUntilNIsReached) {
    LoadRings(10, 7, 5); // 10 inside 2500, 17 inside 3000
    double distance = 2500.0;
    int32_t n_points = 16;
    ASSERT_TRUE(GatherStationSamples(db, 0.0, 0.0, 500.0, distance, n_points,
                                     samples, own_index));
    EXPECT_EQ(distance, 3000.0);
    EXPECT_EQ(n_points, 17);
    ASSERT_EQ(samples.sample_count, 17);
    // Rows come in ascending x, then y.
    for (int32_t j = 1; j < samples.sample_count; ++j) {
        const bool ordered = samples.sample_x[j - 1] < samples.sample_x[j] ||
                             (samples.sample_x[j - 1] == samples.sample_x[j] &&
                              samples.sample_y[j - 1] < samples.sample_y[j]);
        EXPECT_TRUE(ordered) << "row " << j;
    }
    EXPECT_EQ(samples.sample_x[own_index], 0.0);
    EXPECT_EQ(samples.sample_z[own_index], 1.0);
}

// 2026-12-10, issue 14: N of 0 or less reported a count of 0 for a window
// that held stations.
TEST_F(WindowGrowth, NOfZeroOrLessCountsTheStartingSquareAndFetchesIt) {
    LoadRings(10, 7, 0);
    for (int32_t n : {0, -5}) {
        SCOPED_TRACE(n);
        double distance = 2500.0;
        int32_t n_points = n;
        ASSERT_TRUE(GatherStationSamples(db, 0.0, 0.0, 500.0, distance,
                                         n_points, samples, own_index));
        EXPECT_EQ(distance, 2500.0);
        EXPECT_EQ(n_points, 10);
        EXPECT_EQ(samples.sample_count, 10);
    }
}

TEST_F(WindowGrowth, NegativeStartingHalfSizeGrowsThroughEmptySquares) {
    LoadRings(3, 0, 0); // (0,0), (100,-100), (200,-200)
    double distance = -1000.0;
    int32_t n_points = 2;
    ASSERT_TRUE(GatherStationSamples(db, 0.0, 0.0, 300.0, distance, n_points,
                                     samples, own_index));
    // -1000, -700, -400, -100 hold nothing; 200 holds all three.
    EXPECT_EQ(distance, 200.0);
    EXPECT_EQ(n_points, 3);
}

TEST_F(WindowGrowth, BordersAreInclusive) {
    Load({{0.0, 0.0, 1.0},
          {2500.0, 2500.0, 2.0},
          {-2500.0, -2500.0, 3.0},
          {2500.001, 0.0, 4.0}});
    double distance = 2500.0;
    int32_t n_points = 3;
    ASSERT_TRUE(GatherStationSamples(db, 0.0, 0.0, 500.0, distance, n_points,
                                     samples, own_index));
    EXPECT_EQ(distance, 2500.0);
    EXPECT_EQ(n_points, 3);
}

TEST_F(WindowGrowth, OwnSampleAbsentGivesMinusOne) {
    LoadRings(20, 0, 0);
    double distance = 2500.0;
    int32_t n_points = 16;
    ASSERT_TRUE(GatherStationSamples(db, 50.0, 50.0, 500.0, distance, n_points,
                                     samples, own_index));
    EXPECT_EQ(own_index, -1);
}

// 2026-12-10, issue 4: the growth used to run for ever when N could not be
// reached.
TEST_F(WindowGrowth, StopsWhenNCanNeverBeReached) {
    LoadRings(5, 0, 0);
    struct Case {
        const char *name;
        double start, increment;
        int32_t n;
        double final_distance;
        int32_t final_count;
    };
    const Case cases[] = {
        {"fewer stations in the table than N", 2500.0, 500.0, 16, 2500.0, 5},
        {"N just above the table", 100.0, 100.0, 6, 100.0, 2},
        {"zero increment", 100.0, 0.0, 5, 100.0, 2},
        {"negative increment", 100.0, -50.0, 5, 100.0, 2},
        {"increment lost in the half-size", -1e300, 1.0, 5, -1e300, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        double distance = c.start;
        int32_t n_points = c.n;
        EXPECT_FALSE(GatherStationSamples(db, 0.0, 0.0, c.increment, distance,
                                          n_points, samples, own_index));
        EXPECT_EQ(distance, c.final_distance);
        EXPECT_EQ(n_points, c.final_count);
    }
}

TEST_F(WindowGrowth, FarStationsEndTheGrowthAndNearOnesAreFoundExactly) {
    // 2026-12-10: a station at 1e30 (a lost decimal point) made the growth
    // count its way there step by step, practically for ever.
    struct Case {
        const char *name;
        double far_x, increment;
        bool reached;
    };
    const Case cases[] = {
        {"partner at 1e30", 1e30, 500.0, false},
        {"partner beyond a hundred million steps", 6e10, 500.0, false},
        {"partner a hundred thousand steps away", 5e7 + 0.25, 500.0, true},
        {"partner many fine steps away", 200.0, 0.001, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        db.Close();
        Load({{0.0, 0.0, 1.0}, {c.far_x, 0.0, 2.0}, {-50.0, 0.0, 3.0}});
        double distance = 100.0;
        int32_t n_points = 3;
        const bool gathered = GatherStationSamples(
            db, 0.0, 0.0, c.increment, distance, n_points, samples, own_index);
        EXPECT_EQ(gathered, c.reached);
        if (!c.reached) {
            continue;
        }
        // The first half-size of the sequence, by repeated addition, whose
        // square holds the partner as the query text writes its upper bound.
        const auto holds = [&](double half_size) {
            char bound[64];
            std::snprintf(bound, sizeof bound, "%.6f", half_size);
            return std::strtod(bound, nullptr) >= c.far_x;
        };
        double expected = 100.0;
        while (!holds(expected)) {
            expected += c.increment;
        }
        EXPECT_EQ(distance, expected);
        EXPECT_EQ(n_points, 3);
        EXPECT_EQ(samples.sample_count, 3);
    }
}
