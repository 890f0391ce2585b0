// Window growth, sample gathering and the two kriging runs of one station.
#include "estimate/StationEstimate.h"

#include <memory>

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

// One kriging run over the first `count` samples, read at the station: the
// value the whole grid would give there, from the only nodes the lookup reads.
// Leaves `estimate` untouched when the gridder refuses the run.
void KrigeAtStation(const SampleArrays &samples, int32_t count,
                    int32_t max_points, double search_radius, double cell_size,
                    double station_x, double station_y, double &estimate) {
    auto gridder = std::make_unique<TKrigging>();
    if (gridder->PrepareGrid(samples.sample_x.data(), samples.sample_y.data(),
                             samples.sample_z.data(), count, no_log,
                             nearest_search, max_points, search_radius,
                             ordinary_kriging, fit_model, fit_model, fit_model,
                             cell_size, cell_size, no_angle, isotropic)) {
        estimate = gridder->ValueAtStation(station_x, station_y);
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

// Window growth and gathering over either store: the query texts or a pass's
// window index, which answer alike.
template <typename Windows>
bool Gather(Windows &windows, double station_x, double station_y,
            double increment, double &search_distance, int32_t &n_points,
            SampleArrays &samples, int32_t &own_index) {
    double half_size = search_distance;
    const int32_t wanted = n_points;
    int32_t counted = 0;
    int32_t all_stations = -1; // asked for only when the window falls short

    while (counted < wanted) {
        counted = windows.CountInSquare(station_x, station_y, half_size);
        if (counted >= wanted) {
            break;
        }
        // The window can never reach N stations: it would grow for ever.
        if (all_stations < 0) {
            all_stations = windows.CountAllStations();
        }
        const double grown = half_size + increment;
        if (!(increment > 0.0) || grown == half_size ||
            counted >= all_stations) {
            search_distance = half_size;
            n_points = counted;
            return false;
        }
        half_size = grown;
    }
    search_distance = half_size;
    n_points = counted;

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
        const int32_t n = samples.sample_count;
        KrigeAtStation(samples, n, max_points, search_radius, cell_size,
                       station_x, station_y, estimate_all);

        // Leave the station out; the others keep their fetch order.
        for (int32_t j = own_index; j < n - 1; ++j) {
            samples.sample_x[j] = samples.sample_x[j + 1];
            samples.sample_y[j] = samples.sample_y[j + 1];
            samples.sample_z[j] = samples.sample_z[j + 1];
        }
        KrigeAtStation(samples, n - 1, max_points, search_radius, cell_size,
                       station_x, station_y, estimate_without);
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
