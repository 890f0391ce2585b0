// The node loop: which nodes are estimated, clamping, reproduction of samples,
// the singular system, the angle, and the floating-point faults that end a run.
#include <cmath>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "kriging/Krigging.h"
#include "platform/FloatChecks.h"
#include "support/KriggingSetup.h"

namespace {

// count samples around (1000, 1000), scattered so that no drift system is
// singular, plus two far anchors that span a grid of cells of 100 with node
// (11, 10) there.
Samples Around(int32_t count) {
    Samples s;
    s.Add(0, 0, 0.0);
    s.Add(2000, 2000, 0.0);
    for (int32_t n = 1; n <= count; ++n) {
        const double a = n * 2.39996;
        const double r = 90.0 + 11.0 * n;
        s.Add(1000.0 + r * std::cos(a), 1000.0 + r * std::sin(a), n);
    }
    return s;
}

} // namespace

TEST(NodeEstimation, NodeNeedsMoreThanMinPointsNeighbours) {
    struct Case {
        int32_t drift_order, count;
        bool estimated;
    };
    const Case cases[] = {{0, 4, false},  {0, 5, true},  {1, 5, false},
                          {1, 6, true},   {2, 8, false}, {2, 9, true},
                          {3, 13, false}, {3, 14, true}, {0, 0, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "order " << c.drift_order << ", " << c.count);
        KrigParams p;
        p.cell_x = p.cell_y = 100.0;
        p.search_radius = 400.0; // reaches none of the anchors
        p.max_points = 32;
        p.drift_order = c.drift_order;
        p.sill = 1.0;
        p.range = 800.0;
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, Around(c.count), p));
        const double value = k.EstimateNode(11, 10);
        EXPECT_EQ(value == k.blank, !c.estimated);
    }
}

TEST(NodeEstimation, EstimateIsClampedToTheSampleRange) {
    // Samples on a plane left of the node; a linear drift extrapolates the
    // plane beyond the largest (or smallest) value and the clamp takes over.
    for (double slope : {1.0, -1.0}) {
        SCOPED_TRACE(slope);
        Samples s;
        for (int n = 0; n < 12; ++n) {
            const double x = 300.0 + 110.0 * (n % 4) + 7.0 * n;
            const double y = 700.0 + 120.0 * (n / 4) + 3.0 * n;
            s.Add(x, y, slope * x / 100.0);
        }
        s.Add(1900, 1900, 0.0); // far away, widens the grid
        KrigParams p;
        p.cell_x = p.cell_y = 100.0;
        p.search_radius = 1000.0;
        p.drift_order = 1;
        p.sill = 1.0;
        p.range = 2000.0;
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, p));
        ASSERT_EQ(k.x_min, 200.0);
        const double value = k.EstimateNode(9, 3); // node (1100, 1000)
        EXPECT_EQ(value, slope > 0
                             ? k.z_max
                             : k.z_min); // exact: the clamp stores the limit
    }
}

TEST(NodeEstimation, GridReproducesSamplesOnNodesWithoutNugget) {
    // samples at multiples of the cell lie on nodes; with log_z the grid holds
    // logs
    for (int32_t log_z : {0, 1}) {
        SCOPED_TRACE(log_z);
        Samples s;
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> cell(0, 24);
        std::uniform_real_distribution<double> value(1.0, 50.0);
        for (int n = 0; n < 40; ++n) {
            s.Add(200.0 * cell(rng), 200.0 * cell(rng), value(rng));
        }
        s.Add(0, 0, 10.0);
        s.Add(4800, 4800, 20.0);
        KrigParams p;
        p.log_z = log_z;
        p.sill = 3.0;
        p.range = 3000.0;
        p.search_radius = 4000.0; // every node finds enough samples
        auto k = std::make_unique<TKrigging>();
        ASSERT_TRUE(RunMakeGrid(*k, s, p));
        int checked = 0;
        for (int n = 0; n < s.Count(); ++n) {
            bool alone = true;
            for (int m = 0; m < s.Count(); ++m) {
                alone =
                    alone && (m == n || s.x[m] != s.x[n] || s.y[m] != s.y[n]);
            }
            const int c =
                static_cast<int>(std::lround((s.x[n] - k->x_min) / 200.0));
            const int r =
                static_cast<int>(std::lround((s.y[n] - k->y_min) / 200.0));
            if (!alone || r >= k->n_rows) {
                continue; // merged, or above the last row
            }
            const double expected = log_z == 1 ? std::log(s.z[n]) : s.z[n];
            EXPECT_NEAR(k->grid[c][r], expected,
                        1e-9 * std::fabs(expected) + 1e-12);
            ++checked;
        }
        EXPECT_GT(checked, 20);
    }
}

