// The Calc run end to end: both passes, progress, Stop, messages and failures.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/CalcRun.h"
#include "store/CppSQLite3.h"
#include "support/FakeCalcHost.h"
#include "support/FieldRun.h"
#include "support/TempDir.h"

namespace {

constexpr const char *header =
    "        x[m]         y[m]      point   h[m.a.s]  cba[mGal]   r1[mGal]   "
    "r2[mGal]    dist[m]          N\r\n";

// `count` stations on a lattice 100 m apart (rows of 10) with values from
// `field`.
template <typename Field> std::string Survey(int count, Field field) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(3);
    for (int k = 0; k < count; ++k) {
        const double x = 500000.0 + 100.0 * (k % 10);
        const double y = 5500000.0 + 100.0 * (k / 10);
        text << x << ' ' << y << " P" << k + 1 << " 350 " << field(x, y)
             << '\n';
    }
    return text.str();
}

std::string Survey(int count) {
    return Survey(count, [](double x, double y) {
        return (x - 500000.0) * 0.01 - (y - 5500000.0) * 0.003;
    });
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class CalcRun : public testing::Test {
  protected:
    CalcResult Run(const std::string &stations) {
        host.fields[CalcField::Data] = dir.Write("survey.dat", stations);
        if (host.fields[CalcField::Output].empty()) {
            host.fields[CalcField::Output] = dir.File("survey_res.dat");
        }
        RunSettings settings;
        settings.jobs = jobs;
        const RunOutcome outcome = RunFields(host, settings);
        loaded = static_cast<int32_t>(outcome.loaded);
        done = static_cast<int32_t>(outcome.figures.read);
        not_reached = static_cast<int32_t>(outcome.figures.not_reached);
        report = outcome.report;
        notes = outcome.notes;
        mostly_blank = outcome.mostly_blank;
        suggested = outcome.suggested;
        findings = outcome.qc;
        return outcome.result;
    }

    // The reasons of the last run, as the summary lists them.
    std::vector<std::string> run_report_lines() const {
        return report.Describe();
    }

    std::string Result() const {
        return TempDir::Read(dir.File("survey_res.dat"));
    }

    void ExpectIdleAtEnd() const {
        ASSERT_FALSE(host.running_states.empty());
        EXPECT_TRUE(host.running_states.front());
        EXPECT_FALSE(host.running_states.back());
    }

    TempDir dir;
    FakeCalcHost host;
    int32_t jobs = 1;
    int32_t loaded = 0, done = 0, not_reached = 0;
    TRunReport report;
    std::vector<std::string> notes;
    bool mostly_blank = false;
    SuggestedParameters suggested;
    QcFindings findings;
};

// `count` stations on a square lattice `spacing` metres apart, with a smooth
// field.
std::string Spaced(int count, double spacing) {
    const int side = static_cast<int>(std::ceil(std::sqrt(count)));
    std::ostringstream text;
    text << std::fixed << std::setprecision(3);
    for (int k = 0; k < count; ++k) {
        const double x = 300000.0 + spacing * (k % side);
        const double y = 7000000.0 + spacing * (k / side);
        text << x << ' ' << y << " S" << k + 1 << " 100 "
             << 3.0 * std::sin(x / 20000.0) + 2.0 * std::cos(y / 15000.0)
             << '\n';
    }
    return text.str();
}

} // namespace

TEST_F(CalcRun, ProgressMaximumIsStationsOverTenRoundedUp) {
    struct Case {
        int stations;
        int32_t maximum, position;
    };
    for (const Case c : {Case{25, 3, 2}, Case{30, 3, 3}}) {
        SCOPED_TRACE(c.stations);
        host = FakeCalcHost();
        host.fields[CalcField::MinPoints] = "4";
        ASSERT_EQ(Run("x y point h uba\n" + Survey(c.stations)),
                  CalcResult::Completed);
        EXPECT_EQ(host.progress_max, c.maximum);
        EXPECT_EQ(host.progress_position, c.position);
        EXPECT_EQ(loaded, c.stations);
        EXPECT_EQ(done, c.stations);
        const std::vector<std::string> lines = Lines(Result());
        ASSERT_EQ(lines.size(), static_cast<size_t>(c.stations) + 1);
        EXPECT_EQ(lines[0] + "\r\n", header);
        EXPECT_TRUE(host.errors.empty());
        ExpectIdleAtEnd();
    }
}

