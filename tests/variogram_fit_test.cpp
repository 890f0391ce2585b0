// Automatic fit of the spherical model from pairs along grid rows and columns.
#include <cmath>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "kriging/Krigging.h"
#include "support/KriggingSetup.h"

namespace {

// Anchors that fix the x extent at 4600 (5000 widened, row classes 100 wide)
// and the y extent at 800, each in a row and a column of its own.
void AddAnchors(Samples &s) {
    s.Add(4600, 800, 0.0);
    s.Add(0, 400, 0.0);
}

// The fit's model by the plain scan of every cell pair of every row and
// column, in the scan's order, with the fit's own rounding: a reference for
// the scan that visits only the occupied cells.
struct Model {
    double sill, range;
};
Model DenseScanModel(const TKrigging &k) {
    struct Direction {
        double peak, lag;
    };
    auto scan = [&](bool rows) {
        const int32_t lines = rows ? k.n_rows : k.n_cols;
        const int32_t cells = rows ? k.n_cols : k.n_rows;
        const double extent = rows
                                  ? static_cast<long double>(k.x_max) - k.x_min
                                  : static_cast<long double>(k.y_max) - k.y_min;
        const double width = 0.02L * extent;
        double dist[50] = {}, sq[50] = {}, count[50] = {};
        for (int32_t line = 0; line < lines; ++line) {
            for (int32_t i = 0; i < cells; ++i) {
                for (int32_t j = i + 1; j < cells; ++j) {
                    const int32_t a =
                        rows ? k.cell_index[i][line] : k.cell_index[line][i];
                    const int32_t b =
                        rows ? k.cell_index[j][line] : k.cell_index[line][j];
                    if (a == -1 || b == -1) {
                        continue;
                    }
                    const double dx =
                        static_cast<long double>(k.sample_x[a]) - k.sample_x[b];
                    const double dy =
                        static_cast<long double>(k.sample_y[a]) - k.sample_y[b];
                    const double dz =
                        static_cast<long double>(k.sample_z[a]) - k.sample_z[b];
                    const double e =
                        std::sqrt(static_cast<long double>(dx) * dx +
                                  static_cast<long double>(dy) * dy) +
                        0.0001L;
                    if (!(e <= extent && e >= 0.0001L) ||
                        !(std::trunc(e / static_cast<long double>(width)) <
                          50)) {
                        continue;
                    }
                    const auto cls = static_cast<int32_t>(
                        std::trunc(e / static_cast<long double>(width)));
                    dist[cls] =
                        dist[cls] + static_cast<long double>(
                                        static_cast<double>(e - 0.0001L));
                    sq[cls] = sq[cls] + static_cast<long double>(dz) * dz;
                    count[cls] = count[cls] + 1.0L;
                }
            }
        }
        Direction best{0.0, 0.0};
        for (int32_t cls = 0; cls < 50; ++cls) {
            const double gamma =
                count[cls] != 0.0
                    ? static_cast<double>(sq[cls] / (2.0L * count[cls]))
                    : 0.0;
            const double lag =
                count[cls] != 0.0
                    ? static_cast<double>(dist[cls] /
                                          static_cast<long double>(count[cls]))
                    : 0.0;
            if (cls == 0 || gamma > best.peak) {
                best = {gamma, lag};
            }
        }
        return best;
    };
    const Direction row = scan(true), col = scan(false);
    return {static_cast<double>(
                (static_cast<long double>(row.peak) + col.peak) * 0.5L),
            static_cast<double>((static_cast<long double>(row.lag) + col.lag) *
                                0.5L)};
}

} // namespace

TEST(VariogramFit, PairClassesAndPeakTieBreak) {
    // A reference pair 150 apart (class 1) in row 1 and a probe pair in row 0,
    // both with squared difference 4 (semivariance 2). Same class: one class
    // with the mean distance. Different classes: a tie, and the lower class
    // sets the lag. Only rows have pairs, so sill and range are half the row
    // peak and lag.
    struct Case {
        const char *name;
        double probe_distance, expected_range;
    };
    const Case cases[] = {
        {"99.99 falls in class 0", 99.99, 99.99 / 2},
        {"100 falls in class 1", 100.0, (100.0 + 150.0) / 2 / 2},
        {"199.99 falls in class 1", 199.99, (199.99 + 150.0) / 2 / 2},
        {"250 falls in class 2", 250.0, 150.0 / 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Samples s;
        s.Add(250, 0, 0.0); // column 2; the probe lies in column 3 or 4
        s.Add(250 + c.probe_distance, 0, 2.0);
        s.Add(1000, 200, 1.0);
        s.Add(1150, 200, 3.0);
        AddAnchors(s);
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, KrigParams{.nugget = 0.5}));
        EXPECT_EQ(k.FitVariogram(), 0);
        EXPECT_EQ(k.nugget, 0.0);
        EXPECT_NEAR(k.sill, 1.0, 1e-12); // half of 4 / 2
        EXPECT_NEAR(k.range, c.expected_range, 1e-9);
    }
}

