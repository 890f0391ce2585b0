// The GeoPackage writer: GDAL's GPKG driver into a temporary file, renamed
// over the target once complete.
#include "gis/GeoPackageWriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include "gis/GdalSession.h"

namespace {

constexpr const char *geopackage_driver = "GPKG";
// Coordinates in no known CRS: GDAL records this one as the GeoPackage's
// "undefined Cartesian" system (srs_id -1), not as undefined degrees.
constexpr const char *undefined_cartesian =
    "LOCAL_CS[\"Undefined cartesian SRS\",UNIT[\"metre\",1]]";
// The suffixes SQLite may leave beside a database while it is open.
constexpr const char *sidecar_suffixes[] = {"-journal", "-wal", "-shm"};

// A name in the target's folder that no other writer uses: hidden, with the
// process and a counter, and the GeoPackage extension GDAL expects.
std::string TemporaryBeside(const std::string &path) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target(path);
    const std::string name = "." + target.filename().string() + "." +
                             std::to_string(getpid()) + "." +
                             std::to_string(counter++) + ".partial.gpkg";
    return (target.parent_path() / name).string();
}

void RemoveWithSidecars(const std::string &file) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    for (const char *suffix : sidecar_suffixes)
        std::filesystem::remove(file + suffix, ignored);
}

OGRFieldType TypeOf(FieldKind kind) {
    switch (kind) {
    case FieldKind::Real:
        return OFTReal;
    case FieldKind::Integer:
        return OFTInteger64;
    case FieldKind::Text:
        return OFTString;
    }
    return OFTString;
}

} // namespace

struct TGeoPackageWriter::Open {
    GDALDatasetH dataset = nullptr;
    OGRLayerH layer = nullptr;
    OGRSpatialReferenceH srs = nullptr;
    bool in_transaction = false;

    ~Open() {
        if (dataset != nullptr)
            GDALClose(dataset);
        if (srs != nullptr)
            OSRRelease(srs);
    }
};

TGeoPackageWriter::TGeoPackageWriter() = default;

TGeoPackageWriter::~TGeoPackageWriter() { Discard(); }

void TGeoPackageWriter::Discard() {
    if (open) {
        TGdalQuiet quiet;
        open.reset();
    }
    if (!temporary.empty())
        RemoveWithSidecars(temporary);
    temporary.clear();
}

GisError TGeoPackageWriter::Fail(const std::string &reason) {
    Discard();
    return GisError::About(GisProblem::WriteFailed, path, reason);
}

GisError TGeoPackageWriter::KeepEarlierLayers(bool &copied) {
    copied = false;
    kept.clear();
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code) ||
        std::filesystem::file_size(path, code) == 0 || code)
        return {};
    const char *const drivers[] = {geopackage_driver, nullptr};
    GDALDatasetH earlier =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, drivers, nullptr, nullptr);
    if (earlier == nullptr)
        return Fail("It exists and is not a GeoPackage; choose another path "
                    "or remove it.");
    for (int k = 0; k < GDALDatasetGetLayerCount(earlier); ++k) {
        const std::string name = OGR_L_GetName(GDALDatasetGetLayer(earlier, k));
        const bool own =
            std::find(std::begin(own_layer_names), std::end(own_layer_names),
                      name) != std::end(own_layer_names);
        if (!own)
            kept.push_back(name);
    }
    GDALClose(earlier);
    if (kept.empty())
        return {};
    std::filesystem::copy_file(path, temporary, code);
    if (code)
        return Fail("Its other layers cannot be kept: " + code.message());
    copied = true;
    return {};
}

