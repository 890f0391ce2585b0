// TKrigging: kriging of scattered samples (x, y, value) onto a regular grid
// with a spherical variogram, fitted from the samples when none is given, and
// the bilinear reading of the finished grid at any point. Its parts are in
// VariogramFit, NeighbourSearch, KrigingSystem and GridLookup.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kriging/GridLookup.h"
#include "kriging/KrigingSystem.h"
#include "kriging/NeighbourSearch.h"
#include "kriging/VariogramFit.h"
#include "kriging/VariogramModel.h"

// The value of a node that was not estimated, and of a lookup that reads one.
inline constexpr double blank_value = 1.70141e38;

// Why MakeGrid or PrepareGrid refused a run; None once it accepted one.
enum class GridRefusal : uint8_t {
    None,
    NoSamples,      // no sample to grid (silent)
    CellSize,       // a cell size below 0.001 (message)
    TooManyColumns, // more than 1024 columns (message)
    TooManyRows,    // more than 1024 rows (message)
    NoRows,         // all samples on one y, or no two columns (silent)
};

// The text a refusal shows, or null for a silent one.
const char *GridRefusalMessage(GridRefusal refusal);

// The parameters of a run, in the order MakeGrid takes them. A zero asks for
// the default where there is one: max_points 0 -> 8 (then raised above
// min_points and bounded), search_radius 0 -> 8 * cell_x, aniso_ratio 0 -> 1,
// sill and range both 0 -> the model is fitted and nugget becomes 0.
struct GridParams {
    int32_t log_z = 0;          // 1: grid the natural logarithms of the values
    int32_t search_mode = 0;    // 0: nearest samples; other: octant search
    int32_t max_points = 0;     // most neighbours per node
    double search_radius = 0.0; // neighbour search radius, units of x and y
    int32_t drift_order = 0;    // 0 none, 1 linear, 2 quadratic, 3 cubic
    double nugget = 0.0;        // spherical model, in the values' units squared
    double sill = 0.0;
    double range = 0.0;       // metres
    double cell_x = 0.0;      // node spacing in x; below 0.001 refuses the run
    double cell_y = 0.0;      // node spacing in y; likewise
    double aniso_angle = 0.0; // anisotropy angle, degrees
    double aniso_ratio = 0.0; // factor on the squared distance across it
};

// What one node estimate was made of: the gridder's own samples (after the
// merging of samples that share a cell) that it combined, and their weights.
// Entries 1..found are used, as in the node loop's lists.
struct NodeMakeup {
    int32_t found = 0;
    // Sample numbers into the gridder's sample arrays, and their kriging
    // weights (1 / found for a plain mean).
    int32_t index[max_equations + 1];
    double weight[max_equations + 1];
    bool blank = false; // too few neighbours: the node holds blank
};

// What a station-path lookup read: the corner weights of the cell (corners
// q00, q10, q11, q01) and the makeup of each corner node. On a grid of one row
// only the first two corners take part (`corners` 2).
struct StationMakeup {
    int32_t corners = 0;
    double corner_weight[4] = {};
    NodeMakeup node[4];
};

// The gridder. One object serves one run: create it on the heap (it holds its
// work matrices), call MakeGrid once, read values with ValueAt, destroy it.
// Steps report by result (bool true, or int32 0, on success); refusals are
// shown through ShowMessage. A division by zero, invalid operation or overflow
// met during a run leaves MakeGrid as a FloatingPointError
// (platform/FloatChecks.h).
class TKrigging {
  public:
    TKrigging();
    ~TKrigging();
    TKrigging(const TKrigging &) = delete;
    TKrigging &operator=(const TKrigging &) = delete;

    // Grids the samples (sample_count of each array; the caller's arrays are
    // only read) with `params` (defaults as GridParams says). Returns false
    // when the run is refused: no samples (silently), a cell size below 0.001
    // (message), more than 1024 columns or rows (message), or all samples on
    // one y (silently).
    bool MakeGrid(const double *sample_x, const double *sample_y,
                  const double *sample_z, int32_t sample_count,
                  const GridParams &params);
    // The same with the parameters one by one, in GridParams' order.
    bool MakeGrid(const double *sample_x, const double *sample_y,
                  const double *sample_z, int32_t sample_count, int32_t log_z,
                  int32_t search_mode, int32_t max_points, double search_radius,
                  int32_t drift_order, double nugget, double sill, double range,
                  double cell_x, double cell_y, double aniso_angle,
                  double aniso_ratio);

