// The point table xyz of a run: stations' positions and values in a private
// in-memory database, loaded once and then asked for square windows. Every
// database failure throws CppSQLite3Exception; a returned field that is not a
// number throws ConversionError (platform/Locale.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/CppSQLite3.h"

// Opens a fresh private temporary database on db (in memory while it is small,
// in a file of its own deleted on close beyond that), creates the table,
// begins the load's transaction and returns the prepared insert statement.
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
    // The stations' heights (metres; NaN for none), when the window index
    // was given them (TPointIndex::AssignHeight); else empty.
    std::vector<double> h;
};

// The stations of the same square as CountInSquare, in the order the primary
// key's index delivers them. The field texts are read with DecimalSeparator():
// with a comma, the library's points become commas first.
SquareRows FetchInSquare(CppSQLite3DB &db, double x, double y,
                         double half_size);

// Once the window index is built, hands back the memory that loading and
// reading the table took; the table stays as it is.
void SettlePointTable(CppSQLite3DB &db);

// The position of the station stored at exactly (x, y), as the window queries
// hand it back (the library's text of each number, read in the user's format):
// the station's coordinates rounded to 15 significant digits, or unchanged
// when they have no more. False when no station is stored there.
bool StoredPosition(CppSQLite3DB &db, double x, double y, double &stored_x,
                    double &stored_y);

// The query texts of CountInSquare and FetchInSquare, with the bounds x - a,
// x + a, y - a, y + a written with six decimals and a point. Built in full
// whatever the magnitude of the bounds.
std::string CountInSquareSql(double x, double y, double half_size);
std::string FetchInSquareSql(double x, double y, double half_size);

// The whole table xyz of a connection read once into memory, with a bucket
// index of the rows' positions, for answering window queries (TPointWindows).
// Once built it does not change, so the TPointWindows of many threads may
// share one; only the fallback to the query texts (a bound that is not a
// finite number, a separator other than the one the fields were read with)
// runs on the connection, one caller at a time. The connection must stay
// open, and its table unchanged, while the index lives. Errors as for the
// free functions.
class TPointIndex {
  public:
    // Reads the table xyz of db, its fields in the format of
    // DecimalSeparator().
    explicit TPointIndex(CppSQLite3DB &db);
    TPointIndex(const TPointIndex &) = delete;
    TPointIndex &operator=(const TPointIndex &) = delete;

    // Rows of the table, as CountAllStations counts them.
    int32_t CountAllStations() const { return all_rows; }
    // The row stored at exactly (x, y), in key order; -1 when there is none.
    int32_t FindRow(double x, double y) const;
    // Gives the row stored at exactly (x, y) the height `h` (metres), unless
    // it has one already: the first station at a position gives it, as it
    // gives the value. Not while other threads read the index.
    void AssignHeight(double x, double y, double h);
    // Adds `delta` (mGal) to the value of the row stored at exactly (x, y),
    // when it reads as a number: the values with a survey's offset taken
    // off, for the stations to be estimated again. Not while other threads
    // read the index; adding -delta afterwards gives the value back.
    void ShiftValue(double x, double y, double delta);
    // Every row whose x, y and value read as numbers (metres, mGal), in no
    // particular order: for figures over the whole survey.
    void Stations(std::vector<double> &x, std::vector<double> &y,
                  std::vector<double> &value) const;

  private:
    friend class TPointWindows;
    struct Square {
        long double x_lo, x_hi, y_lo, y_hi;
    };
    // The number of rows inside square; with `rows`, their indices in key
    // order as well.
    int32_t RowsInSquare(const Square &square,
                         std::vector<int32_t> *rows) const;
    template <typename Key>
    int32_t ScanSquare(const Square &square, const std::vector<Key> &key_x,
                       const std::vector<Key> &key_y,
                       std::vector<int32_t> *rows) const;
    // Bucket of a coordinate along one axis, 0..edges.size().
    static int32_t BucketOf(double value, const std::vector<double> &edges);
    // Reads the table's rows in key order: their fields as numbers in the
    // format of `separator` and, with with_keys, their stored x and y.
    void ReadRows(char separator, bool with_keys);
    // Groups the rows by bucket, their keys in bucket order.
    void BuildBuckets();
    // Field `column` (0 x, 1 y, 2 u) of row `row` as a number.
    double Field(int32_t row, int32_t column) const;

