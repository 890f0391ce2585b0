// Window growth, sample gathering and the two kriging runs of one station.
#include "estimate/StationEstimate.h"

#include <cmath>
#include <memory>
#include <vector>

#include "kriging/Krigging.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

namespace {

// The gridder's fixed settings for a station: values gridded as they are,
// nearest-points search, ordinary kriging, a fitted isotropic model.
constexpr int32_t no_log = 0;
constexpr int32_t nearest_search = 0;
constexpr int32_t ordinary_kriging = 0;
constexpr double fit_model =
    0.0; // nugget, sill and range 0: fit from the samples
constexpr double no_angle = 0.0;
constexpr double isotropic = 1.0;

// The two kriging runs of a station, each read at the station: the value the
// whole grid would give there, from the only nodes the lookup reads. The
// second run leaves sample `own_index` out (the others keep their order), and
// its gridder reuses the first run's work where it provably did not change.
// Leaves an estimate untouched when the gridder refuses its run.
void KrigeAtStation(const SampleArrays &samples, int32_t own_index,
                    int32_t max_points, double search_radius, double cell_size,
                    double station_x, double station_y, double &estimate_all,
                    double &estimate_without) {
    // One gridder per thread, prepared afresh for every run: its work arrays
    // keep their room from station to station.
    thread_local std::unique_ptr<TKrigging> gridder;
    if (!gridder) {
        gridder = std::make_unique<TKrigging>();
    }
    if (gridder->PrepareGrid(samples.sample_x.data(), samples.sample_y.data(),
                             samples.sample_z.data(), samples.sample_count,
                             no_log, nearest_search, max_points, search_radius,
                             ordinary_kriging, fit_model, fit_model, fit_model,
                             cell_size, cell_size, no_angle, isotropic)) {
        estimate_all = gridder->ValueAtStation(station_x, station_y);
    }
    if (gridder->PrepareGridLeavingOut(own_index)) {
        estimate_without = gridder->ValueAtStation(station_x, station_y);
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
// window index, which answer alike.
template <typename Windows>
bool Gather(Windows &windows, double station_x, double station_y,
            double increment, double &search_distance, int32_t &n_points,
            SampleArrays &samples, int32_t &own_index) {
    double half_size = search_distance;
    const int32_t wanted = n_points;
    int32_t counted = 0;
    if (wanted > 0) {
        counted = windows.CountInSquare(station_x, station_y, half_size);
    }
    const bool reached =
        counted >= wanted || Grow(windows, station_x, station_y, increment,
                                  wanted, half_size, counted);
    search_distance = half_size;
    n_points = counted;
    if (!reached) {
        return false;
    }

    SquareRows rows = windows.FetchInSquare(station_x, station_y, half_size);
    samples.sample_x = std::move(rows.x);
    samples.sample_y = std::move(rows.y);
    samples.sample_z = std::move(rows.u);
    samples.sample_count = static_cast<int32_t>(samples.sample_x.size());

    own_index = -1;
    for (int32_t j = 0; j < samples.sample_count; ++j) {
        if (samples.sample_x[j] == station_x &&
            samples.sample_y[j] == station_y) {
            own_index = j;
        }
    }
    return true;
}

template <typename Windows>
bool Estimate(Windows &windows, double station_x, double station_y,
              double cell_size, double increment, double &search_distance,
              int32_t &n_points, double &estimate_all,
              double &estimate_without) {
    // The gridder's radius and neighbour count are the values as they came in,
    // before the window grew.
    const double search_radius = search_distance;
    const int32_t max_points = n_points;
    try {
        SampleArrays samples;
        int32_t own_index = -1;
        if (!Gather(windows, station_x, station_y, increment, search_distance,
                    n_points, samples, own_index) ||
            own_index < 0) {
            return false;
        }
        KrigeAtStation(samples, own_index, max_points, search_radius, cell_size,
                       station_x, station_y, estimate_all, estimate_without);
        return true;
    } catch (...) {
        // Any failure below (database, conversion, memory, floating point)
        // skips the station; the run goes on.
        return false;
    }
}

} // namespace

bool GatherStationSamples(CppSQLite3DB &db, double station_x, double station_y,
                          double increment, double &search_distance,
                          int32_t &n_points, SampleArrays &samples,
                          int32_t &own_index) {
    TQueryWindows windows(db);
    return Gather(windows, station_x, station_y, increment, search_distance,
                  n_points, samples, own_index);
}

bool GatherStationSamples(TPointWindows &windows, double station_x,
                          double station_y, double increment,
                          double &search_distance, int32_t &n_points,
                          SampleArrays &samples, int32_t &own_index) {
    return Gather(windows, station_x, station_y, increment, search_distance,
                  n_points, samples, own_index);
}

bool EstimateStation(CppSQLite3DB &db, double station_x, double station_y,
                     double cell_size, double increment,
                     double &search_distance, int32_t &n_points,
                     double &estimate_all, double &estimate_without) {
    TQueryWindows windows(db);
    return Estimate(windows, station_x, station_y, cell_size, increment,
                    search_distance, n_points, estimate_all, estimate_without);
}

bool EstimateStation(TPointWindows &windows, double station_x, double station_y,
                     double cell_size, double increment,
                     double &search_distance, int32_t &n_points,
                     double &estimate_all, double &estimate_without) {
    return Estimate(windows, station_x, station_y, cell_size, increment,
                    search_distance, n_points, estimate_all, estimate_without);
}
