// Small DEMs made with GDAL itself for the gis tests: a GeoTIFF of one
// Float32 band, north up, in any EPSG CRS or none, tiled in small blocks so
// that stations fall in several of them.
#pragma once

#include <string>
#include <vector>

#include <gdal.h>
#include <ogr_srs_api.h>

struct DemGrid {
    int epsg = 4326;              // 0: no CRS
    double left = 0.0, top = 0.0; // the raster's top-left corner
    double pixel = 1.0;           // pixel size, both axes, in the CRS's units
    int width = 0, height = 0;
    std::vector<float> values; // row by row from the top, width per row
    bool has_nodata = false;
    double nodata = -9999.0;
    int block = 16; // tile size, pixels
};

// Writes `grid` as the GeoTIFF `path`; false when GDAL refuses.
inline bool WriteDem(const std::string &path, const DemGrid &grid) {
    GDALAllRegister();
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    const std::string block = std::to_string(grid.block);
    const std::string block_x = "BLOCKXSIZE=" + block;
    const std::string block_y = "BLOCKYSIZE=" + block;
    const char *options[] = {"TILED=YES", block_x.c_str(), block_y.c_str(),
                             nullptr};
    GDALDatasetH dataset =
        GDALCreate(driver, path.c_str(), grid.width, grid.height, 1,
                   GDT_Float32, const_cast<char **>(options));
    if (dataset == nullptr)
        return false;
    double transform[6] = {grid.left, grid.pixel, 0.0,
                           grid.top,  0.0,        -grid.pixel};
    GDALSetGeoTransform(dataset, transform);
    if (grid.epsg != 0) {
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(srs, grid.epsg);
        GDALSetSpatialRef(dataset, srs);
        OSRRelease(srs);
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    if (grid.has_nodata)
        GDALSetRasterNoDataValue(band, grid.nodata);
    std::vector<float> values = grid.values;
    const bool ok = GDALRasterIO(band, GF_Write, 0, 0, grid.width, grid.height,
                                 values.data(), grid.width, grid.height,
                                 GDT_Float32, 0, 0) == CE_None;
    GDALClose(dataset);
    return ok;
}
