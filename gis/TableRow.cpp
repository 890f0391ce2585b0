// A table row into a station; text lines into fields.
#include "gis/TableRow.h"

#include <algorithm>
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
        // Numbers written with the other decimal separator: say which.
        const char other = decimal_separator == ',' ? '.' : ',';
        double number = 0.0;
        skipped.other_separator =
            read == Read::NotANumber && cell.kind == CellKind::Text &&
                    TryStrToFloat(cell.text, number, other)
                ? other
                : 0;
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
    const int survey = choice.Column(ColumnRole::Survey);
    if (survey != no_column) {
        const Cell &cell = CellAt(cells, survey);
        if (cell.kind == CellKind::Number && cell.text.empty())
            station.survey = ShownText(cell);
        else if (cell.kind != CellKind::Null)
            station.survey = std::string(TrimBlanks(cell.text));
    }
    return true;
}

std::string DescribeSkippedRow(const SkippedRow &skipped) {
    std::string text = "row " + std::to_string(skipped.row) + ": ";
    text += RoleName(skipped.role);
    if (skipped.reason == SkipReason::Empty)
        return text + " is empty";
    text += " \"" + skipped.text + "\" is not a number";
    if (skipped.other_separator == 0)
        return text;
    const char used = skipped.other_separator == ',' ? '.' : ',';
    return text + " with '" + used + "' as the decimal separator; " +
           SeparatorHint(skipped);
}

std::string SeparatorHint(const SkippedRow &skipped) {
    if (skipped.other_separator == 0)
        return {};
    return std::string("use --decimal-separator ") + skipped.other_separator;
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
    TTextRows rows(separator);
    if (!rows.Take(line, 1) && !rows.Open()) {
        // a blank line: no field between blanks, one field between separators
        if (separator == TextSeparator::Blank)
            return {};
        return {std::string(line)};
    }
    // A quote left open closes at the line's end.
    const std::span<const std::string> fields = rows.Fields();
    return {fields.begin(), fields.end()};
}

TTextRows::TTextRows(TextSeparator separator_)
    : separator(separator_), stop(SeparatorChar(separator_)) {}

std::string &TTextRows::NewField() {
    if (count == fields.size())
        fields.emplace_back();
    std::string &field = fields[count++];
    field.clear();
    return field;
}

bool TTextRows::Take(std::string_view text, int64_t line) {
    if (in_row) {
        fields[count - 1] += '\n'; // the line end inside the quoted field
    } else {
        if (std::all_of(text.begin(), text.end(), IsBlank))
            return false;
        in_row = true;
        row_line = line;
        count = 0;
        if (separator == TextSeparator::Blank) {
            state = State::Between;
        } else {
            NewField();
            state = State::FieldStart;
        }
    }
    Split(text);
    if (state == State::Quoted)
        return false;
    in_row = false;
    return true;
}

void TTextRows::Split(std::string_view text) {
    const bool blank = separator == TextSeparator::Blank;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        switch (state) {
        case State::Between:
            if (IsBlank(c)) {
                ++i;
            } else if (c == '"') {
                NewField();
                state = State::Quoted;
                ++i;
            } else {
                NewField();
                state = State::Unquoted;
            }
            break;
        case State::FieldStart:
            if (c == '"') {
                state = State::Quoted;
                ++i;
            } else {
                state = State::Unquoted;
            }
            break;
        case State::Unquoted:
        case State::AfterQuote: {
            // Up to the next separator; a quote here is an ordinary byte.
            size_t end = i;
            if (blank) {
                while (end < n && !IsBlank(text[end]))
                    ++end;
            } else {
                end = std::min(text.find(stop, i), n);
            }
            fields[count - 1].append(text.substr(i, end - i));
            i = end;
            if (i < n) {
                ++i; // past the separator or the blank
                if (blank) {
                    state = State::Between;
                } else {
                    NewField();
                    state = State::FieldStart;
                }
            }
            break;
        }
        case State::Quoted: {
            const size_t quote = std::min(text.find('"', i), n);
            fields[count - 1].append(text.substr(i, quote - i));
            i = quote;
            if (i == n)
                break;
            if (i + 1 < n && text[i + 1] == '"') {
                fields[count - 1] += '"'; // "" stands for one quote
                i += 2;
            } else {
                ++i;
                // Blank-separated: the text after the quote starts the next
                // field; delimited: it belongs to this one, up to the
                // separator.
                state = blank ? State::Between : State::AfterQuote;
            }
            break;
        }
        }
    }
}
