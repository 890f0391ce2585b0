// The fixed-column result file, formatted without the C library's locale.
#include "app/ResultFile.h"

#include <cerrno>
#include <charconv>
#include <system_error>

namespace {

constexpr int coordinate_width = 12;
constexpr int field_width = 10;
constexpr int decimals = 3;
constexpr const char *line_end = "\r\n";
// Characters of a name up to this code (blanks, tabs, line ends and other
// controls) are written as name_blank_stand_in.
constexpr unsigned char name_blank_limit = 32;
constexpr char name_blank_stand_in = '_';

// Appends text right-aligned in width, padded on the left with spaces.
void AppendRight(std::string &line, const char *begin, const char *end,
                 int width) {
    const std::ptrdiff_t length = end - begin;
    if (length < width)
        line.append(static_cast<size_t>(width - length), ' ');
    line.append(begin, end);
}

// "%<width>.3f" with a point: fixed notation, minus sign for negatives.
void AppendFixed(std::string &line, double value, int width) {
    char buffer[400]; // 309 integer digits, sign, point and 3 decimals fit
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value,
                      std::chars_format::fixed, decimals);
    AppendRight(line, buffer, written.ptr, width);
}

void AppendInteger(std::string &line, int32_t value, int width) {
    char buffer[16];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value);
    AppendRight(line, buffer, written.ptr, width);
}

std::string SystemReason(int error_number) {
    return std::system_category().message(error_number);
}

} // namespace

std::string FormatResultLine(const Station &station, double r1, double r2,
                             double half_size, int32_t count) {
    std::string line;
    line.reserve(128);
    AppendFixed(line, station.x, coordinate_width);
    line += ' ';
    AppendFixed(line, station.y, coordinate_width);
    line += ' ';
    // A blank or a line end inside a name would break the line's columns
    // and its count of lines: each becomes '_' here, in this file only.
    std::string point = station.point;
    for (char &c : point) {
        if (static_cast<unsigned char>(c) <= name_blank_limit) {
            c = name_blank_stand_in;
        }
    }
    AppendRight(line, point.data(), point.data() + point.size(), field_width);
    for (double value : {station.h, station.value, r1, r2, half_size}) {
        line += ' ';
        AppendFixed(line, value, field_width);
    }
    line += ' ';
    AppendInteger(line, count, field_width);
    return line;
}

bool TResultFile::Open(const std::string &new_path, int &error) {
    path = new_path;
    write_error = 0;
    station_lines = 0;
    replacement = &own;
    publish = true;
    // Binary mode: the CRLF line ends are written explicitly on every
    // platform.
    return replacement->Begin(new_path, error);
}

void TResultFile::Open(TFileReplacement &staged, const std::string &new_path) {
    path = new_path;
    write_error = 0;
    station_lines = 0;
    replacement = &staged;
    publish = false;
}

void TResultFile::WriteLine(const std::string &line) {
    std::FILE *file = replacement->File();
    if (file == nullptr)
        return;
    if (std::fputs(line.c_str(), file) == EOF ||
        std::fputs(line_end, file) == EOF) {
        // Stop at the first lost write instead of computing lines nobody gets.
        if (write_error == 0)
            write_error = errno != 0 ? errno : EIO;
        throw FileError("Cannot write file \"" + path + "\". " +
                        SystemReason(write_error));
    }
}

void TResultFile::WriteHeader() { WriteLine(result_header); }

void TResultFile::WriteStation(const Station &station, double r1, double r2,
                               double half_size, int32_t count) {
    WriteLine(FormatResultLine(station, r1, r2, half_size, count));
    ++station_lines;
}

void TResultFile::Close() {
    if (!replacement->File())
        return;
    int error = write_error;
    if (error != 0) {
        replacement->Abandon();
    } else {
        error = publish ? replacement->Commit() : replacement->Finish();
    }
    if (error != 0)
        throw FileError("Cannot write file \"" + path + "\". " +
                        SystemReason(error));
}
