// Reading tables into stations: the same doubles as the station text parser
// for CSV, semicolon, tab and blank-separated text and for spreadsheets;
// typed layers as stored; rows without numbers; layers; bad sources.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VectorFixture.h"
#include "app/StationFile.h"
#include "gis/TableSource.h"
#include "support/TempDir.h"

namespace {

// Station lines in the station text format. The x of the second needs the
// station parser's conversion: strtod rounds it to another double.
const std::vector<std::string> station_lines = {
    "449883.46 7187666.23 SA10109 1088.0 -135.284",
    "756120.3546604891889756120 7194298.60 SA10110 1058.0 -132.169",
    "451210.41 7227446.48 SA10111 1009.0 -122.21",
    "362472.40 6008599.50 LDM001 2185.5 -11.553",
    "0.1 1e5 P 0 -0.000",
};

std::vector<std::string> Words(const std::string &line) {
    return SplitTextLine(line, TextSeparator::Blank);
}

std::vector<Station> ParsedStations() {
    std::vector<Station> stations;
    for (const std::string &line : station_lines) {
        Station station{};
        EXPECT_TRUE(ParseStationLine(NormaliseLine(line, '.'), station, '.'));
        stations.push_back(station);
    }
    return stations;
}

// The same stations as a table: columns name, value, h, northing, easting.
std::string TableText(const std::string &header, char separator) {
    std::string text = header + "\n";
    for (const std::string &line : station_lines) {
        const auto w = Words(line);
        text += w[2] + separator + w[4] + separator + w[3] + separator + w[1] +
                separator + w[0] + "\n";
    }
    return text;
}

// Reads `path` as DecideSource says; the read must succeed.
TableData ReadOk(const std::string &path, const TableOptions &options = {}) {
    const SourceDecision decision = DecideSource(path, options);
    EXPECT_EQ(decision.kind, SourceKind::Table);
    TableData table;
    const GisError error = ReadTable(path, decision, options, table);
    EXPECT_TRUE(error.ok()) << GisMessage(error);
    return table;
}

// Exact comparison: both sides come from the same text by the same
// conversion, or from the same stored double.
void ExpectSameStations(const TableData &table, bool names) {
    const std::vector<Station> expected = ParsedStations();
    ASSERT_EQ(table.rows.stations.Size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(station_lines[i]);
        const ListedStation &got = table.rows.stations[i];
        EXPECT_EQ(got.x, expected[i].x);
        EXPECT_EQ(got.y, expected[i].y);
        EXPECT_EQ(got.h, expected[i].h);
        EXPECT_EQ(got.value, expected[i].value);
        EXPECT_EQ(table.rows.stations.Name(i),
                  names ? std::string(expected[i].point)
                        : std::to_string(i + 1));
        EXPECT_EQ(got.row, static_cast<int64_t>(i) + 1);
    }
    EXPECT_EQ(table.rows.skipped, 0);
}

} // namespace

TEST(TableReader, OracleNeedsTheStationParsersConversion) {
    // Guards the fixture: a reader converting with strtod would differ here.
    const std::vector<Station> stations = ParsedStations();
    EXPECT_NE(stations[1].x,
              std::strtod("756120.3546604891889756120", nullptr));
}

TEST(TableReader, DelimitedAndBlankTextGiveTheStationParsersDoubles) {
    struct Case {
        const char *name;
        std::string content;
        TableFormat format;
    };
    const Case cases[] = {
        {"comma",
         TableText("Station,CBA [mGal],Elevation,Northing,Easting", ','),
         TableFormat::Delimited},
        {"semicolon", TableText("name;bouguer;elev;y;x", ';'),
         TableFormat::Delimited},
        {"tab", TableText("stn\tba\th\tnorth\teast", '\t'),
         TableFormat::Delimited},
        {"blank", TableText("name   value h   y    x", ' '),
         TableFormat::BlankText},
        {"CRLF and a byte order mark",
         "\xEF\xBB\xBF" + TableText("name,value,h,y,x", ','),
         TableFormat::Delimited},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string content = c.content;
        if (std::string(c.name).rfind("CRLF", 0) == 0) {
            std::string crlf;
            for (const char ch : content)
                crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
            content = crlf;
        }
        const std::string path = dir.Write("survey.txt", content);
        EXPECT_EQ(DecideSource(path, {}).format, c.format);
        const TableData table = ReadOk(path);
        EXPECT_EQ(table.fields.size(), 5u);
        EXPECT_FALSE(table.choice.geographic);
        EXPECT_TRUE(table.layer_crs.empty());
        ExpectSameStations(table, true);
    }
}

