// How sure a station-path estimate is: the makeup the lookup reports is the
// linear combination it computed, and its error variance under the model
// matches a direct computation and grows away from the samples.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "kriging/Krigging.h"
#include "support/KriggingSetup.h"

namespace {

bool RunPrepareGrid(TKrigging &k, const Samples &s, const KrigParams &p) {
    return k.PrepareGrid(s.x.data(), s.y.data(), s.z.data(), s.Count(), p.log_z,
                         p.search_mode, p.max_points, p.search_radius,
                         p.drift_order, p.nugget, p.sill, p.range, p.cell_x,
                         p.cell_y, p.aniso_angle, p.aniso_ratio);
}

// Covariance of the isotropic spherical model: sill - gamma(h).
double Covariance(double nugget, double sill, double range, double h) {
    if (h >= range) {
        return 0.0;
    }
    const double t = h / range;
    return sill - (nugget + (sill - nugget) * (1.5 * t - 0.5 * t * t * t));
}

// Ordinary kriging weights of `points` for target (x0, y0), from a dense
// Gaussian elimination with partial pivoting written here, independent of the
// gridder's solver; the diagonal is the full sill, as the gridder's system.
std::vector<double> DenseWeights(const std::vector<PlanePoint> &points,
                                 double x0, double y0, double sill,
                                 double range) {
    const size_t n = points.size();
    const size_t m = n + 1;
    std::vector<std::vector<double>> a(m, std::vector<double>(m + 1, 0.0));
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            a[i][j] = i == j
                          ? sill
                          : Covariance(0.0, sill, range,
                                       std::hypot(points[i].x - points[j].x,
                                                  points[i].y - points[j].y));
        }
        a[i][n] = a[n][i] = 1.0;
        a[i][m] = Covariance(0.0, sill, range,
                             std::hypot(points[i].x - x0, points[i].y - y0));
    }
    a[n][m] = 1.0;
    for (size_t c = 0; c < m; ++c) {
        size_t p = c;
        for (size_t r = c + 1; r < m; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) {
                p = r;
            }
        }
        std::swap(a[c], a[p]);
        for (size_t r = 0; r < m; ++r) {
            if (r != c) {
                const double f = a[r][c] / a[c][c];
                for (size_t k = c; k <= m; ++k) {
                    a[r][k] -= f * a[c][k];
                }
            }
        }
    }
    std::vector<double> w(n);
    for (size_t i = 0; i < n; ++i) {
        w[i] = a[i][m] / a[i][i];
    }
    return w;
}

// sill - 2 sum w_i C(x_i, x0) + sum_i sum_j w_i w_j C(x_i, x_j), C(0) = sill.
double DirectVariance(const std::vector<PlanePoint> &points,
                      const std::vector<double> &w, double x0, double y0,
                      double sill, double range) {
    double v = sill;
    for (size_t i = 0; i < points.size(); ++i) {
        v -= 2.0 * w[i] *
             Covariance(0.0, sill, range,
                        std::hypot(points[i].x - x0, points[i].y - y0));
        for (size_t j = 0; j < points.size(); ++j) {
            const double c =
                i == j ? sill
                       : Covariance(0.0, sill, range,
                                    std::hypot(points[i].x - points[j].x,
                                               points[i].y - points[j].y));
            v += w[i] * w[j] * c;
        }
    }
    return v;
}

} // namespace

TEST(ErrorVariance, MakeupIsTheCombinationThatWasRead) {
    // Random windows with a fitted model: the reported samples and weights,
    // blended by the corner weights and clamped per node as the nodes are,
    // give back the value read.
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        Samples s;
        const int count = 8 + static_cast<int>(random() % 30);
        for (int k = 0; k < count; ++k) {
            const double x = 1000.0 + 3000.0 * unit(random);
            const double y = 2000.0 + 3000.0 * unit(random);
            s.Add(x, y, 0.002 * x - 0.001 * y + 3.0 * unit(random));
        }
        KrigParams p;
        p.search_radius = 2500.0;
        auto k = std::make_unique<TKrigging>();
        ASSERT_TRUE(RunPrepareGrid(*k, s, p));
        const double x0 = 1000.0 + 3000.0 * unit(random);
        const double y0 = 2000.0 + 3000.0 * unit(random);
        StationMakeup makeup;
        const double value = k->ValueAtStation(x0, y0, makeup);
        ASSERT_EQ(makeup.corners, 4);
        long double blended = 0.0L;
        bool blank = false;
        for (int c = 0; c < 4; ++c) {
            if (makeup.corner_weight[c] == 0.0) {
                continue;
            }
            const NodeMakeup &node = makeup.node[c];
            if (node.blank) {
                blank = true;
                break;
            }
            long double sum = 0.0L;
            for (int32_t n = 1; n <= node.found; ++n) {
                sum += static_cast<long double>(node.weight[n]) *
                       k->sample_z[node.index[n]];
            }
            sum = std::clamp<long double>(sum, k->z_min, k->z_max);
            blended += makeup.corner_weight[c] * sum;
        }
        if (blank) {
            EXPECT_EQ(value, k->blank);
            EXPECT_TRUE(std::isnan(k->ErrorVariance(x0, y0, makeup)));
            continue;
        }
        // Sums in another order: a few units of the last place of values
        // about 10 mGal.
        EXPECT_NEAR(value, static_cast<double>(blended), 1e-9);
        EXPECT_GE(k->ErrorVariance(x0, y0, makeup), 0.0);
    }
}

