// How the programs take their stations. A station file is read by the run
// itself, without GDAL; anything else goes to the GIS module, loaded then.
#include "app/SurveySource.h"

#include <cmath>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <system_error>
#include <unistd.h>

#include "app/CalcRun.h"
#include "app/RunReport.h"
#include "gis/GisModule.h"
#include "gis/SourceSample.h"
#include "platform/TextReader.h"
#include "qc/CompanionTable.h"
#include "qc/SurveyHull.h"

namespace {

constexpr const char *module_file = "libkorvanel-gis.so";

// The first bytes of `path` (or of the bytes held), as DecideSource reads
// them; false when the file cannot be read.
bool Sample(const std::string &path, const SurveyInput &input,
            std::string &sample) {
    if (input.held) {
        sample = input.bytes.substr(0, source_sample_bytes);
        return true;
    }
    std::ifstream file(path, std::ios::binary);
    return ReadSourceSample(file, sample);
}

// True when taking `path` needs GDAL or PROJ: options about tables or
// coordinate systems, a folder, or a source whose first bytes are a table's
// or something only GDAL can identify.
bool NeedsGis(const std::string &path, const TableOptions &options,
              const SurveyInput &input, SourceDecision &decision) {
    if (NamesColumns(options) || !options.layer.empty() ||
        !options.source_crs.empty() || !options.crs.empty()) {
        return true;
    }
    std::error_code ignored;
    if (!input.held && std::filesystem::is_directory(path, ignored)) {
        return true;
    }
    std::string sample;
    if (!Sample(path, input, sample)) {
        return false; // the station reader says why it cannot be read
    }
    bool identify = false;
    decision = DecideFromSample(sample, options, identify);
    return identify || decision.kind == SourceKind::Table;
}

// The blocks a read freed (vectors of a million coordinates, the reader's
// buffers) raise glibc's dynamic thresholds to their size, after which the
// memory the run frees (the point table's load cache) stays in the process
// instead of going back: the run's peak grew by some 60 MiB for a million
// stations. The thresholds are set back to glibc's defaults, fixed, as a
// station file's run has them, and what is free goes back now.
void GiveBackReadMemory() {
    constexpr int glibc_default_threshold = 128 * 1024; // bytes
    ::mallopt(M_MMAP_THRESHOLD, glibc_default_threshold);
    ::mallopt(M_TRIM_THRESHOLD, glibc_default_threshold);
    ::malloc_trim(0);
}

// The GIS module, loaded on the first call: beside the program as installed,
// or in the build folder. Null, with the reason in `why`, when it cannot be.
const GisModuleApi *LoadGisModule(std::string &why) {
    static const GisModuleApi *loaded = nullptr;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        // Installed: in the private library folder, found from the program's
        // own folder; else the build folder's module.
        std::vector<std::string> places;
        std::error_code error;
        const std::filesystem::path self =
            std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error) {
            places.push_back((self.parent_path() /
                              KORVANEL_GIS_MODULE_FROM_BIN / module_file)
                                 .lexically_normal()
                                 .string());
        }
        places.push_back(KORVANEL_GIS_MODULE_BUILT);
        for (const std::string &place : places) {
            if (::access(place.c_str(), F_OK) != 0) {
                continue;
            }
            void *handle = ::dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                failure = ::dlerror();
                break;
            }
            using Entry = const GisModuleApi *(*)();
            const auto entry =
                reinterpret_cast<Entry>(::dlsym(handle, "korvanel_gis_module"));
            const GisModuleApi *api = entry ? entry() : nullptr;
            if (api == nullptr || api->version != gis_module_version) {
                failure = place + " is not this version's GIS module";
                break;
            }
            loaded = api;
            break;
        }
        if (loaded == nullptr && failure.empty()) {
            failure = std::string(module_file) + " is not installed beside "
                                                 "the program";
        }
    }
    why = failure;
    return loaded;
}

