// The run's side of quality control.
#include "app/RunQc.h"

#include <optional>

#include "app/CalcRun.h"
#include "app/StationInput.h"
#include "estimate/StationEstimate.h"
#include "store/PointTable.h"

namespace {

// Estimates a station again through the run's window index.
class TRunReestimator : public TReestimator {
  public:
    TRunReestimator(TPointWindows &windows_, const TQcStations &stations_,
                    const RunParameters &parameters)
        : windows(windows_), stations(stations_) {
        static_cast<RunParameters &>(settings) = parameters;
    }

    double EstimateLeavingOut(size_t k,
                              const std::vector<size_t> &also_out) override {
        std::vector<PlanePoint> out;
        out.reserve(also_out.size());
        for (const size_t other : also_out) {
            out.push_back({stations[other].x, stations[other].y});
        }
        const std::optional<double> estimate = ::EstimateLeavingOut(
            windows, {stations[k].x, stations[k].y}, settings, out);
        if (!estimate || !(*estimate < blank_limit)) {
            return qc_none;
        }
        return *estimate;
    }

  private:
    TPointWindows &windows;
    const TQcStations &stations;
    StationSettings settings;
};

} // namespace

QcStation QcRecord(const StationOutcome &outcome) {
    QcStation s;
    s.x = outcome.station.x;
    s.y = outcome.station.y;
    s.h = outcome.has_height ? outcome.station.h : qc_none;
    s.value = outcome.station.value;
    const StationEstimate &e = outcome.estimate;
    if (e.skip != StationSkip::Error) {
        s.half_size = e.search_distance;
        s.n = e.n_points;
    }
    if (!outcome.written) {
        s.status = QcStatus::Skipped;
        return s;
    }
    s.status = outcome.blank_all || outcome.blank_without ? QcStatus::Blank
                                                          : QcStatus::Ok;
    if (!outcome.blank_all) {
        s.estimate_all = e.estimate_all;
    }
    if (!outcome.blank_without) {
        s.estimate_without = e.estimate_without;
        s.sigma = e.sigma;
        s.reach = static_cast<float>(e.reach);
        s.h_estimate = e.h_estimate;
    }
    return s;
}

void DiagnoseStations(QcFindings &findings,
                      const std::vector<std::string> &value_texts,
                      const QcSettings &settings, char decimal_separator) {
    DiagnosisOptions options;
    options.threshold = settings.suspect_threshold;
    options.density = settings.density;
    options.dem_tolerance = settings.dem_tolerance;
    options.have_dem = !findings.dem.empty();
    options.decimal_separator = decimal_separator;
    findings.diagnosis =
        Diagnose(findings.stations, findings.suspects, findings.duplicates,
                 value_texts, findings.dem, options);
}

QcStation NotReachedRecord(const InputRecord &record) {
    QcStation s;
    s.x = record.station.x;
    s.y = record.station.y;
    s.h = record.has_height ? record.station.h : qc_none;
    s.value = record.station.value;
    s.status = QcStatus::NotReached;
    return s;
}

void CheckStations(QcFindings &findings, TPointWindows &windows,
                   const RunParameters &parameters,
                   const QcSettings &settings) {
    findings.duplicates =
        FindDuplicates(findings.stations, settings.duplicate_distance);
    TRunReestimator reestimator(windows, findings.stations, parameters);
    SuspectOptions options;
    options.threshold = settings.suspect_threshold;
    options.local_neighbours = settings.local_neighbours;
    options.local_share = settings.local_share;
    findings.suspects = FindSuspects(findings.stations, reestimator, options);
    findings.checked = true;
}
