// A DEM's heights at the stations, read window by window through GDAL.
#include "gis/DemSampler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "gis/GdalSession.h"

namespace {

constexpr double not_a_height = std::numeric_limits<double>::quiet_NaN();
// The most pixels a group of stations reads at once: 2^20 doubles, 8 MiB.
// A raster stored in larger blocks (a whole image, a very wide strip) is
// grouped in tiles of at most this many pixels.
constexpr int64_t max_window_pixels = int64_t{1} << 20;

// The least block cache sampling runs with, bytes, however small the blocks.
constexpr int64_t least_block_cache = int64_t{8} << 20;

// While it lives, GDAL's block cache holds no more than `limit` bytes (never
// more than it was set to): the tiles are read in rows, and a window reaches
// one pixel into the next row of blocks, so two rows of blocks are all the
// cache must keep for each block to be decoded once. GDAL's default, a share
// of the machine's memory, would let a large DEM fill a gigabyte.
class TBlockCacheLimit {
  public:
    explicit TBlockCacheLimit(int64_t limit) : before(GDALGetCacheMax64()) {
        if (limit < before)
            GDALSetCacheMax64(limit);
    }
    ~TBlockCacheLimit() { GDALSetCacheMax64(before); }
    TBlockCacheLimit(const TBlockCacheLimit &) = delete;
    TBlockCacheLimit &operator=(const TBlockCacheLimit &) = delete;