// The module, or a refusal saying why it is not there.
const GisModuleApi *Module(const std::string &path, GisError &refusal) {
    std::string why;
    const GisModuleApi *module = LoadGisModule(why);
    if (module == nullptr) {
        refusal = GisError::About(GisProblem::SourceUnreadable, path,
                                  "reading " + path +
                                      " needs the GIS module, which could "
                                      "not be loaded: " +
                                      why);
    }
    return module;
}

// A station file whose coordinates move to another system: its lines read
// here, every station placed by the module.
void PlaceStationText(const GisModuleApi &module, const std::string &path,
                      const TableOptions &options, SurveyInput &input,
                      SurveyPreparation &said) {
    TStationTextInput text =
        input.held
            ? TStationTextInput(path, input.bytes, options.decimal_separator,
                                options.encoding)
            : TStationTextInput(path, options.decimal_separator,
                                options.encoding);
    InputRecord record;
    TListedStations listed;
    listed.Reserve(input.held ? CountContentLines(std::string_view(input.bytes))
                              : CountContentLines(path));
    try {
        text.Rewind();
        while (text.Next(record)) {
            if (record.is_station) {
                listed.Add({record.station.x, record.station.y,
                            record.has_height ? record.station.h : NAN,
                            record.station.value, record.line},
                           record.name);
            } else if (!record.blank) {
                listed.AddUnread(record.line, record.text);
            }
        }
    } catch (const EncodingError &error) {
        said.refusal =
            GisError::About(GisProblem::SourceUnreadable, path,
                            NotTextMessage(path, error.line, error.encoding,
                                           error.bytes, error.what()));
        return;
    } catch (const FileError &error) {
        // missing, unreadable: the station reader's own words
        said.refusal =
            GisError::About(GisProblem::SourceUnreadable, path, error.what());
        return;
    }
    if (listed.Empty()) {
        // No station to place: the run reads the file and says so.
        return;
    }
    GisPlaced placed;
    module.place_stations(path, options, listed, placed);
    said.notes.insert(said.notes.end(), placed.notes.begin(),
                      placed.notes.end());
    if (!placed.refusal.ok()) {
        said.refusal = placed.refusal;
        return;
    }
    input.stations = std::move(listed);
    input.stations.Trim();
    input.lon = std::move(placed.lon);
    input.lat = std::move(placed.lat);
    input.crs = std::move(placed.crs);
    input.listed = true;
    input.bytes = std::string(); // listed: the bytes are done with
}

} // namespace

SurveyPreparation PrepareSurvey(const std::string &path,
                                const TableOptions &options,
                                SurveyInput &input) {
    SurveyPreparation said;
    if (ReadOnce(path)) {
        try {
            input.bytes = ReadWholeSource(path, input.read_once_limit);
        } catch (const FileError &error) {
            said.refusal = GisError::About(GisProblem::SourceUnreadable, path,
                                           error.what());
            return said;
        } catch (const EncodingError &error) {
            said.refusal =
                GisError::About(GisProblem::SourceUnreadable, path,
                                NotTextMessage(path, error.line, error.encoding,
                                               error.bytes, error.what()));
            return said;
        }
        input.held = true;
    }
    SourceDecision decision;
    if (!NeedsGis(path, options, input, decision)) {
        // A station file, which the run reads itself.
        if (decision.UnrecognisedTable()) {
            said.columns_unknown = true;
            said.fields = decision.header;
        }
        return said;
    }
    const GisModuleApi *module = Module(path, said.refusal);
    if (module == nullptr) {
        return said;
    }
    GisSource source;
    module->read_source(path, input.held ? &input.bytes : nullptr, options,
                        source);
    said.refusal = source.refusal;
    said.notes = std::move(source.notes);
    said.fields = std::move(source.fields);
    said.columns_unknown = source.columns_unknown;
    if (said.Ready() && source.station_text &&
        (!options.source_crs.empty() || !options.crs.empty())) {
        PlaceStationText(*module, path, options, input, said);
    } else if (said.Ready() && !source.station_text) {
        input.stations = std::move(source.stations);
        input.lon = std::move(source.lon);
        input.lat = std::move(source.lat);
        input.crs = std::move(source.crs);
        input.listed = true;
        input.bytes = std::string(); // a table is listed: its bytes are done
    }
    GiveBackReadMemory();
    return said;
}

