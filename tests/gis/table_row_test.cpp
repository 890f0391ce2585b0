// One table row into a station (text and typed cells, empty and bad cells,
// names and heights), the rows passed over, and text lines split into fields.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gis/TableRow.h"
#include "gis/TableSource.h"

namespace {

Cell Text(std::string_view text) { return {CellKind::Text, text, 0.0}; }
Cell Number(double number) { return {CellKind::Number, {}, number}; }
Cell Null() { return {}; }

// x, y, point, h, value in cells 0..4
ColumnChoice StationColumns() {
    ColumnChoice choice;
    for (int r = 0; r < column_role_count; ++r) {
        choice.column[r] = r;
        choice.origin[r] = ColumnOrigin::Named;
    }
    return choice;
}

} // namespace

TEST(ConvertRow, RowsThatGiveAStation) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *name;
        std::vector<Cell> cells;
        double x, y;
        const char *point;
        double h, value;
    };
    const Case cases[] = {
        {"texts",
         {Text("10.5"), Text("20.5"), Text("P1"), Text("350"), Text("-1.5")},
         10.5,
         20.5,
         "P1",
         350,
         -1.5},
        {"spaces around numbers and name",
         {Text(" 10.5 "), Text("20.5"), Text("  P 1 "), Text("350"),
          Text("1e2")},
         10.5,
         20.5,
         "P 1",
         350,
         100},
        {"typed numbers",
         {Number(1.25), Number(-2.5), Text("A"), Number(7), Number(0.125)},
         1.25,
         -2.5,
         "A",
         7,
         0.125},
        {"empty height",
         {Text("1"), Text("2"), Text("A"), Text(""), Text("3")},
         1,
         2,
         "A",
         nan,
         3},
        {"null height",
         {Text("1"), Text("2"), Text("A"), Null(), Text("3")},
         1,
         2,
         "A",
         nan,
         3},
        {"empty name is the row",
         {Text("1"), Text("2"), Text(" "), Text("4"), Text("3")},
         1,
         2,
         "7",
         4,
         3},
        {"null name is the row",
         {Text("1"), Text("2"), Null(), Text("4"), Text("3")},
         1,
         2,
         "7",
         4,
         3},
        {"a number as name",
         {Text("1"), Text("2"), Number(12), Text("4"), Text("3")},
         1,
         2,
         "12",
         4,
         3},
        {"UTF-8 name kept",
         {Text("1"), Text("2"), Text("Bra\xC5\x88"), Text("4"), Text("3")},
         1,
         2,
         "Bra\xC5\x88",
         4,
         3},
        {"short row: no height",
         {Text("1"), Text("2"), Text("A")},
         1,
         2,
         "A",
         nan,
         0},
    };
    const ColumnChoice choice = StationColumns();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TableStation station;
        SkippedRow skipped;
        const bool converted =
            ConvertRow(c.cells, choice, 7, '.', station, skipped);
        if (c.cells.size() < 5) {
            // the value's cell is missing: the row gives no station
            EXPECT_FALSE(converted);
            EXPECT_EQ(skipped.role, ColumnRole::Value);
            EXPECT_EQ(skipped.reason, SkipReason::Empty);
            continue;
        }
        ASSERT_TRUE(converted) << DescribeSkippedRow(skipped);
        EXPECT_EQ(station.x, c.x);
        EXPECT_EQ(station.y, c.y);
        EXPECT_EQ(station.point, c.point);
        if (std::isnan(c.h)) {
            EXPECT_TRUE(std::isnan(station.h));
        } else {
            EXPECT_EQ(station.h, c.h);
        }
        EXPECT_EQ(station.value, c.value);
        EXPECT_EQ(station.row, 7);
    }
}

