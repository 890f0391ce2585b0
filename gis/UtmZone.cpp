// The survey's centre in degrees and the UTM zone there.
#include "gis/UtmZone.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double full_turn = 360.0;
constexpr double half_turn = 180.0;
constexpr double zone_width = 6.0;
constexpr int zone_count = 60;
constexpr int epsg_utm_north = 32600;
constexpr int epsg_utm_south = 32700;

// The same longitude in [-180, 180).
double Wrapped(double lon) {
    double wrapped = std::fmod(lon + half_turn, full_turn);
    if (wrapped < 0.0)
        wrapped += full_turn; // a tiny negative rounds up to a full turn
    if (wrapped >= full_turn)
        wrapped = 0.0;
    return wrapped - half_turn;
}

} // namespace

GeoPoint SurveyCentre(std::span<const double> lons,
                      std::span<const double> lats) {
    std::vector<double> east;
    east.reserve(lons.size());
    for (const double lon : lons)
        if (std::isfinite(lon))
            east.push_back(Wrapped(lon));
    GeoPoint centre;
    if (!east.empty()) {
        std::sort(east.begin(), east.end());
        // The stations cover the circle except its widest empty gap; the
        // gap from the last longitude round to the first counts as well.
        size_t after_gap = 0;
        double widest = east.front() + full_turn - east.back();
        for (size_t i = 1; i < east.size(); ++i) {
            const double gap = east[i] - east[i - 1];
            if (gap > widest) {
                widest = gap;
                after_gap = i;
            }
        }
        const double start = east[after_gap];
        const double width = full_turn - widest;
        centre.lon = Wrapped(start + width / 2.0);
    }
    double south = HUGE_VAL, north = -HUGE_VAL;
    for (const double lat : lats) {
        if (std::isfinite(lat)) {
            south = std::min(south, lat);
            north = std::max(north, lat);
        }
    }
    if (south <= north)
        centre.lat = south / 2.0 + north / 2.0; // no overflow at huge values
    return centre;
}

int UtmZone(double lon) {
    if (!std::isfinite(lon))
        return 1;
    const int zone =
        static_cast<int>(std::floor((Wrapped(lon) + half_turn) / zone_width)) +
        1;
    return std::clamp(zone, 1, zone_count);
}

int UtmEpsgCode(GeoPoint centre) {
    return (centre.lat >= 0.0 ? epsg_utm_north : epsg_utm_south) +
           UtmZone(centre.lon);
}
