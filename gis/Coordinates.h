// The coordinate reference system a run computes in, and the stations taken
// into it with PROJ (through OGR): longitude and latitude are projected to
// metres, projected coordinates are used as they are.
#pragma once

#include <string>
#include <vector>

#include "gis/GisError.h"
#include "gis/TableSource.h"

// The CRS the run computes in, once the coordinates are placed.
struct RunCrs {
    std::string wkt;  // WKT2 of the CRS; empty when it is not known
    std::string name; // for the user: "WGS 84 / UTM zone 19S (EPSG:32719)"
    bool geographic_input = false; // the stations came as degrees
    bool transformed = false;      // PROJ moved the coordinates
    // What placing the coordinates said without refusing, for the user.
    std::vector<GisNotice> notices;

    bool Known() const { return !wkt.empty(); }
};

// Takes coordinates to the CRS the run computes in. The source CRS is, first
// found first: --source-crs; `layer_crs` (WKT of the geometry's layer); WGS 84
// longitude and latitude (EPSG:4326) when `lon_lat_columns`; else unknown.
// A --source-crs other than the layer's own CRS is a notice naming both.
//  - Geographic source: a longitude beyond ±180 or a latitude beyond ±90
//    degrees is refused (AngleOutOfRange); each station far outside the rest
//    (MeasureSpread) is a notice (FarStation; MoreFarStations after the
//    first few). Projected to --crs, or without it to the WGS 84 UTM zone of
//    the centre of the stations that are not far out (SurveyCentre,
//    UtmEpsgCode). `lon` and `lat` receive the coordinates as read (degrees,
//    in the source's datum).
//  - Projected source: used as it is and its CRS carried on; with a --crs that
//    is another CRS, transformed to it. Without --crs, a source in feet (any
//    unit but the metre) is converted to metres of the same projection (a
//    CRS named "..., in metres"), with a notice, since the run's parameters
//    are metres; a --crs in such a unit is refused (TargetNotMetres).
//  - Unknown or local source (a GeoPackage's undefined Cartesian system):
//    used as it is (a local CRS carried on); --crs is refused
//    (UnknownSourceCrs), as nothing tells what to transform from.
// x is east (or longitude) and y north (or latitude) whatever the CRS's own
// axis order. `x` and `y` are changed in place; lon and lat are left empty
// unless the input was geographic. Errors: BadCrsText (with the option),
// TargetNotProjected, TargetNotMetres, CrsMismatch (longitude and latitude
// columns with a projected --source-crs or layer), UnknownSourceCrs,
// AngleOutOfRange, TransformFailed (row = the coordinates' index + 1, the first
// that fails; the notices' rows too), each naming `file`.
GisError PlaceCoordinates(const std::string &file, const TableOptions &options,
                          const std::string &layer_crs, bool lon_lat_columns,
                          std::vector<double> &x, std::vector<double> &y,
                          std::vector<double> &lon, std::vector<double> &lat,
                          RunCrs &run);

// PlaceCoordinates for the stations of a table (its layer CRS and column
// choice); each station's x and y become the run's metres, and table.lon and
// table.lat keep the degrees of geographic input. Refusals and notices name
// the station's data row.
GisError PlaceStations(const std::string &file, const TableOptions &options,
                       TableData &table, RunCrs &run);
