// The point table: load and duplicate policy, window query texts, borders,
// row order and the conversion of the returned field texts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Locale.h"
#include "store/PointTable.h"

namespace {

struct Row {
    double x, y, u;
};

class PointTable : public testing::Test {
  protected:
    void Load(const std::vector<Row> &rows) {
        CppSQLite3Statement insert = BeginLoad(db);
        for (const Row &row : rows)
            AddStation(insert, row.x, row.y, row.u);
        EndLoad(db, insert);
    }
    void TearDown() override { SetDecimalSeparator('\0'); }
    CppSQLite3DB db;
};

// The two forms of the window queries over the loaded table: an index of
// their own, and a shared index with a connection of their own.
struct WindowForms {
    explicit WindowForms(CppSQLite3DB &db)
        : own(db), shared(db), sharing(shared) {}
    TPointWindows own;
    TPointIndex shared;
    TPointWindows sharing;
    struct Form {
        const char *name;
        TPointWindows *windows;
    };
    std::vector<Form> Both() {
        return {{"own index", &own}, {"shared index", &sharing}};
    }
};

} // namespace

TEST(PointTableSql, BoundsAreWrittenWithSixDecimalsAndAPoint) {
    EXPECT_EQ(CountInSquareSql(500000, 5500000, 2500),
              "select COALESCE(COUNT(*),0) as n from xyz where x "
              ">=497500.000000 and x <=502500.000000 and y "
              ">=5497500.000000 and y <= 5502500.000000\n");
    EXPECT_EQ(FetchInSquareSql(-1.25, 0.0000004, 0.5),
              "select x,y,u from xyz where x >=-1.750000 and x <=-0.750000 and "
              "y >=-0.500000 and y <= 0.500000\n");
    // The text grows with the bounds: 1e300 has 301 integer digits. The C
    // library's "%f" in the (untouched) C locale is the oracle here.
    char expected[400];
    std::snprintf(expected, sizeof expected, " and x <=%f and", 1e300 + 1);
    ASSERT_EQ(std::string(expected).size(), 9u + 301u + 7u + 4u);
    EXPECT_NE(CountInSquareSql(1e300, 0, 1).find(expected), std::string::npos);
}

TEST_F(PointTable, EmptyTableGivesNothing) {
    Load({});
    EXPECT_EQ(CountInSquare(db, 0, 0, 1e6), 0);
    const SquareRows rows = FetchInSquare(db, 0, 0, 1e6);
    EXPECT_TRUE(rows.x.empty() && rows.y.empty() && rows.u.empty());
    db.Close(); // nothing left unreleased by the queries
}

TEST_F(PointTable, FirstStationAtAPositionKeepsItsValue) {
    // 1000 and 1000.0 are the same position: whole numbers are stored as
    // integers.
    Load({{1000, 2000, 1.5}, {1000.0, 2000.0, 9.0}, {1000, 2000.5, 2.5}});
    EXPECT_EQ(CountInSquare(db, 1000, 2000, 10), 2);
    const SquareRows rows = FetchInSquare(db, 1000, 2000, 10);
    ASSERT_EQ(rows.u.size(), 2u);
    EXPECT_EQ(rows.u[0], 1.5);
    EXPECT_EQ(rows.u[1], 2.5);
}

TEST_F(PointTable, BordersAreInsideAsWrittenInTheQuery) {
    Load({{90, 100, 1},
          {110, 100, 2},
          {100, 90, 3},
          {100, 110, 4},
          {89.999, 100, 5},
          {100, 110.001, 6},
          {100.0000003, 100, 7}});
    struct Case {
        const char *name;
        double x, y, a;
        int32_t expected;
    };
    const Case cases[] = {
        {"all four borders", 100, 100, 10, 5},
        {"just outside on both sides", 100, 100, 10.0009, 5},
        {"widened to catch them", 100, 100, 10.001, 7},
        // 100 + 0.0000002 is written as 100.000000, so 100.0000003 lies
        // outside.
        {"bound rounded to six decimals", 100, 100, 0.0000002, 0},
        {"bound rounded up to six decimals", 100, 100, 0.0000006, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CountInSquare(db, c.x, c.y, c.a), c.expected);
        EXPECT_EQ(
            static_cast<int32_t>(FetchInSquare(db, c.x, c.y, c.a).x.size()),
            c.expected);
    }
}

