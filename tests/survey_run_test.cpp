// Surveys in a run: the ring of edge stations of a shifted survey is not
// reported as suspects once its offset is flagged, the result file stays
// what it was, and the companion table ends with the survey columns.
#include <cmath>
#include <iomanip>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/CalcRun.h"
#include "app/SurveyReport.h"
#include "summary/RunSummary.h"
#include "support/FakeCalcHost.h"
#include "support/FieldRun.h"
#include "support/TempDir.h"

namespace {

// 24 x 24 stations 250 m apart on a smooth field with 0.05 mGal of noise
// (fixed seed); the eastern half is survey E (names E1...), the western W,
// and E is raised by `shift` mGal.
std::string TwoSurveys(double shift) {
    std::mt19937 random(22);
    std::normal_distribution<double> noise(0.0, 0.05);
    std::ostringstream text;
    text << std::fixed << std::setprecision(3);
    for (int c = 0; c < 24; ++c) {
        for (int r = 0; r < 24; ++r) {
            const double x = 400000.0 + 250.0 * c, y = 7100000.0 + 250.0 * r;
            const bool east = c >= 12;
            text << x << ' ' << y << ' ' << (east ? 'E' : 'W') << c * 24 + r
                 << " 100 "
                 << 3.0 * std::sin(x / 3000.0) + 2.0 * std::cos(y / 2500.0) +
                        noise(random) + (east ? shift : 0.0)
                 << '\n';
        }
    }
    return text.str();
}

struct SurveyRun {
    RunOutcome outcome;
    std::string result, table;
};

SurveyRun RunStations(const std::string &stations, bool by_name,
              const std::string &reference = {}) {
    TempDir dir;
    FakeCalcHost host;
    host.fields[CalcField::Data] = dir.Write("survey.dat", stations);
    host.fields[CalcField::Output] = dir.File("survey_res.dat");
    host.fields[CalcField::SearchDistance] = "1500";
    host.fields[CalcField::Increment] = "500";
    host.fields[CalcField::MinPoints] = "12";
    host.fields[CalcField::CellSize] = "100";
    RunSettings settings;
    if (by_name) {
        settings.qc.survey_namer = ParseSurveyNamer("auto").namer;
        settings.qc.surveys.reference = reference;
    }
    SurveyRun run;
    run.outcome = RunFields(host, settings);
    run.result = TempDir::Read(dir.File("survey_res.dat"));
    run.table = TempDir::Read(dir.File("survey_res.csv"));
    return run;
}

int64_t Suspects(const RunOutcome &outcome) {
    return static_cast<int64_t>(outcome.qc.suspects.suspects.size());
}

} // namespace

TEST(SurveyRun, EdgeRingOfAShiftedSurveyIsNoLongerSuspect) {
    const std::string stations = TwoSurveys(5.0);
    const SurveyRun plain = RunStations(stations, false);
    const SurveyRun levelled = RunStations(stations, true);
    const SurveyRun unshifted = RunStations(TwoSurveys(0.0), false);
    ASSERT_EQ(levelled.outcome.result, CalcResult::Completed);
    // The step of 5 mGal makes suspects of the stations along the seam.
    ASSERT_GT(Suspects(plain.outcome), 5);
    const QcFindings &qc = levelled.outcome.qc;
    ASSERT_EQ(qc.offsets.refusal, SurveyRefusal::None);
    const SurveyOffset &east = qc.offsets.surveys[*FindSurvey(qc.grouping, "E")];
    EXPECT_TRUE(east.shifted);
    EXPECT_NEAR(east.offset, 5.0, 0.15);
    // The suspects are those of the survey before the shift was planted.
    EXPECT_EQ(Suspects(levelled.outcome), Suspects(unshifted.outcome));
    EXPECT_EQ(qc.suspects_levelled,
              Suspects(plain.outcome) - Suspects(unshifted.outcome));
    EXPECT_GT(qc.estimated_again, 0);
    // The result file is the same byte for byte; so are the records' values.
    EXPECT_EQ(levelled.result, plain.result);
    for (size_t k = 0; k < qc.stations.Size(); ++k) {
        // exactly: the records changed for the judgement are given back
        EXPECT_EQ(qc.stations[k].value, plain.outcome.qc.stations[k].value);
        EXPECT_EQ(qc.stations[k].estimate_without,
                  plain.outcome.qc.stations[k].estimate_without);
    }
}

