// The point table xyz: load sequence, window query texts and field conversion.
#include "store/PointTable.h"

#include <bit>
#include <charconv>
#include <string_view>

#include "platform/Locale.h"

namespace {

constexpr const char *sql_create = "create table xyz (x number, y number, u number, PRIMARY KEY (x,y));";
constexpr const char *sql_begin = "begin transaction;";
constexpr const char *sql_commit = "commit transaction;";
constexpr const char *sql_count_all = "select COUNT(*) from xyz;";
constexpr const char *sql_insert = "insert or ignore into xyz values (?, ?, ?);";
// The window queries with the four bounds as parameters, in the order x - a,
// x + a, y - a, y + a; otherwise the texts of the literal queries. Each bound
// text is made a real once per query by the library's own text-to-number
// conversion, the one it applies to a number written in a query text; bound
// as plain text, the same conversion would run again for every row compared.
#define KORVANEL_REAL_BOUND "CAST(? AS REAL)"
constexpr const char *sql_count_bound = "select COALESCE(COUNT(*),0) as n from xyz where x >=" KORVANEL_REAL_BOUND
                                        " and x <=" KORVANEL_REAL_BOUND " and y >=" KORVANEL_REAL_BOUND
                                        " and y <= " KORVANEL_REAL_BOUND;
constexpr const char *sql_fetch_bound = "select x,y,u from xyz where x >=" KORVANEL_REAL_BOUND
                                        " and x <=" KORVANEL_REAL_BOUND " and y >=" KORVANEL_REAL_BOUND
                                        " and y <= " KORVANEL_REAL_BOUND;
#undef KORVANEL_REAL_BOUND

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

TPointWindows::TPointWindows(CppSQLite3DB &db_)
    : db(db_), count(db_.Prepare(sql_count_bound)), fetch(db_.Prepare(sql_fetch_bound)) {}

void TPointWindows::BindSquare(CppSQLite3Statement &statement, double x, double y, double half_size) {
    // A statement left mid-way by an error is rewound before it is bound again.
    statement.Rewind();
    const double bounds[4] = {Bound(x, -half_size), Bound(x, half_size), Bound(y, -half_size),
                              Bound(y, half_size)};
    for (int32_t k = 0; k < 4; ++k) {
        std::string text;
        AppendBound(text, bounds[k]);
        statement.BindText(k + 1, text.c_str());
    }
}

int32_t TPointWindows::CountInSquare(double x, double y, double half_size) {
    BindSquare(count, x, y, half_size);
    CppSQLite3Query query = count.RunQuery();
    int32_t counted = 0;
    while (!query.AtEnd()) {
        const char *text = query.FieldText(0);
        counted = StrToInt(text != nullptr ? text : "");
        query.Advance();
    }
    count.Rewind();
    return counted;
}

int32_t TPointWindows::CountAllStations() { return ::CountAllStations(db); }

double TPointWindows::FieldNumber(const CppSQLite3Query &query, int32_t index, char separator) {
    if (separator != memo_separator) {
        real_numbers.clear();
        integer_numbers.clear();
        memo_separator = separator;
    }
    // The number read from a stored number's text depends on nothing but the
    // stored number (and the separator): the library's text of it is fixed.
    const int32_t type = query.FieldType(index);
    if (type == field_real) {
        const auto key = std::bit_cast<uint64_t>(query.FieldReal(index));
        const auto found = real_numbers.find(key);
        if (found != real_numbers.end())
            return found->second;
        const double number = ::FieldNumber(query.FieldText(index), separator, scratch);
        real_numbers.emplace(key, number);
        return number;
    }
    if (type == field_integer) {
        const int64_t key = query.FieldInteger(index);
        const auto found = integer_numbers.find(key);
        if (found != integer_numbers.end())
            return found->second;
        const double number = ::FieldNumber(query.FieldText(index), separator, scratch);
        integer_numbers.emplace(key, number);
        return number;
    }
    return ::FieldNumber(query.FieldText(index), separator, scratch);
}

SquareRows TPointWindows::FetchInSquare(double x, double y, double half_size) {
    const char separator = DecimalSeparator();
    BindSquare(fetch, x, y, half_size);
    CppSQLite3Query query = fetch.RunQuery();
    SquareRows rows;
    while (!query.AtEnd()) {
        rows.x.push_back(FieldNumber(query, 0, separator));
        rows.y.push_back(FieldNumber(query, 1, separator));
        rows.u.push_back(FieldNumber(query, 2, separator));
        query.Advance();
    }
    fetch.Rewind();
    return rows;
}
