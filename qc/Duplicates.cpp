// Shared positions by sorting, close pairs by a grid of cells of the
// distance asked for.
#include "qc/Duplicates.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_map>

DuplicateFindings FindDuplicates(TQcStations &stations, double close_distance) {
    DuplicateFindings findings;
    const size_t count = stations.Size();
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    const auto same = [&](size_t a, size_t b) {
        return stations[a].x == stations[b].x && stations[a].y == stations[b].y;
    };
    // By position, and in file order within a position.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
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
                if (later.status != QcStatus::Skipped) {
                    later.status = QcStatus::Duplicate;
                }
            }
            findings.positions.push_back(std::move(position));
        }
        k = end;
    }
    std::sort(findings.positions.begin(), findings.positions.end(),
              [](const DuplicatePosition &a, const DuplicatePosition &b) {
                  return a.stations.front() < b.stations.front();
              });

    if (!(close_distance > 0.0) || !std::isfinite(close_distance)) {
        return findings;
    }
    // Cells as wide as the distance: a close pair lies in one cell or in two
    // that touch. Indices are clamped well inside int64 (a station at 1e30,
    // a lost digit, would overflow it): stations beyond share the outermost
    // cells, which only adds candidates, each measured exactly below.
    constexpr double max_cell = 1e15;
    const auto cell_of = [&](double v) {
        return static_cast<int64_t>(
            std::clamp(std::floor(v / close_distance), -max_cell, max_cell));
    };
    const auto pack = [](int64_t i, int64_t j) {
        return (static_cast<uint64_t>(i) << 32) ^
               (static_cast<uint64_t>(j) & 0xffffffffull);
    };
    std::unordered_map<uint64_t, std::vector<size_t>> cells;
    for (size_t k = 0; k < count; ++k) {
        const QcStation &s = stations[k];
        if (std::isfinite(s.x) && std::isfinite(s.y)) {
            cells[pack(cell_of(s.x), cell_of(s.y))].push_back(k);
        }
    }
    for (size_t k = 0; k < count && !findings.close_pairs_cut; ++k) {
        const QcStation &a = stations[k];
        if (!std::isfinite(a.x) || !std::isfinite(a.y)) {
            continue;
        }
        const int64_t cx = cell_of(a.x), cy = cell_of(a.y);
        std::vector<ClosePair> found;
        for (int64_t i = cx - 1; i <= cx + 1; ++i) {
            for (int64_t j = cy - 1; j <= cy + 1; ++j) {
                const auto cell = cells.find(pack(i, j));
                if (cell == cells.end()) {
                    continue;
                }
                for (const size_t other : cell->second) {
                    if (other <= k || same(k, other)) {
                        continue;
                    }
                    const double d = std::hypot(a.x - stations[other].x,
                                                a.y - stations[other].y);
                    if (d < close_distance) {
                        found.push_back({k, other, d});
                    }
                }
            }
        }
        std::sort(found.begin(), found.end(),
                  [](const ClosePair &p, const ClosePair &q) {
                      return p.second < q.second;
                  });
        for (const ClosePair &pair : found) {
            if (findings.close_pairs.size() == max_close_pairs) {
                findings.close_pairs_cut = true;
                break;
            }
            findings.close_pairs.push_back(pair);
        }
    }
    return findings;
}
