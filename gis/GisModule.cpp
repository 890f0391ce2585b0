// The GIS module: reading tables and GIS layers, placing coordinates with
// PROJ, sampling DEMs and writing GeoPackages, for programs that load it when
// a run needs it (see GisModule.h). The only code of the programs that links
// GDAL.
#include "gis/GisModule.h"

#include <optional>
#include <variant>

#include "platform/TextReader.h"

namespace {

// `error` naming the source as the user named it where the readers saw it
// under another path (a source held in memory).
GisError Shown(GisError error, const std::string &seen,
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
    return error;
}

void TellCrs(const RunCrs &crs, std::vector<std::string> &notes) {
    for (const GisNotice &notice : crs.notices) {
        notes.push_back(NoticeMessage(notice));
    }
    if (!crs.Known()) {
        return;
    }
    notes.push_back(
        "Coordinates: computed in " + crs.name +
        (crs.geographic_input
             ? ", projected from longitude and latitude"
             : (crs.transformed ? ", transformed from the source" : "")));
}

// The station reader's refusal to open `path`, or None when it opens (a
// source held in memory always does).
GisError OpenRefusal(const std::string &path, bool held) {
    if (held) {
        return {};
    }
    try {
        TTextReader reader(path);
    } catch (const FileError &error) {
        return GisError::About(GisProblem::SourceUnreadable, path,
                               error.what());
    }
    return {};
}

void ReadSource(const std::string &path, const std::string *held,
                const TableOptions &options, GisSource &source) {
    source = GisSource{};
    std::optional<TMemorySource> memory;
    if (held != nullptr) {
        memory.emplace(path, *held);
    }
    const std::string seen = memory ? memory->Path() : path;
    const SourceDecision decision = DecideSource(seen, options);
    if (decision.kind == SourceKind::StationText) {
        source.station_text = true;
        if (!options.layer.empty()) {
            // A file that cannot be read says so first; one that can has no
            // layer to choose.
            source.refusal = OpenRefusal(path, held != nullptr);
            if (source.refusal.ok()) {
                source.refusal = GisError::About(GisProblem::NoLayers, path);
            }
            return;
        }
        if (decision.UnrecognisedTable()) {
            source.columns_unknown = true;
            source.fields = decision.header;
        }
        return;
    }
    TableData table;
    const GisError read = ReadTable(seen, decision, options, table);
    memory.reset();
    if (!read.ok()) {
        source.refusal = Shown(read, seen, path);
        source.fields = read.fields;
        return;
    }
    source.fields = table.fields;
    // A source held in memory has no layer name of its own.
    const bool named_layer = !table.layer.empty() && held == nullptr;
    source.notes.push_back("Columns of " + path +
                           (named_layer ? ", layer " + table.layer : "") +
                           ": " + DescribeColumns(table.choice, table.fields));
    const GisError placed = PlaceStations(path, options, table, source.crs);
    if (!placed.ok()) {
        source.refusal = placed;
        return;
    }
    TellCrs(source.crs, source.notes);
    if (table.rows.skipped > 0) {
        source.notes.push_back("Rows passed over: " +
                               std::to_string(table.rows.skipped));
        for (const SkippedRow &skipped : table.rows.first_skipped) {
            source.notes.push_back("  " + DescribeSkippedRow(skipped));
        }
        const int64_t more =
            table.rows.skipped -
            static_cast<int64_t>(table.rows.first_skipped.size());
        if (more > 0) {
            source.notes.push_back("  ... and " + std::to_string(more) +
                                   " more");
        }
    }
    if (table.rows.stations.Empty()) {
        std::string why = "no row of " + path + " holds a station";
        // Numbers with the other decimal separator: the advice, once more.
        const std::vector<SkippedRow> &first = table.rows.first_skipped;
        if (!first.empty() && !SeparatorHint(first.front()).empty()) {
            why += ": " + DescribeSkippedRow(first.front());
        }
        source.refusal =
            GisError::About(GisProblem::SourceUnreadable, path, why);
        return;
    }
    source.stations = std::move(table.rows.stations);
    source.stations.Trim();
    source.lon = std::move(table.lon);
    source.lat = std::move(table.lat);
}

void PlaceListed(const std::string &path, const TableOptions &options,
                 TListedStations &listed, GisPlaced &placed) {
    placed = GisPlaced{};
    std::vector<double> x(listed.Size()), y(listed.Size());
    for (size_t k = 0; k < listed.Size(); ++k) {
        x[k] = listed[k].x;
        y[k] = listed[k].y;
    }
    GisError refusal = PlaceCoordinates(path, options, {}, false, x, y,
                                        placed.lon, placed.lat, placed.crs);
    // Lines of the file, not indices, in what the user reads.
    const auto line_of = [&](int64_t index) {
        return listed[static_cast<size_t>(index - 1)].row;
    };
    for (GisNotice &notice : placed.crs.notices) {
        if (notice.row > 0) {
            notice.line = line_of(notice.row);
            notice.row = 0;
        }
    }
    if (!refusal.ok()) {
        if (refusal.row > 0) {
            refusal.line = line_of(refusal.row);
            refusal.row = 0;
        }
        placed.refusal = refusal;
        return;
    }
    for (size_t k = 0; k < listed.Size(); ++k) {
        listed[k].x = x[k];
        listed[k].y = y[k];
    }
    TellCrs(placed.crs, placed.notes);
}

void WriteLayer(const GisLayer &layer, GisLayerWritten &written) {
    written = GisLayerWritten{};
    TGeoPackageWriter writer;
    GisError error = writer.Begin(layer.path, layer.crs_wkt, layer.columns,
                                  layer.name, layer.temporary);
    std::vector<FieldValue> values;
    for (size_t k = 0; error.ok() && k < layer.rows; ++k) {
        values.clear();
        double x = 0.0, y = 0.0;
        layer.row(k, x, y, values);
        error = writer.AddRow(x, y, values);
    }
    std::vector<RingPoint> ring;
    for (const GisPolygonLayer &polygons : layer.polygon_layers) {
        if (error.ok()) {
            error = writer.AddPolygonLayer(polygons.name, polygons.columns);
        }
        for (size_t k = 0; error.ok() && k < polygons.rows; ++k) {
            values.clear();
            ring.clear();
            polygons.row(k, ring, values);
            error = writer.AddPolygon(ring, values);
        }
    }
    if (error.ok()) {
        error = writer.Finish();
    }
    written.error = error;
    if (error.ok()) {
        written.kept_layers = writer.KeptLayers();
    }
}

void SampleDemHeights(const std::string &path, const std::string &crs_wkt,
                      const std::vector<double> &x,
                      const std::vector<double> &y, DemHeights &heights) {
    heights = SampleDem(path, crs_wkt, x, y);
}

const GisModuleApi module_api{gis_module_version, ReadSource, PlaceListed,
                              WriteLayer, SampleDemHeights};

} // namespace

extern "C" const GisModuleApi *korvanel_gis_module() { return &module_api; }
