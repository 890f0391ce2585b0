// Station sources: the text file, read from disk or held in memory.
#include "app/StationInput.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr size_t read_chunk = size_t{1} << 20;
// The first bytes of a source read once that are looked at for a NUL byte.
constexpr size_t text_check_bytes = size_t{1} << 16;

// True when `head` begins like a binary format that a GIS reader takes from
// memory: a GeoPackage (SQLite), a spreadsheet (ZIP, or the older compound
// file), FlatGeobuf.
bool BeginsLikeBinaryTable(std::string_view head) {
    constexpr std::string_view signatures[] = {
        std::string_view("SQLite format 3\0", 16),
        std::string_view("PK\x03\x04", 4),
        std::string_view("\xD0\xCF\x11\xE0", 4),
        std::string_view("fgb\x03", 4),
    };
    for (const std::string_view signature : signatures) {
        if (head.substr(0, signature.size()) == signature) {
            return true;
        }
    }
    return false;
}

// Throws EncodingError at the first NUL byte of `head` unless it begins like
// a binary table: a stream of zeros or a binary file is no station text, and
// need not be read to its end to tell.
void RefuseNulText(std::string_view head) {
    const size_t nul = head.find('\0');
    if (nul == std::string_view::npos || BeginsLikeBinaryTable(head)) {
        return;
    }
    int64_t line = 1;
    for (size_t k = 0; k < nul; ++k) {
        if (head[k] == '\n' || (head[k] == '\r' && (k + 1 >= head.size() ||
                                                    head[k + 1] != '\n'))) {
            ++line;
        }
    }
    throw EncodingError(line, {}, std::string(1, '\0'));
}

std::string Gibibytes(uint64_t bytes) {
    const double gib = static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0);
    char text[32];
    std::snprintf(text, sizeof text, "%.3g GiB", gib);
    return text;
}

} // namespace

std::string ReadWholeSource(const std::string &path, uint64_t limit) {
    int descriptor = STDIN_FILENO;
    if (path != "-") {
        descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            throw FileError("Cannot open file \"" + path + "\". " +
                            std::system_category().message(errno));
        }
    }
    std::string bytes;
    int error = 0;
    bool text_checked = false;
    for (;;) {
        const size_t had = bytes.size();
        if (!text_checked && had >= text_check_bytes) {
            text_checked = true;
            RefuseNulText(std::string_view(bytes).substr(0, text_check_bytes));
        }
        if (had >= limit) {
            if (descriptor != STDIN_FILENO) {
                ::close(descriptor);
            }
            throw FileError((path == "-" ? std::string("Standard input")
                                         : "\"" + path + "\"") +
                            " holds more than " + Gibibytes(limit) +
                            ", the most read into memory from a pipe or a "
                            "device; raise it with --stdin-limit.");
        }
        bytes.resize(had + std::min<uint64_t>(read_chunk, limit - had + 1));
        const ssize_t got =
            ::read(descriptor, bytes.data() + had, bytes.size() - had);
        if (got < 0 && errno == EINTR) {
            bytes.resize(had);
            continue;
        }
        bytes.resize(had + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got < 0) {
            error = errno;
        }
        if (got <= 0) {
            break;
        }
    }
    if (descriptor != STDIN_FILENO) {
        ::close(descriptor);
    }
    if (error != 0) {
        throw FileError("Cannot read file \"" + path + "\". " +
                        std::system_category().message(error));
    }
    if (!text_checked) {
        RefuseNulText(bytes);
    }
    bytes.shrink_to_fit();
    return bytes;
}

bool ReadOnce(const std::string &path) {
    if (path == "-") {
        return true;
    }
    struct stat status {};
    // A path that does not exist is opened as a file, so its error names it.
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

TStationTextInput::TStationTextInput(std::string path_, char separator_,
                                     std::string encoding_)
    : path(std::move(path_)), separator(separator_),
      encoding(std::move(encoding_)) {}

TStationTextInput::TStationTextInput(std::string path_, std::string bytes,
                                     char separator_, std::string encoding_)
    : path(std::move(path_)), separator(separator_),
      encoding(std::move(encoding_)), opened(true), in_memory(true),
      held(std::move(bytes)) {}

void TStationTextInput::Rewind() {
    reader.reset();
    if (!opened) {
        opened = true;
        in_memory = ReadOnce(path);
        if (in_memory) {
            held = ReadWholeSource(path);
        }
    }
    if (in_memory) {
        reader = std::make_unique<TTextReader>(std::string_view(held), path,
                                                  encoding);
    } else {
        reader = std::make_unique<TTextReader>(path, encoding);
    }
}

bool TStationTextInput::Next(InputRecord &record) {
    std::string_view line;
    if (!reader->ReadLine(line)) {
        return false;
    }
    record.line = reader->LinesRead();
    record.text = line;
    normal = NormaliseLine(line, separator);
    record.blank = normal.empty();
    record.has_height = true;
    record.more_fields = false;
    record.is_station =
        !record.blank && ParseStationLine(normal, record.station, separator,
                                          record.name, &record.more_fields);
    return true;
}

TStationListInput::TStationListInput(TListedStations stations_)
    : stations(std::move(stations_)) {}

bool TStationListInput::Next(InputRecord &record) {
    const std::vector<TListedStations::Unread> &unread = stations.UnreadLines();
    record.blank = false;
    record.more_fields = false;
    if (next_unread < unread.size() && unread[next_unread].before <= next) {
        const TListedStations::Unread &line = unread[next_unread++];
        record.line = line.row;
        record.is_station = false;
        record.text = line.text;
        return true;
    }
    if (next >= stations.Size()) {
        return false;
    }
    const ListedStation &listed = stations[next];
    const std::string_view name = stations.Name(next);
    ++next;
    record.line = listed.row;
    record.is_station = true;
    record.text = {};
    record.name.assign(name);
    record.surveyed = stations.HasSurveys();
    record.survey.assign(stations.Survey(next - 1));
    record.has_height = !std::isnan(listed.h);
    record.station.x = listed.x;
    record.station.y = listed.y;
    record.station.h = record.has_height ? listed.h : 0.0;
    record.station.value = listed.value;
    SetStationName(record.station, name);
    return true;
}
