// Why a GIS step refused: one typed record for every step of reading a table,
// placing its coordinates and writing a GeoPackage, and the one place that
// turns it into the text the user sees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What went wrong. The steps fill a GisError with one of these; the caller
// shows GisMessage(error) once, and takes its exit status or dialog from
// IsUsageProblem and AsksForColumns. One table in GisError.cpp describes
// each problem.
enum class GisProblem {
    None,
    // --columns
    ColumnsSyntax,   // an item is not ROLE=FIELD (detail: the item)
    UnknownRole,     // a role other than x, y, lon, lat, point, h, value
    DuplicateRole,   // a role named twice (role)
    FieldNamedTwice, // one field named for two roles (detail: the field)
    UnknownField,    // --columns names a field the table lacks (detail)
    // the column choice
    AmbiguousRole,      // several fields claim the role (role, candidates)
    MissingRole,        // no field for a role that must be there (role)
    MixedCoordinates,   // one coordinate is planar, the other geographic
    UnrecognisedHeader, // a header that names no column (fields): said when
                        // the file, read as a station file, gave no station
    // the source
    CannotOpen,    // GDAL cannot open the file (detail: GDAL's reason)
    NoLayer,       // the source holds no table
    LayerNotFound, // --layer names no layer of the source (detail)
    SeveralLayers, // several layers and no --layer
    NoLayers,      // --layer for a text file, which has no layers
    ReadFailed,    // a read failed part way (detail, row)
    OpenQuote,     // a quoted field of a text table never closes (row, line)
    NotText,       // bytes that are not text in the encoding (line or row;
                   // detail: the encoding, empty for UTF-8)
    // coordinates
    BadCrsText,         // PROJ does not accept a CRS text (option, detail)
    TargetNotProjected, // --crs names a CRS that is not projected (detail)
    TargetNotMetres,    // --crs is projected in another unit (detail, unit)
    CrsMismatch,        // longitude/latitude columns with a projected CRS
    UnknownSourceCrs,   // --crs given, but the coordinates' own CRS unknown
    TransformFailed,    // PROJ could not transform a station (row, detail)
    AngleOutOfRange, // a longitude or latitude (detail) beyond ±limit (number,
                     // limit, row)
    // the GeoPackage
    WriteFailed, // the GeoPackage could not be written (detail: the reason)
    // a source the station reader cannot read (detail: its whole message)
    SourceUnreadable,
    // the DEM (file: its path)
    DemUnreadable,      // GDAL reads no raster band from it (detail: why)
    DemNotPlaced,       // no geotransform places its pixels
    DemNoCrs,           // it declares no coordinate reference system
    DemNeedsStationCrs, // a geographic DEM (detail: its CRS's name) and
                        // stations whose CRS is not known
    DemCoversNone,      // no station has a height from it (outside,
                        // on_nodata)
    DemReadFailed,      // a read failed part way (detail: GDAL's reason)
};

// The role a field plays in a station; order of the station text format,
// then the survey the station belongs to (tables and layers only).
enum class ColumnRole { X, Y, Point, H, Value, Survey };
constexpr int column_role_count = 6;
// The roles of the station text format's five fields, x to value.
constexpr int station_role_count = 5;

// A refusal with what the message needs. Only the members a problem uses are
// set; `file` is the source or target path.
struct GisError {
    GisProblem problem = GisProblem::None;
    std::string file;
    std::string option; // the option a text came from: "--crs", "--source-crs"
    std::string detail; // the item, field, layer, CRS text or system reason
    ColumnRole role = ColumnRole::X;
    std::vector<std::string> candidates; // fields that claim `role`
    std::vector<std::string> fields;     // every field (or layer) of the source
    int64_t row = 0;                     // data row, counted from 1; 0 none
    int64_t line = 0; // line of a text file, counted from 1; 0 none
    double number = 0.0, limit = 0.0; // a coordinate out of range, its limit
    std::string unit; // the length unit of a CRS that is not in metres
    int64_t outside = 0, on_nodata = 0; // stations beyond a DEM, on its nodata

    bool ok() const { return problem == GisProblem::None; }

    // A refusal about `file` with its detail; the other members stay unset.
    static GisError About(GisProblem problem, const std::string &file,
                          const std::string &detail = {}) {
        GisError error;
        error.problem = problem;
        error.file = file;
        error.detail = detail;
        return error;
    }
};

// What a GIS step tells the user without refusing.
enum class GisNote {
    SourceCrsOverrides, // --source-crs (option) over the CRS the layer
                        // declares (detail: its name)
    FarStation,        // a station far outside the rest (row or line, lon, lat,
                       // distance_km, extent_km, zone_without)
    MoreFarStations,   // `count` more such stations
    ConvertedToMetres, // projected coordinates in another unit (option: the
                       // unit) taken to metres of their CRS (detail: its name)
};

// A notice with what its message needs; only the members it uses are set.
struct GisNotice {
    GisNote note = GisNote::SourceCrsOverrides;
    std::string option; // the option's text as given
    std::string detail;
    int64_t row = 0, line = 0;   // data row of a table, line of a text file
    double lon = 0.0, lat = 0.0; // degrees
    double distance_km = 0.0, extent_km = 0.0; // from the survey's centre
    int64_t count = 0;
    bool zone_without = false; // the run's UTM zone was chosen without it
};

// The notice's line for the user.
std::string NoticeMessage(const GisNotice &notice);

// The name of a role as --columns spells it: "x", "y", "point", "h", "value".
const char *RoleName(ColumnRole role);

// The whole message for the user, one line, naming the file and the reason.
std::string GisMessage(const GisError &error);

// True for a refusal caused by the command line or by a choice the user must
// make (ambiguous or missing columns, several layers): exit status 2; every
// other problem is a failure of the input or the output: exit status 1.
bool IsUsageProblem(GisProblem problem);

// True for a refusal the user mends by choosing the columns or the
// coordinate system (unknown, ambiguous or missing columns, a CRS that cannot
// be told or is not accepted): the window asks with its column dialog.
bool AsksForColumns(GisProblem problem);