TEST(NodeEstimation, ConstantFieldGivesItsValueThroughTheSingularSystem) {
    // equal values fit sill 0: every node's system is singular and the node
    // takes the plain mean of its neighbours, which is the constant
    Samples s;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> coord(0.0, 3000.0);
    for (int n = 0; n < 60; ++n) {
        s.Add(coord(rng), coord(rng), 7.25);
    }
    auto k = std::make_unique<TKrigging>();
    ASSERT_TRUE(RunMakeGrid(*k, s, KrigParams{}));
    EXPECT_EQ(k->sill, 0.0);
    int estimated = 0;
    for (int c = 0; c < k->n_cols; ++c) {
        for (int r = 0; r < k->n_rows; ++r) {
            if (k->grid[c][r] != k->blank) {
                EXPECT_EQ(k->grid[c][r],
                          7.25); // exact: the mean of equal values
                ++estimated;
            }
        }
    }
    EXPECT_GT(estimated, 100);
}

TEST(NodeEstimation, EstimateDoesNotDependOnTheNodesBefore) {
    // Nodes share the covariances of their common neighbours. A node must get
    // the same bits whether its gridder estimated other nodes before (with
    // the same model or another one) or none.
    const Samples s = Around(40);
    KrigParams p = {.max_points = 16,
                    .search_radius = 600.0,
                    .nugget = 0.3,
                    .sill = 4.0,
                    .range = 700.0,
                    .cell_x = 100.0,
                    .cell_y = 100.0};
    struct Case {
        const char *name;
        double sill_before; // the model of the nodes estimated first
    };
    const Case cases[] = {{"same model", 4.0}, {"other model", 6.5}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TKrigging warm;
        ASSERT_TRUE(PrepareSteps(warm, s, p));
        warm.sill = c.sill_before;
        for (int32_t i = 8; i <= 14; ++i) {
            for (int32_t j = 7; j <= 13; ++j) {
                warm.EstimateNode(i, j);
            }
        }
        warm.sill = p.sill;
        for (int32_t i = 9; i <= 13; ++i) {
            for (int32_t j = 8; j <= 12; ++j) {
                SCOPED_TRACE(std::to_string(i) + ", " + std::to_string(j));
                TKrigging cold;
                ASSERT_TRUE(PrepareSteps(cold, s, p));
                // exact: the same arithmetic on the same numbers
                EXPECT_EQ(warm.EstimateNode(i, j), cold.EstimateNode(i, j));
            }
        }
    }
}

TEST(NodeEstimation, EveryNodeIsAnEstimateInRangeOrBlank) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> coord(0.0, 5000.0);
    std::normal_distribution<double> value(-30.0, 12.0);
    for (int32_t search_mode : {0, 1}) {
        SCOPED_TRACE(search_mode);
        Samples s;
        for (int n = 0; n < 30; ++n) {
            const double x = coord(rng), y = coord(rng);
            s.Add(x, y, value(rng) + x / 500.0);
        }
        KrigParams p;
        p.search_mode = search_mode;
        p.search_radius = 2500.0;
        p.aniso_angle = 90.0;
        auto k = std::make_unique<TKrigging>();
        ASSERT_TRUE(RunMakeGrid(*k, s, p));
        EXPECT_EQ(k->aniso_angle,
                  90.0 * 0.017453292); // radians by the loop's constant
        int blanks = 0;
        for (int c = 0; c < k->n_cols; ++c) {
            for (int r = 0; r < k->n_rows; ++r) {
                const double v = k->grid[c][r];
                if (v == k->blank) {
                    ++blanks;
                    continue;
                }
                EXPECT_GE(v, k->z_min);
                EXPECT_LE(v, k->z_max);
            }
        }
        EXPECT_LT(blanks, k->n_cols * k->n_rows / 4);
    }
}

TEST(NodeEstimation, FloatingPointFaultsLeaveMakeGrid) {
    struct Case {
        const char *name;
        double y_offset, ratio;
        int32_t drift_order;
    };
    const Case cases[] = {
        {"negative anisotropy ratio under the square root", 0.0, -2.0, 0},
        {"drift scaled by a largest y of 0", -3000.0, 1.0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Samples s;
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> coord(0.0, 3000.0);
        for (int n = 0; n < 30; ++n) {
            s.Add(coord(rng), coord(rng) + c.y_offset, n);
        }
        s.Add(1500, 3000 + c.y_offset, 3.0); // largest y exactly 3000 + offset
        KrigParams p;
        p.aniso_angle = 30.0;
        p.aniso_ratio = c.ratio;
        p.drift_order = c.drift_order;
        p.search_radius = 1500.0;
        auto k = std::make_unique<TKrigging>();
        EXPECT_THROW(RunMakeGrid(*k, s, p), FloatingPointError);
        EXPECT_EQ(k->sample_x, nullptr);
        EXPECT_EQ(k->cell_index, nullptr);
        EXPECT_FALSE(
            FloatErrorRaised()); // the flags were consumed by the check
        // the half-estimated grid went with the run
        EXPECT_EQ(k->grid, nullptr);
        EXPECT_EQ(k->ValueAt(1500.0, 1500.0 + c.y_offset, false), k->blank);
    }
}
