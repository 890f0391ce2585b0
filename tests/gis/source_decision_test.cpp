// How a file is taken: a station text file (with or without a recognised
// header), delimited or blank-separated text with a header, or a format GDAL
// identifies.
#include <string>

#include <gtest/gtest.h>

#include "VectorFixture.h"
#include "gis/TableSource.h"
#include "support/TempDir.h"

TEST(SourceDecision, TextFiles) {
    struct Case {
        const char *name;
        const char *content;
        const char *columns;
        SourceKind kind;
        TableFormat format;
        bool station_header;
    };
    const Case cases[] = {
        {"station lines", "1 2 A 3 4\n5 6 B 7 8\n", "", SourceKind::StationText,
         TableFormat::None, false},
        {"station header", "x y point h value\n1 2 A 3 4\n", "",
         SourceKind::StationText, TableFormat::None, true},
        {"station header with its own names",
         "Easting  Northing  Station  Elev  CBA[mGal]\n1 2 A 3 4\n", "",
         SourceKind::StationText, TableFormat::None, true},
        {"unrecognised header", "# survey of 2024\n1 2 A 3 4\n", "",
         SourceKind::StationText, TableFormat::None, false},
        {"header without a value", "x y point h\n1 2 A 3\n", "",
         SourceKind::StationText, TableFormat::None, false},
        {"comma header in station order", "x,y,point,h,value\n1,2,A,3,4\n", "",
         SourceKind::Table, TableFormat::Delimited, false},
        {"comma header in another order", "name,value,h,y,x\nA,4,3,2,1\n", "",
         SourceKind::Table, TableFormat::Delimited, false},
        {"semicolons", "x;y;cba\n1;2;3\n", "", SourceKind::Table,
         TableFormat::Delimited, false},
        {"tabs", "lon\tlat\tba\n1\t2\t3\n", "", SourceKind::Table,
         TableFormat::Delimited, false},
        {"blank header in another order", "name x y h value\nA 1 2 3 4\n", "",
         SourceKind::Table, TableFormat::BlankText, false},
        {"blank header in degrees", "lon lat name h value\n1 2 A 3 4\n", "",
         SourceKind::Table, TableFormat::BlankText, false},
        {"byte order mark and blank lines first",
         "\xEF\xBB\xBF\n  \r\n\tstation,easting,northing,ba\r\nA,1,2,3\r\n", "",
         SourceKind::Table, TableFormat::Delimited, false},
        {"--columns makes a table", "a b c\n1 2 3\n", "x=a,y=b,value=c",
         SourceKind::Table, TableFormat::BlankText, false},
        {"--columns with a station header", "x y point h value\n1 2 A 3 4\n",
         "value=value", SourceKind::Table, TableFormat::BlankText, false},
        {"--columns with commas", "a,b,c\n1,2,3\n", "x=a,y=b,value=c",
         SourceKind::Table, TableFormat::Delimited, false},
        // 2026-12-10, issue 18: a header naming some columns read as a
        // station file, and the error blamed the decimal separator.
        {"delimited header naming some columns",
         "Easting_M;Northing_M;Grav_thing;ELEV_M\n1;2;3;4\n", "",
         SourceKind::Table, TableFormat::Delimited, false},
        {"delimited header in station order, value unknown",
         "x,y,name,h,grav_thing\n1,2,A,3,4\n", "", SourceKind::StationText,
         TableFormat::None, false},
        {"delimited station line whose name is a column's",
         "1,2,N,3,4\n5,6,E,7,8\n", "", SourceKind::StationText,
         TableFormat::None, false},
        {"delimited header naming nothing", "a,b,c,d\n1,2,3,4\n", "",
         SourceKind::StationText, TableFormat::None, false},
        {"blank header naming some columns", "Easting Northing Schwere Elev\n",
         "", SourceKind::StationText, TableFormat::None, false},
        {"empty file", "", "", SourceKind::StationText, TableFormat::None,
         false},
        {"blank file", "\n \n\t\n", "", SourceKind::StationText,
         TableFormat::None, false},
        {"text that is not JSON", "{ not json at all\n1 2 A 3 4\n", "",
         SourceKind::StationText, TableFormat::None, false},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("survey.csv", c.content);
        TableOptions options;
        if (std::string(c.columns).empty() == false) {
            ColumnsOption named;
            ASSERT_TRUE(ParseColumnsOption(c.columns, named).ok());
            options.columns = named;
        }
        const SourceDecision decision = DecideSource(path, options);
        EXPECT_EQ(decision.kind, c.kind);
        EXPECT_EQ(decision.format, c.format);
        EXPECT_EQ(decision.station_header, c.station_header);
        EXPECT_EQ(decision.driver, ""); // text is read without GDAL
    }
}

TEST(SourceDecision, StationHeaderSaysWhatItRecognised) {
    TempDir dir;
    const std::string path =
        dir.Write("s.dat", "Easting Northing Station Elev CBA\n1 2 A 3 4\n");
    const SourceDecision decision = DecideSource(path, {});
    ASSERT_TRUE(decision.station_header);
    EXPECT_EQ(DescribeColumns(decision.header_columns, decision.header),
              "x = Easting, y = Northing, point = Station, h = Elev, value = "
              "CBA");
}

TEST(SourceDecision, FormatsGdalIdentifies) {
    struct Case {
        const char *name;
        const char *file;
        const char *driver;
    };
    const Case cases[] = {
        {"GeoPackage", "s.gpkg", "GPKG"},
        {"XLSX", "s.xlsx", "XLSX"},
        {"ODS", "s.ods", "ODS"},
        {"GeoJSON", "s.geojson", "GeoJSON"},
        {"FlatGeobuf", "s.fgb", "FlatGeobuf"},
        {"Shapefile", "s.shp", "ESRI Shapefile"},
    };
    TempDir dir;
    const std::vector<FixtureField> fields = {{"name", OFTString},
                                              {"cba", OFTReal}};
    const std::vector<FixtureRow> rows = {
        {{std::string("A"), 1.5}, true, 10.0, 20.0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(c.file);
        std::string error;
        ASSERT_TRUE(WriteVectorLayer(path, c.driver, "survey", 32719, true,
                                     fields, rows, error))
            << error;
        const SourceDecision decision = DecideSource(path, {});
        EXPECT_EQ(decision.kind, SourceKind::Table);
        EXPECT_EQ(decision.format, TableFormat::Gdal);
        EXPECT_EQ(decision.driver, c.driver);
    }
    // A folder holding a Shapefile is a table too.
    const SourceDecision folder = DecideSource(dir.File(""), {});
    EXPECT_EQ(folder.kind, SourceKind::Table);
}

TEST(SourceDecision, FilesThatCannotBeReadStayStationFiles) {
    // The station reader then says why, as it always did.
    TempDir dir;
    EXPECT_EQ(DecideSource(dir.File("missing.dat"), {}).kind,
              SourceKind::StationText);
    const std::string binary =
        dir.Write("noise.bin", std::string("\x01\x02\x00\x7f\xff", 5));
    EXPECT_EQ(DecideSource(binary, {}).kind, SourceKind::StationText);
}
