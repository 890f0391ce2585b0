// The CRS a run computes in and the stations' coordinates in it: longitude and
// latitude projected to the UTM zone of the survey (checked against PROJ's own
// pipeline), a named --crs, projected input kept, and the refusals.
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>
#include <proj.h>

#include "VectorFixture.h"
#include "gis/Coordinates.h"
#include "support/TempDir.h"

namespace {

// The stations of a lon/lat CSV read through the library.
TableData ReadTableText(const TempDir &dir, const std::string &content,
                        const TableOptions &options = {}) {
    const std::string path = dir.Write("survey.csv", content);
    TableData table;
    const GisError error =
        ReadTable(path, DecideSource(path, options), options, table);
    EXPECT_TRUE(error.ok()) << GisMessage(error);
    return table;
}

// The independent reference: PROJ's UTM projection on the WGS 84 ellipsoid,
// from degrees, through an explicit pipeline of PROJ's C API.
struct Metres {
    double x, y;
};
Metres ProjUtm(int zone, bool south, double lon, double lat) {
    PJ_CONTEXT *context = proj_context_create();
    const std::string pipeline =
        "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad "
        "+step +proj=utm +ellps=WGS84 +zone=" +
        std::to_string(zone) + (south ? " +south" : "");
    PJ *projection = proj_create(context, pipeline.c_str());
    EXPECT_NE(projection, nullptr);
    const PJ_COORD out =
        proj_trans(projection, PJ_FWD, proj_coord(lon, lat, 0.0, 0.0));
    proj_destroy(projection);
    proj_context_destroy(context);
    return {out.xy.x, out.xy.y};
}

constexpr double millimetre = 0.001;

} // namespace

TEST(Coordinates, LongitudeAndLatitudeGoToTheUtmZoneOfTheCentre) {
    struct Case {
        const char *name;
        const char *csv;
        int zone;
        bool south;
        const char *crs_name;
    };
    const Case cases[] = {
        {"Laguna del Maule, south",
         "lon,lat,name,cba\n-70.5269731518,-36.0574604473,LDM001,-11.553\n"
         "-70.61,-35.98,LDM002,-14.4\n-70.44,-36.12,LDM003,-5.3\n",
         19, true, "WGS 84 / UTM zone 19S (EPSG:32719)"},
        {"the same, north",
         "lon,lat,name,cba\n-70.5269731518,36.0574604473,N1,1\n"
         "-70.61,35.98,N2,2\n-70.44,36.12,N3,3\n",
         19, false, "WGS 84 / UTM zone 19N (EPSG:32619)"},
        {"Bushveld, south",
         "latitude,longitude,station,ba\n-25.4270900314,26.5016200395,SA1,1\n"
         "-24.1,30.9,SA2,2\n",
         35, true, "WGS 84 / UTM zone 35S (EPSG:32735)"},
        {"across the antimeridian",
         "lon,lat,ba\n179.9,-16.5,1\n-179.8,-16.4,2\n", 1, true,
         "WGS 84 / UTM zone 1S (EPSG:32701)"},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TableData table = ReadTableText(dir, c.csv);
        ASSERT_TRUE(table.choice.geographic);
        const TListedStations read = table.rows.stations;
        RunCrs run;
        const GisError error =
            PlaceStations("survey.csv", TableOptions{}, table, run);
        ASSERT_TRUE(error.ok()) << GisMessage(error);
        EXPECT_EQ(run.name, c.crs_name);
        EXPECT_TRUE(run.geographic_input);
        EXPECT_TRUE(run.transformed);
        EXPECT_NE(run.wkt.find("UTM zone"), std::string::npos);
        ASSERT_EQ(table.lon.size(), read.Size());
        ASSERT_EQ(table.lat.size(), read.Size());
        for (size_t i = 0; i < read.Size(); ++i) {
            const ListedStation &s = table.rows.stations[i];
            // the degrees as read, exactly
            EXPECT_EQ(table.lon[i], read[i].x);
            EXPECT_EQ(table.lat[i], read[i].y);
            const Metres expected =
                ProjUtm(c.zone, c.south, table.lon[i], table.lat[i]);
            EXPECT_NEAR(s.x, expected.x, millimetre);
            EXPECT_NEAR(s.y, expected.y, millimetre);
        }
    }
}

