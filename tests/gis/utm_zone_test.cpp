// The survey's centre in degrees (across the antimeridian too) and the WGS 84
// UTM zone chosen there, north and south of the equator.
#include <cmath>
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
