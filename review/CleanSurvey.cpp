#include "review/CleanSurvey.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/Locale.h"
#include "qc/CompanionTable.h"

namespace {

std::string Lower(std::string text) {
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// `value` with `decimals` decimals and the decimal separator `separator`.
std::string Fixed(double value, int decimals, char separator) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string written = text;
    if (separator != '.') {
        for (char &c : written) {
            if (c == '.') {
                c = separator;
            }
        }
    }
    return written;
}

int DecimalsOf(const std::string &field, char separator) {
    const size_t point = field.find(separator);
    if (point == std::string::npos) {
        return 0;
    }
    size_t end = point + 1;
    while (end < field.size() && field[end] >= '0' && field[end] <= '9') {
        ++end;
    }
    return static_cast<int>(end - point - 1);
}

} // namespace

bool CleanFormOf(const std::string &path, CleanForm &form) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos ||
        (slash != std::string::npos && dot < slash)) {
        return false;
    }
    const std::string extension = Lower(path.substr(dot));
    if (extension == ".dat" || extension == ".txt") {
        form = CleanForm::StationText;
    } else if (extension == ".csv") {
        form = CleanForm::Csv;
    } else if (extension == ".gpkg") {
        form = CleanForm::GeoPackage;
    } else {
        return false;
    }
    return true;
}

std::string ReplaceHeightAndValue(const std::string &line, double h,
                                  double value, char separator) {
    const auto is_separator = [separator](char c) {
        return c == ' ' || c == '\t' || c == ';' ||
               (c == ',' && separator != ',');
    };
    // The spans of the first five fields.
    size_t start[5], end[5];
    size_t at = 0;
    for (int f = 0; f < 5; ++f) {
        while (at < line.size() && is_separator(line[at])) {
            ++at;
        }
        if (at >= line.size() || line[at] == '\r' || line[at] == '\n') {
            return {};
        }
        start[f] = at;
        while (at < line.size() && !is_separator(line[at]) &&
               line[at] != '\r' && line[at] != '\n') {
            ++at;
        }
        end[f] = at;
    }
    // A field keeps its text when its number did not change; a new number
    // gets at least the decimals that keep a centimetre and a microgal.
    const auto field = [&](int f, double number, int least) {
        const std::string text = line.substr(start[f], end[f] - start[f]);
        double read = 0.0;
        if (TryStrToFloat(text, read, separator) && read == number) {
            return text;
        }
        return Fixed(number, std::max(DecimalsOf(text, separator), least),
                     separator);
    };
    return line.substr(0, start[3]) + field(3, h, 2) +
           line.substr(end[3], start[4] - end[3]) + field(4, value, 3) +
           line.substr(end[4]);
}

TCleanSurveyWriter::TCleanSurveyWriter(CleanForm form_, bool from_text_,
                                       char separator_)
    : form(form_), from_text(from_text_), separator(separator_) {}

void TCleanSurveyWriter::Take(const InputRecord &record, bool rejected,
                              bool changed, const std::string &survey) {
    const Station &s = record.station;
    switch (form) {
    case CleanForm::StationText:
        if (rejected) {
            return;
        }
        if (from_text) {
            // The source's own line, its height and value replaced when
            // they changed; lines that hold no station stay too.
            std::string line(record.text);
            if (changed) {
                const std::string replaced =
                    ReplaceHeightAndValue(line, s.h, s.value, separator);
                if (!replaced.empty()) {
                    line = replaced;
                }
            }
            Write(line + "\n");
        } else if (record.is_station) {
            Write(ShortestNumber(s.x) + " " + ShortestNumber(s.y) + " " +
                  record.name + " " + ShortestNumber(s.h) + " " +
                  ShortestNumber(s.value) + "\n");
        }
        return;
    case CleanForm::Csv:
        if (!header_written) {
            Write("x,y,point,h,value,survey\r\n");
            header_written = true;
        }
        if (rejected || !record.is_station) {
            return;
        }
        Write(ShortestNumber(s.x) + "," + ShortestNumber(s.y) + "," +
              CsvField(record.name) + "," +
              (record.has_height ? ShortestNumber(s.h) : std::string()) + "," +
              ShortestNumber(s.value) + "," + CsvField(survey) + "\r\n");
        return;
    case CleanForm::GeoPackage:
        if (!rejected && record.is_station) {
            stations.push_back({s.x, s.y, record.has_height ? s.h : NAN,
                                s.value, record.name, survey});
        }
        return;
    }
}
