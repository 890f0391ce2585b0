// Writes a point layer to a GeoPackage through GDAL: the geometry in the run's
// CRS, the caller's columns as typed fields. The file is built beside the
// target and takes its place only when complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "gis/GisError.h"

// The layer the companion table is written to.
constexpr const char *stations_layer_name = "stations";

// A field's type in the GeoPackage.
enum class FieldKind { Real, Integer, Text };

// One field of the layer, in the caller's order.
struct LayerColumn {
    std::string name;
    FieldKind kind;
};

// A value for one field of a row: nothing (written as NULL), a number or a
// text (UTF-8). A NaN number is written as NULL; a number for a Text field
// and a text for a number field are refused.
using FieldValue = std::variant<std::monostate, double, int64_t, std::string>;

// Writes one layer of points to a new GeoPackage. Call Begin, AddRow for each
// row, then Finish. Until Finish succeeds the rows go to a temporary file
// beside `path` (a hidden name in the same folder); Finish renames it over
// `path`. A writer destroyed or failing before that removes the temporary
// file, so `path` is either the complete new file or what it was before.
class TGeoPackageWriter {
  public:
    TGeoPackageWriter();
    ~TGeoPackageWriter();
    TGeoPackageWriter(const TGeoPackageWriter &) = delete;
    TGeoPackageWriter &operator=(const TGeoPackageWriter &) = delete;

    // Creates the temporary GeoPackage with a point layer `layer_name` whose
    // CRS is `crs_wkt` (any text PROJ accepts; empty: the GeoPackage's
    // "undefined Cartesian" system) and the given fields. Errors: WriteFailed
    // naming `path` and the reason.
    GisError Begin(const std::string &path, const std::string &crs_wkt,
                   const std::vector<LayerColumn> &columns,
                   const std::string &layer_name = stations_layer_name);

    // Adds a point at (x, y), east and north in the layer's CRS, with one
    // value per column. Errors: WriteFailed (wrong count or type, or GDAL's).
    GisError AddRow(double x, double y, const std::vector<FieldValue> &values);

    // Completes the file and moves it over `path`. Errors: WriteFailed; the
    // temporary file is then removed and `path` left as it was.
    GisError Finish();

  private:
    struct Open; // GDAL's handles, kept out of this header
    GisError Fail(const std::string &reason);
    void Discard();

    std::unique_ptr<Open> open;
    std::string path, temporary;
    std::vector<LayerColumn> columns;
};