GisError TGeoPackageWriter::Begin(const std::string &path_,
                                  const std::string &crs_wkt,
                                  const std::vector<LayerColumn> &columns_,
                                  const std::string &layer_name,
                                  const std::string &temporary_) {
    Discard();
    path = path_;
    columns = columns_;
    TGdalQuiet quiet;
    std::error_code code;
    if (std::filesystem::is_directory(path, code))
        return Fail("It is a folder.");
    GDALDriverH driver = GDALGetDriverByName(geopackage_driver);
    if (driver == nullptr)
        return Fail("GDAL has no GeoPackage driver.");

    open = std::make_unique<Open>();
    open->srs = OSRNewSpatialReference(nullptr);
    const std::string crs = crs_wkt.empty() ? undefined_cartesian : crs_wkt;
    if (OSRSetFromUserInput(open->srs, crs.c_str()) != OGRERR_NONE)
        return Fail("PROJ does not accept its reference system.");
    OSRSetAxisMappingStrategy(open->srs, OAMS_TRADITIONAL_GIS_ORDER);
    renames = temporary_.empty();
    temporary = renames ? TemporaryBeside(path) : temporary_;
    RemoveWithSidecars(temporary);
    bool copied = false;
    if (GisError error = KeepEarlierLayers(copied); !error.ok())
        return error;
    if (copied) {
        const char *const drivers[] = {geopackage_driver, nullptr};
        open->dataset =
            GDALOpenEx(temporary.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE,
                       drivers, nullptr, nullptr);
        if (open->dataset == nullptr)
            return Fail(LastGdalError("GDAL cannot open its copy."));
        // The tool's own layers are written anew.
        for (int k = GDALDatasetGetLayerCount(open->dataset) - 1; k >= 0; --k) {
            const std::string name =
                OGR_L_GetName(GDALDatasetGetLayer(open->dataset, k));
            if (std::find(kept.begin(), kept.end(), name) == kept.end() &&
                GDALDatasetDeleteLayer(open->dataset, k) != OGRERR_NONE)
                return Fail(LastGdalError("GDAL cannot replace the layer " +
                                          name + "."));
        }
    } else {
        open->dataset = GDALCreate(driver, temporary.c_str(), 0, 0, 0,
                                   GDT_Unknown, nullptr);
    }
    if (open->dataset == nullptr)
        return Fail(LastGdalError("GDAL cannot create it."));
    return StartLayer(layer_name, false);
}

GisError TGeoPackageWriter::StartLayer(const std::string &layer_name,
                                       bool polygons) {
    const char *const layer_options[] = {"SPATIAL_INDEX=NO", nullptr};
    open->layer = GDALDatasetCreateLayer(
        open->dataset, layer_name.c_str(), open->srs,
        polygons ? wkbPolygon : wkbPoint, const_cast<char **>(layer_options));
    if (open->layer == nullptr)
        return Fail(LastGdalError("GDAL cannot create the layer " +
                                  layer_name + "."));
    for (const LayerColumn &column : columns) {
        OGRFieldDefnH field =
            OGR_Fld_Create(column.name.c_str(), TypeOf(column.kind));
        const OGRErr made = OGR_L_CreateField(open->layer, field, TRUE);
        OGR_Fld_Destroy(field);
        if (made != OGRERR_NONE)
            return Fail(LastGdalError("GDAL cannot add the field " +
                                      column.name + "."));
    }
    open->in_transaction =
        GDALDatasetStartTransaction(open->dataset, FALSE) == OGRERR_NONE;
    return {};
}

GisError TGeoPackageWriter::AddPolygonLayer(
    const std::string &layer_name, const std::vector<LayerColumn> &columns_) {
    if (!open)
        return Fail("The GeoPackage is not open.");
    TGdalQuiet quiet;
    if (open->in_transaction &&
        GDALDatasetCommitTransaction(open->dataset) != OGRERR_NONE)
        return Fail(LastGdalError("GDAL cannot commit the rows."));
    open->in_transaction = false;
    columns = columns_;
    return StartLayer(layer_name, true);
}

