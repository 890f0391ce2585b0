// The spherical variogram, the node's kriging system with drift terms, and the
// Gauss-Jordan solve with its pivot rule.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "kriging/Krigging.h"

namespace {

// A gridder holding a model and found neighbours around the node (1000, 1000),
// at scattered distances so that no drift order makes the system singular.
struct NodeFixture {
    TKrigging k;
    int32_t found;
    NodeFixture(int32_t count, int32_t drift_order, double nugget, double sill,
                double range)
        : found(count) {
        k.drift_order = drift_order;
        k.nugget = nugget;
        k.sill = sill;
        k.range = range;
        k.aniso_ratio = 1.0;
        k.x_max = 3000.0;
        k.y_max = 2500.0;
        for (int32_t n = 1; n <= count; ++n) {
            const double a =
                n * 2.39996; // golden angle: no three samples line up
            const double r = 80.0 + 37.0 * n;
            k.neighbours[n][0] = 1000.0 + r * std::cos(a);
            k.neighbours[n][1] = 1000.0 + r * std::sin(a);
            k.neighbours[n][2] = 0.0;
        }
    }
    // Neighbour weights 1..found (false when the system was singular).
    bool Weights(double x, double y, std::vector<double> &w) {
        double weights[TKrigging::max_system + 1];
        const bool ok = k.NodeWeights(x, y, found, weights);
        w.assign(weights + 1, weights + 1 + found);
        return ok;
    }
};

} // namespace