    // The station path: MakeGrid's validation, grid geometry (with its
    // limits and messages), cell index and variogram fit, with the same
    // parameters and refusals, but no node loop and no grid. The sample copies
    // and the cell index stay with the object for ValueAtStation; the
    // anisotropy angle is already converted to radians.
    bool PrepareGrid(const double *sample_x, const double *sample_y,
                     const double *sample_z, int32_t sample_count,
                     const GridParams &params);
    // The same with the parameters one by one, in GridParams' order.
    bool PrepareGrid(const double *sample_x, const double *sample_y,
                     const double *sample_z, int32_t sample_count,
                     int32_t log_z, int32_t search_mode, int32_t max_points,
                     double search_radius, int32_t drift_order, double nugget,
                     double sill, double range, double cell_x, double cell_y,
                     double aniso_angle, double aniso_ratio);

    // PrepareGrid again for the samples and parameters of the last
    // PrepareGrid without sample `left_out` (0-based; the others keep their
    // order): the same preparation, refusals and results, bit for bit, as
    // PrepareGrid given those samples, but the variogram fit adds up again
    // only the lag classes that a pair of the left-out sample's cell reached.
    // False as PrepareGrid, and when no PrepareGrid kept samples (MakeGrid
    // keeps none) or left_out is not one of them.
    bool PrepareGridLeavingOut(int32_t left_out);

    // ValueAt(x, y, false) of the grid MakeGrid would make from the same
    // samples and parameters, bit for bit, estimating only the nodes that
    // lookup reads (four, or two on a grid of one row). A division by zero,
    // invalid operation or overflow in one of those nodes or in the lookup
    // throws FloatingPointError. Call only after PrepareGrid returned true.
    double ValueAtStation(double x, double y);
    // The same, telling in `makeup` which samples with which weights made the
    // value: one linear combination of the samples, before any node's clamp.
    double ValueAtStation(double x, double y, StationMakeup &makeup);

    // Error variance at (x, y) of the combination in `makeup` under the
    // model of this run: C(0) - 2 sum L_i C(x_i, x0) + sum_i sum_j L_i L_j
    // C(x_i, x_j), with C = sill - semivariance under the anisotropic
    // distance, C(0) = sill, and L_i the corner weight times the node weight
    // summed over the corners that use sample i. Plain double arithmetic: it
    // qualifies an estimate and never enters one. NaN when a corner with
    // weight is blank, or the result is not finite. Call after
    // ValueAtStation, before the object is destroyed.
    double ErrorVariance(double x, double y, const StationMakeup &makeup) const;

    // Bilinear value of the finished grid at (x, y), in the samples' units
    // (logarithms when log_z was 1). Points outside the grid are extrapolated
    // from the edge cell. Returns blank when a corner with non-zero weight is
    // blank. scaled: the cell is chosen on coordinates multiplied by 3600. A
    // division by zero, invalid operation or overflow in the lookup throws
    // FloatingPointError. Blank when MakeGrid did not finish a grid.
    double ValueAt(double x, double y, bool scaled) const;

    // --- Steps of a run, in their order; public to be exercised alone ---

