// The SQL access layer over the SQLite 3 library; the only code that calls it.
#include "store/CppSQLite3.h"

#include <utility>

#include <sqlite3.h>

namespace {

constexpr int32_t default_wait_timeout_ms = 60000;

static_assert(field_integer == SQLITE_INTEGER && field_real == SQLITE_FLOAT &&
              field_text == SQLITE_TEXT && field_blob == SQLITE_BLOB &&
              field_null == SQLITE_NULL);

constexpr const char *msg_not_open = "Database not open";
constexpr const char *msg_close_failed = "Unable to close database";
constexpr const char *msg_no_statement = "Null Virtual Machine pointer";
constexpr const char *msg_bad_field = "Invalid field index requested";
constexpr const char *msg_bind_failed = "Error binding double param";
constexpr const char *msg_bind_text_failed = "Error binding string param";

} // namespace

// ---- CppSQLite3Exception

CppSQLite3Exception::CppSQLite3Exception(int32_t code, char *detail,
                                         bool owns_detail)
    : code(code), message(sqlite3_mprintf("%s[%d]: %s", CodeName(code), code,
                                          detail != nullptr ? detail : "")) {
    if (owns_detail && detail != nullptr)
        sqlite3_free(detail);
}

CppSQLite3Exception::CppSQLite3Exception(int32_t code, const char *detail)
    : CppSQLite3Exception(code, const_cast<char *>(detail), false) {}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception &other)
    : code(other.code),
      message(other.message != nullptr ? sqlite3_mprintf("%s", other.message)
                                       : nullptr) {}

CppSQLite3Exception::~CppSQLite3Exception() { sqlite3_free(message); }

const char *CppSQLite3Exception::CodeName(int32_t code) {
    switch (code) {
    case SQLITE_OK:
        return "SQLITE_OK";
    case SQLITE_ERROR:
        return "SQLITE_ERROR";
    case SQLITE_INTERNAL:
        return "SQLITE_INTERNAL";
    case SQLITE_PERM:
        return "SQLITE_PERM";
    case SQLITE_ABORT:
        return "SQLITE_ABORT";
    case SQLITE_BUSY:
        return "SQLITE_BUSY";
    case SQLITE_LOCKED:
        return "SQLITE_LOCKED";
    case SQLITE_NOMEM:
        return "SQLITE_NOMEM";
    case SQLITE_READONLY:
        return "SQLITE_READONLY";
    case SQLITE_INTERRUPT:
        return "SQLITE_INTERRUPT";
    case SQLITE_IOERR:
        return "SQLITE_IOERR";
    case SQLITE_CORRUPT:
        return "SQLITE_CORRUPT";
    case SQLITE_NOTFOUND:
        return "SQLITE_NOTFOUND";
    case SQLITE_FULL:
        return "SQLITE_FULL";
    case SQLITE_CANTOPEN:
        return "SQLITE_CANTOPEN";
    case SQLITE_PROTOCOL:
        return "SQLITE_PROTOCOL";
    case SQLITE_EMPTY:
        return "SQLITE_EMPTY";
    case SQLITE_SCHEMA:
        return "SQLITE_SCHEMA";
    case SQLITE_TOOBIG:
        return "SQLITE_TOOBIG";
    case SQLITE_CONSTRAINT:
        return "SQLITE_CONSTRAINT";
    case SQLITE_MISMATCH:
        return "SQLITE_MISMATCH";
    case SQLITE_MISUSE:
        return "SQLITE_MISUSE";
    case SQLITE_NOLFS:
        return "SQLITE_NOLFS";
    case SQLITE_AUTH:
        return "SQLITE_AUTH";
    case SQLITE_FORMAT:
        return "SQLITE_FORMAT";
    case SQLITE_RANGE:
        return "SQLITE_RANGE";
    case SQLITE_ROW:
        return "SQLITE_ROW";
    case SQLITE_DONE:
        return "SQLITE_DONE";
    case CPPSQLITE_ERROR:
        return "CPPSQLITE_ERROR";
    default:
        return "UNKNOWN_ERROR";
    }
}

// ---- CppSQLite3DB

CppSQLite3DB::CppSQLite3DB()
    : handle(nullptr), wait_timeout_ms(default_wait_timeout_ms) {}