GisError TGeoPackageWriter::AddPolygon(const std::vector<RingPoint> &ring,
                                       const std::vector<FieldValue> &values) {
    OGRGeometryH polygon = nullptr;
    if (ring.size() >= 3) {
        OGRGeometryH outer = OGR_G_CreateGeometry(wkbLinearRing);
        for (const RingPoint &point : ring)
            OGR_G_AddPoint_2D(outer, point.x, point.y);
        OGR_G_AddPoint_2D(outer, ring.front().x, ring.front().y);
        polygon = OGR_G_CreateGeometry(wkbPolygon);
        OGR_G_AddGeometryDirectly(polygon, outer);
    }
    return AddFeature(polygon, values);
}

GisError TGeoPackageWriter::AddRow(double x, double y,
                                   const std::vector<FieldValue> &values) {
    OGRGeometryH point = OGR_G_CreateGeometry(wkbPoint);
    OGR_G_SetPoint_2D(point, 0, x, y);
    return AddFeature(point, values);
}

GisError TGeoPackageWriter::AddFeature(void *geometry_,
                                       const std::vector<FieldValue> &values) {
    OGRGeometryH geometry = static_cast<OGRGeometryH>(geometry_);
    if (!open) {
        OGR_G_DestroyGeometry(geometry);
        return Fail("The GeoPackage is not open.");
    }
    if (values.size() != columns.size()) {
        OGR_G_DestroyGeometry(geometry);
        return Fail("A row has " + std::to_string(values.size()) +
                    " values for " + std::to_string(columns.size()) +
                    " fields.");
    }
    TGdalQuiet quiet;
    OGRFeatureH feature = OGR_F_Create(OGR_L_GetLayerDefn(open->layer));
    std::string refused;
    for (size_t i = 0; i < values.size() && refused.empty(); ++i) {
        const int field = static_cast<int>(i);
        const FieldValue &value = values[i];
        const FieldKind kind = columns[i].kind;
        if (std::holds_alternative<std::monostate>(value) ||
            (std::holds_alternative<double>(value) &&
             std::isnan(std::get<double>(value)))) {
            OGR_F_SetFieldNull(feature, field);
        } else if (const auto *text = std::get_if<std::string>(&value)) {
            if (kind != FieldKind::Text)
                refused = "A text for the number field " + columns[i].name;
            else
                OGR_F_SetFieldString(feature, field, text->c_str());
        } else if (kind == FieldKind::Text) {
            refused = "A number for the text field " + columns[i].name;
        } else if (const auto *integer = std::get_if<int64_t>(&value)) {
            OGR_F_SetFieldInteger64(feature, field, *integer);
        } else {
            OGR_F_SetFieldDouble(feature, field, std::get<double>(value));
        }
    }
    if (geometry != nullptr)
        OGR_F_SetGeometryDirectly(feature, geometry);
    const OGRErr added = refused.empty()
                             ? OGR_L_CreateFeature(open->layer, feature)
                             : OGRERR_FAILURE;
    OGR_F_Destroy(feature);
    if (!refused.empty())
        return Fail(refused + ".");
    if (added != OGRERR_NONE)
        return Fail(LastGdalError("GDAL cannot add a row."));
    return {};
}

GisError TGeoPackageWriter::Finish() {
    if (!open)
        return Fail("The GeoPackage is not open.");
    {
        TGdalQuiet quiet;
        if (open->in_transaction &&
            GDALDatasetCommitTransaction(open->dataset) != OGRERR_NONE)
            return Fail(LastGdalError("GDAL cannot commit the rows."));
        open->in_transaction = false;
        // Closing writes what GDAL still holds; a failure shows as an error.
        GDALDatasetH dataset = open->dataset;
        open->dataset = nullptr;
        CPLErrorReset();
        GDALClose(dataset);
        if (CPLGetLastErrorType() == CE_Failure ||
            CPLGetLastErrorType() == CE_Fatal)
            return Fail(LastGdalError("GDAL cannot complete the file."));
        open.reset();
    }
    if (!renames) {
        // The caller puts the complete file in place.
        temporary.clear();
        return {};
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        return Fail(std::system_category().message(errno));
    temporary.clear();
    return {};
}
