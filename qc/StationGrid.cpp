// Grids of stations by position.
#include "qc/StationGrid.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

namespace {

// Cells beyond this many from the origin are taken as this far: wide enough
// for any survey in metres, small enough that neighbours never overflow.
constexpr double max_cell = 1e15;

double Median(std::vector<double> values) {
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + half, values.end());
    return values[half];
}

} // namespace

int64_t GridCell(double v, double cell) {
    const double c = std::floor(v / cell);
    if (!(c >= -max_cell)) {
        return c != c ? 0 : static_cast<int64_t>(-max_cell);
    }
    return static_cast<int64_t>(std::min(c, max_cell));
}

uint64_t GridKey(int64_t i, int64_t j) {
    // Mixed so that neighbouring cells spread over the key space.
    return static_cast<uint64_t>(i) * 0x9e3779b97f4a7c15ull ^
           (static_cast<uint64_t>(j) + 0x632be59bd9b4e019ull);
}

double StationReach(const QcStation &station) {
    return station.reach == station.reach && station.reach > 0.0f
               ? static_cast<double>(station.reach)
               : 0.0;
}

TFixedGrid::TFixedGrid(const TQcStations &stations_, double cell_,
                       std::vector<uint32_t> chosen)
    : stations(stations_),
      cell(cell_ > 0.0 && std::isfinite(cell_) ? cell_ : 1.0),
      members(std::move(chosen)) {
    members.shrink_to_fit();
    std::sort(members.begin(), members.end(), [&](uint32_t a, uint32_t b) {
        const uint64_t ka = KeyOf(a), kb = KeyOf(b);
        return ka < kb || (ka == kb && a < b);
    });
}

TMovingGrid::TMovingGrid(const TQcStations &stations_, double cell_)
    : stations(stations_), cell(cell_ > 0.0 && std::isfinite(cell_) ? cell_ : 1.0) {}

void TMovingGrid::Insert(size_t k) {
    cells[GridKey(GridCell(stations[k].x, cell), GridCell(stations[k].y, cell))]
        .push_back(k);
}

void TMovingGrid::Erase(size_t k) {
    std::vector<size_t> &list = cells[GridKey(GridCell(stations[k].x, cell),
                                              GridCell(stations[k].y, cell))];
    list.erase(std::remove(list.begin(), list.end(), k), list.end());
}

TReachIndex::TReachIndex(const TQcStations &stations_,
                         const std::vector<uint32_t> &chosen)
    : stations(stations_) {
    double base = 0.0;
    {
        std::vector<double> reaches;
        reaches.reserve(chosen.size());
        for (const uint32_t k : chosen) {
            if (StationReach(stations[k]) > 0.0) {
                reaches.push_back(StationReach(stations[k]));
            }
        }
        if (reaches.empty()) {
            return;
        }
        base = Median(std::move(reaches));
    }
    // Each station in the finest level whose cell is at least its reach;
    // the levels' lists counted first, so each is allocated once.
    const auto level_of = [&](uint32_t k) -> std::optional<size_t> {
        const double reach = StationReach(stations[k]);
        if (!(reach > 0.0) || !std::isfinite(reach)) {
            return std::nullopt;
        }
        size_t level = 0;
        while (level < 1000 && base * std::ldexp(1.0, static_cast<int>(level)) < reach) {
            ++level;
        }
        return level;
    };
    std::vector<size_t> counts;
    for (const uint32_t k : chosen) {
        if (const std::optional<size_t> level = level_of(k)) {
            counts.resize(std::max(counts.size(), *level + 1));
            ++counts[*level];
        }
    }
    std::vector<std::vector<uint32_t>> by_level(counts.size());
    for (size_t level = 0; level < counts.size(); ++level) {
        by_level[level].reserve(counts[level]);
    }
    for (const uint32_t k : chosen) {
        if (const std::optional<size_t> level = level_of(k)) {
            by_level[*level].push_back(k);
        }
    }
    for (size_t level = 0; level < by_level.size(); ++level) {
        if (!by_level[level].empty()) {
            levels.emplace_back(stations, base * std::ldexp(1.0, static_cast<int>(level)),
                                std::move(by_level[level]));
        }
    }
}
