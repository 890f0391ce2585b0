// The review file: the decisions taken on a run's suspects, one row each, in
// a CSV file beside the result (`<result stem>_review.csv`):
//   scope,id,x,y,decision,value,h,note
// scope `station` (id the station's name, x and y its position) or `survey`
// (id the survey's); decision `keep`, `reject`, `fix` (value and/or h, the
// numbers to use) or `level` (surveys only: value the offset to remove,
// mGal).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qc/QcStation.h"

enum class Decision : uint8_t { Keep, Reject, Fix, Level };
enum class ReviewScope : uint8_t { Station, Survey };

// "keep", "reject", "fix", "level".
const char *DecisionName(Decision decision);

struct ReviewRow {
    ReviewScope scope = ReviewScope::Station;
    std::string id; // the station's name (UTF-8) or the survey's
    double x = qc_none, y = qc_none;
    Decision decision = Decision::Keep;
    double value = qc_none; // fix: the value; level: the offset removed
    double h = qc_none;     // fix: the height
    std::string note;
    int64_t line = 0; // where it was read (0: not read from a file)

    // The same station or survey: its id, and its position within a
    // centimetre.
    bool SameSubject(const ReviewRow &other) const;
};

// A row that could not be taken, and why.
struct ReviewProblem {
    int64_t line = 0; // 0: the file as a whole
    std::string message;
};

struct ReviewFile {
    std::vector<ReviewRow> rows;         // the rows that could be taken
    std::vector<ReviewProblem> problems; // the others, in file order
};

inline constexpr const char *review_header = "scope,id,x,y,decision,value,h,note";
// Two positions closer than this (metres) are the same station's.
inline constexpr double review_position_tolerance = 0.01;

// The review file beside a result: "survey_res.dat" gives
// "survey_res_review.csv".
std::string ReviewPathFor(const std::string &result_path);

// Reads a review file; a file that cannot be read or is not a review file
// is one problem at line 0 (or 1, its header).
ReviewFile ReadReviewFile(const std::string &path);
// Reads review rows from `text`, as from a file.
ReviewFile ParseReviewText(const std::string &text);
// The text of a review file holding `rows`.
std::string ReviewText(const std::vector<ReviewRow> &rows);
// Writes `rows` to `path` through a temporary file and a rename; false and
// `error` (the user's text) when it cannot.
bool WriteReviewFile(const std::string &path,
                     const std::vector<ReviewRow> &rows, std::string &error);

// Lines of a message, "PATH:LINE: message", for each problem.
std::vector<std::string> DescribeProblems(const std::string &path,
                                          const std::vector<ReviewProblem> &problems);

// A decision as a line of text: "line 4: station P12 at 500100, 6000200:
// reject".
std::string StaleText(const ReviewRow &row);