CppSQLite3DB::~CppSQLite3DB() {
    try {
        Close();
    } catch (...) {
        // A destructor must not throw; the library keeps what it could not
        // close.
    }
}

void CppSQLite3DB::Open(const char *path) {
    sqlite3 *opened = nullptr;
    const int result = sqlite3_open(path, &opened);
    if (result != SQLITE_OK) {
        // The library hands out a connection even on failure, for its message;
        // the exception copies the message before that connection is closed.
        const CppSQLite3Exception error(result, opened != nullptr
                                                    ? sqlite3_errmsg(opened)
                                                    : sqlite3_errstr(result));
        sqlite3_close(opened);
        handle = nullptr;
        throw error;
    }
    handle = opened;
    SetWaitTimeout(wait_timeout_ms);
}

void CppSQLite3DB::Close() {
    if (handle == nullptr)
        return;
    if (sqlite3_close(handle) != SQLITE_OK)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_close_failed);
    handle = nullptr;
}

int32_t CppSQLite3DB::RunStatement(const char *sql) {
    RequireOpen();
    char *error_text = nullptr;
    const int result = sqlite3_exec(handle, sql, nullptr, nullptr, &error_text);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, error_text, true);
    return sqlite3_changes(handle);
}

CppSQLite3Query CppSQLite3DB::RunQuery(const char *sql) {
    RequireOpen();
    sqlite3_stmt *statement = Compile(sql);
    const int result = sqlite3_step(statement);
    if (result == SQLITE_DONE)
        return CppSQLite3Query(handle, statement, true, true);
    if (result == SQLITE_ROW)
        return CppSQLite3Query(handle, statement, false, true);
    const int finalized = sqlite3_finalize(statement);
    throw CppSQLite3Exception(finalized, sqlite3_errmsg(handle));
}

CppSQLite3Statement CppSQLite3DB::Prepare(const char *sql) {
    RequireOpen();
    sqlite3_stmt *statement = Compile(sql);
    return CppSQLite3Statement(handle, statement);
}

void CppSQLite3DB::CopyTo(CppSQLite3DB &target) {
    RequireOpen();
    target.RequireOpen();
    sqlite3_backup *backup =
        sqlite3_backup_init(target.handle, "main", handle, "main");
    if (backup == nullptr)
        throw CppSQLite3Exception(sqlite3_errcode(target.handle),
                                  sqlite3_errmsg(target.handle));
    // All pages in one step; finish reports the step's error, if any.
    sqlite3_backup_step(backup, -1);
    const int result = sqlite3_backup_finish(backup);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, sqlite3_errmsg(target.handle));
}

void CppSQLite3DB::SetWaitTimeout(int32_t ms) {
    wait_timeout_ms = ms;
    if (handle != nullptr)
        sqlite3_busy_timeout(handle, ms);
}

void CppSQLite3DB::RequireOpen() const {
    if (handle == nullptr)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_not_open);
}

sqlite3_stmt *CppSQLite3DB::Compile(const char *sql) {
    RequireOpen();
    sqlite3_stmt *statement = nullptr;
    // Length -1: up to the terminating zero; only the first statement is
    // compiled.
    const int result = sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, sqlite3_errmsg(handle));
    return statement;
}

// ---- CppSQLite3Statement

CppSQLite3Statement::CppSQLite3Statement(sqlite3 *db, sqlite3_stmt *handle)
    : db(db), handle(handle) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement &&other) noexcept
    : db(other.db), handle(std::exchange(other.handle, nullptr)) {}

CppSQLite3Statement::~CppSQLite3Statement() {
    try {
        Release();
    } catch (...) {
        // Release errors are dropped: a destructor must not throw.
    }
}

void CppSQLite3Statement::BindReal(int32_t index, double value) {
    RequireHandle();
    const int result = sqlite3_bind_double(handle, index, value);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, msg_bind_failed);
}

void CppSQLite3Statement::BindText(int32_t index, const char *text) {
    RequireHandle();
    const int result =
        sqlite3_bind_text(handle, index, text, -1, SQLITE_TRANSIENT);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, msg_bind_text_failed);
}

