// The GeoPackage writer, read back through GDAL: the layer, its CRS, fields and
// types, NULLs and points; and failures that leave no file looking complete.
#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include "gis/GeoPackageWriter.h"
#include "support/TempDir.h"

namespace {

// The companion table's columns, as the quality-control stage will give them.
std::vector<LayerColumn> CompanionColumns() {
    std::vector<LayerColumn> columns = {{"point", FieldKind::Text}};
    for (const char *name :
         {"x", "y", "h", "value", "estimate_all", "estimate_without", "r1",
          "r2", "sigma", "z", "r2_clean", "half_size"})
        columns.push_back({name, FieldKind::Real});
    columns.push_back({"n", FieldKind::Integer});
    columns.push_back({"status", FieldKind::Text});
    columns.push_back({"flag", FieldKind::Text});
    columns.push_back({"lon", FieldKind::Real});
    columns.push_back({"lat", FieldKind::Real});
    return columns;
}

std::vector<FieldValue> CompanionRow(const std::string &point, double x,
                                     double y, bool estimated) {
    std::vector<FieldValue> row(18); // NULL unless set below
    row[0] = point;
    row[1] = x;
    row[2] = y;
    row[3] = 2185.5;
    row[4] = -11.553;
    for (size_t i = 5; i <= 11 && estimated; ++i)
        row[i] = 0.25 * static_cast<double>(i - 5);
    row[12] = 3000.0;
    row[13] = int64_t{16};
    row[14] = std::string(estimated ? "ok" : "no estimate");
    if (estimated)
        row[15] = std::string("suspect");
    row[16] = -70.5;
    row[17] = std::numeric_limits<double>::quiet_NaN(); // NULL
    return row;
}

std::string Crs(int epsg) { return "EPSG:" + std::to_string(epsg); }

// Files in the folder other than `keep`: a failed write leaves none.
std::vector<std::string> OtherFiles(const TempDir &dir,
                                    const std::string &keep) {
    std::vector<std::string> others;
    for (const auto &entry : std::filesystem::directory_iterator(dir.File("")))
        if (entry.path().filename() != keep)
            others.push_back(entry.path().filename().string());
    return others;
}

} // namespace

TEST(GeoPackageWriter, ReadBackThroughGdal) {
    TempDir dir;
    const std::string path = dir.File("survey.gpkg");
    TGeoPackageWriter writer;
    const std::vector<LayerColumn> columns = CompanionColumns();
    ASSERT_TRUE(writer.Begin(path, Crs(32719), columns).ok());
    ASSERT_TRUE(writer
                    .AddRow(362472.40, 6008599.50,
                            CompanionRow("LDM001", 362472.40, 6008599.50, true))
                    .ok());
    ASSERT_TRUE(writer
                    .AddRow(363047.40, 6007741.50,
                            CompanionRow("Ná", 363047.40, 6007741.50, false))
                    .ok());
    EXPECT_FALSE(std::filesystem::exists(path)); // not before Finish
    ASSERT_TRUE(writer.Finish().ok());
    EXPECT_TRUE(OtherFiles(dir, "survey.gpkg").empty());

    GDALAllRegister();
    GDALDatasetH dataset =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    ASSERT_NE(dataset, nullptr);
    ASSERT_EQ(GDALDatasetGetLayerCount(dataset), 1);
    OGRLayerH layer = GDALDatasetGetLayerByName(dataset, "stations");
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(wkbFlatten(OGR_L_GetGeomType(layer)), wkbPoint);
    OGRSpatialReferenceH srs = OGR_L_GetSpatialRef(layer);
    ASSERT_NE(srs, nullptr);
    EXPECT_STREQ(OSRGetAuthorityName(srs, nullptr), "EPSG");
    EXPECT_STREQ(OSRGetAuthorityCode(srs, nullptr), "32719");

    OGRFeatureDefnH definition = OGR_L_GetLayerDefn(layer);
    ASSERT_EQ(OGR_FD_GetFieldCount(definition),
              static_cast<int>(columns.size()));
    for (size_t i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(columns[i].name);
        OGRFieldDefnH field =
            OGR_FD_GetFieldDefn(definition, static_cast<int>(i));
        EXPECT_EQ(OGR_Fld_GetNameRef(field), columns[i].name);
        const OGRFieldType expected =
            columns[i].kind == FieldKind::Real      ? OFTReal
            : columns[i].kind == FieldKind::Integer ? OFTInteger64
                                                    : OFTString;
        EXPECT_EQ(OGR_Fld_GetType(field), expected);
    }

    EXPECT_EQ(OGR_L_GetFeatureCount(layer, TRUE), 2);
    OGR_L_ResetReading(layer);
    OGRFeatureH first = OGR_L_GetNextFeature(layer);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(OGR_F_GetFieldAsString(first, 0), "LDM001");
    EXPECT_EQ(OGR_F_GetFieldAsDouble(first, 1), 362472.40); // stored exactly
    EXPECT_EQ(OGR_F_GetFieldAsDouble(first, 8), 0.25 * 3);
    EXPECT_EQ(OGR_F_GetFieldAsInteger64(first, 13), 16);
    EXPECT_STREQ(OGR_F_GetFieldAsString(first, 15), "suspect");
    EXPECT_TRUE(OGR_F_IsFieldNull(first, 17)); // a NaN is NULL
    OGRGeometryH point = OGR_F_GetGeometryRef(first);
    ASSERT_NE(point, nullptr);
    EXPECT_EQ(OGR_G_GetX(point, 0), 362472.40);
    EXPECT_EQ(OGR_G_GetY(point, 0), 6008599.50);
    OGR_F_Destroy(first);

    OGRFeatureH second = OGR_L_GetNextFeature(layer);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(OGR_F_GetFieldAsString(second, 0), "Ná");
    for (int field = 5; field <= 11; ++field)
        EXPECT_TRUE(OGR_F_IsFieldNull(second, field)) << field;
    EXPECT_TRUE(OGR_F_IsFieldNull(second, 15));
    EXPECT_STREQ(OGR_F_GetFieldAsString(second, 14), "no estimate");
    OGR_F_Destroy(second);
    GDALClose(dataset);
}

