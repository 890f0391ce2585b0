// The WGS 84 UTM zone of a survey: the centre of its longitudes and latitudes,
// the stations that lie far outside the rest, and the EPSG code of the zone.
// Plain arithmetic, no projection.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

// A point in degrees: longitude east in [-180, 180), latitude north.
struct GeoPoint {
    double lon = 0.0, lat = 0.0;
};

// The centre of a survey given in degrees: the middle of the narrowest
// longitude interval that holds every station (so a survey across the
// antimeridian, 179 E to 179 W, centres near 180, not near 0) and the middle
// of the latitudes' range. Longitudes may be given in any turn (200 is -160).
// Non-finite coordinates are left out; with none left, the centre is (0, 0).
GeoPoint SurveyCentre(std::span<const double> lons,
                      std::span<const double> lats);

// A station farther than this many extents from the survey's centre lies far
// outside the rest: a sign flipped, a digit lost.
inline constexpr double far_extents = 10.0;
// The smallest extent, km: a survey whose stations mostly share one place
// still has one.
inline constexpr double min_extent_km = 0.1;

// How a survey given in degrees spreads, measured so that a few stations far
// out do not move it.
struct SurveySpread {
    // The median longitude (taken round the survey, so that one across the
    // antimeridian stays there) and the median latitude.
    GeoPoint centre;
    // The survey's extent, km: the median great-circle distance of the
    // stations from `centre`, at least min_extent_km.
    double extent_km = 0.0;
    // The stations farther than far_extents * extent_km from the centre
    // (indices into the coordinates, in order), with their distances, km.
    std::vector<size_t> far;
    std::vector<double> far_km;
};

// The spread of the stations at `lons` and `lats` (degrees, the same count).
// Non-finite coordinates are left out of the centre and the extent, and are
// never far.
SurveySpread MeasureSpread(std::span<const double> lons,
                           std::span<const double> lats);

// The great-circle distance between two points in degrees, km, on a sphere
// of the Earth's mean radius.
double GreatCircleKm(GeoPoint a, GeoPoint b);

// The UTM zone, 1 to 60, of a longitude in degrees (6-degree zones from 180 W;
// the Norway and Svalbard exceptions are not applied). A longitude that is not
// finite gives zone 1.
int UtmZone(double lon);

// EPSG code of WGS 84 / UTM at a point: 32600 + zone north of the equator
// (latitude 0 included), 32700 + zone south of it.
int UtmEpsgCode(GeoPoint centre);
