// The point table xyz of a run: stations' positions and values in a private
// in-memory database, loaded once and then asked for square windows. Every
// database failure throws CppSQLite3Exception; a returned field that is not a
// number throws ConversionError (platform/Locale.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/CppSQLite3.h"

// Opens a fresh ":memory:" database on db, creates the table, begins the load's
// transaction and returns the prepared insert statement.
CppSQLite3Statement BeginLoad(CppSQLite3DB &db);

// Stores one station: x, y in metres, value in mGal. A position already stored
// keeps its first value ("insert or ignore" on the primary key (x, y)).
void AddStation(CppSQLite3Statement &statement, double x, double y,
                double value);

// Releases the insert statement and commits the load.
void EndLoad(CppSQLite3DB &db, CppSQLite3Statement &statement);

// Number of stations in the square of half-size half_size (metres) around (x,
// y), borders included, as compared with the six-decimal bounds of the query
// text.
int32_t CountInSquare(CppSQLite3DB &db, double x, double y, double half_size);

// Number of stations in the whole table.
int32_t CountAllStations(CppSQLite3DB &db);

// Parallel columns of the rows in a square: ascending x, then ascending y.
struct SquareRows {
    std::vector<double> x, y, u;
};

// The stations of the same square as CountInSquare, in the order the primary
// key's index delivers them. The field texts are read with DecimalSeparator():
// with a comma, the library's points become commas first.
SquareRows FetchInSquare(CppSQLite3DB &db, double x, double y,
                         double half_size);

// The query texts of CountInSquare and FetchInSquare, with the bounds x - a,
// x + a, y - a, y + a written with six decimals and a point. Built in full
// whatever the magnitude of the bounds.
std::string CountInSquareSql(double x, double y, double half_size);
std::string FetchInSquareSql(double x, double y, double half_size);

// The window queries of one connection, answered from the whole table read
// once into memory, for a pass that asks them for every station. The answers
// are those of CountInSquare and FetchInSquare, rows and order alike:
// - each bound is the six-decimal text of the query, turned into a number by
//   the library's own conversion (the one it applies to a number in a query
//   text), one statement step per query;
// - a stored number lies inside when the library's comparison says so, which
//   for an integer or a real against a real is the exact comparison of their
//   values; a NULL, a text or a blob never does;
// - rows come in the primary key's order (ascending x, then y), the order the
//   table was read in;
// - fields are the numbers read from the library's texts of the stored values,
//   in the user's format, with the same errors.
// A bound that is not a finite number falls back to the query text itself, so
// that it fails as that text does. The table must not change while the object
// lives; its statement is open meanwhile, so destroy it before closing the
// connection. Errors as for the free functions.
class TPointWindows {
  public:
    // Reads the table xyz of db.
    explicit TPointWindows(CppSQLite3DB &db);
    TPointWindows(const TPointWindows &) = delete;
    TPointWindows &operator=(const TPointWindows &) = delete;

    int32_t CountInSquare(double x, double y, double half_size);
    SquareRows FetchInSquare(double x, double y, double half_size);
    // Rows of the table, as CountAllStations counts them.
    int32_t CountAllStations() const { return all_rows; }

  private:
    struct Square {
        long double x_lo, x_hi, y_lo, y_hi;
    };
    // The square's bounds as the library reads them; false when one is not a
    // finite number.
    bool SquareBounds(double x, double y, double half_size, Square &square);
    // The number of rows inside square; with `rows`, their indices in key
    // order as well.
    int32_t RowsInSquare(const Square &square,
                         std::vector<int32_t> *rows) const;
    // Bucket of a coordinate along one axis, 0..edges.size().
    static int32_t BucketOf(double value, const std::vector<double> &edges);
    // Reads the table's rows in key order: their fields as numbers in the
    // format of `separator` and, with with_keys, their stored x and y.
    void ReadRows(char separator, bool with_keys);
    // Field `column` (0 x, 1 y, 2 u) of row `row` as a number.
    double Field(int32_t row, int32_t column);

    CppSQLite3DB &db;
    CppSQLite3Statement bounds; // the four bound texts as the library's reals
    int32_t all_rows = 0;

    // Rows whose x and y are numbers, in key order: the exact stored values.
    std::vector<long double> key_x, key_y;
    // Their fields as numbers read from the library's texts with
    // `converted_with`; converted false: the text did not convert, and is kept
    // in `unconverted` (key row * 3 + column; none for NULL) to fail again.
    std::vector<double> number[3];
    std::vector<char> converted[3];
    std::unordered_map<size_t, std::optional<std::string>> unconverted;
    char converted_with = '\0';

    // Rows by bucket of a grid whose inner edges (ascending) lie at quantiles
    // of the rows' coordinates, column-major: bucket (bx, by) holds
    // bucket_rows[bucket_start[b] .. bucket_start[b + 1] - 1] with
    // b = bx * buckets_y + by, each list in key order.
    std::vector<double> edges_x, edges_y;
    int32_t buckets_x = 1, buckets_y = 1;
    std::vector<int32_t> bucket_start, bucket_rows;
    std::vector<int32_t> found; // scratch of one query
};
