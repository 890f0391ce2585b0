// The companion table and the run's quality control: columns, numbers and
// quoting, empty fields, statuses, duplicates and close pairs, the suspect
// marked on a kriged survey, the table's path and its write errors.
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "app/CalcRun.h"
#include "qc/CompanionTable.h"
#include "qc/Duplicates.h"
#include "store/CppSQLite3.h"
#include "support/FakeCalcHost.h"
#include "support/FieldRun.h"
#include "support/TempDir.h"

namespace {

// A lattice of `side` x `side` stations 100 m apart over a plane, with a
// little reading noise; `lines` may replace or add lines.
std::string Lattice(int side, uint32_t seed = 3) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-0.05, 0.05);
    std::ostringstream text;
    text.precision(10);
    for (int k = 0; k < side * side; ++k) {
        const double x = 500000.0 + 100.0 * (k % side);
        const double y = 5500000.0 + 100.0 * (k / side);
        text << x << ' ' << y << " P" << k + 1 << " 350 "
             << 0.01 * (x - 500000.0) - 0.004 * (y - 5500000.0) + noise(random)
             << '\n';
    }
    return text.str();
}

std::vector<std::vector<std::string>> ParseCsv(const std::string &text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row.push_back(field);
            field.clear();
            rows.push_back(row);
            row.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

class CompanionTable : public testing::Test {
  protected:
    void SetUp() override { Parameters(); }
    // Parameters for lattices 100 m apart: cells of 50 m, a 400 m search.
    void Parameters() {
        host.fields[CalcField::CellSize] = "50";
        host.fields[CalcField::MinPoints] = "12";
        host.fields[CalcField::SearchDistance] = "400";
    }
    CalcResult Run(const std::string &stations) {
        host.fields[CalcField::Data] = dir.Write("survey.dat", stations);
        host.fields[CalcField::Output] = dir.File("survey_res.dat");
        RunSettings settings;
        settings.qc = qc;
        const RunOutcome outcome = RunFields(host, settings);
        const CalcResult result = outcome.result;
        findings = outcome.qc;
        rows = ParseCsv(TempDir::Read(dir.File("survey_res.csv")));
        return result;
    }
    // The row of the station named `name`, or an empty one.
    std::vector<std::string> Row(const std::string &name) const {
        for (const auto &row : rows) {
            if (!row.empty() && row[0] == name) {
                return row;
            }
        }
        return {};
    }
    static size_t Column(const char *name) {
        for (size_t c = 0; c < std::size(companion_columns); ++c) {
            if (std::string(companion_columns[c]) == name) {
                return c;
            }
        }
        return 999;
    }

    TempDir dir;
    FakeCalcHost host;
    QcSettings qc;
    QcFindings findings;
    std::vector<std::vector<std::string>> rows;
};

} // namespace