TEST_F(CalcRun, KrigingReproducesAConstantFieldAndItsSamples) {
    // A constant field is estimated exactly with and without each station.
    ASSERT_EQ(Run(Survey(40, [](double, double) { return -21.25; })),
              CalcResult::Completed);
    const std::vector<std::string> lines = Lines(Result());
    ASSERT_EQ(lines.size(), 41u);
    for (size_t k = 1; k < lines.size(); ++k) {
        SCOPED_TRACE(lines[k]);
        EXPECT_EQ(lines[k].substr(59, 21), "     0.000      0.000");
    }
    // ... as real estimates, not blanks that are also written as 0.000
    for (const StationOutcome &o : host.outcomes) {
        EXPECT_FALSE(o.blank_all || o.blank_without) << o.station.point;
    }
    // On a lattice of whole cells every station sits on a grid node, where
    // kriging with a nugget of 0 reproduces the sample: r1 vanishes.
    host = FakeCalcHost();
    host.fields[CalcField::CellSize] = "100";
    ASSERT_EQ(Run(Survey(40)), CalcResult::Completed);
    ASSERT_EQ(host.outcomes.size(), 40u);
    for (const StationOutcome &o : host.outcomes) {
        // The grid's rows stop short of the largest y: the top row of stations
        // is clamped into the last row of cells and merged with the row below.
        if (o.written && o.station.y < 5500200.0) {
            EXPECT_NEAR(o.r1, 0.0, 1e-9) << o.station.point;
        }
    }
}

TEST_F(CalcRun, BlunderStandsOutInR2WithItsSign) {
    // A smooth field with one station read 5 mGal too high: its neighbours
    // predict the field, so r2 = estimate - value is near -5; on a node of
    // whole cells the kriging reproduces the value itself, so r1 is near 0.
    const auto field = [](double x, double y) {
        return (x - 500000.0) * 0.01 - (y - 5500000.0) * 0.003;
    };
    std::string stations = Survey(100, field);
    const std::string blunder_line = "500500.000 5500500.000 P56 350 ";
    const size_t at = stations.find(blunder_line);
    ASSERT_NE(at, std::string::npos);
    const size_t end = stations.find('\n', at);
    stations.replace(at, end - at, blunder_line + "8.500"); // field: 3.500
    host.fields[CalcField::CellSize] = "100";
    ASSERT_EQ(Run(stations), CalcResult::Completed);
    int checked = 0;
    for (const StationOutcome &o : host.outcomes) {
        if (std::string(o.station.point) != "P56") {
            continue;
        }
        ++checked;
        ASSERT_TRUE(o.written);
        ASSERT_FALSE(o.blank_all || o.blank_without);
        EXPECT_NEAR(o.r1, 0.0, 1e-6);
        EXPECT_LT(o.r2, -3.0);
        EXPECT_GT(o.r2, -6.0);
        // r1 and r2 in their columns of the file
        for (const std::string &line : Lines(Result())) {
            if (line.find(" P56 ") == std::string::npos) {
                continue;
            }
            EXPECT_NEAR(std::stod(line.substr(59, 10)), 0.0, 0.0005);
            EXPECT_NEAR(std::stod(line.substr(70, 10)), o.r2, 0.0005);
        }
    }
    EXPECT_EQ(checked, 1);
}

TEST_F(CalcRun, StopEndsTheRunAfterTheStationInHand) {
    host.stop_after = 7;
    host.fields[CalcField::MinPoints] = "4";
    ASSERT_EQ(Run(Survey(30)), CalcResult::Stopped);
    EXPECT_TRUE(host.stop_cleared);
    EXPECT_EQ(done, 7);
    EXPECT_EQ(Lines(Result()).size(),
              8u); // header and seven stations, file closed
    ExpectIdleAtEnd();
}