TEST(TableReader, SpreadsheetsGiveTheStationParsersDoubles) {
    // Cells written as texts and as numbers; both read as the sheet's text.
    TempDir dir;
    for (const char *driver : {"XLSX", "ODS"}) {
        for (const bool typed : {false, true}) {
            SCOPED_TRACE(std::string(driver) + (typed ? " numbers" : " texts"));
            const std::string path =
                dir.File(std::string("s") + (typed ? "n." : "t.") +
                         (driver[0] == 'X' ? "xlsx" : "ods"));
            const OGRFieldType number = typed ? OFTReal : OFTString;
            const std::vector<FixtureField> fields = {{"Point", OFTString},
                                                      {"Easting", number},
                                                      {"Northing", number},
                                                      {"Bouguer", number},
                                                      {"Height", number}};
            std::vector<FixtureRow> rows;
            const std::vector<Station> parsed = ParsedStations();
            for (size_t i = 0; i < station_lines.size(); ++i) {
                const auto w = Words(station_lines[i]);
                if (typed) {
                    // the 26-digit x has no cell of its own as a number
                    if (i == 1)
                        continue;
                    rows.push_back({{w[2], parsed[i].x, parsed[i].y,
                                     parsed[i].value, parsed[i].h}});
                } else {
                    rows.push_back({{w[2], w[0], w[1], w[4], w[3]}});
                }
            }
            std::string error;
            ASSERT_TRUE(WriteVectorLayer(path, driver, "survey", 0, false,
                                         fields, rows, error))
                << error;
            // a comma for the user's text files changes nothing in a sheet
            TableOptions options;
            options.decimal_separator = ',';
            const TableData table = ReadOk(path, options);
            ASSERT_EQ(table.rows.stations.Size(), rows.size());
            size_t k = 0;
            for (size_t i = 0; i < parsed.size(); ++i) {
                if (typed && i == 1)
                    continue;
                SCOPED_TRACE(station_lines[i]);
                const ListedStation &got = table.rows.stations[k];
                EXPECT_EQ(got.x, parsed[i].x);
                EXPECT_EQ(got.y, parsed[i].y);
                EXPECT_EQ(got.h, parsed[i].h);
                EXPECT_EQ(got.value, parsed[i].value);
                EXPECT_EQ(table.rows.stations.Name(k++), parsed[i].point);
            }
        }
    }
}

TEST(TableReader, GeoPackageWithPointGeometryAsStored) {
    TempDir dir;
    const std::string path = dir.File("survey.gpkg");
    const std::vector<Station> parsed = ParsedStations();
    std::vector<FixtureRow> rows;
    for (const Station &s : parsed)
        rows.push_back({{std::string(s.point), s.h, s.value}, true, s.x, s.y});
    std::string error;
    ASSERT_TRUE(WriteVectorLayer(
        path, "GPKG", "stations", 32719, true,
        {{"station", OFTString}, {"elevation", OFTReal}, {"cba", OFTReal}},
        rows, error))
        << error;
    const TableData table = ReadOk(path);
    EXPECT_EQ(table.layer, "stations");
    EXPECT_EQ(table.choice.origin[0], ColumnOrigin::Geometry);
    EXPECT_NE(table.layer_crs.find("32719"), std::string::npos);
    ExpectSameStations(table, true);
}

TEST(TableReader, NoNameAndNoHeight) {
    TempDir dir;
    const std::string path =
        dir.Write("s.csv", "easting,northing,cba\n1,2,3\n\n4,5,6\n");
    const TableData table = ReadOk(path);
    ASSERT_EQ(table.rows.stations.Size(), 2u);
    EXPECT_EQ(table.rows.stations.Name(0), "1");
    EXPECT_EQ(table.rows.stations.Name(1), "2"); // blank lines are no rows
    EXPECT_TRUE(std::isnan(table.rows.stations[1].h));
    EXPECT_EQ(DescribeColumns(table.choice, table.fields),
              "x = easting, y = northing, point = row number, h = none, value "
              "= cba");
}