TEST_F(PointTable, RowsComeInAscendingXThenY) {
    // Stations on a 6 x 5 lattice with repeated x values, loaded in shuffled
    // order.
    std::vector<Row> rows;
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 5; ++j)
            rows.push_back(
                {1000.0 + 250.0 * i, -500.0 + 125.5 * j, i * 10.0 + j});
    std::mt19937 random(3);
    std::shuffle(rows.begin(), rows.end(), random);
    Load(rows);
    std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
        return std::tie(a.x, a.y) < std::tie(b.x, b.y);
    });
    const SquareRows fetched = FetchInSquare(db, 1500, 0, 1000);
    ASSERT_EQ(fetched.x.size(), rows.size());
    for (size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(fetched.x[k], rows[k].x);
        EXPECT_EQ(fetched.y[k], rows[k].y);
        EXPECT_EQ(fetched.u[k], rows[k].u);
    }
}

TEST_F(PointTable, FieldTextsConvertInTheUsersFormat) {
    // 0.1 + 0.2 has 17 significant digits; the library's text keeps 15.
    Load({{1000, 1000.5, -12.345}, {0.1 + 0.2, 3, 1e-20}});
    struct Case {
        const char *name;
        char separator;
    };
    const Case cases[] = {{"point", '.'}, {"comma", ','}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetDecimalSeparator(c.separator);
        const SquareRows rows = FetchInSquare(db, 500, 500, 1000);
        ASSERT_EQ(rows.x.size(), 2u);
        EXPECT_EQ(rows.x[0], 0.3);
        EXPECT_EQ(rows.u[0], 1e-20); // exponent form of the text
        EXPECT_EQ(rows.x[1], 1000.0);
        EXPECT_EQ(rows.y[1], 1000.5);
        EXPECT_EQ(rows.u[1], -12.345);
    }
}

TEST_F(PointTable, SeparatorNeitherPointNorCommaFailsOnReals) {
    Load({{1000, 2000, 5}, {1000.5, 2000, 6}});
    SetDecimalSeparator('\'');
    const SquareRows whole =
        FetchInSquare(db, 1000, 2000, 0.25); // integers only
    ASSERT_EQ(whole.x.size(), 1u);
    EXPECT_EQ(whole.u[0], 5.0);
    EXPECT_THROW(FetchInSquare(db, 1000, 2000, 10), ConversionError);
    EXPECT_EQ(CountInSquare(db, 1000, 2000, 10), 2);
    db.Close(); // the failed fetch released its cursor
}

TEST_F(PointTable, QueriesOnAClosedDatabaseThrow) {
    EXPECT_THROW(CountInSquare(db, 0, 0, 1), CppSQLite3Exception);
    EXPECT_THROW(FetchInSquare(db, 0, 0, 1), CppSQLite3Exception);
}

