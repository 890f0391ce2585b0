// The point table xyz: load sequence, window query texts and field conversion.
#include "store/PointTable.h"

#include <charconv>
#include <string_view>

#include "platform/Locale.h"

namespace {

constexpr const char *sql_create = "create table xyz (x number, y number, u number, PRIMARY KEY (x,y));";
constexpr const char *sql_begin = "begin transaction;";
constexpr const char *sql_commit = "commit transaction;";
constexpr const char *sql_count_all = "select COUNT(*) from xyz;";
constexpr const char *sql_insert = "insert or ignore into xyz values (?, ?, ?);";

// The four pieces of text around the bounds of the two window queries.
constexpr std::string_view count_head = "select COALESCE(COUNT(*),0) as n from xyz where x >=";
constexpr std::string_view fetch_head = "select x,y,u from xyz where x >=";
constexpr std::string_view and_x_below = " and x <=";
constexpr std::string_view and_y_above = " and y >=";
constexpr std::string_view and_y_below = " and y <= ";

constexpr int bound_decimals = 6;

// Appends value in fixed notation with six decimals and a point, independent of
// any locale. 309 integer digits, sign, point and decimals fit the buffer.
void AppendBound(std::string &text, double value) {
    char buffer[400];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, bound_decimals);
    text.append(buffer, written.ptr);
}

// The bound centre ± half-size, computed in extended precision and stored as
// double like every intermediate result of the run.
double Bound(double centre, double offset) {
    return static_cast<double>(static_cast<long double>(centre) + static_cast<long double>(offset));
}

std::string SquareSql(std::string_view head, double x, double y, double half_size) {
    std::string text;
    text.reserve(head.size() + 4 * 24 + 40);
    text += head;
    AppendBound(text, Bound(x, -half_size));
    text += and_x_below;
    AppendBound(text, Bound(x, half_size));
    text += and_y_above;
    AppendBound(text, Bound(y, -half_size));
    text += and_y_below;
    AppendBound(text, Bound(y, half_size));
    text += '\n';
    return text;
}

// A field's text as a number in the user's format. The library writes reals with
// a point; under a comma separator the points become commas first, and any other
// separator reads the text as it comes (so a real does not convert).
double FieldNumber(const char *text, char separator, std::string &scratch) {
    if (text == nullptr)
        throw ConversionError("'' is not a valid floating point value");
    scratch.assign(text);
    if (separator == ',')
        for (char &c : scratch)
            if (c == '.')
                c = ',';
    return StrToFloat(scratch, separator);
}

} // namespace

CppSQLite3Statement BeginLoad(CppSQLite3DB &db) {
    db.Open(":memory:");
    db.RunStatement(sql_create);
    db.RunStatement(sql_begin);
    return db.Prepare(sql_insert);
}

void AddStation(CppSQLite3Statement &statement, double x, double y, double value) {
    statement.BindReal(1, x);
    statement.BindReal(2, y);
    statement.BindReal(3, value);
    statement.Run();
    statement.Rewind();
}

void EndLoad(CppSQLite3DB &db, CppSQLite3Statement &statement) {
    statement.Release();
    db.RunStatement(sql_commit);
}

std::string CountInSquareSql(double x, double y, double half_size) { return SquareSql(count_head, x, y, half_size); }

std::string FetchInSquareSql(double x, double y, double half_size) { return SquareSql(fetch_head, x, y, half_size); }

int32_t CountInSquare(CppSQLite3DB &db, double x, double y, double half_size) {
    CppSQLite3Query query = db.RunQuery(CountInSquareSql(x, y, half_size).c_str());
    int32_t count = 0;
    while (!query.AtEnd()) {
        const char *text = query.FieldText(0);
        count = StrToInt(text != nullptr ? text : "");
        query.Advance();
    }
    query.Release();
    return count;
}

int32_t CountAllStations(CppSQLite3DB &db) {
    CppSQLite3Query query = db.RunQuery(sql_count_all);
    const char *text = query.AtEnd() ? nullptr : query.FieldText(0);
    const int32_t count = StrToInt(text != nullptr ? text : "");
    query.Release();
    return count;
}

SquareRows FetchInSquare(CppSQLite3DB &db, double x, double y, double half_size) {
    const char separator = DecimalSeparator();
    CppSQLite3Query query = db.RunQuery(FetchInSquareSql(x, y, half_size).c_str());
    SquareRows rows;
    std::string scratch;
    while (!query.AtEnd()) {
        rows.x.push_back(FieldNumber(query.FieldText(0), separator, scratch));
        rows.y.push_back(FieldNumber(query.FieldText(1), separator, scratch));
        rows.u.push_back(FieldNumber(query.FieldText(2), separator, scratch));
        query.Advance();
    }
    query.Release();
    return rows;
}
