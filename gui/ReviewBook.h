// The decisions of the review in hand, as the results window keeps them: the
// review file's rows, each matched to the station of the run shown that has
// its name and position (within a centimetre), and changed one subject at a
// time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qc/QcStation.h"
#include "review/ReviewFile.h"

class TReviewBook {
  public:
    TReviewBook() = default;
    explicit TReviewBook(std::vector<ReviewRow> rows);

    // Matches the rows to `stations` (which must outlive the book, or be
    // matched again before the next call).
    void Match(const TQcStations &stations);

    // The decision on station k, or null.
    const ReviewRow *Of(size_t k) const;
    // The station a row matched first; -1 for a stale row or a survey's.
    int64_t StationOfRow(size_t row) const;
    // The subject of station k: a station row with its name and position,
    // without a decision.
    ReviewRow SubjectOf(size_t k) const;
    // The decision on `subject` (its scope, id and position), if any.
    std::optional<ReviewRow> Find(const ReviewRow &subject) const;
    // The station `subject` names in the stations matched; -1 for none.
    int64_t StationOf(const ReviewRow &subject) const;
    // Puts `decision` on `subject` in place of the one it had (none: the
    // subject is undecided); a new decision goes at the end of the rows.
    void Put(const ReviewRow &subject,
             const std::optional<ReviewRow> &decision);

    // The surveys of the run shown, by name: their rows are not stale.
    void SetSurveys(std::vector<std::string> names) {
        surveys = std::move(names);
    }

    // Every row, in the order the file keeps them.
    const std::vector<ReviewRow> &Rows() const { return rows; }
    // The rows that meet no station or survey of the run shown.
    std::vector<ReviewRow> Stale() const;
    // Of `stations` (indices), how many have a decision.
    int64_t Decided(const std::vector<size_t> &stations) const;

  private:
    std::vector<ReviewRow> rows;
    std::vector<std::string> surveys;
    const TQcStations *matched = nullptr;
    std::vector<int32_t> row_of;     // by station; -1: undecided
    std::vector<int64_t> station_of; // by row; -1: stale or a survey's
};
