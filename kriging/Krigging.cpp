// The kriging gridder: validation, data scan and grid geometry, variogram fit,
// node estimation with neighbour search and Gauss-Jordan solve, and the grid
// lookup.
//
// Formulas are evaluated with long double intermediates (64-bit mantissa) and
// stored into double fields and arrays; named quantities are doubles.
#include "kriging/Krigging.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

#include "kriging/Cube.h"
#include "platform/Dialogs.h"
#include "platform/FloatChecks.h"

namespace {

constexpr double blank_value = 1.70141e38;
constexpr double blank_limit = 1e38; // a value not below this is blank
constexpr double min_cell_size = 0.001;
constexpr int32_t max_grid_nodes = 1024;
constexpr int32_t max_neighbours = 32;
constexpr int32_t default_max_points = 8;
constexpr double default_radius_cells = 8.0;
constexpr int32_t lag_classes = 50;
constexpr long double lag_class_share =
    0.02L; // class width as a share of the extent
constexpr long double pair_offset = 0.0001L;
constexpr long double degrees_to_radians =
    0.017453292L; // the decimal constant, not pi/180
constexpr long double octant_pi = 3.141592654L;
constexpr double sector_share = 1.0 / 45.0;
constexpr long double scale_factor = 3600.0L;

const char *const msg_cell_size = "Cell size must be defined.";
const char *const msg_too_many_x =
    "Number of grid points exceeded 1024 in X-direction.";
const char *const msg_too_many_y =
    "Number of grid points exceeded 1024 in Y-direction.";

bool IsBlank(double v) { return !(v < blank_limit); }

// Floor of a long double known to lie in [lo, hi + 1), lo and hi small.
// std::floor and the conversion of a long double both switch the x87 rounding
// mode twice, which costs more than the rest of a cell lookup; the nearest
// double's truncation is within one of the floor, and exact long double
// comparisons mend it, so the result is exactly floor(v).
int32_t SmallFloor(long double v) {
    int32_t k = static_cast<int32_t>(static_cast<double>(v));
    if (static_cast<long double>(k) > v) {
        --k;
    } else if (static_cast<long double>(k) + 1 <= v) {
        ++k;
    }
    return k;
}

// Floor of a long double as an integer, bounded to [lo, hi] in the floating
// domain first so that out-of-range and NaN values never reach the conversion.
// For an integer bound, floor(v) >= lo exactly when v >= lo, and floor(v) > hi
// exactly when v >= hi + 1.
int32_t BoundedFloor(long double v, int32_t lo, int32_t hi) {
    if (!(v >= lo)) {
        return lo;
    }
    if (v >= static_cast<long double>(hi) + 1) {
        return hi;
    }
    return SmallFloor(v);
}

// In-place heapsort of entries 1..n by ascending distance, the index moving
// with its distance; a list of fewer than two entries is untouched.
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

// Number of drift terms of an order; orders outside 1..3 have none.
int32_t DriftTerms(int32_t order) {
    switch (order) {
    case 1:
        return 2;
    case 2:
        return 5;
    case 3:
        return 9;
    default:
        return 0;
    }
}

// Work table of the experimental variogram: one row per lag class.
struct LagTable {
    double dist_sum[lag_classes];
    double sq_sum[lag_classes];
    double count[lag_classes];
};

} // namespace

TKrigging::TKrigging() : blank(blank_value) {}

bool TKrigging::MakeGrid(const double *sample_x, const double *sample_y,
                         const double *sample_z, int32_t sample_count,
                         int32_t log_z, int32_t search_mode, int32_t max_points,
                         double search_radius, int32_t drift_order,
                         double nugget, double sill, double range,
                         double cell_x, double cell_y, double aniso_angle,
                         double aniso_ratio) {
    // The sample copies and the cell index never outlive the run, whatever
    // leaves it; nor does a grid the run did not finish (a refusal or a fault
    // after it was allocated), so ValueAt then reads blank.
    struct WorkGuard {
        TKrigging *self;
        bool finished = false;
        ~WorkGuard() {
            self->ReleaseWork();
            if (!finished) {
                self->grid.reset();
            }
        }
    } guard{this};

    if (!PrepareSteps(sample_x, sample_y, sample_z, sample_count, log_z,
                      search_mode, max_points, search_radius, drift_order,
                      nugget, sill, range, cell_x, cell_y, aniso_angle,
                      aniso_ratio, true)) {
        return false;
    }
    EstimateGrid();
    guard.finished = true;
    return true;
}

bool TKrigging::PrepareGrid(const double *sample_x, const double *sample_y,
                            const double *sample_z, int32_t sample_count,
                            int32_t log_z, int32_t search_mode,
                            int32_t max_points, double search_radius,
                            int32_t drift_order, double nugget, double sill,
                            double range, double cell_x, double cell_y,
                            double aniso_angle, double aniso_ratio) {
    if (!PrepareSteps(sample_x, sample_y, sample_z, sample_count, log_z,
                      search_mode, max_points, search_radius, drift_order,
                      nugget, sill, range, cell_x, cell_y, aniso_angle,
                      aniso_ratio, false)) {
        ReleaseWork();
        return false;
    }
    // The node loop's first step, done once here so that any number of
    // lookups see the same angle.
    ConvertAngle();
    return true;
}

