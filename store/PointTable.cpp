// The point table xyz: load sequence, window query texts and field conversion.
#include "store/PointTable.h"

#include <algorithm>
#include <limits>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <type_traits>

#include "platform/Locale.h"

namespace {

constexpr const char *sql_create =
    "create table xyz (x number, y number, u number, PRIMARY KEY (x,y));";
constexpr const char *sql_begin = "begin transaction;";
// The temporary database needs no journal nor flush to disk: it lives for one
// run and never outlives a failure.
constexpr const char *sql_private =
    "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;";
// The primary key fills in file order, not key order, and the window index
// reads the table whole: a large cache until then, a small one after it.
constexpr const char *sql_load_cache = "PRAGMA cache_size = -65536;"; // KiB
constexpr const char *sql_run_cache = "PRAGMA cache_size = -4096;";
constexpr const char *sql_shrink = "PRAGMA shrink_memory;";
constexpr const char *sql_commit = "commit transaction;";
constexpr const char *sql_count_all = "select COUNT(*) from xyz;";
constexpr const char *sql_insert =
    "insert or ignore into xyz values (?, ?, ?);";
// The four bounds of a window query, from their six-decimal texts in the
// order x - a, x + a, y - a, y + a, as the library reads a number written in a
// query text (a real; the same conversion as the literal's).
constexpr const char *sql_bounds =
    "select CAST(? AS REAL), CAST(? AS REAL), CAST(? AS REAL), CAST(? AS REAL)";
// The whole table in the primary key's order, as the window queries deliver
// their rows.
constexpr const char *sql_all_rows = "select x,y,u from xyz order by x, y";
// The station stored at one position, by the primary key.
constexpr const char *sql_at_position =
    "select x,y from xyz where x = ? and y = ?";

// Rows per bucket of the window index, on average.
constexpr double rows_per_bucket = 4.0;

// The four pieces of text around the bounds of the two window queries.
constexpr std::string_view count_head =
    "select COALESCE(COUNT(*),0) as n from xyz where x >=";
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
        std::to_chars(buffer, buffer + sizeof buffer, value,
                      std::chars_format::fixed, bound_decimals);
    text.append(buffer, written.ptr);
}

// The bound centre ± half-size, computed in extended precision and stored as
// double like every intermediate result of the run.
double Bound(double centre, double offset) {
    return static_cast<double>(static_cast<long double>(centre) +
                               static_cast<long double>(offset));
}

std::string SquareSql(std::string_view head, double x, double y,
                      double half_size) {
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

// A field's text as a number in the user's format. The library writes reals
// with a point; under a comma separator the points become commas first, and any
// other separator reads the text as it comes (so a real does not convert).
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
    // A private temporary database: SQLite keeps it in its page cache and
    // moves it to a file of its own (deleted when it closes) beyond that, so a
    // national survey's table need not stay in the run's memory once the
    // window index holds what the estimates read. Nothing of it is kept.
    db.Open("");
    db.RunStatement(sql_private);
    db.RunStatement(sql_load_cache);
    db.RunStatement(sql_create);
    db.RunStatement(sql_begin);
    return db.Prepare(sql_insert);
}