TEST(Coordinates, KnownPointBackToItsPublishedMetres) {
    // The first Laguna del Maule station: UTM 19S 362472.40 6008599.50 in the
    // station file, converted to degrees with PROJ's cs2cs to 1e-10 degree.
    TempDir dir;
    TableData table = ReadTableText(
        dir, "lat,lon,value\n-36.0574604473,-70.5269731518,-11.553\n");
    RunCrs run;
    ASSERT_TRUE(PlaceStations("survey.csv", {}, table, run).ok());
    // 1e-10 degree is about 0.01 mm
    EXPECT_NEAR(table.rows.stations[0].x, 362472.40, millimetre);
    EXPECT_NEAR(table.rows.stations[0].y, 6008599.50, millimetre);
}

TEST(Coordinates, NamedCrsIsUsed) {
    TempDir dir;
    const std::string csv = "lon,lat,value\n-70.5,-36.0,1\n-70.6,-36.1,2\n";
    struct Case {
        const char *name;
        std::string crs;
    };
    // The same CRS as a WKT file.
    OGRSpatialReference utm18;
    utm18.importFromEPSG(32718);
    char *wkt = nullptr;
    utm18.exportToWkt(&wkt);
    std::ofstream(dir.File("utm18.wkt")) << wkt;
    CPLFree(wkt);
    const Case cases[] = {{"EPSG code", "EPSG:32718"},
                          {"WKT file", dir.File("utm18.wkt")}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TableData table = ReadTableText(dir, csv);
        TableOptions options;
        options.crs = c.crs;
        RunCrs run;
        const GisError error = PlaceStations("survey.csv", options, table, run);
        ASSERT_TRUE(error.ok()) << GisMessage(error);
        EXPECT_EQ(run.name.rfind("WGS 84 / UTM zone 18S", 0), 0u) << run.name;
        const ListedStation &s = table.rows.stations[1];
        const Metres expected = ProjUtm(18, true, -70.6, -36.1);
        EXPECT_NEAR(s.x, expected.x, millimetre);
        EXPECT_NEAR(s.y, expected.y, millimetre);
    }
}

