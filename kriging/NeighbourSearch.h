// The neighbour search of a grid node, the nearest samples or the nearest of
// each octant, both reading the cells around the node through one scan.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "kriging/GridLookup.h"
#include "kriging/VariogramModel.h"

// What a search reads: the samples and the cell index of the grid in hand,
// and the run's settings.
struct SearchGrid {
    const double *sample_x; // sample coordinates, metres
    const double *sample_y;
    // cell_index[c][r]: the sample that represents the cell of node (c, r),
    // or -1.
    const std::unique_ptr<int32_t[]> *cell_index;
    GridShape shape;
    double search_radius; // under the anisotropic distance, metres
    int32_t max_points;   // most neighbours of a node
    Anisotropy anisotropy;
};

// The search of one gridder. A list it finds is entries 1..found of the
// caller's nbr_index (sample numbers) and nbr_dist (anisotropic distances),
// which have room for 51 entries; entry 0 is never used.
class TNeighbourSearch {
  public:
    // Forgets the occupied cells listed for the last grid; call whenever the
    // cell index or the grid changes.
    void NewGrid() { columns_listed = false; }

    // Calls visit(s) with the sample s of every occupied cell of columns
    // [c_lo, c_hi) and rows [r_lo, r_hi), the bounds clipped to the grid:
    // column by column, ascending rows within a column. This is the scan
    // order of both searches, which the lists of tied distances depend on.
    template <typename Visit>
    void ScanWindow(const SearchGrid &grid, int32_t c_lo, int32_t c_hi,
                    int32_t r_lo, int32_t r_hi, Visit &&visit) {
        if (!columns_listed) {
            ListColumns(grid);
        }
        const int32_t c_end = std::min(grid.shape.n_cols, c_hi);
        for (int32_t c = std::max(0, c_lo); c < c_end; ++c) {
            const int32_t end = column_start[c + 1];
            int32_t k = column_start[c];
            while (k < end && column_row[k] < r_lo) {
                ++k;
            }
            for (; k < end && column_row[k] < r_hi; ++k) {
                visit(column_sample[k]);
            }
        }
    }

    // The max_points nearest samples within search_radius of node (i, j) at
    // (x, y), in ascending distance: the list that offering each sample of
    // the window in scan order makes, where a sample displaces the farthest
    // of a full list only when strictly nearer. The window reaches
    // ceil(radius / cell) cells below the node's column (row) and one fewer
    // above it. Returns the sample of the window's last occupied cell in
    // scan order (-1: none), which the gridder holds as the sample in hand.
    int32_t SearchNearest(const SearchGrid &grid, int32_t i, int32_t j,
                          double x, double y, int32_t *nbr_index,
                          double *nbr_dist, int32_t &found);
    // As SearchNearest, keeping the nearest max_points / 8 samples (1 to 4)
    // of each of the eight sectors around the node, joined in sector order
    // and then sorted by distance.
    int32_t SearchOctants(const SearchGrid &grid, int32_t i, int32_t j,
                          double x, double y, int32_t *nbr_index,
                          double *nbr_dist, int32_t &found);
    // Sorts the list of sector s (0..7) of the last octant search.
    void SortSector(int32_t s);

  private:
    // Lists the occupied cells of the cell index by column.
    void ListColumns(const SearchGrid &grid);
    // SearchNearest's list found from the samples' distances at once: false
    // (nothing set) when it cannot prove the list the sequential offers make,
    // which ties in distance can order otherwise.
    bool SearchNearestAtOnce(const SearchGrid &grid, int32_t i, int32_t j,
                             double x, double y, int32_t *nbr_index,
                             double *nbr_dist, int32_t &found, int32_t &last);

    // The occupied cells of the cell index by column: column c's are
    // column_start[c] .. column_start[c + 1] - 1, ascending row, with their
    // row and sample. Built on the first scan of a grid.
    std::vector<int32_t> column_start, column_row, column_sample;
    bool columns_listed = false;

    // A window's samples and their distances from a node, for
    // SearchNearestAtOnce.
    struct Candidate {
        double d;
        int32_t s;
    };
    std::vector<Candidate> candidates, measured;

    // The sector lists of the octant search: entries 1..sect_count[s].
    static constexpr int32_t max_per_sector = 4;
    int32_t per_sector = 1;
    int32_t sect_count[8] = {};
    int32_t sect_index[8][max_per_sector + 1] = {};
    double sect_dist[8][max_per_sector + 1] = {};
};

// Sector 0..7 of the offset (dx, dy), node minus sample: the azimuth of the
// offset clockwise from +y in 45-degree steps, 360 falling into sector 7. The
// sectors stay fixed to the grid axes.
int32_t Octant(double dx, double dy);

// In-place heapsort of entries 1..n by ascending distance, the index moving
// with its distance (not stable); a list of fewer than two entries is
// untouched.
void HeapSort(int32_t *index, double *dist, int32_t n);
