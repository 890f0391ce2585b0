// Which field is x, y, point, h and value: the recognition of field names,
// the --columns option, ambiguous and missing roles, and the messages.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gis/ColumnChoice.h"

namespace {

std::vector<std::string> Fields(std::initializer_list<const char *> names) {
    return {names.begin(), names.end()};
}

// The chosen column of each role, in the order x, y, point, h, value.
// The columns of x, y, point, h and value, then the survey's when there is
// one.
std::vector<int> Columns(const ColumnChoice &choice) {
    const int survey = choice.Column(ColumnRole::Survey);
    std::vector<int> columns(choice.column.begin(),
                             choice.column.begin() + station_role_count);
    if (survey != no_column)
        columns.push_back(survey);
    return columns;
}

} // namespace

TEST(FieldRecognition, NamesAndTheirRoles) {
    struct Case {
        const char *name;
        ColumnRole role;
        bool geographic;
        int tier;
    };
    const Case cases[] = {
        {"x", ColumnRole::X, false, 0},
        {"Easting", ColumnRole::X, false, 0},
        {"Survey", ColumnRole::Survey, false, 0},
        {"survey_id", ColumnRole::Survey, false, 0},
        {"CAMPAIGN", ColumnRole::Survey, false, 0},
        {"project", ColumnRole::Survey, false, 0},
        {"Source", ColumnRole::Survey, false, 0},
        {"dataset", ColumnRole::Survey, false, 0},
        {"EAST", ColumnRole::X, false, 0},
        {"x[m]", ColumnRole::X, false, 0},
        {"UTM_E", ColumnRole::X, false, 0},
        {"X UTM (m)", ColumnRole::X, false, 0},
        {"E", ColumnRole::X, false, 1},
        {"northing", ColumnRole::Y, false, 0},
        {"Y", ColumnRole::Y, false, 0},
        {"n", ColumnRole::Y, false, 1},
        {"Longitude", ColumnRole::X, true, 0},
        {"lon", ColumnRole::X, true, 0},
        {"LONG", ColumnRole::X, true, 0},
        {"lng", ColumnRole::X, true, 0},
        {"lon_deg", ColumnRole::X, true, 0},
        {"Latitude [deg]", ColumnRole::Y, true, 0},
        {"lat", ColumnRole::Y, true, 0},
        {"Station", ColumnRole::Point, false, 0},
        {"name", ColumnRole::Point, false, 0},
        {"Station_ID", ColumnRole::Point, false, 0},
        {"stn", ColumnRole::Point, false, 0},
        {"ID", ColumnRole::Point, false, 1},
        {"h", ColumnRole::H, false, 0},
        {"Elevation (m)", ColumnRole::H, false, 0},
        {"elev_m", ColumnRole::H, false, 0},
        {"ALT", ColumnRole::H, false, 0},
        {"height", ColumnRole::H, false, 0},
        {"cba[mGal]", ColumnRole::Value, false, 0},
        {"Bouguer anomaly", ColumnRole::Value, false, 0},
        {"BA", ColumnRole::Value, false, 0},
        {"uba", ColumnRole::Value, false, 0},
        {"sba_mgal", ColumnRole::Value, false, 0},
        {"value", ColumnRole::Value, false, 0},
        {"anomaly", ColumnRole::Value, false, 0},
        {"Free-air", ColumnRole::Value, false, 1},
        {"FAA", ColumnRole::Value, false, 1},
        {"gravity", ColumnRole::Value, false, 2},
        {"grav", ColumnRole::Value, false, 2},
        // 2026-12-10, issue 18: names recognised by their words.
        {"Easting_M", ColumnRole::X, false, 0},
        {"EAST (m BNG)", ColumnRole::X, false, 0},
        {"Easting_UTM_m", ColumnRole::X, false, 0},
        {"E local", ColumnRole::X, false, 1},
        {"Northing_M", ColumnRole::Y, false, 0},
        {"LAT_DD", ColumnRole::Y, true, 0},
        {"long deg", ColumnRole::X, true, 0},
        {"Stn No", ColumnRole::Point, false, 0},
        {"Station Name", ColumnRole::Point, false, 0},
        {"ELEV_M", ColumnRole::H, false, 0},
        {"HT (m)", ColumnRole::H, false, 0},
        {"Station elev (m)", ColumnRole::H, false, 0},
        {"m elevation", ColumnRole::H, false, 0},
        {"Bouguer_anom", ColumnRole::Value, false, 0},
        {"BA (mgal)", ColumnRole::Value, false, 0},
        {"Complete Bouguer anomaly", ColumnRole::Value, false, 0},
        {"Bouguer gravity anomaly", ColumnRole::Value, false, 0},
        {"Free_air_anom", ColumnRole::Value, false, 1},
        {"Observed gravity (mGal)", ColumnRole::Value, false, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto known = RecogniseField(c.name);
        ASSERT_TRUE(known.has_value());
        EXPECT_EQ(known->role, c.role);
        EXPECT_EQ(known->geographic, c.geographic);
        EXPECT_EQ(known->tier, c.tier);
    }
}

TEST(FieldRecognition, NamesNotRecognised) {
    // A unit alone is not dropped ("m"), and a word must match whole; words
    // of two roles, or a word not known, leave a name unrecognised.
    for (const char *name :
         {"", "[m]", "m", "comment", "xx", "date", "bouguer2", "station name x",
          "lat lon", "zz", "lat_lon", "Elev_error", "Bouguer correction", "x y",
          "utm", "Grid", "Easting_2", "m deg"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(RecogniseField(name).has_value());
    }
}

TEST(ColumnChoice, HeadersGiveColumns) {
    constexpr int none = no_column;
    struct Case {
        const char *name;
        std::vector<std::string> fields;
        std::vector<int> columns; // x, y, point, h, value[, survey]
        bool geographic;
    };
    const Case cases[] = {
        {"station order",
         Fields({"x", "y", "point", "h", "value"}),
         {0, 1, 2, 3, 4},
         false},
        {"another order",
         Fields({"Station", "CBA [mGal]", "Elevation", "Northing", "Easting"}),
         {4, 3, 0, 2, 1},
         false},
        {"no name, no height",
         Fields({"easting", "northing", "bouguer"}),
         {0, 1, none, none, 2},
         false},
        {"longitude and latitude",
         Fields({"lat", "lon", "id", "cba"}),
         {1, 0, 2, none, 3},
         true},
        {"unknown fields left out",
         Fields({"date", "x", "comment", "y", "ba", "operator"}),
         {1, 3, none, none, 4},
         false},
        {"station beats id",
         Fields({"id", "station", "x", "y", "value"}),
         {2, 3, 1, none, 4},
         false},
        {"x beats e",
         Fields({"e", "x", "y", "value"}),
         {1, 2, none, none, 3},
         false},
        {"Bouguer beats free-air and gravity",
         Fields({"x", "y", "gravity", "faa", "cba"}),
         {0, 1, none, none, 4},
         false},
        {"a survey field",
         Fields({"project", "x", "y", "ba"}),
         {1, 2, none, none, 3, 0},
         false},
        {"free-air beats gravity",
         Fields({"x", "y", "g", "free_air"}),
         {0, 1, none, none, 3},
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ColumnChoice choice;
        const GisError error = ChooseColumns(c.fields, {}, false, choice);
        ASSERT_TRUE(error.ok()) << GisMessage(error);
        EXPECT_EQ(Columns(choice), c.columns);
        EXPECT_EQ(choice.geographic, c.geographic);
    }
}

TEST(ColumnChoice, HeaderOfNamesWithUnits) {
    // 2026-12-10, issue 18: this header was not recognised at all.
    ColumnChoice choice;
    const auto fields =
        Fields({"Easting_M", "Northing_M", "Bouguer_anom", "ELEV_M"});
    ASSERT_TRUE(ChooseColumns(fields, {}, false, choice).ok());
    EXPECT_EQ(Columns(choice), (std::vector<int>{0, 1, no_column, 3, 2}));
    // Two heights by their words stay ambiguous, and both are named.
    const GisError error = ChooseColumns(
        Fields({"EAST (m BNG)", "NORTH (m BNG)", "HT (m)", "ELEV_M", "BA"}), {},
        false, choice);
    EXPECT_EQ(error.problem, GisProblem::AmbiguousRole);
    EXPECT_EQ(error.candidates, Fields({"HT (m)", "ELEV_M"}));
}

TEST(ColumnChoice, PlanarPairTakenBeforeLongitudeAndLatitude) {
    const auto fields = Fields({"lon", "lat", "easting", "northing", "ba"});
    ColumnChoice choice;
    ASSERT_TRUE(ChooseColumns(fields, {}, false, choice).ok());
    EXPECT_EQ(choice.Column(ColumnRole::X), 2);
    EXPECT_EQ(choice.Column(ColumnRole::Y), 3);
    EXPECT_FALSE(choice.geographic);
    EXPECT_EQ(choice.passed_over, (std::vector<int>{0, 1}));
}

TEST(ColumnChoice, AmbiguousAndMissingRoles) {
    struct Case {
        const char *name;
        std::vector<std::string> fields;
        GisProblem problem;
        ColumnRole role;
        std::vector<std::string> candidates;
    };
    const Case cases[] = {
        {"two Bouguer anomalies", Fields({"x", "y", "ba", "cba"}),
         GisProblem::AmbiguousRole, ColumnRole::Value, Fields({"ba", "cba"})},
        {"the same name twice", Fields({"x", "x", "y", "value"}),
         GisProblem::AmbiguousRole, ColumnRole::X, Fields({"x", "x"})},
        {"station and name", Fields({"station", "name", "x", "y", "value"}),
         GisProblem::AmbiguousRole, ColumnRole::Point,
         Fields({"station", "name"})},
        {"two heights", Fields({"x", "y", "h", "elevation", "value"}),
         GisProblem::AmbiguousRole, ColumnRole::H, Fields({"h", "elevation"})},
        {"no value",
         Fields({"x", "y", "station", "h"}),
         GisProblem::MissingRole,
         ColumnRole::Value,
         {}},
        {"no y",
         Fields({"easting", "station", "cba"}),
         GisProblem::MissingRole,
         ColumnRole::Y,
         {}},
        {"no coordinates",
         Fields({"station", "cba"}),
         GisProblem::MissingRole,
         ColumnRole::X,
         {}},
        {"nothing at all", {}, GisProblem::MissingRole, ColumnRole::X, {}},
        {"easting with latitude", Fields({"easting", "latitude", "cba"}),
         GisProblem::MixedCoordinates, ColumnRole::X,
         Fields({"easting", "latitude"})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ColumnChoice choice;
        const GisError error = ChooseColumns(c.fields, {}, false, choice);
        EXPECT_EQ(error.problem, c.problem);
        EXPECT_EQ(error.role, c.role);
        EXPECT_EQ(error.candidates, c.candidates);
        EXPECT_EQ(error.fields, c.fields); // every field, for the message
        EXPECT_TRUE(IsUsageProblem(error.problem));
    }
}

TEST(ColumnChoice, MessagesNameTheFileTheRoleAndTheFields) {
    ColumnChoice choice;
    GisError error =
        ChooseColumns(Fields({"x", "y", "ba", "cba"}), {}, false, choice);
    error.file = "survey.csv";
    EXPECT_EQ(GisMessage(error),
              "survey.csv: more than one field could be the value column: ba, "
              "cba. Choose one with --columns value=FIELD. Fields: x, y, ba, "
              "cba.");
    error = ChooseColumns(Fields({"x", "y", "name"}), {}, false, choice);
    error.file = "survey.csv";
    EXPECT_EQ(GisMessage(error),
              "survey.csv: no field is recognised as the value column. Name it "
              "with --columns value=FIELD. Fields: x, y, name.");
}

TEST(ColumnsOption, ParsedRoles) {
    ColumnsOption option;
    ASSERT_TRUE(
        ParseColumnsOption(
            " X = Easting (m) ,y=North,VALUE=cba,point=Stn No,h=z", option)
            .ok());
    EXPECT_EQ(option.field[0], "Easting (m)");
    EXPECT_EQ(option.field[1], "North");
    EXPECT_EQ(option.field[2], "Stn No");
    EXPECT_EQ(option.field[3], "z");
    EXPECT_EQ(option.field[4], "cba");
    EXPECT_FALSE(option.geographic);

    ASSERT_TRUE(ParseColumnsOption("lon=LONGITUD,lat=LATITUD", option).ok());
    EXPECT_EQ(option.field[0], "LONGITUD");
    EXPECT_EQ(option.field[1], "LATITUD");
    EXPECT_TRUE(option.geographic);
}

TEST(ColumnsOption, Errors) {
    struct Case {
        const char *text;
        GisProblem problem;
        const char *message;
    };
    const Case cases[] = {
        {"x", GisProblem::ColumnsSyntax,
         "--columns: \"x\" is not ROLE=FIELD (roles: x, y, lon, lat, point, "
         "h, value)."},
        {"x=", GisProblem::ColumnsSyntax, nullptr},
        {"=a", GisProblem::ColumnsSyntax, nullptr},
        {"x=a,,y=b", GisProblem::ColumnsSyntax, nullptr},
        {"x=a,", GisProblem::ColumnsSyntax, nullptr},
        {"z=a", GisProblem::UnknownRole,
         "--columns: unknown role \"z\" (roles: x, y, lon, lat, point, h, "
         "value)."},
        {"x=a,X=b", GisProblem::DuplicateRole,
         "--columns: the x column is named twice."},
        {"x=a,lon=b", GisProblem::DuplicateRole, nullptr},
        {"x=a,y=A", GisProblem::FieldNamedTwice,
         "--columns: the field \"A\" is named for two roles."},
        {"x=e,lat=b", GisProblem::MixedCoordinates, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ColumnsOption option;
        const GisError error = ParseColumnsOption(c.text, option);
        EXPECT_EQ(error.problem, c.problem);
        EXPECT_TRUE(IsUsageProblem(error.problem));
        if (c.message != nullptr) {
            EXPECT_EQ(GisMessage(error), c.message);
        }
    }
}

TEST(ColumnsOption, NamedFieldsWinAndTheRestIsRecognised) {
    const auto fields =
        Fields({"X", "Y", "Stn", "ba", "cba", "LONGITUD", "LATITUD"});
    struct Case {
        const char *option;
        std::vector<int> columns;
        bool geographic;
    };
    const Case cases[] = {
        {"value=CBA", {0, 1, 2, -1, 4}, false},
        {"value=ba", {0, 1, 2, -1, 3}, false},
        {"lon=longitud,lat=latitud,value=ba", {5, 6, 2, -1, 3}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.option);
        ColumnsOption option;
        ASSERT_TRUE(ParseColumnsOption(c.option, option).ok());
        ColumnChoice choice;
        const GisError error = ChooseColumns(fields, option, false, choice);
        ASSERT_TRUE(error.ok()) << GisMessage(error);
        EXPECT_EQ(Columns(choice), c.columns);
        EXPECT_EQ(choice.geographic, c.geographic);
        EXPECT_EQ(choice.origin[4], ColumnOrigin::Named);
        EXPECT_EQ(choice.origin[2], ColumnOrigin::Recognised);
    }
}

TEST(ColumnsOption, FindingTheNamedField) {
    const auto fields = Fields({"Easting", "Northing", "a", "A", "cba"});
    struct Case {
        const char *option;
        GisProblem problem;
        ColumnRole role;
        int point; // the point column when found
    };
    const Case cases[] = {
        {"value=gravity", GisProblem::UnknownField, ColumnRole::Value, 0},
        {"h=Elev", GisProblem::UnknownField, ColumnRole::H, 0},
        {"point=a", GisProblem::None, ColumnRole::X, 2},
        {"point=A", GisProblem::None, ColumnRole::X, 3},
        {"x=EASTING,y=northing,point=a", GisProblem::None, ColumnRole::X, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.option);
        ColumnsOption option;
        ASSERT_TRUE(ParseColumnsOption(c.option, option).ok());
        ColumnChoice choice;
        GisError error = ChooseColumns(fields, option, false, choice);
        EXPECT_EQ(error.problem, c.problem);
        if (error.ok()) {
            EXPECT_EQ(choice.Column(ColumnRole::Point), c.point);
            continue;
        }
        EXPECT_EQ(error.role, c.role);
        EXPECT_EQ(error.fields, fields);
        // the layer lacks the field: a failure of the input, not of usage
        EXPECT_FALSE(IsUsageProblem(error.problem));
        error.file = "s.gpkg";
        EXPECT_EQ(GisMessage(error).rfind("s.gpkg: no field \"", 0), 0u);
    }

    // A third spelling of two fields that differ only in case.
    ColumnsOption option;
    ASSERT_TRUE(ParseColumnsOption("point=BB", option).ok());
    ColumnChoice choice;
    const GisError error = ChooseColumns(
        Fields({"x", "y", "Bb", "bb", "value"}), option, false, choice);
    EXPECT_EQ(error.problem, GisProblem::AmbiguousRole);
    EXPECT_EQ(error.candidates, Fields({"Bb", "bb"}));
}

TEST(ColumnChoice, PointGeometryGivesXAndY) {
    const auto fields = Fields({"x", "y", "station", "cba"});
    ColumnChoice choice;
    ASSERT_TRUE(ChooseColumns(fields, {}, true, choice).ok());
    // the geometry's cells follow the fields
    EXPECT_EQ(Columns(choice), (std::vector<int>{4, 5, 2, -1, 3}));
    EXPECT_EQ(choice.origin[0], ColumnOrigin::Geometry);
    EXPECT_EQ(DescribeColumns(choice, fields),
              "x = point geometry, y = point geometry, point = station, h = "
              "none, value = cba");

    // named fields take the place of the geometry
    ColumnsOption option;
    ASSERT_TRUE(ParseColumnsOption("x=x,y=y", option).ok());
    ASSERT_TRUE(ChooseColumns(fields, option, true, choice).ok());
    EXPECT_EQ(Columns(choice), (std::vector<int>{0, 1, 2, -1, 3}));

    // a geometry layer still needs a value
    EXPECT_EQ(ChooseColumns(Fields({"name"}), {}, true, choice).problem,
              GisProblem::MissingRole);
}

TEST(ColumnChoice, OneCoordinateNamedTheOtherRecognisedOfTheSameKind) {
    const auto fields = Fields({"lon", "lat", "Rechtswert", "Hochwert", "ba"});
    ColumnsOption option;
    ASSERT_TRUE(ParseColumnsOption("x=Rechtswert", option).ok());
    ColumnChoice choice;
    // Hochwert is no known name, so y is missing, not taken from "lat"
    EXPECT_EQ(ChooseColumns(fields, option, false, choice).problem,
              GisProblem::MissingRole);
    ASSERT_TRUE(ParseColumnsOption("x=lon", option).ok());
    ASSERT_TRUE(ChooseColumns(fields, option, false, choice).ok());
    EXPECT_EQ(choice.Column(ColumnRole::Y), 1);
    EXPECT_TRUE(choice.geographic);
}

TEST(HeaderKinds, TableHeadersAndStationHeaders) {
    struct Case {
        const char *name;
        std::vector<std::string> fields;
        bool table, station;
    };
    const Case cases[] = {
        {"station order", Fields({"x", "y", "point", "h", "value"}), true,
         true},
        {"station order, more fields",
         Fields({"Easting", "Northing", "Name", "Elev", "CBA", "FAA"}), true,
         true},
        {"another order", Fields({"point", "x", "y", "h", "value"}), true,
         false},
        {"degrees in station order", Fields({"lon", "lat", "name", "h", "ba"}),
         true, false},
        {"three roles", Fields({"lon", "lat", "ba"}), true, false},
        {"ambiguous value is still a table", Fields({"x", "y", "ba", "cba"}),
         true, false},
        {"no value", Fields({"x", "y", "name", "h"}), false, false},
        {"numbers", Fields({"449883.46", "7187666.23", "SA1", "1088.0", "-1"}),
         false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RecognisesTableHeader(c.fields), c.table);
        EXPECT_EQ(IsStationHeader(c.fields), c.station);
    }
}

TEST(ColumnChoice, DescribeSaysWhatWasTaken) {
    const auto fields = Fields({"lat", "lon", "cba [mGal]"});
    ColumnChoice choice;
    ASSERT_TRUE(ChooseColumns(fields, {}, false, choice).ok());
    EXPECT_EQ(DescribeColumns(choice, fields),
              "x = lon, y = lat, point = row number, h = none, value = cba "
              "[mGal] (longitude and latitude, degrees)");
}
