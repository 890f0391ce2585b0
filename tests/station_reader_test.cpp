// Reading the station file: line ends, byte order mark, buffer boundaries,
// strict UTF-8 and files that cannot be opened.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/StationFile.h"
#include "support/TempFile.h"

namespace {

std::vector<std::string> ReadAll(const std::string &path) {
    TTextReader reader(path);
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line))
        lines.push_back(line);
    return lines;
}

// Independent oracle: split at LF, CRLF or lone CR, no empty line after a final
// end.
std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines.push_back(current);
            current.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            current += text[i];
        }
    }
    if (!current.empty())
        lines.push_back(current);
    return lines;
}

constexpr size_t buffer_bytes = size_t{1} << 20; // the reader's first read

} // namespace

TEST(StationReader, LineEndsAndByteOrderMark) {
    using Lines = std::vector<std::string>;
    struct Case {
        const char *name;
        std::string bytes;
        Lines expected;
    };
    const Case cases[] = {
        {"LF", "a\nb\n", {"a", "b"}},
        {"CRLF", "a\r\nb\r\n", {"a", "b"}},
        {"lone CR", "a\rb\r", {"a", "b"}},
        {"mixed with an empty line", "a\r\n\nb\rc", {"a", "", "b", "c"}},
        {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
        {"last line without end", "a\nb", {"a", "b"}},
        {"empty file", "", {}},
        {"only a line end", "\n", {""}},
        {"byte order mark skipped",
         "\xEF\xBB\xBF"
         "a\n",
         {"a"}},
        {"byte order mark alone", "\xEF\xBB\xBF", {}},
        {"mark later is text",
         "a\n\xEF\xBB\xBF"
         "b",
         {"a", "\xEF\xBB\xBF"
               "b"}},
        {"UTF-8 name passes as bytes", "1 2 \xC5\x99\n", {"1 2 \xC5\x99"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TTempFile file("lines.xyz");
        file.Write(c.bytes);
        EXPECT_EQ(ReadAll(file.Path()), c.expected);
    }
}

TEST(StationReader, LinesAcrossBufferBoundaries) {
    struct Case {
        const char *name;
        std::string bytes;
    };
    // CRLF split by the first read; a two-byte character split by it; a line
    // longer than the buffer; a lone CR as the very last byte of the first
    // read.
    std::string crlf_split(buffer_bytes - 1, 'x');
    crlf_split += "\r\nnext\r\n";
    std::string char_split(buffer_bytes - 1, 'y');
    char_split += "\xC5\x99z\n";
    std::string long_line =
        "head\n" + std::string(3 * buffer_bytes, 'L') + "\ntail";
    std::string cr_last(buffer_bytes - 1, 'w');
    cr_last += "\rafter";
    const Case cases[] = {{"CRLF split", crlf_split},
                          {"character split", char_split},
                          {"line longer than the buffer", long_line},
                          {"lone CR at the boundary", cr_last}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TTempFile file("boundary.xyz");
        file.Write(c.bytes);
        EXPECT_EQ(ReadAll(file.Path()), SplitLines(c.bytes));
    }
}

TEST(StationReader, InvalidUtf8EndsTheReading) {
    struct Case {
        const char *name;
        std::string bytes;
        size_t lines_before_error;
        int64_t invalid_line;
    };
    std::string late = std::string(buffer_bytes + 100, 'a');
    for (size_t i = 99; i < late.size(); i += 100)
        late[i] = '\n';
    late += "b\xE9\n";
    const Case cases[] = {
        {"Windows-1250 name in the first read",
         "1 2 P1 3 4\n1 2 P\xF8\xED"
         "bram 3 4\n",
         0, 2},
        {"cut character at the end", "1 2 P1 3 4\nab\xC3", 0, 2},
        {"overlong form", "\xC0\xAF\n", 0, 1},
        {"after every kind of line end", "a\r\nb\rc\n\r\n\xE9", 0, 5},
        // Decoding runs ahead by one read: the lines of the first read come
        // out.
        {"invalid byte in the second read", late, buffer_bytes / 100,
         static_cast<int64_t>(late.size() / 100) + 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TTempFile file("invalid.xyz");
        file.Write(c.bytes);
        TTextReader reader(file.Path());
        std::string line;
        size_t read = 0;
        try {
            while (reader.ReadLine(line))
                ++read;
            ADD_FAILURE() << "no encoding error";
        } catch (const EncodingError &error) {
            EXPECT_STREQ(error.what(),
                         "No mapping for the Unicode character exists in the "
                         "target multi-byte code page");
            EXPECT_EQ(error.line, c.invalid_line);
        }
        EXPECT_EQ(read, c.lines_before_error);
        try { // and it stays failed, at the same line
            reader.ReadLine(line);
            ADD_FAILURE() << "read on after the encoding error";
        } catch (const EncodingError &error) {
            EXPECT_EQ(error.line, c.invalid_line);
        }
    }
}

TEST(StationReader, MissingFileNamesPathAndReason) {
    const std::string path =
        testing::TempDir() + "korvanel_no_such_folder/stations.xyz";
    try {
        TTextReader reader(path);
        ADD_FAILURE() << "opened a missing file";
    } catch (const FileError &error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open file \"" + path +
                      "\". No such file or directory");
    }
}

TEST(StationReader, MemoryGivesTheLinesOfTheFile) {
    // The lines of a pipe are held in memory for both passes: over the buffer
    // boundaries they must come out as the file gives them.
    std::string bytes;
    for (int k = 0; k < 60000; ++k)
        bytes += std::to_string(k) + (k % 3 == 0 ? "\r\n" : "\n");
    bytes += "last";
    TTempFile file("memory.xyz");
    file.Write(bytes);
    TTextReader reader(std::string_view(bytes), "memory.xyz");
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line))
        lines.push_back(line);
    EXPECT_EQ(lines, ReadAll(file.Path()));
    EXPECT_EQ(reader.LinesRead(), 60001);
}

// 2026-12-10, issue 14: files in an 8-bit code page could not be read at all.
TEST(StationReader, OtherEncodingsAreConvertedToUtf8Strictly) {
    struct Case {
        const char *name;
        const char *encoding;
        std::string bytes;
        std::vector<std::string> lines; // UTF-8
        int64_t invalid_line;           // 0: none
    };
    // Many lines, so that the conversion runs over several buffer fills.
    std::string long_latin, long_utf8;
    for (int k = 0; k < 200000; ++k) {
        long_latin += "K\xF6ln " + std::to_string(k) + "\n";
        long_utf8 += "K\xC3\xB6ln " + std::to_string(k) + "\n";
    }
    const Case cases[] = {
        {"Latin-1",
         "LATIN1",
         "1 2 K\xF6ln 3 4\r\n5 6 \xC5se 7 8",
         {"1 2 K\xC3\xB6ln 3 4", "5 6 \xC3\x85se 7 8"},
         0},
        {"Windows-1250",
         "WINDOWS-1250",
         "1 2 P\xF8\xED"
         "bram 3 4\n",
         {"1 2 P\xC5\x99\xC3\xAD"
          "bram 3 4"},
         0},
        {"UTF-8 by name",
         "utf-8",
         "1 2 \xC3\xA9 3 4\n",
         {"1 2 \xC3\xA9 3 4"},
         0},
        {"a byte Windows-1250 leaves undefined",
         "WINDOWS-1250",
         "1 2 A 3 4\n5 6 B\x98 7 8\n",
         {},
         2},
        {"Latin-1 over many reads", "LATIN1", long_latin, {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TTextReader reader(std::string_view(c.bytes), "coded.xyz",
                              c.encoding);
        std::vector<std::string> lines;
        std::string line;
        try {
            while (reader.ReadLine(line))
                lines.push_back(line);
            EXPECT_EQ(c.invalid_line, 0) << "no encoding error";
        } catch (const EncodingError &error) {
            EXPECT_EQ(error.line, c.invalid_line);
            EXPECT_EQ(error.encoding, c.encoding);
            continue;
        }
        if (c.lines.empty()) {
            EXPECT_EQ(lines, SplitLines(long_utf8));
        } else {
            EXPECT_EQ(lines, c.lines);
        }
    }
    EXPECT_FALSE(EncodingKnown("NO-SUCH-ENCODING"));
    EXPECT_TRUE(EncodingKnown("LATIN1"));
    EXPECT_THROW(TTextReader("x", "x.xyz", "NO-SUCH-ENCODING"), FileError);
}