// A GeoPackage at `path` with `rows` points in the layer `layer`.
void WriteLayer(const std::string &path, const std::string &layer, int rows) {
    TGeoPackageWriter writer;
    ASSERT_TRUE(
        writer.Begin(path, Crs(32719), {{"v", FieldKind::Real}}, layer).ok());
    for (int k = 0; k < rows; ++k)
        ASSERT_TRUE(writer.AddRow(k, k, {0.5 * k}).ok());
    ASSERT_TRUE(writer.Finish().ok());
}

// The layers of the GeoPackage at `path` with their point counts.
std::vector<std::pair<std::string, int64_t>> Layers(const std::string &path) {
    GDALAllRegister();
    std::vector<std::pair<std::string, int64_t>> layers;
    GDALDatasetH dataset =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    if (dataset == nullptr)
        return layers;
    for (int k = 0; k < GDALDatasetGetLayerCount(dataset); ++k) {
        OGRLayerH layer = GDALDatasetGetLayer(dataset, k);
        layers.emplace_back(OGR_L_GetName(layer),
                            OGR_L_GetFeatureCount(layer, TRUE));
    }
    GDALClose(dataset);
    std::sort(layers.begin(), layers.end());
    return layers;
}

TEST(GeoPackageWriter, WithoutCrsAndReplacingAnEarlierFile) {
    TempDir dir;
    const std::string path = dir.File("old.gpkg");
    WriteLayer(path, stations_layer_name, 3);
    TGeoPackageWriter writer;
    ASSERT_TRUE(writer.Begin(path, "", {{"v", FieldKind::Real}}).ok());
    ASSERT_TRUE(writer.AddRow(1.0, 2.0, {0.5}).ok());
    ASSERT_TRUE(writer.Finish().ok());
    EXPECT_TRUE(writer.KeptLayers().empty());
    GDALAllRegister();
    GDALDatasetH dataset =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    ASSERT_NE(dataset, nullptr);
    EXPECT_EQ(GDALDatasetGetLayerCount(dataset), 1);
    OGRLayerH layer = GDALDatasetGetLayer(dataset, 0);
    // recorded as undefined Cartesian, so no reader takes metres for degrees
    OGRSpatialReferenceH srs = OGR_L_GetSpatialRef(layer);
    ASSERT_NE(srs, nullptr);
    EXPECT_TRUE(OSRIsLocal(srs));
    EXPECT_FALSE(OSRIsGeographic(srs));
    EXPECT_EQ(OGR_L_GetFeatureCount(layer, TRUE), 1);
    GDALClose(dataset);
}

