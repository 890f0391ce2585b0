// Deciding how a file is read, and reading a table into stations.
#include "gis/TableSource.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include "gis/GdalSession.h"
#include "gis/SourceSample.h"
#include "platform/CodePage.h"
#include "platform/TextReader.h"

namespace {

// GDAL's driver for delimited text, which opens any text file: never asked.
constexpr const char *gdal_csv_driver = "CSV";

constexpr std::string_view memory_folder = "/vsimem/korvanel-source/";

// The bytes of a source held in memory (TMemorySource); false for a path
// of the file system.
bool HeldBytes(const std::string &path, std::string_view &bytes) {
    if (!path.starts_with(memory_folder))
        return false;
    vsi_l_offset size = 0;
    const GByte *data = VSIGetMemFileBuffer(path.c_str(), &size, FALSE);
    bytes = data == nullptr
                ? std::string_view()
                : std::string_view(reinterpret_cast<const char *>(data),
                                   static_cast<size_t>(size));
    return true;
}

// The first bytes of a file; false when it cannot be read as a file.
bool ReadSample(const std::string &path, std::string &sample) {
    std::string_view held;
    if (HeldBytes(path, held)) {
        sample = std::string(held.substr(0, source_sample_bytes));
        return true;
    }
    std::ifstream file(path, std::ios::binary);
    return ReadSourceSample(file, sample);
}

// The lines of a source's first bytes in `encoding`, converted to UTF-8 up to
// the first bytes that do not convert (a character cut off at the end of the
// sample among them); the bytes as they are when the encoding is unknown.
std::string SampleAsUtf8(const std::string &sample,
                         const std::string &encoding) {
    std::string text;
    try {
        TTextReader reader(sample, std::string(), encoding);
        std::string_view line;
        while (reader.ReadLine(line)) {
            text += line;
            text += '\n';
        }
    } catch (const EncodingError &) {
    } catch (const ::FileError &) {
        return sample;
    }
    return text;
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
    return name == gdal_csv_driver ? std::string() : name;
}

bool IsUtf8(std::string_view text) {
    return Utf8ValidPrefix(text) == text.size();
}

GisError WithFile(GisError error, const std::string &path) {
    error.file = path;
    return error;
}

GisError Refusal(GisProblem problem, const std::string &path,
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
        table.rows.stations.Add(
            {station.x, station.y, station.h, station.value, station.row},
            station.point, station.survey);
    else
        table.rows.Skip(std::move(skipped));
}

// A delimited or blank-separated text with a header, read line by line
// through the station file's reader (a byte order mark skipped, any line end,
// options.encoding converted to UTF-8 as strictly as a station file) and
// split here; every field is taken by its header's name.
GisError ReadText(const std::string &path, const SourceDecision &decision,
                  const ColumnsOption &named, const TableOptions &options,
                  TableData &table) {
    std::unique_ptr<TTextReader> reader;
    std::string_view held;
    try {
        reader =
            HeldBytes(path, held)
                ? std::make_unique<TTextReader>(held, path, options.encoding)
                : std::make_unique<TTextReader>(path, options.encoding);
    } catch (const ::FileError &error) {
        return Refusal(GisProblem::CannotOpen, path, error.what());
    }
    // Room for every line as a station: the list is never moved (see
    // TListedStations::Reserve), and the count costs a fast pass.
    table.rows.stations.Reserve(CountTextLines(path));
    // The header's first line decides how delimited text is separated.
    std::optional<TTextRows> rows;
    bool header_seen = false;
    int64_t row = 0;
    std::vector<Cell> cells;
    std::string_view line;
    try {
        while (reader->ReadLine(line)) {
            if (!rows && !IsBlankLine(line))
                rows.emplace(decision.format == TableFormat::BlankText
                                 ? TextSeparator::Blank
                                 : DetectSeparator(line));
            if (!rows || !rows->Take(line, reader->LinesRead()))
                continue;
            const std::span<const std::string> fields = rows->Fields();
            if (!header_seen) {
                header_seen = true;
                table.fields.assign(fields.begin(), fields.end());
                GisError error =
                    ChooseColumns(table.fields, named, false, table.choice);
                if (!error.ok())
                    return WithFile(error, path);
                if (table.choice.Column(ColumnRole::Survey) != no_column)
                    table.rows.stations.KeepSurveys();
                continue;
            }
            cells.resize(fields.size());
            for (size_t i = 0; i < fields.size(); ++i)
                cells[i] = Cell{CellKind::Text, fields[i], 0.0};
            TakeRow(cells, ++row, options, table);
        }
    } catch (const EncodingError &error) {
        GisError refusal =
            GisError::About(GisProblem::NotText, path, error.encoding);
        refusal.line = error.line;
        return refusal;
    } catch (const ::FileError &error) {
        return Refusal(GisProblem::ReadFailed, path, error.what(), row + 1);
    }
    if (rows && rows->Open()) {
        GisError refusal = GisError::About(GisProblem::OpenQuote, path);
        refusal.row = header_seen ? row + 1 : 0;
        refusal.line = rows->RowLine();
        return refusal;
    }
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
    const char *drivers[] = {decision.driver.c_str(), nullptr};
    return Dataset(GDALOpenEx(
        path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
        decision.driver.empty() ? nullptr : drivers, nullptr, nullptr));
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
    options.decimal_separator = '.'; // a sheet's number cells, any locale
    TGdalQuiet quiet;
    std::unique_ptr<SheetAsText> sheet_as_text;
    if (decision.driver == "XLSX" || decision.driver == "ODS")
        sheet_as_text = std::make_unique<SheetAsText>(decision.driver);
    const Dataset dataset = OpenVector(path, decision);
    if (!dataset)
        return Refusal(GisProblem::CannotOpen, path,
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
                Refusal(GisProblem::LayerNotFound, path, options.layer);
            error.fields = layers;
            return error;
        }
    } else if (layer_count == 0) {
        return Refusal(GisProblem::NoLayer, path, "");
    } else if (layer_count > 1) {
        GisError error = Refusal(GisProblem::SeveralLayers, path, "");
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
    const int survey_column = table.choice.Column(ColumnRole::Survey);
    if (survey_column != no_column)
        table.rows.stations.KeepSurveys();
    int64_t row = 0;
    // Room for every feature when the layer knows their count cheaply.
    const GIntBig features = OGR_L_GetFeatureCount(layer, FALSE);
    if (features > 0)
        table.rows.stations.Reserve(static_cast<size_t>(features));
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
            if (!typed_number || column == point_column ||
                column == survey_column) {
                if (!typed_number)
                    cell.kind = CellKind::Text;
                texts[r] = OGR_F_GetFieldAsString(feature.get(), column);
                cell.text = texts[r];
            }
        }
        // A name goes on into outputs promised as UTF-8.
        if (point_column != no_column &&
            !IsUtf8(cells[static_cast<size_t>(point_column)].text))
            return Refusal(GisProblem::NotText, path, "", row);
        if (survey_column != no_column &&
            !IsUtf8(cells[static_cast<size_t>(survey_column)].text))
            return Refusal(GisProblem::NotText, path, "", row);
        TakeRow(cells, row, options, table);
    }
    if (CPLGetLastErrorType() == CE_Failure ||
        CPLGetLastErrorType() == CE_Fatal)
        return Refusal(GisProblem::ReadFailed, path,
                       LastGdalError("GDAL stopped reading."), row + 1);
    return {};
}

} // namespace

size_t CountTextLines(const std::string &path) {
    std::string_view held;
    if (HeldBytes(path, held)) {
        return CountContentLines(held);
    }
    return CountContentLines(path);
}

void TableRows::Skip(SkippedRow &&row) {
    ++skipped;
    if (first_skipped.size() < kept_skipped_rows)
        first_skipped.push_back(std::move(row));
}

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
        if (!options.encoding.empty())
            sample = SampleAsUtf8(sample, options.encoding);
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
    const ColumnsOption named = options.columns.value_or(ColumnsOption{});
    if (decision.format == TableFormat::Gdal)
        return ReadGdalTable(path, decision, named, options, table);
    if (!options.layer.empty())
        return GisError::About(GisProblem::NoLayers, path);
    return ReadText(path, decision, named, options, table);
}
