// Which field of a table holds x, y, point, h and value: the recognition of
// common field names, the --columns option, and the choice between them. Plain
// C++ (no GDAL), so that it can be fuzzed on its own.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gis/GisError.h"

// What one field name says about its field.
struct Recognition {
    ColumnRole role;
    bool geographic; // x is longitude, y latitude (degrees)
    int tier;        // 0 strongest; within a role the lowest tier wins
};

// The field name reduced for recognition: its words (ASCII letters in lower
// case, digits), text in brackets dropped ("x[m]", "cba (mGal)"), split at
// separators (underscores, blanks, hyphens, dots...), unit words (m, mgal,
// deg, ft...) dropped wherever they stand while another word is left, and the
// rest joined: "ELEV_M" -> "elev", "Bouguer anomaly" -> "bougueranomaly".
std::string NormaliseFieldName(std::string_view name);

// The role a field name is known for, or nothing; case, units, separators
// and bracketed text do not matter. First the whole normalised name is looked
// up in this table:
//   x:     x, easting, east, utm_x, utm_e, x_utm, e_utm, xcoord; e (tier 1)
//   y:     y, northing, north, utm_y, utm_n, y_utm, n_utm, ycoord; n (tier 1)
//   x (geographic): longitude, lon, long, lng
//   y (geographic): latitude, lat
//   point: station, name, point, stn, site, station_name, station_id,
//          station_no, point_id, point_name, stn_id; id (tier 1)
//   h:     h, height, elevation, elev, elv, alt, altitude, station_height,
//          station_elevation
//   value: value, anomaly, bouguer, bouguer_anomaly, ba, cba, sba, uba, bga,
//          boug, complete_bouguer, simple_bouguer; free_air, faa, fa,
//          free_air_anomaly (tier 1); grav, gravity, g, gobs,
//          observed_gravity (tier 2)
//   survey: survey, survey_id, campaign, project, source, dataset
// then the same without words that only qualify another (utm, coord, grid,
// local, observed, complete...: "Easting_UTM"), and else word by word: every
// word must be known and those that name a role must agree ("Bouguer_anom"
// is value, "HT (m)" h, "Station elev" h: station, anomaly and gravity count
// only when no other word names a role); the weakest word's tier is the
// name's. "lat lon" or "station name x" stay unrecognised.
// A Bouguer anomaly wins over a free-air anomaly and both over observed
// gravity; two Bouguer columns (ba and cba) are ambiguous, as the tool cannot
// know which the user means.
std::optional<Recognition> RecogniseField(std::string_view name);

// The --columns option parsed: for each role the field's name as given, or
// empty when the option does not name it.
struct ColumnsOption {
    std::array<std::string, column_role_count> field;
    bool geographic = false; // named as lon=FIELD,lat=FIELD

    bool Names(ColumnRole role) const {
        return !field[static_cast<int>(role)].empty();
    }
};

// Parses "x=FIELD,y=FIELD,point=FIELD,h=FIELD,value=FIELD,survey=FIELD" (any
// subset, any
// order; roles case-insensitive; lon and lat stand for x and y and say that
// they hold degrees). Blanks around roles and fields are dropped. A field name
// cannot contain a comma. Errors: ColumnsSyntax, UnknownRole, DuplicateRole
// (also x with lon, y with lat), FieldNamedTwice, MixedCoordinates (x with
// lat).
GisError ParseColumnsOption(std::string_view text, ColumnsOption &option);

// How a role's column was found.
enum class ColumnOrigin { Absent, Named, Recognised, Geometry };

constexpr int no_column = -1;

// The chosen columns: for each role an index into a row's cells (see
// ChooseColumns), or no_column for a point or h the table lacks.
struct ColumnChoice {
    std::array<int, column_role_count> column{no_column, no_column, no_column,
                                              no_column, no_column, no_column};
    std::array<ColumnOrigin, column_role_count> origin{};
    bool geographic = false; // x and y are longitude and latitude, in degrees
    // Recognised coordinate fields of the pair not taken (longitude and
    // latitude when easting and northing are also there), to report.
    std::vector<int> passed_over;

    int Column(ColumnRole role) const { return column[static_cast<int>(role)]; }
};

// Chooses the columns of a table whose fields are named `fields` (in order).
// Roles that `named` names take those fields (case-insensitive; an exact
// spelling wins over others that differ only in case); the other roles are
// recognised from the remaining names. With `point_geometry`, x and y come
// from the geometry unless `named` names them: their cells follow the fields,
// at indices fields.size() and fields.size() + 1. Coordinates come in pairs:
// easting and northing are taken before longitude and latitude when both pairs
// are there. point and h may be absent. Errors: UnknownField, AmbiguousRole,
// MissingRole (x, y or value), MixedCoordinates; `fields` of the error lists
// every field.
GisError ChooseColumns(const std::vector<std::string> &fields,
                       const ColumnsOption &named, bool point_geometry,
                       ColumnChoice &choice);

// True when the fields hold at least one field recognised for each of x, y
// and value (either kind of coordinates): a text file with such a first line
// is a table.
bool RecognisesTableHeader(const std::vector<std::string> &fields);

// True when at least one field is recognised for a role.
bool RecognisesAnyField(const std::vector<std::string> &fields);

// True when there are at least five fields and every recognised one stands at
// its place in the station text format (planar x, y, point, h, value first):
// a delimited file with such a header reads by position, as a station file.
bool RecognisedInStationOrder(const std::vector<std::string> &fields);

// True when the first five fields are recognised, in this order, as planar x,
// y, point, h and value: the station text format with a header line.
bool IsStationHeader(const std::vector<std::string> &fields);

// One line for the user saying which field was taken for each role, e.g.
// "x = easting, y = northing, point = row number, h = none, value = cba".
std::string DescribeColumns(const ColumnChoice &choice,
                            const std::vector<std::string> &fields);