// 2026-12-10, issue 19: writing a GeoPackage deleted the other layers of an
// earlier one at the same path without a word.
TEST(GeoPackageWriter, KeepsTheOtherLayersOfAnEarlierGeoPackage) {
    TempDir dir;
    const std::string path = dir.File("project.gpkg");
    WriteLayer(path, "roads", 4);
    WriteLayer(dir.File("more.gpkg"), "wells", 2);
    {
        // A second layer beside the first, as a GIS would add it.
        GDALAllRegister();
        GDALDatasetH project =
            GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr,
                       nullptr, nullptr);
        GDALDatasetH more =
            GDALOpenEx(dir.File("more.gpkg").c_str(), GDAL_OF_VECTOR, nullptr,
                       nullptr, nullptr);
        ASSERT_NE(project, nullptr);
        ASSERT_NE(more, nullptr);
        ASSERT_NE(GDALDatasetCopyLayer(project, GDALDatasetGetLayer(more, 0),
                                       "wells", nullptr),
                  nullptr);
        GDALClose(more);
        GDALClose(project);
    }
    WriteLayer(path, stations_layer_name, 3);
    WriteLayer(path, stations_layer_name, 5); // written again: replaced
    const std::vector<std::pair<std::string, int64_t>> expected = {
        {"roads", 4}, {"stations", 5}, {"wells", 2}};
    EXPECT_EQ(Layers(path), expected);
    TGeoPackageWriter writer;
    ASSERT_TRUE(writer.Begin(path, "", {{"v", FieldKind::Real}}).ok());
    ASSERT_TRUE(writer.Finish().ok());
    EXPECT_EQ(writer.KeptLayers(),
              (std::vector<std::string>{"roads", "wells"}));

    // A file there that is no GeoPackage is refused and stays as it was.
    const std::string text = dir.Write("notes.gpkg", "field notes");
    TGeoPackageWriter refused;
    const GisError error = refused.Begin(text, "", {{"v", FieldKind::Real}});
    EXPECT_EQ(error.problem, GisProblem::WriteFailed);
    EXPECT_NE(GisMessage(error).find("not a GeoPackage"), std::string::npos)
        << GisMessage(error);
    EXPECT_EQ(TempDir::Read(text), "field notes");
}

TEST(GeoPackageWriter, FailuresLeaveNothingThatLooksComplete) {
    TempDir dir;
    const std::string path = dir.File("out.gpkg");
    WriteLayer(dir.File("earlier.gpkg"), stations_layer_name, 2);
    const std::string earlier = TempDir::Read(dir.File("earlier.gpkg"));
    std::filesystem::remove(dir.File("earlier.gpkg"));
    const std::vector<LayerColumn> columns = {{"name", FieldKind::Text},
                                              {"n", FieldKind::Integer}};

    // Rows the layer refuses: the target keeps what it was.
    const std::vector<std::vector<FieldValue>> bad_rows = {
        {std::string("A")},                      // one value short
        {1.5, int64_t{1}},                       // a number for a text
        {std::string("A"), std::string("many")}, // a text for a number
    };
    for (size_t i = 0; i < bad_rows.size(); ++i) {
        SCOPED_TRACE(i);
        dir.Write("out.gpkg", earlier);
        TGeoPackageWriter writer;
        ASSERT_TRUE(writer.Begin(path, Crs(32719), columns).ok());
        ASSERT_TRUE(writer.AddRow(1, 2, {std::string("ok"), int64_t{1}}).ok());
        const GisError error = writer.AddRow(3, 4, bad_rows[i]);
        EXPECT_EQ(error.problem, GisProblem::WriteFailed);
        EXPECT_EQ(GisMessage(error).rfind(path + ": cannot write the "
                                                 "GeoPackage. ",
                                          0),
                  0u)
            << GisMessage(error);
        EXPECT_EQ(writer.Finish().problem, GisProblem::WriteFailed);
        EXPECT_EQ(TempDir::Read(path), earlier);
        EXPECT_TRUE(OtherFiles(dir, "out.gpkg").empty());
    }

    // A writer dropped before Finish (a run stopped part way).
    {
        TGeoPackageWriter writer;
        ASSERT_TRUE(writer.Begin(path, Crs(32719), columns).ok());
        ASSERT_TRUE(writer.AddRow(1, 2, {std::string("ok"), int64_t{1}}).ok());
    }
    EXPECT_EQ(TempDir::Read(path), earlier);
    EXPECT_TRUE(OtherFiles(dir, "out.gpkg").empty());
}

