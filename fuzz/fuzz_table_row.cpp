// Fuzzes the table path without GDAL: a header line's separator, fields and
// recognition, the --columns option and the column choice, rows put together
// from lines with quoted fields over line ends, and the conversion of rows
// into stations. Input: one byte of flags (1: the layer has point geometry,
// 2: a comma is the decimal separator, 4: number-looking cells come typed),
// then lines: the header, the --columns text, the rows.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gis/ColumnChoice.h"
#include "gis/TableRow.h"
#include "gis/UtmZone.h"
#include "platform/Locale.h"

namespace {

constexpr uint8_t point_geometry_flag = 1;
constexpr uint8_t decimal_comma_flag = 2;
constexpr uint8_t typed_numbers_flag = 4;

std::string_view NextLine(std::string_view &text) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view()
                                         : text.substr(end + 1);
    return line;
}

void Check(bool condition) {
    if (!condition)
        std::abort();
}

// The choice's columns lie in the row, x, y and value are there, and no two
// roles share a column.
void CheckChoice(const ColumnChoice &choice, size_t field_count) {
    const int limit = static_cast<int>(field_count) + 2;
    for (int r = 0; r < column_role_count; ++r) {
        const int column = choice.column[r];
        const bool needed = r == static_cast<int>(ColumnRole::X) ||
                            r == static_cast<int>(ColumnRole::Y) ||
                            r == static_cast<int>(ColumnRole::Value);
        Check(column == no_column ? !needed : column >= 0 && column < limit);
        Check((column == no_column) ==
              (choice.origin[r] == ColumnOrigin::Absent));
        for (int other = 0; other < r; ++other)
            Check(column == no_column || choice.column[other] != column);
    }
}

// A row written back as delimited text, every field quoted: read again, it
// gives the same fields, over as many lines as its fields hold line ends.
void CheckQuotedAgain(std::span<const std::string> fields,
                      TextSeparator separator) {
    const char stop = separator == TextSeparator::Comma       ? ','
                      : separator == TextSeparator::Semicolon ? ';'
                      : separator == TextSeparator::Tab       ? '\t'
                                                              : ' ';
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += stop;
        text += '"';
        for (const char c : fields[i])
            text += c == '"' ? std::string("\"\"") : std::string(1, c);
        text += '"';
    }
    // The text starts with a quote and ends with one: every line but the
    // last leaves the quote open, the last completes the row.
    TTextRows again(separator);
    std::string_view rest = text;
    int64_t line = 0;
    bool complete = false;
    for (;;) {
        complete = again.Take(NextLine(rest), ++line);
        if (rest.empty())
            break;
        Check(!complete && again.Open());
    }
    Check(complete);
    Check(again.RowLine() == 1);
    Check(std::equal(fields.begin(), fields.end(), again.Fields().begin(),
                     again.Fields().end()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const char decimal = (flags & decimal_comma_flag) ? ',' : '.';
    const std::string_view header = NextLine(text);
    const std::string_view columns = NextLine(text);

    const TextSeparator separator = DetectSeparator(header);
    const std::vector<std::string> fields = SplitTextLine(header, separator);
    for (const std::string &field : fields) {
        const std::string normal = NormaliseFieldName(field);
        if (const auto known = RecogniseField(field))
            Check(!normal.empty() && known->tier >= 0 && known->tier <= 2);
    }
    // A station header is always a table header.
    Check(!IsStationHeader(fields) || RecognisesTableHeader(fields));

    ColumnsOption option;
    const GisError parsed = ParseColumnsOption(columns, option);
    if (!parsed.ok()) {
        Check(!GisMessage(parsed).empty() && IsUsageProblem(parsed.problem));
        return 0;
    }
    ColumnChoice choice;
    const GisError chosen = ChooseColumns(
        fields, option, (flags & point_geometry_flag) != 0, choice);
    if (!chosen.ok()) {
        Check(!GisMessage(chosen).empty());
        Check(chosen.fields == fields);
        return 0;
    }
    CheckChoice(choice, fields.size());
    Check(!DescribeColumns(choice, fields).empty());

    int64_t row = 0, line = 0, last_row_line = 0;
    std::vector<Cell> cells;
    std::vector<double> lons, lats;
    TTextRows rows(separator);
    while (!text.empty()) {
        if (!rows.Take(NextLine(text), ++line))
            continue;
        const std::span<const std::string> parts = rows.Fields();
        // Rows begin in order, at or before the line that completes them.
        Check(rows.RowLine() > last_row_line && rows.RowLine() <= line);
        last_row_line = rows.RowLine();
        CheckQuotedAgain(parts, separator);
        cells.assign(parts.size() + 2, Cell{});
        for (size_t i = 0; i < parts.size(); ++i) {
            double number = 0.0;
            if ((flags & typed_numbers_flag) &&
                TryStrToFloat(parts[i], number, decimal))
                cells[i] = Cell{CellKind::Number, {}, number};
            else
                cells[i] = Cell{CellKind::Text, parts[i], 0.0};
        }
        TableStation station;
        SkippedRow skipped;
        if (ConvertRow(cells, choice, ++row, decimal, station, skipped)) {
            Check(std::isfinite(station.x) && std::isfinite(station.y) &&
                  std::isfinite(station.value));
            Check(std::isnan(station.h) || std::isfinite(station.h));
            Check(!station.point.empty() && station.row == row);
            lons.push_back(station.x);
            lats.push_back(station.y);
        } else {
            Check(skipped.row == row && skipped.role != ColumnRole::Point);
            Check(!DescribeSkippedRow(skipped).empty());
        }
    }
    // A quote still open names a line of the text, after the last row.
    Check(!rows.Open() ||
          (rows.RowLine() > last_row_line && rows.RowLine() <= line));
    const GeoPoint centre = SurveyCentre(lons, lats);
    const int epsg = UtmEpsgCode(centre);
    Check((epsg > 32600 && epsg <= 32660) || (epsg > 32700 && epsg <= 32760));
    Check(lons.empty() || (centre.lon >= -180.0 && centre.lon < 180.0));
    return 0;
}