std::string
SurveyPreparation::UnrecognisedHeader(const std::string &path) const {
    if (!columns_unknown) {
        return {};
    }
    GisError error = GisError::About(GisProblem::UnrecognisedHeader, path);
    error.fields = fields;
    return GisMessage(error);
}

bool SurveyPreparation::AsksForColumns() const {
    return !fields.empty() &&
           (columns_unknown || ::AsksForColumns(refusal.problem));
}

void FeedRun(RunInput &input, SurveyInput &survey, const RunSettings &settings,
             bool again) {
    if (!survey.lon.empty()) {
        input.extra_columns = {
            NumberColumn("lon",
                         [&survey](size_t k) {
                             return k < survey.lon.size() ? survey.lon[k]
                                                          : qc_none;
                         }),
            NumberColumn("lat", [&survey](size_t k) {
                return k < survey.lat.size() ? survey.lat[k] : qc_none;
            })};
    }
    if (survey.listed) {
        input.open = [&survey, again] {
            return std::make_unique<TStationListInput>(
                again ? TListedStations(survey.stations)
                      : std::move(survey.stations));
        };
    } else if (survey.held) {
        const std::string path = input.path;
        const char separator = settings.decimal_separator;
        const std::string encoding = settings.encoding;
        input.open = [&survey, path, separator, encoding, again] {
            return std::make_unique<TStationTextInput>(
                path, again ? std::string(survey.bytes) : std::move(survey.bytes),
                separator, encoding);
        };
    }
}

DemSampler MakeDemSampler(const std::string &path, const RunCrs &crs) {
    return [path, wkt = crs.wkt](const std::vector<double> &x,
                                 const std::vector<double> &y) {
        DemSample sample;
        GisError refusal;
        const GisModuleApi *module = Module(path, refusal);
        if (module == nullptr) {
            sample.refusal = GisMessage(refusal);
            return sample;
        }
        DemHeights heights;
        module->sample_dem(path, wkt, x, y, heights);
        // The sampler's vectors of a million pixel coordinates and GDAL's
        // blocks, freed, would keep the run's later memory as a read's do.
        GiveBackReadMemory();
        if (!heights.refusal.ok()) {
            sample.refusal = GisMessage(heights.refusal);
            return sample;
        }
        sample.heights = std::move(heights.heights);
        sample.outside = heights.outside + heights.on_nodata;
        sample.notes = std::move(heights.notes);
        return sample;
    };
}

namespace {

// The layer "stations" of the GeoPackage `path`, built at `temporary`.
GisLayer StationsLayer(const std::string &path, const std::string &temporary,
                       const std::string &crs_wkt) {
    GisLayer layer;
    layer.path = path;
    layer.temporary = temporary;
    layer.crs_wkt = crs_wkt;
    layer.name = stations_layer_name;
    return layer;
}

// Writes `layer` through the GIS module.
GeoPackageWritten WriteLayer(const GisLayer &layer) {
    GisError refusal;
    const GisModuleApi *module = Module(layer.path, refusal);
    if (module == nullptr) {
        return {GisMessage(refusal), {}};
    }
    GisLayerWritten written;
    module->write_layer(layer, written);
    if (!written.error.ok()) {
        return {GisMessage(written.error), {}};
    }
    return {std::string(), written.kept_layers};
}

} // namespace