    // Validates and defaults the parameters held in the fields; false refuses
    // the run.
    bool CheckParams();
    // Extents, optional logarithm of the values, widening of x by one cell each
    // side.
    bool ScanData();
    // Grid geometry, grid and cell index with merging of samples sharing a
    // cell. 0: ready; 1: refused (too many columns or rows, message shown; or
    // no row).
    int32_t BuildCellIndex();
    // Allocates grid and cell_index for n_cols x n_rows (values not
    // initialised).
    void AllocGrid();
    // Fits nugget, sill and range from pairs along rows and columns, only when
    // sill and range are both 0. Always 0.
    int32_t FitVariogram();
    // Converts aniso_angle to radians and estimates every node. Always 0; a
    // floating-point fault throws after the node that met it.
    int32_t EstimateGrid();
    // Estimate of node (column i, row j), clamped to [z_min, z_max], or blank
    // when no more than min_points neighbours are found. Needs cos_angle and
    // sin_angle. Leaves the floating-point flags for the caller to check.
    double EstimateNode(int32_t i, int32_t j);
    // As above, telling in `makeup` which samples made the estimate.
    double EstimateNode(int32_t i, int32_t j, NodeMakeup *makeup);
    // The max_points nearest samples within search_radius of node (i, j) at (X,
    // Y): entries 1..found of nbr_index / nbr_dist (room for 50), ascending
    // distance.
    void SearchNearest(int32_t i, int32_t j, double X, double Y,
                       int32_t *nbr_index, double *nbr_dist, int32_t &found);
    // As SearchNearest, keeping the nearest max_points / 8 samples of each of
    // the eight 45-degree sectors around the node.
    void SearchOctants(int32_t i, int32_t j, double X, double Y,
                       int32_t *nbr_index, double *nbr_dist, int32_t &found);
    // Sector 0..7 of the offset (dx, dy), node minus sample: the azimuth of the
    // offset clockwise from +y in 45-degree steps, 360 falling into sector 7.
    int32_t Octant(double dx, double dy) const;
    // In-place heapsort of entries 1..n by ascending distance (not stable).
    void SortByDistance(int32_t *nbr_index, double *nbr_dist, int32_t n);
    // The same sort on the list of sector s (0..7).
    void SortSector(int32_t s);
    // Builds and solves the node's kriging system for neighbours 1..found;
    // fills weights 1..N (neighbour weights, Lagrange multiplier, drift
    // coefficients). false: the system is singular and weights are not valid.
    // Rows and columns of kr_matrix past N are left 0.
    bool NodeWeights(double X, double Y, int32_t found, double *weights);
    // Semivariance of the spherical model between P and Q under the anisotropic
    // distance.
    double Variogram(PlanePoint P, PlanePoint Q) const;
    // Gauss-Jordan solve of kr_matrix (1..N) with right-hand side rhs (1..N)
    // into weights (1..N), pivot chosen by row without exchanging rows. false:
    // a column had no non-zero pivot candidate.
    bool SolveSystem(const double *rhs, double *weights, int32_t N);

    // Capacity of the 1-based per-node lists and matrices (entries 1..50).
    static constexpr int32_t max_system = max_equations;

    // --- Parameters (set by MakeGrid, defaulted by CheckParams) ---
    // Own copies of the samples: x and y in metres, values in mGal (their
    // natural logarithms when log_z is 1); merged in place by BuildCellIndex.
    std::unique_ptr<double[]> sample_x;
    std::unique_ptr<double[]> sample_y;
    std::unique_ptr<double[]> sample_z;
    int32_t sample_count = 0;   // length of the three sample arrays
    int32_t log_z = 0;          // 1: grid the natural logarithms of the values
    int32_t search_mode = 0;    // 0: nearest samples; other: octant search
    int32_t max_points = 0;     // most neighbours per node (at most 32)
    int32_t drift_order = 0;    // 0 none, 1 linear, 2 quadratic, 3 cubic
    int32_t min_points = 0;     // drift_order^2 + 4; a node needs more
    double search_radius = 0.0; // neighbour search radius, units of x and y
    double cell_x = 0.0;        // node spacing in x
    double cell_y = 0.0;        // node spacing in y

    // --- Variogram model (given, or fitted when sill and range are both 0) ---
    double nugget = 0.0;
    double sill = 0.0;
    double range = 0.0;
    // Anisotropy angle: degrees as given, radians once the node loop began.
    double aniso_angle = 0.0;
    double aniso_ratio = 0.0; // factor on the squared distance across it
    double cos_angle = 1.0;   // cosine of the angle, set by EstimateGrid
    double sin_angle = 0.0;   // sine of the angle, set by EstimateGrid

    // --- Per-node work arrays; index 0 is never used; nothing is allocated ---
    // x, y and value of neighbours 1..found.
    NeighbourTable neighbours;
    // Solver's copy of the system, right-hand side in column N + 1.
    SolverMatrix aug_matrix;
    // Kriging system of one node in rows and columns 1..N.
    SystemMatrix kr_matrix;

    // --- Data preparation (during MakeGrid) ---
    // cell_index[c][r]: the sample representing the cell of node (c, r), or -1.
    std::unique_ptr<std::unique_ptr<int32_t[]>[]> cell_index;
    double cur_x = 0.0, cur_y = 0.0, cur_z = 0.0;    // sample in hand
    double prev_x = 0.0, prev_y = 0.0, prev_z = 0.0; // representative merged

    // Why the last run was refused; None after one that was accepted.
    GridRefusal refusal = GridRefusal::None;
    // A refusal with a message shows it through ShowMessage; off, it is
    // only kept in `refusal` for the caller, who reports it (the station
    // path, so that runs at once never share a handler).
    bool show_refusals = true;

