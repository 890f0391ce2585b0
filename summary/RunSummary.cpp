#include "summary/RunSummary.h"

#include <nlohmann/json.hpp>

#include "qc/Diagnosis.h"

using nlohmann::ordered_json;

namespace {

// A number, or null where it is not known.
ordered_json Number(double value) {
    return value == value ? ordered_json(value) : ordered_json(nullptr);
}

// A path, or null where nothing was written.
ordered_json Path(const std::string &path) {
    return path.empty() ? ordered_json(nullptr) : ordered_json(path);
}

const char *Ending(CalcResult result) {
    switch (result) {
    case CalcResult::Completed:
        return "completed";
    case CalcResult::Stopped:
        return "stopped";
    case CalcResult::Refused:
        return "refused";
    case CalcResult::OpenFailed:
    case CalcResult::Failed:
        break;
    }
    return "failed";
}

ordered_json Parameters(const RunSettings &settings,
                        const SummaryContext &context) {
    const RunParameters &p = settings.parameters;
    const QcSettings &qc = settings.qc;
    ordered_json parameters;
    parameters["search_distance"] = p.search_distance;
    parameters["increment"] = p.increment;
    parameters["min_points"] = p.min_points;
    parameters["cell_size"] = p.cell_size;
    parameters["jobs"] = settings.jobs;
    parameters["quality_control"] = qc.enabled;
    parameters["suspect_threshold"] = qc.suspect_threshold;
    parameters["duplicate_distance"] = qc.duplicate_distance;
    parameters["density"] = qc.density;
    parameters["dem"] = Path(context.dem);
    parameters["dem_tolerance"] =
        context.dem.empty() ? ordered_json(nullptr) : Number(qc.dem_tolerance);
    return parameters;
}

ordered_json Counts(const RunOutcome &outcome) {
    const RunFigures &f = outcome.figures;
    ordered_json counts;
    counts["stations"] = f.Stations();
    counts["read"] = f.read;
    counts["not_reached"] = f.not_reached;
    counts["written"] = f.written;
    counts["estimated"] = f.estimated;
    counts["blank"] = f.blank;
    counts["skipped"] = f.skipped;
    counts["duplicates"] = f.duplicates;
    counts["with_r2"] = f.with_r2;
    counts["suspects"] = f.suspects;
    counts["lines_not_read"] = outcome.report.UnreadCount();
    return counts;
}

ordered_json R2(const RunFigures &f) {
    ordered_json r2;
    r2["median"] = Number(f.median);
    r2["robust_scale"] = Number(f.scale);
    r2["mean"] = Number(f.MeanR2());
    r2["rms"] = Number(f.RmsR2());
    r2["largest_abs"] = Number(f.largest_abs_r2);
    r2["largest_station"] = f.with_r2 > 0 ? ordered_json(f.largest_station)
                                          : ordered_json(nullptr);
    return r2;
}

// A station with its cause: where it is, what it holds, what was found.
ordered_json StationJson(const QcFindings &qc, size_t k) {
    const QcStation &station = qc.stations[k];
    const Diagnosis &diagnosis = qc.diagnosis;
    ordered_json json;
    json["point"] = std::string(qc.stations.Name(k));
    json["x"] = station.x;
    json["y"] = station.y;
    json["h"] = station.h;
    json["value"] = station.value;
    json["estimate_without"] = Number(station.estimate_without);
    json["r2"] = Number(station.R2());
    json["r2_clean"] = Number(station.r2_clean);
    json["z"] = Number(station.Z());
    json["z_cal"] = Number(station.Z() / diagnosis.z_calibration);
    json["h_estimate"] = Number(station.h_estimate);
    const double dem = qc.dem.empty() ? qc_none : qc.dem[k];
    json["h_dem"] = Number(dem);
    json["dh"] = Number(station.h - dem);
    const StationDiagnosis *found = diagnosis.Of(k);
    json["cause"] = found != nullptr && found->cause != Cause::None
                        ? ordered_json(CauseName(found->cause))
                        : ordered_json(nullptr);
    json["fitting"] = found != nullptr && !found->fitting.empty()
                          ? ordered_json(found->fitting)
                          : ordered_json(nullptr);
    json["fix_value"] = Number(found != nullptr ? found->fix_value : qc_none);
    json["fix_h"] = Number(found != nullptr ? found->fix_h : qc_none);
    json["r2_fixed"] = Number(found != nullptr ? found->r2_fixed : qc_none);
    json["scale"] = Number(found != nullptr ? found->scale : qc_none);
    return json;
}

ordered_json Duplicates(const QcFindings &qc) {
    ordered_json positions = ordered_json::array();
    for (const DuplicatePosition &position : qc.duplicates.positions) {
        const QcStation &first = qc.stations[position.stations.front()];
        ordered_json entry;
        entry["x"] = first.x;
        entry["y"] = first.y;
        ordered_json stations = ordered_json::array();
        for (const size_t s : position.stations) {
            stations.push_back({{"point", std::string(qc.stations.Name(s))},
                                {"value", qc.stations[s].value}});
        }
        entry["stations"] = std::move(stations);
        entry["difference"] =
            qc.stations[position.stations.back()].value - first.value;
        positions.push_back(std::move(entry));
    }
    ordered_json pairs = ordered_json::array();
    for (const ClosePair &pair : qc.duplicates.close_pairs) {
        pairs.push_back(
            {{"first", std::string(qc.stations.Name(pair.first))},
             {"second", std::string(qc.stations.Name(pair.second))},
             {"distance", pair.distance},
             {"difference",
              qc.stations[pair.second].value - qc.stations[pair.first].value}});
    }
    return {{"positions", std::move(positions)},
            {"close_pairs", std::move(pairs)}};
}

ordered_json Density(const DensityCheck &check) {
    ordered_json json;
    json["done"] = check.done;
    json["skipped_because"] = check.done ? ordered_json(nullptr)
                                         : ordered_json(check.skipped_because);
    json["stations"] = check.stations;
    json["slope"] = Number(check.slope);
    json["slope_error"] = Number(check.slope_error);
    json["density"] = Number(check.density);
    json["density_error"] = Number(check.density_error);
    json["used"] = Number(check.used);
    json["differs"] = check.differs;
    return json;
}

// The surveys and their offsets; null when the stations were not grouped.
ordered_json Surveys(const QcFindings &qc) {
    if (!qc.HasSurveys()) {
        return nullptr;
    }
    const SurveyOffsets &offsets = qc.offsets;
    const char *refusals[] = {"none", "one survey", "grouping looks wrong",
                              "unknown reference"};
    ordered_json json;
    json["estimated"] = offsets.refusal == SurveyRefusal::None;
    json["refused_because"] =
        offsets.refusal == SurveyRefusal::None
            ? ordered_json(nullptr)
            : ordered_json(refusals[static_cast<int>(offsets.refusal)]);
    json["steps"] = offsets.steps;
    json["suspects_removed_by_levelling"] = qc.suspects_levelled;
    json["estimated_again"] = qc.estimated_again;
    ordered_json list = ordered_json::array();
    for (size_t s = 0; s < qc.grouping.names.size(); ++s) {
        ordered_json survey;
        survey["name"] = qc.grouping.names[s];
        if (s < offsets.surveys.size()) {
            const SurveyOffset &o = offsets.surveys[s];
            survey["stations"] = o.stations;
            survey["in_contact"] = o.in_contact;
            survey["linked"] = o.linked;
            survey["offset"] = Number(o.offset);
            survey["standard_error"] = Number(o.standard_error);
            survey["shifted"] = o.shifted;
            survey["datum"] = o.datum;
        }
        list.push_back(std::move(survey));
    }
    json["list"] = std::move(list);
    return json;
}

} // namespace

