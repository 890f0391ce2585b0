// The station path of the gridder: estimating only the nodes the lookup reads
// gives the lookup of the whole grid bit for bit, refuses as the whole grid
// does, and raises a floating-point fault only from a node it reads.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kriging/Krigging.h"
#include "platform/FloatChecks.h"
#include "support/KriggingSetup.h"

namespace {

// Runs PrepareGrid with the samples and parameters.
bool RunPrepareGrid(TKrigging &k, const Samples &s, const KrigParams &p) {
    return k.PrepareGrid(s.x.data(), s.y.data(), s.z.data(), s.Count(), p.log_z,
                         p.search_mode, p.max_points, p.search_radius,
                         p.drift_order, p.nugget, p.sill, p.range, p.cell_x,
                         p.cell_y, p.aniso_angle, p.aniso_ratio);
}

// What one path made of a window: refused, failed with a float fault, or the
// bit patterns of the values read at the probe points.
struct Outcome {
    bool accepted = false;
    bool faulted = false;
    std::vector<uint64_t> values;
};

Outcome WholeGrid(const Samples &s, const KrigParams &p,
                  const std::vector<PlanePoint> &probes) {
    Outcome out;
    auto k = std::make_unique<TKrigging>();
    try {
        out.accepted = RunMakeGrid(*k, s, p);
    } catch (const FloatingPointError &) {
        out.accepted = out.faulted = true;
        return out;
    }
    if (out.accepted) {
        for (const PlanePoint &q : probes) {
            out.values.push_back(
                std::bit_cast<uint64_t>(k->ValueAt(q.x, q.y, false)));
        }
    }
    return out;
}

// One gridder per probe, as the station estimation uses it.
Outcome StationPath(const Samples &s, const KrigParams &p,
                    const std::vector<PlanePoint> &probes) {
    Outcome out;
    for (const PlanePoint &q : probes) {
        auto k = std::make_unique<TKrigging>();
        try {
            out.accepted = RunPrepareGrid(*k, s, p);
            if (!out.accepted) {
                return out;
            }
            out.values.push_back(
                std::bit_cast<uint64_t>(k->ValueAtStation(q.x, q.y)));
        } catch (const FloatingPointError &) {
            out.accepted = out.faulted = true;
            return out;
        }
    }
    return out;
}

} // namespace

TEST(StationPath, RandomWindowsReadTheSameValuesAsTheWholeGrid) {
    // Each seed: 5 to 60 samples over a random extent (some sharing a cell,
    // some on one y), a cell size, and probes at the samples, at the grid's
    // first and last nodes, beyond its last row and outside the data. The
    // values compare as bit patterns, so blanks compare too.
    const double cell_sizes[] = {25.0, 50.0, 100.0, 200.0, 333.3};
    MessageCapture messages; // refusals of too large grids stay quiet
    int accepted = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        KrigParams p;
        p.cell_x = p.cell_y = cell_sizes[seed % 5];
        // extent of at most about 40 cells, so the whole grid stays quick
        const double extent = p.cell_x * (2.0 + 38.0 * unit(random));
        const int32_t count = 5 + static_cast<int32_t>(random() % 56);
        const double radii[] = {0.0, 2500.0, 3.0 * p.cell_x};
        p.search_radius = radii[seed % 3];
        const int32_t max_points[] = {16, 0, 5, 32};
        p.max_points = max_points[seed % 4];
        p.search_mode = seed % 7 == 0 ? 1 : 0;
        p.drift_order = seed % 11 == 0 ? 1 : 0;

        Samples s;
        const double x0 = 500000.0, y0 = 5500000.0;
        for (int32_t i = 0; i < count; ++i) {
            const double x =
                std::round((x0 + extent * unit(random)) * 100.0) / 100.0;
            const double y =
                seed % 50 == 0
                    ? y0
                    : std::round((y0 + extent * unit(random)) * 100.0) / 100.0;
            s.Add(x, y,
                  10.0 * std::sin(x / 700.0) + (y - y0) * 1e-3 + unit(random));
        }
        if (seed % 5 == 0) {
            s.Add(s.x[0] + 1.0, s.y[0], 3.0); // shares the first sample's cell
        }

        std::vector<PlanePoint> probes;
        for (int32_t i = 0; i < s.Count(); ++i) {
            probes.push_back({s.x[i], s.y[i]});
        }
        const auto [x_lo, x_hi] = std::minmax_element(s.x.begin(), s.x.end());
        const auto [y_lo, y_hi] = std::minmax_element(s.y.begin(), s.y.end());
        probes.push_back({*x_lo - p.cell_x, *y_lo}); // first node
        probes.push_back(
            {*x_hi + p.cell_x, *y_hi}); // last column, above the last row
        probes.push_back({*x_lo - 5.0 * p.cell_x,
                          *y_lo - 3.0 * p.cell_y}); // outside, below left
        probes.push_back({*x_hi + 4.0 * p.cell_x,
                          *y_hi + 2.5 * p.cell_y}); // outside, above right
        probes.push_back(
            {*x_lo + 0.5 * (*x_hi - *x_lo), *y_lo + 0.5 * (*y_hi - *y_lo)});

        const Outcome whole = WholeGrid(s, p, probes);
        const Outcome station = StationPath(s, p, probes);
        EXPECT_EQ(station.accepted, whole.accepted);
        // A fault in a node the lookup reads is a fault of the whole grid too.
        if (station.faulted) {
            EXPECT_TRUE(whole.faulted);
        }
        if (!whole.faulted && !station.faulted) {
            EXPECT_EQ(station.values, whole.values);
        }
        accepted += whole.accepted && !whole.faulted;
    }
    // the seeds must mostly reach the comparison, not only the refusals
    EXPECT_GT(accepted, 250);
}

