// Normalising and parsing station lines: separators, blanks, both decimal
// separators, quoted names, short and long lines, number forms and names.
#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/StationFile.h"
#include "support/TempFile.h"

TEST(NormaliseLine, SeparatorsAndBlanks) {
    struct Case {
        const char *name;
        std::string line;
        char separator;
        std::string expected;
    };
    const Case cases[] = {
        {"mixed separators", "  10.5\t20.5;P1,350   -1.5  ", '.',
         "10.5 20.5 P1 350 -1.5"},
        {"comma locale keeps commas", "10,5;20,5;P1;350;-1,5", ',',
         "10,5 20,5 P1 350 -1,5"},
        {"separators only", ",,;;\t ", '.', ""},
        {"empty", "", '.', ""},
        {"control characters trimmed at the ends", "\x01\x1f a  b \x1f", '.',
         "a b"},
        {"control characters kept inside",
         "a\x01\x01"
         "b",
         '.',
         "a\x01\x01"
         "b"},
        {"DEL is not a blank", "a \x7f", '.', "a \x7f"},
        {"space before comma", "a ,b", '.', "a b"},
        {"8-bit bytes are not blanks", "\xC5\x99 ", '.', "\xC5\x99"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NormaliseLine(c.line, c.separator), c.expected);
    }
}

