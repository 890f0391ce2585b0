// The review's rows matched to the stations of a run by name and position.
#include "gui/ReviewBook.h"

#include <algorithm>

#include <cmath>
#include <string_view>
#include <unordered_map>

TReviewBook::TReviewBook(std::vector<ReviewRow> rows_)
    : rows(std::move(rows_)) {}

void TReviewBook::Match(const TQcStations &stations) {
    matched = &stations;
    row_of.assign(stations.Size(), -1);
    station_of.assign(rows.size(), -1);
    std::unordered_multimap<std::string_view, size_t> by_id;
    for (size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].scope == ReviewScope::Station) {
            by_id.emplace(rows[r].id, r);
        }
    }
    if (by_id.empty()) {
        return;
    }
    // Each station looks its name up among the rows: one pass over the
    // stations, however many rows there are.
    for (size_t k = 0; k < stations.Size(); ++k) {
        const auto [first, last] = by_id.equal_range(stations.Name(k));
        for (auto at = first; at != last; ++at) {
            const ReviewRow &row = rows[at->second];
            if (std::hypot(row.x - stations[k].x, row.y - stations[k].y) <=
                review_position_tolerance) {
                row_of[k] = static_cast<int32_t>(at->second);
                if (station_of[at->second] < 0) {
                    station_of[at->second] = static_cast<int64_t>(k);
                }
                break;
            }
        }
    }
}

const ReviewRow *TReviewBook::Of(size_t k) const {
    return k < row_of.size() && row_of[k] >= 0
               ? &rows[static_cast<size_t>(row_of[k])]
               : nullptr;
}

int64_t TReviewBook::StationOfRow(size_t row) const {
    return row < station_of.size() ? station_of[row] : -1;
}

ReviewRow TReviewBook::SubjectOf(size_t k) const {
    ReviewRow subject;
    subject.scope = ReviewScope::Station;
    if (matched != nullptr && k < matched->Size()) {
        subject.id = std::string(matched->Name(k));
        subject.x = (*matched)[k].x;
        subject.y = (*matched)[k].y;
    }
    return subject;
}

std::optional<ReviewRow> TReviewBook::Find(const ReviewRow &subject) const {
    for (const ReviewRow &row : rows) {
        if (row.SameSubject(subject)) {
            return row;
        }
    }
    return std::nullopt;
}

int64_t TReviewBook::StationOf(const ReviewRow &subject) const {
    if (matched == nullptr || subject.scope != ReviewScope::Station) {
        return -1;
    }
    for (size_t k = 0; k < matched->Size(); ++k) {
        if (matched->Name(k) == subject.id &&
            std::hypot(subject.x - (*matched)[k].x,
                       subject.y - (*matched)[k].y) <=
                review_position_tolerance) {
            return static_cast<int64_t>(k);
        }
    }
    return -1;
}

void TReviewBook::Put(const ReviewRow &subject,
                      const std::optional<ReviewRow> &decision) {
    size_t at = 0;
    while (at < rows.size() && !rows[at].SameSubject(subject)) {
        ++at;
    }
    if (decision) {
        if (at < rows.size()) {
            rows[at] = *decision;
        } else {
            rows.push_back(*decision);
        }
    } else if (at < rows.size()) {
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(at));
    }
    if (matched != nullptr) {
        Match(*matched);
    }
}

std::vector<ReviewRow> TReviewBook::Stale() const {
    std::vector<ReviewRow> stale;
    for (size_t r = 0; r < rows.size(); ++r) {
        const bool known_survey =
            rows[r].scope == ReviewScope::Survey &&
            std::find(surveys.begin(), surveys.end(), rows[r].id) !=
                surveys.end();
        if (StationOfRow(r) < 0 && !known_survey) {
            stale.push_back(rows[r]);
        }
    }
    return stale;
}

int64_t TReviewBook::Decided(const std::vector<size_t> &stations) const {
    int64_t decided = 0;
    for (const size_t k : stations) {
        decided += Of(k) != nullptr ? 1 : 0;
    }
    return decided;
}
