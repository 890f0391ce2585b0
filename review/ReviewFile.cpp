#include "review/ReviewFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/FileError.h"
#include "platform/FileReplacement.h"
#include "platform/Locale.h"
#include "qc/CompanionTable.h"

namespace {

// Splits one CSV record starting at `at` into fields; moves `at` past its
// line end. False for a quote left open.
bool NextRecord(const std::string &text, size_t &at,
                std::vector<std::string> &fields, int64_t &lines) {
    fields.assign(1, std::string());
    bool quoted = false;
    while (at < text.size()) {
        const char c = text[at++];
        if (quoted) {
            if (c == '"') {
                if (at < text.size() && text[at] == '"') {
                    fields.back() += '"';
                    ++at;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n') {
                    ++lines;
                }
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            ++lines;
            return true;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    ++lines;
    return !quoted;
}

bool Number(const std::string &text, double &value) {
    return TryStrToFloat(text, value, '.') && std::isfinite(value);
}

std::string SystemReason(int error) {
    return std::system_category().message(error) + ".";
}

std::string Shortest(double value) {
    return std::isfinite(value) ? ShortestNumber(value) : std::string();
}

} // namespace

const char *DecisionName(Decision decision) {
    switch (decision) {
    case Decision::Keep:
        return "keep";
    case Decision::Reject:
        return "reject";
    case Decision::Fix:
        return "fix";
    case Decision::Level:
        return "level";
    }
    return "";
}

bool ReviewRow::SameSubject(const ReviewRow &other) const {
    if (scope != other.scope || id != other.id) {
        return false;
    }
    return scope == ReviewScope::Survey ||
           std::hypot(x - other.x, y - other.y) <= review_position_tolerance;
}

std::string ReviewPathFor(const std::string &result_path) {
    const size_t slash = result_path.find_last_of('/');
    const size_t dot = result_path.find_last_of('.');
    const std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash)
            ? result_path.substr(0, dot)
            : result_path;
    return stem + "_review.csv";
}

ReviewFile ParseReviewText(const std::string &text) {
    ReviewFile file;
    size_t at = 0;
    int64_t lines = 0;
    std::vector<std::string> fields;
    // A UTF-8 byte order mark, as spreadsheets write one.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        at = 3;
    }
    const int64_t header_line = lines + 1;
    if (!NextRecord(text, at, fields, lines) || fields.size() < 8 ||
        fields[0] != "scope" || fields[1] != "id" || fields[2] != "x" ||
        fields[3] != "y" || fields[4] != "decision" || fields[5] != "value" ||
        fields[6] != "h" || fields[7] != "note") {
        file.problems.push_back(
            {header_line, std::string("not a review file: its first line must "
                                      "be the header ") +
                              review_header});
        return file;
    }
    while (at < text.size()) {
        const int64_t line = lines + 1;
        if (!NextRecord(text, at, fields, lines)) {
            file.problems.push_back({line, "a quote is left open"});
            break;
        }
        if (fields.size() == 1 && fields[0].empty()) {
            continue; // an empty line
        }
        const auto refuse = [&](const std::string &why) {
            file.problems.push_back({line, why});
        };
        if (fields.size() < 5) {
            refuse("a row needs at least scope,id,x,y,decision");
            continue;
        }
        fields.resize(std::max<size_t>(fields.size(), 8));
        ReviewRow row;
        row.line = line;
        if (fields[0] == "station") {
            row.scope = ReviewScope::Station;
        } else if (fields[0] == "survey") {
            row.scope = ReviewScope::Survey;
        } else {
            refuse("the scope is 'station' or 'survey', not '" + fields[0] +
                   "'");
            continue;
        }
        row.id = fields[1];
        if (row.id.empty()) {
            refuse("the id is empty");
            continue;
        }
        const std::string &decision = fields[4];
        if (decision == "keep") {
            row.decision = Decision::Keep;
        } else if (decision == "reject") {
            row.decision = Decision::Reject;
        } else if (decision == "fix") {
            row.decision = Decision::Fix;
        } else if (decision == "level") {
            row.decision = Decision::Level;
        } else {
            refuse("unknown decision '" + decision +
                   "' (keep, reject, fix or level)");
            continue;
        }
        if (row.scope == ReviewScope::Station) {
            if (!Number(fields[2], row.x) || !Number(fields[3], row.y)) {
                refuse("a station's x and y must be numbers");
                continue;
            }
            if (row.decision == Decision::Level) {
                refuse("'level' is a decision on a survey, not a station");
                continue;
            }
        } else if (row.decision == Decision::Reject ||
                   row.decision == Decision::Fix) {
            refuse("a survey is kept or levelled, not '" + decision + "'");
            continue;
        }
        if (!fields[5].empty() && !Number(fields[5], row.value)) {
            refuse("the value '" + fields[5] + "' is not a number");
            continue;
        }
        if (!fields[6].empty() && !Number(fields[6], row.h)) {
            refuse("the height '" + fields[6] + "' is not a number");
            continue;
        }
        if (row.decision == Decision::Fix && std::isnan(row.value) &&
            std::isnan(row.h)) {
            refuse("a fix needs a value or a height");
            continue;
        }
        if (row.decision == Decision::Level && std::isnan(row.value)) {
            refuse("a level needs the offset to remove in the value column");
            continue;
        }
        row.note = fields[7];
        bool repeated = false;
        for (const ReviewRow &earlier : file.rows) {
            if (earlier.SameSubject(row)) {
                refuse("a second decision on " + row.id + " (the first, line " +
                       std::to_string(earlier.line) + ", is kept)");
                repeated = true;
                break;
            }
        }
        if (!repeated) {
            file.rows.push_back(std::move(row));
        }
    }
    return file;
}

ReviewFile ReadReviewFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ReviewFile file;
        file.problems.push_back(
            {0, "cannot be read: " + SystemReason(errno != 0 ? errno : ENOENT)});
        return file;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const std::string bytes = text.str();
    if (bytes.find('\0') != std::string::npos) {
        ReviewFile file;
        file.problems.push_back({0, "not a review file: it is not text"});
        return file;
    }
    return ParseReviewText(bytes);
}