TEST(KrigingSystem, SphericalModelAtKeyDistances) {
    // nugget 1, sill 5, range 100; expected values from the model's closed form
    struct Case {
        const char *name;
        double h, range, expected;
    };
    const Case cases[] = {
        {"at zero", 0.0, 100.0, 1.0},
        {"half range: 11/16", 50.0, 100.0, 1.0 + 11.0 / 16.0 * 4.0},
        {"at range", 100.0, 100.0, 5.0},
        {"beyond range", 250.0, 100.0, 5.0},
        {"range 0 gives the sill everywhere", 0.0, 0.0, 5.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TKrigging k;
        k.nugget = 1.0;
        k.sill = 5.0;
        k.range = c.range;
        k.aniso_ratio = 1.0;
        // exact: 11/16 and the end points are representable
        EXPECT_EQ(
            k.Variogram({300.0, 700.0}, {300.0 + c.h * 0.6, 700.0 - c.h * 0.8}),
            c.expected);
    }
}

TEST(KrigingSystem, SystemSizeFollowsTheDriftOrder) {
    struct Case {
        int32_t drift_order, extra;
    };
    const Case cases[] = {{0, 1}, {1, 3}, {2, 6}, {3, 10}, {4, 1}, {-1, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.drift_order);
        NodeFixture f(16, c.drift_order, 0.0, 2.0, 500.0);
        std::vector<double> w;
        ASSERT_TRUE(f.Weights(1000.0, 1000.0, w));
        const int32_t n = f.found + c.extra;
        EXPECT_NE(f.k.kr_matrix[n][1], 0.0) << "last row of the system";
        EXPECT_EQ(f.k.kr_matrix[n + 1][1], 0.0) << "first row past the system";
    }
}

TEST(KrigingSystem, WeightsSumToOneAndDriftReproducesItsPolynomial) {
    for (int32_t order = 0; order <= 3; ++order) {
        SCOPED_TRACE(order);
        NodeFixture f(20, order, 0.2, 3.0, 700.0);
        // values on a polynomial of the drift's order (a constant for order 0)
        auto field = [order](double x, double y) {
            const double u = x / 1000.0, v = y / 1000.0;
            double z = 5.0;
            if (order >= 1)
                z += 2.0 * u - 3.0 * v;
            if (order >= 2)
                z += 0.5 * u * u + 0.25 * u * v - v * v;
            if (order >= 3)
                z += 0.1 * u * u * u - 0.2 * u * v * v;
            return z;
        };
        for (int32_t n = 1; n <= f.found; ++n) {
            f.k.neighbours[n][2] =
                field(f.k.neighbours[n][0], f.k.neighbours[n][1]);
        }
        std::vector<double> w;
        ASSERT_TRUE(f.Weights(1130.0, 870.0, w));
        double sum = 0.0, estimate = 0.0;
        for (int32_t n = 1; n <= f.found; ++n) {
            sum += w[n - 1];
            estimate += w[n - 1] * f.k.neighbours[n][2];
        }
        EXPECT_NEAR(sum, 1.0, 1e-9); // rounding of a 30-equation elimination
        EXPECT_NEAR(estimate, field(1130.0, 870.0), 1e-7);
    }
}

TEST(KrigingSystem, WeightsAtTheLimitsOfTheModel) {
    struct Case {
        const char *name;
        double nugget, sill, range;
        bool on_sample; // node placed on neighbour 1
        double first_weight, other_weight;
    };
    const double tenth = 1.0 / 10.0;
    const Case cases[] = {
        {"range 0: plain mean", 0.0, 2.0, 0.0, false, tenth, tenth},
        {"all pairs beyond the range: plain mean", 0.5, 2.0, 10.0, false, tenth,
         tenth},
        {"nugget 0 on a sample: that sample alone", 0.0, 2.0, 900.0, true, 1.0,
         0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        NodeFixture f(10, 0, c.nugget, c.sill, c.range);
        const double x = c.on_sample ? f.k.neighbours[1][0] : 1013.0;
        const double y = c.on_sample ? f.k.neighbours[1][1] : 977.0;
        std::vector<double> w;
        ASSERT_TRUE(f.Weights(x, y, w));
        EXPECT_NEAR(w[0], c.first_weight, 1e-12);
        for (size_t n = 1; n < w.size(); ++n) {
            EXPECT_NEAR(w[n], c.other_weight, 1e-12);
        }
    }
}

TEST(KrigingSystem, NuggetOnASampleNoLongerGivesItAllTheWeight) {
    NodeFixture f(10, 0, 0.5, 2.0, 900.0);
    std::vector<double> w;
    ASSERT_TRUE(f.Weights(f.k.neighbours[1][0], f.k.neighbours[1][1], w));
    EXPECT_LT(w[0], 0.99);
    EXPECT_GT(w[0], 0.0);
}

TEST(KrigingSystem, SolveAgreesWithADenseSolve) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> entry(-1.0, 1.0);
    for (int32_t n : {1, 3, 8, 42}) {
        SCOPED_TRACE(n);
        TKrigging k;
        std::vector<std::vector<long double>> a(
            n, std::vector<long double>(n + 1));
        double rhs[TKrigging::max_system + 2];
        for (int32_t r = 1; r <= n; ++r) {
            for (int32_t c = 1; c <= n; ++c) {
                k.kr_matrix[r][c] =
                    entry(rng) + (r == c ? n : 0.0); // well conditioned
                a[r - 1][c - 1] = k.kr_matrix[r][c];
            }
            rhs[r] = entry(rng);
            a[r - 1][n] = rhs[r];
        }
        // Gaussian elimination with row exchanges and back substitution
        for (int32_t c = 0; c < n; ++c) {
            int32_t p = c;
            for (int32_t r = c + 1; r < n; ++r) {
                if (std::fabs(a[r][c]) > std::fabs(a[p][c]))
                    p = r;
            }
            std::swap(a[c], a[p]);
            for (int32_t r = c + 1; r < n; ++r) {
                const long double f = a[r][c] / a[c][c];
                for (int32_t q = c; q <= n; ++q)
                    a[r][q] -= f * a[c][q];
            }
        }
        std::vector<long double> x(n);
        for (int32_t r = n - 1; r >= 0; --r) {
            long double s = a[r][n];
            for (int32_t q = r + 1; q < n; ++q)
                s -= a[r][q] * x[q];
            x[r] = s / a[r][r];
        }
        double weights[TKrigging::max_system + 1];
        ASSERT_TRUE(k.SolveSystem(rhs, weights, n));
        for (int32_t r = 1; r <= n; ++r) {
            EXPECT_NEAR(weights[r], static_cast<double>(x[r - 1]), 1e-12);
        }
    }
}

TEST(KrigingSystem, PivotTieTakesTheLowerRow) {
    // |2| and |-2| tie in column 1: row 1 is the pivot, so row 2 is eliminated
    // (its column-2 entry becomes 3 + 1 * 1) while row 1 keeps its entry 1.
    TKrigging k;
    k.kr_matrix[1][1] = 2.0;
    k.kr_matrix[1][2] = 1.0;
    k.kr_matrix[2][1] = -2.0;
    k.kr_matrix[2][2] = 3.0;
    const double rhs[3] = {0.0, 4.0, 4.0};
    double weights[3];
    ASSERT_TRUE(k.SolveSystem(rhs, weights, 2));
    EXPECT_EQ(k.aug_matrix[2][2], 4.0); // exact: small integers
    EXPECT_EQ(k.aug_matrix[1][2], 1.0);
    EXPECT_EQ(weights[1], 1.0); // 2a + b = 4, -2a + 3b = 4
    EXPECT_EQ(weights[2], 2.0);
}

TEST(KrigingSystem, EliminationFactorIsStoredAsDouble) {
    // Row 1 is the pivot of column 1; row 2 is eliminated with the factor
    // f = -(83/13) / (68/7), stored as double. Held in extended instead, f
    // would give the weight 0x1.e4a51b3b0022ap-7, one unit lower.
    TKrigging k;
    k.kr_matrix[1][1] = 68 / 7.0;
    k.kr_matrix[1][2] = 78 / 11.0;
    k.kr_matrix[2][1] = 83 / 13.0;
    k.kr_matrix[2][2] = 41 / 3.0;
    const double rhs[3] = {0.0, 2 / 17.0, 4 / 19.0};
    double weights[3];
    ASSERT_TRUE(k.SolveSystem(rhs, weights, 2));
    EXPECT_EQ(weights[2], 0x1.e4a51b3b0022bp-7);
}

TEST(KrigingSystem, ColumnWithoutPivotIsReportedSingular) {
    // sill 0 (all values equal): every covariance is 0, the system has no pivot
    // from its second column on.
    NodeFixture f(6, 0, 0.0, 0.0, 0.0);
    std::vector<double> w;
    EXPECT_FALSE(f.Weights(1000.0, 1000.0, w));
}
