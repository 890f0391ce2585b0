// The review: the review file read and written back, its bad rows named by
// line; decisions applied to the stations a run reads (rejected out, fixes
// used, stale ones applied to nothing); the cleaned survey as the station
// file wrote it; and a cleaned survey run again gives the reviewed run's
// result.
#include <cmath>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "review/CleanSurvey.h"
#include "review/ReviewFile.h"
#include "review/ReviewedInput.h"
#include "support/FakeCalcHost.h"
#include "support/FieldRun.h"
#include "support/TempDir.h"

namespace {

TEST(ReviewFile, RowsReadBackAsWritten) {
    ReviewRow reject;
    reject.id = "P \"7\", north";
    reject.x = 500100.25;
    reject.y = 6000200.5;
    reject.decision = Decision::Reject;
    reject.note = "reading\nnot trusted";
    ReviewRow fix = reject;
    fix.id = "Köln";
    fix.decision = Decision::Fix;
    fix.value = -12.345;
    fix.h = 512.5;
    fix.note.clear();
    ReviewRow level;
    level.scope = ReviewScope::Survey;
    level.id = "U7_LN";
    level.decision = Decision::Level;
    level.value = 1.5;
    const ReviewFile read = ParseReviewText(ReviewText({reject, fix, level}));
    ASSERT_TRUE(read.problems.empty()) << read.problems[0].message;
    ASSERT_EQ(read.rows.size(), 3u);
    EXPECT_EQ(read.rows[0].id, reject.id);
    EXPECT_EQ(read.rows[0].note, reject.note);
    EXPECT_EQ(read.rows[0].x, reject.x);
    EXPECT_EQ(read.rows[1].id, "Köln");
    EXPECT_EQ(read.rows[1].value, -12.345);
    EXPECT_EQ(read.rows[1].h, 512.5);
    EXPECT_EQ(read.rows[2].scope, ReviewScope::Survey);
    EXPECT_EQ(read.rows[2].decision, Decision::Level);
    EXPECT_EQ(ReviewPathFor("/data/survey_res.dat"),
              "/data/survey_res_review.csv");
    EXPECT_EQ(ReviewPathFor("out.d/result"), "out.d/result_review.csv");
}

TEST(ReviewFile, BadRowsAreNamedByLineAndTheGoodOnesKept) {
    const std::string text =
        "scope,id,x,y,decision,value,h,note\n"
        "station,A,1,2,keep,,,\n"            // 2: good
        "station,B,1,2,discard,,,\n"         // 3: unknown decision
        "station,C,1,2,fix,abc,,\n"          // 4: fix not a number
        "station,D,1,2,fix,,,\n"             // 5: fix of nothing
        "station,A,1.004,2,reject,,,\n"      // 6: A again, within 1 cm
        "station,A,5,2,reject,,,\n"          // 7: another A: good
        "planet,E,1,2,keep,,,\n"             // 8: unknown scope
        "station,F,x,2,keep,,,\n"            // 9: position not a number
        "survey,S1,,,reject,,,\n"            // 10: a survey is not rejected
        "survey,S2,,,level,,,\n"             // 11: a level of nothing
        "station,G,1,2,level,1,,\n"          // 12: a station is not levelled
        "station,H,1,2,keep,,,\"open note\n"; // 13: quote left open
    const ReviewFile read = ParseReviewText(text);
    std::vector<int64_t> lines;
    for (const ReviewProblem &problem : read.problems) {
        lines.push_back(problem.line);
    }
    EXPECT_EQ(lines, (std::vector<int64_t>{3, 4, 5, 6, 8, 9, 10, 11, 12, 13}));
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_EQ(read.rows[1].x, 5.0);
    EXPECT_NE(read.problems[0].message.find("discard"), std::string::npos);
    const std::vector<std::string> described =
        DescribeProblems("r.csv", read.problems);
    EXPECT_EQ(described[1].rfind("r.csv:4: ", 0), 0u);

    for (const char *not_review : {"", "x,y,point,h,value\n1,2,P,3,4\n",
                                   "\x89PNG\r\n"}) {
        const ReviewFile other = ParseReviewText(not_review);
        ASSERT_EQ(other.problems.size(), 1u);
        EXPECT_EQ(other.problems[0].line, 1);
        EXPECT_TRUE(other.rows.empty());
    }
    TempDir dir;
    const ReviewFile missing = ReadReviewFile(dir.File("none.csv"));
    ASSERT_EQ(missing.problems.size(), 1u);
    EXPECT_EQ(missing.problems[0].line, 0);
}

TEST(CleanSurvey, ChangedFieldsAreReplacedAndTheRestOfTheLineKept) {
    struct Case {
        const char *line;
        double h, value;
        char separator;
        const char *expected;
    } cases[] = {
        {"500 600 P1 350.5 -1.25", 350.5, 3.5, '.', "500 600 P1 350.5 3.500"},
        {"500\t600\tP1\t350.5\t-1.25  # note", 312.0, -1.25, '.',
         "500\t600\tP1\t312.00\t-1.25  # note"},
        {"500;600;P1;350,5;-1,2500", 350.5, 7.0, ',', "500;600;P1;350,5;7,0000"},
        {"500 600 P1", 1.0, 1.0, '.', ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ReplaceHeightAndValue(c.line, c.h, c.value, c.separator),
                  c.expected)
            << c.line;
    }
    CleanForm form;
    EXPECT_TRUE(CleanFormOf("a/b.GPKG", form));
    EXPECT_EQ(form, CleanForm::GeoPackage);
    EXPECT_TRUE(CleanFormOf("b.txt", form));
    EXPECT_EQ(form, CleanForm::StationText);
    EXPECT_FALSE(CleanFormOf("b.xlsx", form));
    EXPECT_FALSE(CleanFormOf("dir.csv/b", form));
}

// A lattice 100 m apart over a smooth field with two blunders: P23 lost its
// sign, P57 gained 5 mGal.
std::string Survey() {
    std::ostringstream text;
    text << std::fixed << std::setprecision(3);
    text << "x y point h value\n";
    for (int k = 0; k < 225; ++k) {
        const double x = 100.0 * (k % 15), y = 100.0 * (k / 15);
        double value = 20.0 + 2.0 * std::sin(x / 600.0) + 0.001 * y;
        if (k == 23) {
            value = -value;
        } else if (k == 57) {
            value += 5.0;
        }
        text << 500000.0 + x << ' ' << 6000000.0 + y << " P" << k << " 350 "
             << value << '\n';
    }
    return text.str();
}

struct ReviewedRun {
    RunOutcome outcome;
    std::string result;
};

ReviewedRun RunReviewed(TempDir &dir, const std::string &data,
                        const std::string &output,
                        std::shared_ptr<TReviewDecisions> decisions,
                        TCleanSurveyWriter *cleaned = nullptr) {
    FakeCalcHost host;
    host.fields[CalcField::Data] = data;
    host.fields[CalcField::Output] = dir.File(output);
    host.fields[CalcField::SearchDistance] = "500";
    host.fields[CalcField::Increment] = "250";
    host.fields[CalcField::CellSize] = "50";
    RunSettings settings;
    ParseFields(host, settings);
    RunInput input;
    input.path = data;
    if (decisions) {
        ReviewSink sink;
        if (cleaned != nullptr) {
            sink = [cleaned](const InputRecord &record, bool rejected,
                             bool changed) {
                cleaned->Take(record, rejected, changed);
            };
        }
        ApplyReview(input, settings, decisions, {}, sink);
    }
    RunOutputs outputs;
    outputs.result_path = dir.File(output);
    TCalcRun run(host);
    ReviewedRun reviewed{run.Run(settings, input, outputs), {}};
    reviewed.result = TempDir::Read(dir.File(output));
    return reviewed;
}

bool IsSuspect(const RunOutcome &outcome, const std::string &name) {
    const TQcStations &stations = outcome.qc.stations;
    for (size_t k = 0; k < stations.Size(); ++k) {
        if (stations.Name(k) == name) {
            return stations[k].suspect;
        }
    }
    return false;
}

TEST(Review, DecisionsApplyToTheRunAndTheCleanedSurveyGivesItsResult) {
    TempDir dir;
    const std::string data = dir.Write("survey.dat", Survey());
    const ReviewedRun before = RunReviewed(dir, data, "before.dat", nullptr);
    ASSERT_TRUE(IsSuspect(before.outcome, "P23"));
    ASSERT_TRUE(IsSuspect(before.outcome, "P57"));

    const ReviewFile review = ParseReviewText(
        "scope,id,x,y,decision,value,h,note\n"
        "station,P23,500800,6000100,fix," +
        std::to_string(-before.outcome.qc.stations[23].value) +
        ",,sign lost\n"
        "station,P57,501200.004,6000300,reject,,,\n"
        "station,P58,500000,6000300,reject,,,not where P58 is\n");
    ASSERT_TRUE(review.problems.empty());
    auto decisions = std::make_shared<TReviewDecisions>(review.rows);
    TCleanSurveyWriter cleaned(CleanForm::StationText, true, '.');
    const ReviewedRun after =
        RunReviewed(dir, data, "after.dat", decisions, &cleaned);
    ASSERT_EQ(after.outcome.result, CalcResult::Completed);
    EXPECT_EQ(after.outcome.figures.read, 224);
    EXPECT_FALSE(IsSuspect(after.outcome, "P23"));
    EXPECT_EQ(after.result.find(" P57 "), std::string::npos);
    const ReviewTally &tally = decisions->Tally();
    EXPECT_EQ(tally.rejected, 1);
    EXPECT_EQ(tally.fixed, 1);
    EXPECT_EQ(tally.kept, 223);
    const std::vector<ReviewRow> stale = decisions->Stale();
    ASSERT_EQ(stale.size(), 1u);
    EXPECT_EQ(stale[0].id, "P58");

    // The cleaned survey: the header and every untouched line as written,
    // P23's value replaced, P57 gone; run again, it gives the same result.
    const std::string &text = cleaned.Text();
    EXPECT_EQ(text.rfind("x y point h value\n", 0), 0u);
    EXPECT_EQ(text.find(" P57 "), std::string::npos);
    EXPECT_NE(text.find("500800.000 6000100.000 P23 350 " +
                        [&] {
                            std::ostringstream v;
                            v << std::fixed << std::setprecision(3)
                              << -before.outcome.qc.stations[23].value;
                            return v.str();
                        }() + "\n"),
              std::string::npos);
    const std::string clean_path = dir.Write("clean.dat", text);
    const ReviewedRun again = RunReviewed(dir, clean_path, "again.dat", nullptr);
    EXPECT_EQ(again.result, after.result);
}

} // namespace

