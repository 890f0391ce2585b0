// The diagnosis of suspects: each usual blunder is named with its fix, two
// fitting causes make a station ambiguous, heights against a DEM; and, on a
// real run, the height estimate shares the value's weights and the density
// check finds the density a survey was reduced with.
#include <cmath>
#include <iomanip>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qc/Diagnosis.h"
#include "support/FakeCalcHost.h"
#include "support/FieldRun.h"
#include "support/TempDir.h"

namespace {

constexpr double scale = 0.03; // the survey's robust scale of r2, mGal
const double gradient = HeightGradient(2.67);

// A survey of good stations whose leave-one-out estimates miss their values
// by a little reading noise, and whose kriged heights miss theirs by a few
// metres; suspects are added to it.
class Survey {
  public:
    Survey() {
        std::mt19937 random(11);
        std::uniform_real_distribution<double> noise(-1.0, 1.0);
        for (int k = 0; k < 300; ++k) {
            QcStation s;
            s.x = 100.0 * (k % 20);
            s.y = 100.0 * (k / 20);
            s.h = 500.0 + 80.0 * std::sin(s.x / 700.0);
            s.h_estimate = s.h + 3.0 * noise(random);
            s.value = 10.0 + std::cos(s.y / 500.0);
            s.estimate_without = s.value + scale * noise(random);
            s.estimate_all = s.value;
            s.r2_clean = s.R2();
            s.sigma = 0.05;
            s.status = QcStatus::Ok;
            stations.Add(s, "G" + std::to_string(k));
        }
        findings.median = 0.0;
        findings.scale = scale;
    }

    // A suspect whose value should be `truth` (its estimate) and was written
    // `text`; its height `h` where the ground is at `ground`.
    size_t AddSuspect(double truth, const std::string &text, double h = 500.0,
                      double ground = 500.0) {
        QcStation s;
        s.x = 5000.0 + 10.0 * static_cast<double>(stations.Size());
        s.y = 0.0;
        s.h = h;
        s.h_estimate = ground;
        s.value = std::stod(text);
        s.estimate_without = truth;
        s.estimate_all = truth;
        s.r2_clean = s.R2();
        s.sigma = 0.05;
        s.status = QcStatus::Ok;
        s.suspect = true;
        const size_t k = stations.Size();
        stations.Add(s, "S" + std::to_string(k));
        findings.suspects.push_back(k);
        findings.suspect_scales.push_back(scale);
        texts.push_back(text);
        return k;
    }

    Diagnosis Run(const std::vector<double> &dem = {}) const {
        DiagnosisOptions options;
        options.have_dem = !dem.empty();
        return Diagnose(stations, findings, duplicates, texts, dem, options);
    }

