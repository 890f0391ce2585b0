// Text files read line by line with strict decoding: UTF-8, or another
// encoding converted to it as it is read; the error of bytes that are not
// text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileError.h"

// The lines of `bytes` that hold something above a blank, each ended by LF or
// by the end: at least as many as the file's rows or station lines, counted
// in a fast pass to reserve room for them.
size_t CountContentLines(std::string_view bytes);
// The same for the file at `path`; 0 when it cannot be read.
size_t CountContentLines(const std::string &path);

// A text file is not valid text in its encoding (UTF-8 unless the user
// named another). The text is always the same; `line` (counted from 1, as line
// ends are read) tells where the invalid bytes are, and `encoding` names the
// encoding the file was read in (empty for UTF-8).
class EncodingError : public std::runtime_error {
  public:
    explicit EncodingError(int64_t line, std::string encoding = {},
                           std::string bytes = {});
    int64_t line;
    std::string encoding;
    std::string bytes; // the first bytes that are not text, as read
};

// The text of EncodingError.
constexpr const char *encoding_error_text =
    "No mapping for the Unicode character exists in the target multi-byte code "
    "page";

// True when the system can convert text in `encoding` (an iconv name such as
// "LATIN1" or "WINDOWS-1250") to UTF-8. UTF-8 itself and an empty name are
// always known.
bool EncodingKnown(const std::string &encoding);

// Reads a text file (a station file, a table) line by line through a large
// buffer. A UTF-8 byte
// order mark at the start is skipped. Lines end at LF, CRLF or a lone CR; a
// last line without an end is read too. Decoding is strict and runs ahead of
// the lines handed out: the read that brings invalid bytes into the buffer
// throws EncodingError, and so does every later read. A file in another
// encoding is converted to UTF-8 as it is read, as strictly.
class TTextReader {
  public:
    // Opens path (the platform's own path bytes; "-" is standard input);
    // throws FileError when it cannot. `encoding` as for EncodingKnown; an
    // unknown one throws FileError.
    explicit TTextReader(const std::string &path,
                         const std::string &encoding = {});
    // Reads `bytes` (kept by the caller for the reader's life) as the file
    // named `name`.
    TTextReader(std::string_view bytes, const std::string &name,
                const std::string &encoding = {});
    TTextReader(const TTextReader &) = delete;
    TTextReader &operator=(const TTextReader &) = delete;
    ~TTextReader();

    // The next line without its line end; false at the end of the file. Throws
    // EncodingError on invalid text and FileError when the system fails a
    // read.
    bool ReadLine(std::string &line);
    // As above; the view stays valid until the next call or the reader's end.
    bool ReadLine(std::string_view &line);
    // Lines handed out so far.
    int64_t LinesRead() const { return lines_read; }

  private:
    // Reads more of the file behind the unread bytes; false when none is left.
    bool Fill();
    // Up to `room` bytes of UTF-8 text into `to`; 0 at the end of the file.
    size_t ReadText(char *to, size_t room);
    // Up to `room` bytes as they are in the file; 0 at its end.
    size_t ReadRaw(char *to, size_t room);
    // Checks the newly read bytes as UTF-8, holding back a character cut off at
    // the end of the buffer until the next read completes it.
    void Validate();
    // The line of the first byte at `stop` in the buffer, for an error there.
    int64_t LineAt(const char *stop) const;
    void OpenEncoding(const std::string &encoding);

    std::string path;
    int descriptor = -1;
    bool owns_descriptor = false;
    std::string_view memory; // the bytes of a reader over memory
    size_t memory_read = 0;
    std::vector<char> buffer;
    size_t begin = 0;   // first unread byte
    size_t checked = 0; // bytes before this are valid UTF-8
    size_t end = 0;     // bytes before this have been read
    bool at_eof = false;
    bool first_read = true;
    bool invalid = false;
    int64_t lines_read = 0;    // lines handed out
    int64_t invalid_line = 0;  // the line of the invalid bytes, once found
    std::string invalid_bytes; // and those bytes

    // Conversion from another encoding: the file's bytes wait in `raw`.
    std::string encoding;      // empty: the file is UTF-8 and read as it is
    void *converter = nullptr; // iconv_t
    std::vector<char> raw;
    size_t raw_begin = 0, raw_end = 0;
    bool raw_eof = false;
};
