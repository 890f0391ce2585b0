// Window growth, sample gathering and the two kriging runs of one station.
#include "estimate/StationEstimate.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "kriging/GridLookup.h"
#include "kriging/Krigging.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

namespace {

// The gridder's parameters for a station: values gridded as they are,
// nearest-points search, ordinary kriging, a model fitted from the samples
// (nugget, sill and range 0), isotropic. Its most neighbours and search
// radius are the window's N and starting half-size, not the grown window's.
GridParams StationGridParams(const StationSettings &settings) {
    GridParams params;
    params.max_points = settings.min_points;
    params.search_radius = settings.search_distance;
    params.cell_x = settings.cell_size;
    params.cell_y = settings.cell_size;
    params.aniso_ratio = 1.0;
    return params;
}

// The gridder of this thread, prepared afresh for every run: its work arrays
// keep their room from station to station.
TKrigging &ThreadGridder() {
    thread_local std::unique_ptr<TKrigging> gridder;
    if (!gridder) {
        gridder = std::make_unique<TKrigging>();
        // Refusals come back in each station's estimate; the run reports
        // them with the stations they hit.
        gridder->show_refusals = false;
    }
    return *gridder;
}

// Prepares a run over the first `count` samples; false (the gridder says why)
// when it is refused.
bool Prepare(TKrigging &gridder, const SampleArrays &samples, int32_t count,
             const StationSettings &settings) {
    return gridder.PrepareGrid(samples.sample_x.data(), samples.sample_y.data(),
                               samples.sample_z.data(), count,
                               StationGridParams(settings));
}

// Reads a prepared run at the station, and how sure that value is: the square
// root of its error variance, and the distance to the farthest sample it used
// (both NaN when there is none); `makeup` says which samples made the value.
double ReadWithSigma(TKrigging &gridder, double station_x, double station_y,
                     StationMakeup &makeup, double &sigma, double &reach) {
    const double value = gridder.ValueAtStation(station_x, station_y, makeup);
    const double variance = gridder.ErrorVariance(station_x, station_y, makeup);
    if (std::isnan(variance)) {
        return value;
    }
    sigma = std::sqrt(variance);
    double farthest = 0.0;
    for (int32_t k = 0; k < makeup.corners; ++k) {
        if (makeup.corner_weight[k] == 0.0) {
            continue;
        }
        const NodeMakeup &node = makeup.node[k];
        for (int32_t n = 1; n <= node.found; ++n) {
            const int32_t s = node.index[n];
            farthest =
                std::max(farthest, std::hypot(gridder.sample_x[s] - station_x,
                                              gridder.sample_y[s] - station_y));
        }
    }
    reach = farthest;
    return value;
}

// The height at the station by the weights of a prepared leave-one-out run
// read at it (`makeup`), from the window's heights `heights` less the own
// sample's: the gridder's samples sharing a cell are merged as the cell index
// merges them (running halving into the first), and the merged heights take
// the weights its makeup names. NaN when a corner that counts is blank or a
// sample it uses has no height.
double HeightAtStation(const TKrigging &gridder, const SampleArrays &samples,
                       int32_t own_index, const StationMakeup &makeup) {
    const int32_t count = gridder.sample_count;
    const GridShape shape{gridder.x_min,  gridder.x_max,  gridder.y_min,
                          gridder.y_max,  gridder.cell_x, gridder.cell_y,
                          gridder.n_cols, gridder.n_rows};
    thread_local std::vector<long double> merged;
    thread_local std::vector<int32_t> first_of_cell;
    thread_local std::vector<double> weight;
    merged.assign(static_cast<size_t>(count), 0.0L);
    weight.assign(static_cast<size_t>(count), 0.0);
    first_of_cell.assign(static_cast<size_t>(shape.n_cols) * shape.n_rows, -1);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t j = i < own_index ? i : i + 1; // the window's sample
        int32_t c, r;
        NearestNode(shape, samples.sample_x[j], samples.sample_y[j], c, r);
        int32_t &first = first_of_cell[static_cast<size_t>(c) * shape.n_rows + r];
        if (first < 0) {
            first = i;
            merged[i] = samples.sample_h[j];
        } else {
            merged[first] = (samples.sample_h[j] + merged[first]) * 0.5L;
        }
    }
    for (int32_t k = 0; k < makeup.corners; ++k) {
        if (makeup.corner_weight[k] == 0.0) {
            continue;
        }
        const NodeMakeup &node = makeup.node[k];
        if (node.blank) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        for (int32_t n = 1; n <= node.found; ++n) {
            weight[node.index[n]] += makeup.corner_weight[k] * node.weight[n];
        }
    }
    long double sum = 0.0L;
    bool any = false;
    for (int32_t s = 0; s < count; ++s) {
        if (weight[s] != 0.0) {
            sum += weight[s] * merged[s];
            any = true;
        }
    }
    return any ? static_cast<double>(sum)
               : std::numeric_limits<double>::quiet_NaN();
}