TEST(TableReader, SurveyFieldRecognisedOrNamed) {
    // The survey of each row: recognised by its name, or named with
    // --columns; an empty cell is no survey; without the field none is kept.
    TempDir dir;
    const std::string path = dir.Write(
        "s.csv", "easting,northing,cba,campaign,crew\n1,2,3,BGS 1978,A\n"
                 "4,5,6,,B\n7,8,9,BGS 1978,A\n");
    const TableData recognised = ReadOk(path);
    const TListedStations &stations = recognised.rows.stations;
    ASSERT_TRUE(stations.HasSurveys());
    ASSERT_EQ(stations.Size(), 3u);
    EXPECT_EQ(stations.Survey(0), "BGS 1978");
    EXPECT_EQ(stations.Survey(1), "");
    EXPECT_EQ(stations.Survey(2), "BGS 1978");
    EXPECT_EQ(DescribeColumns(recognised.choice, recognised.fields),
              "x = easting, y = northing, point = row number, h = none, value "
              "= cba, survey = campaign");

    TableOptions options;
    options.columns.emplace();
    ASSERT_TRUE(ParseColumnsOption("survey=crew", *options.columns).ok());
    const TableData named = ReadOk(path, options);
    EXPECT_EQ(named.rows.stations.Survey(1), "B");

    const TableData none = ReadOk(dir.Write("t.csv", "easting,northing,cba\n1,2,3\n"));
    EXPECT_FALSE(none.rows.stations.HasSurveys());
    EXPECT_EQ(none.rows.stations.Survey(0), "");
}

TEST(TableReader, RowsWithoutNumbersAreSkippedAndCounted) {
    struct Case {
        const char *name;
        const char *file;
        const char *content;
    };
    const Case cases[] = {
        {"comma", "s.csv",
         "x,y,name,value\n1,2,A,3\n,2,B,3\n1,2,C,n/a\n1,2,D,\n1,x,E,3\n"
         "4,5,F,6\n"},
        {"blank", "s.dat",
         "name value y x\nA 3 2 1\nB 3 2\nC n/a 2 1\nD 3 2 1e999\nE 3 x 1\n"
         "F 6 5 4\n"},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const TableData table = ReadOk(dir.Write(c.file, c.content));
        ASSERT_EQ(table.rows.stations.Size(), 2u);
        EXPECT_EQ(table.rows.stations.Name(0), "A");
        EXPECT_EQ(table.rows.stations.Name(1), "F");
        EXPECT_EQ(table.rows.stations[1].row, 6);
        EXPECT_EQ(table.rows.skipped, 4);
        ASSERT_EQ(table.rows.first_skipped.size(), 4u);
        EXPECT_EQ(table.rows.first_skipped[0].row, 2);
        EXPECT_EQ(DescribeSkippedRow(table.rows.first_skipped[1]),
                  "row 3: value \"n/a\" is not a number");
        EXPECT_EQ(table.rows.first_skipped[3].role, ColumnRole::Y);
    }
}

TEST(TableReader, HeaderOnlyGivesNoStation) {
    TempDir dir;
    const TableData table = ReadOk(dir.Write("s.csv", "x,y,value\n"));
    EXPECT_TRUE(table.rows.stations.Empty());
    EXPECT_EQ(table.rows.skipped, 0);
}

TEST(TableReader, ColumnsOptionAndItsErrors) {
    TempDir dir;
    const std::string path =
        dir.Write("s.csv", "Rechtswert,Hochwert,Stn No,Grav,BA,CBA\n"
                           "1,2,A,9,3,4\n");
    TableOptions options;
    options.columns.emplace();
    ASSERT_TRUE(
        ParseColumnsOption("x=rechtswert,y=hochwert,point=Stn No,value=cba",
                           *options.columns)
            .ok());
    const TableData table = ReadOk(path, options);
    ASSERT_EQ(table.rows.stations.Size(), 1u);
    EXPECT_EQ(table.rows.stations[0].value, 4.0);
    EXPECT_EQ(table.rows.stations.Name(0), "A");

    struct Case {
        const char *columns;
        GisProblem problem;
    };
    const Case cases[] = {
        {"", GisProblem::MissingRole}, // no known x and y
        {"x=Rechtswert,y=Hochwert", GisProblem::AmbiguousRole}, // BA and CBA
        {"x=Rechtswert,y=Hochwert,value=FAA", GisProblem::UnknownField},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.columns);
        options.columns.reset();
        if (*c.columns != '\0') {
            options.columns.emplace();
            ASSERT_TRUE(ParseColumnsOption(c.columns, *options.columns).ok());
        }
        SourceDecision decision;
        decision.kind = SourceKind::Table;
        decision.format = TableFormat::Delimited;
        TableData read;
        const GisError error = ReadTable(path, decision, options, read);
        EXPECT_EQ(error.problem, c.problem);
        if (c.problem != GisProblem::ColumnsSyntax) {
            EXPECT_EQ(GisMessage(error).rfind(path + ": ", 0), 0u)
                << GisMessage(error);
        }
    }
}