TEST(StationPath, RefusesAsTheWholeGridDoes) {
    struct Case {
        const char *name;
        double cell, y_spread;
        const char *message; // nullptr: refused silently
    };
    const Case cases[] = {
        {"cell size below 0.001", 0.0005, 100.0, "Cell size must be defined."},
        {"more than 1024 columns", 1.0, 100.0,
         "Number of grid points exceeded 1024 in X-direction."},
        {"all samples on one y", 200.0, 0.0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Samples s;
        s.Add(0.0, 0.0, 1.0);
        s.Add(2000.0, c.y_spread, 2.0);
        s.Add(1000.0, 0.5 * c.y_spread, 3.0);
        KrigParams p;
        p.cell_x = p.cell_y = c.cell;
        MessageCapture messages;
        auto k = std::make_unique<TKrigging>();
        EXPECT_FALSE(RunPrepareGrid(*k, s, p));
        EXPECT_EQ(k->cell_index, nullptr);
        EXPECT_EQ(k->sample_x, nullptr);
        if (c.message == nullptr) {
            EXPECT_TRUE(messages.shown.empty());
        } else {
            ASSERT_EQ(messages.shown.size(), 1u);
            EXPECT_EQ(messages.shown[0], c.message);
        }
    }
}

TEST(StationPath, OnlyAFaultInANodeThatIsReadEndsTheRun) {
    // A negative anisotropy ratio makes the distance of a sample straight
    // above or below a node the root of a negative number. With a search of
    // one cell, node (11, 5) sees the sample of node (11, 4) that way and
    // faults; the nodes around (500, 800) see no sample at all.
    Samples s;
    s.Add(0.0, 0.0, 1.0);
    s.Add(0.0, 1000.0, 2.0);
    s.Add(1000.0, 400.0, 3.0);
    s.Add(1000.0, 500.0, 4.0);
    KrigParams p;
    p.cell_x = p.cell_y = 100.0;
    p.search_radius = 100.0;
    p.sill = 1.0;
    p.range = 500.0;
    p.aniso_ratio = -1.0;

    auto whole = std::make_unique<TKrigging>();
    EXPECT_THROW(RunMakeGrid(*whole, s, p), FloatingPointError);

    auto away = std::make_unique<TKrigging>();
    ASSERT_TRUE(RunPrepareGrid(*away, s, p));
    EXPECT_EQ(away->ValueAtStation(500.0, 800.0), away->blank);

    auto beside = std::make_unique<TKrigging>();
    ASSERT_TRUE(RunPrepareGrid(*beside, s, p));
    EXPECT_THROW(beside->ValueAtStation(1000.0, 450.0), FloatingPointError);
}

namespace {

// What a prepared station path gives: refused or not, the fitted model, and
// the values read at the probes, as bit patterns (a fault: `faulted`).
struct Prepared {
    bool accepted = false;
    bool faulted = false;
    uint64_t nugget = 0, sill = 0, range = 0;
    std::vector<uint64_t> values;
};

Prepared ReadPrepared(TKrigging &k, bool accepted,
                      const std::vector<PlanePoint> &probes) {
    Prepared out;
    out.accepted = accepted;
    if (!accepted) {
        return out;
    }
    out.nugget = std::bit_cast<uint64_t>(k.nugget);
    out.sill = std::bit_cast<uint64_t>(k.sill);
    out.range = std::bit_cast<uint64_t>(k.range);
    try {
        for (const PlanePoint &q : probes) {
            out.values.push_back(
                std::bit_cast<uint64_t>(k.ValueAtStation(q.x, q.y)));
        }
    } catch (const FloatingPointError &) {
        out.faulted = true;
    }
    return out;
}

bool SamePrepared(const Prepared &a, const Prepared &b) {
    return a.accepted == b.accepted && a.faulted == b.faulted &&
           a.nugget == b.nugget && a.sill == b.sill && a.range == b.range &&
           a.values == b.values;
}

} // namespace

TEST(StationPath, LeavingOneOutPreparesAsTheSamplesWithoutIt) {
    // Every sample of each window is left out in turn, and the gridder that
    // prepared the whole window must then give what a fresh one prepared
    // with the other samples gives: the same refusal, model and values. The
    // windows include samples sharing a cell with the one left out (before
    // and after it), samples alone on their row or column, the extremes that
    // move the grid, a given model, and both kinds of coordinates.
    struct Case {
        const char *name;
        double origin, cell, sill, range;
        int32_t count;
        bool twins;
    };
    const Case cases[] = {
        {"projected, fitted", 500000.0, 200.0, 0.0, 0.0, 40, false},
        {"projected, cells shared", 500000.0, 200.0, 0.0, 0.0, 40, true},
        {"near the origin", -700.0, 100.0, 0.0, 0.0, 30, true},
        {"given model", 500000.0, 200.0, 2.0, 900.0, 25, false},
        {"few samples", 500000.0, 150.0, 0.0, 0.0, 6, true},
    };
    MessageCapture messages;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (uint32_t seed = 1; seed <= 12; ++seed) {
            SCOPED_TRACE("seed " + std::to_string(seed));
            std::mt19937 random(seed);
            std::uniform_real_distribution<double> unit(0.0, 1.0);
            Samples s;
            const double extent = c.cell * (4.0 + 20.0 * unit(random));
            for (int32_t i = 0; i < c.count; ++i) {
                const double x =
                    c.origin +
                    std::round(extent * unit(random) * 100.0) / 100.0;
                const double y =
                    c.origin +
                    std::round(extent * unit(random) * 100.0) / 100.0;
                s.Add(x, y, 5.0 * std::sin(x / 300.0) + unit(random));
                if (c.twins && i % 4 == 1) {
                    s.Add(x + 0.25 * c.cell, y - 0.2 * c.cell, unit(random));
                }
            }
            KrigParams p;
            p.cell_x = p.cell_y = c.cell;
            p.sill = c.sill;
            p.range = c.range;
            std::vector<PlanePoint> probes;
            for (int32_t i = 0; i < s.Count(); i += 3) {
                probes.push_back({s.x[i], s.y[i]});
            }
            TKrigging shared;
            for (int32_t left = 0; left < s.Count(); ++left) {
                SCOPED_TRACE("left out " + std::to_string(left));
                Samples rest;
                for (int32_t i = 0; i < s.Count(); ++i) {
                    if (i != left) {
                        rest.Add(s.x[i], s.y[i], s.z[i]);
                    }
                }
                TKrigging fresh;
                const Prepared expected =
                    ReadPrepared(fresh, RunPrepareGrid(fresh, rest, p), probes);
                // The whole window first, as the station estimation does.
                RunPrepareGrid(shared, s, p);
                const Prepared got = ReadPrepared(
                    shared, shared.PrepareGridLeavingOut(left), probes);
                EXPECT_TRUE(SamePrepared(got, expected));
            }
        }
    }
}

TEST(StationPath, LeavingOneOutNeedsTheSamplesOfAPreparation) {
    Samples s;
    for (int32_t i = 0; i < 8; ++i) {
        s.Add(1000.0 + 130.0 * i, 2000.0 + 70.0 * (i % 3), i);
    }
    KrigParams p;
    struct Case {
        const char *name;
        bool prepare, make_grid;
        int32_t left_out;
        bool expected;
    };
    const Case cases[] = {
        {"no preparation", false, false, 0, false},
        {"after a whole grid", false, true, 0, false},
        {"index below the samples", true, false, -1, false},
        {"index past the samples", true, false, 8, false},
        {"last sample", true, false, 7, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TKrigging k;
        if (c.prepare) {
            ASSERT_TRUE(RunPrepareGrid(k, s, p));
        }
        if (c.make_grid) {
            ASSERT_TRUE(RunMakeGrid(k, s, p));
        }
        EXPECT_EQ(k.PrepareGridLeavingOut(c.left_out), c.expected);
        if (!c.expected) {
            EXPECT_EQ(k.ValueAtStation(s.x[0], s.y[0]), k.blank);
        }
    }
}