// The two kriging runs of a station, each read at the station: the value the
// whole grid would give there, from the only nodes the lookup reads. The
// second run leaves sample `own_index` out (the others keep their order), and
// its gridder reuses the first run's work where it provably did not change.
// An estimate whose run is refused is left untouched, and the refusal kept.
void KrigeAtStation(const SampleArrays &samples, int32_t own_index,
                    const StationSettings &settings, double station_x,
                    double station_y, StationEstimate &estimate) {
    TKrigging &gridder = ThreadGridder();
    if (Prepare(gridder, samples, samples.sample_count, settings)) {
        estimate.estimate_all = gridder.ValueAtStation(station_x, station_y);
    } else {
        estimate.refused_all = gridder.refusal;
    }
    if (!gridder.PrepareGridLeavingOut(own_index)) {
        estimate.refused_without = gridder.refusal;
    } else if (settings.with_sigma) {
        StationMakeup makeup;
        estimate.estimate_without =
            ReadWithSigma(gridder, station_x, station_y, makeup,
                          estimate.sigma, estimate.reach);
        if (!samples.sample_h.empty()) {
            estimate.h_estimate =
                HeightAtStation(gridder, samples, own_index, makeup);
        }
    } else {
        estimate.estimate_without =
            gridder.ValueAtStation(station_x, station_y);
    }
}

// The point table's window queries as the query texts ask them, one statement
// per call.
class TQueryWindows {
  public:
    explicit TQueryWindows(CppSQLite3DB &db_) : db(db_) {}
    int32_t CountInSquare(double x, double y, double a) {
        return ::CountInSquare(db, x, y, a);
    }
    SquareRows FetchInSquare(double x, double y, double a) {
        return ::FetchInSquare(db, x, y, a);
    }
    int32_t CountAllStations() { return ::CountAllStations(db); }
    bool StoredPosition(double x, double y, double &stored_x,
                        double &stored_y) {
        return ::StoredPosition(db, x, y, stored_x, stored_y);
    }

  private:
    CppSQLite3DB &db;
};

// Growth steps beyond which a window counts as one that cannot reach N: about
// a tenth of a second of additions, far more than any survey needs.
constexpr int64_t max_growth_steps = 100'000'000;
// Growth steps between two counts, at most; the half-sizes between two counts
// are kept, so the first one that holds N is found by bisection.
constexpr int32_t max_stride = 4096;
// Growth steps after which the last allowed window is counted once, to give up
// early on a station that no allowed window can serve. That window may hold
// most of the table, so it is counted only when the additions have already
// cost as much.
constexpr int64_t reach_check_steps = 1'000'000;

