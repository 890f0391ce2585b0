// Heights of a digital elevation model at the stations: band 1 of any raster
// GDAL reads (GeoTIFF, SRTM .hgt, VRT, ...), in its own CRS, the stations'
// coordinates transformed to it with PROJ and the height interpolated
// bilinearly between the four surrounding pixel centres. The raster is read
// in small windows, a group of stations at a time, so a million stations over
// a large raster take little time and bounded memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gis/GisError.h"

// What sampling a DEM gave.
struct DemHeights {
    // None, or why the DEM gives no height: DemUnreadable, DemNotPlaced,
    // DemNoCrs, DemNeedsStationCrs, DemCoversNone, DemReadFailed,
    // TransformFailed; each names the DEM.
    GisError refusal;
    // One per station, metres (the band's scale and offset applied); NaN
    // outside the raster or where a pixel with a share in it is nodata.
    std::vector<double> heights;
    int64_t outside = 0;   // stations beyond the raster (or PROJ's reach)
    int64_t on_nodata = 0; // stations inside it whose pixels are nodata
    // What the user should know: the DEM's CRS taken for stations without
    // one, the vertical datum taken to be the stations'.
    std::vector<std::string> notes;
};

// Samples the DEM `path` at the stations (x east, y north, in the CRS
// `crs_wkt`, WKT; empty or a local CRS: unknown). A station whose CRS is
// unknown is taken to be in the DEM's when the DEM is projected (a note says
// so); a geographic DEM then is refused, as nothing says where the stations
// lie. A station within half a pixel of the raster's edge takes the nearest
// pixel centres' values along that edge. Never throws.
DemHeights SampleDem(const std::string &path, const std::string &crs_wkt,
                     const std::vector<double> &x,
                     const std::vector<double> &y);
