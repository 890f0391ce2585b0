// Neighbour search: the window, the radius, the nearest-points list, the
// octants and the heapsort both lists share.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kriging/Krigging.h"
#include "support/KriggingSetup.h"

namespace {

// Grid of cells of 100 spanned by (0, 0) and (2000, 2000): x_min -100, so node
// (11, 10) lies at (1000, 1000).
constexpr int node_i = 11, node_j = 10;
constexpr double node_x = 1000.0, node_y = 1000.0;

Samples Anchored() {
    Samples s;
    s.Add(0, 0, 0.0);
    s.Add(2000, 2000, 0.0);
    return s;
}

KrigParams Cells100(double radius) {
    KrigParams p;
    p.cell_x = p.cell_y = 100.0;
    p.search_radius = radius;
    return p;
}

struct Found {
    std::vector<int32_t> index;
    std::vector<double> dist;
};

Found Search(TKrigging &k, int i, int j, double x, double y) {
    int32_t nbr_index[TKrigging::max_system + 1];
    double nbr_dist[TKrigging::max_system + 1];
    int32_t found = -1;
    if (k.search_mode == 0) {
        k.SearchNearest(i, j, x, y, nbr_index, nbr_dist, found);
    } else {
        k.SearchOctants(i, j, x, y, nbr_index, nbr_dist, found);
    }
    Found f;
    for (int32_t n = 1; n <= found; ++n) {
        f.index.push_back(nbr_index[n]);
        f.dist.push_back(nbr_dist[n]);
    }
    return f;
}

// Node (i, j)'s list by the rule of the offers, literally: cells in scan
// order, each candidate within the radius appended (or replacing a strictly
// farther last entry), and the whole list heapsorted after every change. The
// search must give it, entries and distances exactly.
void ExpectOffersInScanOrder(TKrigging &k, int i, int j) {
    SCOPED_TRACE("node " + std::to_string(i) + ", " + std::to_string(j));
    const double x = k.x_min + i * k.cell_x, y = k.y_min + j * k.cell_y;
    const int32_t reach =
        static_cast<int32_t>(std::ceil(k.search_radius / k.cell_x));
    int32_t index[TKrigging::max_system + 1];
    double dist[TKrigging::max_system + 1];
    int32_t count = 0;
    for (int c = std::max(0, i - reach); c < std::min<int>(k.n_cols, i + reach);
         ++c) {
        for (int r = std::max(0, j - reach);
             r < std::min<int>(k.n_rows, j + reach); ++r) {
            const int32_t idx = k.cell_index[c][r];
            if (idx < 0) {
                continue;
            }
            // the isotropic distance as the search forms it
            const double u = static_cast<long double>(x) - k.sample_x[idx];
            const double v = static_cast<long double>(y) - k.sample_y[idx];
            const double d =
                std::sqrt(1.0L * v * v + static_cast<long double>(u) * u);
            if (!(d <= k.search_radius)) {
                continue;
            }
            if (count < k.max_points) {
                ++count;
            } else if (!(d < dist[count])) {
                continue;
            }
            index[count] = idx;
            dist[count] = d;
            k.SortByDistance(index, dist, count);
        }
    }
    const Found f = Search(k, i, j, x, y);
    ASSERT_EQ(f.index.size(), static_cast<size_t>(count));
    for (int32_t n = 0; n < count; ++n) {
        EXPECT_EQ(f.index[n], index[n + 1]);
        EXPECT_EQ(f.dist[n], dist[n + 1]); // exact: same formula
    }
}

} // namespace

TEST(NeighbourSearch, WindowAndRadiusBounds) {
    // radius 300 over cells of 100: columns 8..13 and rows 7..12 are visited
    struct Case {
        const char *name;
        double x, y;
        bool found;
    };
    const Case cases[] = {
        {"exactly on the radius", 700, 1000, true},
        {"just beyond the radius", 699.9, 1000, false},
        {"column i - rx is visited", 710, 1000, true},
        {"column i + rx is not visited", 1290, 1000, false},
        {"column i + rx - 1 is visited", 1240, 1000, true},
        {"row j - ry is visited", 1000, 710, true},
        {"row j + ry is not visited", 1000, 1290, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Samples s = Anchored();
        s.Add(c.x, c.y, 1.0);
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, Cells100(300)));
        const Found f = Search(k, node_i, node_j, node_x, node_y);
        ASSERT_EQ(f.index.size(), c.found ? 1u : 0u);
        if (c.found) {
            EXPECT_EQ(f.index[0], 2);
            EXPECT_NEAR(f.dist[0], std::hypot(c.x - node_x, c.y - node_y),
                        1e-12);
        }
    }
}

