// The variogram fit: pairs along the lines of the cell index, their lag
// classes and sums, the peak of each direction, and the reuse of a kept fit
// for the same samples less one.
//
// Formulas are evaluated with long double intermediates (64-bit mantissa) and
// stored into doubles.
#include "kriging/VariogramFit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "kriging/LagClass.h"

namespace {

constexpr long double lag_class_share =
    0.02L; // class width as a share of the extent
constexpr long double pair_offset = 0.0001L;

// Lag class widths (metres) whose inverse is computed for the plain class
// test: neither it nor a quotient can overflow.
constexpr double min_plain_width = 1e-200;
constexpr double max_plain_width = 1e200;

// What one pair of the fit adds to its lag class: the distance, the value
// difference, and the class (-1: the pair is left out).
struct PairRecord {
    double d;
    double dz;
    int32_t lag_class;
};

// The lag classes of one direction of the fit: pairs up to `extent` apart
// in classes `width` wide; `inverse` is 1 / width in plain double, or 0 where
// it could overflow.
struct LagScale {
    double extent;
    double width;
    double inverse;
};

// Work table of the experimental variogram: one row per lag class.
struct LagTable {
    double dist_sum[lag_classes];
    double sq_sum[lag_classes];
    double count[lag_classes];

    void Clear() {
        for (int32_t k = 0; k < lag_classes; ++k) {
            dist_sum[k] = sq_sum[k] = count[k] = 0.0;
        }
    }
    // Adds a pair to its class, each sum stored as double after the addition.
    void Add(const PairRecord &pair) {
        const int32_t k = pair.lag_class;
        dist_sum[k] = dist_sum[k] + static_cast<long double>(pair.d);
        sq_sum[k] = sq_sum[k] + static_cast<long double>(pair.dz) * pair.dz;
        count[k] = count[k] + 1.0L;
    }
};

// The occupied cells of every row (or column) of the cell index, as lines of
// entries in ascending column (row) order, and the pairs of each line.
struct FitLines {
    // Line l's entries are start[l] .. start[l + 1] - 1.
    std::vector<int32_t> start;
    // Per entry: the column (of a row's entry) or row (of a column's entry)
    // of its cell, and the sample that represents the cell.
    std::vector<int32_t> place;
    std::vector<int32_t> sample;
    // Every pair of every line in the order of the scan (kept fits only):
    // pair k's distance, value difference and lag class (-1: left out).
    std::vector<double> pair_d, pair_dz;
    std::vector<int8_t> pair_class;
    // The pairs of each lag class in the scan order, as a chain: the first
    // pair of class k, and the next pair of the same class after each (-1:
    // none).
    int32_t class_first[lag_classes];
    std::vector<int32_t> pair_next;
    // The sums after all pairs (kept fits only).
    LagTable table;
};

// The distance of samples a and b plus the fit's pair offset.
// plain_offsets: the coordinate offsets are exact in double arithmetic.
template <bool plain_offsets>
[[gnu::always_inline]] inline double PairReach(const double *sample_x,
                                               const double *sample_y,
                                               int32_t a, int32_t b) {
    // Each offset is the extended difference stored as double; where the
    // caller knows every difference of the window to be exact, the plain one
    // is the same number.
    const double pdx =
        plain_offsets
            ? sample_x[a] - sample_x[b]
            : static_cast<double>(static_cast<long double>(sample_x[a]) -
                                  sample_x[b]);
    const double pdy =
        plain_offsets
            ? sample_y[a] - sample_y[b]
            : static_cast<double>(static_cast<long double>(sample_y[a]) -
                                  sample_y[b]);
    // The offset classes a pair by trunc((distance + 0.0001) / width) while
    // the mean distances stay those of the pairs.
    return std::sqrt(static_cast<long double>(pdx) * pdx +
                     static_cast<long double>(pdy) * pdy) +
           pair_offset;
}

// What pair (a, b) adds to the fit, given its PairReach e: distance, value
// difference and lag class.
[[gnu::always_inline]] inline PairRecord ClassifyPair(const double *sample_z,
                                                      int32_t a, int32_t b,
                                                      double e,
                                                      const LagScale &scale) {
    if (!(e <= scale.extent && e >= pair_offset)) {
        return {0.0, 0.0, -1};
    }
    const int32_t k = LagClassOf(e, scale.width, scale.inverse);
    if (k < 0) {
        return {0.0, 0.0, -1};
    }
    const double pdz = static_cast<long double>(sample_z[a]) - sample_z[b];
    const double d = e - pair_offset;
    return {d, pdz, k};
}

// The occupied cells of the cell index as rows (lines[0]) and columns
// (lines[1]) of entries: the pairs of the fit are the dense scan's pairs in
// the dense scan's order, so the sums are the same, without visiting the
// empty cells of a grown window. `fill` is scratch.
void ListLines(const FitGrid &grid, FitLines *lines,
               std::vector<int32_t> &fill) {
    const int32_t n_cols = grid.shape.n_cols, n_rows = grid.shape.n_rows;
    FitLines &rows = lines[0];
    FitLines &cols = lines[1];
    rows.start.assign(n_rows + 1, 0);
    cols.start.assign(n_cols + 1, 0);
    for (int32_t c = 0; c < n_cols; ++c) {
        for (int32_t r = 0; r < n_rows; ++r) {
            if (grid.cell_index[c][r] != -1) {
                ++rows.start[r + 1];
                ++cols.start[c + 1];
            }
        }
    }
    for (int32_t r = 0; r < n_rows; ++r) {
        rows.start[r + 1] += rows.start[r];
    }
    for (int32_t c = 0; c < n_cols; ++c) {
        cols.start[c + 1] += cols.start[c];
    }
    rows.place.resize(rows.start[n_rows]);
    rows.sample.resize(rows.start[n_rows]);
    cols.place.resize(cols.start[n_cols]);
    cols.sample.resize(cols.start[n_cols]);
    fill.assign(rows.start.begin(), rows.start.end() - 1);
    for (int32_t c = 0; c < n_cols; ++c) {
        int32_t col_fill = cols.start[c];
        for (int32_t r = 0; r < n_rows; ++r) {
            const int32_t s = grid.cell_index[c][r];
            if (s != -1) {
                rows.place[fill[r]] = c;
                rows.sample[fill[r]++] = s;
                cols.place[col_fill] = r;
                cols.sample[col_fill++] = s;
            }
        }
    }
}

// Adds up every pair of every line of `own` into `table`, the earlier cell of
// a pair first. record: keep each pair's figures and the chains of its class
// in `own`, and the sums. `reach` is scratch.
void AddUpLines(const FitGrid &grid, FitLines &own, const LagScale &scale,
                bool plain_offsets, bool record, std::vector<double> &reach,
                LagTable &table) {
    const double *sample_x = grid.sample_x;
    const double *sample_y = grid.sample_y;
    const double *sample_z = grid.sample_z;
    const auto count = static_cast<int32_t>(own.start.size()) - 1;
    size_t total = 0;
    for (int32_t line = 0; line < count; ++line) {
        const size_t n = own.start[line + 1] - own.start[line];
        total += n * (n - 1) / 2;
    }
    int32_t class_last[lag_classes];
    if (record) {
        own.pair_d.resize(total);
        own.pair_dz.resize(total);
        own.pair_class.resize(total);
        own.pair_next.resize(total);
        for (int32_t k = 0; k < lag_classes; ++k) {
            own.class_first[k] = class_last[k] = -1;
        }
    }
    table.Clear();
    size_t at = 0;
    // The distances of all pairs first, each independent of the others, so
    // that their square roots overlap; then their classes and sums in the
    // scan order.
    reach.resize(std::max(reach.size(), total));
    for (int32_t line = 0, at_line = 0; line < count; ++line) {
        const int32_t end = own.start[line + 1];
        for (int32_t i = own.start[line]; i < end; ++i) {
            const int32_t a = own.sample[i];
            for (int32_t j = i + 1; j < end; ++j, ++at_line) {
                reach[at_line] =
                    plain_offsets
                        ? PairReach<true>(sample_x, sample_y, a, own.sample[j])
                        : PairReach<false>(sample_x, sample_y, a,
                                           own.sample[j]);
            }
        }
    }
    for (int32_t line = 0; line < count; ++line) {
        const int32_t end = own.start[line + 1];
        for (int32_t i = own.start[line]; i < end; ++i) {
            const int32_t a = own.sample[i];
            for (int32_t j = i + 1; j < end; ++j, ++at) {
                const PairRecord pair =
                    ClassifyPair(sample_z, a, own.sample[j], reach[at], scale);
                if (record) {
                    own.pair_d[at] = pair.d;
                    own.pair_dz[at] = pair.dz;
                    own.pair_class[at] = static_cast<int8_t>(pair.lag_class);
                    own.pair_next[at] = -1;
                    const int32_t k = pair.lag_class;
                    if (k >= 0) {
                        const auto here = static_cast<int32_t>(at);
                        if (class_last[k] < 0) {
                            own.class_first[k] = here;
                        } else {
                            own.pair_next[class_last[k]] = here;
                        }
                        class_last[k] = here;
                    }
                }
                if (pair.lag_class >= 0) {
                    table.Add(pair);
                }
            }
        }
    }
    if (record) {
        own.table = table;
    }
}

// Peak semivariance of a table and the mean distance of its class; ties keep
// the earlier class.
void Peak(const LagTable &table, double &peak_gamma, double &peak_lag) {
    double gamma[lag_classes];
    double lag[lag_classes];
    for (int32_t k = 0; k < lag_classes; ++k) {
        gamma[k] = 0.0;
        lag[k] = 0.0;
        if (table.count[k] != 0.0) {
            lag[k] =
                table.dist_sum[k] / static_cast<long double>(table.count[k]);
            gamma[k] = table.sq_sum[k] / (2.0L * table.count[k]);
        }
    }
    peak_gamma = gamma[0];
    peak_lag = lag[0];
    for (int32_t k = 1; k < lag_classes; ++k) {
        if (gamma[k] > peak_gamma) {
            peak_gamma = gamma[k];
            peak_lag = lag[k];
        }
    }
}

} // namespace

