// Station file reading, line normalisation and parsing.
#include "app/StationFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/Locale.h"

namespace {

constexpr int station_fields = 5;
constexpr unsigned char blank_limit = 32; // codes up to this one are trimmed

} // namespace

std::string NormaliseLine(std::string_view line, char decimal_separator) {
    const bool comma_separates = decimal_separator != ',';
    auto mapped = [&](char c) {
        if (c == ';' || c == '\t' || (c == ',' && comma_separates))
            return ' ';
        return c;
    };
    auto blank = [&](char c) {
        return static_cast<unsigned char>(mapped(c)) <= blank_limit;
    };
    size_t first = 0, last = line.size();
    while (first < last && blank(line[first]))
        ++first;
    while (last > first && blank(line[last - 1]))
        --last;
    std::string out(last - first, '\0');
    size_t written = 0;
    for (size_t i = first; i < last; ++i) {
        const char c = mapped(line[i]);
        if (c == ' ' && written > 0 && out[written - 1] == ' ')
            continue; // only the last space of a run survives
        out[written++] = c;
    }
    out.resize(written);
    return out;
}

namespace {

// The first fields of a line: views into the line, or into own storage for a
// quoted field that held doubled quotes.
struct Fields {
    std::string_view field[station_fields];
    std::string unquoted[station_fields];
    int count = 0;
    bool more = false; // the line goes on after the fifth field
};

void SplitFields(std::string_view line, Fields &fields) {
    const size_t n = line.size();
    size_t i = 0;
    if (n == 0)
        return;
    while (fields.count < station_fields) {
        const int k = fields.count++;
        if (i < n && line[i] == '"') {
            // Quoted: up to the next quote not followed by another; "" stands
            // for ".
            const size_t start = ++i;
            bool doubled = false;
            size_t close = std::string_view::npos;
            while (i < n) {
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        doubled = true;
                        i += 2;
                        continue;
                    }
                    close = i;
                    break;
                }
                ++i;
            }
            const size_t stop = close == std::string_view::npos ? n : close;
            if (doubled) {
                std::string &own = fields.unquoted[k];
                own.clear();
                for (size_t j = start; j < stop; ++j) {
                    own += line[j];
                    if (line[j] == '"')
                        ++j; // the second quote of a pair
                }
                fields.field[k] = own;
            } else {
                fields.field[k] = line.substr(start, stop - start);
            }
            if (close == std::string_view::npos)
                return;
            i = close + 1;
            if (i >= n)
                return;
            if (line[i] == ' ')
                ++i; // else the text after the quote starts the next field
            continue;
        }
        const size_t space = line.find(' ', i);
        if (space == std::string_view::npos) {
            fields.field[k] = line.substr(i);
            return;
        }
        fields.field[k] = line.substr(i, space - i);
        i = space + 1;
    }
    fields.more = i < n;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
    });
}

} // namespace

void SetStationName(Station &station, std::string_view utf8) {
    std::string converted;
    std::string_view bytes = utf8;
    if (!IsAscii(utf8)) {
        converted = Utf8ToCodePage(utf8);
        bytes = converted;
    }
    const size_t length = std::min(bytes.size(), max_point_bytes);
    std::memcpy(station.point, bytes.data(), length);
    station.point[length] = '\0';
}

namespace {

bool ParseFields(const Fields &fields, Station &station,
                 char decimal_separator) {
    if (fields.count < station_fields)
        return false;
    station.x = station.y = station.h = station.value = 0.0;
    if (!TryStrToFloat(fields.field[0], station.x, decimal_separator))
        return false;
    if (!TryStrToFloat(fields.field[1], station.y, decimal_separator))
        return false;
    SetStationName(station, fields.field[2]);
    if (!TryStrToFloat(fields.field[3], station.h, decimal_separator))
        return false;
    return TryStrToFloat(fields.field[4], station.value, decimal_separator);
}

} // namespace

bool ParseStationLine(std::string_view normalised, Station &station,
                      char decimal_separator) {
    Fields fields;
    SplitFields(normalised, fields);
    return ParseFields(fields, station, decimal_separator);
}

bool ParseStationLine(std::string_view normalised, Station &station,
                      char decimal_separator, std::string &name,
                      bool *more_fields) {
    Fields fields;
    SplitFields(normalised, fields);
    if (!ParseFields(fields, station, decimal_separator))
        return false;
    name.assign(fields.field[2]);
    if (more_fields != nullptr)
        *more_fields = fields.more;
    return true;
}

std::string StationValueText(std::string_view normalised) {
    Fields fields;
    SplitFields(normalised, fields);
    if (fields.count < station_fields)
        return {};
    return std::string(fields.field[station_fields - 1]);
}

bool HasThousandsSeparators(std::string_view line) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0;
    while (i < line.size()) {
        // One blank-, tab- or semicolon-separated token.
        while (i < line.size() &&
               (line[i] == ' ' || line[i] == '\t' || line[i] == ';'))
            ++i;
        size_t end = i;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' &&
               line[end] != ';')
            ++end;
        std::string_view token = line.substr(i, end - i);
        i = end;
        if (!token.empty() && (token[0] == '-' || token[0] == '+'))
            token.remove_prefix(1);
        size_t lead = 0;
        while (lead < token.size() && digit(token[lead]))
            ++lead;
        if (lead == 0 || lead > 3)
            continue;
        size_t at = lead;
        int groups = 0;
        while (at + 4 <= token.size() && token[at] == ',' &&
               digit(token[at + 1]) && digit(token[at + 2]) &&
               digit(token[at + 3]) &&
               (at + 4 == token.size() || !digit(token[at + 4]))) {
            at += 4;
            ++groups;
        }
        if (groups == 0)
            continue;
        if (at < token.size() && token[at] == '.') {
            ++at;
            while (at < token.size() && digit(token[at]))
                ++at;
        }
        if (at == token.size())
            return true;
    }
    return false;
}