// Grows a window that falls short of `wanted` stations at `half_size` (its
// count in `counted`) to the first half-size of the sequence half_size +
// increment, + increment, ... (repeated addition) whose window holds
// `wanted`, with that window's count. The count never falls as the half-size
// grows, so the windows between two counts need not be counted one by one.
// False when no window of the sequence can hold them: the table holds fewer,
// the increment is not positive or no longer changes the half-size, or more
// than max_growth_steps would be needed; half_size and counted then hold the
// last window counted.
template <typename Windows>
bool Grow(Windows &windows, double station_x, double station_y,
          double increment, int32_t wanted, double &half_size,
          int32_t &counted) {
    if (!(increment > 0.0) || wanted > windows.CountAllStations()) {
        return false;
    }
    std::vector<double> steps; // steps[0] falls short; the rest to be counted
    int64_t taken = 0;
    int32_t stride = 1;
    bool reach_checked = false;
    for (;;) {
        steps.assign(1, half_size);
        bool stuck = false;
        for (int32_t s = 0; s < stride && taken < max_growth_steps; ++s) {
            const double grown = half_size + increment;
            if (grown == half_size) {
                stuck = true;
                break;
            }
            half_size = grown;
            ++taken;
            steps.push_back(half_size);
        }
        if (steps.size() > 1) {
            const int32_t last_count =
                windows.CountInSquare(station_x, station_y, steps.back());
            if (last_count >= wanted) {
                // Bisect: steps[low] falls short, steps[high] holds `wanted`.
                size_t low = 0, high = steps.size() - 1;
                int32_t high_count = last_count;
                while (high - low > 1) {
                    const size_t middle = low + (high - low) / 2;
                    const int32_t c = windows.CountInSquare(
                        station_x, station_y, steps[middle]);
                    if (c >= wanted) {
                        high = middle;
                        high_count = c;
                    } else {
                        low = middle;
                    }
                }
                half_size = steps[high];
                counted = high_count;
                return true;
            }
            counted = last_count;
        }
        if (stuck || taken >= max_growth_steps) {
            return false;
        }
        if (stride < max_stride) {
            stride *= 2;
        } else if (!reach_checked && taken >= reach_check_steps) {
            // A window that needs this many steps may need far more: when even
            // the last allowed one (bounded from above, additions rounding
            // included) falls short, stop before making them.
            reach_checked = true;
            const long double reach =
                static_cast<long double>(max_growth_steps) * increment;
            const long double bound =
                (half_size + reach) +
                1e-6L *
                    (std::fabs(static_cast<long double>(half_size)) + reach);
            const double last = static_cast<double>(bound);
            if (std::isfinite(last) &&
                windows.CountInSquare(station_x, station_y, last) < wanted) {
                return false;
            }
        }
    }
}

// Window growth and gathering over either store: the query texts or a pass's
// window index, which answer alike. The window is centred on (centre_x,
// centre_y); with `own` the own sample is the last one at the centre.
template <typename Windows>
bool Gather(Windows &windows, double centre_x, double centre_y, bool own,
            double increment, double &search_distance, int32_t &n_points,
            SampleArrays &samples, int32_t &own_index) {
    double half_size = search_distance;
    const int32_t wanted = n_points;
    // With N of 0 or less the starting window is the final one; it is still
    // counted, so that its count is reported.
    int32_t counted = windows.CountInSquare(centre_x, centre_y, half_size);
    const bool reached =
        counted >= wanted || Grow(windows, centre_x, centre_y, increment,
                                  wanted, half_size, counted);
    search_distance = half_size;
    n_points = counted;
    if (!reached) {
        return false;
    }

    SquareRows rows = windows.FetchInSquare(centre_x, centre_y, half_size);
    samples.sample_x = std::move(rows.x);
    samples.sample_y = std::move(rows.y);
    samples.sample_z = std::move(rows.u);
    samples.sample_h = std::move(rows.h);
    samples.sample_count = static_cast<int32_t>(samples.sample_x.size());

    own_index = -1;
    for (int32_t j = 0; own && j < samples.sample_count; ++j) {
        if (samples.sample_x[j] == centre_x &&
            samples.sample_y[j] == centre_y) {
            own_index = j;
        }
    }
    return true;
}

// The station's position as the table holds it, for the window's centre and
// the own sample; the position as parsed when the table has no station there.
template <typename Windows>
bool StoredCentre(Windows &windows, double station_x, double station_y,
                  double &centre_x, double &centre_y) {
    centre_x = station_x;
    centre_y = station_y;
    return windows.StoredPosition(station_x, station_y, centre_x, centre_y);
}

// The estimation of a station over either store. `estimate` comes in holding,
// in estimate_all and estimate_without, what a refused kriging run leaves.
template <typename Windows>
void Estimate(Windows &windows, PlanePoint station,
              const StationSettings &settings, StationEstimate &estimate) {
    estimate.written = false;
    estimate.search_distance = settings.search_distance;
    estimate.n_points = settings.min_points;
    estimate.skip = StationSkip::None;
    estimate.sigma = estimate.reach = std::numeric_limits<double>::quiet_NaN();
    estimate.h_estimate = std::numeric_limits<double>::quiet_NaN();
    estimate.refused_all = estimate.refused_without = GridRefusal::None;
    try {
        double centre_x, centre_y;
        const bool stored =
            StoredCentre(windows, station.x, station.y, centre_x, centre_y);
        SampleArrays samples;
        int32_t own_index = -1;
        if (!Gather(windows, centre_x, centre_y, stored, settings.increment,
                    estimate.search_distance, estimate.n_points, samples,
                    own_index)) {
            estimate.skip = StationSkip::WindowShort;
            return;
        }
        if (own_index < 0) {
            estimate.skip = StationSkip::OwnSampleMissing;
            return;
        }
        KrigeAtStation(samples, own_index, settings, centre_x, centre_y,
                       estimate);
        estimate.written = true;
    } catch (const std::bad_alloc &) {
        estimate.skip = StationSkip::Error;
        estimate.error = "out of memory";
    } catch (const std::exception &error) {
        estimate.skip = StationSkip::Error;
        estimate.error = error.what();
    } catch (const CppSQLite3Exception &error) {
        estimate.skip = StationSkip::Error;
        estimate.error = error.errorMessage();
    } catch (...) {
        // Any failure below (database, conversion, memory, floating point)
        // skips the station; the run goes on.
        estimate.skip = StationSkip::Error;
        estimate.error = "unknown error";
    }
}

} // namespace