namespace {

TEST(Review, ALevelledSurveyIsShiftedAndAFixWinsOverTheLevel) {
    TempDir dir;
    const std::string data = dir.Write(
        "lines.dat", "0 0 A1 10 5.0\n100 0 A2 10 6.0\n0 100 B1 10 7.0\n");
    RunSettings settings;
    settings.qc.survey_namer = ParseSurveyNamer("auto").namer;
    ASSERT_TRUE(settings.qc.survey_namer);
    const ReviewFile review =
        ParseReviewText("scope,id,x,y,decision,value,h,note\n"
                        "survey,A,,,level,1.5,,old datum\n"
                        "station,A2,100,0,fix,4.0,,\n"
                        "survey,C,,,level,2,,\n");
    ASSERT_TRUE(review.problems.empty());
    auto decisions = std::make_shared<TReviewDecisions>(review.rows);
    TReviewedInput input(std::make_unique<TStationTextInput>(data, '.'),
                         decisions, SurveyOfRecords(settings));
    input.Rewind();
    std::vector<double> values;
    InputRecord record;
    while (input.Next(record)) {
        values.push_back(record.station.value);
    }
    // The fix is the value to use; the level then shifts it with its survey.
    EXPECT_EQ(values, (std::vector<double>{3.5, 2.5, 7.0}));
    EXPECT_EQ(decisions->Tally().levelled, 1);
    EXPECT_EQ(decisions->Tally().fixed, 1);
    ASSERT_EQ(decisions->Stale().size(), 1u);
    EXPECT_EQ(decisions->Stale()[0].id, "C");
}

} // namespace