TEST(ConvertRow, RowsWithoutNumbersAreSkipped) {
    struct Case {
        const char *name;
        std::vector<Cell> cells;
        ColumnRole role;
        SkipReason reason;
        const char *message;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"empty x",
         {Text(""), Text("2"), Text("A"), Text("4"), Text("3")},
         ColumnRole::X,
         SkipReason::Empty,
         "row 3: x is empty"},
        {"null y",
         {Text("1"), Null(), Text("A"), Text("4"), Text("3")},
         ColumnRole::Y,
         SkipReason::Empty,
         "row 3: y is empty"},
        {"value not a number",
         {Text("1"), Text("2"), Text("A"), Text("4"), Text("n/a")},
         ColumnRole::Value,
         SkipReason::NotANumber,
         "row 3: value \"n/a\" is not a number"},
        {"comma decimal with a point separator",
         {Text("1,5"), Text("2"), Text("A"), Text("4"), Text("3")},
         ColumnRole::X,
         SkipReason::NotANumber,
         "row 3: x \"1,5\" is not a number with '.' as the decimal "
         "separator; use --decimal-separator ,"},
        {"height not a number",
         {Text("1"), Text("2"), Text("A"), Text("high"), Text("3")},
         ColumnRole::H,
         SkipReason::NotANumber,
         nullptr},
        {"typed infinity",
         {Number(inf), Text("2"), Text("A"), Text("4"), Text("3")},
         ColumnRole::X,
         SkipReason::NotANumber,
         "row 3: x \"inf\" is not a number"},
        {"typed NaN",
         {Text("1"), Text("2"), Text("A"), Text("4"), Number(std::nan(""))},
         ColumnRole::Value,
         SkipReason::NotANumber,
         nullptr},
        {"beyond double",
         {Text("1e999"), Text("2"), Text("A"), Text("4"), Text("3")},
         ColumnRole::X,
         SkipReason::NotANumber,
         nullptr},
    };
    const ColumnChoice choice = StationColumns();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TableStation station;
        SkippedRow skipped;
        ASSERT_FALSE(ConvertRow(c.cells, choice, 3, '.', station, skipped));
        EXPECT_EQ(skipped.row, 3);
        EXPECT_EQ(skipped.role, c.role);
        EXPECT_EQ(skipped.reason, c.reason);
        if (c.message != nullptr) {
            EXPECT_EQ(DescribeSkippedRow(skipped), c.message);
        }
    }
}

TEST(ConvertRow, CommaDecimalSeparator) {
    const std::vector<Cell> cells = {Text("1,5"), Text("-2,25"), Text("A"),
                                     Text("4"), Text("3,125")};
    TableStation station;
    SkippedRow skipped;
    ASSERT_TRUE(ConvertRow(cells, StationColumns(), 1, ',', station, skipped));
    EXPECT_EQ(station.x, 1.5); // exact: binary fractions
    EXPECT_EQ(station.y, -2.25);
    EXPECT_EQ(station.value, 3.125);
}

TEST(ConvertRow, TheOtherDecimalSeparatorIsNamed) {
    // 2026-12-10, issue 18: "255105,43" is not a number, and no hint.
    struct Case {
        const char *text;
        char separator;
        char other; // the separator named, or 0 for none
    };
    const Case cases[] = {
        {"255105,43", '.', ','}, {"-1.5e3", ',', '.'}, {"n/a", '.', 0},
        {"1,234,5", '.', 0},     {"1.5.2", ',', 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " read with " + c.separator);
        const std::vector<Cell> cells = {Text(c.text), Text("2"), Text("A"),
                                         Text("4"), Text("3")};
        TableStation station;
        SkippedRow skipped;
        ASSERT_FALSE(ConvertRow(cells, StationColumns(), 1, c.separator,
                                station, skipped));
        EXPECT_EQ(skipped.other_separator, c.other);
        EXPECT_EQ(SeparatorHint(skipped).empty(), c.other == 0);
    }
}

TEST(ConvertRow, AbsentPointAndHeightColumns) {
    ColumnChoice choice = StationColumns();
    choice.column[2] = choice.column[3] = no_column;
    const std::vector<Cell> cells = {Text("1"), Text("2"), Text("x"),
                                     Text("bad"), Text("3")};
    TableStation station;
    SkippedRow skipped;
    ASSERT_TRUE(ConvertRow(cells, choice, 42, '.', station, skipped));
    EXPECT_EQ(station.point, "42");
    EXPECT_TRUE(std::isnan(station.h));
}

TEST(TableRows, EverySkipCountedTheFirstFewKept) {
    TableRows rows;
    for (int64_t row = 1; row <= 12; ++row)
        rows.Skip(SkippedRow{row, ColumnRole::Value, SkipReason::Empty, ""});
    EXPECT_EQ(rows.skipped, 12);
    ASSERT_EQ(rows.first_skipped.size(), kept_skipped_rows);
    EXPECT_EQ(rows.first_skipped.back().row,
              static_cast<int64_t>(kept_skipped_rows));
}

TEST(TextLines, Separators) {
    struct Case {
        const char *line;
        TextSeparator separator;
    };
    const Case cases[] = {
        {"x,y,value", TextSeparator::Comma},
        {"x;y;value", TextSeparator::Semicolon},
        {"x\ty\tvalue", TextSeparator::Tab},
        {"x y value", TextSeparator::Blank},
        {"\"a,b\" y;value", TextSeparator::Semicolon},
        {"x;y,value", TextSeparator::Semicolon}, // the first one decides
        {"", TextSeparator::Blank},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(DetectSeparator(c.line), c.separator);
    }
}