std::vector<SurveyArea> SurveyAreas(const QcFindings &findings) {
    std::vector<SurveyArea> areas;
    if (!findings.HasSurveys()) {
        return areas;
    }
    const SurveyGrouping &grouping = findings.grouping;
    const std::vector<std::vector<HullPoint>> hulls =
        SurveyHulls(findings.stations, grouping);
    for (size_t k = 0; k < grouping.Count(); ++k) {
        SurveyArea area;
        area.survey = grouping.names[k];
        for (const HullPoint &point : hulls[k]) {
            area.hull.push_back({point.x, point.y});
        }
        if (k < findings.offsets.surveys.size()) {
            const SurveyOffset &offset = findings.offsets.surveys[k];
            area.stations = offset.stations;
            area.in_contact = offset.in_contact;
            area.offset = offset.offset;
            area.standard_error = offset.standard_error;
            area.shifted = offset.shifted;
        }
        areas.push_back(std::move(area));
    }
    return areas;
}

GeoPackageWritten WriteStationsGeoPackage(
    const std::string &path, const std::string &temporary,
    const TQcStations &stations, const std::string &crs_wkt,
    const std::vector<ExtraColumn> &extra,
    const std::vector<SurveyArea> &surveys) {
    GisLayer layer = StationsLayer(path, temporary, crs_wkt);
    for (const char *name : companion_columns) {
        const std::string column = name;
        const FieldKind kind =
            column == "point" || column == "status" || column == "flag"
                ? FieldKind::Text
                : (column == "n" ? FieldKind::Integer : FieldKind::Real);
        layer.columns.push_back({column, kind});
    }
    for (const ExtraColumn &column : extra) {
        layer.columns.push_back(
            {column.name, column.text ? FieldKind::Text : FieldKind::Real});
    }
    const auto field = [](const CompanionCell &cell) -> FieldValue {
        switch (cell.kind) {
        case CompanionCell::Kind::Text:
            return cell.text;
        case CompanionCell::Kind::Real:
            return cell.real;
        case CompanionCell::Kind::Integer:
            return cell.integer;
        case CompanionCell::Kind::Empty:
            break;
        }
        return std::monostate{};
    };
    layer.rows = stations.Size();
    layer.row = [&](size_t k, double &x, double &y,
                    std::vector<FieldValue> &values) {
        x = stations[k].x;
        y = stations[k].y;
        for (const CompanionCell &cell : CompanionRow(stations, k)) {
            values.push_back(field(cell));
        }
        for (const ExtraColumn &column : extra) {
            values.push_back(field(column.cell(k)));
        }
    };
    if (!surveys.empty()) {
        GisPolygonLayer outlines;
        outlines.name = surveys_layer_name;
        outlines.columns = {{"survey", FieldKind::Text},
                            {"stations", FieldKind::Integer},
                            {"in_contact", FieldKind::Integer},
                            {"offset", FieldKind::Real},
                            {"standard_error", FieldKind::Real},
                            {"shifted", FieldKind::Integer}};
        outlines.rows = surveys.size();
        outlines.row = [&surveys](size_t k, std::vector<RingPoint> &ring,
                                  std::vector<FieldValue> &values) {
            const SurveyArea &area = surveys[k];
            ring = area.hull;
            values = {area.survey, area.stations, area.in_contact,
                      area.offset, area.standard_error,
                      int64_t{area.shifted ? 1 : 0}};
        };
        layer.polygon_layers.push_back(std::move(outlines));
    }
    return WriteLayer(layer);
}

GeoPackageWritten WriteSurveyGeoPackage(const std::string &path,
                                        const std::string &temporary,
                                        const std::vector<SurveyPoint> &points,
                                        const std::string &crs_wkt) {
    GisLayer layer = StationsLayer(path, temporary, crs_wkt);
    layer.columns = {{"point", FieldKind::Text},
                     {"h", FieldKind::Real},
                     {"value", FieldKind::Real},
                     {"survey", FieldKind::Text}};
    layer.rows = points.size();
    layer.row = [&](size_t k, double &x, double &y,
                    std::vector<FieldValue> &values) {
        const SurveyPoint &p = points[k];
        x = p.x;
        y = p.y;
        values.push_back(p.name);
        values.push_back(p.h);
        values.push_back(p.value);
        values.push_back(p.survey.empty() ? FieldValue{} : FieldValue{p.survey});
    };
    return WriteLayer(layer);
}