std::string RunSummaryJson(const RunOutcome &outcome,
                           const RunSettings &settings,
                           const SummaryContext &context) {
    const QcFindings &qc = outcome.qc;
    const RunFigures &figures = outcome.figures;
    ordered_json summary;
    summary["tool"] = {{"name", context.program},
                       {"version", context.version}};
    summary["station_file"] =
        context.station_file == "-" ? ordered_json("standard input")
                                    : ordered_json(context.station_file);
    summary["parameters"] = Parameters(settings, context);
    ordered_json run;
    run["ended"] = Ending(outcome.result);
    run["stopped_after"] = outcome.result == CalcResult::Stopped
                               ? ordered_json(figures.read)
                               : ordered_json(nullptr);
    run["of"] = figures.Stations();
    run["mostly_blank"] = outcome.mostly_blank;
    summary["run"] = std::move(run);
    summary["counts"] = Counts(outcome);
    summary["r2"] = R2(figures);
    summary["z_calibration"] = Number(qc.diagnosis.z_calibration);

    ordered_json causes;
    for (const Cause cause : all_causes) {
        causes[CauseName(cause)] = qc.diagnosis.Count(cause);
    }
    summary["causes"] = std::move(causes);
    // The suspects in the order of the rule (worst first), then the other
    // stations given a cause (let go as rough ground, height-only).
    ordered_json suspects = ordered_json::array();
    for (const size_t k : qc.suspects.suspects) {
        suspects.push_back(StationJson(qc, k));
    }
    summary["suspects"] = std::move(suspects);
    ordered_json others = ordered_json::array();
    for (const StationDiagnosis &found : qc.diagnosis.stations) {
        if (!qc.stations[found.station].suspect) {
            others.push_back(StationJson(qc, found.station));
        }
    }
    summary["other_stations_with_a_cause"] = std::move(others);
    summary["duplicates"] = Duplicates(qc);
    summary["density_check"] = Density(qc.diagnosis.density);
    summary["vertical_datum"] =
        context.dem.empty()
            ? ordered_json(nullptr)
            : ordered_json("station heights and the DEM are taken to be on "
                           "the same vertical datum");
    summary["files"] = {{"result", Path(context.result)},
                        {"table", Path(context.table)},
                        {"gpkg", Path(context.gpkg)},
                        {"plot", Path(context.plot)},
                        {"summary", Path(context.summary)},
                        {"clean", Path(context.clean)},
                        {"report", Path(context.report)}};
    summary["notes"] = outcome.notes;
    if (context.review) {
        const SummaryReview &review = *context.review;
        summary["review"] = {{"file", Path(review.file)},
                             {"decisions", review.decisions},
                             {"kept", review.kept},
                             {"rejected", review.rejected},
                             {"fixed", review.fixed},
                             {"levelled", review.levelled},
                             {"stale", review.stale}};
    } else {
        summary["review"] = nullptr;
    }
    summary["surveys"] = Surveys(qc);
    // Names and notes come from the user's files: invalid UTF-8 is replaced,
    // never thrown about.
    return summary.dump(2, ' ', false, ordered_json::error_handler_t::replace) +
           "\n";
}