TEST_F(PointTable, WindowIndexAnswersAsTheQueryTexts) {
    // Stations with two decimals, with more digits than the library's text
    // keeps, on whole metres (stored as integers), and negative; windows whose
    // bounds fall exactly on stored coordinates, just beside them, and on the
    // six-decimal rounding of the half-size. Both separators, one object.
    std::mt19937 random(17);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // First a stray station far away and a column of stations on one x, which
    // bucket edges must neither be stretched by nor split.
    std::vector<Row> rows{{5e9, 5500000.5, 1.0}};
    for (int k = 0; k < 30; ++k) {
        rows.push_back({1234.5, 5500000.0 + 97.0 * k, 0.5 * k});
    }
    for (int k = 0; k < 400; ++k) {
        double x =
            std::round((-2000.0 + 6000.0 * unit(random)) * 100.0) / 100.0;
        double y =
            std::round((5500000.0 + 4000.0 * unit(random)) * 100.0) / 100.0;
        if (k % 7 == 0)
            x = std::round(x);
        if (k % 11 == 0)
            y += 0.1 + 0.2; // 17 significant digits
        rows.push_back({x, y, 10.0 * unit(random) - 5.0});
    }
    Load(rows);
    WindowForms forms(db);
    for (const char separator : {'.', ','}) {
        SetDecimalSeparator(separator);
        for (int k = 0; k < 600; ++k) {
            const WindowForms::Form form = forms.Both()[k % 2];
            SCOPED_TRACE(form.name);
            TPointWindows &windows = *form.windows;
            const Row &near = rows[k % rows.size()];
            const double a =
                k % 3 == 0 ? 250.0
                           : (k % 3 == 1 ? 0.0000006 : 100.0 * unit(random));
            // centre so that a bound lands on a stored coordinate, or beside it
            const double x = k % 2 == 0 ? near.x - a : near.x + 0.0000004;
            const double y = k % 4 < 2 ? near.y + a : near.y;
            SCOPED_TRACE(std::to_string(x) + " " + std::to_string(y) + " " +
                         std::to_string(a));
            ASSERT_EQ(windows.CountInSquare(x, y, a),
                      CountInSquare(db, x, y, a));
            const SquareRows expected = FetchInSquare(db, x, y, a);
            const SquareRows fetched = windows.FetchInSquare(x, y, a);
            // exact: the same rows in the same order, read from the same texts
            EXPECT_EQ(fetched.x, expected.x);
            EXPECT_EQ(fetched.y, expected.y);
            EXPECT_EQ(fetched.u, expected.u);
        }
    }
    EXPECT_EQ(forms.own.CountAllStations(), CountAllStations(db));
    EXPECT_EQ(forms.sharing.CountAllStations(), CountAllStations(db));
}

TEST_F(PointTable, WindowIndexOutlivesAFailedFetchAndHoldsTheConnection) {
    Load({{1000, 2000, 5}, {1000.5, 2000, 6}});
    {
        TPointWindows windows(db);
        SetDecimalSeparator('\'');
        EXPECT_THROW(windows.FetchInSquare(1000, 2000, 10), ConversionError);
        SetDecimalSeparator('.');
        const SquareRows rows = windows.FetchInSquare(1000, 2000, 10);
        ASSERT_EQ(rows.x.size(), 2u);
        EXPECT_EQ(rows.x[1], 1000.5);
        EXPECT_EQ(windows.CountInSquare(1000, 2000, 0.25), 1);
        // Its statements are open while it lives.
        EXPECT_THROW(db.Close(), CppSQLite3Exception);
    }
    EXPECT_NO_THROW(db.Close());
    EXPECT_THROW(TPointWindows closed(db), CppSQLite3Exception);
}