bool TKrigging::PrepareSteps(const double *sample_x, const double *sample_y,
                             const double *sample_z, int32_t sample_count,
                             int32_t log_z, int32_t search_mode,
                             int32_t max_points, double search_radius,
                             int32_t drift_order, double nugget, double sill,
                             double range, double cell_x, double cell_y,
                             double aniso_angle, double aniso_ratio,
                             bool whole_grid) {
    grid.reset();
    ReleaseWork();
    n_cols = 0;
    n_rows = 0;
    this->whole_grid = whole_grid;
    ClearFloatErrors();

    if (sample_count > 0) {
        this->sample_x = std::make_unique<double[]>(sample_count);
        this->sample_y = std::make_unique<double[]>(sample_count);
        this->sample_z = std::make_unique<double[]>(sample_count);
        for (int32_t i = 0; i < sample_count; ++i) {
            this->sample_x[i] = sample_x[i];
            this->sample_y[i] = sample_y[i];
            this->sample_z[i] = sample_z[i];
        }
    }
    this->sample_count = sample_count;
    this->log_z = log_z;
    this->search_mode = search_mode;
    this->max_points = max_points;
    this->search_radius = search_radius;
    this->drift_order = drift_order;
    this->nugget = nugget;
    this->sill = sill;
    this->range = range;
    this->cell_x = cell_x;
    this->cell_y = cell_y;
    this->aniso_angle = aniso_angle;
    this->aniso_ratio = aniso_ratio;
    dx = cell_x;
    dy = cell_y;

    if (!CheckParams()) {
        return false;
    }
    ScanData();
    // A logarithm of a value of 0 or below, or a non-finite coordinate, stops
    // here before it can shape the grid.
    CheckFloatErrors();
    if (BuildCellIndex() != 0) {
        return false;
    }
    FitVariogram();
    CheckFloatErrors();
    return true;
}

void TKrigging::ReleaseWork() {
    cell_index.reset();
    sample_x.reset();
    sample_y.reset();
    sample_z.reset();
}

bool TKrigging::CheckParams() {
    if (sample_count <= 0) {
        return false;
    }
    // A real parameter that is not a number is an invalid operation, whatever
    // instructions the compiler picks for the comparisons that meet it later.
    for (const double value : {search_radius, nugget, sill, range, cell_x,
                               cell_y, aniso_angle, aniso_ratio}) {
        if (std::isnan(value)) {
            std::feraiseexcept(FE_INVALID);
        }
    }
    CheckFloatErrors();
    if (cell_x < min_cell_size || cell_y < min_cell_size) {
        ShowMessage(msg_cell_size);
        return false;
    }
    if (max_points == 0) {
        max_points = default_max_points;
    }
    // In 32-bit arithmetic that wraps, as the order's square does for orders
    // far outside 0..3.
    min_points = static_cast<int32_t>(static_cast<uint32_t>(drift_order) *
                                          static_cast<uint32_t>(drift_order) +
                                      4u);
    if (max_points <= min_points) {
        max_points = min_points + 1;
    }
    if (search_mode == 0) {
        if (max_points > max_neighbours) {
            max_points = max_neighbours;
        }
    } else if (max_points <= 8) {
        max_points = 8;
    } else if (max_points <= 16) {
        max_points = 16;
    } else if (max_points <= 24) {
        max_points = 24;
    } else {
        max_points = 32;
    }
    if (search_radius == 0.0) {
        search_radius = static_cast<long double>(default_radius_cells) * cell_x;
    }
    if (aniso_ratio == 0.0) {
        aniso_ratio = 1.0;
    }
    return true;
}

bool TKrigging::ScanData() {
    x_min = y_min = z_min = 1e30;
    x_max = y_max = z_max = -1e30;
    for (int32_t i = 0; i < sample_count; ++i) {
        // A sample that is not a number is an invalid operation in its own
        // right, whether or not the compiler's comparisons below signal it.
        if (std::isnan(sample_x[i]) || std::isnan(sample_y[i]) ||
            std::isnan(sample_z[i])) {
            std::feraiseexcept(FE_INVALID);
        }
        if (sample_x[i] < x_min) {
            x_min = sample_x[i];
        }
        if (sample_x[i] > x_max) {
            x_max = sample_x[i];
        }
        if (sample_y[i] < y_min) {
            y_min = sample_y[i];
        }
        if (sample_y[i] > y_max) {
            y_max = sample_y[i];
        }
        if (log_z == 1) {
            // log of 0 raises division by zero, of a negative value invalid
            // operation
            sample_z[i] = std::log(static_cast<long double>(sample_z[i]));
        }
        if (sample_z[i] < z_min) {
            z_min = sample_z[i];
        }
        if (sample_z[i] > z_max) {
            z_max = sample_z[i];
        }
    }
    x_min = static_cast<long double>(x_min) - cell_x;
    x_max = static_cast<long double>(x_max) + cell_x;
    return true;
}

