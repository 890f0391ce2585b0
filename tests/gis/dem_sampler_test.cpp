// A DEM's heights at the stations: stations in UTM sampled from a DEM in
// longitude and latitude (bilinear values at known points, the edges, nodata
// and outside), stations without a CRS on a projected DEM, and the DEMs that
// give no heights.
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>
#include <proj.h>

#include "DemFixture.h"
#include "gis/DemSampler.h"
#include "support/TempDir.h"

namespace {

// A 64 x 64 DEM of 0.001 degrees in EPSG:4326 whose pixel (row r, column c)
// holds the plane 1000 + 2 c + 3 r, but for a peak 40 m above it at (20, 20)
// and nodata at (40, 40) and (30, 1). Bilinear interpolation reproduces a
// plane exactly, so a point's value is known in closed form.
constexpr double left_lon = -70.60, top_lat = -35.95, degrees = 0.001;
constexpr int side = 64;
constexpr double peak = 40.0;

DemGrid PlaneDem() {
    DemGrid grid;
    grid.left = left_lon;
    grid.top = top_lat;
    grid.pixel = degrees;
    grid.width = grid.height = side;
    grid.has_nodata = true;
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c)
            grid.values.push_back(static_cast<float>(1000 + 2 * c + 3 * r));
    grid.values[20 * side + 20] += static_cast<float>(peak);
    grid.values[40 * side + 40] = static_cast<float>(grid.nodata);
    grid.values[30 * side + 1] = static_cast<float>(grid.nodata);
    return grid;
}

// The plane at GDAL's pixel coordinates (pixel centres at half integers).
double Plane(double px, double py) {
    return 1000.0 + 2.0 * (px - 0.5) + 3.0 * (py - 0.5);
}

// The independent way there: PROJ's UTM zone 19 south on WGS 84, through an
// explicit pipeline of its C API, from the point at pixel coordinates
// (px, py) of the DEM.
void ToUtm(double px, double py, double &x, double &y) {
    PJ_CONTEXT *context = proj_context_create();
    PJ *projection = proj_create(
        context, "+proj=pipeline +step +proj=unitconvert +xy_in=deg "
                 "+xy_out=rad +step +proj=utm +ellps=WGS84 +zone=19 +south");
    ASSERT_NE(projection, nullptr);
    const PJ_COORD out = proj_trans(
        projection, PJ_FWD,
        proj_coord(left_lon + px * degrees, top_lat - py * degrees, 0, 0));
    proj_destroy(projection);
    proj_context_destroy(context);
    x = out.xy.x;
    y = out.xy.y;
}

std::string WktOfEpsg(int epsg) {
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    char *wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt;
    CPLFree(wkt);
    return text;
}

// A point's height comes out of PROJ's round trip through UTM within far
// less than a millionth of a pixel, some microns of height on this plane.
constexpr double round_trip = 1e-4; // metres

} // namespace

TEST(DemSampler, UtmStationsOnAGeographicDemTakeBilinearHeights) {
    TempDir dir;
    const std::string path = dir.File("dem.tif");
    ASSERT_TRUE(WriteDem(path, PlaneDem()));
    struct Case {
        const char *name;
        double px, py;   // where the station lies, in the DEM's pixels
        double expected; // NaN: no height
    };
    const double none = NAN;
    const Case cases[] = {
        {"on a pixel centre", 10.5, 12.5, Plane(10.5, 12.5)},
        {"between four centres", 10.75, 12.25, Plane(10.75, 12.25)},
        {"across the edge of a tile", 15.9, 16.2, Plane(15.9, 16.2)},
        // (20, 20) weighs (1 - 0.25) (1 - 0.5) = 0.375 of the peak
        {"beside the peak", 20.75, 21.0, Plane(20.75, 21.0) + 0.375 * peak},
        // column 0 alone, so the nodata of (30, 1) takes no part
        {"within half a pixel of the west edge", 0.2, 30.6, Plane(0.5, 30.6)},
        {"within half a pixel of the south-east corner", 63.8, 63.9,
         Plane(63.5, 63.5)},
        {"with a share in a nodata pixel", 40.2, 40.7, none},
        {"beyond the west edge", -0.3, 10.0, none},
        {"beyond the south edge", 10.0, 64.5, none},
    };
    std::vector<double> x, y;
    for (const Case &c : cases) {
        x.push_back(0);
        y.push_back(0);
        ToUtm(c.px, c.py, x.back(), y.back());
    }
    const DemHeights heights = SampleDem(path, WktOfEpsg(32719), x, y);
    ASSERT_TRUE(heights.refusal.ok()) << GisMessage(heights.refusal);
    ASSERT_EQ(heights.heights.size(), std::size(cases));
    for (size_t k = 0; k < std::size(cases); ++k) {
        SCOPED_TRACE(cases[k].name);
        if (std::isnan(cases[k].expected))
            EXPECT_TRUE(std::isnan(heights.heights[k])) << heights.heights[k];
        else
            EXPECT_NEAR(heights.heights[k], cases[k].expected, round_trip);
    }
    EXPECT_EQ(heights.outside, 2);
    EXPECT_EQ(heights.on_nodata, 1);
    ASSERT_FALSE(heights.notes.empty());
    EXPECT_NE(heights.notes.back().find("same vertical datum"),
              std::string::npos);
}

