// Field-name recognition, the --columns option and the column choice.
#include "gis/ColumnChoice.h"

#include <algorithm>
#include <climits>

namespace {

struct KnownName {
    const char *name; // normalised, as NormaliseFieldName gives it
    ColumnRole role;
    bool geographic;
    int tier;
};

constexpr bool planar = false;
constexpr bool degrees = true;

// The recognition table. Keep it in step with the list in ColumnChoice.h.
constexpr KnownName known_names[] = {
    {"x", ColumnRole::X, planar, 0},
    {"easting", ColumnRole::X, planar, 0},
    {"east", ColumnRole::X, planar, 0},
    {"utmx", ColumnRole::X, planar, 0},
    {"utme", ColumnRole::X, planar, 0},
    {"xutm", ColumnRole::X, planar, 0},
    {"eutm", ColumnRole::X, planar, 0},
    {"xcoord", ColumnRole::X, planar, 0},
    {"e", ColumnRole::X, planar, 1},
    {"y", ColumnRole::Y, planar, 0},
    {"northing", ColumnRole::Y, planar, 0},
    {"north", ColumnRole::Y, planar, 0},
    {"utmy", ColumnRole::Y, planar, 0},
    {"utmn", ColumnRole::Y, planar, 0},
    {"yutm", ColumnRole::Y, planar, 0},
    {"nutm", ColumnRole::Y, planar, 0},
    {"ycoord", ColumnRole::Y, planar, 0},
    {"n", ColumnRole::Y, planar, 1},
    {"longitude", ColumnRole::X, degrees, 0},
    {"lon", ColumnRole::X, degrees, 0},
    {"long", ColumnRole::X, degrees, 0},
    {"lng", ColumnRole::X, degrees, 0},
    {"latitude", ColumnRole::Y, degrees, 0},
    {"lat", ColumnRole::Y, degrees, 0},
    {"station", ColumnRole::Point, planar, 0},
    {"name", ColumnRole::Point, planar, 0},
    {"point", ColumnRole::Point, planar, 0},
    {"stn", ColumnRole::Point, planar, 0},
    {"site", ColumnRole::Point, planar, 0},
    {"stationname", ColumnRole::Point, planar, 0},
    {"stationid", ColumnRole::Point, planar, 0},
    {"stationno", ColumnRole::Point, planar, 0},
    {"pointid", ColumnRole::Point, planar, 0},
    {"pointname", ColumnRole::Point, planar, 0},
    {"stnid", ColumnRole::Point, planar, 0},
    {"id", ColumnRole::Point, planar, 1},
    {"h", ColumnRole::H, planar, 0},
    {"height", ColumnRole::H, planar, 0},
    {"elevation", ColumnRole::H, planar, 0},
    {"elev", ColumnRole::H, planar, 0},
    {"elv", ColumnRole::H, planar, 0},
    {"alt", ColumnRole::H, planar, 0},
    {"altitude", ColumnRole::H, planar, 0},
    {"stationheight", ColumnRole::H, planar, 0},
    {"stationelevation", ColumnRole::H, planar, 0},
    {"value", ColumnRole::Value, planar, 0},
    {"survey", ColumnRole::Survey, planar, 0},
    {"surveyid", ColumnRole::Survey, planar, 0},
    {"campaign", ColumnRole::Survey, planar, 0},
    {"project", ColumnRole::Survey, planar, 0},
    {"source", ColumnRole::Survey, planar, 0},
    {"dataset", ColumnRole::Survey, planar, 0},
    {"anomaly", ColumnRole::Value, planar, 0},
    {"bouguer", ColumnRole::Value, planar, 0},
    {"bougueranomaly", ColumnRole::Value, planar, 0},
    {"ba", ColumnRole::Value, planar, 0},
    {"cba", ColumnRole::Value, planar, 0},
    {"sba", ColumnRole::Value, planar, 0},
    {"uba", ColumnRole::Value, planar, 0},
    {"bga", ColumnRole::Value, planar, 0},
    {"boug", ColumnRole::Value, planar, 0},
    {"completebouguer", ColumnRole::Value, planar, 0},
    {"simplebouguer", ColumnRole::Value, planar, 0},
    {"freeair", ColumnRole::Value, planar, 1},
    {"faa", ColumnRole::Value, planar, 1},
    {"fa", ColumnRole::Value, planar, 1},
    {"freeairanomaly", ColumnRole::Value, planar, 1},
    {"grav", ColumnRole::Value, planar, 2},
    {"gravity", ColumnRole::Value, planar, 2},
    {"g", ColumnRole::Value, planar, 2},
    {"gobs", ColumnRole::Value, planar, 2},
    {"observedgravity", ColumnRole::Value, planar, 2},
};

// Words that name a role inside a longer name ("Bouguer_anom", "HT (m)"),
// when the name as a whole is not in known_names. A word `only_alone` counts
// only when no other word of the name names a role: "station" in "Station
// elev" says whose elevation it is.
struct KnownWord {
    const char *word;
    ColumnRole role;
    bool geographic;
    int tier;
    bool only_alone;
};

constexpr bool alone = true;        // counts only without other role words
constexpr bool with_others = false; // counts whatever stands beside it

constexpr KnownWord known_words[] = {
    {"x", ColumnRole::X, planar, 0, with_others},
    {"easting", ColumnRole::X, planar, 0, with_others},
    {"east", ColumnRole::X, planar, 0, with_others},
    {"e", ColumnRole::X, planar, 1, with_others},
    {"y", ColumnRole::Y, planar, 0, with_others},
    {"northing", ColumnRole::Y, planar, 0, with_others},
    {"north", ColumnRole::Y, planar, 0, with_others},
    {"n", ColumnRole::Y, planar, 1, with_others},
    {"longitude", ColumnRole::X, degrees, 0, with_others},
    {"lon", ColumnRole::X, degrees, 0, with_others},
    {"long", ColumnRole::X, degrees, 0, with_others},
    {"lng", ColumnRole::X, degrees, 0, with_others},
    {"latitude", ColumnRole::Y, degrees, 0, with_others},
    {"lat", ColumnRole::Y, degrees, 0, with_others},
    {"name", ColumnRole::Point, planar, 0, with_others},
    {"id", ColumnRole::Point, planar, 1, with_others},
    {"station", ColumnRole::Point, planar, 0, alone},
    {"stn", ColumnRole::Point, planar, 0, alone},
    {"site", ColumnRole::Point, planar, 0, alone},
    {"point", ColumnRole::Point, planar, 0, alone},
    {"no", ColumnRole::Point, planar, 0, alone},
    {"number", ColumnRole::Point, planar, 0, alone},
    {"h", ColumnRole::H, planar, 0, with_others},
    {"height", ColumnRole::H, planar, 0, with_others},
    {"ht", ColumnRole::H, planar, 0, with_others},
    {"hgt", ColumnRole::H, planar, 0, with_others},
    {"elevation", ColumnRole::H, planar, 0, with_others},
    {"elev", ColumnRole::H, planar, 0, with_others},
    {"elv", ColumnRole::H, planar, 0, with_others},
    {"alt", ColumnRole::H, planar, 0, with_others},
    {"altitude", ColumnRole::H, planar, 0, with_others},
    {"value", ColumnRole::Value, planar, 0, with_others},
    {"bouguer", ColumnRole::Value, planar, 0, with_others},
    {"boug", ColumnRole::Value, planar, 0, with_others},
    {"ba", ColumnRole::Value, planar, 0, with_others},
    {"cba", ColumnRole::Value, planar, 0, with_others},
    {"sba", ColumnRole::Value, planar, 0, with_others},
    {"uba", ColumnRole::Value, planar, 0, with_others},
    {"bga", ColumnRole::Value, planar, 0, with_others},
    {"anomaly", ColumnRole::Value, planar, 0, alone},
    {"anom", ColumnRole::Value, planar, 0, alone},
    {"free", ColumnRole::Value, planar, 1, with_others},
    {"air", ColumnRole::Value, planar, 1, with_others},
    {"freeair", ColumnRole::Value, planar, 1, with_others},
    {"faa", ColumnRole::Value, planar, 1, with_others},
    {"fa", ColumnRole::Value, planar, 1, with_others},
    {"gravity", ColumnRole::Value, planar, 2, alone},
    {"grav", ColumnRole::Value, planar, 2, alone},
    {"g", ColumnRole::Value, planar, 2, alone},
    {"gobs", ColumnRole::Value, planar, 2, with_others},
};

// Words left out wherever they stand, as long as another word is left: units
// ("elev_m", "cba_mgal", "lat_deg") ...
constexpr const char *unit_words[] = {"m",       "metres", "meters", "metre",
                                      "meter",   "mgal",   "mgals",  "deg",
                                      "degrees", "dd",     "ft",     "feet"};
// ... and words that only qualify another ("Easting_UTM", "observed
// gravity"), left out after the name with them was looked up.
constexpr const char *qualifier_words[] = {
    "utm",   "coord", "coords",   "coordinate", "coordinates", "grid",
    "local", "wgs84", "observed", "obs",        "complete",    "simple"};

// Roles as --columns spells them; lon and lat are x and y in degrees.
struct RoleWord {
    const char *word;
    ColumnRole role;
    bool geographic;
};
constexpr RoleWord role_words[] = {
    {"x", ColumnRole::X, planar},         {"y", ColumnRole::Y, planar},
    {"lon", ColumnRole::X, degrees},      {"lat", ColumnRole::Y, degrees},
    {"point", ColumnRole::Point, planar}, {"h", ColumnRole::H, planar},
    {"value", ColumnRole::Value, planar}, {"survey", ColumnRole::Survey, planar},
};

constexpr int station_fields = 5;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsWordByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || u >= 0x80;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

int Index(ColumnRole role) { return static_cast<int>(role); }

// The field named `name`: an exact spelling, else the only field equal to it
// ignoring case. -1 when there is none; -2 when several differ only in case.
int FindField(const std::vector<std::string> &fields, std::string_view name,
              std::vector<std::string> &same_but_case) {
    int found = -1;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i] == name)
            return static_cast<int>(i);
        if (SameIgnoringCase(fields[i], name)) {
            same_but_case.push_back(fields[i]);
            found = found == -1 ? static_cast<int>(i) : -2;
        }
    }
    return found;
}

