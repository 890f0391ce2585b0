// Station file reading, line normalisation and parsing.
#include "app/StationFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <system_error>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/Locale.h"

namespace {

constexpr size_t read_chunk = size_t{1} << 20;
constexpr size_t longest_utf8_character = 4;
constexpr unsigned char utf8_bom[] = {0xEF, 0xBB, 0xBF};
constexpr int station_fields = 5;
constexpr unsigned char blank_limit = 32; // codes up to this one are trimmed

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

TStationReader::TStationReader(const std::string &path_,
                               const std::string &encoding_)
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

TStationReader::TStationReader(std::string_view bytes, const std::string &name,
                               const std::string &encoding_)
    : path(name), memory(bytes), buffer(read_chunk) {
    OpenEncoding(encoding_);
}

void TStationReader::OpenEncoding(const std::string &encoding_) {
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

TStationReader::~TStationReader() {
    if (owns_descriptor)
        ::close(descriptor);
    if (converter != nullptr)
        iconv_close(static_cast<iconv_t>(converter));
}

size_t TStationReader::ReadRaw(char *to, size_t room) {
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

size_t TStationReader::ReadText(char *to, size_t room) {
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

bool TStationReader::Fill() {
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

int64_t TStationReader::LineAt(const char *stop) const {
    // The lines handed out, then the line ends (LF, CRLF or a lone CR)
    // between the unread bytes and `stop`.
    int64_t line = lines_read + 1;
    for (const char *p = buffer.data() + begin; p < stop; ++p) {
        if (*p == '\n' || (*p == '\r' && (p + 1 == stop || p[1] != '\n')))
            ++line;
    }
    return line;
}

void TStationReader::Validate() {
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

bool TStationReader::ReadLine(std::string_view &line) {
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

bool TStationReader::ReadLine(std::string &line) {
    std::string_view view;
    if (!ReadLine(view))
        return false;
    line.assign(view);
    return true;
}

std::string NormaliseLine(std::string_view line, char decimal_separator) {
    const bool comma_separates = decimal_separator != ',';
    auto mapped = [&](char c) {
        if (c == ';' || c == '\t' || (c == ',' && comma_separates))
            return ' ';
        return c;
    };
    auto blank = [&](char c) {
        return static_cast<unsigned char>(mapped(c)) <= blank_limit;
    };
    size_t first = 0, last = line.size();
    while (first < last && blank(line[first]))
        ++first;
    while (last > first && blank(line[last - 1]))
        --last;
    std::string out(last - first, '\0');
    size_t written = 0;
    for (size_t i = first; i < last; ++i) {
        const char c = mapped(line[i]);
        if (c == ' ' && written > 0 && out[written - 1] == ' ')
            continue; // only the last space of a run survives
        out[written++] = c;
    }
    out.resize(written);
    return out;
}

namespace {

// The first fields of a line: views into the line, or into own storage for a
// quoted field that held doubled quotes.
struct Fields {
    std::string_view field[station_fields];
    std::string unquoted[station_fields];
    int count = 0;
    bool more = false; // the line goes on after the fifth field
};

void SplitFields(std::string_view line, Fields &fields) {
    const size_t n = line.size();
    size_t i = 0;
    if (n == 0)
        return;
    while (fields.count < station_fields) {
        const int k = fields.count++;
        if (i < n && line[i] == '"') {
            // Quoted: up to the next quote not followed by another; "" stands
            // for ".
            const size_t start = ++i;
            bool doubled = false;
            size_t close = std::string_view::npos;
            while (i < n) {
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        doubled = true;
                        i += 2;
                        continue;
                    }
                    close = i;
                    break;
                }
                ++i;
            }
            const size_t stop = close == std::string_view::npos ? n : close;
            if (doubled) {
                std::string &own = fields.unquoted[k];
                own.clear();
                for (size_t j = start; j < stop; ++j) {
                    own += line[j];
                    if (line[j] == '"')
                        ++j; // the second quote of a pair
                }
                fields.field[k] = own;
            } else {
                fields.field[k] = line.substr(start, stop - start);
            }
            if (close == std::string_view::npos)
                return;
            i = close + 1;
            if (i >= n)
                return;
            if (line[i] == ' ')
                ++i; // else the text after the quote starts the next field
            continue;
        }
        const size_t space = line.find(' ', i);
        if (space == std::string_view::npos) {
            fields.field[k] = line.substr(i);
            return;
        }
        fields.field[k] = line.substr(i, space - i);
        i = space + 1;
    }
    fields.more = i < n;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
    });
}

} // namespace

void SetStationName(Station &station, std::string_view utf8) {
    std::string converted;
    std::string_view bytes = utf8;
    if (!IsAscii(utf8)) {
        converted = Utf8ToCodePage(utf8);
        bytes = converted;
    }
    const size_t length = std::min(bytes.size(), max_point_bytes);
    std::memcpy(station.point, bytes.data(), length);
    station.point[length] = '\0';
}

namespace {

bool ParseFields(const Fields &fields, Station &station,
                 char decimal_separator) {
    if (fields.count < station_fields)
        return false;
    station.x = station.y = station.h = station.value = 0.0;
    if (!TryStrToFloat(fields.field[0], station.x, decimal_separator))
        return false;
    if (!TryStrToFloat(fields.field[1], station.y, decimal_separator))
        return false;
    SetStationName(station, fields.field[2]);
    if (!TryStrToFloat(fields.field[3], station.h, decimal_separator))
        return false;
    return TryStrToFloat(fields.field[4], station.value, decimal_separator);
}

} // namespace

bool ParseStationLine(std::string_view normalised, Station &station,
                      char decimal_separator) {
    Fields fields;
    SplitFields(normalised, fields);
    return ParseFields(fields, station, decimal_separator);
}

bool ParseStationLine(std::string_view normalised, Station &station,
                      char decimal_separator, std::string &name,
                      bool *more_fields) {
    Fields fields;
    SplitFields(normalised, fields);
    if (!ParseFields(fields, station, decimal_separator))
        return false;
    name.assign(fields.field[2]);
    if (more_fields != nullptr)
        *more_fields = fields.more;
    return true;
}

bool HasThousandsSeparators(std::string_view line) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0;
    while (i < line.size()) {
        // One blank-, tab- or semicolon-separated token.
        while (i < line.size() &&
               (line[i] == ' ' || line[i] == '\t' || line[i] == ';'))
            ++i;
        size_t end = i;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' &&
               line[end] != ';')
            ++end;
        std::string_view token = line.substr(i, end - i);
        i = end;
        if (!token.empty() && (token[0] == '-' || token[0] == '+'))
            token.remove_prefix(1);
        size_t lead = 0;
        while (lead < token.size() && digit(token[lead]))
            ++lead;
        if (lead == 0 || lead > 3)
            continue;
        size_t at = lead;
        int groups = 0;
        while (at + 4 <= token.size() && token[at] == ',' &&
               digit(token[at + 1]) && digit(token[at + 2]) &&
               digit(token[at + 3]) &&
               (at + 4 == token.size() || !digit(token[at + 4]))) {
            at += 4;
            ++groups;
        }
        if (groups == 0)
            continue;
        if (at < token.size() && token[at] == '.') {
            ++at;
            while (at < token.size() && digit(token[at]))
                ++at;
        }
        if (at == token.size())
            return true;
    }
    return false;
}
