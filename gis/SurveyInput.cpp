// How the programs take their stations. A station file is read as it always
// was, without GDAL; anything else goes to the GIS module, loaded then.
#include "gis/SurveyInput.h"

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
#include "platform/Locale.h"

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

} // namespace

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

SurveyPreparation PrepareSurvey(const std::string &path,
                                const TableOptions &options,
                                const std::string &encoding,
                                SurveyInput &input) {
    SurveyPreparation said;
    if (ReadOnce(path)) {
        try {
            input.bytes = ReadWholeSource(path, input.read_once_limit);
        } catch (const FileError &error) {
            said.status = 1;
            said.error = error.what();
            return said;
        } catch (const EncodingError &error) {
            said.status = 1;
            said.error = NotTextMessage(path, error.line, error.encoding,
                                        error.bytes, error.what());
            return said;
        }
        input.held = true;
    }
    SourceDecision decision;
    if (!NeedsGis(path, options, input, decision)) {
        // A station file, read by the run as it always was.
        if (decision.UnrecognisedTable()) {
            said.columns_unknown = true;
            said.fields = decision.header;
        }
        return said;
    }
    std::string why;
    const GisModuleApi *module = LoadGisModule(why);
    if (module == nullptr) {
        said.status = 1;
        said.error = "reading " + path +
                     " needs the GIS module, which could not be loaded: " + why;
        return said;
    }
    said = module->prepare(path, options, encoding, DecimalSeparator(), input);
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
    if (fields.empty()) {
        return false;
    }
    if (columns_unknown) {
        return true;
    }
    switch (refusal.problem) {
    case GisProblem::UnknownField:
    case GisProblem::FieldNamedTwice:
    case GisProblem::AmbiguousRole:
    case GisProblem::MissingRole:
    case GisProblem::MixedCoordinates:
    case GisProblem::BadCrsText:
    case GisProblem::TargetNotProjected:
    case GisProblem::TargetNotMetres:
    case GisProblem::CrsMismatch:
    case GisProblem::UnknownSourceCrs:
        return true;
    default:
        return false;
    }
}

void FeedRun(RunInput &input, SurveyInput &survey,
             const RunSettings &settings) {
    if (!survey.lon.empty()) {
        input.extra_columns = {
            {"lon", [&survey](size_t k) { return survey.lon[k]; }},
            {"lat", [&survey](size_t k) { return survey.lat[k]; }}};
    }
    if (survey.listed) {
        input.open = [&survey] {
            return std::make_unique<TStationListInput>(
                std::move(survey.stations));
        };
    } else if (survey.held) {
        const std::string path = input.path;
        const char separator = settings.decimal_separator;
        const std::string encoding = settings.encoding;
        input.open = [&survey, path, separator, encoding] {
            return std::make_unique<TStationTextInput>(
                path, std::move(survey.bytes), separator, encoding);
        };
    }
}

GeoPackageWritten WriteStationsGeoPackage(const std::string &path,
                                          const std::string &temporary,
                                          const TQcStations &stations,
                                          const SurveyInput &input) {
    std::string why;
    const GisModuleApi *module = LoadGisModule(why);
    if (module == nullptr) {
        return {"cannot write the GeoPackage " + path +
                    ": the GIS module could not be loaded: " + why,
                {}};
    }
    return module->write_geopackage(path, temporary, stations, input);
}