TEST(CompanionText, PathsNumbersAndQuoting) {
    struct PathCase {
        const char *result, *table;
    };
    for (const PathCase &c :
         {PathCase{"survey_res.dat", "survey_res.csv"},
          PathCase{"/data/survey", "/data/survey.csv"},
          PathCase{"/data.old/survey", "/data.old/survey.csv"},
          PathCase{"a.b.dat", "a.b.csv"}}) {
        SCOPED_TRACE(c.result);
        EXPECT_EQ(CompanionPath(c.result), c.table);
    }
    struct NumberCase {
        double value;
        const char *text;
    };
    for (const NumberCase &c :
         {NumberCase{0.1, "0.1"}, NumberCase{-24.858, "-24.858"},
          NumberCase{2500.0, "2500"}, NumberCase{1e-7, "1e-07"},
          NumberCase{1.0 / 3.0, "0.3333333333333333"},
          NumberCase{qc_none, ""}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ShortestNumber(c.value), c.text);
    }
    struct FieldCase {
        const char *text, *field;
    };
    for (const FieldCase &c :
         {FieldCase{"P1", "P1"}, FieldCase{"A,B", "\"A,B\""},
          FieldCase{"say \"x\"", "\"say \"\"x\"\"\""},
          FieldCase{"a\nb", "\"a\nb\""}, FieldCase{"Köln", "Köln"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CsvField(c.text), c.field);
    }
}

TEST(CompanionText, WriterQuotesNamesAndLeavesMissingNumbersEmpty) {
    TQcStations stations;
    QcStation ok;
    ok.x = 1.5;
    ok.y = -2.25;
    ok.value = 3.0;
    ok.estimate_all = 3.5;
    ok.estimate_without = 2.0;
    ok.sigma = 0.5;
    ok.r2_clean = -1.0;
    ok.half_size = 2500.0;
    ok.n = 16;
    ok.status = QcStatus::Ok;
    ok.suspect = true;
    stations.Add(ok, "A,\"B\"");
    QcStation skipped;
    stations.Add(skipped, "C");
    TempDir dir;
    const std::string path = dir.File("table.csv");
    WriteCompanionTable(path, stations,
                        {NumberColumn("lon", [](size_t k) {
                            return k == 0 ? -70.5 : qc_none;
                        })});
    EXPECT_EQ(TempDir::Read(path),
              "point,x,y,h,value,estimate_all,estimate_without,r1,r2,sigma,z,"
              "r2_clean,half_size,n,status,flag,lon\r\n"
              "\"A,\"\"B\"\"\",1.5,-2.25,0,3,3.5,2,0.5,-1,0.5,-2,-1,2500,16,ok,"
              "suspect,-70.5\r\n"
              "C,0,0,0,0,,,,,,,,,,skipped,,\r\n");
}

TEST_F(CompanionTable, EveryStationHasARowWithTheColumnsOfItsResultLine) {
    // A name with quotes and one with letters beyond ASCII, which the table
    // keeps in UTF-8.
    const std::string stations = "x,y,point,h,value\n" + Lattice(8) +
                                 "500350 5500350 \"Nord \"\"alt\"\"\" 350 "
                                 "1.5\n500450 5500250 Köln 350 1.1\n";
    ASSERT_EQ(Run(stations), CalcResult::Completed);
    ASSERT_EQ(rows.size(), 1u + 64u + 2u);
    std::string header;
    for (const char *column : companion_columns) {
        header += std::string(header.empty() ? "" : ",") + column;
    }
    EXPECT_EQ(header, "point,x,y,h,value,estimate_all,estimate_without,r1,r2,"
                      "sigma,z,r2_clean,half_size,n,status,flag");
    // The diagnosis's columns follow the table's own.
    EXPECT_EQ(rows[0].size(),
              std::size(companion_columns) + std::size(diagnosis_columns));
    for (size_t c = 0; c < std::size(diagnosis_columns); ++c) {
        EXPECT_EQ(rows[0][std::size(companion_columns) + c],
                  diagnosis_columns[c]);
    }
    EXPECT_EQ(rows[1][0], "P1");
    EXPECT_EQ(Row("Nord \"alt\"")[Column("value")], "1.5");
    EXPECT_EQ(Row("Köln")[Column("x")], "500450");

    // Each row's residuals are the result line's, to its three decimals.
    const std::string result = TempDir::Read(dir.File("survey_res.dat"));
    std::istringstream lines(result);
    std::string line;
    std::getline(lines, line); // header
    for (size_t k = 1; k < rows.size() && std::getline(lines, line); ++k) {
        SCOPED_TRACE(rows[k][0]);
        if (rows[k][0].find(' ') != std::string::npos) {
            continue; // a name with a blank splits the line differently
        }
        std::istringstream fields(line);
        std::string x, y, point, h, value, r1, r2;
        fields >> x >> y >> point >> h >> value >> r1 >> r2;
        char text[32];
        std::snprintf(text, sizeof text, "%.3f",
                      std::stod(rows[k][Column("r2")]));
        EXPECT_EQ(text, r2);
        EXPECT_EQ(rows[k][Column("status")], "ok");
        EXPECT_FALSE(rows[k][Column("sigma")].empty());
        const double z = std::stod(rows[k][Column("z")]);
        EXPECT_NEAR(z * std::stod(rows[k][Column("sigma")]),
                    std::stod(rows[k][Column("r2")]), 1e-12);
    }
}

TEST_F(CompanionTable, BlankAndSkippedStationsHaveEmptyFields) {
    // A station midway between two lattices 3 km apart: its window grows to
    // hold both, and no grid node near it has a station within the search
    // distance once it is left out.
    std::string stations = Lattice(4);
    std::istringstream left(Lattice(4));
    std::string line;
    while (std::getline(left, line)) {
        std::istringstream fields(line);
        double x, y;
        std::string point, rest;
        fields >> x >> y >> point;
        std::getline(fields, rest);
        std::ostringstream moved;
        moved.precision(10);
        moved << x + 3300.0 << ' ' << y << " R" << point << rest << '\n';
        stations += moved.str();
    }
    stations += "501800 5500150 MID 1 1\n";
    host.fields[CalcField::MinPoints] = "20";
    ASSERT_EQ(Run(stations), CalcResult::Completed);
    const std::vector<std::string> mid = Row("MID");
    ASSERT_FALSE(mid.empty());
    EXPECT_EQ(mid[Column("status")], "blank");
    for (const char *empty :
         {"estimate_without", "r2", "sigma", "z", "r2_clean", "flag"}) {
        SCOPED_TRACE(empty);
        EXPECT_EQ(mid[Column(empty)], "");
    }
    EXPECT_FALSE(mid[Column("half_size")].empty());

    // N above the survey: every station skipped, each still has its row. The
    // run estimated nothing, so it keeps the earlier table; the rows are
    // those the table would hold.
    const std::string earlier = TempDir::Read(dir.File("survey_res.csv"));
    host = FakeCalcHost();
    Parameters();
    host.fields[CalcField::MinPoints] = "100";
    Run(Lattice(4));
    EXPECT_EQ(TempDir::Read(dir.File("survey_res.csv")), earlier);
    WriteCompanionTable(dir.File("skipped.csv"), findings.stations);
    rows = ParseCsv(TempDir::Read(dir.File("skipped.csv")));
    ASSERT_EQ(rows.size(), 17u);
    for (size_t k = 1; k < rows.size(); ++k) {
        EXPECT_EQ(rows[k][Column("status")], "skipped");
        EXPECT_EQ(rows[k][Column("estimate_all")], "");
        EXPECT_EQ(rows[k][Column("r1")], "");
    }
}

TEST_F(CompanionTable, BlunderIsMarkedAndItsNeighboursAreNot) {
    std::string stations = Lattice(12);
    // Station P67 (column 6, row 5) read 3 mGal high.
    const std::string line = "500600 5500500 P67 350 ";
    const size_t at = stations.find(line);
    ASSERT_NE(at, std::string::npos);
    const size_t end = stations.find('\n', at);
    const double value = std::stod(stations.substr(at + line.size())) + 3.0;
    stations.replace(at, end - at, line + std::to_string(value));
    ASSERT_EQ(Run(stations), CalcResult::Completed);
    ASSERT_FALSE(findings.suspects.suspects.empty());
    EXPECT_EQ(findings.stations.Name(findings.suspects.suspects[0]), "P67");
    EXPECT_EQ(Row("P67")[Column("flag")], "suspect");
    // Its neighbours' residuals carry its error; judged without it they do
    // not, and none of them is marked.
    for (const char *neighbour : {"P66", "P68", "P55", "P79", "P54", "P80"}) {
        SCOPED_TRACE(neighbour);
        const std::vector<std::string> row = Row(neighbour);
        EXPECT_EQ(row[Column("flag")], "");
        EXPECT_LT(std::fabs(std::stod(row[Column("r2_clean")])),
                  std::fabs(std::stod(row[Column("r2")])));
    }
    // Elsewhere only the survey's edge, where estimates extrapolate, may
    // stand out.
    for (const size_t k : findings.suspects.suspects) {
        const QcStation &s = findings.stations[k];
        const bool edge = s.x == 500000.0 || s.x == 501100.0 ||
                          s.y == 5500000.0 || s.y == 5501100.0;
        EXPECT_TRUE(edge || findings.stations.Name(k) == "P67")
            << findings.stations.Name(k);
    }
}

TEST_F(CompanionTable, DuplicatesAndClosePairsAreReported) {
    const std::string stations = Lattice(6) +
                                 "500100 5500100 TWIN 350 2.5\n"
                                 "500300.4 5500300 NEAR 350 0.9\n"
                                 "500100 5500100 TRIPLET 350 0.7\n";
    qc.duplicate_distance = 1.0;
    ASSERT_EQ(Run(stations), CalcResult::Completed);
    const DuplicateFindings &d = findings.duplicates;
    ASSERT_EQ(d.positions.size(), 1u);
    std::vector<std::string> names;
    for (const size_t k : d.positions[0].stations) {
        names.emplace_back(findings.stations.Name(k));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"P8", "TWIN", "TRIPLET"}));
    EXPECT_EQ(Row("P8")[Column("status")], "ok");
    EXPECT_EQ(Row("TWIN")[Column("status")], "duplicate");
    EXPECT_EQ(Row("TRIPLET")[Column("status")], "duplicate");
    ASSERT_EQ(d.close_pairs.size(), 1u);
    EXPECT_EQ(findings.stations.Name(d.close_pairs[0].first), "P22");
    EXPECT_EQ(findings.stations.Name(d.close_pairs[0].second), "NEAR");
    EXPECT_NEAR(d.close_pairs[0].distance, 0.4, 1e-9);

    // Distance 0 looks for no pairs.
    qc.duplicate_distance = 0.0;
    Run(stations);
    EXPECT_TRUE(findings.duplicates.close_pairs.empty());
}

TEST_F(CompanionTable, NoQcRunsWithoutTheTableAndWritesTheSameResult) {
    ASSERT_EQ(Run(Lattice(6)), CalcResult::Completed);
    const std::string with_qc = TempDir::Read(dir.File("survey_res.dat"));
    std::remove(dir.File("survey_res.csv").c_str());
    qc.enabled = false;
    ASSERT_EQ(Run(Lattice(6)), CalcResult::Completed);
    EXPECT_EQ(TempDir::Read(dir.File("survey_res.dat")), with_qc);
    EXPECT_TRUE(rows.empty());
    EXPECT_FALSE(findings.checked);
}

TEST_F(CompanionTable, AFailedWriteIsAnErrorNamingTheFile) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    qc.table_path = "/dev/full";
    EXPECT_EQ(Run(Lattice(6)), CalcResult::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0],
              "Cannot write file \"/dev/full\". No space left on device");

    // A table path that would replace the stations is refused before
    // anything is written.
    host = FakeCalcHost();
    Parameters();
    qc.table_path = dir.File("survey.dat");
    EXPECT_EQ(Run(Lattice(6)), CalcResult::Refused);
    EXPECT_EQ(TempDir::Read(dir.File("survey.dat")), Lattice(6));
}