// The last fit of its own: its grid shape, lines, pairs and sums, so that the
// same samples less one can reuse what did not change; and the scratch of
// every fit.
struct TVariogramFit::Memo {
    bool recorded = false; // the last fit of its own kept its pairs here
    bool valid = false;    // ... and it belongs to the samples in hand
    GridShape shape{};
    FitLines kept[2];    // 0: rows, 1: columns
    FitLines scratch[2]; // lines of a fit that is not kept
    std::vector<int32_t> fill;
    std::vector<double> reach; // a line's PairReach from one entry
    // The left-out cell's pairs: their positions in the scan order and their
    // figures now.
    std::vector<size_t> k_pairs;
    std::vector<PairRecord> fresh;

    // The lag table of one direction (0 rows, 1 columns) from the kept fit,
    // the left-out sample's cell (c, r) changed; false when the kept lines
    // do not hold that cell.
    bool ShareLines(const FitGrid &grid, int32_t direction, int32_t c,
                    int32_t r, const LagScale &scale, LagTable &table);
};

bool TVariogramFit::Memo::ShareLines(const FitGrid &grid, int32_t direction,
                                     int32_t c, int32_t r,
                                     const LagScale &scale, LagTable &table) {
    // The left-out sample's cell K lies on line `line` at place `place`. With
    // the grid geometry unchanged, every other cell holds the same samples in
    // the same order, so every pair without K has the kept fit's figures; a
    // lag class that no pair with K reached (in the kept fit or now) adds up
    // the same figures in the same order, and keeps its sums. The others are
    // added up again, in the scan order, from the kept figures and K's new
    // pairs.
    const FitLines &lines = kept[direction];
    const int32_t line = direction == 0 ? r : c;
    const int32_t place = direction == 0 ? c : r;
    const int32_t first = lines.start[line];
    const int32_t m = lines.start[line + 1] - first;
    int32_t p = -1;
    for (int32_t e = 0; e < m; ++e) {
        if (lines.place[first + e] == place) {
            p = e;
        }
    }
    if (p < 0) {
        return false;
    }
    // The sample that represents entry e of the line now (K: -1 when the
    // cell emptied).
    const auto sample_now = [&](int32_t e) {
        const int32_t at = lines.place[first + e];
        return direction == 0 ? grid.cell_index[at][r] : grid.cell_index[c][at];
    };
    const int32_t k_sample = sample_now(p);
    // Pairs of the lines before K's, and the pair (i, j), i < j, of K's line,
    // in the scan order.
    size_t before = 0;
    for (int32_t l = 0; l < line; ++l) {
        const size_t n = lines.start[l + 1] - lines.start[l];
        before += n * (n - 1) / 2;
    }
    const auto pair_at = [m, before](int32_t i, int32_t j) {
        return before + static_cast<size_t>(i) * m -
               static_cast<size_t>(i) * (i + 1) / 2 + (j - i - 1);
    };
    bool touched[lag_classes] = {};
    // K's pairs in the scan order (ascending q is ascending position: a pair
    // (q, p) with q < p lies in the triangle's row q, ahead of row p): the
    // kept pair's position and K's pair now.
    k_pairs.clear();
    fresh.clear();
    for (int32_t q = 0; q < m; ++q) {
        if (q == p) {
            continue;
        }
        const int32_t i = std::min(p, q), j = std::max(p, q);
        const size_t at = pair_at(i, j);
        k_pairs.push_back(at);
        if (lines.pair_class[at] >= 0) {
            touched[lines.pair_class[at]] = true;
        }
        if (k_sample != -1) {
            const int32_t a = sample_now(i), b = sample_now(j);
            if (a == -1 || b == -1) {
                return false;
            }
            fresh.push_back(ClassifyPair(
                grid.sample_z, a, b,
                PairReach<false>(grid.sample_x, grid.sample_y, a, b), scale));
            if (fresh.back().lag_class >= 0) {
                touched[fresh.back().lag_class] = true;
            }
        }
    }
    table = lines.table;
    for (int32_t k = 0; k < lag_classes; ++k) {
        if (!touched[k]) {
            continue;
        }
        // Class k's kept pairs and K's pairs, merged by position: at a
        // position of K, its pair now (when of class k) replaces the kept one.
        table.dist_sum[k] = table.sq_sum[k] = table.count[k] = 0.0;
        int64_t at = lines.class_first[k];
        size_t n = 0;
        while (at >= 0 || n < k_pairs.size()) {
            if (n < k_pairs.size() &&
                (at < 0 || k_pairs[n] <= static_cast<size_t>(at))) {
                if (!fresh.empty() && fresh[n].lag_class == k) {
                    table.Add(fresh[n]);
                }
                if (at >= 0 && k_pairs[n] == static_cast<size_t>(at)) {
                    at = lines.pair_next[at];
                }
                ++n;
            } else {
                table.Add({lines.pair_d[at], lines.pair_dz[at], k});
                at = lines.pair_next[at];
            }
        }
    }
    return true;
}