TEST(NeighbourSearch, AnisotropicDistance) {
    struct Case {
        const char *name;
        double x, y, angle, ratio, expected;
    };
    const Case cases[] = {
        {"ratio 4, along y", 1000, 900, 0.0, 4.0, 200.0},
        {"ratio 4, along x", 900, 1000, 0.0, 4.0, 100.0},
        {"ratio 1 ignores the angle", 1060, 1080, 30.0, 1.0, 100.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Samples s = Anchored();
        s.Add(c.x, c.y, 1.0);
        KrigParams p = Cells100(500);
        p.aniso_angle = c.angle;
        p.aniso_ratio = c.ratio;
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, p));
        const Found f = Search(k, node_i, node_j, node_x, node_y);
        ASSERT_EQ(f.dist.size(), 1u);
        EXPECT_NEAR(f.dist[0], c.expected, 1e-9);
    }
}

TEST(NeighbourSearch, NearestKeepsTheFirstOfEqualFarthestCandidates) {
    // Four samples at 100 and two at 200; with room for 5 the one at 200
    // scanned first (column 9) stays, the later one (column 13) at the same
    // distance is dropped.
    Samples s = Anchored();
    s.Add(800, 1000, 0.0);  // index 2, distance 200, scanned first
    s.Add(900, 1000, 0.0);  // 3
    s.Add(1000, 900, 0.0);  // 4
    s.Add(1000, 1100, 0.0); // 5
    s.Add(1100, 1000, 0.0); // 6
    s.Add(1200, 1000, 0.0); // 7, distance 200, scanned last
    KrigParams p = Cells100(500);
    p.max_points = 5;
    TKrigging k;
    ASSERT_TRUE(PrepareSteps(k, s, p));
    const Found f = Search(k, node_i, node_j, node_x, node_y);
    ASSERT_EQ(f.index.size(), 5u);
    EXPECT_EQ(f.index[4], 2);
    EXPECT_EQ(f.dist[4], 200.0); // exact: whole metres along an axis
    EXPECT_EQ(std::count(f.index.begin(), f.index.end(), 7), 0);
}

TEST(NeighbourSearch, NearestAgreesWithBruteForceOnRandomSamples) {
    std::mt19937 rng(20261210);
    std::uniform_real_distribution<double> coord(0.0, 5000.0);
    for (int32_t max_points : {5, 16, 32}) {
        SCOPED_TRACE(max_points);
        Samples s;
        for (int n = 0; n < 300; ++n) {
            s.Add(coord(rng), coord(rng), 0.0);
        }
        KrigParams p;
        p.max_points = max_points;
        p.search_radius = 900.0;
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, p));
        for (int i = 0; i < k.n_cols; i += 3) {
            for (int j = 0; j < k.n_rows; j += 4) {
                const double x = k.x_min + i * k.cell_x,
                             y = k.y_min + j * k.cell_y;
                // brute force over the asymmetric window, sorted by distance
                std::vector<std::pair<double, int32_t>> all;
                for (int c = std::max(0, i - 5);
                     c < std::min<int>(k.n_cols, i + 5); ++c) {
                    for (int r = std::max(0, j - 5);
                         r < std::min<int>(k.n_rows, j + 5); ++r) {
                        const int32_t idx = k.cell_index[c][r];
                        const double d = idx < 0
                                             ? 1e300
                                             : std::hypot(x - k.sample_x[idx],
                                                          y - k.sample_y[idx]);
                        if (d <= 900.0) {
                            all.emplace_back(d, idx);
                        }
                    }
                }
                std::sort(all.begin(), all.end());
                all.resize(std::min<size_t>(all.size(), max_points));
                const Found f = Search(k, i, j, x, y);
                ASSERT_EQ(f.index.size(), all.size());
                for (size_t n = 0; n < all.size(); ++n) {
                    EXPECT_EQ(f.index[n], all[n].second);
                    EXPECT_NEAR(f.dist[n], all[n].first, 1e-9);
                }
            }
        }
    }
}

TEST(NeighbourSearch, NearestOrdersTiesAsTheHeapsortAfterEveryOffer) {
    // Samples on every node of a lattice give many equal distances.
    Samples s;
    for (int x = 0; x <= 1500; x += 100) {
        for (int y = 0; y <= 1500; y += 100) {
            s.Add(x, y, 0.0);
        }
    }
    for (int32_t max_points : {5, 16, 32}) {
        SCOPED_TRACE(max_points);
        KrigParams p = Cells100(450.0);
        p.max_points = max_points;
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, p));
        for (int i = 0; i < k.n_cols; i += 2) {
            for (int j = 0; j < k.n_rows; j += 3) {
                ExpectOffersInScanOrder(k, i, j);
            }
        }
    }
}

