// The gridder's parameters: defaults, bounds and refusals of a run, and
// ownership.
#include <memory>

#include <gtest/gtest.h>

#include "kriging/Krigging.h"
#include "platform/FloatChecks.h"
#include "support/KriggingSetup.h"

namespace {

Samples ThreeSamples() {
    Samples s;
    s.Add(1000, 5000, 1.0);
    s.Add(2000, 5600, 2.0);
    s.Add(1600, 6000, 3.0);
    return s;
}

} // namespace

TEST(KrigingParams, MaxPointsIsDefaultedRaisedAndBounded) {
    struct Case {
        const char *name;
        int32_t max_points, drift_order, search_mode, expected;
    };
    const Case cases[] = {
        {"0 gives 8", 0, 0, 0, 8},
        {"0 with cubic drift gives 14", 0, 3, 0, 14},
        {"0 with cubic drift, octants", 0, 3, 1, 16},
        {"4 raised to 5", 4, 0, 0, 5},
        {"3 raised to 5", 3, 0, 0, 5},
        {"8 with quadratic drift gives 9", 8, 2, 0, 9},
        {"8 with quadratic drift, octants", 8, 2, 1, 16},
        {"40 bounded to 32", 40, 0, 0, 32},
        {"40 bounded to 32, octants", 40, 0, 1, 32},
        {"octants 1", 1, 0, 1, 8},
        {"octants 9", 9, 0, 1, 16},
        {"octants 17", 17, 0, 1, 24},
        {"octants 25", 25, 0, 1, 32},
        {"order 5 is not refused", 0, 5, 0, 30},
        // the square wraps in 32 bits: a negative threshold, max_points kept
        {"order 50000", 16, 50000, 0, 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TKrigging k;
        k.sample_count = 3;
        k.cell_x = k.cell_y = 200.0;
        k.max_points = c.max_points;
        k.drift_order = c.drift_order;
        k.search_mode = c.search_mode;
        ASSERT_TRUE(k.CheckParams());
        EXPECT_EQ(k.max_points, c.expected);
        EXPECT_EQ(k.min_points, static_cast<int32_t>(
                                    static_cast<uint32_t>(c.drift_order) *
                                        static_cast<uint32_t>(c.drift_order) +
                                    4u));
    }
}

TEST(KrigingParams, RadiusAndRatioDefaults) {
    struct Case {
        const char *name;
        double radius, ratio, expected_radius, expected_ratio;
    };
    const Case cases[] = {
        {"zeros take defaults", 0.0, 0.0, 1600.0, 1.0},
        {"given values stay", 900.0, 4.0, 900.0, 4.0},
        {"negative ratio stays", 900.0, -2.0, 900.0, -2.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TKrigging k;
        k.sample_count = 1;
        k.cell_x = 200.0;
        k.cell_y = 100.0;
        k.search_radius = c.radius;
        k.aniso_ratio = c.ratio;
        ASSERT_TRUE(k.CheckParams());
        EXPECT_EQ(k.search_radius, c.expected_radius); // exact: 8 * 200
        EXPECT_EQ(k.aniso_ratio, c.expected_ratio);
    }
}

TEST(KrigingParams, RefusalsAndTheirMessages) {
    struct Case {
        const char *name;
        int32_t count;
        double cell_x, cell_y;
        bool accepted;
        const char *message; // nullptr: nothing shown
    };
    const Case cases[] = {
        {"no samples", 0, 200.0, 200.0, false, nullptr},
        {"negative count", -3, 200.0, 200.0, false, nullptr},
        {"cell_y zero", 3, 200.0, 0.0, false, "Cell size must be defined."},
        {"cell_x just below 0.001", 3, 0.000999, 200.0, false,
         "Cell size must be defined."},
        {"cell_x exactly 0.001", 3, 0.001, 200.0, true, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MessageCapture messages;
        TKrigging k;
        k.sample_count = c.count;
        k.cell_x = c.cell_x;
        k.cell_y = c.cell_y;
        EXPECT_EQ(k.CheckParams(), c.accepted);
        if (c.message == nullptr) {
            EXPECT_TRUE(messages.shown.empty());
        } else {
            ASSERT_EQ(messages.shown.size(), 1u);
            EXPECT_EQ(messages.shown[0], c.message);
        }
    }
}

TEST(KrigingParams, RecordWithOnlyACellSizeTakesTheDefaults) {
    // A parameters record's zeros ask for the defaults.
    GridParams params;
    params.cell_x = params.cell_y = 200.0;
    const Samples s = ThreeSamples();
    auto k = std::make_unique<TKrigging>();
    ASSERT_TRUE(
        k->MakeGrid(s.x.data(), s.y.data(), s.z.data(), s.Count(), params));
    EXPECT_EQ(k->max_points, 8);
    EXPECT_EQ(k->search_radius, 1600.0); // exact: 8 cells of 200
    EXPECT_EQ(k->aniso_ratio, 1.0);
    EXPECT_EQ(k->aniso_angle, 0.0);
}

TEST(KrigingParams, RefusedRunLeavesNoGridAndNoCopies) {
    MessageCapture messages;
    auto k = std::make_unique<TKrigging>();
    const Samples s = ThreeSamples();
    KrigParams p;
    p.cell_y = 0.0;
    EXPECT_FALSE(RunMakeGrid(*k, s, p));
    EXPECT_EQ(k->grid, nullptr);
    EXPECT_EQ(k->sample_x, nullptr);
    EXPECT_EQ(k->cell_index, nullptr);
    EXPECT_EQ(k->n_cols, 0);
    EXPECT_EQ(k->blank, 1.70141e38);
}

TEST(KrigingParams, FaultInTheFitLeavesNoGrid) {
    // The grid is allocated before the variogram fit; values of +-1e300 in
    // one row overflow the fit's squared differences.
    Samples s;
    for (int k = 0; k < 6; ++k) {
        s.Add(200.0 * k, 100.0, k % 2 == 0 ? 1e300 : -1e300);
    }
    s.Add(0.0, 900.0, 0.0);
    auto k = std::make_unique<TKrigging>();
    EXPECT_THROW(RunMakeGrid(*k, s, KrigParams{}), FloatingPointError);
    EXPECT_EQ(k->grid, nullptr);
    EXPECT_EQ(k->sample_x, nullptr);
    EXPECT_EQ(k->ValueAt(400.0, 100.0, false), k->blank);
}

TEST(KrigingParams, SuccessfulRunKeepsOnlyTheGrid) {
    auto k = std::make_unique<TKrigging>();
    const Samples s = ThreeSamples();
    ASSERT_TRUE(RunMakeGrid(*k, s, KrigParams{}));
    EXPECT_NE(k->grid, nullptr);
    EXPECT_EQ(k->sample_x, nullptr);
    EXPECT_EQ(k->sample_y, nullptr);
    EXPECT_EQ(k->sample_z, nullptr);
    EXPECT_EQ(k->cell_index, nullptr);
}

TEST(KrigingParams, GivenModelIsNotFitted) {
    struct Case {
        const char *name;
        double nugget, sill, range;
    };
    const Case cases[] = {{"sill 0 with range", 0.5, 0.0, 500.0},
                          {"range 0 with sill", 0.5, 2.0, 0.0},
                          {"full model", 0.25, 3.0, 1500.0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto k = std::make_unique<TKrigging>();
        KrigParams p;
        p.nugget = c.nugget;
        p.sill = c.sill;
        p.range = c.range;
        ASSERT_TRUE(RunMakeGrid(*k, ThreeSamples(), p));
        EXPECT_EQ(k->nugget, c.nugget);
        EXPECT_EQ(k->sill, c.sill);
        EXPECT_EQ(k->range, c.range);
    }
}
