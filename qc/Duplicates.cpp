// Shared positions by sorting, close pairs by a grid of cells of the
// distance asked for.
#include "qc/Duplicates.h"

#include "qc/StationGrid.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <numeric>

DuplicateFindings FindDuplicates(TQcStations &stations, double close_distance) {
    DuplicateFindings findings;
    const size_t count = stations.Size();
    const auto same = [&](size_t a, size_t b) {
        return stations[a].x == stations[b].x && stations[a].y == stations[b].y;
    };
    {
        // By position, and in file order within a position. Station numbers
        // of 32 bits: a national survey's sort stays small.
        std::vector<uint32_t> order(count);
        std::iota(order.begin(), order.end(), uint32_t{0});
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) {
                             return stations[a].x < stations[b].x ||
                                    (stations[a].x == stations[b].x &&
                                     stations[a].y < stations[b].y);
                         });
        for (size_t k = 0; k < count;) {
            size_t end = k + 1;
            while (end < count && same(order[k], order[end])) {
                ++end;
            }
            if (end - k > 1) {
                DuplicatePosition position;
                position.stations.assign(order.begin() + k, order.begin() + end);
                for (size_t j = 1; j < position.stations.size(); ++j) {
                    QcStation &later = stations[position.stations[j]];
                    if (later.status != QcStatus::Skipped &&
                        later.status != QcStatus::NotReached) {
                        later.status = QcStatus::Duplicate;
                    }
                }
                findings.positions.push_back(std::move(position));
            }
            k = end;
        }
    }
    std::sort(findings.positions.begin(), findings.positions.end(),
              [](const DuplicatePosition &a, const DuplicatePosition &b) {
                  return a.stations.front() < b.stations.front();
              });

    if (!(close_distance > 0.0) || !std::isfinite(close_distance)) {
        return findings;
    }
    // Columns as wide as the distance: a close pair lies in one column or in
    // two that touch. The stations sorted by column, then by y, give each
    // station's partners by a search along its own column and the next one.
    // Only their numbers are held; the column is worked out where it is
    // compared.
    const auto column_of = [&](uint32_t k) {
        return GridCell(stations[k].x, close_distance);
    };
    const auto before = [&](uint32_t a, uint32_t b) {
        const int64_t ca = column_of(a), cb = column_of(b);
        return ca < cb || (ca == cb && stations[a].y < stations[b].y);
    };
    std::vector<uint32_t> places;
    places.reserve(count);
    for (size_t k = 0; k < count; ++k) {
        const QcStation &s = stations[k];
        if (std::isfinite(s.x) && std::isfinite(s.y)) {
            places.push_back(static_cast<uint32_t>(k));
        }
    }
    std::sort(places.begin(), places.end(), before);
    std::vector<ClosePair> found;
    for (const uint32_t k : places) {
        const QcStation &a = stations[k];
        const int64_t own_column = column_of(k);
        for (const int64_t column : {own_column - 1, own_column, own_column + 1}) {
            // The first station of `column` not below a.y - distance.
            const double low = a.y - close_distance;
            auto at = std::lower_bound(
                places.begin(), places.end(), std::pair{column, low},
                [&](uint32_t p, const std::pair<int64_t, double> &key) {
                    const int64_t c = column_of(p);
                    return c < key.first ||
                           (c == key.first && stations[p].y < key.second);
                });
            for (; at != places.end() && column_of(*at) == column &&
                   stations[*at].y <= a.y + close_distance;
                 ++at) {
                const size_t other = *at;
                if (other <= k || same(k, other)) {
                    continue;
                }
                const double d =
                    std::hypot(a.x - stations[other].x, a.y - stations[other].y);
                if (d < close_distance) {
                    found.push_back({k, other, d});
                    if (found.size() > max_close_pairs) {
                        break;
                    }
                }
            }
        }
        if (found.size() > max_close_pairs) {
            break;
        }
    }
    std::sort(found.begin(), found.end(),
              [](const ClosePair &p, const ClosePair &q) {
                  return p.first < q.first ||
                         (p.first == q.first && p.second < q.second);
              });
    findings.close_pairs_cut = found.size() > max_close_pairs;
    if (findings.close_pairs_cut) {
        found.resize(max_close_pairs);
    }
    findings.close_pairs = std::move(found);
    return findings;
}