TEST(Coordinates, ProjectedInputIsKeptAsItIs) {
    TempDir dir;
    const std::string csv =
        "x,y,value\n362472.40,6008599.50,1\n363047.40,6007741.50,2\n";
    struct Case {
        const char *name;
        const char *source_crs, *crs;
        const char *run_name; // empty: no CRS known
    };
    const Case cases[] = {
        {"no CRS known", "", "", ""},
        {"--source-crs labels it", "EPSG:32719", "",
         "WGS 84 / UTM zone 19S (EPSG:32719)"},
        {"--crs the same as the source", "EPSG:32719", "EPSG:32719",
         "WGS 84 / UTM zone 19S (EPSG:32719)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TableData table = ReadTableText(dir, csv);
        TableOptions options;
        options.source_crs = c.source_crs;
        options.crs = c.crs;
        RunCrs run;
        ASSERT_TRUE(PlaceStations("survey.csv", options, table, run).ok());
        EXPECT_EQ(run.name, c.run_name);
        EXPECT_EQ(run.Known(), c.run_name[0] != '\0');
        EXPECT_FALSE(run.transformed);
        EXPECT_FALSE(run.geographic_input);
        // exactly the doubles read
        EXPECT_EQ(table.rows.stations[0].x, 362472.40);
        EXPECT_EQ(table.rows.stations[1].y, 6007741.50);
        EXPECT_TRUE(table.lon.empty());
    }
}

TEST(Coordinates, LayerCrsIsCarriedAndGeographicLayersProjected) {
    TempDir dir;
    struct Case {
        const char *name;
        int epsg;
        double x, y;
        const char *run_name;
    };
    const Case cases[] = {
        {"projected layer", 32735, 449883.46, 7187666.23,
         "WGS 84 / UTM zone 35S (EPSG:32735)"},
        {"geographic layer", 4326, 26.5016200395, -25.4270900314,
         "WGS 84 / UTM zone 35S (EPSG:32735)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(std::string(c.name) + ".gpkg");
        std::string error;
        ASSERT_TRUE(WriteVectorLayer(path, "GPKG", "stations", c.epsg, true,
                                     {{"ba", OFTReal}},
                                     {{{-135.284}, true, c.x, c.y}}, error))
            << error;
        TableData table;
        ASSERT_TRUE(ReadTable(path, DecideSource(path, {}), {}, table).ok());
        RunCrs run;
        const GisError placed = PlaceStations(path, {}, table, run);
        ASSERT_TRUE(placed.ok()) << GisMessage(placed);
        EXPECT_EQ(run.name, c.run_name);
        // the station file's metres of this station (see KnownPoint...)
        EXPECT_NEAR(table.rows.stations[0].x, 449883.46, millimetre);
        EXPECT_NEAR(table.rows.stations[0].y, 7187666.23, millimetre);
    }
}

TEST(Coordinates, ProjectedInputTakenToAnotherNamedCrs) {
    TempDir dir;
    TableData table = ReadTableText(dir, "x,y,value\n362472.40,6008599.50,1\n");
    TableOptions options;
    options.source_crs = "EPSG:32719";
    options.crs = "EPSG:32718";
    RunCrs run;
    ASSERT_TRUE(PlaceStations("survey.csv", options, table, run).ok());
    EXPECT_TRUE(run.transformed);
    EXPECT_EQ(run.name, "WGS 84 / UTM zone 18S (EPSG:32718)");
    // The same point in zone 18 via PROJ: -70.5269731518, -36.0574604473.
    const Metres expected = ProjUtm(18, true, -70.5269731518, -36.0574604473);
    EXPECT_NEAR(table.rows.stations[0].x, expected.x, 0.01); // 1e-10 deg
    EXPECT_NEAR(table.rows.stations[0].y, expected.y, 0.01);
}

TEST(Coordinates, SourceCrsSaysDegrees) {
    TempDir dir;
    TableData table = ReadTableText(dir, "x,y,value\n-70.5,-36.0,1\n");
    ASSERT_FALSE(table.choice.geographic);
    TableOptions options;
    options.source_crs = "EPSG:4326";
    RunCrs run;
    ASSERT_TRUE(PlaceStations("survey.csv", options, table, run).ok());
    EXPECT_EQ(run.name, "WGS 84 / UTM zone 19S (EPSG:32719)");
    EXPECT_EQ(table.lon.at(0), -70.5);
}

TEST(Coordinates, Refusals) {
    TempDir dir;
    struct Case {
        const char *name;
        const char *csv;
        const char *source_crs, *crs;
        GisProblem problem;
        const char *message;
    };
    const Case cases[] = {
        {"unknown CRS text", "lon,lat,value\n1,2,3\n", "", "EPSG:999999",
         GisProblem::BadCrsText,
         "--crs: \"EPSG:999999\" is not a coordinate reference system PROJ "
         "accepts."},
        {"unknown source CRS text", "x,y,value\n1,2,3\n", "not a crs", "",
         GisProblem::BadCrsText,
         "--source-crs: \"not a crs\" is not a coordinate reference system "
         "PROJ accepts."},
        {"geographic --crs", "lon,lat,value\n1,2,3\n", "", "EPSG:4326",
         GisProblem::TargetNotProjected,
         "--crs: WGS 84 (EPSG:4326) is not a projected coordinate reference "
         "system; the kriging needs metres."},
        // 2026-12-10, issue 19: x[m] held feet, and the search distance
        // was applied in feet.
        {"--crs in feet", "x,y,value\n1,2,3\n", "EPSG:32719", "EPSG:2227",
         GisProblem::TargetNotMetres,
         "--crs: NAD83 / California zone 3 (ftUS) (EPSG:2227) measures in US "
         "survey foot; the kriging's distances are metres. Choose a "
         "coordinate reference system in metres (the same projection often "
         "has one)."},
        {"degree columns, projected source", "lon,lat,value\n1,2,3\n",
         "EPSG:32719", "", GisProblem::CrsMismatch,
         "survey.csv: the coordinate columns are longitude and latitude, but "
         "WGS 84 / UTM zone 19S (EPSG:32719) is a projected coordinate "
         "reference system."},
        {"--crs without the source's CRS", "x,y,value\n1,2,3\n", "",
         "EPSG:32719", GisProblem::UnknownSourceCrs,
         "survey.csv: the coordinates' own reference system is not known, so "
         "they cannot be taken to WGS 84 / UTM zone 19S (EPSG:32719). Name it "
         "with --source-crs."},
        // 2026-12-10, issue 19: a longitude past 180 moved the survey to
        // another UTM zone; a latitude past 90 failed in PROJ.
        {"latitude beyond the pole",
         "lon,lat,value\n-70.5,-36,1\nx,1,2\n-70.6,-95,3\n", "", "",
         GisProblem::AngleOutOfRange,
         "survey.csv: the latitude -95 of the station in row 3 lies beyond "
         "±90; check its coordinates."},
        {"longitude beyond 180", "lon,lat,value\n-70.5,-36,1\n200.5,-36,2\n",
         "", "", GisProblem::AngleOutOfRange,
         "survey.csv: the longitude 200.5 of the station in row 2 lies "
         "beyond ±180; check its coordinates."},
        {"longitude beyond -180 with --crs", "lon,lat,value\n-180.25,-36,1\n",
         "", "EPSG:32719", GisProblem::AngleOutOfRange, nullptr},
        {"a point the projection cannot hold",
         "x,y,value\n362472,6008599,1\n1e8,6e6,2\n", "EPSG:32719", "EPSG:32718",
         GisProblem::TransformFailed, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TableData table = ReadTableText(dir, c.csv);
        TableOptions options;
        options.source_crs = c.source_crs;
        options.crs = c.crs;
        RunCrs run;
        const GisError error = PlaceStations("survey.csv", options, table, run);
        EXPECT_EQ(error.problem, c.problem);
        if (c.message != nullptr) {
            EXPECT_EQ(GisMessage(error), c.message);
        }
        EXPECT_EQ(IsUsageProblem(error.problem),
                  c.problem != GisProblem::TransformFailed &&
                      c.problem != GisProblem::AngleOutOfRange);
    }
    // The failing station is named by its data row (row 2 had no number).
    TableData table =
        ReadTableText(dir, "x,y,value\n362472,6008599,1\nx,1,2\n1e8,6e6,3\n");
    TableOptions options;
    options.source_crs = "EPSG:32719"; // 1e8 m east lies beyond its domain
    options.crs = "EPSG:32718";
    RunCrs run;
    const GisError error = PlaceStations("survey.csv", options, table, run);
    EXPECT_EQ(error.row, 3);
    EXPECT_EQ(GisMessage(error).rfind(
                  "survey.csv: PROJ cannot transform the station (row 3). ", 0),
              0u)
        << GisMessage(error);
}

TEST(Coordinates, OurGeoPackageWithoutCrsStaysInMetres) {
    // A run in no known CRS writes the undefined Cartesian system; read
    // again, its metres must not be taken for degrees.
    TempDir dir;
    const std::string path = dir.File("unknown.gpkg");
    TGeoPackageWriter writer;
    ASSERT_TRUE(writer.Begin(path, "", {{"value", FieldKind::Real}}).ok());
    ASSERT_TRUE(writer.AddRow(362472.40, 6008599.50, {1.5}).ok());
    ASSERT_TRUE(writer.Finish().ok());
    TableData table;
    ASSERT_TRUE(ReadTable(path, DecideSource(path, {}), {}, table).ok());
    RunCrs run;
    ASSERT_TRUE(PlaceStations(path, {}, table, run).ok());
    EXPECT_FALSE(run.transformed);
    EXPECT_FALSE(run.geographic_input);
    EXPECT_EQ(table.rows.stations[0].x, 362472.40);
    TableOptions options;
    options.crs = "EPSG:32719";
    EXPECT_EQ(PlaceStations(path, options, table, run).problem,
              GisProblem::UnknownSourceCrs);
}

TEST(Coordinates, SourceCrsOverALayersOwnIsSaid) {
    // 2026-12-10, issue 19: --source-crs silently replaced the layer's CRS.
    TempDir dir;
    const std::string path = dir.File("declared.gpkg");
    std::string error;
    ASSERT_TRUE(WriteVectorLayer(path, "GPKG", "stations", 32719, true,
                                 {{"ba", OFTReal}},
                                 {{{1.0}, true, 362472.40, 6008599.50}}, error))
        << error;
    struct Case {
        const char *source_crs;
        std::vector<std::string> notices;
    };
    const Case cases[] = {
        {"", {}},
        {"EPSG:32719", {}}, // the layer's own: nothing to say
        {"EPSG:32718",
         {"--source-crs EPSG:32718 overrides the coordinate system the layer "
          "declares, WGS 84 / UTM zone 19S (EPSG:32719)."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.source_crs);
        TableOptions options;
        options.source_crs = c.source_crs;
        TableData table;
        ASSERT_TRUE(
            ReadTable(path, DecideSource(path, options), options, table).ok());
        RunCrs run;
        ASSERT_TRUE(PlaceStations(path, options, table, run).ok());
        std::vector<std::string> said;
        for (const GisNotice &notice : run.notices)
            said.push_back(NoticeMessage(notice));
        EXPECT_EQ(said, c.notices);
    }
}

TEST(Coordinates, StationFarOutsideTheRestIsSaidAndDoesNotChooseTheZone) {
    // 2026-12-10, issue 19: one sign-flipped longitude took the survey from
    // zone 19S to zone 31S.
    std::string csv = "lon,lat,value\n";
    for (int k = 0; k < 20; ++k) {
        const double lon = k == 7 ? 70.52 : -70.5 - 0.01 * (k % 5);
        csv += std::to_string(lon) + "," +
               std::to_string(-36.0 - 0.01 * (k / 5)) + ",1\n";
    }
    TempDir dir;
    TableData table = ReadTableText(dir, csv);
    RunCrs run;
    ASSERT_TRUE(PlaceStations("survey.csv", {}, table, run).ok());
    EXPECT_EQ(run.name, "WGS 84 / UTM zone 19S (EPSG:32719)");
    ASSERT_EQ(run.notices.size(), 1u);
    EXPECT_EQ(run.notices[0].row, 8);
    const std::string said = NoticeMessage(run.notices[0]);
    EXPECT_EQ(said.rfind("The station in row 8 (longitude 70.52, latitude "
                         "-36.01) lies ",
                         0),
              0u)
        << said;
    EXPECT_NE(said.find(" km from the survey's centre, more than 10 times "
                        "the survey's extent ("),
              std::string::npos)
        << said;
}

TEST(Coordinates, ProjectedInFeetIsConvertedToMetres) {
    // 2026-12-10, issue 19: a source CRS in US survey feet was taken as
    // metres.
    TempDir dir;
    TableData table = ReadTableText(
        dir, "x,y,value\n6000000,2000000,1\n6003937,2001200.5,2\n");
    TableOptions options;
    options.source_crs = "EPSG:2227";
    RunCrs run;
    const GisError placed = PlaceStations("survey.csv", options, table, run);
    ASSERT_TRUE(placed.ok()) << GisMessage(placed);
    // A US survey foot is 1200/3937 m exactly; PROJ goes through the
    // projection's inverse and forward, within a micrometre.
    const double foot = 1200.0 / 3937.0;
    EXPECT_NEAR(table.rows.stations[0].x, 6000000 * foot, 1e-6);
    EXPECT_NEAR(table.rows.stations[0].y, 2000000 * foot, 1e-6);
    EXPECT_NEAR(table.rows.stations[1].x, 6003937 * foot, 1e-6);
    EXPECT_NEAR(table.rows.stations[1].y, 2001200.5 * foot, 1e-6);
    EXPECT_EQ(run.name, "NAD83 / California zone 3 (ftUS), in metres");
    EXPECT_TRUE(run.transformed);
    ASSERT_EQ(run.notices.size(), 1u);
    EXPECT_EQ(NoticeMessage(run.notices[0]),
              "NAD83 / California zone 3 (ftUS) (EPSG:2227) measures in US "
              "survey foot: the coordinates are converted to metres of the "
              "same projection, as the search distance, the increment and "
              "the cell size are metres.");
    // Its metres are those of the CRS itself, as PROJ takes it to them.
    OGRSpatialReference metres, feet;
    ASSERT_EQ(metres.importFromWkt(run.wkt.c_str()), OGRERR_NONE);
    EXPECT_EQ(metres.GetLinearUnits(nullptr), 1.0);
    feet.importFromEPSG(2227);
    metres.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    feet.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> back(
        OGRCreateCoordinateTransformation(&metres, &feet));
    ASSERT_TRUE(back);
    double x = table.rows.stations[1].x, y = table.rows.stations[1].y;
    ASSERT_TRUE(back->Transform(1, &x, &y));
    EXPECT_NEAR(x, 6003937, 1e-5);
    EXPECT_NEAR(y, 2001200.5, 1e-5);
}
