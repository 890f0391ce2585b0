// The SQL access layer: ownership, cursor movement, and the codes and messages
// of every error it throws.
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "store/CppSQLite3.h"

namespace {

// Runs action, which must throw a CppSQLite3Exception; returns it for
// inspection.
struct Caught {
    bool thrown = false;
    int32_t code = -1;
    std::string message;
};

Caught CatchSql(const std::function<void()> &action) {
    Caught caught;
    try {
        action();
    } catch (const CppSQLite3Exception &error) {
        caught.thrown = true;
        caught.code = error.errorCode();
        caught.message = error.errorMessage();
    }
    return caught;
}

class SqlLayer : public testing::Test {
  protected:
    void SetUp() override {
        db.Open(":memory:");
        db.RunStatement("create table t (a number, b number, c text);"
                        "insert into t values (1000, 1000.5, 'x');"
                        "insert into t values (2, -0.25, NULL);");
    }
    CppSQLite3DB db;
};

} // namespace

TEST(SqlException, CodeNames) {
    struct Case {
        int32_t code;
        const char *name;
    };
    const Case cases[] = {
        {0, "SQLITE_OK"},          {1, "SQLITE_ERROR"},
        {5, "SQLITE_BUSY"},        {14, "SQLITE_CANTOPEN"},
        {19, "SQLITE_CONSTRAINT"}, {25, "SQLITE_RANGE"},
        {26, "UNKNOWN_ERROR"},     {100, "SQLITE_ROW"},
        {101, "SQLITE_DONE"},      {1000, "CPPSQLITE_ERROR"},
        {-1, "UNKNOWN_ERROR"},     {SQLITE_IOERR_READ, "UNKNOWN_ERROR"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(CppSQLite3Exception::CodeName(c.code), c.name);
    }
}

TEST(SqlException, MessageIsFormattedAndCopiedIndependently) {
    char *owned = sqlite3_mprintf("detail %d", 7); // freed by the exception
    CppSQLite3Exception original(19, owned, true);
    EXPECT_STREQ(original.errorMessage(), "SQLITE_CONSTRAINT[19]: detail 7");
    const CppSQLite3Exception copy(original);
    EXPECT_EQ(copy.errorCode(), 19);
    EXPECT_STREQ(copy.errorMessage(), original.errorMessage());
    EXPECT_NE(copy.errorMessage(),
              original.errorMessage()); // a copy of its own
    const CppSQLite3Exception empty(CPPSQLITE_ERROR,
                                    static_cast<const char *>(nullptr));
    EXPECT_STREQ(empty.errorMessage(), "CPPSQLITE_ERROR[1000]: ");
}

TEST(SqlLayerClosed, EveryOperationNeedsAnOpenDatabase) {
    CppSQLite3DB closed;
    const std::function<void()> actions[] = {
        [&] { closed.RunStatement("select 1;"); },
        [&] { closed.RunQuery("select 1;"); },
        [&] { closed.Prepare("select 1;"); },
    };
    for (const auto &action : actions) {
        const Caught caught = CatchSql(action);
        EXPECT_TRUE(caught.thrown);
        EXPECT_EQ(caught.code, 1000);
        EXPECT_EQ(caught.message, "CPPSQLITE_ERROR[1000]: Database not open");
    }
    EXPECT_NO_THROW(closed.Close()); // closing a closed connection does nothing
}

TEST(SqlLayerClosed, OpenFailureReportsTheLibrarysCodeAndStaysClosed) {
    CppSQLite3DB db;
    const Caught caught =
        CatchSql([&] { db.Open("/nonexistent-folder-of-korvanel/x.db"); });
    EXPECT_EQ(caught.code, SQLITE_CANTOPEN);
    EXPECT_EQ(caught.message,
              "SQLITE_CANTOPEN[14]: unable to open database file");
    EXPECT_FALSE(db.IsOpen());
}

TEST_F(SqlLayer, QueryWalksRowsAndGivesTheLibrarysTexts) {
    CppSQLite3Query query =
        db.RunQuery("select a, b, c from t order by a desc;");
    ASSERT_FALSE(query.AtEnd());
    EXPECT_STREQ(query.FieldText(0), "1000"); // whole number stored as integer
    EXPECT_STREQ(query.FieldText(1), "1000.5");
    EXPECT_STREQ(query.FieldText(2), "x");
    query.Advance();
    ASSERT_FALSE(query.AtEnd());
    EXPECT_STREQ(query.FieldText(0), "2");
    EXPECT_STREQ(query.FieldText(1), "-0.25");
    EXPECT_EQ(query.FieldText(2), nullptr); // SQL NULL
    query.Advance();
    EXPECT_TRUE(query.AtEnd());
}

TEST_F(SqlLayer, QueryWithoutRowsStartsAtEnd) {
    CppSQLite3Query query = db.RunQuery("select a from t where a > 5000;");
    EXPECT_TRUE(query.AtEnd());
}

TEST_F(SqlLayer, CursorErrors) {
    CppSQLite3Query query = db.RunQuery("select a, b, c from t;");
    struct Case {
        const char *name;
        std::function<void()> action;
        int32_t code;
        const char *message;
    };
    const Case before_release[] = {
        {"index past the columns", [&] { query.FieldText(3); }, 1000,
         "CPPSQLITE_ERROR[1000]: Invalid field index requested"},
        {"negative index", [&] { query.FieldText(-1); }, 1000,
         "CPPSQLITE_ERROR[1000]: Invalid field index requested"},
    };
    for (const Case &c : before_release) {
        SCOPED_TRACE(c.name);
        const Caught caught = CatchSql(c.action);
        EXPECT_EQ(caught.code, c.code);
        EXPECT_EQ(caught.message, c.message);
    }
    query.Release();
    EXPECT_NO_THROW(query.Release()); // a second release does nothing
    const Case after_release[] = {
        {"AtEnd", [&] { query.AtEnd(); }, 1000,
         "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer"},
        {"Advance", [&] { query.Advance(); }, 1000,
         "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer"},
        {"FieldText", [&] { query.FieldText(0); }, 1000,
         "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer"},
    };
    for (const Case &c : after_release) {
        SCOPED_TRACE(c.name);
        const Caught caught = CatchSql(c.action);
        EXPECT_EQ(caught.code, c.code);
        EXPECT_EQ(caught.message, c.message);
    }
}

TEST_F(SqlLayer, FailingStepsThrowTheLibrarysCodeAndMessage) {
    const Caught syntax = CatchSql([&] { db.RunStatement("selec 1;"); });
    EXPECT_EQ(syntax.code, SQLITE_ERROR);
    EXPECT_EQ(syntax.message, "SQLITE_ERROR[1]: near \"selec\": syntax error");

    const Caught compile =
        CatchSql([&] { db.RunQuery("select z from nowhere;"); });
    EXPECT_EQ(compile.code, SQLITE_ERROR);
    EXPECT_EQ(compile.message, "SQLITE_ERROR[1]: no such table: nowhere");

    const Caught first_step =
        CatchSql([&] { db.RunQuery("select abs(-9223372036854775808);"); });
    EXPECT_EQ(first_step.code, SQLITE_ERROR);
    EXPECT_EQ(first_step.message, "SQLITE_ERROR[1]: integer overflow");

    // The second row fails: Advance finalizes the statement and throws.
    CppSQLite3Query query =
        db.RunQuery("select abs(v) from (select 1 as v union all select "
                    "-9223372036854775808);");
    ASSERT_FALSE(query.AtEnd());
    const Caught advance = CatchSql([&] { query.Advance(); });
    EXPECT_EQ(advance.code, SQLITE_ERROR);
    EXPECT_EQ(advance.message, "SQLITE_ERROR[1]: integer overflow");
    EXPECT_TRUE(CatchSql([&] { query.AtEnd(); }).thrown); // the handle is gone
    db.Close(); // nothing left unreleased
}

TEST_F(SqlLayer, StatementRunsRepeatedlyWithItsBoundValues) {
    db.RunStatement("create table p (x number, y number, PRIMARY KEY (x));");
    CppSQLite3Statement insert =
        db.Prepare("insert or ignore into p values (?, ?);");
    insert.BindReal(1, 1.5);
    insert.BindReal(2, 2.5);
    EXPECT_EQ(insert.Run(), 1);
    EXPECT_EQ(insert.Run(), 0); // same values still bound: ignored duplicate
    insert.BindReal(1, 3.0);
    EXPECT_EQ(insert.Run(), 1);
    insert.Release();
    CppSQLite3Query query = db.RunQuery("select count(*), sum(y) from p;");
    EXPECT_STREQ(query.FieldText(0), "2");
    EXPECT_STREQ(query.FieldText(1), "5.0");
}

TEST_F(SqlLayer, StatementErrors) {
    db.RunStatement("create table p (x number PRIMARY KEY);");
    CppSQLite3Statement insert = db.Prepare("insert into p values (?);");
    insert.BindReal(1, 1.0);
    insert.Run();
    const Caught duplicate = CatchSql([&] { insert.Run(); });
    EXPECT_EQ(duplicate.code, SQLITE_CONSTRAINT);
    EXPECT_EQ(duplicate.message,
              "SQLITE_CONSTRAINT[19]: UNIQUE constraint failed: p.x");
    insert.BindReal(1, 2.0);
    EXPECT_EQ(insert.Run(), 1); // rewound after the failure, usable again

    const Caught range = CatchSql([&] { insert.BindReal(2, 1.0); });
    EXPECT_EQ(range.code, SQLITE_RANGE);
    EXPECT_EQ(range.message, "SQLITE_RANGE[25]: Error binding double param");

    // A statement that yields a row is not something Run can finish.
    CppSQLite3Statement select = db.Prepare("select 1;");
    EXPECT_TRUE(CatchSql([&] { select.Run(); }).thrown);

    insert.Release();
    EXPECT_NO_THROW(insert.Release());
    EXPECT_NO_THROW(insert.Rewind()); // nothing to rewind
    const Caught released = CatchSql([&] { insert.BindReal(1, 1.0); });
    EXPECT_EQ(released.message,
              "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
    EXPECT_EQ(CatchSql([&] { insert.Run(); }).message,
              "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
}

TEST_F(SqlLayer, CloseFailsWhileAStatementIsUnreleased) {
    CppSQLite3Statement statement = db.Prepare("select a from t;");
    const Caught caught = CatchSql([&] { db.Close(); });
    EXPECT_EQ(caught.code, 1000);
    EXPECT_EQ(caught.message,
              "CPPSQLITE_ERROR[1000]: Unable to close database");
    EXPECT_TRUE(db.IsOpen());
    EXPECT_NO_THROW(db.RunStatement("select 1;")); // still usable
    statement.Release();
    db.Close();
    EXPECT_FALSE(db.IsOpen());
}

TEST_F(SqlLayer, MovedHandlesAreOwnedOnce) {
    CppSQLite3Query first = db.RunQuery("select a from t;");
    CppSQLite3Query second(std::move(first));
    EXPECT_TRUE(CatchSql([&] {
                    first.AtEnd();
                }).thrown); // NOLINT: moved-from has no handle
    EXPECT_FALSE(second.AtEnd());
    CppSQLite3Statement statement = db.Prepare("select a from t;");
    CppSQLite3Statement taken(std::move(statement));
    EXPECT_TRUE(CatchSql([&] { statement.BindReal(1, 0.0); }).thrown); // NOLINT
    second.Release();
    taken.Release();
    db.Close(); // both finalized exactly once
}

TEST_F(SqlLayer, CopyGivesAnIndependentConnectionOverTheSameRows) {
    CppSQLite3DB copy;
    copy.Open(":memory:");
    copy.RunStatement("create table old (z);"); // replaced by the copy
    db.CopyTo(copy);
    CppSQLite3Query query = copy.RunQuery("select a, b, c from t order by a;");
    ASSERT_FALSE(query.AtEnd());
    EXPECT_STREQ(query.FieldText(0), "2");
    EXPECT_STREQ(query.FieldText(1), "-0.25");
    query.Advance();
    ASSERT_FALSE(query.AtEnd());
    EXPECT_STREQ(query.FieldText(0), "1000"); // still stored as an integer
    EXPECT_STREQ(query.FieldText(1), "1000.5");
    query.Advance();
    EXPECT_TRUE(query.AtEnd());
    query.Release();
    EXPECT_STREQ(
        CatchSql([&] { copy.RunQuery("select * from old;"); }).message.c_str(),
        "SQLITE_ERROR[1]: no such table: old");
    // Changes to the copy stay in the copy.
    copy.RunStatement("delete from t;");
    CppSQLite3Query original = db.RunQuery("select COUNT(*) from t;");
    EXPECT_STREQ(original.FieldText(0), "2");
    original.Release();

    CppSQLite3DB closed;
    EXPECT_EQ(CatchSql([&] { db.CopyTo(closed); }).message,
              "CPPSQLITE_ERROR[1000]: Database not open");
}

TEST_F(SqlLayer, PreparedQueryBindsTextsAndGivesStoredNumbers) {
    CppSQLite3Statement statement = db.Prepare(
        "select a, b, c, ? from t where b >= CAST(? AS REAL) order by a;");
    statement.BindText(1, "echo");
    statement.BindText(2, "-0.250000");
    {
        CppSQLite3Query query = statement.RunQuery();
        ASSERT_FALSE(query.AtEnd());
        EXPECT_EQ(query.FieldType(0), field_integer);
        EXPECT_EQ(query.FieldInteger(0), 2);
        EXPECT_EQ(query.FieldType(1), field_real);
        EXPECT_EQ(query.FieldReal(1), -0.25);
        EXPECT_EQ(query.FieldType(2), field_null);
        EXPECT_EQ(query.FieldType(3), field_text);
        EXPECT_STREQ(query.FieldText(3), "echo");
        EXPECT_STREQ(CatchSql([&] { query.FieldType(4); }).message.c_str(),
                     "CPPSQLITE_ERROR[1000]: Invalid field index requested");
        query.Advance();
        ASSERT_FALSE(query.AtEnd());
        EXPECT_EQ(query.FieldInteger(0), 1000);
        query.Advance();
        EXPECT_TRUE(query.AtEnd());
    }
    // Rewound, the statement runs again with a new binding.
    statement.Rewind();
    statement.BindText(2, "1000");
    CppSQLite3Query again = statement.RunQuery();
    ASSERT_FALSE(again.AtEnd());
    EXPECT_EQ(again.FieldReal(1), 1000.5);
}

TEST_F(SqlLayer, FailedStepOfAPreparedQueryLeavesTheStatementUsable) {
    // abs() of the smallest integer overflows on the second row.
    db.RunStatement("create table big (v integer); insert into big values (-1);"
                    "insert into big values (-9223372036854775808);");
    CppSQLite3Statement statement =
        db.Prepare("select abs(v) from big order by rowid;");
    {
        CppSQLite3Query query = statement.RunQuery();
        ASSERT_FALSE(query.AtEnd());
        EXPECT_STREQ(query.FieldText(0), "1");
        EXPECT_STREQ(CatchSql([&] { query.Advance(); }).message.c_str(),
                     "SQLITE_ERROR[1]: integer overflow");
    }
    statement.Rewind();
    CppSQLite3Query again = statement.RunQuery();
    ASSERT_FALSE(again.AtEnd());
    EXPECT_STREQ(again.FieldText(0), "1");
    again.Release(); // does not own the statement: nothing happens
    statement.Release();
    EXPECT_NO_THROW(db.Close());
}