  private:
    const int64_t before;
};

struct DatasetCloser {
    void operator()(GDALDataset *dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

std::string NameOf(const OGRSpatialReference &srs) {
    const char *name = srs.GetName();
    std::string text = name != nullptr && name[0] != '\0' ? name : "unnamed";
    const char *authority = srs.GetAuthorityName(nullptr);
    const char *code = srs.GetAuthorityCode(nullptr);
    if (authority != nullptr && code != nullptr)
        text += std::string(" (") + authority + ":" + code + ")";
    return text;
}

// Where a station falls among the pixel centres: the top-left of the 2 x 2
// pixels around it (row r0, column c0, from 0), the other row and column
// (equal to r0 or c0 on a raster one pixel wide) and its fractions from the
// top-left centre towards them.
struct Cell {
    int32_t r0 = 0, c0 = 0, r1 = 0, c1 = 0;
    double fy = 0.0, fx = 0.0;
};

// The pixel centres around the point at pixel coordinates (px, py) (GDAL's:
// (0, 0) the top-left corner of the raster, pixel centres at half integers)
// on a raster of `width` x `height` pixels; false beyond the raster. Within
// half a pixel of an edge the point is moved onto the last centres' line,
// so it takes the values along the edge.
bool Locate(double px, double py, int32_t width, int32_t height, Cell &cell) {
    if (!(px >= 0.0 && px <= width && py >= 0.0 && py <= height))
        return false; // NaN fails too
    const auto axis = [](double p, int32_t size, int32_t &i0, int32_t &i1,
                         double &f) {
        const double u = std::clamp(p - 0.5, 0.0, double(size - 1));
        i0 = std::min(static_cast<int32_t>(u), std::max(size - 2, 0));
        i1 = std::min(i0 + 1, size - 1);
        f = u - i0; // 0 on a raster one pixel wide, as u is then 0
    };
    axis(px, width, cell.c0, cell.c1, cell.fx);
    axis(py, height, cell.r0, cell.r1, cell.fy);
    return true;
}

// The band's values as heights: nodata and NaN are not, the rest take the
// band's scale and offset.
struct BandValues {
    bool has_nodata = false;
    double nodata = 0.0;
    double scale = 1.0, offset = 0.0;

    explicit BandValues(GDALRasterBand &band) {
        int has = 0;
        nodata = band.GetNoDataValue(&has);
        has_nodata = has != 0;
        // A Float32 band compares its pixels with the nodata as a float (the
        // value written as text may not be one).
        if (has_nodata && band.GetRasterDataType() == GDT_Float32)
            nodata = static_cast<double>(static_cast<float>(nodata));
        int has_scale = 0, has_offset = 0;
        const double s = band.GetScale(&has_scale);
        const double o = band.GetOffset(&has_offset);
        if (has_scale)
            scale = s;
        if (has_offset)
            offset = o;
    }
    bool Valid(double raw) const {
        return !std::isnan(raw) && !(has_nodata && raw == nodata);
    }
};

// The stations' coordinates taken to the DEM's CRS, in place; those PROJ
// cannot take become NaN (and fall outside). The DEM's CRS stands for an
// unknown one when it is projected.
GisError ToDemCrs(const std::string &path, const std::string &crs_wkt,
                  const OGRSpatialReference &dem, std::vector<double> &x,
                  std::vector<double> &y, std::vector<std::string> &notes) {
    OGRSpatialReference stations;
    bool known = !crs_wkt.empty() &&
                 stations.importFromWkt(crs_wkt.c_str()) == OGRERR_NONE &&
                 !stations.IsLocal();
    if (!known) {
        if (!dem.IsProjected())
            return GisError::About(GisProblem::DemNeedsStationCrs, path,
                                   NameOf(dem));
        notes.push_back("The stations' coordinate system is not known: they "
                        "are taken to be in the DEM's, " +
                        NameOf(dem) + ".");
        return {};
    }
    stations.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (stations.IsSame(&dem))
        return {};
    const std::unique_ptr<OGRCoordinateTransformation> transformation(
        OGRCreateCoordinateTransformation(&stations, &dem));
    if (!transformation)
        return GisError::About(
            GisProblem::TransformFailed, path,
            LastGdalError("No transformation from " + NameOf(stations) +
                          " to the DEM's " + NameOf(dem) + "."));
    if (x.empty())
        return {};
    std::vector<int> success(x.size(), 0);
    transformation->Transform(x.size(), x.data(), y.data(), nullptr,
                              success.data());
    for (size_t i = 0; i < x.size(); ++i) {
        if (!success[i])
            x[i] = y[i] = not_a_height;
    }
    return {};
}

// The size of the tiles the stations are grouped by: the band's blocks, cut
// down to max_window_pixels.
void GroupTile(GDALRasterBand &band, int32_t &tile_width,
               int32_t &tile_height) {
    int block_x = 0, block_y = 0;
    band.GetBlockSize(&block_x, &block_y);
    tile_width = std::max(block_x, 1);
    tile_height = std::max(block_y, 1);
    while (int64_t{tile_width} * tile_height > max_window_pixels) {
        if (tile_height > 1 && tile_height >= tile_width)
            tile_height = (tile_height + 1) / 2;
        else
            tile_width = (tile_width + 1) / 2;
    }
}

} // namespace

DemHeights SampleDem(const std::string &path, const std::string &crs_wkt,
                     const std::vector<double> &x,
                     const std::vector<double> &y) {
    TGdalQuiet quiet;
    DemHeights out;
    const Dataset dataset(GDALDataset::Open(
        path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
        nullptr, nullptr, nullptr));
    if (!dataset || dataset->GetRasterCount() < 1) {
        out.refusal = GisError::About(
            GisProblem::DemUnreadable, path,
            dataset ? "It holds no raster band."
                    : LastGdalError("GDAL knows no raster format it is in."));
        return out;
    }
    double transform[6] = {};
    double inverse[6] = {};
    if (dataset->GetGeoTransform(transform) != CE_None ||
        !GDALInvGeoTransform(transform, inverse)) {
        out.refusal = GisError::About(GisProblem::DemNotPlaced, path);
        return out;
    }
    const OGRSpatialReference *declared = dataset->GetSpatialRef();
    if (declared == nullptr || declared->IsEmpty() || declared->IsLocal()) {
        out.refusal = GisError::About(GisProblem::DemNoCrs, path);
        return out;
    }
    OGRSpatialReference dem_crs(*declared);
    dem_crs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);

    std::vector<double> px(x), py(y);
    out.refusal = ToDemCrs(path, crs_wkt, dem_crs, px, py, out.notes);
    if (!out.refusal.ok())
        return out;

    GDALRasterBand &band = *dataset->GetRasterBand(1);
    const int32_t width = dataset->GetRasterXSize();
    const int32_t height = dataset->GetRasterYSize();
    const BandValues values(band);
    int32_t tile_width = 1, tile_height = 1;
    GroupTile(band, tile_width, tile_height);
    int block_x = 0, block_y = 0;
    band.GetBlockSize(&block_x, &block_y);
    const int64_t block_row_bytes =
        int64_t{width} * std::max(block_y, 1) *
        GDALGetDataTypeSizeBytes(band.GetRasterDataType());
    const TBlockCacheLimit cache(
        std::max(least_block_cache, 2 * block_row_bytes + least_block_cache));
    const int64_t tile_columns = (width + tile_width - 1) / tile_width;

