// Text to numbers in the user's number format: syntax, rounding, range,
// messages.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <locale.h>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/Locale.h"

namespace {

// The C library's correctly rounded extended value, stored as double: the
// oracle.
double ExtendedThenDouble(const std::string &c_text) {
    locale_t classic =
        newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const long double extended = strtold_l(c_text.c_str(), nullptr, classic);
    freelocale(classic);
    return static_cast<double>(extended);
}

} // namespace

TEST(NumberFormat, DecimalTextsThatConvert) {
    struct Case {
        const char *name;
        const char *text;
        char separator;
        double expected;
    };
    const Case cases[] = {
        {"plain", "10.5", '.', 10.5},
        {"negative", "-1.5", '.', -1.5},
        {"plus sign", "+3", '.', 3.0},
        {"blanks around", "  7.25  ", '.', 7.25},
        {"comma separator", "-1,5", ',', -1.5},
        {"lone separator", ".", '.', 0.0},
        {"lone comma separator", ",", ',', 0.0},
        {"sign and separator", "-.", '.', 0.0},
        {"no integer digits", ".5", '.', 0.5},
        {"no fraction digits", "5.", '.', 5.0},
        {"exponent", "1.5e3", '.', 1500.0},
        {"exponent with plus", "2E+2", '.', 200.0},
        {"trailing E", "1E", '.', 1.0},
        {"trailing e with sign", "2.5e-", '.', 2.5},
        {"exponent without mantissa", "E5", '.', 0.0},
        {"negative exponent", "1.5E-3", '.', static_cast<double>(1.5e-3L)},
        {"leading zeros", "0000.000125", '.', static_cast<double>(0.000125L)},
        {"twenty digits", "12345678901234567890", '.',
         static_cast<double>(12345678901234567890.0L)},
        {"underflow to zero", "1e-400", '.', 0.0},
        {"denormal", "4.9406564584124654e-324", '.', 4.9406564584124654e-324},
        {"largest double", "1.7976931348623157e308", '.', DBL_MAX},
        {"rounds down to largest", "1.7976931348623158e308", '.', DBL_MAX},
        {"huge zero", "0e99999999", '.', 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        double value = -99.0;
        ASSERT_TRUE(TryStrToFloat(c.text, value, c.separator));
        EXPECT_EQ(value, c.expected); // exact: both sides rounded the same way
    }
}

TEST(NumberFormat, DecimalTextsThatFail) {
    struct Case {
        const char *name;
        const char *text;
        char separator;
    };
    const Case cases[] = {
        {"empty", "", '.'},
        {"blanks", "   ", '.'},
        {"lone minus", "-", '.'},
        {"lone plus", "+", '.'},
        {"minus and blank", "- ", '.'},
        // an E at the end reads as if it were absent, which leaves nothing
        {"lone E", "E", '.'},
        {"sign and e", "-e", '.'},
        {"e with its sign only", "+e+", '.'},
        {"letters", "abc", '.'},
        {"comma under point", "1,5", '.'},
        {"point under comma", "1.5", ','},
        {"inner blank", "1 5", '.'},
        {"text after exponent", "1e5x", '.'},
        {"two signs", "--1", '.'},
        {"two separators", "1.2.3", '.'},
        {"thousands grouping", "1,000.5", '.'},
        {"overflow", "1e400", '.'},
        {"negative overflow", "-1e400", '.'},
        {"just beyond double", "1.7976931348623159e308", '.'},
        {"hexadecimal", "0x10", '.'},
        {"infinity", "inf", '.'},
        {"not a number", "nan", '.'},
        {"separator neither point nor comma", "1000.5", '\''},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        double value = -99.0;
        EXPECT_FALSE(TryStrToFloat(c.text, value, c.separator));
        EXPECT_EQ(value, -99.0);
    }
}

TEST(NumberFormat, FastAndSlowPathsAgreeWithExtendedRounding) {
    // Random mantissas of 1..19 digits with small and large decimal exponents,
    // in fixed and exponent form; each is also written with 20 extra zeros,
    // which forces the slow path, and both must equal strtold's value stored as
    // double.
    std::mt19937_64 random(20261210);
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 19);
        std::string mantissa;
        for (int d = 0; d < digits; ++d)
            mantissa += static_cast<char>('0' + random() % 10);
        const int exponent = static_cast<int>(random() % 81) - 40;
        const std::string text = mantissa + "e" + std::to_string(exponent);
        const std::string padded = mantissa + std::string(20, '0') + "e" +
                                   std::to_string(exponent - 20);
        const double expected = ExtendedThenDouble(text);
        double fast = 0.0, slow = 0.0;
        ASSERT_TRUE(TryStrToFloat(text, fast, '.')) << text;
        ASSERT_TRUE(TryStrToFloat(padded, slow, '.')) << padded;
        ASSERT_EQ(fast, expected) << text;
        ASSERT_EQ(slow, expected) << padded;
        // The same number with a comma and the decimal point inside the digits.
        const size_t point = random() % (mantissa.size() + 1);
        const std::string comma_text =
            mantissa.substr(0, point) + "," + mantissa.substr(point);
        const std::string c_text =
            mantissa.substr(0, point) + "." + mantissa.substr(point);
        double comma_value = 0.0;
        ASSERT_TRUE(TryStrToFloat(comma_text, comma_value, ',')) << comma_text;
        ASSERT_EQ(comma_value, ExtendedThenDouble(c_text)) << comma_text;
    }
}

TEST(NumberFormat, IntegerTexts) {
    struct Case {
        const char *name;
        const char *text;
        bool converts;
        int32_t expected;
    };
    const Case cases[] = {
        {"plain", "16", true, 16},
        {"leading blanks", "  16", true, 16},
        {"negative", "-5", true, -5},
        {"plus", "+5", true, 5},
        {"largest", "2147483647", true, INT32_MAX},
        {"smallest", "-2147483648", true, INT32_MIN},
        {"one too large", "2147483648", false, 0},
        {"one too small", "-2147483649", false, 0},
        {"far too large", "99999999999999999999", false, 0},
        {"empty", "", false, 0},
        {"lone minus", "-", false, 0},
        {"trailing blank", "16 ", false, 0},
        {"decimal", "1.0", false, 0},
        {"letter", "x", false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int32_t value = 77;
        EXPECT_EQ(TryStrToInt(c.text, value), c.converts);
        EXPECT_EQ(value, c.converts ? c.expected : 77);
    }
}

TEST(NumberFormat, FailuresThrowWithTheTextInTheMessage) {
    try {
        StrToFloat("abc", '.');
        ADD_FAILURE() << "no error";
    } catch (const ConversionError &error) {
        EXPECT_STREQ(error.what(), "'abc' is not a valid floating point value");
    }
    try {
        StrToInt("x");
        ADD_FAILURE() << "no error";
    } catch (const ConversionError &error) {
        EXPECT_STREQ(error.what(), "'x' is not a valid integer value");
    }
    EXPECT_EQ(StrToInt("-12"), -12);
}

TEST(NumberFormat, SeparatorOverrideAppliesAndCanBeLifted) {
    SetDecimalSeparator(',');
    EXPECT_EQ(DecimalSeparator(), ',');
    EXPECT_EQ(StrToFloat("2,5"), 2.5);
    EXPECT_THROW(StrToFloat("2.5"), ConversionError);
    SetDecimalSeparator('.');
    EXPECT_EQ(StrToFloat("2.5"), 2.5);
    SetDecimalSeparator('\0');
    const char environment = DecimalSeparator();
    EXPECT_NE(environment, '\0');
}
