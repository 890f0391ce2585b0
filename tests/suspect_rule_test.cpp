// The suspect rule: a blunder is marked and the good neighbours its error
// inflates are not; rough ground, clean surveys and stations that cannot be
// judged give no suspects; the robust scale.
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qc/SuspectRule.h"

namespace {

// A lattice of stations 100 m apart over a level field with a little reading
// noise, and a stand-in for the kriging: a station's estimate is the
// inverse-distance mean of the stations within 250 m, itself and any left out
// excluded. Its error spreads to its neighbours as a blunder's does.
class Lattice : public TReestimator {
  public:
    static constexpr int side = 20;
    static constexpr double spacing = 100.0;
    static constexpr double radius = 250.0;

    explicit Lattice(uint32_t seed = 1) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> noise(-0.05, 0.05);
        for (int i = 0; i < side * side; ++i) {
            values.push_back(10.0 + noise(random));
        }
    }
    static size_t At(int column, int row) {
        return static_cast<size_t>(row * side + column);
    }
    // Fills the stations from the values, with their leave-one-out
    // estimates.
    TQcStations Stations() const {
        TQcStations stations;
        for (size_t k = 0; k < values.size(); ++k) {
            QcStation s;
            s.x = spacing * static_cast<double>(k % side);
            s.y = spacing * static_cast<double>(k / side);
            s.value = values[k];
            s.estimate_all = s.value;
            s.estimate_without = Estimate(k, {});
            s.sigma = 1.0;
            s.reach = static_cast<float>(radius);
            s.status = QcStatus::Ok;
            stations.Add(s, "L" + std::to_string(k));
        }
        return stations;
    }
    double Estimate(size_t k, const std::vector<size_t> &out) const {
        const double x = spacing * static_cast<double>(k % side);
        const double y = spacing * static_cast<double>(k / side);
        double sum = 0.0, weights = 0.0;
        for (size_t j = 0; j < values.size(); ++j) {
            const double d =
                std::hypot(spacing * (j % side) - x, spacing * (j / side) - y);
            if (j == k || d > radius ||
                std::find(out.begin(), out.end(), j) != out.end()) {
                continue;
            }
            sum += values[j] / d;
            weights += 1.0 / d;
        }
        return weights > 0.0 ? sum / weights : qc_none;
    }
    double EstimateLeavingOut(size_t k,
                              const std::vector<size_t> &also_out) override {
        ++calls;
        return Estimate(k, also_out);
    }

    std::vector<double> values;
    int calls = 0;
};

std::set<size_t> Suspects(const TQcStations &stations) {
    std::set<size_t> marked;
    for (size_t k = 0; k < stations.Size(); ++k) {
        if (stations[k].suspect) {
            marked.insert(k);
        }
    }
    return marked;
}

} // namespace

