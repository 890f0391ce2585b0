// The point table xyz of a run: stations' positions and values in a private
// in-memory database, loaded once and then asked for square windows. Every
// database failure throws CppSQLite3Exception; a returned field that is not a
// number throws ConversionError (platform/Locale.h).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/CppSQLite3.h"

// Opens a fresh ":memory:" database on db, creates the table, begins the load's
// transaction and returns the prepared insert statement.
CppSQLite3Statement BeginLoad(CppSQLite3DB &db);

// Stores one station: x, y in metres, value in mGal. A position already stored
// keeps its first value ("insert or ignore" on the primary key (x, y)).
void AddStation(CppSQLite3Statement &statement, double x, double y, double value);

// Releases the insert statement and commits the load.
void EndLoad(CppSQLite3DB &db, CppSQLite3Statement &statement);

// Number of stations in the square of half-size half_size (metres) around (x, y),
// borders included, as compared with the six-decimal bounds of the query text.
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
SquareRows FetchInSquare(CppSQLite3DB &db, double x, double y, double half_size);

// The query texts of CountInSquare and FetchInSquare, with the bounds x - a,
// x + a, y - a, y + a written with six decimals and a point. Built in full
// whatever the magnitude of the bounds.
std::string CountInSquareSql(double x, double y, double half_size);
std::string FetchInSquareSql(double x, double y, double half_size);

// The two window queries of one connection, compiled once for a whole pass
// instead of once per call, with the same answers in the same order as
// CountInSquare and FetchInSquare: the six-decimal bound texts are bound as
// text, which SQLite turns into numbers by the same conversion as the
// literals of the query text. Fetched fields are converted from the library's
// text as FetchInSquare converts them; the number read from each stored
// number is remembered, so that its text is made and read only once.
// Statements stay open while the object lives: destroy it before closing the
// connection. Errors as for the free functions.
class TPointWindows {
  public:
    explicit TPointWindows(CppSQLite3DB &db);
    TPointWindows(const TPointWindows &) = delete;
    TPointWindows &operator=(const TPointWindows &) = delete;

    int32_t CountInSquare(double x, double y, double half_size);
    SquareRows FetchInSquare(double x, double y, double half_size);
    int32_t CountAllStations();

  private:
    // Binds the four bounds of the square to statement.
    void BindSquare(CppSQLite3Statement &statement, double x, double y, double half_size);
    // Field index of the current row as a number in the user's format.
    double FieldNumber(const CppSQLite3Query &query, int32_t index, char separator);

    CppSQLite3DB &db;
    CppSQLite3Statement count;
    CppSQLite3Statement fetch;
    char memo_separator = '\0';  // separator the memos were made with
    std::unordered_map<uint64_t, double> real_numbers;    // stored real's bits -> number read
    std::unordered_map<int64_t, double> integer_numbers;  // stored integer -> number read
    std::string scratch;
};
