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
// Stations far out named one by one; the rest only counted.
constexpr size_t told_far_stations = 5;

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

const char *NameOrUnnamed(const OGRSpatialReference &srs) {
    const char *name = srs.GetName();
    return name != nullptr && name[0] != '\0' ? name : "unnamed";
}

std::string NameOf(const OGRSpatialReference &srs) {
    std::string text = NameOrUnnamed(srs);
    const char *authority = srs.GetAuthorityName(nullptr);
    const char *code = srs.GetAuthorityCode(nullptr);
    if (authority != nullptr && code != nullptr)
        text += std::string(" (") + authority + ":" + code + ")";
    return text;
}

// True when a projected CRS's coordinates are metres.
bool InMetres(const OGRSpatialReference &projected) {
    constexpr double tolerance = 1e-12; // of a factor exactly 1 in the CRS
    return std::abs(projected.GetLinearUnits(nullptr) - 1.0) <= tolerance;
}

// The name of a CRS's length unit, "US survey foot".
std::string LengthUnit(const OGRSpatialReference &srs) {
    const char *unit = nullptr;
    srs.GetLinearUnits(&unit);
    return unit != nullptr && unit[0] != '\0' ? unit : "an unnamed unit";
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

// Degrees per unit of a geographic CRS's angles (1 for degrees).
double DegreesPerUnit(const OGRSpatialReference &geographic) {
    constexpr double radians_per_degree = 3.14159265358979323846 / 180.0;
    return geographic.GetAngularUnits(nullptr) / radians_per_degree;
}

// Refuses a longitude beyond a half turn or a latitude beyond a quarter turn
// (±180 and ±90 in degrees), naming the first such station (row = index + 1).
GisError CheckAngles(const std::string &file,
                     const OGRSpatialReference &geographic,
                     const std::vector<double> &x,
                     const std::vector<double> &y) {
    constexpr double half_turn_degrees = 180.0, quarter_turn_degrees = 90.0;
    const double per_unit = DegreesPerUnit(geographic);
    for (size_t i = 0; i < x.size(); ++i) {
        const bool lon_beyond =
            !(std::abs(x[i] * per_unit) <= half_turn_degrees);
        const bool lat_beyond =
            !(std::abs(y[i] * per_unit) <= quarter_turn_degrees);
        if (lon_beyond || lat_beyond) {
            GisError error =
                GisError::About(GisProblem::AngleOutOfRange, file,
                                lon_beyond ? "longitude" : "latitude");
            error.number = lon_beyond ? x[i] : y[i];
            error.limit =
                (lon_beyond ? half_turn_degrees : quarter_turn_degrees) /
                per_unit;
            error.row = static_cast<int64_t>(i) + 1;
            return error;
        }
    }
    return {};
}

// Adds a notice for each station far outside the rest (MeasureSpread; the
// first few, then how many more), with row = index + 1, saying whether the
// UTM zone is being chosen without them. Returns which are far.
std::vector<bool> TellFarStations(const OGRSpatialReference &geographic,
                                  const std::vector<double> &x,
                                  const std::vector<double> &y,
                                  bool choosing_zone, RunCrs &run) {
    const double per_unit = DegreesPerUnit(geographic);
    std::vector<double> lons(x.size()), lats(y.size());
    for (size_t i = 0; i < x.size(); ++i) {
        lons[i] = x[i] * per_unit;
        lats[i] = y[i] * per_unit;
    }
    const SurveySpread spread = MeasureSpread(lons, lats);
    std::vector<bool> far(x.size(), false);
    for (size_t k = 0; k < spread.far.size(); ++k) {
        const size_t i = spread.far[k];
        far[i] = true;
        if (k < told_far_stations) {
            GisNotice notice;
            notice.note = GisNote::FarStation;
            notice.row = static_cast<int64_t>(i) + 1;
            notice.lon = lons[i];
            notice.lat = lats[i];
            notice.distance_km = spread.far_km[k];
            notice.extent_km = spread.extent_km;
            notice.zone_without = choosing_zone;
            run.notices.push_back(notice);
        }
    }
    if (spread.far.size() > told_far_stations) {
        GisNotice notice;
        notice.note = GisNote::MoreFarStations;
        notice.count =
            static_cast<int64_t>(spread.far.size() - told_far_stations);
        run.notices.push_back(notice);
    }
    return far;
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
        if (!InMetres(target)) {
            GisError error = Refusal(GisProblem::TargetNotMetres, file,
                                     target_option, NameOf(target));
            error.unit = LengthUnit(target);
            return error;
        }
    }

    if (geographic) {
        GisError error = CheckAngles(file, source, x, y);
        if (!error.ok())
            return error;
        // Stations far out are said, and the zone goes by the others.
        const std::vector<bool> far =
            TellFarStations(source, x, y, !target_given, run);
        if (!target_given) {
            std::vector<double> near_lon, near_lat;
            for (size_t i = 0; i < x.size(); ++i) {
                if (!far[i]) {
                    near_lon.push_back(x[i]);
                    near_lat.push_back(y[i]);
                }
            }
            target.importFromEPSG(
                UtmEpsgCode(SurveyCentre(near_lon, near_lat)));
            UseEastNorth(target);
        }
        lon = x;
        lat = y;
        error = Transform(file, source, target, x, y);
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
    if (!InMetres(source)) {
        // Feet and other units: metres of the same projection, so that the
        // parameters in metres mean what they say (a --crs in feet was
        // refused above).
        OGRSpatialReference metres(source);
        metres.SetLinearUnitsAndUpdateParameters(SRS_UL_METER, 1.0);
        metres.SetProjCS(
            (std::string(NameOrUnnamed(source)) + ", in metres").c_str());
        UseEastNorth(metres);
        GisError error = Transform(file, source, metres, x, y);
        if (!error.ok())
            return error;
        GisNotice notice;
        notice.note = GisNote::ConvertedToMetres;
        notice.option = LengthUnit(source);
        notice.detail = NameOf(source);
        run.notices.push_back(notice);
        Describe(metres, run);
        run.transformed = true;
        return {};
    }
    Describe(source, run);
    return {};
}

GisError PlaceStations(const std::string &file, const TableOptions &options,
                       TableData &table, RunCrs &run) {
    TListedStations &stations = table.rows.stations;
    std::vector<double> x(stations.Size()), y(stations.Size());
    for (size_t i = 0; i < stations.Size(); ++i) {
        x[i] = stations[i].x;
        y[i] = stations[i].y;
    }
    GisError error = PlaceCoordinates(file, options, table.layer_crs,
                                      table.choice.geographic, x, y, table.lon,
                                      table.lat, run);
    // Rows, not indices, in what the user reads.
    const auto row_of = [&](int64_t index) {
        return stations[static_cast<size_t>(index - 1)].row;
    };
    for (GisNotice &notice : run.notices)
        if (notice.row > 0)
            notice.row = row_of(notice.row);
    if (!error.ok()) {
        if (error.row > 0)
            error.row = row_of(error.row);
        return error;
    }
    for (size_t i = 0; i < stations.Size(); ++i) {
        stations[i].x = x[i];
        stations[i].y = y[i];
    }
    return {};
}
