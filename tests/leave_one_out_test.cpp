// The two kriging runs of a station: with all stations of its window and with
// the station left out.
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "estimate/StationEstimate.h"
#include "kriging/Krigging.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

namespace {

struct Point {
    double x, y, u;
};

// Grid value at (x, y) from a gridder run over `points` with the station
// settings (fitted model, nearest search, cells of `cell`).
double DirectEstimate(const std::vector<Point> &points, int32_t max_points,
                      double radius, double cell, double x, double y) {
    std::vector<double> xs, ys, zs;
    for (const Point &p : points) {
        xs.push_back(p.x);
        ys.push_back(p.y);
        zs.push_back(p.u);
    }
    auto gridder = std::make_unique<TKrigging>();
    if (!gridder->MakeGrid(xs.data(), ys.data(), zs.data(),
                           static_cast<int32_t>(points.size()), 0, 0,
                           max_points, radius, 0, 0.0, 0.0, 0.0, cell, cell,
                           0.0, 1.0)) {
        return -1.0;
    }
    return gridder->ValueAt(x, y, false);
}

// A 5 x 5 lattice of stations 200 m apart on a gently varying field, sorted as
// the point table returns them (ascending x, then y).
std::vector<Point> Lattice() {
    std::vector<Point> points;
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            const double x = 1000.0 + 200.0 * i;
            const double y = 2000.0 + 200.0 * j;
            // Three decimals, so the value survives the point table's text
            // form.
            const double u = 3.0 + 0.01 * x - 0.004 * y + (i * j % 3) * 0.5;
            points.push_back({x, y, std::round(u * 1000.0) / 1000.0});
        }
    }
    return points;
}

class LeaveOneOut : public testing::Test {
  protected:
    void Load(const std::vector<Point> &points) {
        CppSQLite3Statement insert = BeginLoad(db);
        for (const Point &p : points) {
            AddStation(insert, p.x, p.y, p.u);
        }
        EndLoad(db, insert);
    }

    CppSQLite3DB db;
};

} // namespace

TEST_F(LeaveOneOut,
       BothRunsMatchTheGridderOnTheWindowWithAndWithoutTheStation) {
    const std::vector<Point> points = Lattice();
    Load(points);
    // The own sample first, in the middle and last of the fetch order.
    for (const size_t own : {size_t{0}, size_t{12}, points.size() - 1}) {
        SCOPED_TRACE(own);
        const Point station = points[own];
        double distance = 2500.0;
        int32_t n_points = 16;
        double all = -7.0, without = -7.0;
        ASSERT_TRUE(EstimateStation(db, station.x, station.y, 100.0, 500.0,
                                    distance, n_points, all, without));
        EXPECT_EQ(distance, 2500.0);
        EXPECT_EQ(n_points, 25);

        std::vector<Point> others = points;
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(own));
        // Same samples in the same order, so the same arithmetic: exact.
        EXPECT_EQ(all, DirectEstimate(points, 16, 2500.0, 100.0, station.x,
                                      station.y));
        EXPECT_EQ(without, DirectEstimate(others, 16, 2500.0, 100.0, station.x,
                                          station.y));
        EXPECT_NE(all, without);

        // A pass's window index answers as the query texts do.
        TPointWindows windows(db);
        const StationEstimate index = EstimateStation(
            windows, {station.x, station.y}, {{2500.0, 500.0, 16, 100.0}});
        ASSERT_TRUE(index.written);
        EXPECT_EQ(index.estimate_all, all);
        EXPECT_EQ(index.estimate_without, without);
    }
}

