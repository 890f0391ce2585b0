// Which stations are bad: the rule that marks suspects among the leave-one-out
// residuals, and separates a bad station from the good neighbours whose
// residuals its error inflates, and from rough ground where every estimate is
// harder.
//
// A station stands out when |r2 - m| / s passes the threshold, m being the
// median of r2 over the stations judged and s its robust scale (1.4826 times
// the median absolute deviation). The stations that stand out are tested one
// by one, the most extreme first: the stations whose leave-one-out estimates
// used it are estimated again without it (and without the suspects found so
// far); it is a suspect when it still stands out against the larger of s and
// the robust scale of its nearest neighbours so judged. A suspect's
// neighbours are judged without it from then on (r2_clean), so the ring of
// good stations around a blunder falls back below the threshold. A station
// that does not pass stands on rough ground: its neighbours, judged without
// it, spread as widely; the stations beside it that stood out less are taken
// for the same ground. At the end a suspect whose own r2_clean, with the
// suspects found after it left out too, no longer stands out is let go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qc/QcStation.h"

// What the rule asks of the run: a station's leave-one-out estimate again,
// leaving out some other stations too.
class TReestimator {
  public:
    virtual ~TReestimator() = default;
    // The estimate at station `k` without itself and without the stations
    // `also_out` (indices into the run's stations); NaN when none was made.
    virtual double EstimateLeavingOut(size_t k,
                                      const std::vector<size_t> &also_out) = 0;
};

struct SuspectOptions {
    // Robust scales beyond which a station is suspect.
    double threshold = 4.0;
    // Nearest stations whose residuals give the local scale of a station
    // tested, and the share of that scale it is judged by. 0 neighbours: the
    // survey's scale alone.
    int32_t local_neighbours = 24;
    double local_share = 0.5;
    // Tests at most, per station judged: a bound real surveys never reach.
    int32_t max_tests_per_station = 4;
};

struct SuspectFindings {
    double median = qc_none;     // of r2 over the stations judged, mGal
    double scale = qc_none;      // robust scale of r2, mGal
    int64_t judged = 0;          // stations with a leave-one-out residual
    int64_t estimated_again = 0; // leave-one-out estimates made again
    int64_t tests = 0;           // stations tested
    // The suspects, the most extreme first (by |r2_clean - median|), and
    // the scale each was judged by: the larger of the survey's and its
    // neighbours' (mGal).
    std::vector<size_t> suspects;
    std::vector<double> suspect_scales;
    // The stations that stood out but were let go as rough ground, with the
    // local scale that let them go (mGal): their neighbours' when tested,
    // else that of the station beside them that stood out more.
    struct LetGo {
        size_t station;
        double local_scale;
    };
    std::vector<LetGo> rough_ground;
};

// The robust centre and scale of `values`: the median and 1.4826 times the
// median absolute deviation from it. Both NaN for no values; a scale of 0
// when more than half the values are equal.
void RobustScale(std::vector<double> values, double &median, double &scale);

// Marks the suspects of `stations` (QcStation::suspect) and sets every judged
// station's r2_clean; the stations' other fields are read only.
SuspectFindings FindSuspects(TQcStations &stations, TReestimator &reestimator,
                             const SuspectOptions &options);
