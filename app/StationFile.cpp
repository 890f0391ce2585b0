// Station file reading, line normalisation and parsing.
#include "app/StationFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

FileError::FileError(const std::string &message)
    : std::runtime_error(message) {}

EncodingError::EncodingError(int64_t line_)
    : std::runtime_error(encoding_error_text), line(line_) {}

TStationReader::TStationReader(const std::string &path)
    : path(path), buffer(read_chunk) {
    descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        throw FileError("Cannot open file \"" + path + "\". " +
                        SystemReason(errno));
}

TStationReader::~TStationReader() {
    if (descriptor >= 0)
        ::close(descriptor);
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
    if (end == buffer.size())
        buffer.resize(buffer.size() * 2);
    const size_t before = end;
    while (end < buffer.size()) {
        const ssize_t got =
            ::read(descriptor, buffer.data() + end, buffer.size() - end);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError("Cannot read file \"" + path + "\". " +
                            SystemReason(errno));
        }
        if (got == 0) {
            at_eof = true;
            break;
        }
        end += static_cast<size_t>(got);
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

void TStationReader::Validate() {
    const std::string_view fresh(buffer.data() + checked, end - checked);
    const size_t valid = Utf8ValidPrefix(fresh);
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
    // The invalid bytes' line: the lines handed out, then the line ends
    // (LF, CRLF or a lone CR) between the unread bytes and them.
    invalid_line = lines_read + 1;
    for (const char *p = buffer.data() + begin; p < stop; ++p) {
        if (*p == '\n' || (*p == '\r' && (p + 1 == stop || p[1] != '\n')))
            ++invalid_line;
    }
    invalid = true;
    throw EncodingError(invalid_line);
}

bool TStationReader::ReadLine(std::string_view &line) {
    if (invalid)
        throw EncodingError(invalid_line);
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
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
    });
}

// Stores the name in the 8-bit code page, cut to max_point_bytes.
void SetPoint(Station &station, std::string_view utf8) {
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

} // namespace

bool ParseStationLine(std::string_view normalised, Station &station,
                      char decimal_separator) {
    Fields fields;
    SplitFields(normalised, fields);
    if (fields.count < station_fields)
        return false;
    station.x = station.y = station.h = station.value = 0.0;
    if (!TryStrToFloat(fields.field[0], station.x, decimal_separator))
        return false;
    if (!TryStrToFloat(fields.field[1], station.y, decimal_separator))
        return false;
    SetPoint(station, fields.field[2]);
    if (!TryStrToFloat(fields.field[3], station.h, decimal_separator))
        return false;
    return TryStrToFloat(fields.field[4], station.value, decimal_separator);
}