TEST(ParseStationLine, LinesThatYieldAStation) {
    struct Case {
        const char *name;
        const char *line;
        char separator;
        double x, y;
        const char *point;
        double h, value;
    };
    const Case cases[] = {
        {"spaces", "10.5 20.5 P1 350 -1.5", '.', 10.5, 20.5, "P1", 350, -1.5},
        {"semicolons", "10.5;20.5;P1;350;-1.5", '.', 10.5, 20.5, "P1", 350,
         -1.5},
        {"tabs", "10.5\t20.5\tP1\t350\t-1.5", '.', 10.5, 20.5, "P1", 350, -1.5},
        {"commas", "10.5,20.5,P1,350,-1.5", '.', 10.5, 20.5, "P1", 350, -1.5},
        {"several blanks and ends", "  10.5   20.5 \t P1  350  -1.5 \r", '.',
         10.5, 20.5, "P1", 350, -1.5},
        {"comma locale", "10,5;20,5;P1;350;-1,5", ',', 10.5, 20.5, "P1", 350,
         -1.5},
        {"seven fields", "1 2 P 3 4 extra more", '.', 1, 2, "P", 3, 4},
        {"quoted name with a space", "1 2 \"A 7\" 3 4", '.', 1, 2, "A 7", 3, 4},
        {"doubled quotes", "1 2 \"say \"\"hi\"\"\" 3 4", '.', 1, 2,
         "say \"hi\"", 3, 4},
        {"text after the closing quote", "1 2 \"A\"3 4 5", '.', 1, 2, "A", 3,
         4},
        {"quote inside a plain field", "1 2 A\"B 3 4", '.', 1, 2, "A\"B", 3, 4},
        {"quoted number", "\"1\" 2 P 3 4", '.', 1, 2, "P", 3, 4},
        {"lone separator", "1 2 P 3 .", '.', 1, 2, "P", 3, 0},
        {"lone comma separator", "1;2;P;3;,", ',', 1, 2, "P", 3, 0},
        {"exponent forms", "1e3 2E-1 P +3 4e", '.', 1000, 0.2, "P", 3, 4},
        {"UTF-8 name to the code page",
         "1 2 P\xC5\x99\xC3\xAD"
         "bram 3 4",
         '.', 1, 2,
         "P\xF8\xED"
         "bram",
         3, 4},
        {"character the code page lacks", "1 2 \xE6\x97\xA5 3 4", '.', 1, 2,
         "?", 3, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Station station{};
        ASSERT_TRUE(ParseStationLine(NormaliseLine(c.line, c.separator),
                                     station, c.separator));
        EXPECT_EQ(station.x, c.x); // exact: the same decimal text on both sides
        EXPECT_EQ(station.y, c.y);
        EXPECT_STREQ(station.point, c.point);
        EXPECT_EQ(station.h, c.h);
        EXPECT_EQ(station.value, c.value);
    }
}

TEST(ParseStationLine, LinesThatAreSkipped) {
    struct Case {
        const char *name;
        const char *line;
        char separator;
    };
    const Case cases[] = {
        {"four fields", "1 2 P 3", '.'},
        {"header", "x y point h uba", '.'},
        {"empty", "", '.'},
        {"blanks only", " \t ; ", '.'},
        {"points under a comma locale", "10.5 20.5 P1 350 -1.5", ','},
        {"comma splits the name", "1 2 A,B 3 4", '.'},
        {"lone minus as value", "1 2 P 3 -", '.'},
        {"lone plus as x", "+ 2 P 3 4", '.'},
        {"value out of range", "1 2 P 3 1e400", '.'},
        {"height out of range", "1 2 P -1e999 4", '.'},
        {"unclosed quote swallows the rest", "1 2 \"A 3 4", '.'},
        {"text in a number", "1 2m P 3 4", '.'},
        {"thousands separator", "1.000,5 2 P 3 4", ','},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Station station{};
        EXPECT_FALSE(ParseStationLine(NormaliseLine(c.line, c.separator),
                                      station, c.separator));
    }
}

TEST(ParseStationLine, LongNamesAreCutTo99BytesOfTheCodePage) {
    struct Case {
        const char *name;
        std::string field;
        std::string expected;
    };
    std::string r_caron_60;
    for (int i = 0; i < 60; ++i)
        r_caron_60 += "\xC5\x99";
    const Case cases[] = {
        {"99 bytes kept", std::string(99, 'N'), std::string(99, 'N')},
        {"120 bytes cut", std::string(120, 'N'), std::string(99, 'N')},
        // 120 bytes of UTF-8 are 60 bytes in the code page: nothing to cut.
        {"two-byte characters counted after conversion", r_caron_60,
         std::string(60, '\xF8')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Station station{};
        ASSERT_TRUE(ParseStationLine("1 2 " + c.field + " 3 4", station, '.'));
        EXPECT_EQ(std::string(station.point), c.expected);
        EXPECT_EQ(station.value, 4.0);
    }
}

TEST(ParseStationLine, SameResultsUnderACommaDecimalProcessLocale) {
    // The process's own C locale must not leak into the reading (the window
    // toolkit adopts the user's LC_NUMERIC on start-up).
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "de_DE") == nullptr)
        GTEST_SKIP() << "no comma-decimal locale installed";
    Station station{};
    const bool parsed = ParseStationLine(
        NormaliseLine("10.5 20.5 P1 350 -1.5e-1", '.'), station, '.');
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(station.x, 10.5);
    EXPECT_EQ(station.value,
              static_cast<double>(-0.15L)); // rounded via extended precision
}

TEST(StationFile, AccentedNamesInUtf8ComeThroughConverted) {
    TTempFile file("names.xyz");
    file.Write("\xEF\xBB\xBFx;y;point;h;uba\r\n"
               "497512.5;5497500.25;P\xC5\x99\xC3\xAD"
               "bram;512.3;-12.345\r\n"
               "497600;5497600;\xC5\x81\xC3\xB3\xC5\xBA;500;1.5");
    TTextReader reader(file.Path());
    std::string line;
    std::vector<Station> stations;
    while (reader.ReadLine(line)) {
        Station station{};
        if (ParseStationLine(NormaliseLine(line, '.'), station, '.'))
            stations.push_back(station);
    }
    ASSERT_EQ(stations.size(), 2u);
    EXPECT_STREQ(stations[0].point, "P\xF8\xED"
                                    "bram");
    EXPECT_EQ(stations[0].y, 5497500.25);
    EXPECT_STREQ(stations[1].point, "\xA3\xF3\x9F");
    EXPECT_EQ(stations[1].value, 1.5);
}
