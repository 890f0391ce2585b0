// The GIS module: the part of the programs that links GDAL and PROJ, loaded
// only when a run reads a table or a GIS layer, moves coordinates to another
// system, samples a DEM or writes a GeoPackage. A run on a station file never
// loads it, so it neither starts nor carries the hundred libraries GDAL brings.
// It speaks in the records of this folder: a source's stations in, their
// placing, a layer of points out, a DEM's heights at the stations.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gis/Coordinates.h"
#include "gis/DemSampler.h"
#include "gis/GeoPackageWriter.h"
#include "gis/SurveyStations.h"
#include "gis/TableSource.h"

// Changes whenever GisModuleApi or its records do: a module of another build
// is refused.
inline constexpr int gis_module_version = 5;

// What the module found of a source.
struct GisSource {
    GisError refusal; // None unless the source was refused
    // A station text file: the caller reads it (and has its stations placed
    // when the options move them to another coordinate system).
    bool station_text = false;
    // A text whose first line reads as a table's header naming no column the
    // readers recognise (see SourceDecision::UnrecognisedTable).
    bool columns_unknown = false;
    std::vector<std::string> fields; // the source's fields (or the header's)
    // What the user reads: the columns and the CRS taken, rows passed over.
    std::vector<std::string> notes;
    // A table's stations, in the CRS to compute in, in the source's order;
    // longitude and latitude of each when the input was geographic.
    TListedStations stations;
    std::vector<double> lon, lat;
    RunCrs crs;
};

// The stations of a station text file placed in the CRS to compute in.
struct GisPlaced {
    GisError refusal;
    std::vector<std::string> notes;
    std::vector<double> lon, lat;
    RunCrs crs;
};

// A layer of polygons written into the same GeoPackage after the points.
struct GisPolygonLayer {
    std::string name;
    std::vector<LayerColumn> columns;
    size_t rows = 0;
    // Fills row k: its outer ring and one value per column.
    std::function<void(size_t k, std::vector<RingPoint> &ring,
                       std::vector<FieldValue> &values)>
        row;
};

// A layer of points to write into a GeoPackage, built at `temporary` (which
// must not exist) for the caller to put in place; the other layers of an
// earlier GeoPackage at `path` are kept (TGeoPackageWriter).
struct GisLayer {
    std::string path;
    std::string temporary;
    std::string crs_wkt; // empty: the GeoPackage's undefined Cartesian system
    std::string name;
    std::vector<LayerColumn> columns;
    size_t rows = 0;
    // Fills row k: its point (east, north in the layer's CRS) and one value
    // per column.
    std::function<void(size_t k, double &x, double &y,
                       std::vector<FieldValue> &values)>
        row;
    // Further layers of polygons in the same file.
    std::vector<GisPolygonLayer> polygon_layers;
};

// What writing a layer did.
struct GisLayerWritten {
    GisError error;
    std::vector<std::string> kept_layers; // an earlier GeoPackage's, kept
};

struct GisModuleApi {
    int version;
    // Decides how `path` is read and reads it when it is a table or a layer
    // (its stations listed and placed); a station text file is left to the
    // caller. `held`: the source's bytes when it can be read only once
    // (else null); messages name `path` all the same.
    void (*read_source)(const std::string &path, const std::string *held,
                        const TableOptions &options, GisSource &source);
    // Places the stations of the station text file `path`, read by the
    // caller, in the CRS to compute in (PlaceCoordinates); their x and y
    // change in place. Refusals and notices name the file's lines.
    void (*place_stations)(const std::string &path, const TableOptions &options,
                           TListedStations &stations, GisPlaced &placed);
    // Writes one layer of points.
    void (*write_layer)(const GisLayer &layer, GisLayerWritten &written);
    // Samples the DEM `path` at the stations (x east, y north in the CRS
    // `crs_wkt`; empty when not known): SampleDem (gis/DemSampler.h).
    void (*sample_dem)(const std::string &path, const std::string &crs_wkt,
                       const std::vector<double> &x,
                       const std::vector<double> &y, DemHeights &heights);
};

// The module's one entry point.
extern "C" const GisModuleApi *korvanel_gis_module();