bool GatherStationSamples(CppSQLite3DB &db, double station_x, double station_y,
                          double increment, double &search_distance,
                          int32_t &n_points, SampleArrays &samples,
                          int32_t &own_index) {
    TQueryWindows windows(db);
    double centre_x, centre_y;
    const bool stored =
        StoredCentre(windows, station_x, station_y, centre_x, centre_y);
    return Gather(windows, centre_x, centre_y, stored, increment,
                  search_distance, n_points, samples, own_index);
}

bool GatherStationSamples(TPointWindows &windows, double station_x,
                          double station_y, double increment,
                          double &search_distance, int32_t &n_points,
                          SampleArrays &samples, int32_t &own_index) {
    double centre_x, centre_y;
    const bool stored =
        StoredCentre(windows, station_x, station_y, centre_x, centre_y);
    return Gather(windows, centre_x, centre_y, stored, increment,
                  search_distance, n_points, samples, own_index);
}

bool EstimateStation(CppSQLite3DB &db, double station_x, double station_y,
                     double cell_size, double increment,
                     double &search_distance, int32_t &n_points,
                     double &estimate_all, double &estimate_without) {
    TQueryWindows windows(db);
    StationEstimate estimate;
    estimate.estimate_all = estimate_all;
    estimate.estimate_without = estimate_without;
    Estimate(windows, {station_x, station_y},
             {{search_distance, increment, n_points, cell_size}, false},
             estimate);
    estimate_all = estimate.estimate_all;
    estimate_without = estimate.estimate_without;
    search_distance = estimate.search_distance;
    n_points = estimate.n_points;
    return estimate.written;
}

std::optional<double>
EstimateLeavingOut(TPointWindows &windows, PlanePoint station,
                   const StationSettings &settings,
                   const std::vector<PlanePoint> &also_out) {
    try {
        double centre_x, centre_y;
        if (!StoredCentre(windows, station.x, station.y, centre_x, centre_y)) {
            return std::nullopt;
        }
        // The same window as the station's estimate: the same start, growth
        // and N.
        double search_distance = settings.search_distance;
        int32_t n_points = settings.min_points;
        SampleArrays samples;
        int32_t own_index = -1;
        if (!Gather(windows, centre_x, centre_y, true, settings.increment,
                    search_distance, n_points, samples, own_index) ||
            own_index < 0) {
            return std::nullopt;
        }
        // The samples to leave out, at their positions as the table holds
        // them; the others keep their fetch order.
        std::vector<PlanePoint> out;
        for (const PlanePoint &p : also_out) {
            PlanePoint stored{};
            if (windows.StoredPosition(p.x, p.y, stored.x, stored.y)) {
                out.push_back(stored);
            }
        }
        int32_t kept = 0;
        for (int32_t j = 0; j < samples.sample_count; ++j) {
            const bool left_out =
                j == own_index ||
                std::any_of(out.begin(), out.end(), [&](const PlanePoint &p) {
                    return samples.sample_x[j] == p.x &&
                           samples.sample_y[j] == p.y;
                });
            if (!left_out) {
                samples.sample_x[kept] = samples.sample_x[j];
                samples.sample_y[kept] = samples.sample_y[j];
                samples.sample_z[kept] = samples.sample_z[j];
                ++kept;
            }
        }
        TKrigging &gridder = ThreadGridder();
        if (!Prepare(gridder, samples, kept, settings)) {
            return blank_value;
        }
        return gridder.ValueAtStation(centre_x, centre_y);
    } catch (...) {
        // As for the station's own estimate: the station is not estimated.
        return std::nullopt;
    }
}

StationEstimate EstimateStation(TPointWindows &windows, PlanePoint station,
                                const StationSettings &settings) {
    StationEstimate estimate;
    Estimate(windows, station, settings, estimate);
    return estimate;
}