TEST(NeighbourSearch, NearestMatchesTheOffersWithAndWithoutTies) {
    // The list found from all distances at once must be the list the offers
    // make, whether ties send the search back to the offers or not: scattered
    // samples, lattices (ties), lattices with some samples moved, a radius
    // that leaves the list short, and projected coordinates.
    struct Case {
        const char *name;
        double origin, spacing, jitter, radius;
        int32_t max_points;
    };
    const Case cases[] = {
        {"scattered", 0.0, 0.0, 0.0, 450.0, 16},
        {"lattice", 0.0, 100.0, 0.0, 450.0, 16},
        {"lattice, a third moved", 0.0, 100.0, 7.3, 450.0, 16},
        {"scattered, short list", 0.0, 0.0, 0.0, 120.0, 32},
        {"scattered, one-point list", 0.0, 0.0, 0.0, 450.0, 5},
        {"lattice off the cells", 0.0, 70.0, 0.0, 300.0, 16},
        {"projected coordinates", 500000.0, 0.0, 0.0, 450.0, 16},
        {"projected lattice", 5500000.0, 100.0, 0.0, 450.0, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        Samples s;
        if (c.spacing == 0.0) {
            for (int n = 0; n < 250; ++n) {
                s.Add(c.origin + std::round(1500.0 * unit(rng) * 100) / 100,
                      c.origin + std::round(1500.0 * unit(rng) * 100) / 100,
                      0.0);
            }
        } else {
            int n = 0;
            for (double x = 0; x <= 1500.0; x += c.spacing) {
                for (double y = 0; y <= 1500.0; y += c.spacing, ++n) {
                    const double moved = n % 3 == 0 ? c.jitter : 0.0;
                    s.Add(c.origin + x + moved, c.origin + y, 0.0);
                }
            }
        }
        KrigParams p = Cells100(c.radius);
        p.max_points = c.max_points;
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, p));
        for (int i = 0; i < k.n_cols; ++i) {
            for (int j = 0; j < k.n_rows; j += 2) {
                ExpectOffersInScanOrder(k, i, j);
            }
        }
    }
}

TEST(NeighbourSearch, WindowScanVisitsTheOccupiedCellsInScanOrder) {
    // The one scan both searches read, against the plain walk over the cell
    // index: every occupied cell of the window, bounds clipped to the grid,
    // column by column and rows ascending; a new grid is scanned afresh.
    struct Window {
        const char *name;
        int32_t c_lo, c_hi, r_lo, r_hi;
    };
    const Window windows[] = {
        {"inside", 4, 11, 3, 9},
        {"past the low edges", -6, 5, -4, 6},
        {"past the high edges", 12, 40, 10, 40},
        {"whole grid and more", -2000, 2000, -2000, 2000},
        {"one cell", 7, 8, 7, 8},
        {"no columns", 6, 6, 0, 30},
        {"no rows", 0, 30, 5, 5},
    };
    std::mt19937 rng(31);
    std::uniform_real_distribution<double> coord(0.0, 2000.0);
    TNeighbourSearch search;
    for (int grid_number = 0; grid_number < 2; ++grid_number) {
        Samples s = Anchored();
        for (int n = 0; n < 120; ++n) {
            s.Add(coord(rng), coord(rng), 0.0);
        }
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, Cells100(300.0)));
        const SearchGrid grid{k.sample_x.get(),
                              k.sample_y.get(),
                              k.cell_index.get(),
                              {k.x_min, k.x_max, k.y_min, k.y_max, k.cell_x,
                               k.cell_y, k.n_cols, k.n_rows},
                              k.search_radius,
                              k.max_points,
                              {k.aniso_ratio, k.cos_angle, k.sin_angle}};
        search.NewGrid();
        for (const Window &w : windows) {
            SCOPED_TRACE(std::string(w.name) + ", grid " +
                         std::to_string(grid_number));
            std::vector<int32_t> expected, visited;
            for (int c = std::max(0, w.c_lo);
                 c < std::min<int>(k.n_cols, w.c_hi); ++c) {
                for (int r = std::max(0, w.r_lo);
                     r < std::min<int>(k.n_rows, w.r_hi); ++r) {
                    if (k.cell_index[c][r] != -1) {
                        expected.push_back(k.cell_index[c][r]);
                    }
                }
            }
            search.ScanWindow(
                grid, w.c_lo, w.c_hi, w.r_lo, w.r_hi,
                [&](int32_t sample) { visited.push_back(sample); });
            EXPECT_EQ(visited, expected);
        }
    }
}