    TQcStations stations;
    SuspectFindings findings;
    DuplicateFindings duplicates;
    std::vector<std::string> texts;
};

struct CauseCase {
    const char *what;
    double truth;     // the value the station should have
    const char *text; // the value as written
    double h;         // the station's height and the ground's
    double ground;
    Cause cause;
    double fix_value; // NaN: none
};

TEST(Diagnosis, EachBlunderIsNamedWithTheValueThatFits) {
    // Reduced with a height 60 m too high: the anomaly is k 60 too high.
    const std::string reduced = std::to_string(12.345 + gradient * 60.0);
    const CauseCase cases[] = {
        {"lost sign", 12.345, "-12.345", 500, 500, Cause::Sign, 12.345},
        {"point moved right", 12.345, "123.45", 500, 500, Cause::Decimal,
         12.345},
        {"gravity units", 12.345, "1.2345", 500, 500, Cause::Decimal, 12.345},
        {"digits swapped", 12.345, "12.435", 500, 500, Cause::Digits, 12.345},
        {"height 60 m high", 12.345, reduced.c_str(), 560,
         500, Cause::Height, 12.345},
        {"nothing fits", 12.345, "17.2", 500, 500, Cause::Unexplained,
         qc_none},
        // 10.0 over ten and 01.0 read the same.
        {"two causes fit", 1.0, "10.0", 500, 500, Cause::Ambiguous, qc_none},
    };
    for (const CauseCase &c : cases) {
        SCOPED_TRACE(c.what);
        Survey survey;
        const size_t k = survey.AddSuspect(c.truth, c.text, c.h, c.ground);
        const Diagnosis diagnosis = survey.Run();
        const StationDiagnosis *found = diagnosis.Of(k);
        ASSERT_NE(found, nullptr);
        EXPECT_STREQ(CauseName(found->cause), CauseName(c.cause));
        if (std::isnan(c.fix_value)) {
            EXPECT_TRUE(std::isnan(found->fix_value));
        } else {
            EXPECT_NEAR(found->fix_value, c.fix_value, 1e-3);
            EXPECT_NEAR(found->r2_fixed, c.truth - found->fix_value, 1e-12);
        }
        if (c.cause == Cause::Height) {
            EXPECT_NEAR(found->fix_h, c.ground, 1e-9);
        }
        if (c.cause == Cause::Ambiguous) {
            EXPECT_EQ(found->fitting, "decimal digits");
        }
        EXPECT_EQ(diagnosis.Count(c.cause), 1);
    }
}

TEST(Diagnosis, ARepeatedStationThatDisagreesIsADuplicate) {
    Survey survey;
    const size_t k = survey.AddSuspect(12.345, "15.1");
    QcStation twin = survey.stations[k];
    twin.value = 12.35;
    twin.suspect = false;
    const size_t other = survey.stations.Size();
    survey.stations.Add(twin, "TWIN");
    survey.duplicates.positions.push_back({{k, other}});
    const Diagnosis diagnosis = survey.Run();
    const StationDiagnosis *found = diagnosis.Of(k);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->cause, Cause::Duplicate);
    EXPECT_DOUBLE_EQ(found->fix_value, 12.35);
}

TEST(Diagnosis, HeightsAgainstADem) {
    Survey survey;
    // Reduced with a height 50 m too high; the DEM knows the ground.
    const size_t wrong = survey.AddSuspect(
        8.0, std::to_string(8.0 + gradient * 50.0), 550.0, 550.0);
    // A height 40 m off whose value was reduced right: not a suspect.
    const size_t height_only = 7;
    survey.stations[height_only].h += 40.0;
    std::vector<double> dem(survey.stations.Size());
    for (size_t k = 0; k < dem.size(); ++k) {
        dem[k] = survey.stations[k].h + (k % 3 == 0 ? 4.0 : -3.0);
    }
    dem[wrong] = 500.0;
    dem[height_only] = survey.stations[height_only].h - 40.0;
    const Diagnosis diagnosis = survey.Run(dem);

    const StationDiagnosis *found = diagnosis.Of(wrong);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->cause, Cause::Height);
    EXPECT_DOUBLE_EQ(found->fix_h, 500.0);
    EXPECT_NEAR(found->fix_value, 8.0, 1e-6);
    const StationDiagnosis *only = diagnosis.Of(height_only);
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(only->cause, Cause::HeightOnly);
    EXPECT_EQ(diagnosis.Count(Cause::HeightOnly), 1);
}

TEST(Diagnosis, StationsLetGoAsRoughGroundSayWhy) {
    Survey survey;
    survey.findings.rough_ground.push_back({12, 0.4});
    const Diagnosis diagnosis = survey.Run();
    const StationDiagnosis *found = diagnosis.Of(12);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->cause, Cause::RoughGround);
    EXPECT_DOUBLE_EQ(found->scale, 0.4);
}

TEST(Diagnosis, SwappedDigitsComeFromTheTextAsWritten) {
    EXPECT_EQ(SwappedDigitValues("12.40", '.'),
              (std::vector<double>{21.40, 12.04}));
    EXPECT_EQ(SwappedDigitValues("-3,25", ','), (std::vector<double>{-3.52}));
    EXPECT_TRUE(SwappedDigitValues("7", '.').empty());
}

