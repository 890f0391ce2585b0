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
    }
    return "?";
}

std::string GisMessage(const GisError &error) {
    const std::string file = error.file.empty() ? "" : error.file + ": ";
    const std::string role = RoleName(error.role);
    const std::string fields = " Fields: " + Joined(error.fields) + ".";
    switch (error.problem) {
    case GisProblem::None:
        return {};
    case GisProblem::ColumnsSyntax:
        return "--columns: \"" + error.detail +
               "\" is not ROLE=FIELD (roles: x, y, lon, lat, point, h, "
               "value).";
    case GisProblem::UnknownRole:
        return "--columns: unknown role \"" + error.detail +
               "\" (roles: x, y, lon, lat, point, h, value).";
    case GisProblem::DuplicateRole:
        return "--columns: the " + role + " column is named twice.";
    case GisProblem::FieldNamedTwice:
        return "--columns: the field \"" + error.detail +
               "\" is named for two roles.";
    case GisProblem::UnknownField:
        return file + "no field \"" + error.detail + "\" for the " + role +
               " column named by --columns." + fields;
    case GisProblem::AmbiguousRole:
        return file + "more than one field could be the " + role +
               " column: " + Joined(error.candidates) +
               ". Choose one with --columns " + role + "=FIELD." + fields;
    case GisProblem::MissingRole:
        return file + "no field is recognised as the " + role +
               " column. Name it with --columns " + role + "=FIELD." + fields;
    case GisProblem::MixedCoordinates:
        return file +
               "one coordinate column is planar and the other is "
               "longitude or latitude: " +
               Joined(error.candidates) +
               ". Name both with --columns x=FIELD,y=FIELD or "
               "lon=FIELD,lat=FIELD.";
    case GisProblem::UnrecognisedHeader:
        return file +
               "the first line reads as a table's header, but no field in it "
               "is recognised as x, y, point, h or value. Name them with "
               "--columns x=FIELD,y=FIELD,value=FIELD." +
               fields;
    case GisProblem::CannotOpen:
        return file + "cannot be read as a table. " + error.detail;
    case GisProblem::NoLayer:
        return file + "holds no table.";
    case GisProblem::LayerNotFound:
        return file + "has no layer \"" + error.detail +
               "\". Layers: " + Joined(error.fields) + ".";
    case GisProblem::SeveralLayers:
        return file +
               "holds several layers; choose one with --layer NAME. "
               "Layers: " +
               Joined(error.fields) + ".";
    case GisProblem::NoLayers:
        return "--layer: " + error.file +
               " is a text file, which has no layers; --layer chooses among "
               "the layers of a GeoPackage or another GIS source.";
    case GisProblem::ReadFailed:
        return file + "reading failed" + RowText(error.row) + ". " +
               error.detail;
    case GisProblem::OpenQuote:
        return file + "the quote that opens a field in " +
               Place(error.row, error.line) +
               " is never closed: every row after it would be read as part "
               "of that field. Close the quote or remove it.";
    case GisProblem::NotText:
        return file + Place(error.row, error.line) + " is not " +
               (error.detail.empty() ? std::string("UTF-8") : error.detail) +
               " text. A file saved in another encoding is read with "
               "--encoding NAME (for example --encoding LATIN1).";
    case GisProblem::BadCrsText:
        return error.option + ": \"" + error.detail +
               "\" is not a coordinate reference system PROJ accepts.";
    case GisProblem::TargetNotProjected:
        return error.option + ": " + error.detail +
               " is not a projected coordinate reference system; the "
               "kriging needs metres.";
    case GisProblem::TargetNotMetres:
        return error.option + ": " + error.detail + " measures in " +
               error.unit +
               "; the kriging's distances are metres. Choose a coordinate "
               "reference system in metres (the same projection often has "
               "one).";
    case GisProblem::CrsMismatch:
        return file +
               "the coordinate columns are longitude and latitude, but " +
               error.detail + " is a projected coordinate reference system.";
    case GisProblem::UnknownSourceCrs:
        return file +
               "the coordinates' own reference system is not known, so "
               "they cannot be taken to " +
               error.detail + ". Name it with --source-crs.";
    case GisProblem::TransformFailed:
        return file + "PROJ cannot transform the station" + RowText(error.row) +
               ". " + error.detail;
    case GisProblem::AngleOutOfRange:
        return file + "the " + error.detail + " " + Number(error.number, 9) +
               " of the station in " + Place(error.row, error.line) +
               " lies beyond ±" + Number(error.limit, 6) +
               "; check its coordinates.";
    case GisProblem::WriteFailed:
        return file + "cannot write the GeoPackage. " + error.detail;
    }
    return file + "unknown problem";
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

bool IsUsageProblem(GisProblem problem) {
    switch (problem) {
    case GisProblem::ColumnsSyntax:
    case GisProblem::UnknownRole:
    case GisProblem::DuplicateRole:
    case GisProblem::FieldNamedTwice:
    case GisProblem::AmbiguousRole:
    case GisProblem::MissingRole:
    case GisProblem::MixedCoordinates:
    case GisProblem::UnrecognisedHeader:
    case GisProblem::LayerNotFound:
    case GisProblem::SeveralLayers:
    case GisProblem::NoLayers:
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