    CppSQLite3DB &db;
    // The connection's queries, from whichever sharer falls back to them.
    mutable std::mutex fallback;
    int32_t all_rows = 0;

    // Rows whose x and y are numbers, in key order: the exact stored values.
    // Doubles, unless one is an integer that no double holds: then all in
    // wide_x and wide_y (long double), key_x and key_y empty.
    std::vector<double> key_x, key_y;
    std::vector<long double> wide_x, wide_y;
    // Their fields as numbers read from the library's texts with
    // `converted_with`; converted false: the text did not convert, and is kept
    // in `unconverted` (key row * 3 + column; none for NULL) to fail again.
    std::vector<double> number[3];
    // Each row's height, metres (NaN: none), once one was assigned; else
    // empty.
    std::vector<double> height;
    std::vector<char> converted[3];
    std::unordered_map<size_t, std::optional<std::string>> unconverted;
    char converted_with = '\0';

    // Rows by bucket of a grid whose inner edges (ascending) lie at quantiles
    // of the rows' coordinates, column-major: bucket (bx, by) holds
    // bucket_rows[bucket_start[b] .. bucket_start[b + 1] - 1] with
    // b = bx * buckets_y + by, each list in key order. After the build the
    // keys are held in that order too (entry k is row bucket_rows[k]).
    std::vector<double> edges_x, edges_y;
    int32_t buckets_x = 1, buckets_y = 1;
    std::vector<int32_t> bucket_start, bucket_rows;
};

// The window queries of one thread, answered from a TPointIndex. The answers
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
// that it fails as that text does. Its statement is open while it lives, so
// destroy it before closing its connection. Errors as for the free functions.
class TPointWindows {
  public:
    // An index of its own over the table xyz of db, whose connection also
    // converts the bounds; a change of the decimal separator reads the
    // fields again.
    explicit TPointWindows(CppSQLite3DB &db);
    // Shares `index`, which must outlive it; the bounds are converted on a
    // private in-memory connection. A separator other than the index's is
    // answered by the query texts.
    explicit TPointWindows(const TPointIndex &index);
    ~TPointWindows();
    TPointWindows(const TPointWindows &) = delete;
    TPointWindows &operator=(const TPointWindows &) = delete;

    int32_t CountInSquare(double x, double y, double half_size);
    SquareRows FetchInSquare(double x, double y, double half_size);
    // Rows of the table, as CountAllStations counts them.
    int32_t CountAllStations() const { return index->all_rows; }
    // The index the queries are answered from.
    const TPointIndex &Index() const { return *index; }
    // TPointIndex::AssignHeight on an index of its own.
    void AssignHeight(double x, double y, double h) {
        if (own_index)
            own_index->AssignHeight(x, y, h);
    }
    // TPointIndex::ShiftValue on an index of its own.
    void ShiftValue(double x, double y, double delta) {
        if (own_index)
            own_index->ShiftValue(x, y, delta);
    }
    // As the free function of that name.
    bool StoredPosition(double x, double y, double &stored_x, double &stored_y);

  private:
    using Square = TPointIndex::Square;
    // The square's bounds as the library reads them; false when one is not a
    // finite number.
    bool SquareBounds(double x, double y, double half_size, Square &square);

    std::unique_ptr<TPointIndex> own_index;       // the first form's
    std::unique_ptr<CppSQLite3DB> own_connection; // the second form's
    const TPointIndex *index;
    // The four bound texts as the library's reals; released first.
    std::unique_ptr<CppSQLite3Statement> bounds;
    std::vector<int32_t> found; // rows of the last window asked
    // The window last counted (its rows in `found`), until the next query.
    bool counted = false;
    double counted_x = 0.0, counted_y = 0.0, counted_half_size = 0.0;
};
