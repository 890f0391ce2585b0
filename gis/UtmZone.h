// The WGS 84 UTM zone of a survey: the centre of its longitudes and latitudes
// and the EPSG code of the zone there. Plain arithmetic, no projection.
#pragma once

#include <span>

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

// The UTM zone, 1 to 60, of a longitude in degrees (6-degree zones from 180 W;
// the Norway and Svalbard exceptions are not applied). A longitude that is not
// finite gives zone 1.
int UtmZone(double lon);

// EPSG code of WGS 84 / UTM at a point: 32600 + zone north of the equator
// (latitude 0 included), 32700 + zone south of it.
int UtmEpsgCode(GeoPoint centre);