    // --- Results (valid after MakeGrid returned true) ---
    // grid[c][r]: node (c, r), column first, at x_min + c * cell_x and
    // y_min + r * cell_y; an estimate or blank. Owned by the object.
    std::unique_ptr<std::unique_ptr<double[]>[]> grid;
    double blank;       // value of a node that was not estimated: 1.70141e38
    int16_t n_cols = 0; // grid columns (x), at most 1024
    int16_t n_rows = 0; // grid rows (y), at most 1024
    double x_min = 0.0; // sample x extent widened by cell_x; x of column 0
    double x_max = 0.0;
    double dx = 0.0;    // copy of cell_x as ValueAt reads it
    double y_min = 0.0; // sample y extent, not widened; y of row 0
    double y_max = 0.0;
    double dy = 0.0;    // copy of cell_y
    double z_min = 0.0; // smallest and largest sample value (clamp limits)
    double z_max = 0.0;

  private:
    // Records why a run is refused, and shows its message when there is one
    // and show_refusals is on.
    void Refuse(GridRefusal why);
    // Where the nodes of the grid in hand lie, as the cell index, the fit
    // and the search see them.
    GridShape Shape() const {
        return {x_min, x_max, y_min, y_max, cell_x, cell_y, n_cols, n_rows};
    }
    // The same as the lookup reads it: the node spacing from dx and dy.
    GridShape LookupShape() const {
        return {x_min, x_max, y_min, y_max, dx, dy, n_cols, n_rows};
    }
    // The variogram model and anisotropy that covariances are computed with.
    VariogramModel Model() const {
        return {nugget, sill, range, {aniso_ratio, cos_angle, sin_angle}};
    }
    // What the neighbour search reads of the grid in hand.
    SearchGrid Searched() const {
        return {sample_x.get(),
                sample_y.get(),
                cell_index.get(),
                Shape(),
                search_radius,
                max_points,
                {aniso_ratio, cos_angle, sin_angle}};
    }
    // Holds sample s as the sample in hand (none: s is -1).
    void TakeInHand(int32_t s);
    // The node's system and its solution as NodeWeights; `samples` (entries
    // 1..found, or null) names the neighbours' samples, whose pairs' entries
    // are then taken from, and kept in, the pair cache.
    bool SolveNode(double X, double Y, int32_t found, const int32_t *samples,
                   double *weights);
    // The variogram fit, when sill and range are both 0. Without `left_out`
    // its pairs and sums are kept; with the left-out sample's position, the
    // kept sums serve where no pair of that sample's cell reached them.
    void FitModel(const PlanePoint *left_out);
    // Releases the sample copies and the cell index.
    void ReleaseWork();
    // The steps MakeGrid and PrepareGrid share: copy, validation, scan, cell
    // index and fit. whole_grid: allocate the grid besides the cell index.
    bool PrepareSteps(const double *sample_x, const double *sample_y,
                      const double *sample_z, int32_t sample_count,
                      const GridParams &params, bool whole_grid,
                      const PlanePoint *left_out = nullptr);
    // The station path's preparation: PrepareSteps without the grid, the
    // work released on a refusal, and the angle converted for the lookups.
    bool PrepareLookups(const double *sample_x, const double *sample_y,
                        const double *sample_z, int32_t sample_count,
                        const GridParams &params, const PlanePoint *left_out);
    // Allocates cell_index for n_cols x n_rows (values not initialised).
    void AllocCellIndex();
    // Converts aniso_angle to radians and sets cos_angle and sin_angle.
    void ConvertAngle();

    // The station-path lookup, filling `makeup` when it is given.
    double StationValue(double x, double y, StationMakeup *makeup);

    bool whole_grid = true; // BuildCellIndex allocates the grid as well

    // The samples and parameters of the last PrepareGrid, as given, for
    // PrepareGridLeavingOut; kept_count -1: none kept.
    std::vector<double> kept_x, kept_y, kept_z;
    int32_t kept_count = -1;
    GridParams kept_params;
    std::vector<double> left_out_x, left_out_y, left_out_z; // scratch
    // The cells of the kept samples, valid with their grid geometry, and the
    // kept sample left out of the run in hand (-1: none).
    std::vector<int32_t> kept_col, kept_row;
    bool kept_cells = false;
    GridShape kept_shape{};
    int32_t leaving_out = -1;

    // The variogram fit, with the pairs and lag sums of the last fit of a
    // PrepareGrid's own samples.
    TVariogramFit fit;
    // Assembles and solves the node systems, keeping the covariances of
    // sample pairs met in the node systems of this grid.
    TKrigingSystem system;
    // The neighbour search, with the occupied cells of this grid's cell
    // index listed for its window scans.
    TNeighbourSearch search;
};