TEST_F(LeaveOneOut, OneCallReturnsWhatTheInOutFormLeaves) {
    // The station path's one call gives as a value what the form with in/out
    // arguments leaves in them; an estimate that was not made is blank.
    // (The in/out form asks the query texts, which answer as a pass's window
    // index does.)
    std::vector<Point> points = Lattice();
    points.push_back({90000.0, 0.0, 6.0}); // alone within its window
    Load(points);
    struct Case {
        const char *name;
        double x, y, distance;
        int32_t n_points;
        bool made; // both estimates made
    };
    const Case cases[] = {
        {"corner station", 1000.0, 2000.0, 2500.0, 16, true},
        {"middle station, window grown", 1400.0, 2400.0, 300.0, 16, true},
        {"lone station: both runs refused", 90000.0, 0.0, 100.0, 1, false},
        {"not in the table: skipped", 1001.0, 2000.0, 2500.0, 16, false},
    };
    TPointWindows windows(db);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        double distance = c.distance, all = -7.0, without = -7.0;
        int32_t n_points = c.n_points;
        const bool written = EstimateStation(db, c.x, c.y, 100.0, 500.0,
                                             distance, n_points, all, without);
        for (const bool with_sigma : {false, true}) {
            SCOPED_TRACE(with_sigma);
            const StationEstimate e = EstimateStation(
                windows, {c.x, c.y},
                {{c.distance, 500.0, c.n_points, 100.0}, with_sigma});
            EXPECT_EQ(e.written, written);
            EXPECT_EQ(e.search_distance, distance);
            EXPECT_EQ(e.n_points, n_points);
            // exact: the same runs on the same samples
            EXPECT_EQ(e.estimate_all, c.made ? all : blank_value);
            EXPECT_EQ(e.estimate_without, c.made ? without : blank_value);
            EXPECT_EQ(e.sigma >= 0.0, c.made && with_sigma);
        }
        EXPECT_EQ(all == -7.0, !c.made);
    }
}

TEST_F(LeaveOneOut, ConstantFieldIsEstimatedExactlyWithAndWithoutTheStation) {
    std::vector<Point> points = Lattice();
    for (Point &p : points) {
        p.u = -12.5;
    }
    Load(points);
    double distance = 2500.0;
    int32_t n_points = 16;
    double all = 0.0, without = 0.0;
    ASSERT_TRUE(EstimateStation(db, 1400.0, 2400.0, 100.0, 500.0, distance,
                                n_points, all, without));
    // Every node takes the mean of equal values, clamped to the same value.
    EXPECT_EQ(all, -12.5);
    EXPECT_EQ(without, -12.5);
}

TEST_F(LeaveOneOut, StationMissingFromTheTableIsSkipped) {
    Load(Lattice());
    double distance = 2500.0;
    int32_t n_points = 16;
    double all = 0.0, without = 0.0;
    EXPECT_FALSE(EstimateStation(db, 1001.0, 2000.0, 100.0, 500.0, distance,
                                 n_points, all, without));
    EXPECT_EQ(all, 0.0);
    EXPECT_EQ(without, 0.0);
    EXPECT_EQ(n_points, 25); // the final window's values stay
}

TEST_F(LeaveOneOut, LoneStationLeavesBothEstimatesUntouched) {
    Load({{0.0, 0.0, 5.0}, {90000.0, 0.0, 6.0}});
    double distance = 100.0;
    int32_t n_points = 1;
    double all = 1.5, without = 2.5;
    // One sample makes no grid rows; none are left for the second run.
    EXPECT_TRUE(EstimateStation(db, 0.0, 0.0, 100.0, 500.0, distance, n_points,
                                all, without));
    EXPECT_EQ(all, 1.5);
    EXPECT_EQ(without, 2.5);
}

TEST_F(LeaveOneOut, ErrorWhileCountingSkipsTheStationAndKeepsTheInputs) {
    Load(Lattice());
    db.RunStatement("drop table xyz;");
    double distance = 2500.0;
    int32_t n_points = 16;
    double all = 0.0, without = 0.0;
    EXPECT_FALSE(EstimateStation(db, 1000.0, 2000.0, 100.0, 500.0, distance,
                                 n_points, all, without));
    EXPECT_EQ(distance, 2500.0);
    EXPECT_EQ(n_points, 16);
    EXPECT_EQ(all, 0.0);
}

TEST_F(LeaveOneOut, FloatingPointFaultInTheSecondRunKeepsTheFirstEstimate) {
    // The station and a later sample share its cell: with the station present
    // the two merge into a harmless value; without it the huge value stands
    // alone and its squared differences overflow in the variogram fit.
    std::vector<Point> points = Lattice();
    points[0].u = -1e308;
    points.insert(points.begin() + 1, {1010.0, 2010.0, 1e308});
    Load(points);
    double distance = 2500.0;
    int32_t n_points = 16;
    double all = -7.0, without = -7.0;
    EXPECT_FALSE(EstimateStation(db, 1000.0, 2000.0, 100.0, 500.0, distance,
                                 n_points, all, without));
    EXPECT_NE(all, -7.0);
    EXPECT_EQ(without, -7.0);
}
