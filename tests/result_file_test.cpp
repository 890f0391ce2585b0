// The result file: header, fixed columns, wide values, exact bytes with CRLF,
// and write failures that must not pass for success.
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/ResultFile.h"
#include "support/TempFile.h"

namespace {

Station MakeStation(double x, double y, const char *point, double h,
                    double value) {
    Station station{};
    station.x = x;
    station.y = y;
    std::strncpy(station.point, point, sizeof station.point - 1);
    station.h = h;
    station.value = value;
    return station;
}

// The C library's own formatting in the untouched C locale: the oracle.
std::string PrintfLine(const Station &s, double r1, double r2, double a,
                       int32_t n) {
    char buffer[2048];
    std::snprintf(
        buffer, sizeof buffer,
        "%12.3lf %12.3lf %10s %10.3lf %10.3lf %10.3lf %10.3lf %10.3lf %10d",
        s.x, s.y, s.point, s.h, s.value, r1, r2, a, n);
    return buffer;
}

const Station worked = MakeStation(497512.5, 5497500.25, "P1", 512.3, -12.345);

} // namespace

TEST(ResultFile, WorkedLineAndHeaderHaveTheSameColumns) {
    const std::string line = FormatResultLine(worked, 0.1, -0.2, 2500, 16);
    EXPECT_EQ(line, "  497512.500  5497500.250         P1    512.300    "
                    "-12.345      0.100     -0.200   2500.000         16");
    EXPECT_EQ(std::strlen(result_header), 102u);
    EXPECT_EQ(line.size(), 102u);
    // Each label ends in the column where its field ends.
    const std::string header = result_header;
    for (size_t end : {12u, 25u, 36u, 47u, 58u, 69u, 80u, 91u, 102u}) {
        SCOPED_TRACE(end);
        EXPECT_NE(header[end - 1], ' ');
        EXPECT_NE(line[end - 1], ' ');
        if (end < 102u) {
            EXPECT_EQ(header[end], ' ');
            EXPECT_EQ(line[end], ' ');
        }
    }
}

TEST(ResultFile, FieldsMatchPrintfIncludingWideValues) {
    struct Case {
        const char *name;
        Station station;
        double r1, r2, half_size;
        int32_t count;
        size_t length;
    };
    const Case cases[] = {
        {"fits", worked, 0.1, -0.2, 2500, 16, 102},
        {"twelve-character name shifts by two",
         MakeStation(1, 2, "ABCDEFGHIJKL", 3, 4), 0, 0, 500, 9, 104},
        {"long name of 99 bytes",
         MakeStation(1, 2, std::string(99, 'N').c_str(), 3, 4), 0, 0, 500, 9,
         191},
        {"wide coordinate", MakeStation(1e12, -5497500.25, "P", 3, 4), 0, 0,
         500, 9, 107},
        {"largest double", MakeStation(DBL_MAX, 0, "P", 0, 0), 0, 0, 0, 0,
         102 + 309 + 4 - 12},
        {"wide height and value",
         MakeStation(0, 0, "P", -1234567.5, 98765432.125), 0, 0, 0, 0, 106},
        {"smallest count", MakeStation(0, 0, "P", 0, 0), 0, 0, 0, INT32_MIN,
         103},
        {"rounding and negative zero",
         MakeStation(2.0005, -0.0001, "", 0.0015, -0.0), 1e-4, -2.5e-4, 0.125,
         0, 102},
        {"not a number and infinity", MakeStation(0, 0, "P", 0, 0), NAN,
         -INFINITY, 0, 0, 102},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line =
            FormatResultLine(c.station, c.r1, c.r2, c.half_size, c.count);
        EXPECT_EQ(line,
                  PrintfLine(c.station, c.r1, c.r2, c.half_size, c.count));
        EXPECT_EQ(line.size(), c.length);
    }
}

// 2026-12-10, issue 19: a name holding a line end (a CSV cell may) broke the
// result into two lines, and a blank split its fields.
TEST(ResultFile, BlanksAndLineEndsInANameBecomeUnderscores) {
    struct Case {
        const char *name, *written;
    };
    const Case cases[] = {{"A 7", "A_7"},
                          {"North\nside", "North_side"},
                          {"tab\tand\rCR", "tab_and_CR"},
                          {"K\xf6ln", "K\xf6ln"}}; // the code page's own
    for (const Case &c : cases) {
        SCOPED_TRACE(c.written);
        const std::string line =
            FormatResultLine(MakeStation(1, 2, c.name, 3, 4), 0, 0, 500, 9);
        EXPECT_EQ(line.substr(26, 10),
                  std::string(10 - std::strlen(c.written), ' ') + c.written);
        EXPECT_EQ(line.size(), 102u);
    }
}