// The strongest candidates for one role and kind of coordinates.
struct Candidates {
    int best_tier = INT_MAX;
    std::vector<int> fields; // at best_tier

    void Offer(int field, int tier) {
        if (tier < best_tier) {
            best_tier = tier;
            fields.clear();
        }
        if (tier == best_tier)
            fields.push_back(field);
    }
    bool Empty() const { return fields.empty(); }
};

GisError ErrorFor(GisProblem problem, ColumnRole role,
                  const std::vector<std::string> &fields,
                  const std::vector<int> &candidates) {
    GisError error;
    error.problem = problem;
    error.role = role;
    error.fields = fields;
    for (int i : candidates)
        error.candidates.push_back(fields[static_cast<size_t>(i)]);
    return error;
}

} // namespace

namespace {

// The words of a field name: ASCII letters in lower case, digits and bytes
// above 127, split at every other byte; text in brackets left out.
std::vector<std::string> FieldWords(std::string_view name) {
    std::vector<std::string> words(1);
    int depth = 0;
    for (const char raw : name) {
        const char c = Lower(raw);
        if (c == '[' || c == '(' || c == '{') {
            ++depth;
        } else if (c == ']' || c == ')' || c == '}') {
            depth = depth > 0 ? depth - 1 : 0;
        } else if (depth == 0 && IsWordByte(c)) {
            words.back() += c;
        } else if (!words.back().empty()) {
            words.emplace_back();
        }
        if (depth > 0 && !words.back().empty())
            words.emplace_back();
    }
    if (words.back().empty())
        words.pop_back();
    return words;
}

template <size_t count>
bool IsOneOf(const std::string &word, const char *const (&list)[count]) {
    return std::any_of(std::begin(list), std::end(list),
                       [&](const char *item) { return word == item; });
}

// `words` without those of `list`, unless that would leave none.
template <size_t count>
std::vector<std::string> Without(const std::vector<std::string> &words,
                                 const char *const (&list)[count]) {
    std::vector<std::string> kept;
    for (const std::string &word : words)
        if (!IsOneOf(word, list))
            kept.push_back(word);
    return kept.empty() ? words : kept;
}

std::string Joined(const std::vector<std::string> &words) {
    std::string joined;
    for (const std::string &word : words)
        joined += word;
    return joined;
}

std::optional<Recognition> FromKnownNames(const std::string &normal) {
    for (const auto &known : known_names)
        if (normal == known.name)
            return Recognition{known.role, known.geographic, known.tier};
    return std::nullopt;
}

// The role the words name together: every word known, and the words that
// count agreeing on the role and the kind of coordinates; the weakest tier.
std::optional<Recognition> KnownWords(const std::vector<std::string> &words) {
    std::vector<const KnownWord *> found;
    for (const std::string &word : words) {
        const KnownWord *known = nullptr;
        for (const KnownWord &candidate : known_words)
            if (word == candidate.word)
                known = &candidate;
        if (known == nullptr)
            return std::nullopt;
        found.push_back(known);
    }
    const bool any_counts_anyway =
        std::any_of(found.begin(), found.end(),
                    [](const KnownWord *word) { return !word->only_alone; });
    std::optional<Recognition> agreed;
    for (const KnownWord *word : found) {
        if (any_counts_anyway && word->only_alone)
            continue;
        if (!agreed) {
            agreed = Recognition{word->role, word->geographic, word->tier};
            continue;
        }
        if (agreed->role != word->role ||
            agreed->geographic != word->geographic)
            return std::nullopt;
        agreed->tier = std::max(agreed->tier, word->tier);
    }
    return agreed;
}

} // namespace

