// Heights against a DEM through a whole run: a survey in UTM, a DEM in
// longitude and latitude written here from the survey's own height field, a
// height blunder whose value was reduced with it named `height` with the
// DEM's height as the fix, and a wrong height column alone named
// `height-only`.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "DemFixture.h"
#include "app/CalcRun.h"
#include "app/StationInput.h"
#include "app/SurveySource.h"
#include "examples/SyntheticSurvey.h"
#include "support/FakeCalcHost.h"
#include "support/TempDir.h"

namespace {

// The survey's lower-left corner in WGS 84 / UTM zone 19S, near 70.9 W 36 S.
constexpr double west_x = 330000.0, south_y = 6010000.0;
constexpr int utm_epsg = 32719;

// The synthetic survey's height field (examples/SyntheticSurvey.h), which
// writes it rounded to 0.1 m.
double Terrain(double x, double y) {
    return 400.0 + 150.0 * std::sin((x - west_x) / 3000.0) +
           80.0 * std::cos((y - south_y) / 2000.0);
}

OGRSpatialReference Srs(int epsg) {
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

// The terrain as a DEM in EPSG:4326 of `degrees` pixels over the box from
// (west, south) to (east, north): each pixel holds the field at its centre,
// taken to UTM.
DemGrid GeographicTerrain(double west, double south, double east, double north,
                          double degrees) {
    DemGrid grid;
    grid.left = west;
    grid.top = north;
    grid.pixel = degrees;
    grid.width = static_cast<int>(std::ceil((east - west) / degrees));
    grid.height = static_cast<int>(std::ceil((north - south) / degrees));
    grid.block = 32;
    const OGRSpatialReference geographic = Srs(4326), utm = Srs(utm_epsg);
    const std::unique_ptr<OGRCoordinateTransformation> to_utm(
        OGRCreateCoordinateTransformation(&geographic, &utm));
    for (int r = 0; r < grid.height; ++r) {
        for (int c = 0; c < grid.width; ++c) {
            double x = west + (c + 0.5) * degrees;
            double y = north - (r + 0.5) * degrees;
            to_utm->Transform(1, &x, &y);
            grid.values.push_back(static_cast<float>(Terrain(x, y)));
        }
    }
    return grid;
}

std::string WktOfEpsg(int epsg) {
    const OGRSpatialReference srs = Srs(epsg);
    char *wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt;
    CPLFree(wkt);
    return text;
}

} // namespace

TEST(DemDiagnosis, HeightBlunderAndWrongHeightColumnAreTold) {
    std::vector<SyntheticStation> survey =
        MakeSyntheticSurvey(400, 300.0, 2026, 0, west_x, south_y);
    // A height 50 m too high, the value reduced with it: the Bouguer
    // anomaly gains (0.3086 - 0.04193 rho) mGal for each metre (rho 2.67
    // g/cm3), so the fix v - k (h - h_dem) takes it back. And a height
    // column 60 m off whose value is right.
    constexpr size_t blunder = 210, column_only = 147;
    const double gradient = 0.3086 - 0.04193 * 2.67;
    const double true_value = survey[blunder].value;
    survey[blunder].h += 50.0;
    survey[blunder].value += gradient * 50.0;
    survey[column_only].h += 60.0;

    // The DEM covers the survey with a margin, in pixels of about 50 m.
    const OGRSpatialReference geographic = Srs(4326), utm = Srs(utm_epsg);
    const std::unique_ptr<OGRCoordinateTransformation> to_degrees(
        OGRCreateCoordinateTransformation(&utm, &geographic));
    double corner_x[] = {west_x - 1000.0, west_x + 7000.0},
           corner_y[] = {south_y - 1000.0, south_y + 7000.0};
    to_degrees->Transform(2, corner_x, corner_y);
    TempDir dir;
    const std::string dem = dir.File("dem.tif");
    ASSERT_TRUE(
        WriteDem(dem, GeographicTerrain(corner_x[0], corner_y[0], corner_x[1],
                                        corner_y[1], 0.0005)));

    TListedStations listed;
    for (size_t k = 0; k < survey.size(); ++k) {
        const SyntheticStation &s = survey[k];
        listed.Add({s.x, s.y, s.h, s.value, static_cast<int64_t>(k + 1)},
                   s.point);
    }
    RunCrs crs;
    crs.wkt = WktOfEpsg(utm_epsg);
    RunInput input;
    input.path = dir.File("survey.csv");
    input.open = [&listed] {
        return std::make_unique<TStationListInput>(listed);
    };
    input.dem = MakeDemSampler(dem, crs);
    RunOutputs outputs;
    outputs.result_path = dir.File("result.dat");
    FakeCalcHost host;
    TCalcRun run(host);
    const RunOutcome outcome = run.Run(RunSettings{}, input, outputs);
    ASSERT_EQ(outcome.result, CalcResult::Completed)
        << outcome.error << (host.messages.empty() ? "" : host.messages[0]);

    // Every station's DEM height is the field where it stands, through the
    // transform and the bilinear interpolation (of 50 m pixels on a field
    // that bends by under 2e-5 per metre: a few centimetres at most).
    const std::vector<double> &h_dem = outcome.qc.dem;
    ASSERT_EQ(h_dem.size(), survey.size());
    for (size_t k = 0; k < survey.size(); ++k) {
        ASSERT_NEAR(h_dem[k], Terrain(survey[k].x, survey[k].y), 0.05)
            << survey[k].point;
    }

    const Diagnosis &diagnosis = outcome.qc.diagnosis;
    const StationDiagnosis *height = diagnosis.Of(blunder);
    ASSERT_NE(height, nullptr);
    EXPECT_EQ(height->cause, Cause::Height);
    EXPECT_NEAR(height->fix_h, Terrain(survey[blunder].x, survey[blunder].y),
                0.1);
    // The field's height rounded to 0.1 m moves the fix by k * 0.05 mGal.
    EXPECT_NEAR(height->fix_value, true_value, 0.02);
    const StationDiagnosis *column = diagnosis.Of(column_only);
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(column->cause, Cause::HeightOnly);
    EXPECT_NEAR(column->fix_h,
                Terrain(survey[column_only].x, survey[column_only].y), 0.1);
    // No other station's height is taken for wrong.
    EXPECT_EQ(diagnosis.Count(Cause::Height), 1);
    EXPECT_EQ(diagnosis.Count(Cause::HeightOnly), 1);
}
