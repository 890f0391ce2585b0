// Deciding how a file is read, and reading a table into stations.
#include "gis/TableSource.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include "gis/GdalSession.h"
#include "gis/SourceSample.h"

namespace {

constexpr const char *delimited_driver = "CSV";

constexpr std::string_view memory_folder = "/vsimem/korvanel-source/";

// A stream over `path`: the file on disk, or the bytes of a source held in
// memory (TMemorySource).
std::unique_ptr<std::istream> OpenStream(const std::string &path) {
    if (path.starts_with(memory_folder)) {
        vsi_l_offset size = 0;
        const GByte *bytes = VSIGetMemFileBuffer(path.c_str(), &size, FALSE);
        if (bytes == nullptr) {
            errno = ENOENT;
            return std::make_unique<std::ifstream>();
        }
        return std::make_unique<std::istringstream>(
            std::string(reinterpret_cast<const char *>(bytes),
                        static_cast<size_t>(size)),
            std::ios::binary);
    }
    return std::make_unique<std::ifstream>(path, std::ios::binary);
}

// The first bytes of a file; false when it cannot be read as a file.
bool ReadSample(const std::string &path, std::string &sample) {
    return ReadSourceSample(*OpenStream(path), sample);
}

// GDAL's vector driver for the file, other than the CSV driver (which takes
// any text); empty when none.
std::string IdentifyVectorDriver(const std::string &path) {
    TGdalQuiet quiet;
    GDALDriverH driver =
        GDALIdentifyDriverEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr);
    if (driver == nullptr)
        return {};
    const std::string name = GDALGetDriverShortName(driver);
    return name == delimited_driver ? std::string() : name;
}

GisError WithFile(GisError error, const std::string &path) {
    error.file = path;
    return error;
}

GisError FileError(GisProblem problem, const std::string &path,
                   const std::string &detail, int64_t row = 0) {
    GisError error = GisError::About(problem, path, detail);
    error.row = row;
    return error;
}

// Converts each row's cells and keeps the station or counts the row.
void TakeRow(std::span<const Cell> cells, int64_t row,
             const TableOptions &options, TableData &table) {
    TableStation station;
    SkippedRow skipped;
    if (ConvertRow(cells, table.choice, row, options.decimal_separator, station,
                   skipped))
        table.rows.stations.push_back(std::move(station));
    else
        table.rows.Skip(std::move(skipped));
}

// A blank-separated text with a header: split here as the station text
// format splits, and every field taken by its header's name.
GisError ReadBlankText(const std::string &path, const ColumnsOption &named,
                       const TableOptions &options, TableData &table) {
    const std::unique_ptr<std::istream> stream = OpenStream(path);
    std::istream &in = *stream;
    if (!in)
        return FileError(GisProblem::CannotOpen, path,
                         std::system_category().message(errno));
    bool header_seen = false;
    int64_t row = 0;
    std::vector<Cell> cells;
    std::vector<std::string> parts;
    GisError error;
    std::string chunk;
    bool first_chunk = true;
    while (error.ok() && std::getline(in, chunk)) {
        std::string_view text = chunk;
        if (first_chunk && text.substr(0, utf8_bom.size()) == utf8_bom)
            text.remove_prefix(utf8_bom.size());
        first_chunk = false;
        ForEachLine(text, [&](std::string_view line) {
            if (IsBlankLine(line))
                return true;
            if (!header_seen) {
                header_seen = true;
                table.fields = SplitTextLine(line, TextSeparator::Blank);
                error = WithFile(
                    ChooseColumns(table.fields, named, false, table.choice),
                    path);
                return error.ok();
            }
            parts = SplitTextLine(line, TextSeparator::Blank);
            cells.assign(parts.size(), Cell{});
            for (size_t i = 0; i < parts.size(); ++i)
                cells[i] = Cell{CellKind::Text, parts[i], 0.0};
            TakeRow(cells, ++row, options, table);
            return true;
        });
    }
    if (!error.ok())
        return error;
    if (in.bad())
        return FileError(GisProblem::ReadFailed, path,
                         std::system_category().message(errno), row);
    if (!header_seen)
        return WithFile(ChooseColumns({}, named, false, table.choice), path);
    return {};
}

// Sets a GDAL configuration option on this thread while it lives.
class TScopedConfig {
  public:
    TScopedConfig(const std::string &name, const char *value) : name(name) {
        const char *before =
            CPLGetThreadLocalConfigOption(name.c_str(), nullptr);
        had_value = before != nullptr;
        if (had_value)
            previous = before;
        CPLSetThreadLocalConfigOption(name.c_str(), value);
    }
    ~TScopedConfig() {
        CPLSetThreadLocalConfigOption(name.c_str(),
                                      had_value ? previous.c_str() : nullptr);
    }
    TScopedConfig(const TScopedConfig &) = delete;
    TScopedConfig &operator=(const TScopedConfig &) = delete;

