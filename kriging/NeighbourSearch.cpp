// The nearest-samples and octant searches of a node over one window scan,
// the sorted lists they keep, and the sector of an offset.
#include "kriging/NeighbourSearch.h"

#include <cmath>
#include <limits>

#include "kriging/ExactFloor.h"

namespace {

constexpr long double octant_pi = 3.141592654L;
constexpr double sector_share = 1.0 / 45.0;

// Coordinates beyond this magnitude (metres) make the neighbour search
// measure every sample: far below it, no offset or distance can overflow.
constexpr double pruning_coordinate_limit = 1e100;

// Search window reach in cells: ceil(radius / cell), bounded before conversion.
int32_t WindowReach(double radius, double cell) {
    const long double reach =
        std::ceil(static_cast<long double>(radius) / cell);
    if (!(reach >= 0)) {
        return 0;
    }
    return reach > max_grid_nodes ? max_grid_nodes + 1
                                  : static_cast<int32_t>(reach);
}

// Offers candidate (s, d) to a sorted list of capacity cap, keeping the
// nearest: a full list takes it in place of its farthest entry only when it
// is strictly nearer.
void OfferCandidate(int32_t *index, double *dist, int32_t &count, int32_t cap,
                    int32_t s, double d) {
    if (count < cap) {
        ++count;
        index[count] = s;
        dist[count] = d;
        if (count < 2) {
            return;
        }
    } else if (d < dist[count]) {
        // strictly nearer than the farthest kept: a tie does not displace it
        index[count] = s;
        dist[count] = d;
    } else {
        return;
    }
    // Entries 1..count-1 are sorted and the new one is last. Heapsort is not
    // stable, but with no two distances equal its result is the one sorted
    // order, which inserting the new entry gives directly. Only a list with
    // equal distances needs the heapsort itself to keep its order of ties.
    const int32_t kept = count - 1;
    bool ties = false;
    for (int32_t k = 1; k < kept && !ties; ++k) {
        ties = dist[k] == dist[k + 1];
    }
    int32_t at = kept + 1;
    while (!ties && at > 1 && dist[at - 1] >= d) {
        ties = dist[at - 1] == d;
        --at;
    }
    if (!ties) {
        for (int32_t k = kept; k >= at; --k) {
            index[k + 1] = index[k];
            dist[k + 1] = dist[k];
        }
        index[at] = s;
        dist[at] = d;
        return;
    }
    HeapSort(index, dist, count);
}

} // namespace

void HeapSort(int32_t *index, double *dist, int32_t n) {
    if (n < 2) {
        return;
    }
    int32_t l = n / 2 + 1;
    int32_t top = n;
    for (;;) {
        int32_t hold_index;
        double hold_dist;
        if (l > 1) {
            --l;
            hold_index = index[l];
            hold_dist = dist[l];
        } else {
            hold_index = index[top];
            hold_dist = dist[top];
            index[top] = index[1];
            dist[top] = dist[1];
            --top;
            if (top == 1) {
                index[1] = hold_index;
                dist[1] = hold_dist;
                return;
            }
        }
        int32_t a = l;
        int32_t b = 2 * l;
        while (b <= top) {
            if (b < top && dist[b] < dist[b + 1]) {
                ++b;
            }
            if (hold_dist < dist[b]) {
                index[a] = index[b];
                dist[a] = dist[b];
                a = b;
                b = 2 * b;
            } else {
                break;
            }
        }
        index[a] = hold_index;
        dist[a] = hold_dist;
    }
}

int32_t Octant(double dx, double dy) {
    // Azimuth of (dx, dy), clockwise from +y: the direction from the sample
    // toward the node.
    const double h =
        std::hypot(static_cast<long double>(dx), static_cast<long double>(dy));
    long double t;
    if (!(h > 0.0)) {
        t = 0.0L;
    } else if (dy == 0.0) {
        t = dx > 0.0 ? 90.0L : 270.0L;
    } else if (dy > 0.0) {
        if (dx > 0.0) {
            t = std::asin(dx / static_cast<long double>(h)) * 180.0L /
                octant_pi;
        } else {
            t = (std::asin(dx / static_cast<long double>(h)) +
                 2.0L * octant_pi) *
                180.0L / octant_pi;
        }
    } else if (dx > 0.0) {
        t = (std::asin(std::fabs(static_cast<long double>(dy)) / h) +
             0.5L * octant_pi) *
            180.0L / octant_pi;
    } else {
        t = (std::asin(std::fabs(static_cast<long double>(dx)) / h) +
             octant_pi) *
            180.0L / octant_pi;
    }
    // 1/45 is held as a double, which lies just above 1/45, so that an azimuth
    // on a sector boundary (90, 180, 270) falls into the sector it starts.
    return BoundedFloor(t * static_cast<long double>(sector_share), 0, 7);
}

