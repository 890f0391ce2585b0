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

constexpr double earth_mean_radius_km = 6371.0088;
constexpr double pi = 3.14159265358979323846;
constexpr double radians_per_degree = pi / half_turn;

// The start, in [-180, 180), of the narrowest longitude interval that holds
// every one of `east` (wrapped, sorted, not empty): the stations cover the
// circle except its widest empty gap, the gap from the last longitude round
// to the first included. `width` receives the interval's width.
double CoveringStart(const std::vector<double> &east, double &width) {
    size_t after_gap = 0;
    double widest = east.front() + full_turn - east.back();
    for (size_t i = 1; i < east.size(); ++i) {
        const double gap = east[i] - east[i - 1];
        if (gap > widest) {
            widest = gap;
            after_gap = i;
        }
    }
    width = full_turn - widest;
    return east[after_gap];
}

double Median(std::vector<double> values) {
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    if (values.size() % 2 == 1)
        return values[middle];
    const double upper = values[middle];
    const double lower =
        *std::max_element(values.begin(), values.begin() + middle);
    return lower / 2.0 + upper / 2.0;
}

} // namespace

double GreatCircleKm(GeoPoint a, GeoPoint b) {
    // The haversine formula, exact on the sphere for near and far points.
    const double lat_a = a.lat * radians_per_degree;
    const double lat_b = b.lat * radians_per_degree;
    const double half_dlat = (lat_b - lat_a) / 2.0;
    const double half_dlon = (b.lon - a.lon) * radians_per_degree / 2.0;
    const double h = std::sin(half_dlat) * std::sin(half_dlat) +
                     std::cos(lat_a) * std::cos(lat_b) * std::sin(half_dlon) *
                         std::sin(half_dlon);
    return 2.0 * earth_mean_radius_km * std::asin(std::min(1.0, std::sqrt(h)));
}

SurveySpread MeasureSpread(std::span<const double> lons,
                           std::span<const double> lats) {
    SurveySpread spread;
    std::vector<double> east, north;
    for (size_t i = 0; i < lons.size() && i < lats.size(); ++i) {
        if (std::isfinite(lons[i]) && std::isfinite(lats[i])) {
            east.push_back(Wrapped(lons[i]));
            north.push_back(lats[i]);
        }
    }
    if (east.empty())
        return spread;
    // The longitudes unwrapped from the start of the interval that covers
    // them, so that their median is the survey's, across 180 too.
    std::vector<double> sorted = east;
    std::sort(sorted.begin(), sorted.end());
    double width = 0.0;
    const double start = CoveringStart(sorted, width);
    for (double &lon : east)
        lon = lon < start ? lon + full_turn : lon;
    spread.centre = {Wrapped(Median(east)), Median(north)};

    std::vector<double> distances(east.size());
    for (size_t k = 0; k < east.size(); ++k)
        distances[k] = GreatCircleKm(spread.centre, {east[k], north[k]});
    spread.extent_km = std::max(Median(distances), min_extent_km);
    const double far_km = far_extents * spread.extent_km;
    for (size_t i = 0; i < lons.size() && i < lats.size(); ++i) {
        if (!std::isfinite(lons[i]) || !std::isfinite(lats[i]))
            continue;
        const double distance =
            GreatCircleKm(spread.centre, {lons[i], lats[i]});
        if (distance > far_km) {
            spread.far.push_back(i);
            spread.far_km.push_back(distance);
        }
    }
    return spread;
}

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
        double width = 0.0;
        const double start = CoveringStart(east, width);
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