TEST_F(CalcRun, DuplicatePositionsAreAllEstimatedAndWritten) {
    const std::string stations = Survey(20) + "500000 5500000 TWIN 350 99\n";
    ASSERT_EQ(Run(stations), CalcResult::Completed);
    EXPECT_EQ(loaded, 21);
    const std::vector<std::string> lines = Lines(Result());
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_NE(lines[21].find("TWIN"), std::string::npos);
}

// 2026-12-10, issue 14: the window closed itself, and the message gave no
// reason.
TEST_F(CalcRun, UnopenableResultFileSaysWhyAndKeepsTheWindow) {
    host.fields[CalcField::Output] = dir.File("missing/folder/out.dat");
    EXPECT_EQ(Run(Survey(5)), CalcResult::OpenFailed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Error by opening file " +
                                    dir.File("missing/folder/out.dat") +
                                    ": No such file or directory");
    ExpectIdleAtEnd();
}

// 2026-12-10, issue 4: a tiny cell size wrote every station with false
// residuals.
TEST_F(CalcRun, CellSizeBelowTheGridderMinimumRefusesOnce) {
    host.fields[CalcField::CellSize] = "0";
    EXPECT_EQ(Run(Survey(20)), CalcResult::Refused);
    EXPECT_EQ(host.messages,
              std::vector<std::string>{"Cell size must be defined."});
    EXPECT_FALSE(std::filesystem::exists(dir.File("survey_res.dat")));
    ExpectIdleAtEnd();
}

// 2026-12-10, issue 4: a refused kriging run was written as the negated value.
TEST_F(CalcRun, EstimateThatCannotBeMadeIsWrittenAsZero) {
    // A station far from the others with N of 1: its window holds only
    // itself, whose single-sample grid is refused and whose second run has
    // no samples; the others are estimated.
    host.fields[CalcField::MinPoints] = "1";
    ASSERT_EQ(Run("0 0 A 1 -55.5\n" + Survey(20)), CalcResult::Completed);
    const std::vector<std::string> lines = Lines(Result());
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[1].substr(48, 32), "   -55.500      0.000      0.000");
    EXPECT_TRUE(host.outcomes[0].blank_all);
    EXPECT_TRUE(host.outcomes[0].blank_without);
}

// 2026-12-10, issue 4: a gridder message used to be shown for every station.
// 2026-12-10, issue 14: it named no station, and came in the middle of a run.
TEST_F(CalcRun, GridderMessageIsShownOnceAtTheEndWithTheStationsItHit) {
    struct Watching : FakeCalcHost {
        int stations_at_message = -1;
        void ShowMessage(const std::string &text) override {
            stations_at_message = static_cast<int>(outcomes.size());
            FakeCalcHost::ShowMessage(text);
        }
    };
    Watching watching;
    watching.fields[CalcField::CellSize] =
        "0.5"; // windows of 5 km need far more than 1024 nodes
    watching.fields[CalcField::Data] = dir.Write("survey.dat", Survey(30));
    watching.fields[CalcField::Output] = dir.File("survey_res.dat");
    const RunOutcome outcome = RunFields(watching);
    ASSERT_EQ(outcome.result, CalcResult::Completed);
    EXPECT_EQ(watching.messages,
              std::vector<std::string>{
                  "Number of grid points exceeded 1024 in X-direction. First "
                  "at station P1 (line 1); 30 stations."});
    EXPECT_EQ(watching.stations_at_message, 30);
    // Every station refused: nothing was estimated, and the error says why.
    EXPECT_TRUE(outcome.nothing_estimated);
    ASSERT_EQ(watching.errors.size(), 1u);
    EXPECT_NE(
        watching.errors[0].find("No station has a leave-one-out estimate"),
        std::string::npos);
    EXPECT_NE(watching.errors[0].find("1024 nodes"), std::string::npos);
}

