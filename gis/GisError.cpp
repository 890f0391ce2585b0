// The texts of the GIS steps' refusals, all in one place.
#include "gis/GisError.h"

#include <charconv>

#include "gis/UtmZone.h"

namespace {

std::string Joined(const std::vector<std::string> &names) {
    if (names.empty())
        return "(none)";
    std::string text;
    for (const std::string &name : names) {
        if (!text.empty())
            text += ", ";
        text += name.empty() ? std::string("\"\"") : name;
    }
    return text;
}

std::string RowText(int64_t row) {
    return row > 0 ? " (row " + std::to_string(row) + ")" : std::string();
}

// A number for the user, with at most `decimals` decimals and no trailing
// zeros after the point: "180", "-36.02".
std::string Number(double value, int decimals) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value,
                                   std::chars_format::fixed, decimals)
                         .ptr;
    std::string text(buffer, end);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

// "row 51 (line 52)", "row 51" or "line 52".
std::string Place(int64_t row, int64_t line) {
    const std::string at_line = "line " + std::to_string(line);
    if (row <= 0)
        return at_line;
    const std::string at_row = "row " + std::to_string(row);
    return line > 0 ? at_row + " (" + at_line + ")" : at_row;
}

} // namespace

const char *RoleName(ColumnRole role) {
    switch (role) {
    case ColumnRole::X:
        return "x";
    case ColumnRole::Y:
        return "y";
    case ColumnRole::Point:
        return "point";
    case ColumnRole::H:
        return "h";
    case ColumnRole::Value:
        return "value";
    case ColumnRole::Survey:
        return "survey";
    }
    return "?";
}

namespace {

std::string FileOf(const GisError &error) {
    return error.file.empty() ? "" : error.file + ": ";
}

std::string RoleOf(const GisError &error) { return RoleName(error.role); }

std::string FieldsOf(const GisError &error) {
    return " Fields: " + Joined(error.fields) + ".";
}

// Each problem once: whether it is the user's to mend on the command line
// or by a choice (a usage problem, exit status 2; else the input or the
// output failed, 1), whether choosing the columns or the coordinate system
// mends it (the window's column dialog), and its text.
struct ProblemRow {
    GisProblem problem;
    bool usage;
    bool asks_for_columns;
    std::string (*text)(const GisError &error);
};

const ProblemRow problem_rows[] = {
    {GisProblem::None, false, false,
     [](const GisError &) -> std::string { return {}; }},
    {GisProblem::ColumnsSyntax, true, false,
     [](const GisError &error) -> std::string {
         return "--columns: \"" + error.detail +
                "\" is not ROLE=FIELD (roles: x, y, lon, lat, point, h, "
                "value).";
     }},
    {GisProblem::UnknownRole, true, false,
     [](const GisError &error) -> std::string {
         return "--columns: unknown role \"" + error.detail +
                "\" (roles: x, y, lon, lat, point, h, value).";
     }},
    {GisProblem::DuplicateRole, true, false,
     [](const GisError &error) -> std::string {
         return "--columns: the " + RoleOf(error) + " column is named twice.";
     }},
    {GisProblem::FieldNamedTwice, true, true,
     [](const GisError &error) -> std::string {
         return "--columns: the field \"" + error.detail +
                "\" is named for two roles.";
     }},
    {GisProblem::UnknownField, false, true,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "no field \"" + error.detail + "\" for the " +
                RoleOf(error) + " column named by --columns." + FieldsOf(error);
     }},
    {GisProblem::AmbiguousRole, true, true,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "more than one field could be the " +
                RoleOf(error) + " column: " + Joined(error.candidates) +
                ". Choose one with --columns " + RoleOf(error) + "=FIELD." +
                FieldsOf(error);
     }},
    {GisProblem::MissingRole, true, true,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "no field is recognised as the " +
                RoleOf(error) + " column. Name it with --columns " +
                RoleOf(error) + "=FIELD." + FieldsOf(error);
     }},
    {GisProblem::MixedCoordinates, true, true,
     [](const GisError &error) -> std::string {
         return FileOf(error) +
                "one coordinate column is planar and the other is "
                "longitude or latitude: " +
                Joined(error.candidates) +
                ". Name both with --columns x=FIELD,y=FIELD or "
                "lon=FIELD,lat=FIELD.";
     }},
    {GisProblem::UnrecognisedHeader, true, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) +
                "the first line reads as a table's header, but no field in it "
                "is recognised as x, y, point, h or value. Name them with "
                "--columns x=FIELD,y=FIELD,value=FIELD." +
                FieldsOf(error);
     }},
    {GisProblem::CannotOpen, false, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "cannot be read as a table. " + error.detail;
     }},
    {GisProblem::NoLayer, false, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "holds no table.";
     }},
    {GisProblem::LayerNotFound, true, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "has no layer \"" + error.detail +
                "\". Layers: " + Joined(error.fields) + ".";
     }},
    {GisProblem::SeveralLayers, true, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) +
                "holds several layers; choose one with --layer NAME. "
                "Layers: " +
                Joined(error.fields) + ".";
     }},
    {GisProblem::NoLayers, true, false,
     [](const GisError &error) -> std::string {
         return "--layer: " + error.file +
                " is a text file, which has no layers; --layer chooses among "
                "the layers of a GeoPackage or another GIS source.";
     }},
    {GisProblem::ReadFailed, false, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "reading failed" + RowText(error.row) + ". " +
                error.detail;
     }},
    {GisProblem::OpenQuote, false, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "the quote that opens a field in " +
                Place(error.row, error.line) +
                " is never closed: every row after it would be read as part "
                "of that field. Close the quote or remove it.";
     }},
    {GisProblem::NotText, false, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + Place(error.row, error.line) + " is not " +
                (error.detail.empty() ? std::string("UTF-8") : error.detail) +
                " text. A file saved in another encoding is read with "
                "--encoding NAME (for example --encoding LATIN1).";
     }},
    {GisProblem::BadCrsText, true, true,
     [](const GisError &error) -> std::string {
         return error.option + ": \"" + error.detail +
                "\" is not a coordinate reference system PROJ accepts.";
     }},
    {GisProblem::TargetNotProjected, true, true,
     [](const GisError &error) -> std::string {
         return error.option + ": " + error.detail +
                " is not a projected coordinate reference system; the "
                "kriging needs metres.";
     }},
    {GisProblem::TargetNotMetres, true, true,
     [](const GisError &error) -> std::string {
         return error.option + ": " + error.detail + " measures in " +
                error.unit +
                "; the kriging's distances are metres. Choose a coordinate "
                "reference system in metres (the same projection often has "
                "one).";
     }},
    {GisProblem::CrsMismatch, true, true,
     [](const GisError &error) -> std::string {
         return FileOf(error) +
                "the coordinate columns are longitude and latitude, but " +
                error.detail + " is a projected coordinate reference system.";
     }},
    {GisProblem::UnknownSourceCrs, true, true,
     [](const GisError &error) -> std::string {
         return FileOf(error) +
                "the coordinates' own reference system is not known, so "
                "they cannot be taken to " +
                error.detail + ". Name it with --source-crs.";
     }},
    {GisProblem::TransformFailed, false, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "PROJ cannot transform the station" +
                RowText(error.row) + ". " + error.detail;
     }},
    {GisProblem::AngleOutOfRange, false, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "the " + error.detail + " " +
                Number(error.number, 9) + " of the station in " +
                Place(error.row, error.line) + " lies beyond ±" +
                Number(error.limit, 6) + "; check its coordinates.";
     }},
    {GisProblem::WriteFailed, false, false,
     [](const GisError &error) -> std::string {
         return FileOf(error) + "cannot write the GeoPackage. " + error.detail;
     }},
    {GisProblem::SourceUnreadable, false, false,
     [](const GisError &error) -> std::string { return error.detail; }},
    {GisProblem::DemUnreadable, false, false,
     [](const GisError &error) -> std::string {
         return "--dem " + error.file + ": cannot be read as a raster. " +
                error.detail;
     }},
    {GisProblem::DemNotPlaced, false, false,
     [](const GisError &error) -> std::string {
         return "--dem " + error.file +
                ": the raster is not georeferenced (it has no geotransform), "
                "so its pixels cannot be placed under the stations.";
     }},
    {GisProblem::DemNoCrs, false, false,
     [](const GisError &error) -> std::string {
         return "--dem " + error.file +
                ": the raster declares no coordinate reference system, so the "
                "stations cannot be placed on it. Give it one (a .prj file "
                "beside it, or gdal_edit.py -a_srs).";
     }},
    {GisProblem::DemNeedsStationCrs, false, false,
     [](const GisError &error) -> std::string {
         return "--dem " + error.file + ": the DEM is in " + error.detail +
                ", but the stations' coordinate system is not known. Name "
                "it with --source-crs (and --crs to compute in another).";
     }},
    {GisProblem::DemCoversNone, false, false,
     [](const GisError &error) -> std::string {
         return "--dem " + error.file + ": the DEM covers none of the " +
                std::to_string(error.outside + error.on_nodata) +
                " stations (" + std::to_string(error.outside) +
                " fall outside it, " + std::to_string(error.on_nodata) +
                " on its nodata). Check that it is the survey's area and "
                "that the stations' coordinate system is right.";
     }},
    {GisProblem::DemReadFailed, false, false,
     [](const GisError &error) -> std::string {
         return "--dem " + error.file + ": reading the raster failed. " +
                error.detail;
     }},
};

