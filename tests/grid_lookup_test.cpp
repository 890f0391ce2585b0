// Reading the finished grid at a point: bilinear weights, edges, blanks, the
// scaled mode and grids of one row.
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "kriging/Krigging.h"
#include "support/KriggingSetup.h"

namespace {

// A 5 x 4 grid with origin (100, 200), cells 10 x 20, node (c, r) = 10 c + r.
std::unique_ptr<TKrigging> SmallGrid() {
    auto k = std::make_unique<TKrigging>();
    k->n_cols = 5;
    k->n_rows = 4;
    k->x_min = 100.0;
    k->y_min = 200.0;
    k->dx = 10.0;
    k->dy = 20.0;
    k->AllocGrid();
    for (int c = 0; c < 5; ++c) {
        for (int r = 0; r < 4; ++r) {
            k->grid[c][r] = 10.0 * c + r;
        }
    }
    return k;
}

} // namespace

TEST(GridLookup, PlainBilinearValues) {
    // the grid is linear in c and r, so the bilinear value is exact everywhere,
    // extrapolation from the edge cells included
    struct Case {
        const char *name;
        double x, y, expected;
    };
    const Case cases[] = {
        {"on node (2, 3)", 120, 260, 23.0},
        {"middle of cell (1, 1)", 115, 230, 16.5},
        {"on the last column", 140, 230, 41.5},
        {"left of the grid", 95, 230, -3.5},
        {"below the grid", 115, 190, 14.5},
        {"above the last row", 115, 290, 19.5},
    };
    auto k = SmallGrid();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(k->ValueAt(c.x, c.y, false), c.expected);
    }
}

TEST(GridLookup, ValueComesFromTheCellHoldingThePoint) {
    // On a grid that is not linear (node (c, r) = c^2 + 10 r^2) only the cell
    // that holds the point, or the edge cell beyond the grid, gives these
    // values: bilinear in a cell is linear in c and r, so the value is
    // (c0^2 + (c - c0)(2 c0 + 1)) + 10 (r0^2 + (r - r0)(2 r0 + 1)).
    auto k = SmallGrid();
    for (int c = 0; c < 5; ++c) {
        for (int r = 0; r < 4; ++r) {
            k->grid[c][r] = c * c + 10.0 * r * r;
        }
    }
    struct Case {
        const char *name;
        double x, y, expected;
    };
    const Case cases[] = {
        {"cell (1, 0)", 117, 214, 3.1 + 7.0},
        {"cell (3, 2)", 133, 251, 11.1 + 67.5},
        {"beyond the last column: cell 3", 145, 200, 19.5},
        {"beyond the last row: cell 2", 100, 270, 115.0},
        {"before the first column and row", 95, 190, -0.5 - 5.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(k->ValueAt(c.x, c.y, false), c.expected, 1e-9);
    }
}

TEST(GridLookup, BlankCornerWithWeightMakesTheValueBlank) {
    // 2026-12-10, issue 2: a blank corner used to count as 0 and pull the value
    // to 0
    struct Case {
        const char *name;
        double x, y;
        bool blank;
        double expected;
    };
    // cell (1, 1): q00 = 4, q10 = node (2, 1) blank, q11 = 4, q01 = 4
    const Case cases[] = {
        {"middle of the cell: corners 4, blank, 4, 4", 115, 230, true, 0.0},
        {"on the blank node", 120, 220, true, 0.0},
        {"on the cell's left side: the blank corner has weight 0", 110, 230,
         false, 4.0},
        {"on the node beside the blank one", 110, 220, false, 4.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto k = SmallGrid();
        k->grid[2][1] = k->blank;
        k->grid[1][1] = k->grid[2][2] = k->grid[1][2] = 4.0;
        const double value = k->ValueAt(c.x, c.y, false);
        if (c.blank) {
            EXPECT_EQ(value, k->blank);
        } else {
            EXPECT_EQ(value,
                      c.expected); // exact: only corners of value 4 weigh
        }
    }
}

TEST(GridLookup, ScaledModeMatchesPlainMode) {
    auto k = SmallGrid();
    k->x_min = 512345.67;
    k->y_min = 5712345.89;
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> fx(-5.0, 55.0), fy(-10.0, 90.0);
    for (int n = 0; n < 200; ++n) {
        const double x = k->x_min + fx(rng), y = k->y_min + fy(rng);
        // coordinates near 5.7e6 lose about 1e-9 in the round trip through 3600
        EXPECT_NEAR(k->ValueAt(x, y, true), k->ValueAt(x, y, false), 1e-6);
    }
}

TEST(GridLookup, OneRowGridReadsAlongTheRow) {
    auto k = std::make_unique<TKrigging>();
    k->n_cols = 3;
    k->n_rows = 1;
    k->x_min = 0.0;
    k->y_min = 0.0;
    k->dx = k->dy = 100.0;
    k->AllocGrid();
    k->grid[0][0] = 2.0;
    k->grid[1][0] = 6.0;
    k->grid[2][0] = k->blank;
    for (bool scaled : {false, true}) {
        SCOPED_TRACE(scaled);
        EXPECT_DOUBLE_EQ(k->ValueAt(25.0, 40.0, scaled),
                         3.0); // (1 - u) q00 + u q10
        EXPECT_DOUBLE_EQ(k->ValueAt(100.0, -500.0, scaled), 6.0);
        EXPECT_EQ(k->ValueAt(150.0, 0.0, scaled), k->blank);
    }
}

TEST(GridLookup, OneRowGridFromARunIsReadable) {
    // y extent below one cell: one row of nodes
    Samples s;
    for (int n = 0; n < 12; ++n) {
        s.Add(100.0 * n, (n % 3) * 50.0, 5.0 + n % 4);
    }
    auto k = std::make_unique<TKrigging>();
    ASSERT_TRUE(
        RunMakeGrid(*k, s, KrigParams{.cell_x = 100.0, .cell_y = 200.0}));
    ASSERT_EQ(k->n_rows, 1);
    const double v = k->ValueAt(555.0, 70.0, false);
    EXPECT_GE(v, 5.0);
    EXPECT_LE(v, 8.0);
}
