// Sampling a DEM for a million stations: a synthetic DEM of 1 arc-second
// pixels over 2 x 2 degrees (7200 x 7200 Int16, tiled and compressed as
// GeoTIFFs of real DEMs are), stations given in UTM so that every one is
// transformed, timed against the baseline of reading the whole band once.
// The target: at most 5 s for 1,000,000 stations.
// Usage: dem_bench [--stations N] [--runs R]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_spatialref.h>

#include "gis/DemSampler.h"

namespace {

constexpr int side = 7200;                  // pixels
constexpr double arc_second = 1.0 / 3600.0; // degrees
constexpr double west = -71.0, north = -35.0;
constexpr int utm_epsg = 32719;
constexpr uint32_t seed = 2026;
constexpr double target_seconds = 5.0;

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The process's peak resident memory so far, MiB (VmHWM).
double PeakMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0.0;
}

// Hills of a few kilometres on a slope, in metres, deterministic.
bool WriteDem(const std::string &path) {
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    const char *options[] = {"TILED=YES",      "BLOCKXSIZE=256",
                             "BLOCKYSIZE=256", "COMPRESS=DEFLATE",
                             "PREDICTOR=2",    nullptr};
    GDALDatasetH dataset = GDALCreate(driver, path.c_str(), side, side, 1,
                                      GDT_Int16, const_cast<char **>(options));
    if (dataset == nullptr)
        return false;
    double transform[6] = {west, arc_second, 0.0, north, 0.0, -arc_second};
    GDALSetGeoTransform(dataset, transform);
    OGRSpatialReference srs;
    srs.importFromEPSG(4326);
    GDALSetSpatialRef(dataset, OGRSpatialReference::ToHandle(&srs));
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    GDALSetRasterNoDataValue(band, -32768);
    std::vector<int16_t> row(side);
    // A few metres of noise, as a real DEM has: it compresses as one does.
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-4, 4);
    bool ok = true;
    for (int r = 0; r < side && ok; ++r) {
        for (int c = 0; c < side; ++c) {
            row[c] = static_cast<int16_t>(1500.0 + 0.1 * r +
                                          300.0 * std::sin(c / 700.0) *
                                              std::cos(r / 900.0) +
                                          noise(random));
        }
        ok = GDALRasterIO(band, GF_Write, 0, r, side, 1, row.data(), side, 1,
                          GDT_Int16, 0, 0) == CE_None;
    }
    GDALClose(dataset);
    return ok;
}

// Stations spread evenly over the DEM, in UTM zone 19S.
void MakeStations(size_t count, std::vector<double> &x,
                  std::vector<double> &y) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double extent = side * arc_second;
    x.resize(count);
    y.resize(count);
    for (size_t k = 0; k < count; ++k) {
        x[k] = west + unit(random) * extent;
        y[k] = north - unit(random) * extent;
    }
    OGRSpatialReference geographic, utm;
    geographic.importFromEPSG(4326);
    utm.importFromEPSG(utm_epsg);
    geographic.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    utm.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const std::unique_ptr<OGRCoordinateTransformation> to_utm(
        OGRCreateCoordinateTransformation(&geographic, &utm));
    to_utm->Transform(count, x.data(), y.data());
}

std::string Wkt(int epsg) {
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    char *wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt;
    CPLFree(wkt);
    return text;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

} // namespace

int main(int argc, char **argv) {
    size_t stations = 1000000;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--stations") == 0)
            stations = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    GDALAllRegister();
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("korvanel-dem-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "dem.tif").string();
    auto start = std::chrono::steady_clock::now();
    // Written through a small block cache, so that the peak memory measured
    // after sampling is the sampler's.
    const GIntBig cache = GDALGetCacheMax64();
    GDALSetCacheMax64(GIntBig{16} << 20);
    const bool written = WriteDem(path);
    GDALSetCacheMax64(cache);
    if (!written) {
        std::fprintf(stderr, "dem_bench: cannot write %s\n", path.c_str());
        std::filesystem::remove_all(folder);
        return 1;
    }
    std::printf("DEM: %d x %d Int16, 256 x 256 DEFLATE tiles, EPSG:4326, "
                "%.0f MiB on disk (written in %.1f s)\n",
                side, side,
                std::filesystem::file_size(path) / (1024.0 * 1024.0),
                Seconds(std::chrono::steady_clock::now() - start));
    std::vector<double> x, y;
    MakeStations(stations, x, y);
    const std::string crs = Wkt(utm_epsg);
    std::printf("stations: %zu in EPSG:%d\n", stations, utm_epsg);

    const double peak_before = PeakMiB();
    std::vector<double> times;
    DemHeights heights;
    for (int run = 0; run < runs; ++run) {
        start = std::chrono::steady_clock::now();
        heights = SampleDem(path, crs, x, y);
        times.push_back(Seconds(std::chrono::steady_clock::now() - start));
        if (!heights.refusal.ok()) {
            std::fprintf(stderr, "dem_bench: %s\n",
                         GisMessage(heights.refusal).c_str());
            std::filesystem::remove_all(folder);
            return 1;
        }
    }
    const double peak_after = PeakMiB();

    // Baseline: the whole band read once, as a sampler that loads the
    // raster would (and then needs its 100 MiB).
    std::vector<double> baseline_times;
    for (int run = 0; run < runs; ++run) {
        start = std::chrono::steady_clock::now();
        GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
        std::vector<int16_t> all(static_cast<size_t>(side) * side);
        const CPLErr read =
            GDALRasterIO(GDALGetRasterBand(dataset, 1), GF_Read, 0, 0, side,
                         side, all.data(), side, side, GDT_Int16, 0, 0);
        GDALClose(dataset);
        baseline_times.push_back(
            Seconds(std::chrono::steady_clock::now() - start));
        if (read != CE_None)
            return 1;
    }

    std::filesystem::remove_all(folder);
    const double sample = Median(times), baseline = Median(baseline_times);
    std::printf("sampling, median of %d runs: %.3f s (runs:", runs, sample);
    for (const double t : times)
        std::printf(" %.3f", t);
    std::printf(")\n");
    std::printf("baseline, the whole band read once: %.3f s; ratio %.2f\n",
                baseline, sample / baseline);
    std::printf("stations outside or on nodata: %lld\n",
                static_cast<long long>(heights.outside + heights.on_nodata));
    std::printf("peak memory: %.0f MiB with the stations made, %.0f MiB "
                "after sampling (before the baseline)\n",
                peak_before, peak_after);
    const bool met = sample <= target_seconds * stations / 1e6;
    std::printf("target %.1f s per million stations: %s\n", target_seconds,
                met ? "met" : "NOT met");
    return met ? 0 : 1;
}