void AddStation(CppSQLite3Statement &statement, double x, double y,
                double value) {
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

void SettlePointTable(CppSQLite3DB &db) {
    db.RunStatement(sql_run_cache);
    db.RunStatement(sql_shrink);
}

bool StoredPosition(CppSQLite3DB &db, double x, double y, double &stored_x,
                    double &stored_y) {
    CppSQLite3Statement statement = db.Prepare(sql_at_position);
    statement.BindReal(1, x);
    statement.BindReal(2, y);
    CppSQLite3Query query = statement.RunQuery();
    bool found = false;
    if (!query.AtEnd()) {
        const char separator = DecimalSeparator();
        std::string scratch;
        stored_x = FieldNumber(query.FieldText(0), separator, scratch);
        stored_y = FieldNumber(query.FieldText(1), separator, scratch);
        found = true;
    }
    query.Release();
    statement.Release();
    return found;
}

std::string CountInSquareSql(double x, double y, double half_size) {
    return SquareSql(count_head, x, y, half_size);
}

std::string FetchInSquareSql(double x, double y, double half_size) {
    return SquareSql(fetch_head, x, y, half_size);
}

int32_t CountInSquare(CppSQLite3DB &db, double x, double y, double half_size) {
    CppSQLite3Query query =
        db.RunQuery(CountInSquareSql(x, y, half_size).c_str());
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

SquareRows FetchInSquare(CppSQLite3DB &db, double x, double y,
                         double half_size) {
    const char separator = DecimalSeparator();
    CppSQLite3Query query =
        db.RunQuery(FetchInSquareSql(x, y, half_size).c_str());
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

TPointIndex::TPointIndex(CppSQLite3DB &db_) : db(db_) {
    ReadRows(DecimalSeparator(), true);
    BuildBuckets();
}

void TPointIndex::BuildBuckets() {
    // A grid of buckets whose edges are quantiles of the rows' x and y, so
    // each column and row of buckets holds about as many rows, however far a
    // stray station lies from the others.
    const bool wide = !wide_x.empty();
    const auto rows = static_cast<int32_t>(wide ? wide_x.size() : key_x.size());
    const auto nearest_x = [&](int32_t row) {
        return wide ? static_cast<double>(wide_x[row]) : key_x[row];
    };
    const auto nearest_y = [&](int32_t row) {
        return wide ? static_cast<double>(wide_y[row]) : key_y[row];
    };
    bucket_start.assign(2, 0);
    if (rows == 0)
        return;
    std::vector<double> sorted(rows);
    // Buckets about square in metres over the central part of the survey,
    // which outliers do not stretch.
    const auto spread = [rows](const std::vector<double> &values) {
        return values[rows - 1 - rows / 20] - values[rows / 20];
    };
    const auto quantile_edges = [rows](const std::vector<double> &values,
                                       int32_t buckets) {
        std::vector<double> edges;
        for (int32_t b = 1; b < buckets; ++b) {
            const double edge = values[static_cast<size_t>(
                static_cast<int64_t>(b) * rows / buckets)];
            if (edges.empty() || edge > edges.back())
                edges.push_back(edge);
        }
        return edges;
    };
    for (int32_t row = 0; row < rows; ++row)
        sorted[row] = nearest_x(row);
    std::sort(sorted.begin(), sorted.end());
    const double spread_x = spread(sorted);
    std::vector<double> sorted_x;
    sorted_x.swap(sorted);
    sorted.resize(rows);
    for (int32_t row = 0; row < rows; ++row)
        sorted[row] = nearest_y(row);
    std::sort(sorted.begin(), sorted.end());
    const double spread_y = spread(sorted);
    const double wanted = std::max(1.0, rows / rows_per_bucket);
    double across_x = 1.0, across_y = 1.0;
    if (spread_x > 0.0 && spread_y > 0.0 && std::isfinite(spread_x) &&
        std::isfinite(spread_y)) {
        const double ratio = spread_x / spread_y;
        across_x =
            std::clamp(std::ceil(std::sqrt(wanted * ratio)), 1.0, wanted);
        across_y = std::clamp(std::ceil(wanted / across_x), 1.0, wanted);
    } else if (spread_x > 0.0) {
        across_x = wanted;
    } else if (spread_y > 0.0) {
        across_y = wanted;
    }
    edges_x = quantile_edges(sorted_x, static_cast<int32_t>(across_x));
    edges_y = quantile_edges(sorted, static_cast<int32_t>(across_y));
    std::vector<double>().swap(sorted_x);
    std::vector<double>().swap(sorted);
    buckets_x = static_cast<int32_t>(edges_x.size()) + 1;
    buckets_y = static_cast<int32_t>(edges_y.size()) + 1;
    const int32_t buckets = buckets_x * buckets_y;
    std::vector<int32_t> bucket_of(rows);
    bucket_start.assign(buckets + 1, 0);
    for (int32_t row = 0; row < rows; ++row) {
        bucket_of[row] = BucketOf(nearest_x(row), edges_x) * buckets_y +
                         BucketOf(nearest_y(row), edges_y);
        ++bucket_start[bucket_of[row] + 1];
    }
    for (int32_t b = 0; b < buckets; ++b)
        bucket_start[b + 1] += bucket_start[b];
    bucket_rows.resize(rows);
    {
        std::vector<int32_t> fill(bucket_start.begin(), bucket_start.end() - 1);
        for (int32_t row = 0; row < rows; ++row)
            bucket_rows[fill[bucket_of[row]]++] = row;
    }
    // The keys in bucket order, so that a window reads its buckets' keys in
    // one sweep.
    const auto reorder = [&](auto &keys) {
        std::remove_reference_t<decltype(keys)> ordered(keys.size());
        for (int32_t k = 0; k < rows; ++k)
            ordered[k] = keys[bucket_rows[k]];
        keys.swap(ordered);
    };
    if (wide) {
        reorder(wide_x);
        reorder(wide_y);
    } else {
        reorder(key_x);
        reorder(key_y);
    }
}

int32_t TPointIndex::FindRow(double x, double y) const {
    // The row's bucket is the one its position falls into; its keys are the
    // exact stored numbers, which a NaN never equals.
    if (bucket_rows.empty() || x != x || y != y)
        return -1;
    const bool wide = !wide_x.empty();
    const int32_t b = BucketOf(x, edges_x) * buckets_y + BucketOf(y, edges_y);
    for (int32_t k = bucket_start[b]; k < bucket_start[b + 1]; ++k) {
        const bool here = wide ? wide_x[k] == static_cast<long double>(x) &&
                                     wide_y[k] == static_cast<long double>(y)
                               : key_x[k] == x && key_y[k] == y;
        if (here)
            return bucket_rows[k];
    }
    return -1;
}

int32_t TPointIndex::BucketOf(double value, const std::vector<double> &edges) {
    // The number of edges at or below the value: a monotone map of the
    // coordinate, so that a bucket range found from two bounds holds every
    // row between them.
    return static_cast<int32_t>(
        std::upper_bound(edges.begin(), edges.end(), value) - edges.begin());
}

void TPointIndex::ReadRows(char separator, bool with_keys) {
    for (int32_t column = 0; column < 3; ++column) {
        number[column].clear();
        converted[column].clear();
    }
    unconverted.clear();
    all_rows = 0;
    std::string scratch;
    // An integer key that no double holds makes every key a long double.
    bool wide = false;
    const auto key = [&](const CppSQLite3Query &query, int32_t column,
                         int32_t type) {
        if (type == field_integer) {
            const int64_t stored = query.FieldInteger(column);
            const auto as_double = static_cast<double>(stored);
            if (static_cast<long double>(as_double) !=
                static_cast<long double>(stored))
                wide = true;
            return static_cast<long double>(stored);
        }
        return static_cast<long double>(query.FieldReal(column));
    };
    CppSQLite3Query query = db.RunQuery(sql_all_rows);
    while (!query.AtEnd()) {
        ++all_rows;
        // The storage class and the stored number are taken before the text,
        // which may convert the field.
        const int32_t type_x = query.FieldType(0), type_y = query.FieldType(1);
        const bool numbers =
            (type_x == field_integer || type_x == field_real) &&
            (type_y == field_integer || type_y == field_real);
        if (numbers) {
            if (with_keys) {
                const long double x = key(query, 0, type_x);
                const long double y = key(query, 1, type_y);
                if (wide && wide_x.empty()) {
                    // From here on every key is kept wide.
                    wide_x.assign(key_x.begin(), key_x.end());
                    wide_y.assign(key_y.begin(), key_y.end());
                    std::vector<double>().swap(key_x);
                    std::vector<double>().swap(key_y);
                }
                if (wide) {
                    wide_x.push_back(x);
                    wide_y.push_back(y);
                } else {
                    key_x.push_back(static_cast<double>(x));
                    key_y.push_back(static_cast<double>(y));
                }
            }
            // Only the numbers are kept; a text that does not convert is kept
            // to fail again, with its own message, when a window fetches it.
            const size_t row = number[0].size();
            for (int32_t column = 0; column < 3; ++column) {
                const char *field = query.FieldText(column);
                double value = 0.0;
                bool ok = false;
                try {
                    value = FieldNumber(field, separator, scratch);
                    ok = true;
                } catch (const ConversionError &) {
                    unconverted.emplace(row * 3 + column,
                                        field != nullptr
                                            ? std::optional<std::string>(field)
                                            : std::nullopt);
                }
                number[column].push_back(value);
                converted[column].push_back(ok ? 1 : 0);
            }
        }
        query.Advance();
    }
    query.Release();
    converted_with = separator;
}

void TPointIndex::AssignHeight(double x, double y, double h) {
    const int32_t row = FindRow(x, y);
    if (row < 0)
        return;
    if (height.empty())
        height.assign(static_cast<size_t>(all_rows),
                      std::numeric_limits<double>::quiet_NaN());
    double &held = height[static_cast<size_t>(row)];
    if (held != held)
        held = h;
}

void TPointIndex::ShiftValue(double x, double y, double delta) {
    const int32_t row = FindRow(x, y);
    if (row < 0 || !converted[2][static_cast<size_t>(row)])
        return;
    number[2][static_cast<size_t>(row)] += delta;
}

void TPointIndex::Stations(std::vector<double> &x, std::vector<double> &y,
                           std::vector<double> &value) const {
    x.clear();
    y.clear();
    value.clear();
    const size_t rows = number[0].size();
    for (size_t k = 0; k < rows; ++k) {
        if (converted[0][k] && converted[1][k] && converted[2][k]) {
            x.push_back(number[0][k]);
            y.push_back(number[1][k]);
            value.push_back(number[2][k]);
        }
    }
}

double TPointIndex::Field(int32_t row, int32_t column) const {
    if (converted[column][row])
        return number[column][row];
    const std::optional<std::string> &field =
        unconverted.at(static_cast<size_t>(row) * 3 + column);
    std::string scratch;
    return FieldNumber(field ? field->c_str() : nullptr, converted_with,
                       scratch);
}

template <typename Key>
int32_t TPointIndex::ScanSquare(const Square &square,
                                const std::vector<Key> &keys_x,
                                const std::vector<Key> &keys_y,
                                std::vector<int32_t> *rows) const {
    int32_t count = 0;
    const int32_t bx_lo = BucketOf(static_cast<double>(square.x_lo), edges_x);
    const int32_t bx_hi = BucketOf(static_cast<double>(square.x_hi), edges_x);
    const int32_t by_lo = BucketOf(static_cast<double>(square.y_lo), edges_y);
    const int32_t by_hi = BucketOf(static_cast<double>(square.y_hi), edges_y);
    // The bounds are the library's reals, doubles: with double keys the
    // comparison in double is the exact one.
    const Key x_lo = static_cast<Key>(square.x_lo);
    const Key x_hi = static_cast<Key>(square.x_hi);
    const Key y_lo = static_cast<Key>(square.y_lo);
    const Key y_hi = static_cast<Key>(square.y_hi);
    for (int32_t bx = bx_lo; bx <= bx_hi; ++bx) {
        // The buckets of one column are consecutive.
        const int32_t first = bucket_start[bx * buckets_y + by_lo];
        const int32_t end = bucket_start[bx * buckets_y + by_hi + 1];
        const size_t column_first = rows != nullptr ? rows->size() : 0;
        for (int32_t k = first; k < end; ++k) {
            // the exact comparison of the stored number with the real bound
            if (keys_x[k] >= x_lo && keys_x[k] <= x_hi && keys_y[k] >= y_lo &&
                keys_y[k] <= y_hi) {
                ++count;
                if (rows != nullptr)
                    rows->push_back(bucket_rows[k]);
            }
        }
        // Key order: x ascends from one column of buckets to the next (a
        // column holds every row of its x), so sorting within a column sorts
        // the whole.
        if (rows != nullptr)
            std::sort(rows->begin() + column_first, rows->end());
    }
    return count;
}

int32_t TPointIndex::RowsInSquare(const Square &square,
                                  std::vector<int32_t> *rows) const {
    if (rows != nullptr)
        rows->clear();
    if (bucket_rows.empty())
        return 0;
    return wide_x.empty() ? ScanSquare(square, key_x, key_y, rows)
                          : ScanSquare(square, wide_x, wide_y, rows);
}

TPointWindows::TPointWindows(CppSQLite3DB &db)
    : own_index(std::make_unique<TPointIndex>(db)), index(own_index.get()),
      bounds(std::make_unique<CppSQLite3Statement>(db.Prepare(sql_bounds))) {}

TPointWindows::TPointWindows(const TPointIndex &shared)
    : own_connection(std::make_unique<CppSQLite3DB>()), index(&shared) {
    own_connection->Open(":memory:");
    bounds = std::make_unique<CppSQLite3Statement>(
        own_connection->Prepare(sql_bounds));
}

TPointWindows::~TPointWindows() = default;

bool TPointWindows::SquareBounds(double x, double y, double half_size,
                                 Square &square) {
    const double values[4] = {Bound(x, -half_size), Bound(x, half_size),
                              Bound(y, -half_size), Bound(y, half_size)};
    for (const double value : values) {
        if (!std::isfinite(value))
            return false;
    }
    // A statement left mid-way by an error is rewound before it is bound again.
    bounds->Rewind();
    for (int32_t k = 0; k < 4; ++k) {
        std::string bound_text;
        AppendBound(bound_text, values[k]);
        bounds->BindText(k + 1, bound_text.c_str());
    }
    CppSQLite3Query query = bounds->RunQuery();
    square = {query.FieldReal(0), query.FieldReal(1), query.FieldReal(2),
              query.FieldReal(3)};
    bounds->Rewind();
    return true;
}

bool TPointWindows::StoredPosition(double x, double y, double &stored_x,
                                   double &stored_y) {
    const char separator = DecimalSeparator();
    if (separator != index->converted_with && own_index)
        own_index->ReadRows(separator, false); // the same rows, read anew
    if (separator != index->converted_with) {
        std::lock_guard lock(index->fallback);
        return ::StoredPosition(index->db, x, y, stored_x, stored_y);
    }
    const int32_t row = index->FindRow(x, y);
    if (row < 0)
        return false;
    stored_x = index->Field(row, 0);
    stored_y = index->Field(row, 1);
    return true;
}

int32_t TPointWindows::CountInSquare(double x, double y, double half_size) {
    counted = false;
    Square square;
    if (!SquareBounds(x, y, half_size, square)) {
        std::lock_guard lock(index->fallback);
        return ::CountInSquare(index->db, x, y, half_size);
    }
    // The rows are kept for a fetch of the same window, which growth asks
    // for right after the count that reached N.
    const int32_t count = index->RowsInSquare(square, &found);
    counted = true;
    counted_x = x;
    counted_y = y;
    counted_half_size = half_size;
    return count;
}

SquareRows TPointWindows::FetchInSquare(double x, double y, double half_size) {
    // The window last counted has the same bounds and rows (the same texts
    // converted by the same statement, compared with the same keys).
    const bool same = counted && x == counted_x && y == counted_y &&
                      half_size == counted_half_size;
    counted = false;
    Square square;
    const bool finite = same || SquareBounds(x, y, half_size, square);
    const char separator = DecimalSeparator();
    if (finite && separator != index->converted_with && own_index)
        own_index->ReadRows(separator, false); // the same rows, read anew
    if (!finite || separator != index->converted_with) {
        std::lock_guard lock(index->fallback);
        return ::FetchInSquare(index->db, x, y, half_size);
    }
    if (!same)
        index->RowsInSquare(square, &found);
    SquareRows rows;
    rows.x.reserve(found.size());
    rows.y.reserve(found.size());
    rows.u.reserve(found.size());
    for (const int32_t row : found) {
        rows.x.push_back(index->Field(row, 0));
        rows.y.push_back(index->Field(row, 1));
        rows.u.push_back(index->Field(row, 2));
    }
    if (!index->height.empty()) {
        rows.h.reserve(found.size());
        for (const int32_t row : found)
            rows.h.push_back(index->height[static_cast<size_t>(row)]);
    }
    return rows;
}
