// Automatic fit of the spherical model from pairs along grid rows and columns.
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