// 2026-12-10, issue 4: naming the station file as the result destroyed it.
TEST_F(CalcRun, ResultPathNamingTheStationFileIsRefused) {
    const std::string stations = Survey(12);
    host.fields[CalcField::Output] = dir.File("survey.dat");
    EXPECT_EQ(Run(stations), CalcResult::Refused);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find(dir.File("survey.dat")), std::string::npos);
    EXPECT_EQ(TempDir::Read(dir.File("survey.dat")), stations);
}

// A parameter that does not convert is refused before the run, where the
// fields are parsed (run_settings_test.cpp); what ends a run itself reaches
// the error box.
TEST_F(CalcRun, ErrorsThatEndTheRunReachTheErrorBoxAndTheWindowReturnsToIdle) {
    host.fields[CalcField::MinPoints] = "16";
    EXPECT_EQ(Run(Survey(5) + "1 2 K\xf6ln 3 4\n"), CalcResult::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0],
              "Line 6 of " + dir.File("survey.dat") +
                  " is not UTF-8 text.\nNo mapping for the Unicode character "
                  "exists in the target multi-byte code page");
    ExpectIdleAtEnd();
}

TEST_F(CalcRun, MissingStationFileReachesTheErrorBoxWithItsPath) {
    struct Case {
        const char *name;
        std::string data, output;
    };
    // Both fields empty is the window's state when it opens.
    const Case cases[] = {
        {"absent file", dir.File("absent.dat"), dir.File("out.dat")},
        {"both fields empty", "", ""},
        {"station field empty", "", dir.File("out.dat")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        host = FakeCalcHost();
        host.fields[CalcField::Data] = c.data;
        host.fields[CalcField::Output] = c.output;
        EXPECT_EQ(RunFields(host).result, CalcResult::Failed);
        EXPECT_TRUE(host.messages.empty());
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(
            host.errors[0].rfind("Cannot open file \"" + c.data + "\"", 0), 0u)
            << host.errors[0];
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.dat")));
    }
}

TEST_F(CalcRun, StopDuringLoadingLeavesAnEarlierResultFileAlone) {
    // The batch tool's Ctrl-C can come while the stations load.
    struct StopWhileLoading : FakeCalcHost {
        bool StopRequested() override { return true; }
    } stopping;
    const std::string earlier = "an earlier result\r\n";
    dir.Write("survey_res.dat", earlier);
    stopping.fields[CalcField::Data] = dir.Write("survey.dat", Survey(30));
    stopping.fields[CalcField::Output] = dir.File("survey_res.dat");
    const RunOutcome outcome = RunFields(stopping);
    EXPECT_EQ(outcome.result, CalcResult::Stopped);
    EXPECT_EQ(outcome.loaded, 30);
    EXPECT_FALSE(outcome.result_opened);
    EXPECT_EQ(Result(), earlier);
    EXPECT_EQ(stopping.outcomes.size(), 0u);
    EXPECT_FALSE(stopping.running_states.back());
}

TEST_F(CalcRun, LinesThatAreNotStationsAreCounted) {
    host.fields[CalcField::MinPoints] = "4";
    const std::string stations =
        "\n   \n" + Survey(12) + "x y name h value\n1,5 2,5 P 3 4\n\t\n";
    host.fields[CalcField::Data] = dir.Write("survey.dat", stations);
    host.fields[CalcField::Output] = dir.File("survey_res.dat");
    const RunOutcome outcome = RunFields(host);
    EXPECT_EQ(outcome.result, CalcResult::Completed);
    EXPECT_EQ(outcome.loaded, 12);
    EXPECT_EQ(outcome.unread, 2); // blank lines are not counted
    EXPECT_TRUE(outcome.result_opened);
    // ... and shown with their line numbers.
    EXPECT_EQ(host.unread_lines, (std::vector<int64_t>{15, 16}));
    EXPECT_EQ(outcome.report.DescribeUnread(),
              (std::vector<std::string>{"line 15: x y name h value",
                                        "line 16: 1,5 2,5 P 3 4"}));
}

// 2026-12-10, issue 14: 189 of 191 stations of a survey written at full
// precision were skipped in silence.
TEST_F(CalcRun, FullPrecisionCoordinatesGiveTheResultOfTheRoundedSurvey) {
    std::ostringstream full, rounded;
    for (int k = 0; k < 40; ++k) {
        const double x = 362472.40000013437 + 100.0 * (k % 8);
        const double y = 6008599.5000008475 + 100.0 * (k / 8);
        const double value = 0.01 * (k % 8) - 0.02 * (k / 8) + (k == 17);
        full << std::setprecision(17) << x << ' ' << y << " L" << k << " 1 "
             << std::setprecision(6) << value << '\n';
        rounded << std::setprecision(15) << x << ' ' << y << " L" << k << " 1 "
                << std::setprecision(6) << value << '\n';
    }
    host.fields[CalcField::MinPoints] = "8";
    ASSERT_EQ(Run(full.str()), CalcResult::Completed);
    const std::string full_result = Result();
    for (const StationOutcome &outcome : host.outcomes) {
        EXPECT_TRUE(outcome.written) << outcome.name;
        EXPECT_FALSE(outcome.blank_without) << outcome.name;
    }
    ASSERT_EQ(Run(rounded.str()), CalcResult::Completed);
    EXPECT_EQ(full_result, Result());
    EXPECT_EQ(Lines(full_result).size(), 41u);
}

// 2026-12-10, issue 14: a second pass over a pipe met no station, and a
// named pipe hung.
TEST_F(CalcRun, StationsFromAPipeAreReadOnce) {
    const std::string stations = Survey(30);
    host.fields[CalcField::MinPoints] = "4";
    ASSERT_EQ(Run(stations), CalcResult::Completed);
    const std::string from_file = Result();

    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo) << stations; });
    host = FakeCalcHost();
    host.fields[CalcField::MinPoints] = "4";
    host.fields[CalcField::Data] = fifo;
    host.fields[CalcField::Output] = dir.File("survey_res.dat");
    const RunOutcome outcome = RunFields(host);
    EXPECT_EQ(outcome.result, CalcResult::Completed);
    writer.join();
    EXPECT_EQ(outcome.figures.read, 30);
    EXPECT_EQ(Result(), from_file);
}