TEST(Diagnosis, ZIsCalibratedOnTheGoodStations) {
    Survey survey;
    // The good stations' z run evenly from 0 to 3: the 95th percentile of
    // |z| is 2.85.
    for (size_t k = 0; k < survey.stations.Size(); ++k) {
        QcStation &s = survey.stations[k];
        s.estimate_without = s.value + 0.05 * 3.0 * static_cast<double>(k) /
                                           static_cast<double>(
                                               survey.stations.Size() - 1);
    }
    EXPECT_NEAR(survey.Run().z_calibration, 2.85 / 1.96, 0.01);
}

// A lattice 200 m apart over a rough topography, its anomaly reduced with
// 2.67 while the ground is `ground` g/cm3: every value carries
// 0.04193 (ground - 2.67) h. `height_as_value`: the value column holds the
// height.
std::string RoughSurvey(double ground, bool height_as_value) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(3);
    std::mt19937 random(5);
    std::normal_distribution<double> relief(0.0, 60.0);
    for (int k = 0; k < 400; ++k) {
        const double x = 200.0 * (k % 20), y = 200.0 * (k / 20);
        const double h = 1000.0 + 0.05 * x + relief(random);
        const double regional = 5.0 * std::sin(x / 2000.0) + 0.001 * y;
        const double value =
            height_as_value ? h
                            : regional + slab_gradient * (ground - 2.67) * h;
        text << 500000.0 + x << ' ' << 6000000.0 + y << " R" << k << ' ' << h
             << ' ' << value << '\n';
    }
    return text.str();
}

RunOutcome RunRough(TempDir &dir, const std::string &survey) {
    FakeCalcHost host;
    host.fields[CalcField::Data] = dir.Write("rough.dat", survey);
    host.fields[CalcField::Output] = dir.File("rough_res.dat");
    host.fields[CalcField::SearchDistance] = "1000";
    host.fields[CalcField::Increment] = "500";
    host.fields[CalcField::CellSize] = "100";
    return RunFields(host);
}

TEST(Diagnosis, TheHeightEstimateUsesTheValuesWeights) {
    TempDir dir;
    const RunOutcome outcome = RunRough(dir, RoughSurvey(2.67, true));
    ASSERT_EQ(outcome.result, CalcResult::Completed);
    const TQcStations &stations = outcome.qc.stations;
    int compared = 0;
    for (size_t k = 0; k < stations.Size(); ++k) {
        if (stations[k].Judged()) {
            EXPECT_NEAR(stations[k].h_estimate, stations[k].estimate_without,
                        1e-6)
                << stations.Name(k);
            ++compared;
        }
    }
    EXPECT_GT(compared, 300);
}

TEST(Diagnosis, TheDensityCheckFindsTheGroundsDensity) {
    TempDir dir;
    for (const double ground : {2.2, 2.67, 3.0}) {
        SCOPED_TRACE(ground);
        const RunOutcome outcome = RunRough(dir, RoughSurvey(ground, false));
        ASSERT_EQ(outcome.result, CalcResult::Completed);
        const DensityCheck &check = outcome.qc.diagnosis.density;
        ASSERT_TRUE(check.done) << check.skipped_because;
        EXPECT_NEAR(check.density, ground, 0.1);
        EXPECT_GT(check.stations, 300);
        EXPECT_EQ(check.differs, ground != 2.67);
    }
}

TEST(Diagnosis, TheDensityCheckIsSkippedOnLevelGround) {
    TQcStations stations;
    for (int k = 0; k < 50; ++k) {
        QcStation s;
        s.h = 350.0;
        s.h_estimate = 350.0;
        s.value = 1.0;
        s.estimate_without = 1.0 + 0.01 * (k % 5);
        s.status = QcStatus::Ok;
        stations.Add(s, "L" + std::to_string(k));
    }
    const DensityCheck check = CheckDensity(stations, 2.67);
    EXPECT_FALSE(check.done);
    EXPECT_FALSE(check.skipped_because.empty());
}

} // namespace