  private:
    std::string name, previous;
    bool had_value = false;
};

// A spreadsheet's cells as the text the sheet holds, and its first row as the
// field names: GDAL's spreadsheet drivers take these as configuration
// options, read when a sheet is first used, so they stay set for the read.
struct SheetAsText {
    explicit SheetAsText(const std::string &driver)
        : types("OGR_" + driver + "_FIELD_TYPES", "STRING"),
          headers("OGR_" + driver + "_HEADERS", "FORCE") {}
    TScopedConfig types, headers;
};

struct DatasetCloser {
    void operator()(void *dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

struct FeatureDestroyer {
    void operator()(void *feature) const { OGR_F_Destroy(feature); }
};
using Feature = std::unique_ptr<void, FeatureDestroyer>;

Dataset OpenVector(const std::string &path, const SourceDecision &decision) {
    std::string open_path = path;
    std::vector<std::string> options;
    std::string driver = decision.driver;
    if (decision.format == TableFormat::Delimited) {
        // The prefix makes the CSV driver take a file of any extension; every
        // field is read as its text.
        open_path = std::string(delimited_driver) + ":" + path;
        driver = delimited_driver;
        options = {"HEADERS=YES", "AUTODETECT_TYPE=NO"};
    }
    std::vector<const char *> option_list;
    for (const std::string &option : options)
        option_list.push_back(option.c_str());
    option_list.push_back(nullptr);
    const char *drivers[] = {driver.c_str(), nullptr};
    return Dataset(GDALOpenEx(
        open_path.c_str(),
        GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
        driver.empty() ? nullptr : drivers, option_list.data(), nullptr));
}

std::string LayerCrsText(OGRLayerH layer) {
    OGRSpatialReferenceH srs = OGR_L_GetSpatialRef(layer);
    if (srs == nullptr)
        return {};
    char *wkt = nullptr;
    const char *const format[] = {"FORMAT=WKT2_2019", nullptr};
    if (OSRExportToWktEx(srs, &wkt, format) != OGRERR_NONE) {
        CPLFree(wkt);
        return {};
    }
    std::string text = wkt != nullptr ? wkt : "";
    CPLFree(wkt);
    return text;
}

GisError ReadGdalTable(const std::string &path, const SourceDecision &decision,
                       const ColumnsOption &named, const TableOptions &given,
                       TableData &table) {
    TableOptions options = given;
    if (decision.format != TableFormat::Delimited)
        options.decimal_separator = '.'; // a sheet's number cells, any locale
    TGdalQuiet quiet;
    std::unique_ptr<SheetAsText> sheet_as_text;
    if (decision.driver == "XLSX" || decision.driver == "ODS")
        sheet_as_text = std::make_unique<SheetAsText>(decision.driver);
    const Dataset dataset = OpenVector(path, decision);
    if (!dataset)
        return FileError(GisProblem::CannotOpen, path,
                         LastGdalError("GDAL cannot open it."));

    const int layer_count = GDALDatasetGetLayerCount(dataset.get());
    std::vector<std::string> layers;
    for (int i = 0; i < layer_count; ++i)
        layers.push_back(OGR_L_GetName(GDALDatasetGetLayer(dataset.get(), i)));
    OGRLayerH layer = nullptr;
    if (!options.layer.empty()) {
        layer = GDALDatasetGetLayerByName(dataset.get(), options.layer.c_str());
        if (layer == nullptr) {
            GisError error =
                FileError(GisProblem::LayerNotFound, path, options.layer);
            error.fields = layers;
            return error;
        }
    } else if (layer_count == 0) {
        return FileError(GisProblem::NoLayer, path, "");
    } else if (layer_count > 1) {
        GisError error = FileError(GisProblem::SeveralLayers, path, "");
        error.fields = layers;
        return error;
    } else {
        layer = GDALDatasetGetLayer(dataset.get(), 0);
    }
    table.layer = OGR_L_GetName(layer);

    OGRFeatureDefnH definition = OGR_L_GetLayerDefn(layer);
    const int field_count = OGR_FD_GetFieldCount(definition);
    std::vector<OGRFieldType> types;
    for (int i = 0; i < field_count; ++i) {
        OGRFieldDefnH field = OGR_FD_GetFieldDefn(definition, i);
        table.fields.push_back(OGR_Fld_GetNameRef(field));
        types.push_back(OGR_Fld_GetType(field));
    }
    const OGRwkbGeometryType geometry_type =
        wkbFlatten(OGR_L_GetGeomType(layer));
    const bool point_geometry =
        OGR_FD_GetGeomFieldCount(definition) > 0 &&
        (geometry_type == wkbPoint || geometry_type == wkbUnknown);
    GisError error =
        ChooseColumns(table.fields, named, point_geometry, table.choice);
    if (!error.ok())
        return WithFile(error, path);
    if (table.choice.origin[static_cast<int>(ColumnRole::X)] ==
        ColumnOrigin::Geometry)
        table.layer_crs = LayerCrsText(layer);

    // Only the chosen columns are filled; a text is copied, since GDAL's
    // buffer for a formatted number is reused.
    std::vector<Cell> cells(static_cast<size_t>(field_count) + 2);
    std::array<std::string, column_role_count> texts;
    const int point_column = table.choice.Column(ColumnRole::Point);
    int64_t row = 0;
    OGR_L_ResetReading(layer);
    CPLErrorReset();
    for (;;) {
        const Feature feature(OGR_L_GetNextFeature(layer));
        if (!feature)
            break;
        ++row;
        for (int r = 0; r < column_role_count; ++r) {
            const int column = table.choice.column[r];
            if (column == no_column)
                continue;
            Cell &cell = cells[static_cast<size_t>(column)];
            cell = Cell{};
            if (column >= field_count) {
                // x and y of a point geometry
                OGRGeometryH geometry = OGR_F_GetGeometryRef(feature.get());
                if (geometry != nullptr &&
                    wkbFlatten(OGR_G_GetGeometryType(geometry)) == wkbPoint &&
                    !OGR_G_IsEmpty(geometry)) {
                    cell.kind = CellKind::Number;
                    cell.number = column == field_count
                                      ? OGR_G_GetX(geometry, 0)
                                      : OGR_G_GetY(geometry, 0);
                }
                continue;
            }
            if (!OGR_F_IsFieldSetAndNotNull(feature.get(), column))
                continue;
            const OGRFieldType type = types[static_cast<size_t>(column)];
            const bool typed_number =
                type == OFTReal || type == OFTInteger || type == OFTInteger64;
            if (typed_number) {
                cell.kind = CellKind::Number;
                cell.number = OGR_F_GetFieldAsDouble(feature.get(), column);
            }
            if (!typed_number || column == point_column) {
                if (!typed_number)
                    cell.kind = CellKind::Text;
                texts[r] = OGR_F_GetFieldAsString(feature.get(), column);
                cell.text = texts[r];
            }
        }
        TakeRow(cells, row, options, table);
    }
    if (CPLGetLastErrorType() == CE_Failure ||
        CPLGetLastErrorType() == CE_Fatal)
        return FileError(GisProblem::ReadFailed, path,
                         LastGdalError("GDAL stopped reading."), row + 1);
    return {};
}

} // namespace

TMemorySource::TMemorySource(const std::string &name,
                             const std::string &bytes) {
    static std::atomic<unsigned> sources{0};
    std::string file = std::filesystem::path(name).filename().string();
    if (file.empty() || name == "-")
        file = "stdin";
    path = std::string(memory_folder) + std::to_string(++sources) + "/" + file;
    // GDAL reads the bytes where they are; it never owns or changes them.
    VSILFILE *handle = VSIFileFromMemBuffer(
        path.c_str(),
        reinterpret_cast<GByte *>(const_cast<char *>(bytes.data())),
        static_cast<vsi_l_offset>(bytes.size()), FALSE);
    if (handle != nullptr)
        VSIFCloseL(handle);
}

TMemorySource::~TMemorySource() { VSIUnlink(path.c_str()); }

SourceDecision DecideSource(const std::string &path,
                            const TableOptions &options) {
    SourceDecision decision;
    bool identify = false;
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        identify = true;
    } else {
        std::string sample;
        if (!ReadSample(path, sample))
            return decision; // the station reader says why it cannot be read
        decision = DecideFromSample(sample, options, identify);
    }
    if (identify) {
        const std::string driver = IdentifyVectorDriver(path);
        if (!driver.empty()) {
            decision.kind = SourceKind::Table;
            decision.format = TableFormat::Gdal;
            decision.driver = driver;
        }
    }
    return decision;
}

GisError ReadTable(const std::string &path, const SourceDecision &decision,
                   const TableOptions &options, TableData &table) {
    table = TableData{};
    ColumnsOption named;
    if (options.chosen_columns) {
        named = *options.chosen_columns;
    } else if (!options.columns.empty()) {
        GisError error = ParseColumnsOption(options.columns, named);
        if (!error.ok())
            return error;
    }
    if (decision.format == TableFormat::BlankText)
        return ReadBlankText(path, named, options, table);
    return ReadGdalTable(path, decision, named, options, table);
}
