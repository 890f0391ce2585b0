// One row of a table turned into a station, and the text lines of a delimited
// or blank-separated file split into fields. Plain C++ (no GDAL), so that it
// can be fuzzed on its own.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gis/ColumnChoice.h"

// A cell of a row as the source holds it. A text cell is converted by us; a
// number cell (a typed field, a geometry coordinate) is taken as stored, and
// its `text`, when set, is what a name shows.
enum class CellKind { Null, Text, Number };
struct Cell {
    CellKind kind = CellKind::Null;
    std::string_view text;
    double number = 0.0;
};

constexpr double no_height = std::numeric_limits<double>::quiet_NaN();

// A row of a table turned into a station. x and y are metres, or longitude
// and latitude in degrees (x east, y north).
struct TableStation {
    double x = 0.0, y = 0.0;
    double h = no_height; // metres; NaN when the table or the cell has none
    double value = 0.0;   // mGal
    std::string point;    // UTF-8; the row number when there is no name
    std::string survey;   // UTF-8; empty when the table or the cell has none
    int64_t row = 0;      // data row, counted from 1
};

// Why a row gave no station.
enum class SkipReason {
    Empty,      // the cell of a coordinate or the value is empty or null
    NotANumber, // a coordinate, the value or a height is not a number
};

// A row passed over, for the user: which cell and what it held (cut short).
struct SkippedRow {
    int64_t row = 0;
    ColumnRole role = ColumnRole::X;
    SkipReason reason = SkipReason::Empty;
    std::string text;
    // The other decimal separator, when the text is a number with it ("1,5"
    // read with '.'); 0 otherwise.
    char other_separator = 0;
};

// Converts the cells of data row `row` (counted from 1) into a station, with
// the columns of `choice` (a column beyond the cells reads as empty). Text
// cells convert like the station text format's numbers (TryStrToFloat with
// decimal_separator: extended precision, then double); number cells must be
// finite. An empty height gives no_height; a height that is not a number
// rejects the row, as in the station text format. The name is the cell's text
// with blanks trimmed, or the row number when it is empty or there is no point
// column. Returns false and fills `skipped` when the row gives no station.
bool ConvertRow(std::span<const Cell> cells, const ColumnChoice &choice,
                int64_t row, char decimal_separator, TableStation &station,
                SkippedRow &skipped);

// One line for the user about a skipped row, e.g.
// "row 7: value \"n/a\" is not a number", or for a number with the other
// decimal separator "row 1: x \"1,5\" is not a number with '.' as the decimal
// separator; use --decimal-separator ,".
std::string DescribeSkippedRow(const SkippedRow &skipped);

// For a cell that is a number with the other decimal separator, the advice
// "use --decimal-separator ,"; empty otherwise.
std::string SeparatorHint(const SkippedRow &skipped);

// How the fields of a text line are separated.
enum class TextSeparator { Blank, Comma, Semicolon, Tab };

// The separator of a header line: the first comma, semicolon or tab outside
// double quotes decides (blanks and tabs at the line's ends do not count); a
// line with none of them is blank-separated.
TextSeparator DetectSeparator(std::string_view line);

// Splits a text line into fields. Blank: runs of blanks, tabs and control
// characters separate, the ends are trimmed, as in the station text format.
// Comma, semicolon, tab: every separator starts a field (empty fields kept).
// In both a field that starts with a double quote runs to its closing quote,
// and "" inside stands for one quote; a quote still open at the line's end
// closes there.
std::vector<std::string> SplitTextLine(std::string_view line,
                                       TextSeparator separator);

// The rows of a delimited or blank-separated text, put together from its
// lines as SplitTextLine splits one line, except that a quoted field runs on
// over line ends (each kept in the field as "\n") until its closing quote. A
// line that holds nothing above a blank, outside a quoted field, is no row.
class TTextRows {
  public:
    explicit TTextRows(TextSeparator separator);

    // Takes the next line of the text (without its line end), line number
    // `line` counted from 1. True when the line completes a row: Fields()
    // then holds it until the next call.
    bool Take(std::string_view text, int64_t line);
    // The fields of the row completed last.
    std::span<const std::string> Fields() const {
        return {fields.data(), count};
    }
    // True while a quoted field is open, waiting for more lines; at the end of
    // the text, the quote was never closed.
    bool Open() const { return state == State::Quoted; }
    // The line on which the row completed last, or the row still open, began.
    int64_t RowLine() const { return row_line; }

  private:
    enum class State { FieldStart, Unquoted, Quoted, AfterQuote, Between };
    void Split(std::string_view text);
    std::string &NewField();

    TextSeparator separator;
    char stop;                       // the separator's byte; blank: unused
    std::vector<std::string> fields; // the first `count` are the row's
    size_t count = 0;
    State state = State::FieldStart;
    bool in_row = false; // a row began and is not complete
    int64_t row_line = 0;
};
