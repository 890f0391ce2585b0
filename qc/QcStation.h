// The stations of a run as quality control sees them: one compact record per
// station that parsed, in the station file's order, with the names kept apart
// in one pool so that a million stations stay small.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// What a station's line in the result file is.
enum class QcStatus : uint8_t {
    Ok,        // both estimates were made
    Blank,     // at least one of the two estimates could not be made
    Skipped,   // the station has no line in the result file
    Duplicate, // its position was already taken by an earlier station
    NotReached, // a stopped run ended before the station
};

inline constexpr double qc_none = std::numeric_limits<double>::quiet_NaN();

// One station. Coordinates in metres as parsed, values and estimates in mGal;
// NaN stands for a number that does not exist.
struct QcStation {
    double x = 0.0;
    double y = 0.0;
    double h = 0.0;
    double value = 0.0;
    double estimate_all = qc_none;     // from all stations of the window
    double estimate_without = qc_none; // with the station left out
    double sigma = qc_none; // square root of estimate_without's error variance
    double r2_clean = qc_none;  // r2 leaving out the suspects it used, too
    double half_size = qc_none; // final half-size of the search window, metres
    float reach =
        std::numeric_limits<float>::quiet_NaN(); // metres from the
                                                 // station to the farthest
                                                 // sample its leave-one-out
                                                 // estimate used
    int32_t n = -1; // stations counted in the final window; -1 unknown
    // The station's height estimated from its neighbours' heights with the
    // weights of its leave-one-out estimate, metres; NaN when there is none.
    double h_estimate = qc_none;
    QcStatus status = QcStatus::Skipped;
    bool suspect = false;

    // estimate - value, exactly as the result file's columns compute them;
    // NaN when the estimate does not exist.
    double R1() const { return estimate_all - value; }
    double R2() const { return estimate_without - value; }
    // r2 / sigma; NaN when sigma is 0 or does not exist.
    double Z() const;
    // The station has a leave-one-out residual that quality control judges.
    bool Judged() const {
        return (status == QcStatus::Ok || status == QcStatus::Blank) &&
               estimate_without == estimate_without;
    }
};

// The stations of a run and their names (UTF-8), in file order.
class TQcStations {
  public:
    void Add(const QcStation &station, std::string_view name);
    // Room for `count` stations, so that adding them does not move them.
    void Reserve(size_t count);
    size_t Size() const { return stations.size(); }
    QcStation &operator[](size_t k) { return stations[k]; }
    const QcStation &operator[](size_t k) const { return stations[k]; }
    std::string_view Name(size_t k) const;
    void Clear();

  private:
    std::vector<QcStation> stations;
    std::string names;              // every name, one after the other
    std::vector<uint64_t> name_end; // end of name k in `names`
};