std::string NormaliseFieldName(std::string_view name) {
    return Joined(Without(FieldWords(name), unit_words));
}

std::optional<Recognition> RecogniseField(std::string_view name) {
    const std::vector<std::string> words =
        Without(FieldWords(name), unit_words);
    if (const auto known = FromKnownNames(Joined(words)))
        return known;
    const std::vector<std::string> meaning = Without(words, qualifier_words);
    if (const auto known = FromKnownNames(Joined(meaning)))
        return known;
    return KnownWords(meaning);
}

GisError ParseColumnsOption(std::string_view text, ColumnsOption &option) {
    option = ColumnsOption{};
    std::array<bool, column_role_count> geographic_role{};
    GisError error;
    bool more = !text.empty();
    while (more) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        more = comma != std::string_view::npos; // "x=a," ends in an empty item
        text = more ? text.substr(comma + 1) : std::string_view();
        const size_t equals = item.find('=');
        const std::string_view role_text = Trimmed(item.substr(0, equals));
        const std::string_view field = equals == std::string_view::npos
                                           ? std::string_view()
                                           : Trimmed(item.substr(equals + 1));
        if (role_text.empty() || field.empty()) {
            error.problem = GisProblem::ColumnsSyntax;
            error.detail = std::string(item);
            return error;
        }
        const RoleWord *word = nullptr;
        for (const RoleWord &candidate : role_words)
            if (SameIgnoringCase(role_text, candidate.word))
                word = &candidate;
        if (word == nullptr) {
            error.problem = GisProblem::UnknownRole;
            error.detail = std::string(role_text);
            return error;
        }
        std::string &slot = option.field[Index(word->role)];
        if (!slot.empty()) {
            error.problem = GisProblem::DuplicateRole;
            error.role = word->role;
            return error;
        }
        for (const std::string &other : option.field) {
            if (SameIgnoringCase(other, field)) {
                error.problem = GisProblem::FieldNamedTwice;
                error.detail = std::string(field);
                return error;
            }
        }
        slot = std::string(field);
        geographic_role[Index(word->role)] = word->geographic;
    }
    const bool x_degrees = geographic_role[Index(ColumnRole::X)];
    const bool y_degrees = geographic_role[Index(ColumnRole::Y)];
    const bool x_named = option.Names(ColumnRole::X);
    const bool y_named = option.Names(ColumnRole::Y);
    if (x_named && y_named && x_degrees != y_degrees) {
        error.problem = GisProblem::MixedCoordinates;
        error.candidates = {option.field[Index(ColumnRole::X)],
                            option.field[Index(ColumnRole::Y)]};
        return error;
    }
    option.geographic = x_degrees || y_degrees;
    return error;
}