TEST(ErrorVariance, PureNuggetModelGivesSillTimesOnePlusOneOverN) {
    // Range 0: every covariance between distinct points is 0, the weights are
    // 1/n, and sigma^2 = sill - 0 + n (1/n)^2 sill = sill (1 + 1/n). The
    // station lies on node (1, 1), so that node alone is read.
    Samples s;
    s.Add(100.0, 0.0, 1.0);
    s.Add(300.0, 0.0, 2.0);
    s.Add(100.0, 200.0, 3.0);
    s.Add(300.0, 200.0, 4.0);
    s.Add(200.0, 400.0, 5.0);
    KrigParams p;
    p.cell_x = p.cell_y = 100.0;
    p.search_radius = 1000.0;
    p.sill = 2.0;
    p.range = 0.0;
    auto k = std::make_unique<TKrigging>();
    ASSERT_TRUE(RunPrepareGrid(*k, s, p));
    StationMakeup makeup;
    k->ValueAtStation(100.0, 100.0, makeup); // x_min 0, so column 1, row 1
    ASSERT_EQ(makeup.corner_weight[0], 1.0);
    ASSERT_EQ(makeup.node[0].found, 5);
    EXPECT_DOUBLE_EQ(k->ErrorVariance(100.0, 100.0, makeup), 2.0 * 1.2);
}

TEST(ErrorVariance, MatchesADirectSolveBetweenNodes) {
    // Six samples, a given model (nugget 0, sill 4, range 900) and a station
    // inside a cell: the value is the corner blend of four node estimates,
    // each of which a dense solve here reproduces; sigma^2 of the blend is
    // then the quadratic form over the blended weights.
    Samples s;
    const std::vector<PlanePoint> points = {{120.0, 80.0},  {470.0, 130.0},
                                            {260.0, 390.0}, {610.0, 420.0},
                                            {90.0, 560.0},  {420.0, 640.0}};
    for (size_t i = 0; i < points.size(); ++i) {
        s.Add(points[i].x, points[i].y, static_cast<double>(i));
    }
    KrigParams p;
    p.cell_x = p.cell_y = 100.0;
    p.search_radius = 2000.0;
    p.sill = 4.0;
    p.range = 900.0;
    auto k = std::make_unique<TKrigging>();
    ASSERT_TRUE(RunPrepareGrid(*k, s, p));
    const double x0 = 333.0, y0 = 305.0;
    StationMakeup makeup;
    k->ValueAtStation(x0, y0, makeup);
    ASSERT_EQ(makeup.corners, 4);

    // Corner nodes of the cell holding the station: x_min = 90 - 100.
    const double node_x[4] = {290.0, 390.0, 390.0, 290.0};
    const double node_y[4] = {280.0, 280.0, 380.0, 380.0};
    std::vector<double> blended(points.size(), 0.0);
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(c);
        ASSERT_EQ(makeup.node[c].found, 6);
        const std::vector<double> w =
            DenseWeights(points, node_x[c], node_y[c], 4.0, 900.0);
        for (int32_t n = 1; n <= 6; ++n) {
            const int32_t i = makeup.node[c].index[n];
            EXPECT_NEAR(makeup.node[c].weight[n], w[i], 1e-12);
            blended[i] += makeup.corner_weight[c] * w[i];
        }
    }
    const double u = (x0 - 290.0) / 100.0, v = (y0 - 280.0) / 100.0;
    EXPECT_NEAR(makeup.corner_weight[0], (1 - u) * (1 - v), 1e-15);
    EXPECT_NEAR(makeup.corner_weight[2], u * v, 1e-15);
    EXPECT_NEAR(k->ErrorVariance(x0, y0, makeup),
                DirectVariance(points, blended, x0, y0, 4.0, 900.0), 1e-12);
}

TEST(ErrorVariance, GrowsWithDistanceFromTheSamples) {
    // A cluster of samples at the left and one far sample at the right, so the
    // grid spans the gap: stations further into the gap are less sure.
    Samples s;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            s.Add(1000.0 + 100.0 * i, 1000.0 + 100.0 * j, i + j);
        }
    }
    s.Add(4000.0, 1150.0, 3.0);
    KrigParams p;
    p.cell_x = p.cell_y = 50.0;
    p.search_radius = 5000.0;
    p.max_points = 16;
    p.sill = 10.0;
    p.range = 3000.0;
    auto k = std::make_unique<TKrigging>();
    ASSERT_TRUE(RunPrepareGrid(*k, s, p));
    double previous = -1.0;
    for (double x : {1320.0, 1500.0, 1900.0, 2500.0}) {
        SCOPED_TRACE(x);
        StationMakeup makeup;
        k->ValueAtStation(x, 1150.0, makeup);
        const double variance = k->ErrorVariance(x, 1150.0, makeup);
        EXPECT_GT(variance, previous);
        previous = variance;
    }
}