TEST(GeoPackageWriter, UnwritablePaths) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("folder.gpkg"));
    struct Case {
        const char *name;
        std::string path;
        std::string crs;
    };
    const Case cases[] = {
        {"missing folder", dir.File("no/such/folder/s.gpkg"), Crs(32719)},
        {"a folder", dir.File("folder.gpkg"), Crs(32719)},
        {"a CRS PROJ does not accept", dir.File("s.gpkg"), "EPSG:999999"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TGeoPackageWriter writer;
        const GisError error =
            writer.Begin(c.path, c.crs, {{"v", FieldKind::Real}});
        EXPECT_EQ(error.problem, GisProblem::WriteFailed);
        EXPECT_FALSE(IsUsageProblem(error.problem));
        const std::string message = GisMessage(error);
        EXPECT_EQ(message.rfind(c.path + ": cannot write the GeoPackage. ", 0),
                  0u)
            << message;
        EXPECT_GT(message.size(), c.path.size() + 32); // a reason follows
        EXPECT_EQ(writer.AddRow(1, 2, {1.0}).problem, GisProblem::WriteFailed);
    }
    EXPECT_EQ(OtherFiles(dir, "folder.gpkg"), std::vector<std::string>{});
}

TEST(GeoPackageWriter, ASurveysLayerOfPolygonsFollowsTheStations) {
    TempDir dir;
    const std::string path = dir.File("surveys.gpkg");
    WriteLayer(path, "stations", 3);
    TGeoPackageWriter writer;
    ASSERT_TRUE(
        writer.Begin(path, Crs(32719), {{"v", FieldKind::Real}}).ok());
    ASSERT_TRUE(writer.AddRow(1.0, 2.0, {0.5}).ok());
    ASSERT_TRUE(writer
                    .AddPolygonLayer("surveys", {{"survey", FieldKind::Text},
                                                 {"offset", FieldKind::Real}})
                    .ok());
    ASSERT_TRUE(writer
                    .AddPolygon({{0, 0}, {100, 0}, {100, 50}},
                                {std::string("EAST"), 3.5})
                    .ok());
    // A survey of two stations has no area: a row without a geometry.
    ASSERT_TRUE(
        writer.AddPolygon({{0, 0}, {10, 10}}, {std::string("LINE"), 0.0}).ok());
    ASSERT_TRUE(writer.Finish().ok());
    EXPECT_EQ(Layers(path),
              (std::vector<std::pair<std::string, int64_t>>{{"stations", 1},
                                                            {"surveys", 2}}));

    GDALDatasetH dataset =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    ASSERT_NE(dataset, nullptr);
    OGRLayerH layer = GDALDatasetGetLayerByName(dataset, "surveys");
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(wkbFlatten(OGR_L_GetGeomType(layer)), wkbPolygon);
    OGRSpatialReferenceH srs = OGR_L_GetSpatialRef(layer);
    ASSERT_NE(srs, nullptr);
    EXPECT_STREQ(OSRGetAuthorityCode(srs, nullptr), "32719");
    OGR_L_ResetReading(layer);
    OGRFeatureH east = OGR_L_GetNextFeature(layer);
    ASSERT_NE(east, nullptr);
    EXPECT_STREQ(OGR_F_GetFieldAsString(east, 0), "EAST");
    EXPECT_EQ(OGR_F_GetFieldAsDouble(east, 1), 3.5);
    OGRGeometryH polygon = OGR_F_GetGeometryRef(east);
    ASSERT_NE(polygon, nullptr);
    EXPECT_DOUBLE_EQ(OGR_G_Area(polygon), 2500.0);
    OGR_F_Destroy(east);
    OGRFeatureH line = OGR_L_GetNextFeature(layer);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(OGR_F_GetGeometryRef(line), nullptr);
    OGR_F_Destroy(line);
    GDALClose(dataset);
}
