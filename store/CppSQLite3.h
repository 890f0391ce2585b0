// The SQL access layer: a connection, a prepared statement, a forward-only
// cursor and one exception type over the SQLite 3 library. These classes own
// every library handle they create; every failure is thrown as a
// CppSQLite3Exception, and destructors release without throwing.
#pragma once

#include <cstdint>

struct sqlite3;
struct sqlite3_stmt;
class CppSQLite3Query;

// Result code of the layer's own errors.
constexpr int32_t CPPSQLITE_ERROR = 1000;

// Storage classes of a field (CppSQLite3Query::FieldType), the library's own
// numbers.
constexpr int32_t field_integer = 1;
constexpr int32_t field_real = 2;
constexpr int32_t field_text = 3;
constexpr int32_t field_blob = 4;
constexpr int32_t field_null = 5;

// An SQLite result code (or CPPSQLITE_ERROR) with the message
// "<code name>[<code>]: <detail>". The message is made with sqlite3_mprintf and
// freed with sqlite3_free; a copy makes a new copy of it.
class CppSQLite3Exception {
  public:
    // detail may be null (an empty detail). When owns_detail is true the detail
    // was allocated by the library and is freed here once the message is made.
    CppSQLite3Exception(int32_t code, char *detail, bool owns_detail);
    CppSQLite3Exception(int32_t code, const char *detail);
    CppSQLite3Exception(const CppSQLite3Exception &other);
    CppSQLite3Exception &operator=(const CppSQLite3Exception &) = delete;
    virtual ~CppSQLite3Exception();

    int32_t errorCode() const { return code; }
    // The formatted message; "" when the library could not allocate it.
    const char *errorMessage() const {
        return message != nullptr ? message : "";
    }

    // "SQLITE_OK" ... "SQLITE_RANGE", "SQLITE_ROW", "SQLITE_DONE",
    // "CPPSQLITE_ERROR"; "UNKNOWN_ERROR" for every other code, extended result
    // codes included.
    static const char *CodeName(int32_t code);

  private:
    int32_t code;
    char *message; // owned, from sqlite3_mprintf; may be null
};

// A compiled statement with parameters, for repeated inserts. Owns its
// statement handle (released by Release or the destructor); the connection is
// not owned. Movable, not copyable.
class CppSQLite3Statement {
  public:
    CppSQLite3Statement(sqlite3 *db, sqlite3_stmt *handle);
    CppSQLite3Statement(CppSQLite3Statement &&other) noexcept;
    CppSQLite3Statement(const CppSQLite3Statement &) = delete;
    CppSQLite3Statement &operator=(const CppSQLite3Statement &) = delete;
    CppSQLite3Statement &operator=(CppSQLite3Statement &&) = delete;
    virtual ~CppSQLite3Statement();

    // Binds a double to parameter index (1-based).
    void BindReal(int32_t index, double value);
    // Binds a copy of a zero-terminated text to parameter index (1-based).
    void BindText(int32_t index, const char *text);
    // Steps once and returns a cursor over the statement's rows that does not
    // own it; Rewind before the next binding. A failed step rewinds and throws.
    CppSQLite3Query RunQuery();
    // Steps once, expecting no row; rewinds and returns the number of changed
    // rows. Bound values stay bound.
    int32_t Run();
    // Rewinds the statement for another Run; nothing without a statement.
    void Rewind();
    // Finalizes the statement; idempotent. The handle is gone even when it
    // throws.
    void Release();

  private:
    void RequireOpen() const;
    void RequireHandle() const;

    sqlite3 *db;          // the connection it was compiled on; not owned
    sqlite3_stmt *handle; // owned; null after Release
};

// Forward-only cursor over the rows of one statement: constructed on the first
// row (or at the end), moved by Advance. Movable, not copyable.
class CppSQLite3Query {
  public:
    CppSQLite3Query(sqlite3 *db, sqlite3_stmt *handle, bool at_end,
                    bool owns_handle);
    CppSQLite3Query(CppSQLite3Query &&other) noexcept;
    CppSQLite3Query(const CppSQLite3Query &) = delete;
    CppSQLite3Query &operator=(const CppSQLite3Query &) = delete;
    CppSQLite3Query &operator=(CppSQLite3Query &&) = delete;
    virtual ~CppSQLite3Query();

    // True when there is no current row.
    bool AtEnd() const;
    // Steps to the next row; a failed step finalizes the statement and throws.
    void Advance();
    // Text of column index (0-based) of the current row, in the library's text
    // form; null for SQL NULL. Valid until the next Advance, Release or
    // destruction.
    const char *FieldText(int32_t index) const;
    // Storage class of column index (0-based) of the current row: one of
    // field_integer ... field_null.
    int32_t FieldType(int32_t index) const;
    // The stored number of a column of class field_real, or field_integer, as
    // it is stored.
    double FieldReal(int32_t index) const;
    int64_t FieldInteger(int32_t index) const;
    // Finalizes the statement when this cursor owns it; idempotent.
    void Release();

  private:
    void RequireHandle() const;

    sqlite3 *db;          // not owned
    sqlite3_stmt *handle; // owned when owns_handle; null after Release or a
                          // failed Advance
    bool at_end;
    int32_t column_count; // taken once at construction
    bool owns_handle;
};

// One database connection. Not copyable.
class CppSQLite3DB {
  public:
    CppSQLite3DB();
    CppSQLite3DB(const CppSQLite3DB &) = delete;
    CppSQLite3DB &operator=(const CppSQLite3DB &) = delete;
    virtual ~CppSQLite3DB();

    // Opens (or creates) the database at path, in the platform's own path form;
    // ":memory:" opens a private in-memory database. On an open connection the
    // handle is replaced without closing the previous database. On failure the
    // connection is left without a database.
    void Open(const char *path);
    // Closes the database; nothing when none is open. Fails, leaving it open,
    // while a statement or cursor of the connection is not released.
    void Close();
    // Runs the whole SQL text; returns the number of rows changed.
    int32_t RunStatement(const char *sql);
    // Compiles the first statement of sql and steps to its first row.
    CppSQLite3Query RunQuery(const char *sql);
    // Compiles the first statement of sql for repeated Run calls.
    CppSQLite3Statement Prepare(const char *sql);
    // Copies the whole main database of this connection into the main database
    // of target, replacing what target held (SQLite's online backup). Both
    // must be open; target is then a connection of its own over the same rows,
    // for another thread.
    void CopyTo(CppSQLite3DB &target);
    // Busy-wait time in milliseconds, handed to the library now and on every
    // Open.
    void SetWaitTimeout(int32_t ms);
    bool IsOpen() const { return handle != nullptr; }

  private:
    void RequireOpen() const;
    sqlite3_stmt *Compile(const char *sql);

    sqlite3 *handle;         // null while closed
    int32_t wait_timeout_ms; // 60000 after construction
};