int32_t TKrigging::BuildCellIndex() {
    // The counts are compared in floating point, before any conversion, so a
    // huge extent is refused instead of wrapping.
    const long double cols =
        std::ceil((static_cast<long double>(x_max) - x_min) / cell_x) + 1;
    const long double rows =
        std::ceil((static_cast<long double>(y_max) - y_min) / cell_y);
    if (!(cols <= max_grid_nodes)) {
        ShowMessage(msg_too_many_x);
        return 1;
    }
    if (!(rows <= max_grid_nodes)) {
        ShowMessage(msg_too_many_y);
        return 1;
    }
    // All samples on one y leave no row to estimate: refused without a message.
    // The x widening gives at least three columns, unless the coordinates are
    // so large that adding a cell does not change them; a lookup needs two.
    if (!(rows >= 1) || !(cols >= 2)) {
        return 1;
    }
    n_cols = static_cast<int16_t>(cols);
    n_rows = static_cast<int16_t>(rows);
    if (whole_grid) {
        AllocGrid();
    } else {
        AllocCellIndex();
    }
    for (int32_t c = 0; c < n_cols; ++c) {
        for (int32_t r = 0; r < n_rows; ++r) {
            cell_index[c][r] = -1;
        }
    }
    for (int32_t i = 0; i < sample_count; ++i) {
        cur_x = sample_x[i];
        cur_y = sample_y[i];
        cur_z = sample_z[i];
        // nearest node: floor of the offset plus half a cell
        const int32_t c = BoundedFloor(
            (static_cast<long double>(cur_x) - x_min + 0.5L * cell_x) / cell_x,
            0, n_cols - 1);
        const int32_t r = BoundedFloor(
            (static_cast<long double>(cur_y) - y_min + 0.5L * cell_y) / cell_y,
            0, n_rows - 1);
        const int32_t k = cell_index[c][r];
        if (k == -1) {
            cell_index[c][r] = i;
            continue;
        }
        // Running halving: each later sample of the cell is averaged into the
        // first.
        prev_x = sample_x[k];
        prev_y = sample_y[k];
        prev_z = sample_z[k];
        sample_x[k] = (static_cast<long double>(cur_x) + prev_x) * 0.5L;
        sample_y[k] = (static_cast<long double>(cur_y) + prev_y) * 0.5L;
        sample_z[k] = (static_cast<long double>(cur_z) + prev_z) * 0.5L;
    }
    return 0;
}

void TKrigging::AllocGrid() {
    grid = std::make_unique<std::unique_ptr<double[]>[]>(n_cols);
    for (int32_t c = 0; c < n_cols; ++c) {
        grid[c] = std::make_unique_for_overwrite<double[]>(n_rows);
    }
    AllocCellIndex();
}

void TKrigging::AllocCellIndex() {
    cell_index = std::make_unique<std::unique_ptr<int32_t[]>[]>(n_cols);
    for (int32_t c = 0; c < n_cols; ++c) {
        cell_index[c] = std::make_unique_for_overwrite<int32_t[]>(n_rows);
    }
}

