// Leave-one-out estimation at one station: grow a square window around the
// station until it holds enough stations, gather them as samples, and krige
// them twice onto a grid read back at the station (with and without the
// station).
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "estimate/RunParameters.h"
#include "kriging/Krigging.h"

class CppSQLite3DB;
class TPointWindows;

// Why a station got no result line.
enum class StationSkip : uint8_t {
    None,        // estimated (each kriging run may still have been refused)
    WindowShort, // no window of the growth could hold N stations
    OwnSampleMissing, // the station's own position was not in the point table
    Error, // an error ended the estimation; see StationEstimate.error
};

// What the estimation of a station needs: the run's parameters, and whether
// to say how sure the leave-one-out estimate is.
struct StationSettings : RunParameters {
    bool with_sigma = false;
};

// All that the estimation of one station found. An estimate whose kriging run
// was refused, or did not take place, holds blank_value, as a blank node
// gives.
struct StationEstimate {
    bool written = false;                  // write the station's line
    double estimate_all = blank_value;     // from all stations of the window
    double estimate_without = blank_value; // from all but the station
    // Final half-size of the window (metres) and the stations counted in it;
    // the starting half-size and N when the estimation failed before the
    // window was counted.
    double search_distance = 0.0;
    int32_t n_points = 0;
    StationSkip skip = StationSkip::None;
    GridRefusal refused_all = GridRefusal::None;     // the first kriging run
    GridRefusal refused_without = GridRefusal::None; // the second
    std::string error; // what ended the estimation, when skip is Error
    // With with_sigma: how sure the leave-one-out estimate is, the square root
    // of its error variance under the model its run fitted (mGal), and the
    // distance from the station to the farthest sample it used (metres);
    // NaN when there is none.
    double sigma = std::numeric_limits<double>::quiet_NaN();
    double reach = std::numeric_limits<double>::quiet_NaN();
    // With with_sigma and the window's heights: the station's height
    // estimated from its neighbours' heights with the weights of its
    // leave-one-out estimate (metres); NaN when there is none.
    double h_estimate = std::numeric_limits<double>::quiet_NaN();
};

// The stations of one search window as parallel arrays, in the order the point
// table returned them (ascending x, then y). Entry j of the three arrays is one
// station: x and y in metres, z its anomaly in mGal.
struct SampleArrays {
    std::vector<double> sample_x;
    std::vector<double> sample_y;
    std::vector<double> sample_z;
    int32_t sample_count = 0;
    // The stations' heights, metres (NaN for none), when the store knows
    // them; else empty.
    std::vector<double> sample_h;
};

// Grows the square window centred on (station_x, station_y), asking the point
// table of `db` through its query texts (store/PointTable.h), from the
// half-size `search_distance` by `increment` until it holds at least `n_points`
// stations, then fetches the window's stations into `samples` and finds the
// station's own sample (exact equality of both coordinates with the station's
// position as the table holds it; the last match wins).
//
// In: search_distance = starting half-size (m), n_points = minimum count N.
// Out: search_distance = final half-size, n_points = stations counted in it
// (with N of 0 or less, the count of the starting window), own_index = index
// of the own sample in `samples`, or -1 when absent.
//
// Returns false, without fetching, when the window can never reach N stations:
// the table holds fewer than N, or the increment is not positive, or adding it
// no longer changes the half-size, or more than a hundred million steps would
// be needed; search_distance and n_points then hold the last window counted.
// Errors of the point store (CppSQLite3Exception, ConversionError) pass to the
// caller and leave search_distance and n_points as they came in.
bool GatherStationSamples(CppSQLite3DB &db, double station_x, double station_y,
                          double increment, double &search_distance,
                          int32_t &n_points, SampleArrays &samples,
                          int32_t &own_index);
// The same through a pass's window index (store/PointTable.h), for many
// stations of one table.
bool GatherStationSamples(TPointWindows &windows, double station_x,
                          double station_y, double increment,
                          double &search_distance, int32_t &n_points,
                          SampleArrays &samples, int32_t &own_index);

// Estimates the anomaly at a station twice, from a grid kriged from all
// stations of its final window (estimate_all) and from one kriged without the
// station itself (estimate_without), both read at the station. The window
// grows as GatherStationSamples says, from settings.search_distance by
// settings.increment until it holds settings.min_points stations; the gridder
// searches within settings.search_distance for at most settings.min_points
// neighbours, on cells of settings.cell_size. The station is taken at its
// position as the point table holds it (coordinates of more than 15
// significant digits come back rounded to 15), so that its own sample is
// found and the grids are read where the samples lie.
//
// This is the one place that catches every error raised below it (point
// store, number conversion, memory, floating-point faults): any of them skips
// the station, and the estimate says why. Never throws.
StationEstimate EstimateStation(TPointWindows &windows, PlanePoint station,
                                const StationSettings &settings);

// The same with in/out arguments, through the point table's query texts,
// which answer as a pass's window index does: search_distance and n_points
// come in as the starting half-size and N and leave as the estimate's; an
// estimate whose kriging run was refused keeps the value it came in with.
// Returns whether the station's line is written.
bool EstimateStation(CppSQLite3DB &db, double station_x, double station_y,
                     double cell_size, double increment,
                     double &search_distance, int32_t &n_points,
                     double &estimate_all, double &estimate_without);

// The leave-one-out estimate of a station again, this time leaving out the
// stations at `also_out` (their positions as parsed) besides the station
// itself: the same window and kriging as EstimateStation with `settings`
// (with_sigma aside), fewer samples. blank_value when the kriging run was
// refused; none when the station could not be estimated. Never throws.
std::optional<double>
EstimateLeavingOut(TPointWindows &windows, PlanePoint station,
                   const StationSettings &settings,
                   const std::vector<PlanePoint> &also_out);