// 2026-12-10, issue 14: nothing checked that the second pass met the stations
// the first one loaded.
TEST_F(CalcRun, StationFileChangedBetweenThePassesFailsAndWritesNothing) {
    struct Changing : FakeCalcHost {
        std::string path, replacement;
        void StationsLoaded(int64_t count) override {
            FakeCalcHost::StationsLoaded(count);
            std::ofstream(path, std::ios::trunc) << replacement;
        }
    };
    struct Case {
        const char *name;
        std::string replacement;
    };
    const std::string stations = Survey(20);
    const Case cases[] = {
        {"a station moved", Survey(20,
                                   [](double x, double y) {
                                       return x > 500450.0 && y < 5500050.0
                                                  ? 3.0
                                                  : 1.0;
                                   })
                                .replace(0, 3, "600")},
        {"a station added", stations + "500050 5500050 NEW 1 2\n"},
        {"stations removed", Survey(12)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Changing changing;
        changing.fields[CalcField::MinPoints] = "4";
        changing.path = dir.Write("survey.dat", stations);
        changing.replacement = c.replacement;
        changing.fields[CalcField::Data] = changing.path;
        changing.fields[CalcField::Output] = dir.Write("survey_res.dat", "old");
        EXPECT_EQ(RunFields(changing).result, CalcResult::Failed);
        ASSERT_EQ(changing.errors.size(), 1u);
        EXPECT_NE(changing.errors[0].find("changed while the run read it"),
                  std::string::npos)
            << changing.errors[0];
        EXPECT_EQ(Result(), "old");
    }
}

// 2026-12-10, issue 14: a run that read no station replaced the earlier
// result with a header.
TEST_F(CalcRun, RunThatReadsNoStationIsRefusedAndWritesNothing) {
    struct Case {
        const char *name;
        std::string stations;
        std::string error; // how the error starts
    };
    const Case cases[] = {
        {"commas as decimal separators", "1,5 2,5 P 3 4\n7,5 8,5 Q 9 1\n",
         "No line of " + dir.File("survey.dat") +
             " was read as a station (x y point h value, with '.' as the "
             "decimal separator). First lines not read:\nline 1: 1,5 2,5 P 3 "
             "4\nline 2: 7,5 8,5 Q 9 1"},
        {"empty file", "",
         dir.File("survey.dat") + " holds no station: it has no line that "
                                  "is not blank."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        host = FakeCalcHost();
        dir.Write("survey_res.dat", "an earlier result");
        EXPECT_EQ(Run(c.stations), CalcResult::Refused);
        EXPECT_EQ(host.errors, std::vector<std::string>{c.error});
        EXPECT_EQ(Result(), "an earlier result");
        ExpectIdleAtEnd();
    }
}

// 2026-12-10, issue 14: skipped and blank stations were not explained.
TEST_F(CalcRun, ReasonsAreCountedWithTheStationsTheyHit) {
    // Two stations 10 km from a lattice: their windows grow to reach it, but
    // no grid node near them has stations within the search distance.
    host.fields[CalcField::MinPoints] = "4";
    ASSERT_EQ(Run(Survey(20) + "510000 5510000 FAR1 1 1\n"
                               "510100 5510000 FAR2 1 2\n"),
              CalcResult::Completed);
    EXPECT_EQ(run_report_lines(),
              (std::vector<std::string>{
                  "No leave-one-out estimate: too few stations within the "
                  "search distance of the grid nodes: 2 stations, first FAR1 "
                  "(line 21), FAR2"}));
    // More than N: the windows cannot hold them.
    host = FakeCalcHost();
    host.fields[CalcField::MinPoints] = "30";
    ASSERT_EQ(Run(Survey(20)), CalcResult::Completed);
    ASSERT_EQ(run_report_lines().size(), 1u);
    EXPECT_EQ(run_report_lines()[0],
              "Skipped: no search window could hold the minimum number of "
              "stations: 20 stations, first P1 (line 1), P2, P3, P4, P5, ...");
    EXPECT_EQ(host.errors.size(), 1u); // nothing was estimated
}

// 2026-12-10, issue 18: a run that estimated nothing replaced a good result
// and its table with blanks.
TEST_F(CalcRun, RunThatEstimatesNothingKeepsTheEarlierResultAndTable) {
    const std::string earlier = dir.Write("survey_res.dat", "a good result");
    dir.Write("survey_res.csv", "a good table");
    // Stations 5 km apart with the window's 2500 m: every estimate blank.
    ASSERT_EQ(Run(Spaced(100, 5000.0)), CalcResult::Completed);
    EXPECT_EQ(TempDir::Read(earlier), "a good result");
    EXPECT_EQ(TempDir::Read(dir.File("survey_res.csv")), "a good table");
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(
        host.errors[0].rfind("No station has a leave-one-out estimate.", 0),
        0u);
    // It says which parameters suit the spacing.
    EXPECT_NE(host.errors[0].find("Parameters that suit the stations' "
                                  "spacing: search distance "),
              std::string::npos)
        << host.errors[0];
    EXPECT_GT(suggested.search_distance, 5000.0);
    // No temporary file is left either.
    for (const auto &entry :
         std::filesystem::directory_iterator(dir.File(""))) {
        EXPECT_EQ(entry.path().filename().string().find(".part-"),
                  std::string::npos)
            << entry.path();
    }
}

// 2026-12-10, issue 18: a run that left all but four stations blank said
// nothing.
TEST_F(CalcRun, MostlyBlankRunSuggestsParametersThatEstimateTheSurvey) {
    // A lattice 1.8 km apart: the default 2500 m leaves most estimates blank
    // and makes a few.
    ASSERT_EQ(Run(Spaced(400, 1800.0)), CalcResult::Completed);
    EXPECT_TRUE(mostly_blank);
    ASSERT_FALSE(notes.empty());
    const std::string &advice = notes.back();
    EXPECT_NE(advice.find("stations got a leave-one-out estimate"),
              std::string::npos)
        << advice;
    EXPECT_NE(advice.find(suggested.CommandLine()), std::string::npos)
        << advice;
    // The suggestion, taken, estimates at least 95 % of the stations.
    host = FakeCalcHost();
    for (const auto &[field, value] :
         {std::pair{CalcField::SearchDistance, suggested.search_distance},
          std::pair{CalcField::Increment, suggested.increment},
          std::pair{CalcField::CellSize, suggested.cell_size}}) {
        std::ostringstream text;
        text << value;
        host.fields[field] = text.str();
    }
    ASSERT_EQ(Run(Spaced(400, 1800.0)), CalcResult::Completed);
    EXPECT_FALSE(mostly_blank);
    int estimated = 0;
    for (const StationOutcome &o : host.outcomes) {
        estimated += o.written && !o.blank_without;
    }
    EXPECT_GE(estimated, 380);
}

// 2026-12-10, issue 18: a stopped run's table and figure said nothing of the
// stations it never reached.
TEST_F(CalcRun, StoppedRunMarksTheStationsItDidNotReach) {
    for (const int32_t job_count : {1, 2}) {
        SCOPED_TRACE(job_count);
        host = FakeCalcHost();
        host.fields[CalcField::MinPoints] = "4";
        host.stop_after = 7;
        jobs = job_count;
        ASSERT_EQ(Run(Survey(30)), CalcResult::Stopped);
        EXPECT_EQ(done, 7);
        EXPECT_EQ(not_reached, 23);
        ASSERT_EQ(findings.stations.Size(), 30u);
        for (size_t k = 0; k < 30; ++k) {
            EXPECT_EQ(findings.stations[k].status == QcStatus::NotReached,
                      k >= 7)
                << k;
        }
        EXPECT_EQ(findings.stations.Name(29), "P30");
        const std::string table = TempDir::Read(dir.File("survey_res.csv"));
        size_t marked = 0;
        for (size_t at = 0;
             (at = table.find(",not-reached,", at)) != std::string::npos;
             ++at) {
            ++marked;
        }
        EXPECT_EQ(marked, 23u);
        EXPECT_EQ(Lines(Result()).size(), 8u);
    }
}

// 2026-12-10, issue 18: a run replaced the result of another survey without
// asking.
TEST_F(CalcRun, ResultOfAnotherSurveyIsReplacedOnlyWhenTheHostSaysSo) {
    host.fields[CalcField::MinPoints] = "4";
    ASSERT_EQ(Run(Survey(20)), CalcResult::Completed);
    EXPECT_TRUE(host.questions.empty());
    ASSERT_EQ(Run(Survey(20)), CalcResult::Completed); // the same survey
    EXPECT_TRUE(host.questions.empty());
    const std::string first = Result();
    host.confirm = false;
    ASSERT_EQ(Run(Spaced(20, 100.0)), CalcResult::Refused);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_NE(host.questions[0].find("another station file"),
              std::string::npos);
    EXPECT_EQ(Result(), first);
    // A file that is no result at all is asked about too.
    dir.Write("survey_res.dat", "field notes\n");
    ASSERT_EQ(Run(Survey(20)), CalcResult::Refused);
    ASSERT_EQ(host.questions.size(), 2u);
    EXPECT_NE(host.questions[1].find("is not a result file"),
              std::string::npos);
    EXPECT_EQ(Result(), "field notes\n");
    host.confirm = true;
    ASSERT_EQ(Run(Survey(20)), CalcResult::Completed);
    EXPECT_EQ(Result(), first);
}