TEST(TextLines, Fields) {
    using Fields = std::vector<std::string>;
    struct Case {
        const char *name;
        std::string line;
        TextSeparator separator;
        Fields fields;
    };
    const Case cases[] = {
        {"blanks",
         "  x  y\t\tname \r",
         TextSeparator::Blank,
         {"x", "y", "name"}},
        {"blank quoted",
         "\"st a\" \"b\"\"c\" d",
         TextSeparator::Blank,
         {"st a", "b\"c", "d"}},
        {"quote then text", "\"a\"b c", TextSeparator::Blank, {"a", "b", "c"}},
        {"unclosed quote", "\"a b", TextSeparator::Blank, {"a b"}},
        {"empty blank line", " \t ", TextSeparator::Blank, {}},
        {"commas keep empty fields",
         "a,,b,",
         TextSeparator::Comma,
         {"a", "", "b", ""}},
        {"quoted comma", "\"a,b\",c", TextSeparator::Comma, {"a,b", "c"}},
        {"semicolons",
         "x;y [m];cba",
         TextSeparator::Semicolon,
         {"x", "y [m]", "cba"}},
        {"tabs", "x\t\ty", TextSeparator::Tab, {"x", "", "y"}},
        {"empty delimited line", "", TextSeparator::Comma, {""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SplitTextLine(c.line, c.separator), c.fields);
    }
}

namespace {

// The rows TTextRows makes of `text`'s lines, each as its fields, with the
// line each began on.
struct MadeRows {
    std::vector<std::vector<std::string>> rows;
    std::vector<int64_t> lines;
    bool open = false;
    int64_t open_line = 0;
};

MadeRows RowsOf(std::string_view text, TextSeparator separator) {
    MadeRows made;
    TTextRows rows(separator);
    int64_t line = 0;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (rows.Take(text.substr(at, end - at), ++line)) {
            made.rows.emplace_back(rows.Fields().begin(), rows.Fields().end());
            made.lines.push_back(rows.RowLine());
        }
        at = end + 1;
    }
    made.open = rows.Open();
    made.open_line = made.open ? rows.RowLine() : 0;
    return made;
}

} // namespace

TEST(TextRows, QuotedFieldsRunOverLineEnds) {
    using Rows = std::vector<std::vector<std::string>>;
    struct Case {
        const char *name;
        const char *text;
        TextSeparator separator;
        Rows rows;
        std::vector<int64_t> lines;
    };
    const Case cases[] = {
        {"a name over two lines",
         "x,name\n1,\"a\nb\"\n2,c",
         TextSeparator::Comma,
         {{"x", "name"}, {"1", "a\nb"}, {"2", "c"}},
         {1, 2, 4}},
        {"a blank line inside quotes is part of the field",
         "x;name\n1;\"a\n\n\"\"b\"\"\"\n",
         TextSeparator::Semicolon,
         {{"x", "name"}, {"1", "a\n\n\"b\""}},
         {1, 2}},
        {"blank lines outside quotes are no rows",
         "x\ty\n\n \t\n1\t2",
         TextSeparator::Tab,
         {{"x", "y"}, {"1", "2"}},
         {1, 4}},
        {"blank-separated",
         "name x\n\"st\na\" 1\n",
         TextSeparator::Blank,
         {{"name", "x"}, {"st\na", "1"}},
         {1, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const MadeRows made = RowsOf(c.text, c.separator);
        EXPECT_EQ(made.rows, c.rows);
        EXPECT_EQ(made.lines, c.lines);
        EXPECT_FALSE(made.open);
    }
}

TEST(TextRows, QuoteLeftOpenSaysWhereItsRowBegan) {
    // 2026-12-10, issue 19: an unclosed quote swallowed every row after it.
    std::string text = "x,y,name,value\n";
    for (int k = 1; k <= 60; ++k)
        text += k == 51 ? "1,2,\"open,3,4\n" : std::to_string(k) + ",2,P,3\n";
    const MadeRows made = RowsOf(text, TextSeparator::Comma);
    EXPECT_TRUE(made.open);
    EXPECT_EQ(made.open_line, 52);    // the header is line 1
    EXPECT_EQ(made.rows.size(), 51u); // the header and rows 1 to 50
}
