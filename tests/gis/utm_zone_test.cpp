// The survey's centre in degrees (across the antimeridian too), the stations
// far outside the rest, and the WGS 84 UTM zone chosen there, north and south
// of the equator.
#include <cmath>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "gis/UtmZone.h"

TEST(SurveyCentre, MiddleOfTheExtent) {
    struct Case {
        const char *name;
        std::vector<double> lons, lats;
        double lon, lat;
    };
    const Case cases[] = {
        {"Laguna del Maule",
         {-70.6, -70.4, -70.5},
         {-36.2, -35.9, -36.0},
         -70.5,
         -36.05},
        {"one station", {26.5}, {-25.4}, 26.5, -25.4},
        {"across the antimeridian",
         {179.0, -179.0, 179.5},
         {-17.0, -16.0, -16.5},
         180.0 - 360.0,
         -16.5},
        {"longitudes past 180", {181.0, 183.0}, {10, 12}, -178.0, 11.0},
        {"not finite left out",
         {10.0, NAN, 12.0},
         {1.0, INFINITY, 3.0},
         11.0,
         2.0},
        {"nothing", {}, {}, 0.0, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const GeoPoint centre = SurveyCentre(c.lons, c.lats);
        // sums of a few tenths: a few ulps of rounding
        EXPECT_NEAR(centre.lon, c.lon, 1e-12);
        EXPECT_NEAR(centre.lat, c.lat, 1e-12);
    }
}

TEST(UtmZone, ZonesAndCodes) {
    struct Case {
        const char *name;
        double lon, lat;
        int zone, epsg;
    };
    const Case cases[] = {
        {"Laguna del Maule, south", -70.5, -36.05, 19, 32719},
        {"Bushveld, south", 28.75, -25.0, 35, 32735},
        {"north of the equator", -70.5, 36.0, 19, 32619},
        {"on the equator is north", 3.0, 0.0, 31, 32631},
        {"zone edge at 0", 0.0, -1.0, 31, 32731},
        {"just west of 0", -1e-9, 1.0, 30, 32630},
        {"180 west", -180.0, 5.0, 1, 32601},
        {"180 east is 180 west", 180.0, 5.0, 1, 32601},
        {"last zone", 179.9, -5.0, 60, 32760},
        {"not finite", NAN, 5.0, 1, 32601},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UtmZone(c.lon), c.zone);
        EXPECT_EQ(UtmEpsgCode({c.lon, c.lat}), c.epsg);
    }
}

TEST(SurveyCentre, TinyNegativeTurnStaysWest) {
    // -180 - 1e-14 wraps to just below +180 or to -180, never to +180 itself
    const double lons[] = {-180.0 - 1e-14};
    const double lats[] = {0.0};
    const GeoPoint centre = SurveyCentre(lons, lats);
    EXPECT_LT(centre.lon, 180.0);
    EXPECT_GE(centre.lon, -180.0);
}

TEST(GreatCircle, ClosedForms) {
    // one degree of a meridian, a quarter of the equator, the antipode: the
    // sphere's arcs R * angle, to rounding
    const double radius = 6371.0088, pi = 3.14159265358979323846;
    EXPECT_NEAR(GreatCircleKm({10, 0}, {10, 1}), radius * pi / 180, 1e-9);
    EXPECT_NEAR(GreatCircleKm({0, 0}, {90, 0}), radius * pi / 2, 1e-9);
    EXPECT_NEAR(GreatCircleKm({-70.5, -36}, {109.5, 36}), radius * pi, 1e-6);
    EXPECT_EQ(GreatCircleKm({26.5, -25.4}, {26.5, -25.4}), 0.0);
}

TEST(SurveySpread, StationsFarOutsideTheRest) {
    // 2026-12-10, issue 19: one sign-flipped longitude moved the survey's
    // centre, and its UTM zone, half a world away.
    // A 7 x 7 grid 0.02 degrees apart (about 2 km) near Laguna del Maule.
    std::vector<double> lons, lats;
    for (int i = 0; i < 7; ++i) {
        for (int j = 0; j < 7; ++j) {
            lons.push_back(-70.56 + 0.02 * i);
            lats.push_back(-36.06 + 0.02 * j);
        }
    }
    struct Case {
        const char *name;
        std::vector<std::pair<double, double>> added; // lon, lat
        std::vector<size_t> far;
    };
    const Case cases[] = {
        {"the grid alone", {}, {}},
        {"one sign flipped", {{70.5, -36.0}}, {49}},
        {"a digit lost", {{-7.05, -36.0}}, {49}},
        {"a base station 20 km away is not far", {{-70.3, -36.0}}, {}},
        {"two far, one near",
         {{-70.5, 36.0}, {-70.5, -36.01}, {0, 0}},
         {49, 51}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> x = lons, y = lats;
        for (const auto &[lon, lat] : c.added) {
            x.push_back(lon);
            y.push_back(lat);
        }
        const SurveySpread spread = MeasureSpread(x, y);
        EXPECT_EQ(spread.far, c.far);
        ASSERT_EQ(spread.far_km.size(), c.far.size());
        // The far ones do not set the centre or the extent: the grid's
        // middle (within a step), and the median distance from there of a
        // grid 11 km by 13 km (between 4 and 7 km).
        EXPECT_NEAR(spread.centre.lon, -70.5, 0.0201);
        EXPECT_NEAR(spread.centre.lat, -36.0, 0.0201);
        EXPECT_GT(spread.extent_km, 4.0);
        EXPECT_LT(spread.extent_km, 7.0);
        for (size_t k = 0; k < c.far.size(); ++k)
            EXPECT_GT(spread.far_km[k], far_extents * spread.extent_km);
    }
}

TEST(SurveySpread, CentreAcrossTheAntimeridianAndTheSmallestExtent) {
    const std::vector<double> lons = {179.99, -179.99, 179.98, -179.98, 179.99};
    const std::vector<double> lats = {-16.0, -16.0, -16.01, -16.01, -16.0};
    const SurveySpread spread = MeasureSpread(lons, lats);
    EXPECT_TRUE(spread.far.empty());
    EXPECT_NEAR(std::abs(spread.centre.lon), 179.99, 1e-9);
    // Most stations at one place: the extent is the smallest one.
    const std::vector<double> same_lon = {26.5, 26.5, 26.5, 26.5001, 27.5};
    const std::vector<double> same_lat = {-25.4, -25.4, -25.4, -25.4, -25.4};
    const SurveySpread one_place = MeasureSpread(same_lon, same_lat);
    EXPECT_EQ(one_place.extent_km, min_extent_km);
    EXPECT_EQ(one_place.far, (std::vector<size_t>{4}));
}