TEST(DemSampler, StationsWithoutCrsTakeAProjectedDemsOwn) {
    // A DEM in UTM zone 19 south, 100 m pixels, the same plane.
    DemGrid grid = PlaneDem();
    grid.epsg = 32719;
    grid.left = 300000.0;
    grid.top = 6000000.0;
    grid.pixel = 100.0;
    TempDir dir;
    const std::string path = dir.File("utm.tif");
    ASSERT_TRUE(WriteDem(path, grid));
    const std::vector<double> x = {300000.0 + 100.0 * 5.25},
                              y = {6000000.0 - 100.0 * 7.5};
    const DemHeights heights = SampleDem(path, "", x, y);
    ASSERT_TRUE(heights.refusal.ok()) << GisMessage(heights.refusal);
    // No transform: the exact value of the plane.
    EXPECT_NEAR(heights.heights.at(0), Plane(5.25, 7.5), 1e-9);
    ASSERT_FALSE(heights.notes.empty());
    EXPECT_NE(heights.notes.front().find(
                  "taken to be in the DEM's, WGS 84 / UTM zone 19S "
                  "(EPSG:32719)"),
              std::string::npos)
        << heights.notes.front();
}

TEST(DemSampler, DemsThatGiveNoHeightAreRefusedNamingTheFile) {
    TempDir dir;
    const std::string dem = dir.File("dem.tif");
    ASSERT_TRUE(WriteDem(dem, PlaneDem()));
    DemGrid bare = PlaneDem();
    bare.epsg = 0;
    const std::string no_crs = dir.File("bare.tif");
    ASSERT_TRUE(WriteDem(no_crs, bare));
    const std::string text = dir.Write("heights.txt", "elevation 1200\n");
    const std::string utm = WktOfEpsg(32719);
    // Two stations inside the DEM, and two far east of it.
    std::vector<double> x(2), y(2), far_x(2), far_y(2);
    ToUtm(10.5, 10.5, x[0], y[0]);
    ToUtm(30.5, 30.5, x[1], y[1]);
    for (size_t k = 0; k < 2; ++k) {
        far_x[k] = x[k] + 50000.0;
        far_y[k] = y[k];
    }
    struct Case {
        const char *name;
        std::string path, crs;
        const std::vector<double> &x, &y;
        GisProblem problem;
        const char *says;
    };
    const Case cases[] = {
        {"a missing file", dir.File("none.tif"), utm, x, y,
         GisProblem::DemUnreadable, "cannot be read as a raster"},
        {"a text file", text, utm, x, y, GisProblem::DemUnreadable,
         "cannot be read as a raster"},
        {"a raster without CRS", no_crs, utm, x, y, GisProblem::DemNoCrs,
         "declares no coordinate reference system"},
        {"a DEM away from the stations", dem, utm, far_x, far_y,
         GisProblem::DemCoversNone,
         "covers none of the 2 stations (2 fall outside it, 0 on its "
         "nodata)"},
        {"a geographic DEM and stations without CRS", dem, "", x, y,
         GisProblem::DemNeedsStationCrs, "Name it with --source-crs"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const DemHeights heights = SampleDem(c.path, c.crs, c.x, c.y);
        EXPECT_EQ(heights.refusal.problem, c.problem);
        const std::string message = GisMessage(heights.refusal);
        EXPECT_NE(message.find("--dem " + c.path + ": "), std::string::npos)
            << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_TRUE(heights.heights.empty());
    }
}