std::string ReviewText(const std::vector<ReviewRow> &rows) {
    std::string text = std::string(review_header) + "\r\n";
    for (const ReviewRow &row : rows) {
        const bool station = row.scope == ReviewScope::Station;
        text += station ? "station," : "survey,";
        text += CsvField(row.id) + ',';
        text += (station ? Shortest(row.x) : std::string()) + ',';
        text += (station ? Shortest(row.y) : std::string()) + ',';
        text += std::string(DecisionName(row.decision)) + ',';
        text += Shortest(row.value) + ',' + Shortest(row.h) + ',';
        text += CsvField(row.note) + "\r\n";
    }
    return text;
}

bool WriteReviewFile(const std::string &path,
                     const std::vector<ReviewRow> &rows, std::string &error) {
    TFileReplacement file;
    int code = 0;
    if (!file.Begin(path, code)) {
        error = "Cannot write the review file \"" + path + "\". " +
                SystemReason(code);
        return false;
    }
    const std::string text = ReviewText(rows);
    if (std::fwrite(text.data(), 1, text.size(), file.File()) != text.size()) {
        code = errno != 0 ? errno : EIO;
        file.Abandon();
    } else {
        code = file.Commit();
    }
    if (code != 0) {
        error = "Cannot write the review file \"" + path + "\". " +
                SystemReason(code);
        return false;
    }
    return true;
}

std::vector<std::string>
DescribeProblems(const std::string &path,
                 const std::vector<ReviewProblem> &problems) {
    std::vector<std::string> lines;
    for (const ReviewProblem &problem : problems) {
        lines.push_back(path +
                        (problem.line > 0 ? ":" + std::to_string(problem.line)
                                          : std::string()) +
                        ": " + problem.message);
    }
    return lines;
}

std::string StaleText(const ReviewRow &row) {
    std::string text =
        row.line > 0 ? "line " + std::to_string(row.line) + ": " : std::string();
    if (row.scope == ReviewScope::Station) {
        text += "station " + row.id + " at " + Shortest(row.x) + ", " +
                Shortest(row.y);
    } else {
        text += "survey " + row.id;
    }
    return text + ": " + DecisionName(row.decision);
}