TEST(TableReader, Layers) {
    TempDir dir;
    const std::string path = dir.File("two.gpkg");
    const std::vector<FixtureField> fields = {{"cba", OFTReal}};
    std::string error;
    ASSERT_TRUE(WriteVectorLayer(path, "GPKG", "north", 32619, true, fields,
                                 {{{1.0}, true, 1.0, 2.0}}, error))
        << error;
    ASSERT_TRUE(WriteVectorLayer(
        path, "GPKG", "south", 32719, true, fields,
        {{{7.0}, true, 3.0, 4.0}, {{8.0}, true, 5.0, 6.0}}, error))
        << error;
    const SourceDecision decision = DecideSource(path, {});
    TableData table;
    GisError refused = ReadTable(path, decision, {}, table);
    EXPECT_EQ(refused.problem, GisProblem::SeveralLayers);
    EXPECT_TRUE(IsUsageProblem(refused.problem));
    EXPECT_EQ(GisMessage(refused),
              path + ": holds several layers; choose one with --layer NAME. "
                     "Layers: north, south.");

    TableOptions options;
    options.layer = "south";
    table = ReadOk(path, options);
    EXPECT_EQ(table.layer, "south");
    ASSERT_EQ(table.rows.stations.Size(), 2u);
    EXPECT_EQ(table.rows.stations[1].x, 5.0);
    EXPECT_NE(table.layer_crs.find("32719"), std::string::npos);

    options.layer = "east";
    refused = ReadTable(path, decision, options, table);
    EXPECT_EQ(refused.problem, GisProblem::LayerNotFound);
    EXPECT_EQ(GisMessage(refused),
              path + ": has no layer \"east\". Layers: north, south.");

    // 2026-12-10, issue 19: --layer on a text table was ignored.
    const std::string csv = dir.Write("s.csv", "x,y,value\n1,2,3\n");
    options.layer = "s";
    refused = ReadTable(csv, DecideSource(csv, options), options, table);
    EXPECT_EQ(refused.problem, GisProblem::NoLayers);
    EXPECT_TRUE(IsUsageProblem(refused.problem));
}