TEST_F(PointTable, WindowIndexAnswersAsTheQueryTextsOnAwkwardTables) {
    // NULLs (from values that are not numbers), a text and a blob, integers
    // beyond 2^53 next to reals, and bounds that are not finite numbers: the
    // same rows, the same numbers, or the same error as the query texts.
    Load({{1000, 2000, 5}, {1000.5, 2000, 6}, {999.75, 2000.25, 7}});
    db.RunStatement(
        "insert into xyz values (NULL, 2000, 1);"
        "insert into xyz values (1000.25, 2000, NULL);"
        "insert into xyz values ('abc', 2000, 2);"
        "insert into xyz values (x'00', 2000, 3);"
        "insert into xyz values (1152921504606846977, 5, 8);"   // 2^60 + 1, an
                                                                // integer
        "insert into xyz values (1152921504606846976.0, 6, 9);" // 2^60
        "insert into xyz values (9007199254740993, 7, 10);");   // 2^53 + 1
    struct Case {
        const char *name;
        double x, y, a;
    };
    const Case cases[] = {
        {"NULL value inside", 1000, 2000, 1},
        {"without the NULL value", 1000, 2000, 0.2},
        {"texts and blobs never inside", 0, 2000, 1e6},
        {"huge integers", 1152921504606846976.0, 6, 1},
        {"near 2^53", 9007199254740992.0, 7, 1},
        {"bound beyond double", 1000, 2000, 1e308 * 10},
        {"half-size overflowing", 1e308, 2000, 1e308},
    };
    WindowForms forms(db);
    for (const Case &c : cases) {
        for (const WindowForms::Form &form : forms.Both()) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(form.name);
            TPointWindows &windows = *form.windows;
            std::string expected_error, error;
            int32_t expected_count = -1, count = -1;
            SquareRows expected, rows;
            try {
                expected_count = CountInSquare(db, c.x, c.y, c.a);
                expected = FetchInSquare(db, c.x, c.y, c.a);
            } catch (const CppSQLite3Exception &e) {
                expected_error = e.errorMessage();
            } catch (const ConversionError &e) {
                expected_error = e.what();
            }
            try {
                count = windows.CountInSquare(c.x, c.y, c.a);
                rows = windows.FetchInSquare(c.x, c.y, c.a);
            } catch (const CppSQLite3Exception &e) {
                error = e.errorMessage();
            } catch (const ConversionError &e) {
                error = e.what();
            }
            EXPECT_EQ(error, expected_error);
            EXPECT_EQ(count, expected_count);
            EXPECT_EQ(rows.x, expected.x);
            EXPECT_EQ(rows.y, expected.y);
            EXPECT_EQ(rows.u, expected.u);
        }
    }
    EXPECT_EQ(forms.sharing.CountAllStations(), CountAllStations(db));
}

TEST_F(PointTable, SharedIndexAnswersEveryThreadAsTheQueryTexts) {
    // Threads with window queries of their own over one index, each asking
    // its own windows at the same time; every answer must be the query
    // texts' (asked beforehand on this thread).
    std::mt19937 random(23);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Row> rows;
    for (int k = 0; k < 2000; ++k)
        rows.push_back(
            {std::round(500000.0 + 8000.0 * unit(random)),
             5500000.0 + std::round(8000.0 * unit(random) * 100) / 100,
             unit(random)});
    Load(rows);
    struct Query {
        double x, y, a;
        int32_t count;
        SquareRows rows;
    };
    constexpr int threads = 4, per_thread = 60;
    std::vector<std::vector<Query>> queries(threads);
    for (int t = 0; t < threads; ++t) {
        for (int k = 0; k < per_thread; ++k) {
            const Row &near = rows[(t * per_thread + k) % rows.size()];
            Query q{near.x, near.y, 100.0 + 900.0 * unit(random), 0, {}};
            q.count = CountInSquare(db, q.x, q.y, q.a);
            q.rows = FetchInSquare(db, q.x, q.y, q.a);
            queries[t].push_back(std::move(q));
        }
    }
    TPointIndex index(db);
    std::vector<int> wrong(threads, 0);
    {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                TPointWindows windows(index);
                for (const Query &q : queries[t]) {
                    const SquareRows got = windows.FetchInSquare(q.x, q.y, q.a);
                    wrong[t] +=
                        windows.CountInSquare(q.x, q.y, q.a) != q.count ||
                        got.x != q.rows.x || got.y != q.rows.y ||
                        got.u != q.rows.u;
                }
            });
        }
        for (std::thread &worker : workers)
            worker.join();
    }
    for (int t = 0; t < threads; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(wrong[t], 0);
    }
}
