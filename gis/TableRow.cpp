// A table row into a station; text lines into fields.
#include "gis/TableRow.h"

#include <charconv>

#include "platform/Locale.h"

namespace {

constexpr unsigned char blank_limit = 32; // codes up to this one are blanks
constexpr size_t shown_cell_bytes = 40;   // a skipped cell's text is cut here

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= blank_limit; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

const Cell &CellAt(std::span<const Cell> cells, int column) {
    static const Cell empty;
    if (column < 0 || static_cast<size_t>(column) >= cells.size())
        return empty;
    return cells[static_cast<size_t>(column)];
}

enum class Read { Number, Empty, NotANumber };

// A cell's number: a text converted as the station text format does, a
// number cell as stored.
Read ReadNumber(const Cell &cell, char decimal_separator, double &value) {
    switch (cell.kind) {
    case CellKind::Null:
        return Read::Empty;
    case CellKind::Number:
        if (!std::isfinite(cell.number))
            return Read::NotANumber;
        value = cell.number;
        return Read::Number;
    case CellKind::Text:
        if (TrimBlanks(cell.text).empty())
            return Read::Empty;
        return TryStrToFloat(cell.text, value, decimal_separator)
                   ? Read::Number
                   : Read::NotANumber;
    }
    return Read::Empty;
}

std::string ShownText(const Cell &cell) {
    if (cell.kind == CellKind::Number && cell.text.empty()) {
        char buffer[32];
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, cell.number).ptr;
        return std::string(buffer, end);
    }
    const std::string_view text =
        cell.kind == CellKind::Null ? std::string_view() : cell.text;
    return std::string(text.substr(0, shown_cell_bytes));
}

// Splits a field that starts with a quote at `i`: up to the closing quote,
// "" for one quote. Returns the index after the closing quote (or the end).
size_t TakeQuoted(std::string_view line, size_t i, std::string &field) {
    ++i;
    while (i < line.size()) {
        if (line[i] == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                i += 2;
                continue;
            }
            return i + 1;
        }
        field += line[i++];
    }
    return i;
}

char SeparatorChar(TextSeparator separator) {
    switch (separator) {
    case TextSeparator::Comma:
        return ',';
    case TextSeparator::Semicolon:
        return ';';
    case TextSeparator::Tab:
        return '\t';
    case TextSeparator::Blank:
        break;
    }
    return ' ';
}

} // namespace

bool ConvertRow(std::span<const Cell> cells, const ColumnChoice &choice,
                int64_t row, char decimal_separator, TableStation &station,
                SkippedRow &skipped) {
    station = TableStation{};
    station.row = row;
    struct Target {
        ColumnRole role;
        double *value;
    };
    const Target numbers[] = {{ColumnRole::X, &station.x},
                              {ColumnRole::Y, &station.y},
                              {ColumnRole::Value, &station.value},
                              {ColumnRole::H, &station.h}};
    for (const Target &target : numbers) {
        const int column = choice.Column(target.role);
        if (column == no_column)
            continue; // only h may be absent
        const Cell &cell = CellAt(cells, column);
        const Read read = ReadNumber(cell, decimal_separator, *target.value);
        if (read == Read::Number)
            continue;
        if (read == Read::Empty && target.role == ColumnRole::H) {
            station.h = no_height;
            continue;
        }
        skipped.row = row;
        skipped.role = target.role;
        skipped.reason =
            read == Read::Empty ? SkipReason::Empty : SkipReason::NotANumber;
        skipped.text = ShownText(cell);
        return false;
    }
    const int point = choice.Column(ColumnRole::Point);
    if (point != no_column) {
        const Cell &cell = CellAt(cells, point);
        if (cell.kind == CellKind::Number && cell.text.empty())
            station.point = ShownText(cell);
        else if (cell.kind != CellKind::Null)
            station.point = std::string(TrimBlanks(cell.text));
    }
    if (station.point.empty())
        station.point = std::to_string(row);
    return true;
}

void TableRows::Skip(SkippedRow &&row) {
    ++skipped;
    if (first_skipped.size() < kept_skipped_rows)
        first_skipped.push_back(std::move(row));
}

std::string DescribeSkippedRow(const SkippedRow &skipped) {
    std::string text = "row " + std::to_string(skipped.row) + ": ";
    text += RoleName(skipped.role);
    if (skipped.reason == SkipReason::Empty)
        return text + " is empty";
    return text + " \"" + skipped.text + "\" is not a number";
}

TextSeparator DetectSeparator(std::string_view line) {
    bool quoted = false;
    for (const char c : TrimBlanks(line)) {
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == ',')
            return TextSeparator::Comma;
        else if (c == ';')
            return TextSeparator::Semicolon;
        else if (c == '\t')
            return TextSeparator::Tab;
    }
    return TextSeparator::Blank;
}

std::vector<std::string> SplitTextLine(std::string_view line,
                                       TextSeparator separator) {
    std::vector<std::string> fields;
    size_t i = 0;
    const size_t n = line.size();
    if (separator == TextSeparator::Blank) {
        for (;;) {
            while (i < n && IsBlank(line[i]))
                ++i;
            if (i == n)
                return fields;
            std::string &field = fields.emplace_back();
            if (line[i] == '"') {
                i = TakeQuoted(line, i, field);
                continue; // text after the quote starts the next field
            }
            while (i < n && !IsBlank(line[i]))
                field += line[i++];
        }
    }
    const char stop = SeparatorChar(separator);
    for (;;) {
        std::string &field = fields.emplace_back();
        if (i < n && line[i] == '"')
            i = TakeQuoted(line, i, field);
        while (i < n && line[i] != stop)
            field += line[i++];
        if (i == n)
            return fields;
        ++i; // past the separator: another field follows, perhaps empty
    }
}
