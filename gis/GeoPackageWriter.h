// Writes a point layer to a GeoPackage through GDAL: the geometry in the run's
// CRS, the caller's columns as typed fields. The file is built beside the
// target, keeping the layers of an earlier GeoPackage there that are not the
// tool's own, and takes its place only when complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "gis/GisError.h"

// The layer the companion table is written to.
constexpr const char *stations_layer_name = "stations";
// The layer of the surveys' outlines.
constexpr const char *surveys_layer_name = "surveys";
// The layers the tool writes: a GeoPackage written again loses these and
// keeps every other layer.
inline constexpr const char *own_layer_names[] = {stations_layer_name,
                                                  surveys_layer_name};

// A point of a polygon's ring, east and north in the layer's CRS.
struct RingPoint {
    double x, y;
};

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

// Writes one layer of points to a GeoPackage. Call Begin, AddRow for each
// row, then Finish. The rows go to a temporary file beside the target (one
// the caller names, or a hidden name in the same folder); Finish renames it
// over the target unless the caller puts it in place. A writer destroyed or
// failing before that removes the temporary file, so the target is either
// the complete new file or what it was before.
class TGeoPackageWriter {
  public:
    TGeoPackageWriter();
    ~TGeoPackageWriter();
    TGeoPackageWriter(const TGeoPackageWriter &) = delete;
    TGeoPackageWriter &operator=(const TGeoPackageWriter &) = delete;

    // Creates the temporary GeoPackage with a point layer `layer_name` whose
    // CRS is `crs_wkt` (any text PROJ accepts; empty: the GeoPackage's
    // "undefined Cartesian" system) and the given fields. An earlier
    // GeoPackage at `path` lends the new one its other layers; a file there
    // that is not a GeoPackage is refused. `temporary`: where to build it
    // (it must not exist); empty: a hidden name beside `path`, renamed over
    // it by Finish. Errors: WriteFailed naming `path` and the reason.
    GisError Begin(const std::string &path, const std::string &crs_wkt,
                   const std::vector<LayerColumn> &columns,
                   const std::string &layer_name = stations_layer_name,
                   const std::string &temporary = {});

    // Adds a point at (x, y), east and north in the layer's CRS, with one
    // value per column. Errors: WriteFailed (wrong count or type, or GDAL's).
    GisError AddRow(double x, double y, const std::vector<FieldValue> &values);

    // Starts another layer in the same file, of polygons, with its own
    // fields; the rows that follow go to it (AddPolygon).
    GisError AddPolygonLayer(const std::string &layer_name,
                             const std::vector<LayerColumn> &columns);
    // Adds a polygon with the outer ring `ring` (closed by the writer; fewer
    // than three points: no geometry) and one value per column.
    GisError AddPolygon(const std::vector<RingPoint> &ring,
                        const std::vector<FieldValue> &values);

    // Completes the file and, unless Begin was given the temporary file,
    // moves it over `path`. Errors: WriteFailed; the temporary file is then
    // removed and `path` left as it was.
    GisError Finish();
    // The layers of the earlier GeoPackage that the new one keeps.
    const std::vector<std::string> &KeptLayers() const { return kept; }

  private:
    struct Open; // GDAL's handles, kept out of this header
    GisError Fail(const std::string &reason);
    void Discard();
    // Creates the layer `layer_name` of points (or polygons) in the open
    // file with the fields of `columns`, and starts its rows' transaction.
    GisError StartLayer(const std::string &layer_name, bool polygons);
    // Adds a feature of `geometry` (taken; may be null) and `values`.
    GisError AddFeature(void *geometry, const std::vector<FieldValue> &values);

    // Copies the earlier GeoPackage at `path` to the temporary file when it
    // holds layers besides the tool's own; refuses a file that is not a
    // GeoPackage. True when the copy was made.
    GisError KeepEarlierLayers(bool &copied);

    std::unique_ptr<Open> open;
    std::string path, temporary;
    bool renames = true; // Finish puts the file in place
    std::vector<LayerColumn> columns;
    std::vector<std::string> kept;
};
