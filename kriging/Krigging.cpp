// The kriging gridder's runs: validation, data scan, grid geometry and cell
// index, the node loop and the station lookup over the fit, search, system
// and lookup of their own files, and the error variance of a station's value.
//
// Formulas are evaluated with long double intermediates (64-bit mantissa) and
// stored into double fields and arrays; named quantities are doubles.
#include "kriging/Krigging.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

#include "kriging/GridLookup.h"

#include "platform/Dialogs.h"
#include "platform/FloatChecks.h"

namespace {

constexpr double min_cell_size = 0.001;
constexpr int32_t max_neighbours = 32;
constexpr int32_t default_max_points = 8;
constexpr double default_radius_cells = 8.0;
constexpr long double degrees_to_radians =
    0.017453292L; // the decimal constant, not pi/180

const char *const msg_cell_size = "Cell size must be defined.";
const char *const msg_too_many_x =
    "Number of grid points exceeded 1024 in X-direction.";
const char *const msg_too_many_y =
    "Number of grid points exceeded 1024 in Y-direction.";

} // namespace

const char *GridRefusalMessage(GridRefusal refusal) {
    switch (refusal) {
    case GridRefusal::CellSize:
        return msg_cell_size;
    case GridRefusal::TooManyColumns:
        return msg_too_many_x;
    case GridRefusal::TooManyRows:
        return msg_too_many_y;
    case GridRefusal::None:
    case GridRefusal::NoSamples:
    case GridRefusal::NoRows:
        break;
    }
    return nullptr;
}

TKrigging::TKrigging() : blank(blank_value) {}

TKrigging::~TKrigging() = default;

bool TKrigging::MakeGrid(const double *sample_x, const double *sample_y,
                         const double *sample_z, int32_t sample_count,
                         const GridParams &params) {
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

    if (!PrepareSteps(sample_x, sample_y, sample_z, sample_count, params,
                      true)) {
        return false;
    }
    EstimateGrid();
    guard.finished = true;
    return true;
}

bool TKrigging::MakeGrid(const double *sample_x, const double *sample_y,
                         const double *sample_z, int32_t sample_count,
                         int32_t log_z, int32_t search_mode, int32_t max_points,
                         double search_radius, int32_t drift_order,
                         double nugget, double sill, double range,
                         double cell_x, double cell_y, double aniso_angle,
                         double aniso_ratio) {
    return MakeGrid(sample_x, sample_y, sample_z, sample_count,
                    {log_z, search_mode, max_points, search_radius, drift_order,
                     nugget, sill, range, cell_x, cell_y, aniso_angle,
                     aniso_ratio});
}

bool TKrigging::PrepareGrid(const double *sample_x, const double *sample_y,
                            const double *sample_z, int32_t sample_count,
                            const GridParams &params) {
    // Kept as given, for PrepareGridLeavingOut.
    kept_cells = false;
    kept_count = sample_count > 0 ? sample_count : 0;
    kept_x.assign(sample_x, sample_x + kept_count);
    kept_y.assign(sample_y, sample_y + kept_count);
    kept_z.assign(sample_z, sample_z + kept_count);
    kept_params = params;
    return PrepareLookups(sample_x, sample_y, sample_z, sample_count, params,
                          nullptr);
}

bool TKrigging::PrepareGrid(const double *sample_x, const double *sample_y,
                            const double *sample_z, int32_t sample_count,
                            int32_t log_z, int32_t search_mode,
                            int32_t max_points, double search_radius,
                            int32_t drift_order, double nugget, double sill,
                            double range, double cell_x, double cell_y,
                            double aniso_angle, double aniso_ratio) {
    return PrepareGrid(sample_x, sample_y, sample_z, sample_count,
                       {log_z, search_mode, max_points, search_radius,
                        drift_order, nugget, sill, range, cell_x, cell_y,
                        aniso_angle, aniso_ratio});
}

