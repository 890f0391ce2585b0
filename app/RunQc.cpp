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

SuspectOptions QcSettings::SuspectRule() const {
    SuspectOptions options;
    options.threshold = suspect_threshold;
    options.local_neighbours = local_neighbours;
    options.local_share = local_share;
    return options;
}

namespace {

int64_t CountSuspects(const TQcStations &stations) {
    int64_t count = 0;
    for (size_t k = 0; k < stations.Size(); ++k) {
        count += stations[k].suspect ? 1 : 0;
    }
    return count;
}

// Judges the stations again on values with the shifted surveys' offsets
// taken off, then gives the records back their values and estimates. A
// station whose estimate used only stations of its own offset keeps its
// residual (its value and estimate lose the same offset); the others are
// estimated again from the index's values shifted alike.
void JudgeLevelled(QcFindings &findings, TReestimator &reestimator,
                   const SuspectOptions &options, const ValueShifter &shift) {
    TQcStations &stations = findings.stations;
    const SurveyGrouping &grouping = findings.grouping;
    const SurveyOffsets &offsets = findings.offsets;
    const std::vector<uint32_t> again =
        StationsToEstimateAgain(stations, grouping, offsets);
    const auto shift_index = [&](double sign) {
        for (size_t k = 0; k < stations.Size(); ++k) {
            const double offset = StationOffset(offsets, grouping, k);
            // A duplicate's position holds the value of the station before it.
            if (offset != 0.0 && stations[k].status != QcStatus::Duplicate) {
                shift(stations[k].x, stations[k].y, sign * -offset);
            }
        }
    };
    const int64_t before = CountSuspects(stations);
    shift_index(1.0);
    // The records of the stations that change, kept to be given back
    // exactly.
    struct Kept {
        uint32_t station;
        double value, estimate_without;
    };
    std::vector<Kept> kept;
    std::vector<char> estimate_again(stations.Size(), 0);
    for (const uint32_t k : again) {
        estimate_again[k] = 1;
    }
    for (size_t k = 0; k < stations.Size(); ++k) {
        const double offset = StationOffset(offsets, grouping, k);
        QcStation &s = stations[k];
        if (offset != 0.0 || estimate_again[k]) {
            kept.push_back({static_cast<uint32_t>(k), s.value, s.estimate_without});
        }
        s.value -= offset;
        if (estimate_again[k] && s.Judged()) {
            s.estimate_without = reestimator.EstimateLeavingOut(k, {});
        } else {
            s.estimate_without -= offset;
        }
        s.suspect = false;
    }
    estimate_again = {};
    findings.suspects = FindSuspects(stations, reestimator, options);
    shift_index(-1.0);
    for (const Kept &k : kept) {
        stations[k.station].value = k.value;
        stations[k.station].estimate_without = k.estimate_without;
    }
    findings.suspects_levelled = before - CountSuspects(stations);
    findings.estimated_again = static_cast<int64_t>(again.size());
}

} // namespace

void CheckStations(QcFindings &findings, TPointWindows &windows,
                   const RunParameters &parameters, const QcSettings &settings,
                   const ValueShifter &shift) {
    findings.duplicates =
        FindDuplicates(findings.stations, settings.duplicate_distance);
    TRunReestimator reestimator(windows, findings.stations, parameters);
    findings.suspects =
        FindSuspects(findings.stations, reestimator, settings.SuspectRule());
    findings.checked = true;
    if (!findings.HasSurveys() && settings.survey_namer) {
        findings.grouping =
            GroupByName(findings.stations, *settings.survey_namer);
    }
    if (!findings.HasSurveys()) {
        return;
    }
    // The suspects found so far weigh little in the local models.
    findings.offsets =
        EstimateSurveyOffsets(findings.stations, findings.grouping,
                              parameters.search_distance, settings.surveys);
    bool shifted = false;
    for (const SurveyOffset &survey : findings.offsets.surveys) {
        shifted = shifted || survey.shifted;
    }
    if (shifted && shift) {
        JudgeLevelled(findings, reestimator, settings.SuspectRule(), shift);
    }
}