int32_t TKrigging::FitVariogram() {
    if (sill != 0.0 || range != 0.0) {
        return 0;
    }
    LagTable table;
    // Adds pair (a, b) to the table of a direction; extent and width as that
    // direction defines them.
    auto add_pair = [&](int32_t a, int32_t b, double extent, double width) {
        const double pdx = static_cast<long double>(sample_x[a]) - sample_x[b];
        const double pdy = static_cast<long double>(sample_y[a]) - sample_y[b];
        const double pdz = static_cast<long double>(sample_z[a]) - sample_z[b];
        // The offset classes a pair by trunc((distance + 0.0001) / width) while
        // the mean distances stay those of the pairs.
        const double e = std::sqrt(static_cast<long double>(pdx) * pdx +
                                   static_cast<long double>(pdy) * pdy) +
                         pair_offset;
        if (!(e <= extent && e >= pair_offset)) {
            return;
        }
        // e and width are positive here, so trunc(q) < 50 exactly when q < 50,
        // and the truncation is the floor.
        const long double q = e / static_cast<long double>(width);
        if (!(q < lag_classes)) {
            return;
        }
        const int32_t k = SmallFloor(q);
        const double d = e - pair_offset;
        table.dist_sum[k] = table.dist_sum[k] + static_cast<long double>(d);
        table.sq_sum[k] = table.sq_sum[k] + static_cast<long double>(pdz) * pdz;
        table.count[k] = table.count[k] + 1.0L;
    };
    // Peak semivariance of the table and the mean distance of its class; ties
    // keep the earlier class.
    auto peak = [&](double &peak_gamma, double &peak_lag) {
        double gamma[lag_classes];
        double lag[lag_classes];
        for (int32_t k = 0; k < lag_classes; ++k) {
            gamma[k] = 0.0;
            lag[k] = 0.0;
            if (table.count[k] != 0.0) {
                lag[k] = table.dist_sum[k] /
                         static_cast<long double>(table.count[k]);
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
    };
    auto clear = [&] {
        for (int32_t k = 0; k < lag_classes; ++k) {
            table.dist_sum[k] = table.sq_sum[k] = table.count[k] = 0.0;
        }
    };

    // The occupied cells of every row and of every column, as the samples
    // that represent them in ascending column (row) order: the pairs below
    // are the dense scan's pairs in the dense scan's order, so the sums are
    // the same, without visiting the empty cells of a grown window.
    // Row r's samples are row_samples[row_start[r] .. row_start[r + 1] - 1],
    // column c's are col_samples[col_start[c] .. col_start[c + 1] - 1].
    std::vector<int32_t> row_start(n_rows + 1, 0);
    std::vector<int32_t> col_start(n_cols + 1, 0);
    for (int32_t c = 0; c < n_cols; ++c) {
        for (int32_t r = 0; r < n_rows; ++r) {
            if (cell_index[c][r] != -1) {
                ++row_start[r + 1];
                ++col_start[c + 1];
            }
        }
    }
    for (int32_t r = 0; r < n_rows; ++r) {
        row_start[r + 1] += row_start[r];
    }
    for (int32_t c = 0; c < n_cols; ++c) {
        col_start[c + 1] += col_start[c];
    }
    std::vector<int32_t> row_samples(row_start[n_rows]);
    std::vector<int32_t> col_samples(col_start[n_cols]);
    std::vector<int32_t> row_fill(row_start.begin(), row_start.end() - 1);
    for (int32_t c = 0; c < n_cols; ++c) {
        int32_t col_fill = col_start[c];
        for (int32_t r = 0; r < n_rows; ++r) {
            const int32_t s = cell_index[c][r];
            if (s != -1) {
                row_samples[row_fill[r]++] = s;
                col_samples[col_fill++] = s;
            }
        }
    }
    // Every pair of a list, the earlier cell first.
    auto add_pairs = [&](const std::vector<int32_t> &start,
                         const std::vector<int32_t> &samples, int32_t lines,
                         double extent, double width) {
        for (int32_t line = 0; line < lines; ++line) {
            for (int32_t i = start[line]; i < start[line + 1]; ++i) {
                for (int32_t j = i + 1; j < start[line + 1]; ++j) {
                    add_pair(samples[i], samples[j], extent, width);
                }
            }
        }
    };

    // Pairs along rows, over the widened x extent.
    clear();
    double extent = static_cast<long double>(x_max) - x_min;
    double width = lag_class_share * extent;
    add_pairs(row_start, row_samples, n_rows, extent, width);
    double row_peak, row_lag;
    peak(row_peak, row_lag);

    // Pairs along columns, over the y extent as found.
    clear();
    extent = static_cast<long double>(y_max) - y_min;
    width = lag_class_share * extent;
    add_pairs(col_start, col_samples, n_cols, extent, width);
    double col_peak, col_lag;
    peak(col_peak, col_lag);

    nugget = 0.0;
    sill = (static_cast<long double>(row_peak) + col_peak) * 0.5L;
    range = (static_cast<long double>(row_lag) + col_lag) * 0.5L;
    return 0;
}

void TKrigging::ConvertAngle() {
    aniso_angle = aniso_angle * degrees_to_radians;
    cos_angle = std::cos(static_cast<long double>(aniso_angle));
    sin_angle = std::sin(static_cast<long double>(aniso_angle));
}

int32_t TKrigging::EstimateGrid() {
    ConvertAngle();
    for (int32_t i = 0; i < n_cols; ++i) {
        for (int32_t j = 0; j < n_rows; ++j) {
            grid[i][j] = EstimateNode(i, j);
            CheckFloatErrors();
        }
    }
    return 0;
}

double TKrigging::EstimateNode(int32_t i, int32_t j) {
    return EstimateNode(i, j, nullptr);
}

double TKrigging::EstimateNode(int32_t i, int32_t j, NodeMakeup *makeup) {
    int32_t nbr_index[max_system + 1];
    double nbr_dist[max_system + 1];
    double weights[max_system + 1];
    int32_t found = 0;

    const double X = static_cast<long double>(i) * cell_x + x_min;
    const double Y = static_cast<long double>(j) * cell_y + y_min;
    if (search_mode == 0) {
        SearchNearest(i, j, X, Y, nbr_index, nbr_dist, found);
    } else {
        SearchOctants(i, j, X, Y, nbr_index, nbr_dist, found);
    }
    for (int32_t k = 1; k <= found; ++k) {
        const int32_t s = nbr_index[k];
        cur_x = sample_x[s];
        cur_y = sample_y[s];
        cur_z = sample_z[s];
        neighbours[k][0] = cur_x;
        neighbours[k][1] = cur_y;
        neighbours[k][2] = cur_z;
    }
    if (makeup != nullptr) {
        makeup->found = found;
        makeup->blank = found <= min_points;
        for (int32_t k = 1; k <= found; ++k) {
            makeup->index[k] = nbr_index[k];
        }
    }
    if (found <= min_points) {
        return blank;
    }
    // The sum is stored after every term, each product held in extended.
    double sum = 0.0;
    if (NodeWeights(X, Y, found, weights)) {
        for (int32_t k = 1; k <= found; ++k) {
            sum = sum + static_cast<long double>(weights[k]) * neighbours[k][2];
        }
        if (makeup != nullptr) {
            for (int32_t k = 1; k <= found; ++k) {
                makeup->weight[k] = weights[k];
            }
        }
    } else {
        // Singular system (the covariance carries no information, e.g. sill 0):
        // the ordinary-kriging answer is the plain mean of the neighbours.
        for (int32_t k = 1; k <= found; ++k) {
            sum = static_cast<long double>(sum) + neighbours[k][2];
        }
        sum = static_cast<long double>(sum) / found;
        if (makeup != nullptr) {
            for (int32_t k = 1; k <= found; ++k) {
                makeup->weight[k] = 1.0 / found;
            }
        }
    }
    double estimate = sum;
    if (std::isnan(estimate)) {
        // The clamp below would pass it through silently on some builds.
        std::feraiseexcept(FE_INVALID);
    }
    if (estimate < z_min) {
        estimate = z_min;
    }
    if (estimate > z_max) {
        estimate = z_max;
    }
    return estimate;
}

double TKrigging::AnisoDistance(double dx, double dy) const {
    // u along the anisotropy direction, v across it; a negative ratio can make
    // the radicand negative, which raises the invalid-operation fault.
    const double u = static_cast<long double>(dx) * cos_angle +
                     static_cast<long double>(dy) * sin_angle;
    const double v = static_cast<long double>(dy) * cos_angle -
                     static_cast<long double>(dx) * sin_angle;
    return std::sqrt(static_cast<long double>(aniso_ratio) * v * v +
                     static_cast<long double>(u) * u);
}

void TKrigging::OfferCandidate(int32_t *index, double *dist, int32_t &count,
                               int32_t cap, int32_t s, double d,
                               int32_t sector) {
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
    if (sector < 0) {
        SortByDistance(index, dist, count);
    } else {
        SortSector(sector);
    }
}

void TKrigging::SearchNearest(int32_t i, int32_t j, double X, double Y,
                              int32_t *nbr_index, double *nbr_dist,
                              int32_t &found) {
    const int32_t rx = WindowReach(search_radius, cell_x);
    const int32_t ry = WindowReach(search_radius, cell_y);
    found = 0;
    // The window reaches rx columns below the node's column but rx - 1 above
    // it.
    const int32_t c_end = std::min<int32_t>(n_cols, i + rx);
    const int32_t r_end = std::min<int32_t>(n_rows, j + ry);
    for (int32_t c = std::max(0, i - rx); c < c_end; ++c) {
        for (int32_t r = std::max(0, j - ry); r < r_end; ++r) {
            const int32_t s = cell_index[c][r];
            if (s == -1) {
                continue;
            }
            cur_x = sample_x[s];
            cur_y = sample_y[s];
            cur_z = sample_z[s];
            const double d = AnisoDistance(static_cast<long double>(X) - cur_x,
                                           static_cast<long double>(Y) - cur_y);
            if (d <= search_radius) {
                OfferCandidate(nbr_index, nbr_dist, found, max_points, s, d,
                               -1);
            }
        }
    }
}

void TKrigging::SearchOctants(int32_t i, int32_t j, double X, double Y,
                              int32_t *nbr_index, double *nbr_dist,
                              int32_t &found) {
    const int32_t rx = WindowReach(search_radius, cell_x);
    const int32_t ry = WindowReach(search_radius, cell_y);
    per_sector = max_points / 8;
    if (per_sector < 1) {
        per_sector = 1;
    }
    if (per_sector > max_per_sector) {
        per_sector = max_per_sector;
    }
    for (int32_t s = 0; s < 8; ++s) {
        sect_count[s] = 0;
    }
    const int32_t c_end = std::min<int32_t>(n_cols, i + rx);
    const int32_t r_end = std::min<int32_t>(n_rows, j + ry);
    for (int32_t c = std::max(0, i - rx); c < c_end; ++c) {
        for (int32_t r = std::max(0, j - ry); r < r_end; ++r) {
            const int32_t s = cell_index[c][r];
            if (s == -1) {
                continue;
            }
            cur_x = sample_x[s];
            cur_y = sample_y[s];
            cur_z = sample_z[s];
            const double ddx = static_cast<long double>(X) - cur_x;
            const double ddy = static_cast<long double>(Y) - cur_y;
            const double d = AnisoDistance(ddx, ddy);
            if (!(d <= search_radius)) {
                continue;
            }
            const int32_t sector = Octant(ddx, ddy);
            OfferCandidate(sect_index[sector], sect_dist[sector],
                           sect_count[sector], per_sector, s, d, sector);
        }
    }
    found = 0;
    for (int32_t s = 0; s < 8; ++s) {
        for (int32_t k = 1; k <= sect_count[s]; ++k) {
            ++found;
            nbr_index[found] = sect_index[s][k];
            nbr_dist[found] = sect_dist[s][k];
        }
    }
    SortByDistance(nbr_index, nbr_dist, found);
}

int32_t TKrigging::Octant(double dx, double dy) const {
    // Azimuth of (dx, dy), clockwise from +y: the direction from the sample
    // toward the node. The sectors stay fixed to the grid axes.
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

void TKrigging::SortByDistance(int32_t *nbr_index, double *nbr_dist,
                               int32_t n) {
    HeapSort(nbr_index, nbr_dist, n);
}

void TKrigging::SortSector(int32_t s) {
    HeapSort(sect_index[s], sect_dist[s], sect_count[s]);
}

double TKrigging::Variogram(PlanePoint P, PlanePoint Q) const {
    const double h = AnisoDistance(static_cast<long double>(P.x) - Q.x,
                                   static_cast<long double>(P.y) - Q.y);
    if (h < range) {
        // spherical model: nugget + (sill - nugget) * (1.5 h/a - 0.5 h^3/a^3)
        const long double h3 = CubeOf(h); // std::pow(h, 3.0L), bit for bit
        // range^3 is the same power for every pair; it is recomputed only when
        // range changes, which gives the identical value at a fraction of the
        // cost
        if (!range_cubed_valid || range_cubed_of != range) {
            range_cubed = std::pow(static_cast<long double>(range), 3.0L);
            range_cubed_of = range;
            range_cubed_valid = true;
        }
        return nugget + (static_cast<long double>(sill) - nugget) *
                            (1.5L * h / range - 0.5L * h3 / range_cubed);
    }
    return sill;
}

double TKrigging::DriftTerm(int32_t t, double x, double y) const {
    const long double X = x;
    const long double Y = y;
    const long double xm = x_max;
    const long double ym = y_max;
    // Coordinates scaled by the largest sample x (widened) and y: a scale of 0
    // divides by zero, which the node's floating-point check reports.
    switch (t) {
    case 1:
        return X / xm;
    case 2:
        return Y / ym;
    case 3:
        return (X * X) / (xm * xm);
    case 4:
        return (X * Y) / (xm * ym);
    case 5:
        return (Y * Y) / (ym * ym);
    case 6:
        return (X * X * X) / (xm * xm * xm);
    case 7:
        return (X * X * Y) / (ym * xm * xm);
    case 8:
        return (X * Y * Y) / (xm * ym * ym);
    default:
        return (Y * Y * Y) / (ym * ym * ym);
    }
}

bool TKrigging::NodeWeights(double X, double Y, int32_t found,
                            double *weights) {
    double rhs[max_system + 2];
    const int32_t m = found + 1;
    const int32_t n = m + DriftTerms(drift_order);
    for (auto &row : kr_matrix) {
        for (double &entry : row) {
            entry = 0.0;
        }
    }
    const PlanePoint node{X, Y};
    for (int32_t i = 1; i <= found; ++i) {
        const PlanePoint pi{neighbours[i][0], neighbours[i][1]};
        for (int32_t j = i + 1; j <= found; ++j) {
            const PlanePoint pj{neighbours[j][0], neighbours[j][1]};
            // covariance = sill - semivariance
            kr_matrix[i][j] =
                static_cast<long double>(sill) - Variogram(pi, pj);
            kr_matrix[j][i] = kr_matrix[i][j];
        }
        kr_matrix[i][i] = sill; // the full sill, not sill - nugget
        rhs[i] = static_cast<long double>(sill) - Variogram(node, pi);
        kr_matrix[i][m] = 1.0;
        kr_matrix[m][i] = 1.0;
    }
    rhs[m] = 1.0;
    kr_matrix[m][m] = 0.0;
    for (int32_t col = m + 1, t = 1; col <= n; ++col, ++t) {
        for (int32_t i = 1; i <= found; ++i) {
            kr_matrix[i][col] =
                DriftTerm(t, neighbours[i][0], neighbours[i][1]);
            kr_matrix[col][i] = kr_matrix[i][col];
        }
        rhs[col] = DriftTerm(t, X, Y);
    }
    return SolveSystem(rhs, weights, n);
}

bool TKrigging::SolveSystem(const double *rhs, double *weights, int32_t N) {
    bool used[max_system + 1];
    int32_t pivot_row[max_system + 1];
    for (int32_t r = 1; r <= N; ++r) {
        for (int32_t k = 1; k <= N; ++k) {
            aug_matrix[r][k] = kr_matrix[r][k];
        }
        aug_matrix[r][N + 1] = rhs[r];
        used[r] = false;
    }
    for (int32_t c = 1; c <= N; ++c) {
        // Pivot: among unused rows the lowest-numbered one of largest
        // magnitude; a zero entry is never taken.
        double best = 0.0;
        int32_t p = 0;
        for (int32_t r = 1; r <= N; ++r) {
            if (!used[r] && std::fabs(aug_matrix[r][c]) > best) {
                best = std::fabs(aug_matrix[r][c]);
                p = r;
            }
        }
        if (p == 0) {
            return false; // singular: no row may serve this column
        }
        used[p] = true;
        pivot_row[c] = p;
        for (int32_t r = 1; r <= N; ++r) {
            if (r == p) {
                continue;
            }
            const double f =
                -static_cast<long double>(aug_matrix[r][c]) / aug_matrix[p][c];
            for (int32_t k = c + 1; k <= N + 1; ++k) {
                aug_matrix[r][k] = aug_matrix[r][k] + f * aug_matrix[p][k];
            }
        }
    }
    for (int32_t c = 1; c <= N; ++c) {
        const int32_t p = pivot_row[c];
        weights[c] =
            static_cast<long double>(aug_matrix[p][N + 1]) / aug_matrix[p][c];
    }
    return true;
}

TKrigging::CellWeights TKrigging::LocateCell(double x, double y,
                                             bool scaled) const {
    CellWeights cell;
    cell.one_row = n_rows < 2;
    const bool one_row = cell.one_row;
    long double px = x, py = y, x0, x1, y0 = 0.0L, y1 = 1.0L;
    int32_t c, r = 0;
    if (!scaled) {
        c = BoundedFloor((static_cast<long double>(x) - x_min) / dx, 0,
                         n_cols - 2);
        x0 = x_min + static_cast<long double>(c) * dx;
        x1 = x_min + static_cast<long double>(c + 1) * dx;
        if (!one_row) {
            r = BoundedFloor((static_cast<long double>(y) - y_min) / dy, 0,
                             n_rows - 2);
            y0 = y_min + static_cast<long double>(r) * dy;
            y1 = y_min + static_cast<long double>(r + 1) * dy;
        }
    } else {
        // The cell is chosen on coordinates times 3600; sides and point come
        // back through a multiplication by 1/3600 held in long double.
        const double X = x * scale_factor, Y = y * scale_factor;
        const double X0 = x_min * scale_factor, Y0 = y_min * scale_factor;
        const double DX = dx * scale_factor, DY = dy * scale_factor;
        const long double back = 1.0L / scale_factor;
        c = BoundedFloor((static_cast<long double>(X) - X0) / DX, 0,
                         n_cols - 2);
        x0 =
            static_cast<double>((X0 + static_cast<long double>(c) * DX) * back);
        x1 = static_cast<double>((X0 + static_cast<long double>(c + 1) * DX) *
                                 back);
        px = static_cast<double>(X * back);
        if (!one_row) {
            r = BoundedFloor((static_cast<long double>(Y) - Y0) / DY, 0,
                             n_rows - 2);
            y0 = static_cast<double>((Y0 + static_cast<long double>(r) * DY) *
                                     back);
            y1 = static_cast<double>(
                (Y0 + static_cast<long double>(r + 1) * DY) * back);
            py = static_cast<double>(Y * back);
        }
    }
    x0 = static_cast<double>(x0);
    x1 = static_cast<double>(x1);
    y0 = static_cast<double>(y0);
    y1 = static_cast<double>(y1);
    const double u = (px - x0) / (x1 - x0);
    const double v = one_row ? 0.0 : static_cast<double>((py - y0) / (y1 - y0));

    cell.c = c;
    cell.r = r;
    cell.w[0] = (1.0L - u) * (1.0L - v);
    cell.w[1] = u * (1.0L - v);
    cell.w[2] = static_cast<long double>(u) * v;
    cell.w[3] = (1.0L - u) * v;
    return cell;
}

double TKrigging::Interpolate(const CellWeights &cell, const double *q) const {
    // A corner of weight zero takes no part, a blank corner of non-zero weight
    // makes the value blank.
    long double sum = 0.0L;
    for (int k = 0; k < 4; ++k) {
        if (cell.w[k] == 0.0L) {
            continue;
        }
        if (IsBlank(q[k])) {
            return blank;
        }
        sum += cell.w[k] * q[k];
    }
    return static_cast<double>(sum);
}

double TKrigging::ValueAt(double x, double y, bool scaled) const {
    if (!grid) {
        return blank;
    }
    // An invalid operation in the lookup (cells of no width at coordinates
    // too large for the cell size) is an error, as in every other step.
    ClearFloatErrors();
    const CellWeights cell = LocateCell(x, y, scaled);
    const int32_t c = cell.c, r = cell.r;
    const double q[4] = {grid[c][r], grid[c + 1][r],
                         cell.one_row ? 0.0 : grid[c + 1][r + 1],
                         cell.one_row ? 0.0 : grid[c][r + 1]};
    const double value = Interpolate(cell, q);
    CheckFloatErrors();
    return value;
}

double TKrigging::ValueAtStation(double x, double y) {
    return StationValue(x, y, nullptr);
}

double TKrigging::ValueAtStation(double x, double y, StationMakeup &makeup) {
    return StationValue(x, y, &makeup);
}

double TKrigging::StationValue(double x, double y, StationMakeup *makeup) {
    if (makeup != nullptr) {
        makeup->corners = 0;
    }
    if (!cell_index) {
        return blank;
    }
    // The lookup is checked as ValueAt checks it, and each node as the node
    // loop checks it.
    ClearFloatErrors();
    const CellWeights cell = LocateCell(x, y, false);
    CheckFloatErrors();
    const int32_t c = cell.c, r = cell.r;
    NodeMakeup *node = makeup != nullptr ? makeup->node : nullptr;
    double q[4] = {0.0, 0.0, 0.0, 0.0};
    q[0] = EstimateNode(c, r, node);
    CheckFloatErrors();
    q[1] = EstimateNode(c + 1, r, node != nullptr ? node + 1 : nullptr);
    CheckFloatErrors();
    if (!cell.one_row) {
        q[2] = EstimateNode(c + 1, r + 1, node != nullptr ? node + 2 : nullptr);
        CheckFloatErrors();
        q[3] = EstimateNode(c, r + 1, node != nullptr ? node + 3 : nullptr);
        CheckFloatErrors();
    }
    const double value = Interpolate(cell, q);
    CheckFloatErrors();
    if (makeup != nullptr) {
        makeup->corners = cell.one_row ? 2 : 4;
        for (int k = 0; k < 4; ++k) {
            makeup->corner_weight[k] =
                k < makeup->corners ? static_cast<double>(cell.w[k]) : 0.0;
        }
    }
    return value;
}

double TKrigging::PlainCovariance(double x1, double y1, double x2,
                                  double y2) const {
    const double ddx = x1 - x2;
    const double ddy = y1 - y2;
    const double u = ddx * cos_angle + ddy * sin_angle;
    const double v = ddy * cos_angle - ddx * sin_angle;
    const double h = std::sqrt(aniso_ratio * v * v + u * u);
    if (!(h < range)) {
        return 0.0; // at or beyond the range: sill - sill
    }
    // spherical model: gamma = nugget + (sill - nugget) (1.5 t - 0.5 t^3)
    const double t = h / range;
    const double gamma = nugget + (sill - nugget) * (1.5 * t - 0.5 * t * t * t);
    return sill - gamma;
}

double TKrigging::ErrorVariance(double x, double y,
                                const StationMakeup &makeup) const {
    // L_i: each sample's weight in the value read, over every corner that
    // used it. A corner of weight zero takes no part, as in the lookup.
    struct Share {
        int32_t sample;
        double weight;
    };
    std::vector<Share> shares;
    shares.reserve(4 * max_system);
    for (int32_t k = 0; k < makeup.corners; ++k) {
        const double corner = makeup.corner_weight[k];
        if (corner == 0.0) {
            continue;
        }
        const NodeMakeup &node = makeup.node[k];
        if (node.blank) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        for (int32_t n = 1; n <= node.found; ++n) {
            shares.push_back({node.index[n], corner * node.weight[n]});
        }
    }
    if (shares.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    std::sort(shares.begin(), shares.end(), [](const Share &a, const Share &b) {
        return a.sample < b.sample;
    });
    size_t unique = 0;
    for (size_t k = 0; k < shares.size(); ++k) {
        if (unique > 0 && shares[unique - 1].sample == shares[k].sample) {
            shares[unique - 1].weight += shares[k].weight;
        } else {
            shares[unique++] = shares[k];
        }
    }
    shares.resize(unique);

    // Overflow in a wild combination makes the result not finite, which is
    // reported as NaN; the flags it leaves belong to no estimate.
    const bool flags_before = FloatErrorRaised();
    double variance = sill; // C(0)
    for (size_t i = 0; i < shares.size(); ++i) {
        const double xi = sample_x[shares[i].sample];
        const double yi = sample_y[shares[i].sample];
        const double li = shares[i].weight;
        variance -= 2.0 * li * PlainCovariance(xi, yi, x, y);
        variance += li * li * sill; // C(x_i, x_i) = C(0)
        double cross = 0.0;
        for (size_t j = i + 1; j < shares.size(); ++j) {
            cross += shares[j].weight *
                     PlainCovariance(xi, yi, sample_x[shares[j].sample],
                                     sample_y[shares[j].sample]);
        }
        variance += 2.0 * li * cross;
    }
    if (!flags_before) {
        ClearFloatErrors();
    }
    if (!std::isfinite(variance)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    // Rounding can leave a tiny negative value where the true one is 0.
    return variance < 0.0 ? 0.0 : variance;
}