TVariogramFit::TVariogramFit() = default;

TVariogramFit::~TVariogramFit() = default;

void TVariogramFit::Forget() {
    if (memo) {
        memo->valid = false;
        memo->recorded = false;
    }
}

void TVariogramFit::Confirm() {
    if (memo) {
        memo->valid = memo->recorded;
    }
}

FittedModel TVariogramFit::Fit(const FitGrid &grid,
                               const PlanePoint *left_out) {
    if (!memo) {
        memo = std::make_unique<Memo>();
    }
    Memo &kept = *memo;
    const GridShape &shape = grid.shape;
    // Pairs along rows over the widened x extent, along columns over the y
    // extent as found.
    LagScale scales[2];
    scales[0].extent = static_cast<long double>(shape.x_max) - shape.x_min;
    scales[1].extent = static_cast<long double>(shape.y_max) - shape.y_min;
    for (LagScale &scale : scales) {
        scale.width = lag_class_share * scale.extent;
        scale.inverse =
            scale.width >= min_plain_width && scale.width <= max_plain_width
                ? 1.0 / scale.width
                : 0.0;
    }
    // All coordinates of one sign and within a factor of two of each other
    // (as a survey's projected coordinates are): every difference of two is
    // exact (Sterbenz), in double as in extended precision.
    const auto exact_differences = [](double lo, double hi) {
        return (lo > 0.0 && hi <= 2.0 * lo) || (hi < 0.0 && lo >= 2.0 * hi);
    };
    const bool plain_offsets = exact_differences(shape.x_min, shape.x_max) &&
                               exact_differences(shape.y_min, shape.y_max);

    // The samples less one of the kept fit, on the same grid: the left-out
    // sample's cell is the only one that changed.
    const bool shared =
        left_out != nullptr && kept.valid && kept.shape == shape;
    int32_t left_c = -1, left_r = -1;
    if (shared) {
        NearestNode(shape, left_out->x, left_out->y, left_c, left_r);
    }
    // A fit of its own keeps its pairs; one of samples less one does not.
    const bool record = left_out == nullptr;
    FitLines *lines = record ? kept.kept : kept.scratch;
    bool listed = false;
    double peaks[2], lags[2];
    for (int32_t direction = 0; direction < 2; ++direction) {
        LagTable table;
        const LagScale &scale = scales[direction];
        if (!shared ||
            !kept.ShareLines(grid, direction, left_c, left_r, scale, table)) {
            if (!listed) {
                ListLines(grid, lines, kept.fill);
                listed = true;
            }
            AddUpLines(grid, lines[direction], scale, plain_offsets, record,
                       kept.reach, table);
        }
        Peak(table, peaks[direction], lags[direction]);
    }
    if (record) {
        kept.recorded = true;
        kept.shape = shape;
    }

    FittedModel fitted;
    fitted.nugget = 0.0;
    fitted.sill = (static_cast<long double>(peaks[0]) + peaks[1]) * 0.5L;
    fitted.range = (static_cast<long double>(lags[0]) + lags[1]) * 0.5L;
    return fitted;
}