TEST(VariogramFit, NoSharedRowOrColumnGivesAZeroModel) {
    Samples s;
    s.Add(0, 0, 1.0);
    s.Add(400, 400, 5.0);
    s.Add(800, 800, -2.0);
    TKrigging k;
    ASSERT_TRUE(PrepareSteps(k, s, KrigParams{.nugget = 0.3}));
    k.FitVariogram();
    EXPECT_EQ(k.nugget, 0.0);
    EXPECT_EQ(k.sill, 0.0);
    EXPECT_EQ(k.range, 0.0);
}

TEST(VariogramFit, ColumnPairSpanningTheWholeYExtentIsLeftOut) {
    // One column, y extent 1000 (classes 20 wide). The pair 0-1000 exceeds the
    // extent once 0.0001 is added; the pair 600-1000 (squared difference 16)
    // sets the peak.
    Samples s;
    s.Add(1000, 0, 0.0);
    s.Add(1000, 1000, 4.0);
    s.Add(1000, 600, 0.0);
    TKrigging k;
    ASSERT_TRUE(PrepareSteps(k, s, KrigParams{}));
    k.FitVariogram();
    EXPECT_NEAR(k.sill, 8.0 / 2, 1e-12);
    EXPECT_NEAR(k.range, 400.0 / 2, 1e-9);
}

TEST(VariogramFit, BothDirectionsAreAveraged) {
    // Row pair 300 apart with difference 2, column pair 400 apart with
    // difference 4.
    Samples s;
    s.Add(0, 0, 0.0);
    s.Add(300, 0, 2.0);
    s.Add(0, 400, 4.0);
    s.Add(2000, 1000, 0.0); // extents; alone in its row and column
    TKrigging k;
    ASSERT_TRUE(PrepareSteps(k, s, KrigParams{}));
    k.FitVariogram();
    EXPECT_NEAR(k.sill, (4.0 / 2 + 16.0 / 2) / 2, 1e-12);
    EXPECT_NEAR(k.range, (300.0 + 400.0) / 2, 1e-9);
}

TEST(VariogramFit, GivenModelIsLeftAlone) {
    Samples s;
    s.Add(0, 0, 0.0);
    s.Add(300, 0, 2.0);
    s.Add(0, 400, 4.0);
    struct Case {
        const char *name;
        double sill, range;
    };
    const Case cases[] = {{"sill 0, range 1500", 0.0, 1500.0},
                          {"sill 2, range 0", 2.0, 0.0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(
            k, s, KrigParams{.nugget = 0.5, .sill = c.sill, .range = c.range}));
        k.FitVariogram();
        EXPECT_EQ(k.nugget, 0.5);
        EXPECT_EQ(k.sill, c.sill);
        EXPECT_EQ(k.range, c.range);
    }
}

TEST(VariogramFit, OccupiedCellsGiveTheSumsOfTheFullScan) {
    // Random windows over grids with many empty cells (a grown window),
    // samples sharing cells among them; the model must match the full scan
    // exactly (same pairs in the same order, so the same sums).
    for (uint32_t seed = 1; seed <= 100; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const double cell = seed % 2 == 0 ? 200.0 : 75.0;
        const double extent = cell * (3.0 + 50.0 * unit(random));
        Samples s;
        const int32_t count = 5 + static_cast<int32_t>(random() % 56);
        for (int32_t i = 0; i < count; ++i) {
            s.Add(std::round(extent * unit(random) * 100.0) / 100.0,
                  std::round(extent * unit(random) * 100.0) / 100.0,
                  20.0 * unit(random));
        }
        TKrigging k;
        ASSERT_TRUE(
            PrepareSteps(k, s, KrigParams{.cell_x = cell, .cell_y = cell}));
        const Model expected = DenseScanModel(k);
        k.FitVariogram();
        EXPECT_EQ(k.sill, expected.sill); // exact: same pairs, same order
        EXPECT_EQ(k.range, expected.range);
    }
}

TEST(VariogramFit, PairsOnClassEdgesMatchTheDenseScan) {
    // Stations 299.9999 apart along a row put their pairs' distance plus the
    // 0.0001 offset on a class edge (classes 100 wide), where the class must
    // come from the quotient itself; near the origin the coordinates change
    // sign, in projected ones every difference is exact.
    struct Case {
        const char *name;
        double x0, y0;
    };
    const Case cases[] = {{"projected", 500000.0, 5500000.0},
                          {"across the origin", -2300.0, -400.0},
                          {"at the origin", 0.0, 0.0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Samples s;
        s.Add(c.x0 + 4600, c.y0 + 800, 0.0);
        s.Add(c.x0, c.y0 + 400, 1.0);
        for (int32_t k = 1; k <= 15; ++k) {
            s.Add(c.x0 + k * 299.9999, c.y0 + 400, std::sin(k * 1.3));
            s.Add(c.x0 + k * 300.0, c.y0, std::cos(k * 0.7));
            s.Add(c.x0 + 4600 - k * 100.0, c.y0 + 800 - k * 33.3333, 0.1 * k);
        }
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, KrigParams{}));
        const Model expected = DenseScanModel(k);
        k.FitVariogram();
        EXPECT_EQ(k.sill, expected.sill); // exact: same pairs, same order
        EXPECT_EQ(k.range, expected.range);
    }
}