GisError ChooseColumns(const std::vector<std::string> &fields,
                       const ColumnsOption &named, bool point_geometry,
                       ColumnChoice &choice) {
    choice = ColumnChoice{};
    std::vector<bool> taken(fields.size(), false);

    // Named fields first: they are not offered to the recognition.
    for (int r = 0; r < column_role_count; ++r) {
        const auto role = static_cast<ColumnRole>(r);
        if (!named.Names(role))
            continue;
        std::vector<std::string> same_but_case;
        const int field = FindField(fields, named.field[r], same_but_case);
        if (field == -2) {
            GisError error =
                ErrorFor(GisProblem::AmbiguousRole, role, fields, {});
            error.candidates = same_but_case;
            return error;
        }
        if (field < 0) {
            GisError error =
                ErrorFor(GisProblem::UnknownField, role, fields, {});
            error.detail = named.field[r];
            return error;
        }
        if (taken[static_cast<size_t>(field)]) {
            GisError error;
            error.problem = GisProblem::FieldNamedTwice;
            error.detail = fields[static_cast<size_t>(field)];
            return error;
        }
        taken[static_cast<size_t>(field)] = true;
        choice.column[r] = field;
        choice.origin[r] = ColumnOrigin::Named;
    }

    // The others by name: [role][0 planar, 1 geographic].
    Candidates found[column_role_count][2];
    for (size_t i = 0; i < fields.size(); ++i) {
        if (taken[i])
            continue;
        if (const auto known = RecogniseField(fields[i]))
            found[Index(known->role)][known->geographic ? 1 : 0].Offer(
                static_cast<int>(i), known->tier);
    }

    const int x = Index(ColumnRole::X), y = Index(ColumnRole::Y);
    const bool x_named = named.Names(ColumnRole::X);
    const bool y_named = named.Names(ColumnRole::Y);
    if (x_named != y_named) {
        // One coordinate named: the other must be of the same kind.
        const int missing = x_named ? y : x;
        const int given = x_named ? x : y;
        const auto given_known = RecogniseField(fields[choice.column[given]]);
        const bool in_degrees =
            named.geographic || (given_known && given_known->geographic);
        const Candidates &pick = found[missing][in_degrees ? 1 : 0];
        const auto role = static_cast<ColumnRole>(missing);
        if (pick.Empty())
            return ErrorFor(GisProblem::MissingRole, role, fields, {});
        if (pick.fields.size() > 1)
            return ErrorFor(GisProblem::AmbiguousRole, role, fields,
                            pick.fields);
        choice.column[missing] = pick.fields.front();
        choice.origin[missing] = ColumnOrigin::Recognised;
        choice.geographic = in_degrees;
    } else if (x_named) {
        // Both named: degrees when named as lon and lat, or when both
        // fields are known longitude and latitude names.
        const auto x_known = RecogniseField(fields[choice.column[x]]);
        const auto y_known = RecogniseField(fields[choice.column[y]]);
        const bool x_degrees = x_known && x_known->geographic;
        const bool y_degrees = y_known && y_known->geographic;
        choice.geographic = named.geographic || (x_degrees && y_degrees);
    } else if (point_geometry) {
        choice.column[x] = static_cast<int>(fields.size());
        choice.column[y] = static_cast<int>(fields.size()) + 1;
        choice.origin[x] = choice.origin[y] = ColumnOrigin::Geometry;
    } else {
        const bool planar_pair = !found[x][0].Empty() && !found[y][0].Empty();
        const bool degree_pair = !found[x][1].Empty() && !found[y][1].Empty();
        if (!planar_pair && !degree_pair) {
            const bool x_any = !found[x][0].Empty() || !found[x][1].Empty();
            const bool y_any = !found[y][0].Empty() || !found[y][1].Empty();
            if (x_any && y_any) {
                // e.g. easting with latitude: no pair of one kind
                std::vector<int> mixed;
                for (int r : {x, y})
                    for (int k : {0, 1})
                        mixed.insert(mixed.end(), found[r][k].fields.begin(),
                                     found[r][k].fields.end());
                return ErrorFor(GisProblem::MixedCoordinates, ColumnRole::X,
                                fields, mixed);
            }
            return ErrorFor(GisProblem::MissingRole,
                            x_any ? ColumnRole::Y : ColumnRole::X, fields, {});
        }
        const int kind = planar_pair ? 0 : 1;
        for (int r : {x, y}) {
            const Candidates &pick = found[r][kind];
            if (pick.fields.size() > 1)
                return ErrorFor(GisProblem::AmbiguousRole,
                                static_cast<ColumnRole>(r), fields,
                                pick.fields);
            choice.column[r] = pick.fields.front();
            choice.origin[r] = ColumnOrigin::Recognised;
            for (int other : found[r][1 - kind].fields)
                choice.passed_over.push_back(other);
        }
        choice.geographic = kind == 1;
    }

    for (const ColumnRole role :
         {ColumnRole::Point, ColumnRole::H, ColumnRole::Value,
          ColumnRole::Survey}) {
        const int r = Index(role);
        if (choice.origin[r] == ColumnOrigin::Named)
            continue;
        const Candidates &pick = found[r][0];
        if (pick.fields.size() > 1)
            return ErrorFor(GisProblem::AmbiguousRole, role, fields,
                            pick.fields);
        if (pick.Empty()) {
            if (role == ColumnRole::Value)
                return ErrorFor(GisProblem::MissingRole, role, fields, {});
            continue;
        }
        choice.column[r] = pick.fields.front();
        choice.origin[r] = ColumnOrigin::Recognised;
    }
    return {};
}

