// The GIS module: reading tables and GIS layers, placing coordinates with
// PROJ and writing GeoPackages, for programs that load it when a run needs
// it (see GisModule.h). The only code of the programs that links GDAL.
#include "gis/GisModule.h"

#include <optional>
#include <variant>

#include "gis/GeoPackageWriter.h"
#include "platform/Locale.h"
#include "qc/CompanionTable.h"

namespace {

// The message of `error`, naming the source as the user named it where the
// readers saw it under another path (a source held in memory).
std::string MessageOf(GisError error, const std::string &seen,
                      const std::string &shown) {
    if (seen != shown) {
        if (error.file == seen) {
            error.file = shown;
        }
        for (size_t at = error.detail.find(seen); at != std::string::npos;
             at = error.detail.find(seen, at + shown.size())) {
            error.detail.replace(at, seen.size(), shown);
        }
    }
    return GisMessage(error);
}

void Refuse(const GisError &error, const std::string &seen,
            const std::string &shown, SurveyPreparation &said) {
    said.status = IsUsageProblem(error.problem) ? 2 : 1;
    said.error = MessageOf(error, seen, shown);
    said.refusal = error;
}

void TellCrs(const RunCrs &crs, SurveyPreparation &said) {
    for (const GisNotice &notice : crs.notices) {
        said.notes.push_back(NoticeMessage(notice));
    }
    if (!crs.Known()) {
        return;
    }
    said.notes.push_back(
        "Coordinates: computed in " + crs.name +
        (crs.geographic_input
             ? ", projected from longitude and latitude"
             : (crs.transformed ? ", transformed from the source" : "")));
}

// The station reader's refusal to open `path`, or empty when it opens (a
// source held in memory always does).
std::string OpenRefusal(const std::string &path, const SurveyInput &input) {
    if (input.held) {
        return {};
    }
    try {
        TTextReader reader(path);
    } catch (const FileError &error) {
        return error.what();
    }
    return {};
}

// A station file whose coordinates must move to another system: its lines
// read once, every station placed with PROJ. `seen` is where the readers
// see it (a source held in memory has a path of its own).
void PrepareStationText(const std::string &path, const std::string &seen,
                        const TableOptions &options,
                        const std::string &encoding, SurveyInput &input,
                        SurveyPreparation &said) {
    TStationTextInput text =
        input.held
            ? TStationTextInput(path, input.bytes, DecimalSeparator(), encoding)
            : TStationTextInput(path, DecimalSeparator(), encoding);
    InputRecord record;
    TListedStations listed;
    listed.Reserve(CountTextLines(seen));
    try {
        text.Rewind();
        while (text.Next(record)) {
            if (record.is_station) {
                listed.Add({record.station.x, record.station.y,
                            record.station.h, record.station.value,
                            record.line},
                           record.name);
            } else if (!record.blank) {
                listed.AddUnread(record.line, record.text);
            }
        }
    } catch (const EncodingError &error) {
        GisError refusal =
            GisError::About(GisProblem::NotText, path, error.encoding);
        refusal.line = error.line;
        return Refuse(refusal, path, path, said);
    } catch (const FileError &error) {
        // missing, unreadable: the station reader's own words
        said.status = 1;
        said.error = error.what();
        return;
    }
    if (listed.Empty()) {
        // No station to place: the run reads the file and says so.
        return;
    }
    std::vector<double> x(listed.Size()), y(listed.Size());
    for (size_t k = 0; k < listed.Size(); ++k) {
        x[k] = listed[k].x;
        y[k] = listed[k].y;
    }
    GisError placed = PlaceCoordinates(path, options, {}, false, x, y,
                                       input.lon, input.lat, input.crs);
    // Lines of the file, not indices, in what the user reads.
    const auto line_of = [&](int64_t index) {
        return listed[static_cast<size_t>(index - 1)].row;
    };
    for (GisNotice &notice : input.crs.notices) {
        if (notice.row > 0) {
            notice.line = line_of(notice.row);
            notice.row = 0;
        }
    }
    if (!placed.ok()) {
        if (placed.row > 0) {
            placed.line = line_of(placed.row);
            placed.row = 0;
        }
        return Refuse(placed, path, path, said);
    }
    for (size_t k = 0; k < listed.Size(); ++k) {
        listed[k].x = x[k];
        listed[k].y = y[k];
    }
    input.stations = std::move(listed);
    input.stations.Trim();
    input.listed = true;
    input.bytes = std::string(); // listed: the bytes are done with
    TellCrs(input.crs, said);
}

// PrepareSurvey with GDAL at hand; a source that can be read only once is
// already in input.bytes.
SurveyPreparation PrepareWithGis(const std::string &path,
                                 const TableOptions &given,
                                 const std::string &encoding, char separator,
                                 SurveyInput &input) {
    SetDecimalSeparator(separator); // this module's own copy of the setting
    TableOptions options = given;
    options.encoding = encoding; // text tables are read in it as well
    SurveyPreparation said;
    std::optional<TMemorySource> memory;
    if (input.held) {
        memory.emplace(path, input.bytes);
    }
    const std::string seen = memory ? memory->Path() : path;
    const SourceDecision decision = DecideSource(seen, options);
    if (decision.kind == SourceKind::StationText) {
        if (!options.layer.empty()) {
            // A file that cannot be read says so first; one that can has no
            // layer to choose.
            const std::string refusal = OpenRefusal(path, input);
            if (!refusal.empty()) {
                said.status = 1;
                said.error = refusal;
            } else {
                Refuse(GisError::About(GisProblem::NoLayers, path), path, path,
                       said);
            }
            return said;
        }
        if (decision.UnrecognisedTable()) {
            said.columns_unknown = true;
            said.fields = decision.header;
        }
        if (!options.source_crs.empty() || !options.crs.empty()) {
            PrepareStationText(path, seen, options, encoding, input, said);
        }
        return said;
    }
    TableData table;
    const GisError read = ReadTable(seen, decision, options, table);
    memory.reset();
    input.bytes = std::string(); // a table is listed: its bytes are done with
    if (!read.ok()) {
        Refuse(read, seen, path, said);
        said.fields = read.fields;
        return said;
    }
    said.fields = table.fields;
    // A source held in memory has no layer name of its own.
    const bool named_layer = !table.layer.empty() && !input.held;
    said.notes.push_back("Columns of " + path +
                         (named_layer ? ", layer " + table.layer : "") + ": " +
                         DescribeColumns(table.choice, table.fields));
    const GisError placed = PlaceStations(path, options, table, input.crs);
    if (!placed.ok()) {
        Refuse(placed, path, path, said);
        return said;
    }
    TellCrs(input.crs, said);
    if (table.rows.skipped > 0) {
        said.notes.push_back("Rows passed over: " +
                             std::to_string(table.rows.skipped));
        for (const SkippedRow &skipped : table.rows.first_skipped) {
            said.notes.push_back("  " + DescribeSkippedRow(skipped));
        }
    }
    if (table.rows.stations.Empty()) {
        said.status = 1;
        said.error = "no row of " + path + " holds a station";
        // Numbers with the other decimal separator: the advice, once more.
        const std::vector<SkippedRow> &first = table.rows.first_skipped;
        if (!first.empty() && !SeparatorHint(first.front()).empty()) {
            said.error += ": " + DescribeSkippedRow(first.front());
        }
        return said;
    }
    input.stations = std::move(table.rows.stations);
    input.stations.Trim();
    input.lon = std::move(table.lon);
    input.lat = std::move(table.lat);
    input.listed = true;
    return said;
}

GeoPackageWritten WriteGeoPackage(const std::string &path,
                                  const std::string &temporary,
                                  const TQcStations &stations,
                                  const SurveyInput &input) {
    std::vector<LayerColumn> columns;
    for (const char *name : companion_columns) {
        const std::string column = name;
        const FieldKind kind =
            column == "point" || column == "status" || column == "flag"
                ? FieldKind::Text
                : (column == "n" ? FieldKind::Integer : FieldKind::Real);
        columns.push_back({column, kind});
    }
    const bool degrees = !input.lon.empty();
    if (degrees) {
        columns.push_back({"lon", FieldKind::Real});
        columns.push_back({"lat", FieldKind::Real});
    }
    TGeoPackageWriter writer;
    GisError error = writer.Begin(path, input.crs.wkt, columns,
                                  stations_layer_name, temporary);
    std::vector<FieldValue> values;
    for (size_t k = 0; error.ok() && k < stations.Size(); ++k) {
        values.clear();
        for (const CompanionCell &cell : CompanionRow(stations, k)) {
            switch (cell.kind) {
            case CompanionCell::Kind::Text:
                values.emplace_back(cell.text);
                break;
            case CompanionCell::Kind::Real:
                values.emplace_back(cell.real);
                break;
            case CompanionCell::Kind::Integer:
                values.emplace_back(cell.integer);
                break;
            case CompanionCell::Kind::Empty:
                values.emplace_back(std::monostate{});
                break;
            }
        }
        if (degrees) {
            values.emplace_back(k < input.lon.size() ? input.lon[k] : qc_none);
            values.emplace_back(k < input.lat.size() ? input.lat[k] : qc_none);
        }
        error = writer.AddRow(stations[k].x, stations[k].y, values);
    }
    if (error.ok()) {
        error = writer.Finish();
    }
    if (!error.ok()) {
        return {GisMessage(error), {}};
    }
    return {std::string(), writer.KeptLayers()};
}

const GisModuleApi module_api{gis_module_version, PrepareWithGis,
                              WriteGeoPackage};

} // namespace

extern "C" const GisModuleApi *korvanel_gis_module() { return &module_api; }