    // Each station's pixel coordinates, by the inverse geotransform
    // (rotation included), in place of its coordinates. Each station inside
    // the raster is keyed by the tile of its top-left pixel, tiles in row
    // order: each tile's window is read once, and the block cache holds the
    // rows a window shares with the next. Its cell is found again when its
    // tile is read, which costs less than keeping a million of them.
    std::vector<std::pair<int64_t, uint32_t>> order;
    order.reserve(x.size());
    out.heights.assign(x.size(), not_a_height);
    Cell located;
    for (size_t i = 0; i < x.size(); ++i) {
        const double e = px[i], n = py[i];
        px[i] = inverse[0] + inverse[1] * e + inverse[2] * n;
        py[i] = inverse[3] + inverse[4] * e + inverse[5] * n;
        if (!Locate(px[i], py[i], width, height, located)) {
            ++out.outside;
            continue;
        }
        const int64_t tile =
            located.r0 / tile_height * tile_columns + located.c0 / tile_width;
        order.emplace_back(tile, static_cast<uint32_t>(i));
    }
    std::sort(order.begin(), order.end());
    const auto cell_of = [&](uint32_t i) {
        Cell found;
        Locate(px[i], py[i], width, height, found);
        return found;
    };

    std::vector<double> window;
    for (size_t begin = 0; begin < order.size();) {
        size_t end = begin;
        int32_t top = height, bottom = 0, left = width, right = 0;
        while (end < order.size() && order[end].first == order[begin].first) {
            const Cell cell = cell_of(order[end].second);
            top = std::min(top, cell.r0);
            bottom = std::max(bottom, cell.r1);
            left = std::min(left, cell.c0);
            right = std::max(right, cell.c1);
            ++end;
        }
        const int32_t columns = right - left + 1, rows = bottom - top + 1;
        window.resize(static_cast<size_t>(columns) * rows);
        if (band.RasterIO(GF_Read, left, top, columns, rows, window.data(),
                          columns, rows, GDT_Float64, 0, 0,
                          nullptr) != CE_None) {
            out.refusal =
                GisError::About(GisProblem::DemReadFailed, path,
                                LastGdalError("GDAL gave no reason."));
            out.heights.clear();
            return out;
        }
        const auto at = [&](int32_t r, int32_t c) {
            return window[static_cast<size_t>(r - top) * columns + (c - left)];
        };
        for (size_t k = begin; k < end; ++k) {
            const Cell cell = cell_of(order[k].second);
            // Bilinear: each of the four centres weighted by the opposite
            // rectangle's area. A centre without a share (the station on a
            // centre's row or column) is left out, so its nodata does not
            // blank a value it takes no part in.
            const double weights[4] = {
                (1 - cell.fx) * (1 - cell.fy), cell.fx * (1 - cell.fy),
                (1 - cell.fx) * cell.fy, cell.fx * cell.fy};
            const double raws[4] = {at(cell.r0, cell.c0), at(cell.r0, cell.c1),
                                    at(cell.r1, cell.c0), at(cell.r1, cell.c1)};
            double sum = 0.0;
            bool valid = true;
            for (int p = 0; p < 4 && valid; ++p) {
                if (weights[p] > 0.0) {
                    valid = values.Valid(raws[p]);
                    sum += weights[p] * raws[p];
                }
            }
            if (valid)
                out.heights[order[k].second] =
                    sum * values.scale + values.offset;
            else
                ++out.on_nodata;
        }
        begin = end;
    }
    if (!x.empty() &&
        out.outside + out.on_nodata == static_cast<int64_t>(x.size())) {
        out.refusal = GisError::About(GisProblem::DemCoversNone, path);
        out.refusal.outside = out.outside;
        out.refusal.on_nodata = out.on_nodata;
        out.heights.clear();
        return out;
    }
    out.notes.push_back("Heights are compared with the DEM " + path + " (" +
                        NameOf(dem_crs) +
                        "), taken to be on the same vertical datum as the "
                        "stations' heights.");
    return out;
}
