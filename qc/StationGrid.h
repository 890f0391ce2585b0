// Stations found by position for quality control: a grid of square cells
// that a station set is sorted into once (compact for a million stations),
// one that stations come into and leave, and the stations whose estimates
// reached a point.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "qc/QcStation.h"

// The cell of a coordinate: floor(v / cell), bounded so that any double (a
// stray station at 1e30, NaN) gives a cell and never overflows.
int64_t GridCell(double v, double cell);

// The key of the cell (i, j).
uint64_t GridKey(int64_t i, int64_t j);

// Stations sorted once by cell, in key order; a cell's members are found by
// binary search, their keys worked out where they are compared (four bytes a
// member for a national survey, not twelve).
class TFixedGrid {
  public:
    TFixedGrid(const TQcStations &stations, double cell,
               std::vector<uint32_t> members);

    // Calls visit(k) for every member within `radius` of (x, y).
    template <typename Visit>
    void Within(double x, double y, double radius, Visit visit) const;
    size_t Size() const { return members.size(); }
    double Cell() const { return cell; }

  private:
    uint64_t KeyOf(uint32_t k) const {
        return GridKey(GridCell(stations[k].x, cell), GridCell(stations[k].y, cell));
    }

    const TQcStations &stations;
    double cell;
    std::vector<uint32_t> members; // by key, then by station
};

// Stations in cells that they come into and leave: for the few the suspect
// rule marks or clears.
class TMovingGrid {
  public:
    TMovingGrid(const TQcStations &stations, double cell);
    void Insert(size_t k);
    void Erase(size_t k);
    // Calls visit(k) for every station within `radius` of (x, y).
    template <typename Visit>
    void Within(double x, double y, double radius, Visit visit) const;

  private:
    const TQcStations &stations;
    double cell;
    std::unordered_map<uint64_t, std::vector<size_t>> cells;
};

// The stations whose leave-one-out estimates reached a point: each in a
// grid whose cells are at least its reach (cells growing by powers of two),
// so that a point's 3 x 3 cells in every grid hold them.
class TReachIndex {
  public:
    TReachIndex(const TQcStations &stations,
                const std::vector<uint32_t> &members);
    // Calls visit(k) for every member whose reach holds (x, y).
    template <typename Visit> void Reaching(double x, double y, Visit visit) const;

  private:
    const TQcStations &stations;
    std::vector<TFixedGrid> levels;
};

// The reach of a station, metres: how far its leave-one-out estimate looked;
// 0 for a station without one.
double StationReach(const QcStation &station);

// --- templates ---

namespace grid_detail {

inline bool Near(const QcStation &s, double x, double y, double radius) {
    const double dx = s.x - x, dy = s.y - y;
    return dx * dx + dy * dy <= radius * radius;
}

// Visits the cells of `cell` size within `radius` of (x, y): each at most
// once, or nothing but `all` when they would be more than `cells_held`.
template <typename Cells, typename All>
void EachCell(double x, double y, double radius, double cell, size_t cells_held,
              Cells cells, All all) {
    if (!(radius >= 0.0)) {
        return;
    }
    const double span = radius / cell + 1.0;
    if (!(span * span * 4.0 <= static_cast<double>(cells_held) + 9.0)) {
        all();
        return;
    }
    const int64_t i0 = GridCell(x - radius, cell), i1 = GridCell(x + radius, cell);
    const int64_t j0 = GridCell(y - radius, cell), j1 = GridCell(y + radius, cell);
    for (int64_t i = i0; i <= i1; ++i) {
        for (int64_t j = j0; j <= j1; ++j) {
            cells(GridKey(i, j));
        }
    }
}

} // namespace grid_detail

template <typename Visit>
void TFixedGrid::Within(double x, double y, double radius, Visit visit) const {
    grid_detail::EachCell(
        x, y, radius, cell, members.size(),
        [&](uint64_t key) {
            auto at = std::lower_bound(
                members.begin(), members.end(), key,
                [this](uint32_t m, uint64_t wanted) { return KeyOf(m) < wanted; });
            for (; at != members.end() && KeyOf(*at) == key; ++at) {
                const size_t k = *at;
                if (grid_detail::Near(stations[k], x, y, radius)) {
                    visit(k);
                }
            }
        },
        [&] {
            for (const uint32_t k : members) {
                if (grid_detail::Near(stations[k], x, y, radius)) {
                    visit(k);
                }
            }
        });
}

template <typename Visit>
void TMovingGrid::Within(double x, double y, double radius, Visit visit) const {
    const auto visit_list = [&](const std::vector<size_t> &list) {
        for (const size_t k : list) {
            if (grid_detail::Near(stations[k], x, y, radius)) {
                visit(k);
            }
        }
    };
    grid_detail::EachCell(
        x, y, radius, cell, cells.size(),
        [&](uint64_t key) {
            const auto found = cells.find(key);
            if (found != cells.end()) {
                visit_list(found->second);
            }
        },
        [&] {
            for (const auto &[key, list] : cells) {
                visit_list(list);
            }
        });
}

template <typename Visit>
void TReachIndex::Reaching(double x, double y, Visit visit) const {
    for (const TFixedGrid &level : levels) {
        level.Within(x, y, level.Cell(), [&](size_t k) {
            if (grid_detail::Near(stations[k], x, y, StationReach(stations[k]))) {
                visit(k);
            }
        });
    }
}