TEST(TableReader, SourcesThatCannotBeOpened) {
    TempDir dir;
    struct Case {
        const char *name;
        std::string path;
        TableFormat format;
        const char *driver;
    };
    const std::string garbage =
        dir.Write("broken.gpkg", std::string("SQLite format 3\0garbage", 23));
    const Case cases[] = {
        {"missing CSV", dir.File("missing.csv"), TableFormat::Delimited, ""},
        {"missing blank text", dir.File("missing.dat"), TableFormat::BlankText,
         ""},
        {"broken GeoPackage", garbage, TableFormat::Gdal, "GPKG"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SourceDecision decision;
        decision.kind = SourceKind::Table;
        decision.format = c.format;
        decision.driver = c.driver;
        TableData table;
        const GisError error = ReadTable(c.path, decision, {}, table);
        EXPECT_EQ(error.problem, GisProblem::CannotOpen);
        EXPECT_FALSE(IsUsageProblem(error.problem));
        const std::string message = GisMessage(error);
        EXPECT_EQ(message.rfind(c.path + ": cannot be read as a table. ", 0),
                  0u)
            << message;
        EXPECT_GT(message.size(), c.path.size() + 30); // a reason follows
    }
}

TEST(TableReader, LayerWithoutPointGeometryNeedsCoordinateFields) {
    TempDir dir;
    const std::string path = dir.File("table.gpkg");
    std::string error;
    ASSERT_TRUE(WriteVectorLayer(path, "GPKG", "gravity", 0, false,
                                 {{"name", OFTString}, {"cba", OFTReal}},
                                 {{{std::string("A"), 1.0}}}, error))
        << error;
    TableData table;
    const GisError refused = ReadTable(path, DecideSource(path, {}), {}, table);
    EXPECT_EQ(refused.problem, GisProblem::MissingRole);
    EXPECT_EQ(refused.role, ColumnRole::X);
    EXPECT_EQ(refused.fields, (std::vector<std::string>{"name", "cba"}));
}

TEST(TableReader, DecimalCommaInTextTables) {
    TempDir dir;
    struct Case {
        const char *name;
        const char *content;
    };
    const Case cases[] = {
        {"semicolons", "x;y;name;value\n1,5;-2,25;A;3,125\n"},
        {"tabs", "x\ty\tname\tvalue\n1,5\t-2,25\tA\t3,125\n"},
        {"blanks", "name x y value\nA 1,5 -2,25 3,125\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TableOptions options;
        options.decimal_separator = ',';
        const TableData table = ReadOk(dir.Write("s.txt", c.content), options);
        ASSERT_EQ(table.rows.stations.Size(), 1u);
        EXPECT_EQ(table.rows.stations[0].x, 1.5); // exact: binary fractions
        EXPECT_EQ(table.rows.stations[0].y, -2.25);
        EXPECT_EQ(table.rows.stations[0].value, 3.125);
    }
}

TEST(TableReader, QuotedFieldsAndAQuoteLeftOpen) {
    TempDir dir;
    // A name over two lines, a separator inside quotes: one row each.
    const TableData table =
        ReadOk(dir.Write("q.csv", "name,x,y,value\n\"two\nlines\",1,2,3\n"
                                  "\"a,b\",4,5,6\n"));
    ASSERT_EQ(table.rows.stations.Size(), 2u);
    EXPECT_EQ(table.rows.stations.Name(0), "two\nlines");
    EXPECT_EQ(table.rows.stations.Name(1), "a,b");
    EXPECT_EQ(table.rows.stations[1].row, 2);

    // 2026-12-10, issue 19: a quote left open swallowed every row after it.
    for (const char separator : {',', ' '}) {
        SCOPED_TRACE(std::string("separator '") + separator + "'");
        std::string text = std::string("x y name value\n");
        std::replace(text.begin(), text.end(), ' ', separator);
        for (int k = 1; k <= 191; ++k) {
            std::string row =
                k == 51 ? "1 2 \"open 3 4" : std::to_string(k) + " 2 P 3";
            std::replace(row.begin(), row.end(), ' ', separator);
            text += row + "\n";
        }
        const std::string path = dir.Write("open.txt", text);
        TableData read;
        const GisError error =
            ReadTable(path, DecideSource(path, {}), {}, read);
        EXPECT_EQ(error.problem, GisProblem::OpenQuote);
        EXPECT_FALSE(IsUsageProblem(error.problem));
        EXPECT_EQ(GisMessage(error),
                  path + ": the quote that opens a field in row 51 (line 52) "
                         "is never closed: every row after it would be read "
                         "as part of that field. Close the quote or remove "
                         "it.");
    }
}

TEST(TableReader, TextTablesInTheirEncoding) {
    // 2026-12-10, issue 18: --encoding was ignored for tables, and Latin-1
    // names went on as bytes that are not UTF-8.
    struct Case {
        const char *name;
        std::string content;
        const char *encoding;
        const char *point; // UTF-8
    };
    // UTF-16LE of Latin-1 text: each byte, then a zero byte.
    std::string utf16 = "\xFF\xFE"; // its byte order mark
    for (const char c : std::string("name,x,y,ba\n\xE9,1,2,3\n")) {
        utf16 += c;
        utf16 += '\0';
    }
    const Case cases[] = {
        {"Latin-1 CSV", "name;x;y;ba\nCaf\xE9_18;1;2;3\n", "LATIN1",
         "Caf\xC3\xA9_18"},
        {"Windows-1250 blank-separated",
         "name x y ba\n\xA3\xF3\x64\x9F 1 2 3\n", "WINDOWS-1250",
         "\xC5\x81\xC3\xB3\x64\xC5\xBA"},
        {"UTF-16 with a byte order mark", utf16, "UTF-16", "\xC3\xA9"},
        {"UTF-8 named", "name,x,y,ba\n\xC3\xA9,1,2,3\n", "UTF-8", "\xC3\xA9"},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TableOptions options;
        options.encoding = c.encoding;
        const TableData table = ReadOk(dir.Write("e.txt", c.content), options);
        ASSERT_EQ(table.rows.stations.Size(), 1u);
        EXPECT_EQ(table.rows.stations.Name(0), c.point);
        EXPECT_EQ(table.rows.stations[0].value, 3.0);
    }

    // Without --encoding the bytes must be UTF-8: the line is named.
    const std::string path = dir.Write("latin1.csv", "name;x;y;ba\n"
                                                     "A;1;2;3\n"
                                                     "Caf\xE9_18;1;2;3\n");
    TableData table;
    const GisError error = ReadTable(path, DecideSource(path, {}), {}, table);
    EXPECT_EQ(error.problem, GisProblem::NotText);
    EXPECT_EQ(GisMessage(error),
              path + ": line 3 is not UTF-8 text. A file saved in another "
                     "encoding is read with --encoding NAME (for example "
                     "--encoding LATIN1).");
}