TEST(NeighbourSearch, OctantOfAnOffset) {
    // offsets are node minus sample
    struct Case {
        const char *name;
        double dx, dy;
        int32_t sector;
    };
    const Case cases[] = {
        {"on the node", 0, 0, 0},
        {"straight below the node: t 360", 0, 50, 7},
        {"straight above: t 180", 0, -50, 4},
        {"to the left: t 90", 50, 0, 2},
        {"to the right: t 270", -50, 0, 6},
        {"t 30", 50, 86.6, 0},
        {"t 60", 86.6, 50, 1},
        {"t 120", 86.6, -50, 2},
        {"t 150", 50, -86.6, 3},
        {"t 210", -50, -86.6, 4},
        {"t 240", -86.6, -50, 5},
        {"t 300", -86.6, 50, 6},
        {"t 330", -50, 86.6, 7},
    };
    TKrigging k;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(k.Octant(c.dx, c.dy), c.sector);
    }
}

TEST(NeighbourSearch, OctantsKeepTheNearestPerSector) {
    // A ring of 8 samples per sector (64 in all) around node (1000, 1000).
    struct Case {
        const char *name;
        int32_t max_points;
        size_t expected;
    };
    const Case cases[] = {{"one per sector", 8, 8},
                          {"four per sector", 32, 32}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Samples s = Anchored();
        for (int ring = 1; ring <= 8; ++ring) {
            for (int sector = 0; sector < 8; ++sector) {
                const double a = (sector * 45.0 + 22.5) * M_PI / 180.0;
                s.Add(node_x - 100.0 * ring * std::sin(a),
                      node_y - 100.0 * ring * std::cos(a), 0.0);
            }
        }
        KrigParams p = Cells100(2000);
        p.cell_x = p.cell_y =
            10.0; // fine cells keep every sample in a cell of its own
        p.search_mode = 1;
        p.max_points = c.max_points;
        TKrigging k;
        ASSERT_TRUE(PrepareSteps(k, s, p));
        const int i = static_cast<int>((node_x - k.x_min) / k.cell_x + 0.5);
        const int j = static_cast<int>((node_y - k.y_min) / k.cell_y + 0.5);
        const Found f = Search(k, i, j, node_x, node_y);
        ASSERT_EQ(f.index.size(), c.expected);
        const size_t per_sector = c.expected / 8;
        std::vector<int> per(8, 0);
        for (size_t n = 0; n < f.index.size(); ++n) {
            const int32_t idx = f.index[n];
            EXPECT_NEAR(f.dist[n], 100.0 * ((idx - 2) / 8 + 1), 1e-9);
            EXPECT_LT(static_cast<size_t>((idx - 2) / 8), per_sector)
                << "a farther ring was kept";
            ++per[k.Octant(node_x - k.sample_x[idx], node_y - k.sample_y[idx])];
            if (n > 0) {
                EXPECT_LE(f.dist[n - 1], f.dist[n]);
            }
        }
        for (int sector = 0; sector < 8; ++sector) {
            EXPECT_EQ(per[sector], static_cast<int>(per_sector));
        }
    }
}

TEST(NeighbourSearch, HeapsortOrdersByDistanceMovingTheIndex) {
    // The order of equal distances is the one these heapsort steps give
    // (worked by hand): it decides which of two equally far samples is the
    // last entry and so the one a nearer candidate replaces.
    struct Case {
        const char *name;
        std::vector<double> dist;
        std::vector<int32_t> order; // the indices after the sort
    };
    const Case cases[] = {
        {"empty", {}, {}},
        {"one", {5}, {101}},
        {"two reversed", {2, 1}, {102, 101}},
        {"seven mixed",
         {4, 9, 1, 7, 3, 8, 2},
         {103, 107, 105, 101, 104, 106, 102}},
        {"already sorted", {1, 2, 3, 4, 5}, {101, 102, 103, 104, 105}},
        {"with repeats", {3, 1, 3, 2, 1}, {102, 105, 104, 103, 101}},
        {"all equal", {2, 2, 2, 2}, {102, 103, 104, 101}},
    };
    TKrigging k;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t n = static_cast<int32_t>(c.dist.size());
        int32_t index[TKrigging::max_system + 1] = {-7};
        double dist[TKrigging::max_system + 1] = {-7.0};
        for (int32_t e = 1; e <= n; ++e) {
            index[e] = 100 + e;
            dist[e] = c.dist[e - 1];
        }
        k.SortByDistance(index, dist, n);
        EXPECT_EQ(index[0], -7); // entry 0 is never touched
        EXPECT_EQ(dist[0], -7.0);
        std::vector<double> sorted = c.dist;
        std::sort(sorted.begin(), sorted.end());
        for (int32_t e = 1; e <= n; ++e) {
            EXPECT_EQ(dist[e], sorted[e - 1]);
            EXPECT_EQ(c.dist[index[e] - 101], dist[e])
                << "index separated from its distance";
            EXPECT_EQ(index[e], c.order[e - 1]) << "entry " << e;
        }
    }
}