void TNeighbourSearch::ListColumns(const SearchGrid &grid) {
    const int32_t n_cols = grid.shape.n_cols, n_rows = grid.shape.n_rows;
    column_start.assign(n_cols + 1, 0);
    column_row.clear();
    column_sample.clear();
    for (int32_t c = 0; c < n_cols; ++c) {
        for (int32_t r = 0; r < n_rows; ++r) {
            if (grid.cell_index[c][r] != -1) {
                column_row.push_back(r);
                column_sample.push_back(grid.cell_index[c][r]);
            }
        }
        column_start[c + 1] = static_cast<int32_t>(column_row.size());
    }
    columns_listed = true;
}

int32_t TNeighbourSearch::SearchNearest(const SearchGrid &grid, int32_t i,
                                        int32_t j, double x, double y,
                                        int32_t *nbr_index, double *nbr_dist,
                                        int32_t &found) {
    const GridShape &shape = grid.shape;
    const Anisotropy &anisotropy = grid.anisotropy;
    const double search_radius = grid.search_radius;
    const int32_t rx = WindowReach(search_radius, shape.cell_x);
    const int32_t ry = WindowReach(search_radius, shape.cell_y);
    found = 0;
    // A sample the list would turn away need not be measured. Unrotated, with
    // a ratio of at least 1, the distance is at least |dx| and at least |dy|
    // bit for bit: every step of the anisotropic distance (products, sum,
    // square root, each rounded to nearest) is monotone, and the root of the
    // rounded square of a double rounds back to it. The offset in plain
    // double, `ax`, is within one unit in the last place of the extended one;
    // ax above a double limit puts the extended offset at or above it. So a
    // sample with ax or ay above the limit has a distance at or above it:
    // above the radius while the list has room (the limit is then the next
    // double after the radius), and not nearer than the farthest kept once it
    // is full. Far from overflow, measuring it would raise no flag either.
    const bool prune = anisotropy.cos_angle == 1.0 &&
                       anisotropy.sin_angle == 0.0 && anisotropy.ratio >= 1.0 &&
                       anisotropy.ratio <= pruning_coordinate_limit &&
                       std::fabs(shape.x_min) < pruning_coordinate_limit &&
                       std::fabs(shape.x_max) < pruning_coordinate_limit &&
                       std::fabs(shape.y_min) < pruning_coordinate_limit &&
                       std::fabs(shape.y_max) < pruning_coordinate_limit &&
                       std::fabs(x) < pruning_coordinate_limit &&
                       std::fabs(y) < pruning_coordinate_limit &&
                       std::fabs(search_radius) < pruning_coordinate_limit;
    int32_t in_hand = -1;
    if (prune && grid.max_points >= 1 &&
        SearchNearestAtOnce(grid, i, j, x, y, nbr_index, nbr_dist, found,
                            in_hand)) {
        return in_hand;
    }
    const double beyond_radius =
        prune ? std::nextafter(search_radius,
                               std::numeric_limits<double>::infinity())
              : search_radius;
    int32_t last = -1;
    ScanWindow(grid, i - rx, i + rx, j - ry, j + ry, [&](int32_t s) {
        last = s;
        const double sx = grid.sample_x[s], sy = grid.sample_y[s];
        if (prune) {
            const double limit = found >= 1 && found >= grid.max_points
                                     ? nbr_dist[found]
                                     : beyond_radius;
            if (std::fabs(x - sx) > limit || std::fabs(y - sy) > limit) {
                return;
            }
        }
        const double d = anisotropy.Distance(static_cast<long double>(x) - sx,
                                             static_cast<long double>(y) - sy);
        if (d <= search_radius) {
            OfferCandidate(nbr_index, nbr_dist, found, grid.max_points, s, d);
        }
    });
    return last;
}

