// The JSON summary of a run, parsed back: the parameters, counts and r2 as
// the run found them, a planted blunder with its cause and fix, unknown
// values as null.
#include <cmath>
#include <iomanip>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "summary/RunSummary.h"
#include "support/FakeCalcHost.h"
#include "support/FieldRun.h"
#include "support/TempDir.h"

namespace {

// A lattice 100 m apart over a smooth field; station P57's sign is lost.
std::string Survey() {
    std::ostringstream text;
    text << std::fixed << std::setprecision(3);
    for (int k = 0; k < 225; ++k) {
        const double x = 100.0 * (k % 15), y = 100.0 * (k / 15);
        double value = 20.0 + 2.0 * std::sin(x / 600.0) + 0.001 * y;
        if (k == 57) {
            value = -value;
        }
        text << 500000.0 + x << ' ' << 6000000.0 + y
             << " P" << k << " 350 " << value << '\n';
    }
    return text.str();
}

TEST(RunSummary, ParsedBackItHoldsWhatTheRunFound) {
    TempDir dir;
    FakeCalcHost host;
    host.fields[CalcField::Data] = dir.Write("survey.dat", Survey());
    host.fields[CalcField::Output] = dir.File("survey_res.dat");
    host.fields[CalcField::SearchDistance] = "500";
    host.fields[CalcField::Increment] = "250";
    host.fields[CalcField::CellSize] = "50";
    RunSettings settings;
    settings.qc.density = 2.4;
    const RunOutcome outcome = RunFields(host, settings);
    ASSERT_EQ(outcome.result, CalcResult::Completed);
    ParseFields(host, settings);

    SummaryContext context;
    context.program = "korvanel-batch";
    context.version = "9.9";
    context.station_file = host.fields[CalcField::Data];
    context.result = host.fields[CalcField::Output];
    context.table = outcome.qc.table_path;
    const nlohmann::json summary =
        nlohmann::json::parse(RunSummaryJson(outcome, settings, context));

    EXPECT_EQ(summary["tool"]["version"], "9.9");
    EXPECT_EQ(summary["parameters"]["search_distance"], 500.0);
    EXPECT_EQ(summary["parameters"]["density"], 2.4);
    EXPECT_TRUE(summary["parameters"]["dem"].is_null());
    EXPECT_EQ(summary["run"]["ended"], "completed");
    EXPECT_EQ(summary["counts"]["stations"], 225);
    EXPECT_EQ(summary["counts"]["suspects"], outcome.figures.suspects);
    EXPECT_DOUBLE_EQ(summary["r2"]["rms"].get<double>(),
                     outcome.figures.RmsR2());
    EXPECT_DOUBLE_EQ(summary["r2"]["robust_scale"].get<double>(),
                     outcome.figures.scale);
    EXPECT_EQ(summary["causes"]["sign"], 1);

    const nlohmann::json &worst = summary["suspects"].at(0);
    EXPECT_EQ(worst["point"], "P57");
    EXPECT_EQ(worst["cause"], "sign");
    EXPECT_NEAR(worst["fix_value"].get<double>(),
                -worst["value"].get<double>(), 1e-9);
    EXPECT_TRUE(worst["h_dem"].is_null());
    EXPECT_TRUE(summary["density_check"].contains("skipped_because"));
    EXPECT_EQ(summary["files"]["result"], context.result);
    EXPECT_TRUE(summary["files"]["gpkg"].is_null());
    EXPECT_TRUE(summary["vertical_datum"].is_null());
}

} // namespace
