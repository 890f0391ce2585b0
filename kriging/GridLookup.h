// The grid of a run and its lookup: where the nodes lie, the node a sample
// belongs to, and the bilinear value of a point from the corners of its cell.
#pragma once

#include <cstdint>

#include "kriging/ExactFloor.h"

// Most columns, and most rows, of a grid.
inline constexpr int32_t max_grid_nodes = 1024;

// Where the nodes of a grid lie: node (c, r), 0-based, column first, at
// (x_min + c * cell_x, y_min + r * cell_y), for c < n_cols and r < n_rows.
// x_max and y_max close the samples' extent (x widened by a cell each side),
// which the variogram fit and the drift are scaled by. Metres.
struct GridShape {
    double x_min = 0.0;
    double x_max = 0.0;
    double y_min = 0.0;
    double y_max = 0.0;
    double cell_x = 0.0;
    double cell_y = 0.0;
    int32_t n_cols = 0;
    int32_t n_rows = 0;
    bool operator==(const GridShape &) const = default;
};

// The node nearest to (x, y), bounded to the grid: the floor of the offset
// plus half a cell. The cell index keeps each sample at this node.
inline void NearestNode(const GridShape &shape, double x, double y, int32_t &c,
                        int32_t &r) {
    c = BoundedFloor(
        (static_cast<long double>(x) - shape.x_min + 0.5L * shape.cell_x) /
            shape.cell_x,
        0, shape.n_cols - 1);
    r = BoundedFloor(
        (static_cast<long double>(y) - shape.y_min + 0.5L * shape.cell_y) /
            shape.cell_y,
        0, shape.n_rows - 1);
}

// The cell a lookup reads for a point, and the bilinear weights of its corners
// q00, q10, q11, q01 (in that order): nodes (c, r), (c + 1, r), (c + 1, r + 1)
// and (c, r + 1). one_row: a grid of one row, whose upper corners take no
// part.
struct CellWeights {
    int32_t c = 0;
    int32_t r = 0;
    bool one_row = false;
    long double w[4] = {};
};

// Chooses the cell of (x, y) on a grid of at least two columns: the cell that
// holds the point, or the edge cell for a point outside the grid. scaled: the
// cell is chosen on coordinates multiplied by 3600. An invalid operation
// (cells of no width at coordinates too large for the cell size) is left in
// the floating-point flags for the caller to check.
CellWeights LocateCell(const GridShape &shape, double x, double y, bool scaled);

// The bilinear sum of the corners' values q (order as CellWeights.w). A
// corner of weight zero takes no part; a blank corner (not below 1e38) of
// non-zero weight makes the value `blank`.
double Interpolate(const CellWeights &cell, const double *q, double blank);
