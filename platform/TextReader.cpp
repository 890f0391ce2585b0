// Text files read line by line, strictly decoded.
#include "platform/TextReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <system_error>
#include <unistd.h>

#include "platform/CodePage.h"

namespace {

constexpr size_t read_chunk = size_t{1} << 20;
constexpr size_t longest_utf8_character = 4;
constexpr unsigned char utf8_bom[] = {0xEF, 0xBB, 0xBF};

std::string SystemReason(int error_number) {
    return std::system_category().message(error_number);
}

// Expected length of the UTF-8 sequence that begins with lead; 0 for a byte
// that cannot begin one.
size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// True when bytes [from, to) are the start of a character that the next bytes
// of the file may still complete.
bool IsCutCharacter(const char *from, const char *to) {
    const size_t length = SequenceLength(static_cast<unsigned char>(*from));
    if (length == 0 || static_cast<size_t>(to - from) >= length)
        return false;
    for (const char *p = from + 1; p < to; ++p)
        if ((static_cast<unsigned char>(*p) & 0xC0u) != 0x80u)
            return false;
    return true;
}

} // namespace

EncodingError::EncodingError(int64_t line_, std::string encoding_,
                             std::string bytes_)
    : std::runtime_error(encoding_error_text), line(line_),
      encoding(std::move(encoding_)), bytes(std::move(bytes_)) {}

namespace {

// True for the names under which the file is read as it is.
bool IsUtf8Name(const std::string &encoding) {
    std::string upper;
    for (char c : encoding) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper.empty() || upper == "UTF-8" || upper == "UTF8";
}

} // namespace

