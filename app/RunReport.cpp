// The run's reasons and their texts.
#include "app/RunReport.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {

constexpr size_t line_shown = 80; // characters of an unread line shown

std::string Number(double value) {
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::general, 10);
    return std::string(buffer, written.ptr);
}

std::string Count(int64_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::string NotTextMessage(const std::string &path, int64_t line,
                           const std::string &encoding,
                           const std::string &bytes, const std::string &what,
                           bool detailed) {
    const bool nul = bytes == std::string(1, '\0');
    std::string text = "Line " + std::to_string(line) + " of " +
                       (path == "-" ? std::string("standard input") : path) +
                       " is not " + (encoding.empty() ? "UTF-8" : encoding) +
                       " text";
    if (!detailed) {
        return text + ".\n" + what;
    }
    if (nul) {
        return text + ": it holds a NUL byte, as a binary file does.\n" + what;
    }
    if (!bytes.empty()) {
        text += " (the bytes";
        for (const unsigned char byte : bytes) {
            char hex[8];
            std::snprintf(hex, sizeof hex, " 0x%02X", byte);
            text += hex;
        }
        text += ")";
    }
    text += ".\n" + what;
    if (encoding.empty()) {
        text += "\nhint: a file saved in another encoding can be read with "
                "--encoding (for example --encoding LATIN1)";
    }
    return text;
}

void TRunReport::Add(StationIssue issue, std::string_view detail,
                     std::string_view name, int64_t line) {
    auto tally =
        std::find_if(tallies.begin(), tallies.end(), [&](const IssueTally &t) {
            return t.issue == issue && t.detail == detail;
        });
    if (tally == tallies.end()) {
        tallies.push_back(IssueTally{issue, std::string(detail), 0, {}});
        tally = tallies.end() - 1;
    }
    ++tally->count;
    if (tally->first.size() < names_kept) {
        tally->first.push_back({std::string(name), line});
    }
}

void TRunReport::AddUnread(int64_t line, std::string_view text) {
    ++unread_count;
    if (unread.size() < names_kept) {
        unread.push_back({line, ShortLine(text)});
    }
}

void TRunReport::AddWideLine(int64_t line, std::string_view text,
                             bool thousands) {
    if (wide_count++ == 0) {
        first_wide = {line, ShortLine(text)};
    }
    if (thousands && thousands_count++ == 0) {
        first_thousands = {line, ShortLine(text)};
    }
}

std::vector<std::string> TRunReport::DescribeWideLines() const {
    std::vector<std::string> lines;
    if (wide_count == 0) {
        return lines;
    }
    lines.push_back(Count(wide_count, "station line", "station lines") +
                    " held more than five fields; those after the fifth are "
                    "not read. First, line " +
                    std::to_string(first_wide.line) + ": " + first_wide.text);
    if (thousands_count > 0) {
        lines.push_back(
            "Commas split numbers written with thousands separators in " +
            Count(thousands_count, "line", "lines") + " (first, line " +
            std::to_string(first_thousands.line) + ": " + first_thousands.text +
            "): 6,008,599.50 is read as three fields. Write the numbers "
            "without them, use --decimal-separator , if the comma is the "
            "decimal mark, or give the file a header line and read it as a "
            "table (--columns).");
    }
    return lines;
}

int64_t TRunReport::Skipped() const {
    int64_t skipped = 0;
    for (const IssueTally &tally : tallies) {
        if (tally.issue == StationIssue::WindowShort ||
            tally.issue == StationIssue::OwnSampleMissing ||
            tally.issue == StationIssue::EstimationError) {
            skipped += tally.count;
        }
    }
    return skipped;
}

std::string TRunReport::ShortLine(std::string_view text) {
    if (text.size() <= line_shown) {
        return std::string(text);
    }
    // Cut before a UTF-8 continuation byte, never inside a character.
    size_t cut = line_shown;
    while (cut > 0 &&
           (static_cast<unsigned char>(text[cut]) & 0xC0u) == 0x80u) {
        --cut;
    }
    return std::string(text.substr(0, cut)) + "...";
}

std::string TRunReport::IssueText(const IssueTally &tally) {
    switch (tally.issue) {
    case StationIssue::WindowShort:
        return "Skipped: no search window could hold the minimum number of "
               "stations";
    case StationIssue::OwnSampleMissing:
        return "Skipped: the station's position was not in the point table";
    case StationIssue::EstimationError:
        return "Skipped: the estimation failed (" + tally.detail + ")";
    case StationIssue::GridRefused:
        return tally.detail;
    case StationIssue::NoSampleLeft:
        return "No leave-one-out estimate: the window held only the station "
               "itself";
    case StationIssue::OneRow:
        return "No leave-one-out estimate: the window's other stations lie on "
               "one line of y";
    case StationIssue::BlankEstimate:
        return "No leave-one-out estimate: too few stations within the "
               "search distance of the grid nodes";
    }
    return tally.detail;
}

std::vector<std::string> TRunReport::Describe() const {
    std::vector<std::string> lines;
    for (const IssueTally &tally : tallies) {
        std::string line = IssueText(tally);
        // A message of the gridder ends with its own full stop.
        line += tally.issue == StationIssue::GridRefused ? " " : ": ";
        line += Count(tally.count, "station", "stations");
        line += tally.count == 1 ? ": " : ", first ";
        for (size_t k = 0; k < tally.first.size(); ++k) {
            if (k > 0) {
                line += ", ";
            }
            line += tally.first[k].name;
            if (k == 0) {
                line += " (line " + std::to_string(tally.first[k].line) + ")";
            }
        }
        if (tally.count > static_cast<int64_t>(tally.first.size())) {
            line += ", ...";
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> TRunReport::DescribeUnread() const {
    std::vector<std::string> lines;
    for (const UnreadLine &line : unread) {
        lines.push_back("line " + std::to_string(line.line) + ": " + line.text);
    }
    return lines;
}

std::string TRunReport::NothingEstimated(const RunParameters &settings,
                                         bool degrees) const {
    // The reason that hit most stations is the likely cause.
    const IssueTally *main = nullptr;
    for (const IssueTally &tally : tallies) {
        if (main == nullptr || tally.count > main->count) {
            main = &tally;
        }
    }
    std::string text = "No station has a leave-one-out estimate.";
    if (main == nullptr) {
        return text;
    }
    const std::string a = Number(settings.search_distance);
    const std::string cell = Number(settings.cell_size);
    if (degrees) {
        return text + " Every coordinate lies within +-180 and +-90: these "
                      "look like longitude and latitude, not metres. Add "
                      "--source-crs EPSG:4326 (or name the columns lon and "
                      "lat) so that they are projected to metres.";
    }
    switch (main->issue) {
    case StationIssue::BlankEstimate:
        text += " The search distance (" + a +
                " m) is also the kriging search radius: the stations lie "
                "further apart than that around the grid nodes (coordinates "
                "in degrees instead of metres have the same effect). Try a "
                "search distance larger than the station spacing.";
        break;
    case StationIssue::GridRefused:
        text += " A grid may have at most " + std::to_string(max_grid_nodes) +
                " nodes each way, and with a cell size of " + cell +
                " m the search windows needed more (" + main->detail +
                "). Try a larger cell size, or a smaller search distance and "
                "minimum number of stations.";
        break;
    case StationIssue::WindowShort:
        text += " No search window could hold " +
                std::to_string(settings.min_points) +
                " stations: the survey holds fewer, or the increment does "
                "not grow the window. Lower the minimum number of stations.";
        break;
    case StationIssue::NoSampleLeft:
        text += " Every window held only its own station: raise the minimum "
                "number of stations (at least 6 are needed for an estimate).";
        break;
    case StationIssue::OneRow:
        text += " The stations of every window lie on one line of y, which "
                "leaves the grid no rows.";
        break;
    case StationIssue::OwnSampleMissing:
    case StationIssue::EstimationError:
        text += " " + IssueText(*main) + ".";
        break;
    }
    return text;
}