TEST(ResultFile, FileHoldsExactBytesWithCrlf) {
    TTempFile file("result.dat");
    file.Write("old content that must be replaced, and longer than the new one "
               "........................"
               "..............................................................."
               "...........................");
    TResultFile result;
    int error = 0;
    ASSERT_TRUE(result.Open(file.Path(), error));
    EXPECT_TRUE(result.IsOpen());
    result.WriteHeader();
    result.WriteStation(worked, 0.1, -0.2, 2500, 16);
    result.WriteStation(MakeStation(1, 2, "ABCDEFGHIJKL", 3, 4), 0, 0, 500, 9);
    result.Close();
    EXPECT_FALSE(result.IsOpen());
    EXPECT_EQ(file.Read(),
              std::string(result_header) + "\r\n" +
                  FormatResultLine(worked, 0.1, -0.2, 2500, 16) + "\r\n" +
                  FormatResultLine(MakeStation(1, 2, "ABCDEFGHIJKL", 3, 4), 0,
                                   0, 500, 9) +
                  "\r\n");
    EXPECT_NO_THROW(result.Close()); // closing a closed file does nothing
}

TEST(ResultFile, NumbersKeepThePointUnderACommaDecimalProcessLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "de_DE") == nullptr)
        GTEST_SKIP() << "no comma-decimal locale installed";
    const std::string line = FormatResultLine(worked, 0.1, -0.2, 2500, 16);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(line, "  497512.500  5497500.250         P1    512.300    "
                    "-12.345      0.100     -0.200   2500.000         16");
}

TEST(ResultFile, OpenFailsInAMissingFolder) {
    TResultFile result;
    int error = 0;
    EXPECT_FALSE(result.Open(
        testing::TempDir() + "korvanel_no_such_folder/out.dat", error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(result.IsOpen());
    EXPECT_NO_THROW(result.Close());
}

TEST(ResultFile, LostWritesAreReportedWithPathAndReason) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full not available";
    TResultFile result;
    int error = 0;
    ASSERT_TRUE(result.Open("/dev/full", error));
    result.WriteHeader();
    // A write that fails once the buffer fills stops the writing at once.
    try {
        for (int i = 0; i < 2000; ++i)
            result.WriteStation(worked, 0.1, -0.2, 2500, 16);
        ADD_FAILURE() << "2000 lines went to a full device without an error";
    } catch (const FileError &error) {
        EXPECT_STREQ(
            error.what(),
            "Cannot write file \"/dev/full\". No space left on device");
    }
    // The close reports the loss too, once more.
    EXPECT_THROW(result.Close(), FileError);
    EXPECT_FALSE(result.IsOpen());
    // A loss that only the final flush meets is reported by Close.
    TResultFile flushed;
    ASSERT_TRUE(flushed.Open("/dev/full", error));
    flushed.WriteHeader();
    try {
        flushed.Close();
        ADD_FAILURE() << "a lost result passed for success";
    } catch (const FileError &error) {
        EXPECT_STREQ(
            error.what(),
            "Cannot write file \"/dev/full\". No space left on device");
    }
    // The destructor drops the same error without throwing.
    EXPECT_NO_THROW({
        TResultFile dropped;
        ASSERT_TRUE(dropped.Open("/dev/full", error));
        dropped.WriteHeader();
    });
}

// 2026-12-10, issue 14: the earlier result was emptied before the run could
// fail.
TEST(ResultFile, EarlierResultStaysUntilTheNewOneIsComplete) {
    TTempFile file("result.dat");
    const std::string earlier = "an earlier result\r\n";
    file.Write(earlier);
    const std::filesystem::path path(file.Path());
    const std::string part = path.filename().string() + ".part-";
    const auto leftovers = [&] {
        int count = 0;
        for (const auto &entry :
             std::filesystem::directory_iterator(path.parent_path()))
            count += entry.path().filename().string().rfind(part, 0) == 0;
        return count;
    };
    int error = 0;
    {
        // Written but never closed: a run that ended before its end.
        TResultFile dropped;
        ASSERT_TRUE(dropped.Open(file.Path(), error));
        dropped.WriteHeader();
        dropped.WriteStation(worked, 0.1, -0.2, 2500, 16);
        EXPECT_EQ(file.Read(), earlier);
        EXPECT_EQ(leftovers(), 1); // the new result waits beside it
    }
    EXPECT_EQ(file.Read(), earlier);
    EXPECT_EQ(leftovers(), 0);

    TResultFile result;
    ASSERT_TRUE(result.Open(file.Path(), error));
    result.WriteHeader();
    result.Discard();
    EXPECT_EQ(file.Read(), earlier);
    ASSERT_TRUE(result.Open(file.Path(), error));
    result.WriteHeader();
    result.Close();
    EXPECT_EQ(file.Read(), std::string(result_header) + "\r\n");
    EXPECT_EQ(leftovers(), 0);
    // An ordinary file, not the private one a temporary file starts as.
    struct stat status {};
    ASSERT_EQ(stat(file.Path().c_str(), &status), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
}