const ProblemRow &RowOf(GisProblem problem) {
    for (const ProblemRow &row : problem_rows) {
        if (row.problem == problem) {
            return row;
        }
    }
    return problem_rows[0];
}

} // namespace

std::string GisMessage(const GisError &error) {
    return RowOf(error.problem).text(error);
}

bool IsUsageProblem(GisProblem problem) { return RowOf(problem).usage; }

bool AsksForColumns(GisProblem problem) {
    return RowOf(problem).asks_for_columns;
}

std::string NoticeMessage(const GisNotice &notice) {
    switch (notice.note) {
    case GisNote::SourceCrsOverrides:
        return "--source-crs " + notice.option +
               " overrides the coordinate system the layer declares, " +
               notice.detail + ".";
    case GisNote::FarStation:
        return "The station in " + Place(notice.row, notice.line) +
               " (longitude " + Number(notice.lon, 6) + ", latitude " +
               Number(notice.lat, 6) + ") lies " +
               Number(notice.distance_km, 1) +
               " km from the survey's centre, more than " +
               Number(far_extents, 0) + " times the survey's extent (" +
               Number(notice.extent_km, 1) +
               " km): check its coordinates (a sign, a digit)" +
               (notice.zone_without
                    ? "; the UTM zone is chosen from the other stations."
                    : ".");
    case GisNote::ConvertedToMetres:
        return notice.detail + " measures in " + notice.option +
               ": the coordinates are converted to metres of the same "
               "projection, as the search distance, the increment and the "
               "cell size are metres.";
    case GisNote::MoreFarStations:
        return "And " + std::to_string(notice.count) +
               " more stations that far from the survey's centre.";
    }
    return {};
}
