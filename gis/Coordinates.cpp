// The run's CRS and the stations' coordinates taken into it through OGR/PROJ.
#include "gis/Coordinates.h"

#include <cmath>
#include <memory>

#include <cpl_conv.h>
#include <ogr_spatialref.h>

#include "gis/GdalSession.h"
#include "gis/UtmZone.h"

namespace {

constexpr int wgs84_geographic = 4326;
constexpr const char *source_option = "--source-crs";
constexpr const char *target_option = "--crs";

// PROJ may read a CRS from a file the user names, but never from the network.
const char *const crs_text_limits[] = {"ALLOW_NETWORK_ACCESS=NO", nullptr};

// x east, y north for every CRS, so the axes never swap.
void UseEastNorth(OGRSpatialReference &srs) {
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
}

bool ParseCrs(const std::string &text, OGRSpatialReference &srs) {
    if (srs.SetFromUserInput(text.c_str(), crs_text_limits) != OGRERR_NONE)
        return false;
    UseEastNorth(srs);
    return true;
}

std::string NameOf(const OGRSpatialReference &srs) {
    const char *name = srs.GetName();
    std::string text = name != nullptr && name[0] != '\0' ? name : "unnamed";
    const char *authority = srs.GetAuthorityName(nullptr);
    const char *code = srs.GetAuthorityCode(nullptr);
    if (authority != nullptr && code != nullptr)
        text += std::string(" (") + authority + ":" + code + ")";
    return text;
}

std::string WktOf(const OGRSpatialReference &srs) {
    char *wkt = nullptr;
    const char *const format[] = {"FORMAT=WKT2_2019", nullptr};
    std::string text;
    if (srs.exportToWkt(&wkt, format) == OGRERR_NONE && wkt != nullptr)
        text = wkt;
    CPLFree(wkt);
    return text;
}

void Describe(const OGRSpatialReference &srs, RunCrs &run) {
    run.wkt = WktOf(srs);
    run.name = NameOf(srs);
}

GisError Refusal(GisProblem problem, const std::string &file,
                 const std::string &option, const std::string &detail) {
    GisError error = GisError::About(problem, file, detail);
    error.option = option;
    return error;
}

// Transforms every point; false with the first failing index when PROJ
// cannot, or gives a coordinate that is not finite.
GisError Transform(const std::string &file, const OGRSpatialReference &from,
                   const OGRSpatialReference &to, std::vector<double> &x,
                   std::vector<double> &y) {
    const std::unique_ptr<OGRCoordinateTransformation> transformation(
        OGRCreateCoordinateTransformation(&from, &to));
    if (!transformation)
        return Refusal(GisProblem::TransformFailed, file, "",
                       LastGdalError("No transformation from " + NameOf(from) +
                                     " to " + NameOf(to) + "."));
    if (x.empty())
        return {};
    std::vector<int> success(x.size(), 0);
    transformation->Transform(x.size(), x.data(), y.data(), nullptr,
                              success.data());
    for (size_t i = 0; i < x.size(); ++i) {
        if (!success[i] || !std::isfinite(x[i]) || !std::isfinite(y[i])) {
            GisError error =
                Refusal(GisProblem::TransformFailed, file, "",
                        LastGdalError("Its coordinates lie outside what " +
                                      NameOf(to) + " can hold."));
            error.row = static_cast<int64_t>(i) + 1;
            return error;
        }
    }
    return {};
}

} // namespace

GisError PlaceCoordinates(const std::string &file, const TableOptions &options,
                          const std::string &layer_crs, bool lon_lat_columns,
                          std::vector<double> &x, std::vector<double> &y,
                          std::vector<double> &lon, std::vector<double> &lat,
                          RunCrs &run) {
    TGdalQuiet quiet;
    run = RunCrs{};
    lon.clear();
    lat.clear();

    OGRSpatialReference source;
    bool source_known = true;
    if (!options.source_crs.empty()) {
        if (!ParseCrs(options.source_crs, source))
            return Refusal(GisProblem::BadCrsText, file, source_option,
                           options.source_crs);
        OGRSpatialReference declared;
        if (!layer_crs.empty() &&
            declared.importFromWkt(layer_crs.c_str()) == OGRERR_NONE &&
            !declared.IsSame(&source))
            run.notices.push_back({GisNote::SourceCrsOverrides,
                                   options.source_crs, NameOf(declared)});
    } else if (!layer_crs.empty()) {
        source_known = source.importFromWkt(layer_crs.c_str()) == OGRERR_NONE;
        UseEastNorth(source);
    } else if (lon_lat_columns) {
        source.importFromEPSG(wgs84_geographic);
        UseEastNorth(source);
    } else {
        source_known = false;
    }
    // A local (engineering) CRS, such as a GeoPackage's undefined Cartesian
    // system, says the coordinates are planar but not where on Earth.
    const bool local = source_known && source.IsLocal();
    const bool geographic = source_known && source.IsGeographic();
    if (lon_lat_columns && source_known && !geographic)
        return Refusal(GisProblem::CrsMismatch, file, "", NameOf(source));

    OGRSpatialReference target;
    const bool target_given = !options.crs.empty();
    if (target_given) {
        if (!ParseCrs(options.crs, target))
            return Refusal(GisProblem::BadCrsText, file, target_option,
                           options.crs);
        if (!target.IsProjected())
            return Refusal(GisProblem::TargetNotProjected, file, target_option,
                           NameOf(target));
    }

    if (geographic) {
        if (!target_given) {
            target.importFromEPSG(UtmEpsgCode(SurveyCentre(x, y)));
            UseEastNorth(target);
        }
        lon = x;
        lat = y;
        GisError error = Transform(file, source, target, x, y);
        if (!error.ok())
            return error;
        Describe(target, run);
        run.geographic_input = run.transformed = true;
        return {};
    }
    if (!source_known || local) {
        if (target_given)
            return Refusal(GisProblem::UnknownSourceCrs, file, target_option,
                           NameOf(target));
        if (local)
            Describe(source, run);
        return {};
    }
    if (target_given && !source.IsSame(&target)) {
        GisError error = Transform(file, source, target, x, y);
        if (!error.ok())
            return error;
        Describe(target, run);
        run.transformed = true;
        return {};
    }
    Describe(source, run);
    return {};
}

GisError PlaceStations(const std::string &file, const TableOptions &options,
                       TableData &table, RunCrs &run) {
    std::vector<TableStation> &stations = table.rows.stations;
    std::vector<double> x(stations.size()), y(stations.size()), lon, lat;
    for (size_t i = 0; i < stations.size(); ++i) {
        x[i] = stations[i].x;
        y[i] = stations[i].y;
    }
    GisError error =
        PlaceCoordinates(file, options, table.layer_crs,
                         table.choice.geographic, x, y, lon, lat, run);
    if (!error.ok()) {
        if (error.row > 0)
            error.row = stations[static_cast<size_t>(error.row - 1)].row;
        return error;
    }
    for (size_t i = 0; i < stations.size(); ++i) {
        stations[i].x = x[i];
        stations[i].y = y[i];
        if (run.geographic_input) {
            stations[i].lon = lon[i];
            stations[i].lat = lat[i];
        }
    }
    return {};
}