bool RecognisesTableHeader(const std::vector<std::string> &fields) {
    bool seen[column_role_count] = {};
    for (const std::string &field : fields)
        if (const auto known = RecogniseField(field))
            seen[Index(known->role)] = true;
    return seen[Index(ColumnRole::X)] && seen[Index(ColumnRole::Y)] &&
           seen[Index(ColumnRole::Value)];
}

bool RecognisesAnyField(const std::vector<std::string> &fields) {
    return std::any_of(fields.begin(), fields.end(), [](const std::string &f) {
        return RecogniseField(f).has_value();
    });
}

bool RecognisedInStationOrder(const std::vector<std::string> &fields) {
    if (fields.size() < station_fields)
        return false;
    for (size_t i = 0; i < fields.size(); ++i) {
        const auto known = RecogniseField(fields[i]);
        if (known &&
            (known->geographic || Index(known->role) != static_cast<int>(i)))
            return false;
    }
    return true;
}

bool IsStationHeader(const std::vector<std::string> &fields) {
    if (fields.size() < station_fields)
        return false;
    for (int r = 0; r < station_fields; ++r) {
        const auto known = RecogniseField(fields[static_cast<size_t>(r)]);
        if (!known || known->geographic || Index(known->role) != r)
            return false;
    }
    return true;
}

std::string DescribeColumns(const ColumnChoice &choice,
                            const std::vector<std::string> &fields) {
    std::string text;
    for (int r = 0; r < column_role_count; ++r) {
        const auto role = static_cast<ColumnRole>(r);
        // A table without surveys is described as before surveys were read.
        if (role == ColumnRole::Survey &&
            choice.origin[r] == ColumnOrigin::Absent)
            continue;
        if (!text.empty())
            text += ", ";
        text += RoleName(role);
        text += " = ";
        const int column = choice.column[r];
        switch (choice.origin[r]) {
        case ColumnOrigin::Absent:
            text += role == ColumnRole::Point ? "row number" : "none";
            break;
        case ColumnOrigin::Geometry:
            text += "point geometry";
            break;
        case ColumnOrigin::Named:
        case ColumnOrigin::Recognised:
            text += fields[static_cast<size_t>(column)];
            break;
        }
    }
    if (choice.geographic)
        text += " (longitude and latitude, degrees)";
    return text;
}