bool TNeighbourSearch::SearchNearestAtOnce(const SearchGrid &grid, int32_t i,
                                           int32_t j, double x, double y,
                                           int32_t *nbr_index, double *nbr_dist,
                                           int32_t &found, int32_t &last) {
    // The offers keep the list sorted by distance and displace only for a
    // strictly nearer sample. When the distances of the list, and the next
    // one after it, are all different, the list is therefore the max_points
    // nearest samples within the radius in ascending order, whatever the
    // order of the offers; ties are left to the offers themselves.
    //
    // Plain double distances find the few samples that can be among them:
    // they are within a relative 1e-15 of the extended ones (a few roundings
    // of the same offsets, far from overflow and underflow), so a sample whose
    // plain distance exceeds the max_points-th smallest by the margin below is
    // farther, exactly, than each of those max_points samples.
    constexpr double margin = 1e-12;
    constexpr double smallest_margin = 1e-280; // absolute, near 0
    const double *sample_x = grid.sample_x;
    const double *sample_y = grid.sample_y;
    const double ratio = grid.anisotropy.ratio;
    const int32_t max_points = grid.max_points;
    // Squared plain distances of the samples of columns [c_lo, c_hi) and rows
    // [r_lo, r_hi) not beyond `limit`, into `candidates`. Each window scanned
    // lies within the search window, the last one is the search window, so
    // `in_hand` ends as its last sample.
    int32_t in_hand = -1;
    const auto gather = [&](int32_t c_lo, int32_t c_hi, int32_t r_lo,
                            int32_t r_hi, double limit) {
        candidates.clear();
        ScanWindow(grid, c_lo, c_hi, r_lo, r_hi, [&](int32_t s) {
            in_hand = s;
            const double u = x - sample_x[s];
            const double v = y - sample_y[s];
            const double d2 = ratio * v * v + u * u;
            if (d2 <= limit) {
                candidates.push_back({d2, s});
            }
        });
    };
    const auto nearer = [](const Candidate &a, const Candidate &b) {
        return a.d < b.d;
    };
    // The max_points-th smallest squared distance among `candidates`, widened
    // by the margin; `otherwise` when there are not that many.
    const auto bound_of = [&](double otherwise) {
        if (candidates.size() < static_cast<size_t>(max_points)) {
            return otherwise;
        }
        std::nth_element(candidates.begin(),
                         candidates.begin() + max_points - 1, candidates.end(),
                         nearer);
        return candidates[max_points - 1].d * (1.0 + 2.0 * margin) +
               smallest_margin;
    };
    const double search_radius = grid.search_radius;
    const int32_t rx = WindowReach(search_radius, grid.shape.cell_x);
    const int32_t ry = WindowReach(search_radius, grid.shape.cell_y);
    const double reach = search_radius * (1.0 + margin) + smallest_margin;
    const double reach2 = reach * reach;
    // The cells next to the node give an upper bound of the list's farthest
    // distance, which spares the selection among the whole window.
    constexpr int32_t near_cells = 3;
    gather(std::max(i - rx, i - near_cells),
           std::min(i + rx, i + near_cells + 1),
           std::max(j - ry, j - near_cells),
           std::min(j + ry, j + near_cells + 1), reach2);
    const double near_bound = std::min(bound_of(reach2), reach2);
    gather(i - rx, i + rx, j - ry, j + ry, near_bound);
    const double bound = bound_of(near_bound);
    // The extended distances of the samples that can be in the list.
    measured.clear();
    for (const Candidate &candidate : candidates) {
        if (candidate.d > bound) {
            continue;
        }
        const int32_t s = candidate.s;
        const double d =
            grid.anisotropy.Distance(static_cast<long double>(x) - sample_x[s],
                                     static_cast<long double>(y) - sample_y[s]);
        if (d <= search_radius) {
            measured.push_back({d, s});
        }
    }
    std::sort(measured.begin(), measured.end(), nearer);
    const auto kept = std::min<size_t>(measured.size(), max_points);
    for (size_t k = 1; k < measured.size() && k <= kept; ++k) {
        if (!(measured[k - 1].d < measured[k].d)) {
            return false; // a tie in or at the edge of the list
        }
    }
    found = static_cast<int32_t>(kept);
    for (size_t k = 0; k < kept; ++k) {
        nbr_index[k + 1] = measured[k].s;
        nbr_dist[k + 1] = measured[k].d;
    }
    last = in_hand;
    return true;
}

int32_t TNeighbourSearch::SearchOctants(const SearchGrid &grid, int32_t i,
                                        int32_t j, double x, double y,
                                        int32_t *nbr_index, double *nbr_dist,
                                        int32_t &found) {
    const int32_t rx = WindowReach(grid.search_radius, grid.shape.cell_x);
    const int32_t ry = WindowReach(grid.search_radius, grid.shape.cell_y);
    per_sector = grid.max_points / 8;
    if (per_sector < 1) {
        per_sector = 1;
    }
    if (per_sector > max_per_sector) {
        per_sector = max_per_sector;
    }
    for (int32_t s = 0; s < 8; ++s) {
        sect_count[s] = 0;
    }
    int32_t last = -1;
    ScanWindow(grid, i - rx, i + rx, j - ry, j + ry, [&](int32_t s) {
        last = s;
        const double ddx = static_cast<long double>(x) - grid.sample_x[s];
        const double ddy = static_cast<long double>(y) - grid.sample_y[s];
        const double d = grid.anisotropy.Distance(ddx, ddy);
        if (!(d <= grid.search_radius)) {
            return;
        }
        const int32_t sector = Octant(ddx, ddy);
        OfferCandidate(sect_index[sector], sect_dist[sector],
                       sect_count[sector], per_sector, s, d);
    });
    found = 0;
    for (int32_t s = 0; s < 8; ++s) {
        for (int32_t k = 1; k <= sect_count[s]; ++k) {
            ++found;
            nbr_index[found] = sect_index[s][k];
            nbr_dist[found] = sect_dist[s][k];
        }
    }
    HeapSort(nbr_index, nbr_dist, found);
    return last;
}

void TNeighbourSearch::SortSector(int32_t s) {
    HeapSort(sect_index[s], sect_dist[s], sect_count[s]);
}