TEST(SuspectRule, RobustScaleIsTheScaledMedianAbsoluteDeviation) {
    struct Case {
        const char *name;
        std::vector<double> values;
        double median, scale;
    };
    const Case cases[] = {
        {"odd count with an outlier", {1, 2, 3, 4, 100}, 3.0, 1.4826},
        {"even count", {1, 2, 4, 8}, 3.0, 1.4826 * 1.5},
        {"more than half equal", {5, 5, 5, 1, 9}, 5.0, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        double median = 0.0, scale = 0.0;
        RobustScale(c.values, median, scale);
        EXPECT_DOUBLE_EQ(median, c.median);
        EXPECT_DOUBLE_EQ(scale, c.scale);
    }
    double median = 0.0, scale = 0.0;
    RobustScale({}, median, scale);
    EXPECT_TRUE(std::isnan(median) && std::isnan(scale));
}

TEST(SuspectRule, BlunderIsMarkedAndTheNeighboursItInflatesAreNot) {
    for (const double blunder : {3.0, -2.5}) {
        SCOPED_TRACE(blunder);
        Lattice lattice;
        const size_t bad = Lattice::At(9, 10);
        lattice.values[bad] += blunder;
        TQcStations stations = lattice.Stations();
        // A naive threshold would take the ring for blunders too.
        const size_t beside = Lattice::At(10, 10);
        SuspectFindings findings =
            FindSuspects(stations, lattice, SuspectOptions{});
        EXPECT_GT(std::fabs(stations[beside].R2() - findings.median),
                  4.0 * findings.scale);
        EXPECT_EQ(Suspects(stations), std::set<size_t>{bad});
        EXPECT_EQ(findings.suspects, std::vector<size_t>{bad});
        // Judged without the blunder, the neighbour is ordinary again.
        EXPECT_LT(std::fabs(stations[beside].r2_clean - findings.median),
                  3.0 * findings.scale);
        EXPECT_GT(lattice.calls, 0);
    }
}

TEST(SuspectRule, TwoBlundersSideBySideAreBothMarked) {
    Lattice lattice;
    const size_t first = Lattice::At(5, 5), second = Lattice::At(6, 5);
    const size_t far = Lattice::At(15, 14);
    lattice.values[first] += 1.5;
    lattice.values[second] += 1.2;
    lattice.values[far] -= 1.0;
    TQcStations stations = lattice.Stations();
    FindSuspects(stations, lattice, SuspectOptions{});
    EXPECT_EQ(Suspects(stations), (std::set<size_t>{first, second, far}));
}

TEST(SuspectRule, CleanSurveysAndRoughGroundGiveNoSuspects) {
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        SCOPED_TRACE(seed);
        Lattice clean(seed);
        TQcStations stations = clean.Stations();
        FindSuspects(stations, clean, SuspectOptions{});
        EXPECT_TRUE(Suspects(stations).empty());
    }
    // Rough ground over a disc of the survey: estimates there miss by ten
    // times as much, station after station. Inside it, where a station's 24
    // nearest neighbours (within 2.8 spacings) are all on the same ground,
    // nothing stands out.
    Lattice rough;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> rougher(-0.5, 0.5);
    const auto depth = [](size_t k) {
        const double dx = static_cast<double>(k % Lattice::side) - 9.5;
        const double dy = static_cast<double>(k / Lattice::side) - 9.5;
        return 7.0 - std::hypot(dx, dy); // spacings inside the disc's edge
    };
    for (size_t k = 0; k < rough.values.size(); ++k) {
        if (depth(k) > 0.0) {
            rough.values[k] += rougher(random);
        }
    }
    TQcStations stations = rough.Stations();
    FindSuspects(stations, rough, SuspectOptions{});
    for (const size_t k : Suspects(stations)) {
        EXPECT_LT(depth(k), 3.0) << "station " << k;
    }
}

TEST(SuspectRule, StationsThatCannotBeJudgedAreNeverSuspects) {
    Lattice lattice;
    const size_t bad = Lattice::At(4, 4), duplicate = Lattice::At(12, 12),
                 skipped = Lattice::At(15, 3);
    for (const size_t k : {bad, duplicate, skipped}) {
        lattice.values[k] += 3.0;
    }
    TQcStations stations = lattice.Stations();
    stations[duplicate].status = QcStatus::Duplicate;
    stations[skipped].status = QcStatus::Skipped;
    stations[skipped].estimate_without = qc_none;
    FindSuspects(stations, lattice, SuspectOptions{});
    EXPECT_EQ(Suspects(stations), std::set<size_t>{bad});

    // Residuals without a spread: nothing to stand out from.
    TQcStations flat = lattice.Stations();
    for (size_t k = 0; k < flat.Size(); ++k) {
        flat[k].estimate_without = flat[k].value;
    }
    flat[bad].estimate_without = flat[bad].value + 5.0;
    const SuspectFindings findings =
        FindSuspects(flat, lattice, SuspectOptions{});
    EXPECT_EQ(findings.scale, 0.0);
    EXPECT_TRUE(Suspects(flat).empty());
}