bool EncodingKnown(const std::string &encoding) {
    if (IsUtf8Name(encoding))
        return true;
    const iconv_t probe = iconv_open("UTF-8", encoding.c_str());
    if (probe == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(probe);
    return true;
}

TTextReader::TTextReader(const std::string &path_, const std::string &encoding_)
    : path(path_), buffer(read_chunk) {
    if (path == "-") {
        descriptor = STDIN_FILENO;
    } else {
        descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            throw FileError("Cannot open file \"" + path + "\". " +
                            SystemReason(errno));
        owns_descriptor = true;
    }
    OpenEncoding(encoding_);
}

TTextReader::TTextReader(std::string_view bytes, const std::string &name,
                         const std::string &encoding_)
    : path(name), memory(bytes), buffer(read_chunk) {
    OpenEncoding(encoding_);
}

void TTextReader::OpenEncoding(const std::string &encoding_) {
    if (IsUtf8Name(encoding_))
        return;
    const iconv_t handle = iconv_open("UTF-8", encoding_.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        if (owns_descriptor)
            ::close(descriptor);
        throw FileError("Unknown encoding \"" + encoding_ + "\" for file \"" +
                        path + "\".");
    }
    converter = handle;
    encoding = encoding_;
    raw.resize(read_chunk);
}

TTextReader::~TTextReader() {
    if (owns_descriptor)
        ::close(descriptor);
    if (converter != nullptr)
        iconv_close(static_cast<iconv_t>(converter));
}

size_t TTextReader::ReadRaw(char *to, size_t room) {
    if (descriptor < 0) {
        const size_t count = std::min(room, memory.size() - memory_read);
        std::memcpy(to, memory.data() + memory_read, count);
        memory_read += count;
        return count;
    }
    size_t got_total = 0;
    while (got_total < room) {
        const ssize_t got =
            ::read(descriptor, to + got_total, room - got_total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError("Cannot read file \"" + path + "\". " +
                            SystemReason(errno));
        }
        if (got == 0)
            break;
        got_total += static_cast<size_t>(got);
    }
    return got_total;
}

size_t TTextReader::ReadText(char *to, size_t room) {
    if (converter == nullptr)
        return ReadRaw(to, room);
    const iconv_t handle = static_cast<iconv_t>(converter);
    size_t produced = 0;
    for (;;) {
        if (raw_begin < raw_end) {
            char *in = raw.data() + raw_begin;
            size_t in_left = raw_end - raw_begin;
            char *out = to + produced;
            size_t out_left = room - produced;
            const size_t status = iconv(handle, &in, &in_left, &out, &out_left);
            const int reason = errno;
            produced = room - out_left;
            raw_begin = raw_end - in_left;
            if (status == static_cast<size_t>(-1)) {
                if (reason == EILSEQ || (reason == EINVAL && raw_eof)) {
                    // The invalid bytes' line: what was handed out or
                    // converted before them, then the line ends among the
                    // raw bytes up to them (LF and CR in every encoding
                    // this reads).
                    invalid_line =
                        LineAt(buffer.data() + end) +
                        (produced > 0 ? std::count(to, to + produced, '\n')
                                      : 0);
                    invalid = true;
                    invalid_bytes.assign(
                        raw.data() + raw_begin,
                        std::min<size_t>(1, raw_end - raw_begin));
                    throw EncodingError(invalid_line, encoding, invalid_bytes);
                }
                if (reason == E2BIG)
                    return produced;
                // EINVAL: a character cut off at the end of the raw bytes.
            }
            if (produced > 0 && (raw_begin == raw_end || produced == room))
                return produced;
        }
        if (raw_eof)
            return produced;
        // Keep the cut-off character's bytes and read behind them.
        std::memmove(raw.data(), raw.data() + raw_begin, raw_end - raw_begin);
        raw_end -= raw_begin;
        raw_begin = 0;
        const size_t got = ReadRaw(raw.data() + raw_end, raw.size() - raw_end);
        raw_end += got;
        if (got == 0) {
            raw_eof = true;
            if (raw_begin == raw_end)
                return produced;
        }
    }
}

bool TTextReader::Fill() {
    if (at_eof)
        return false;
    // Keep the unread bytes at the front; grow only for a line longer than the
    // buffer.
    if (begin > 0) {
        std::memmove(buffer.data(), buffer.data() + begin, end - begin);
        checked -= begin;
        end -= begin;
        begin = 0;
    }
    // A conversion needs room for a whole character.
    const size_t min_room = converter != nullptr ? longest_utf8_character : 1;
    if (buffer.size() - end < min_room)
        buffer.resize(buffer.size() * 2);
    const size_t before = end;
    while (buffer.size() - end >= min_room) {
        const size_t got = ReadText(buffer.data() + end, buffer.size() - end);
        if (got == 0) {
            at_eof = true;
            break;
        }
        end += got;
    }
    if (first_read) {
        first_read = false;
        if (end >= sizeof utf8_bom &&
            std::memcmp(buffer.data(), utf8_bom, sizeof utf8_bom) == 0)
            begin = checked = sizeof utf8_bom;
    }
    Validate();
    return end > before;
}

int64_t TTextReader::LineAt(const char *stop) const {
    // The lines handed out, then the line ends (LF, CRLF or a lone CR)
    // between the unread bytes and `stop`.
    int64_t line = lines_read + 1;
    for (const char *p = buffer.data() + begin; p < stop; ++p) {
        if (*p == '\n' || (*p == '\r' && (p + 1 == stop || p[1] != '\n')))
            ++line;
    }
    return line;
}

void TTextReader::Validate() {
    const std::string_view fresh(buffer.data() + checked, end - checked);
    size_t valid = Utf8ValidPrefix(fresh);
    // A NUL byte is valid UTF-8 but no text: a binary file, or a device of
    // zeros, stops here as invalid bytes do.
    if (const void *nul = std::memchr(fresh.data(), '\0', valid)) {
        valid =
            static_cast<size_t>(static_cast<const char *>(nul) - fresh.data());
    }
    if (valid == fresh.size()) {
        checked = end;
        return;
    }
    const char *stop = fresh.data() + valid;
    if (!at_eof && end - (checked + valid) < longest_utf8_character &&
        IsCutCharacter(stop, buffer.data() + end)) {
        checked += valid; // the rest of this character comes with the next read
        return;
    }
    invalid_line = LineAt(stop);
    invalid = true;
    // The lead byte and the continuation bytes after it.
    size_t length = 1;
    while (length < longest_utf8_character &&
           stop + length < buffer.data() + end &&
           (static_cast<unsigned char>(stop[length]) & 0xC0u) == 0x80u)
        ++length;
    invalid_bytes.assign(stop, length);
    throw EncodingError(invalid_line, encoding, invalid_bytes);
}

bool TTextReader::ReadLine(std::string_view &line) {
    if (invalid)
        throw EncodingError(invalid_line, encoding, invalid_bytes);
    for (;;) {
        const char *from = buffer.data() + begin;
        const char *limit = buffer.data() + checked;
        const char *stop = from;
        while (stop < limit && *stop != '\n' && *stop != '\r')
            ++stop;
        if (stop < limit) {
            // A CR as the last byte so far may be the first half of CRLF.
            if (*stop == '\r' && stop + 1 == limit && !at_eof) {
                Fill(); // may move the bytes: look again
                continue;
            }
            line = std::string_view(from, static_cast<size_t>(stop - from));
            size_t used = static_cast<size_t>(stop - from) + 1;
            if (*stop == '\r' && stop + 1 < limit && stop[1] == '\n')
                ++used;
            begin += used;
            ++lines_read;
            return true;
        }
        if (Fill())
            continue;
        if (begin == end)
            return false;
        // The last line, without a line end (Fill may have moved it to the
        // front).
        line = std::string_view(buffer.data() + begin, end - begin);
        begin = end;
        ++lines_read;
        return true;
    }
}

bool TTextReader::ReadLine(std::string &line) {
    std::string_view view;
    if (!ReadLine(view))
        return false;
    line.assign(view);
    return true;
}

namespace {

// Counts the lines with content in [from, to), carrying a line's state from
// one piece of a file to the next.
struct LineCounter {
    size_t lines = 0;
    bool content = false;
    void Count(const char *from, const char *to) {
        for (const char *p = from; p < to; ++p) {
            if (*p == '\n') {
                lines += content ? 1 : 0;
                content = false;
            } else if (static_cast<unsigned char>(*p) > ' ') {
                content = true;
            }
        }
    }
    size_t Total() const { return lines + (content ? 1 : 0); }
};

} // namespace

size_t CountContentLines(std::string_view bytes) {
    LineCounter counter;
    counter.Count(bytes.data(), bytes.data() + bytes.size());
    return counter.Total();
}

size_t CountContentLines(const std::string &path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return 0;
    }
    LineCounter counter;
    std::vector<char> chunk(read_chunk);
    for (;;) {
        const ssize_t got = ::read(descriptor, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ::close(descriptor);
            return got < 0 ? 0 : counter.Total();
        }
        counter.Count(chunk.data(), chunk.data() + got);
    }
}
