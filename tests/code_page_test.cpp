// UTF-8 validation and the conversion of station names to Windows-1250.
#include <iconv.h>
#include <string>

#include <gtest/gtest.h>

#include "platform/CodePage.h"

TEST(CodePage, NamesConvertAndMissingCharactersBecomeSubstitutes) {
    struct Case {
        const char *name;
        const char *utf8;
        const char *expected;
    };
    const Case cases[] = {
        {"ascii", "P1-a", "P1-a"},
        {"czech", "P\xC5\x99\xC3\xADli\xC5\xA1", "P\xF8\xEDli\x9A"}, // Příliš
        {"polish L with stroke", "\xC5\x81\xC3\xB3\xC5\xBA",
         "\xA3\xF3\x9F"}, // Łóź
        {"euro sign", "\xE2\x82\xAC", "\x80"},
        {"sharp s", "\xC3\x9F", "\xDF"},
        {"n with tilde is lacking",
         "Pe\xC3\xB1"
         "a",
         "Pe?a"},
        {"CJK is lacking", "A\xE6\x97\xA5", "A?"},
        {"four-byte character",
         "\xF0\x9F\x98\x80"
         "x",
         "?x"},
        {"invalid byte",
         "a\xE9"
         "b",
         "a?b"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8ToCodePage(c.utf8), std::string(c.expected));
    }
}

TEST(CodePage, AgreesWithTheSystemConverterOnEveryByte) {
    // Independent oracle: glibc's own CP1250 converter, decoding each upper
    // byte.
    iconv_t to_utf8 = iconv_open("UTF-8", "CP1250");
    if (to_utf8 == reinterpret_cast<iconv_t>(-1))
        GTEST_SKIP() << "CP1250 converter not installed";
    int defined = 0;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        char in[1] = {static_cast<char>(byte)};
        char out[8] = {};
        char *in_ptr = in, *out_ptr = out;
        size_t in_left = 1, out_left = sizeof out;
        iconv(to_utf8, nullptr, nullptr, nullptr, nullptr);
        if (iconv(to_utf8, &in_ptr, &in_left, &out_ptr, &out_left) ==
            static_cast<size_t>(-1))
            continue; // undefined byte
        ++defined;
        const std::string utf8(out, out_ptr);
        SCOPED_TRACE(byte);
        EXPECT_EQ(Utf8ToCodePage(utf8),
                  std::string(1, static_cast<char>(byte)));
    }
    iconv_close(to_utf8);
    EXPECT_GT(defined, 100);
}

TEST(CodePage, ValidPrefixStopsAtTheFirstInvalidSequence) {
    struct Case {
        const char *name;
        std::string text;
        size_t expected;
    };
    const Case cases[] = {
        {"ascii", "abc", 3},
        {"two-byte character",
         "a\xC3\xA9"
         "b",
         4},
        {"latin-2 byte",
         "a\xE9"
         "b",
         1},
        {"overlong slash", "\xC0\xAF", 0},
        {"overlong three-byte", "\xE0\x80\xAF", 0},
        {"surrogate", "x\xED\xA0\x80", 1},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", 0},
        {"cut at the end", "ab\xC3", 2},
        {"stray continuation", "ab\x80", 2},
        {"invalid after a long ascii run",
         std::string(17, 'a') + "\xFF" + std::string(10, 'b'), 17},
        {"long valid mix",
         std::string(9, 'a') + "\xC5\x99" + std::string(9, 'b'), 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8ValidPrefix(c.text), c.expected);
    }
}
