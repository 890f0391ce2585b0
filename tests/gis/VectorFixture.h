// Small vector sources made with GDAL itself for the gis tests: a layer of
// typed fields and optional point geometry in a GeoPackage, spreadsheet,
// GeoJSON or any other format GDAL writes.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include "gis/GeoPackageWriter.h"

struct FixtureField {
    std::string name;
    OGRFieldType type;
};

struct FixtureRow {
    std::vector<FieldValue> values; // one per field; monostate is NULL
    bool has_point = false;
    double x = 0.0, y = 0.0;
};

// Writes the layer `layer` into `path` with `driver`, adding it to the file
// when it already exists (for sources with several layers). `epsg` 0 and
// `geometry` false give a table without CRS or geometry. Returns false with
// GDAL's message in `error` when GDAL refuses.
inline bool WriteVectorLayer(const std::string &path, const char *driver_name,
                             const std::string &layer_name, int epsg,
                             bool geometry,
                             const std::vector<FixtureField> &fields,
                             const std::vector<FixtureRow> &rows,
                             std::string &error) {
    GDALAllRegister();
    GDALDatasetH dataset =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr,
                   nullptr, nullptr);
    if (dataset == nullptr) {
        GDALDriverH driver = GDALGetDriverByName(driver_name);
        dataset =
            GDALCreate(driver, path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    }
    if (dataset == nullptr) {
        error = CPLGetLastErrorMsg();
        return false;
    }
    OGRSpatialReferenceH srs = nullptr;
    if (epsg != 0) {
        srs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(srs, epsg);
        OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    }
    OGRLayerH layer =
        GDALDatasetCreateLayer(dataset, layer_name.c_str(), srs,
                               geometry ? wkbPoint : wkbNone, nullptr);
    bool ok = layer != nullptr;
    for (size_t i = 0; ok && i < fields.size(); ++i) {
        OGRFieldDefnH field =
            OGR_Fld_Create(fields[i].name.c_str(), fields[i].type);
        ok = OGR_L_CreateField(layer, field, TRUE) == OGRERR_NONE;
        OGR_Fld_Destroy(field);
    }
    for (size_t r = 0; ok && r < rows.size(); ++r) {
        OGRFeatureH feature = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        for (size_t i = 0; i < rows[r].values.size(); ++i) {
            const int f = static_cast<int>(i);
            const FieldValue &value = rows[r].values[i];
            if (const auto *text = std::get_if<std::string>(&value))
                OGR_F_SetFieldString(feature, f, text->c_str());
            else if (const auto *number = std::get_if<double>(&value))
                OGR_F_SetFieldDouble(feature, f, *number);
            else if (const auto *integer = std::get_if<int64_t>(&value))
                OGR_F_SetFieldInteger64(feature, f, *integer);
            else
                OGR_F_SetFieldNull(feature, f);
        }
        if (rows[r].has_point) {
            OGRGeometryH point = OGR_G_CreateGeometry(wkbPoint);
            OGR_G_SetPoint_2D(point, 0, rows[r].x, rows[r].y);
            OGR_F_SetGeometryDirectly(feature, point);
        }
        ok = OGR_L_CreateFeature(layer, feature) == OGRERR_NONE;
        OGR_F_Destroy(feature);
    }
    if (!ok)
        error = CPLGetLastErrorMsg();
    if (srs != nullptr)
        OSRRelease(srs);
    GDALClose(dataset);
    return ok;
}