TEST(SurveyRun, NothingShiftedChangesNoSuspect) {
    const std::string stations = TwoSurveys(0.0);
    const SurveyRun plain = RunStations(stations, false);
    const SurveyRun grouped = RunStations(stations, true);
    const QcFindings &qc = grouped.outcome.qc;
    for (const SurveyOffset &s : qc.offsets.surveys) {
        EXPECT_FALSE(s.shifted);
    }
    EXPECT_EQ(Suspects(grouped.outcome), Suspects(plain.outcome));
    EXPECT_EQ(qc.estimated_again, 0);
    EXPECT_EQ(grouped.result, plain.result);
}

TEST(SurveyRun, CompanionTableEndsWithTheSurveyColumns) {
    const SurveyRun run = RunStations(TwoSurveys(5.0), true);
    const std::string header = run.table.substr(0, run.table.find("\r\n"));
    const std::string tail = ",r2_fixed,survey,survey_offset";
    ASSERT_GE(header.size(), tail.size());
    EXPECT_EQ(header.substr(header.size() - tail.size()), tail);
    // A station of E: its survey and the offset, with a point.
    const size_t row = run.table.find("\nE300,");
    ASSERT_NE(row, std::string::npos);
    const std::string line =
        run.table.substr(row + 1, run.table.find("\r\n", row + 1) - row - 1);
    EXPECT_NE(line.find(",E,5."), std::string::npos) << line;
    // Without surveys the table keeps its columns.
    const SurveyRun plain = RunStations(TwoSurveys(5.0), false);
    EXPECT_EQ(plain.table.find(",survey"), std::string::npos);
}

TEST(SurveyRun, JsonSummaryListsEverySurveyAtItsEnd) {
    const SurveyRun grouped = RunStations(TwoSurveys(5.0), true);
    RunSettings settings;
    // Parsed in the order written: the surveys come last.
    const nlohmann::ordered_json summary = nlohmann::ordered_json::parse(
        RunSummaryJson(grouped.outcome, settings, SummaryContext{}));
    std::string last;
    for (const auto &item : summary.items()) {
        last = item.key();
    }
    EXPECT_EQ(last, "surveys");
    const nlohmann::ordered_json &surveys = summary["surveys"];
    EXPECT_TRUE(surveys["estimated"].get<bool>());
    ASSERT_EQ(surveys["list"].size(), 2u);
    const nlohmann::ordered_json &east = surveys["list"][1];
    EXPECT_EQ(east["name"], "E");
    EXPECT_TRUE(east["shifted"].get<bool>());
    EXPECT_NEAR(east["offset"].get<double>(), 5.0, 0.15);
    EXPECT_EQ(surveys["suspects_removed_by_levelling"],
              grouped.outcome.qc.suspects_levelled);
    // Without surveys the key is there, and null.
    const SurveyRun plain = RunStations(TwoSurveys(5.0), false);
    EXPECT_TRUE(nlohmann::json::parse(RunSummaryJson(plain.outcome, settings,
                                                     SummaryContext{}))["surveys"]
                    .is_null());
}

TEST(SurveyRun, UsageProblemsAreSaidOnce) {
    struct Case {
        const char *name;
        std::string pattern, reference, expected;
    };
    const Case cases[] = {
        {"pattern matches no name", "^Q", "",
         "--survey-from-name: the pattern matches no station's name"},
        {"reference is no survey", "auto", "NORTH",
         "--reference-survey: no survey is named 'NORTH'"},
        {"reference is a survey", "auto", "W", ""},
    };
    const std::string stations = TwoSurveys(0.0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        FakeCalcHost host;
        host.fields[CalcField::Data] = dir.Write("survey.dat", stations);
        host.fields[CalcField::Output] = dir.File("survey_res.dat");
        RunSettings settings;
        settings.qc.survey_namer = ParseSurveyNamer(c.pattern).namer;
        settings.qc.surveys.reference = c.reference;
        const RunOutcome outcome = RunFields(host, settings);
        EXPECT_EQ(SurveyUsageProblem(outcome.qc, settings.qc), c.expected);
    }
}