CppSQLite3Query CppSQLite3Statement::RunQuery() {
    RequireOpen();
    RequireHandle();
    const int result = sqlite3_step(handle);
    if (result == SQLITE_DONE)
        return CppSQLite3Query(db, handle, true, false);
    if (result == SQLITE_ROW)
        return CppSQLite3Query(db, handle, false, false);
    const int rewound = sqlite3_reset(handle);
    throw CppSQLite3Exception(rewound, sqlite3_errmsg(db));
}

int32_t CppSQLite3Statement::Run() {
    RequireOpen();
    RequireHandle();
    const int result = sqlite3_step(handle);
    if (result == SQLITE_DONE) {
        const int32_t changes = sqlite3_changes(db);
        const int rewound = sqlite3_reset(handle);
        if (rewound != SQLITE_OK)
            throw CppSQLite3Exception(rewound, sqlite3_errmsg(db));
        return changes;
    }
    // A row or an error: rewind, and report what the rewind says about the
    // step.
    const int rewound = sqlite3_reset(handle);
    throw CppSQLite3Exception(rewound, sqlite3_errmsg(db));
}

void CppSQLite3Statement::Rewind() {
    if (handle == nullptr)
        return;
    const int result = sqlite3_reset(handle);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, sqlite3_errmsg(db));
}

void CppSQLite3Statement::Release() {
    if (handle == nullptr)
        return;
    const int result = sqlite3_finalize(std::exchange(handle, nullptr));
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, sqlite3_errmsg(db));
}

void CppSQLite3Statement::RequireOpen() const {
    if (db == nullptr)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_not_open);
}

void CppSQLite3Statement::RequireHandle() const {
    if (handle == nullptr)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_no_statement);
}

// ---- CppSQLite3Query

CppSQLite3Query::CppSQLite3Query(sqlite3 *db, sqlite3_stmt *handle, bool at_end,
                                 bool owns_handle)
    : db(db), handle(handle), at_end(at_end),
      column_count(sqlite3_column_count(handle)), owns_handle(owns_handle) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query &&other) noexcept
    : db(other.db), handle(std::exchange(other.handle, nullptr)),
      at_end(other.at_end), column_count(other.column_count),
      owns_handle(other.owns_handle) {}

CppSQLite3Query::~CppSQLite3Query() {
    try {
        Release();
    } catch (...) {
        // Release errors are dropped: a destructor must not throw.
    }
}

bool CppSQLite3Query::AtEnd() const {
    RequireHandle();
    return at_end;
}

void CppSQLite3Query::Advance() {
    RequireHandle();
    const int result = sqlite3_step(handle);
    if (result == SQLITE_DONE) {
        at_end = true;
    } else if (result != SQLITE_ROW) {
        // A cursor over a statement it does not own rewinds it instead, so the
        // statement's owner keeps a valid handle.
        sqlite3_stmt *failed = std::exchange(handle, nullptr);
        const int code =
            owns_handle ? sqlite3_finalize(failed) : sqlite3_reset(failed);
        throw CppSQLite3Exception(code, sqlite3_errmsg(db));
    }
}

const char *CppSQLite3Query::FieldText(int32_t index) const {
    RequireHandle();
    if (index < 0 || index > column_count - 1)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_bad_field);
    return reinterpret_cast<const char *>(sqlite3_column_text(handle, index));
}

int32_t CppSQLite3Query::FieldType(int32_t index) const {
    RequireHandle();
    if (index < 0 || index > column_count - 1)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_bad_field);
    return sqlite3_column_type(handle, index);
}

double CppSQLite3Query::FieldReal(int32_t index) const {
    RequireHandle();
    if (index < 0 || index > column_count - 1)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_bad_field);
    return sqlite3_column_double(handle, index);
}

int64_t CppSQLite3Query::FieldInteger(int32_t index) const {
    RequireHandle();
    if (index < 0 || index > column_count - 1)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_bad_field);
    return sqlite3_column_int64(handle, index);
}

void CppSQLite3Query::Release() {
    if (handle == nullptr || !owns_handle)
        return;
    const int result = sqlite3_finalize(std::exchange(handle, nullptr));
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, sqlite3_errmsg(db));
}

void CppSQLite3Query::RequireHandle() const {
    if (handle == nullptr)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, msg_no_statement);
}