bool TKrigging::PrepareGridLeavingOut(int32_t left_out) {
    if (kept_count < 0 || left_out < 0 || left_out >= kept_count) {
        grid.reset();
        ReleaseWork();
        return false;
    }
    // The kept samples less one, the others in their order.
    const int32_t count = kept_count - 1;
    left_out_x.resize(count);
    left_out_y.resize(count);
    left_out_z.resize(count);
    for (int32_t i = 0, j = 0; i < kept_count; ++i) {
        if (i != left_out) {
            left_out_x[j] = kept_x[i];
            left_out_y[j] = kept_y[i];
            left_out_z[j] = kept_z[i];
            ++j;
        }
    }
    const PlanePoint dropped{kept_x[left_out], kept_y[left_out]};
    struct LeavingOut {
        int32_t &in_hand;
        ~LeavingOut() { in_hand = -1; }
    } leaving{leaving_out};
    leaving_out = left_out;
    return PrepareLookups(left_out_x.data(), left_out_y.data(),
                          left_out_z.data(), count, kept_params, &dropped);
}

bool TKrigging::PrepareLookups(const double *sample_x, const double *sample_y,
                               const double *sample_z, int32_t sample_count,
                               const GridParams &params,
                               const PlanePoint *left_out) {
    if (!PrepareSteps(sample_x, sample_y, sample_z, sample_count, params, false,
                      left_out)) {
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
                             const GridParams &params, bool whole_grid,
                             const PlanePoint *left_out) {
    grid.reset();
    ReleaseWork();
    refusal = GridRefusal::None;
    n_cols = 0;
    n_rows = 0;
    this->whole_grid = whole_grid;
    if (left_out == nullptr) {
        // A fit of other samples: nothing kept serves them until their own
        // fit is kept.
        fit.Forget();
        if (whole_grid) {
            kept_count = -1;
        }
    }
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
    log_z = params.log_z;
    search_mode = params.search_mode;
    max_points = params.max_points;
    search_radius = params.search_radius;
    drift_order = params.drift_order;
    nugget = params.nugget;
    sill = params.sill;
    range = params.range;
    cell_x = params.cell_x;
    cell_y = params.cell_y;
    aniso_angle = params.aniso_angle;
    aniso_ratio = params.aniso_ratio;
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
    FitModel(left_out);
    CheckFloatErrors();
    // A fit that met no fault serves the same samples less one.
    if (left_out == nullptr) {
        fit.Confirm();
    }
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
        refusal = GridRefusal::NoSamples;
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
        Refuse(GridRefusal::CellSize);
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

void TKrigging::Refuse(GridRefusal why) {
    refusal = why;
    const char *message = GridRefusalMessage(why);
    if (message != nullptr && show_refusals) {
        ShowMessage(message);
    }
}

int32_t TKrigging::BuildCellIndex() {
    // The counts are compared in floating point, before any conversion, so a
    // huge extent is refused instead of wrapping.
    const long double cols =
        std::ceil((static_cast<long double>(x_max) - x_min) / cell_x) + 1;
    const long double rows =
        std::ceil((static_cast<long double>(y_max) - y_min) / cell_y);
    if (!(cols <= max_grid_nodes)) {
        Refuse(GridRefusal::TooManyColumns);
        return 1;
    }
    if (!(rows <= max_grid_nodes)) {
        Refuse(GridRefusal::TooManyRows);
        return 1;
    }
    // All samples on one y leave no row to estimate: refused without a message.
    // The x widening gives at least three columns, unless the coordinates are
    // so large that adding a cell does not change them; a lookup needs two.
    if (!(rows >= 1) || !(cols >= 2)) {
        refusal = GridRefusal::NoRows;
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
    // The samples are final from here on: pairs met before are not theirs.
    system.NewGrid(sample_count);
    search.NewGrid();
    // The kept samples less one on the kept grid: each sample's cell is the
    // one it had there (the same coordinates on the same geometry).
    const GridShape shape = Shape();
    const bool known_cells = leaving_out >= 0 && kept_cells &&
                             kept_shape == shape &&
                             sample_count + 1 == kept_count;
    // The kept samples themselves: note their cells.
    const bool note_cells =
        leaving_out < 0 && !whole_grid && sample_count == kept_count;
    if (note_cells) {
        kept_col.resize(sample_count);
        kept_row.resize(sample_count);
    }
    for (int32_t i = 0; i < sample_count; ++i) {
        cur_x = sample_x[i];
        cur_y = sample_y[i];
        cur_z = sample_z[i];
        int32_t c, r;
        if (known_cells) {
            const int32_t kept = i < leaving_out ? i : i + 1;
            c = kept_col[kept];
            r = kept_row[kept];
        } else {
            NearestNode(shape, cur_x, cur_y, c, r);
        }
        if (note_cells) {
            kept_col[i] = c;
            kept_row[i] = r;
        }
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
    if (note_cells) {
        kept_cells = true;
        kept_shape = shape;
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
    FitModel(nullptr);
    return 0;
}

void TKrigging::FitModel(const PlanePoint *left_out) {
    if (sill != 0.0 || range != 0.0) {
        return;
    }
    const FittedModel model =
        fit.Fit({sample_x.get(), sample_y.get(), sample_z.get(),
                 cell_index.get(), Shape()},
                left_out);
    nugget = model.nugget;
    sill = model.sill;
    range = model.range;
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
    if (SolveNode(X, Y, found, nbr_index, weights)) {
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

void TKrigging::TakeInHand(int32_t s) {
    if (s != -1) {
        cur_x = sample_x[s];
        cur_y = sample_y[s];
        cur_z = sample_z[s];
    }
}

void TKrigging::SearchNearest(int32_t i, int32_t j, double X, double Y,
                              int32_t *nbr_index, double *nbr_dist,
                              int32_t &found) {
    TakeInHand(search.SearchNearest(Searched(), i, j, X, Y, nbr_index, nbr_dist,
                                    found));
}

void TKrigging::SearchOctants(int32_t i, int32_t j, double X, double Y,
                              int32_t *nbr_index, double *nbr_dist,
                              int32_t &found) {
    TakeInHand(search.SearchOctants(Searched(), i, j, X, Y, nbr_index, nbr_dist,
                                    found));
}

int32_t TKrigging::Octant(double dx, double dy) const {
    return ::Octant(dx, dy);
}

void TKrigging::SortByDistance(int32_t *nbr_index, double *nbr_dist,
                               int32_t n) {
    HeapSort(nbr_index, nbr_dist, n);
}

void TKrigging::SortSector(int32_t s) { search.SortSector(s); }

double TKrigging::Variogram(PlanePoint P, PlanePoint Q) const {
    return system.Semivariance(Model(), P, Q);
}

bool TKrigging::NodeWeights(double X, double Y, int32_t found,
                            double *weights) {
    return SolveNode(X, Y, found, nullptr, weights);
}

bool TKrigging::SolveNode(double X, double Y, int32_t found,
                          const int32_t *samples, double *weights) {
    const NodeSystem node{{X, Y},      found, neighbours, samples,
                          drift_order, x_max, y_max,      Model()};
    return system.Solve(node, kr_matrix, aug_matrix, weights);
}

bool TKrigging::SolveSystem(const double *rhs, double *weights, int32_t N) {
    return ::SolveSystem(kr_matrix, aug_matrix, rhs, weights, N);
}

double TKrigging::ValueAt(double x, double y, bool scaled) const {
    if (!grid) {
        return blank;
    }
    // An invalid operation in the lookup (cells of no width at coordinates
    // too large for the cell size) is an error, as in every other step.
    ClearFloatErrors();
    const CellWeights cell = LocateCell(LookupShape(), x, y, scaled);
    const int32_t c = cell.c, r = cell.r;
    const double q[4] = {grid[c][r], grid[c + 1][r],
                         cell.one_row ? 0.0 : grid[c + 1][r + 1],
                         cell.one_row ? 0.0 : grid[c][r + 1]};
    const double value = Interpolate(cell, q, blank);
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
    const CellWeights cell = LocateCell(LookupShape(), x, y, false);
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
    const double value = Interpolate(cell, q, blank);
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
    const VariogramModel model = Model();
    double variance = sill; // C(0)
    for (size_t i = 0; i < shares.size(); ++i) {
        const double xi = sample_x[shares[i].sample];
        const double yi = sample_y[shares[i].sample];
        const double li = shares[i].weight;
        variance -= 2.0 * li * PlainCovariance(model, xi, yi, x, y);
        variance += li * li * sill; // C(x_i, x_i) = C(0)
        double cross = 0.0;
        for (size_t j = i + 1; j < shares.size(); ++j) {
            cross += shares[j].weight *
                     PlainCovariance(model, xi, yi, sample_x[shares[j].sample],
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
