// The Calc run: two passes over the station file, the point table in between.
#include "app/CalcRun.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <locale>
#include <new>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "app/ResultFile.h"
#include "app/StationFile.h"
#include "app/StationWorkers.h"
#include "estimate/StationEstimate.h"
#include "platform/Locale.h"
#include "platform/OutputSet.h"
#include "qc/CompanionTable.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

namespace {

// Stations per step of the progress bar.
constexpr int32_t progress_step = 10;
// Lines of the first pass between two looks at pending events.
constexpr int64_t load_events_every = 4096;
// How often pending events are handled while the window index is built.
constexpr auto build_events_every = std::chrono::milliseconds(50);

// A station file that changed between the passes.
class ChangedInputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// True when `path` names something other than a regular file that exists: a
// device or a pipe, beside which nothing is written.
bool IsDevice(const std::string &path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) &&
           !std::filesystem::is_regular_file(status);
}

// How the run's own outputs and its input are named in messages, when the
// caller gave no set of outputs.
constexpr const char *default_input_option = "the station file";
constexpr const char *default_result_option = "the result file";
constexpr const char *default_table_option = "the companion table";
// Result lines looked at to tell whose stations a result file holds, and how
// far (metres) a position written with three decimals lies from the station's.
constexpr int foreign_lines_checked = 20;
constexpr double written_position_tolerance = 0.001;

// The question asked before `path` is replaced when it holds no result of
// these stations: its first line is not the result header, or most of its
// first station lines name positions the point table of `db` does not hold.
// Empty when it may be replaced without asking: it does not exist, is empty,
// is not a regular file, or holds these stations.
std::string ForeignResultQuestion(CppSQLite3DB &db, const std::string &path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) == 0 || error) {
        return {};
    }
    std::ifstream file(path, std::ios::binary);
    std::string line;
    const auto read_line = [&] {
        if (!std::getline(file, line)) {
            return false;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return true;
    };
    if (!read_line() || line != result_header) {
        return path + " is not a result file of Korvanel. Replace it with the "
                      "result of this run?";
    }
    int checked = 0, matched = 0;
    while (checked < foreign_lines_checked && read_line()) {
        std::istringstream fields(line);
        fields.imbue(std::locale::classic());
        double x = 0.0, y = 0.0;
        if (!(fields >> x >> y)) {
            continue;
        }
        ++checked;
        if (CountInSquare(db, x, y, written_position_tolerance) > 0) {
            ++matched;
        }
    }
    if (checked == 0 || 2 * matched >= checked) {
        return {};
    }
    return "The result file " + path +
           " holds the results of another station file: its first stations "
           "are not among those of this run. Replace it?";
}

// The note for a run that left most stations without a leave-one-out
// estimate, with the parameters the spacing suggests.
std::string MostlyBlankText(int64_t met, int64_t with_estimate,
                            const SuggestedParameters &suggested) {
    std::string text = "Only " + std::to_string(with_estimate) + " of " +
                       std::to_string(met) +
                       " stations got a leave-one-out estimate.";
    if (suggested.search_distance > 0.0) {
        text += " Parameters that suit the stations' spacing: " +
                suggested.Words() + " (" + suggested.CommandLine() +
                "), because " + suggested.reasoning + ".";
    }
    return text;
}

// Each suspect's value as the source wrote it (the fifth field of its
// line), in the order of the suspects: a third reading of the source, of
// their lines only. Empty texts for a source without lines (a table).
std::vector<std::string> SuspectValueTexts(TStationInput &source,
                                           const QcFindings &findings,
                                           char separator) {
    const std::vector<size_t> &suspects = findings.suspects.suspects;
    std::vector<std::string> texts(suspects.size());
    if (suspects.empty()) {
        return texts;
    }
    std::vector<std::pair<size_t, size_t>> wanted; // station, place in texts
    for (size_t i = 0; i < suspects.size(); ++i) {
        wanted.emplace_back(suspects[i], i);
    }
    std::sort(wanted.begin(), wanted.end());
    source.Rewind();
    InputRecord record;
    size_t station = 0, next = 0;
    while (next < wanted.size() && source.Next(record)) {
        if (!record.is_station) {
            continue;
        }
        while (next < wanted.size() && wanted[next].first == station) {
            texts[wanted[next].second] =
                StationValueText(NormaliseLine(record.text, separator));
            ++next;
        }
        ++station;
    }
    return texts;
}

// Folds a station's position into the fingerprint of a pass's positions, so
// that the second pass can tell it met the stations of the first.
uint64_t FoldPosition(uint64_t fingerprint, double x, double y) {
    const auto mix = [](uint64_t h, uint64_t v) {
        h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h *= 0xbf58476d1ce4e5b9ull;
        return h ^ (h >> 31);
    };
    return mix(mix(fingerprint, std::bit_cast<uint64_t>(x)),
               std::bit_cast<uint64_t>(y));
}

// Runs `build` on a thread of its own while this thread handles pending
// events, so that the window stays responsive (and Stop can be pressed)
// during a long step. Returns what `build` returned; rethrows its error.
template <typename Build>
auto WhileResponsive(TCalcHost &host, Build build) -> decltype(build()) {
    auto future = std::async(std::launch::async, std::move(build));
    while (future.wait_for(build_events_every) != std::future_status::ready) {
        host.ProcessPendingEvents();
    }
    return future.get();
}

// What the user reads when no line of the station file held a station.
std::string NothingReadText(const std::string &path, char separator,
                            const TRunReport &report) {
    if (report.UnreadCount() == 0) {
        return path + " holds no station: it has no line that is not blank.";
    }
    std::string text = "No line of " + path +
                       " was read as a station (x y point h value, with '" +
                       std::string(1, separator) +
                       "' as the decimal separator). First lines not read:";
    for (const std::string &line : report.DescribeUnread()) {
        text += "\n" + line;
    }
    return text;
}

// Counts what a station met into the report.
void TallyStation(TRunReport &report, const StationOutcome &outcome) {
    const StationEstimate &e = outcome.estimate;
    const auto add = [&](StationIssue issue, std::string_view detail = {}) {
        report.Add(issue, detail, outcome.name, outcome.line);
    };
    switch (e.skip) {
    case StationSkip::WindowShort:
        add(StationIssue::WindowShort);
        return;
    case StationSkip::OwnSampleMissing:
        add(StationIssue::OwnSampleMissing);
        return;
    case StationSkip::Error:
        add(StationIssue::EstimationError, e.error);
        return;
    case StationSkip::None:
        break;
    }
    // A refusal with a message is counted once for the station, whichever of
    // its runs met it.
    const char *all_message = GridRefusalMessage(e.refused_all);
    const char *without_message = GridRefusalMessage(e.refused_without);
    if (all_message != nullptr) {
        add(StationIssue::GridRefused, all_message);
    }
    if (without_message != nullptr &&
        (all_message == nullptr ||
         std::string_view(all_message) != without_message)) {
        add(StationIssue::GridRefused, without_message);
    }
    if (!outcome.blank_without || without_message != nullptr) {
        return;
    }
    switch (e.refused_without) {
    case GridRefusal::NoSamples:
        add(StationIssue::NoSampleLeft);
        break;
    case GridRefusal::NoRows:
        add(StationIssue::OneRow);
        break;
    default:
        add(StationIssue::BlankEstimate);
        break;
    }
}

} // namespace

double Residual(double estimate, double observed) {
    // A NaN compares false, so it counts as blank too.
    if (estimate < blank_limit) {
        return estimate - observed;
    }
    return 0.0;
}

// One run: what it was given, its own database, and what it found so far.
struct TCalcRun::Pass {
    Pass(TCalcHost &host_, const RunSettings &settings_, const RunInput &input_,
         RunOutputs outputs_)
        : host(host_), settings(settings_), input(input_),
          outputs(std::move(outputs_)) {}

    // The two passes; throws what ends the run.
    CalcResult Passes();
    // A station of the source that a stopped run did not reach: listed for
    // quality control with the status NotReached, else counted.
    void AddNotReached(const InputRecord &record);
    // The record of a station whose status is final counts in the figures.
    void Count(const QcStation &record, std::string_view name) {
        CountStation(outcome.figures, record, name);
    }
    // The spacing and the look of the loaded survey, from its window index,
    // into the outcome's notes (and its spacing and suggestion when most
    // stations were blank).
    void LookAtStations(const TPointWindows &index);

    TCalcHost &host;
    const RunSettings &settings;
    const RunInput &input;
    RunOutputs outputs;
    CppSQLite3DB db;
    RunOutcome outcome;
    // The set of outputs when the caller gave none.
    std::unique_ptr<TOutputSet> own_outputs;
    // Said once the run is idle again: a message, and an error that ended a
    // run which read nothing.
    std::string end_message;
    std::string error_text;
    // The surveys of the source's survey field, station by station.
    TSurveyGrouper surveys;
    bool surveyed = false;
    void AddSurvey(const InputRecord &record) {
        if (record.surveyed) {
            surveyed = true;
            surveys.Add(record.survey);
        }
    }
};

TCalcRun::TCalcRun(TCalcHost &host_) : host(host_) {}

TCalcRun::~TCalcRun() = default;

RunOutcome TCalcRun::Run(const RunSettings &settings, const RunInput &input,
                         RunOutputs outputs) {
    Pass pass(host, settings, input, std::move(outputs));
    RunOutcome &outcome = pass.outcome;
    host.SetRunning(true);
    host.ClearStopRequest();

    CalcResult result = CalcResult::Failed;
    std::string error;
    try {
        result = pass.Passes();
    } catch (const CppSQLite3Exception &exception) {
        error = exception.errorMessage();
    } catch (const EncodingError &exception) {
        error = exception.what();
        outcome.not_text = {exception.line, exception.encoding,
                            exception.bytes};
    } catch (const std::bad_alloc &) {
        error = "Out of memory";
    } catch (const std::exception &exception) {
        error = exception.what();
    } catch (...) {
        error = "Unknown error";
    }

    // Whatever happened, the run's database is closed; a failure to close
    // cannot be helped here and must not hide the run's own outcome.
    try {
        pass.db.Close();
    } catch (const CppSQLite3Exception &) {
    }
    outcome.result = error.empty() ? result : CalcResult::Failed;
    // The run's own outputs take the earlier ones' place, or are dropped.
    if (pass.own_outputs) {
        if (KeepsOutputs(outcome, pass.outputs)) {
            const OutputProblem problem = pass.own_outputs->Publish();
            outcome.result_written = problem.ok();
            if (!problem.ok() && error.empty()) {
                error = OutputMessage(problem);
                outcome.result = CalcResult::Failed;
            }
        } else {
            pass.own_outputs->Abandon();
        }
    }
    host.SetRunning(false);
    // What the run has to say comes once it is idle again: its own message,
    // then the gridder's refusals, once each, with the stations they hit.
    if (!pass.end_message.empty()) {
        host.ShowMessage(pass.end_message);
    }
    for (const IssueTally &tally : outcome.report.Tallies()) {
        if (tally.issue == StationIssue::GridRefused) {
            std::string text = tally.detail + " First at station " +
                               tally.first.front().name + " (line " +
                               std::to_string(tally.first.front().line) +
                               "); " + std::to_string(tally.count) +
                               (tally.count == 1 ? " station." : " stations.");
            host.ShowMessage(text);
        }
    }
    if (error.empty() && !pass.error_text.empty()) {
        host.ShowError(pass.error_text);
    }
    if (!error.empty()) {
        // Where first, the system's own text after it; the batch tool also
        // says which bytes, and how to read them.
        if (outcome.not_text.line > 0) {
            error = NotTextMessage(
                input.path, outcome.not_text.line, outcome.not_text.encoding,
                outcome.not_text.bytes, error, settings.explain_errors);
        }
        outcome.error = error;
        host.ShowError(error);
        return std::move(outcome);
    }
    if (result == CalcResult::Completed && outcome.figures.with_estimate == 0) {
        outcome.nothing_estimated = true;
        std::string text = outcome.report.NothingEstimated(
            settings.parameters, outcome.looks_like_degrees);
        if (outcome.suggested.search_distance > 0.0) {
            text += " Parameters that suit the stations' spacing: " +
                    outcome.suggested.Words() + " (" +
                    outcome.suggested.reasoning + ").";
        }
        host.ShowError(text);
    }
    return std::move(outcome);
}

CalcResult TCalcRun::Pass::Passes() {
    const RunParameters &parameters = settings.parameters;
    const QcSettings &qc = settings.qc;
    TRunReport &report = outcome.report;
    QcFindings &findings = outcome.qc;

    // Every kriging run would be refused: say so once and start nothing.
    if (!(parameters.cell_size >= min_cell_size)) {
        end_message = cell_size_message;
        return CalcResult::Refused;
    }
    // The outputs, checked against each other and the station file before
    // anything is read.
    if (outputs.set == nullptr) {
        own_outputs = std::make_unique<TOutputSet>();
        outputs = AddRunOutputs(*own_outputs, default_result_option,
                                outputs.result_path, default_table_option, qc);
        own_outputs->SetInput(default_input_option, input.path);
    }
    TOutputSet &set = *outputs.set;
    const std::string &out_path = set.Path(outputs.result);
    const OutputProblem collision = set.CheckPaths();
    if (!collision.ok()) {
        end_message = OutputMessage(collision);
        return CalcResult::Refused;
    }

    // First pass: every station that parses goes into the point table.
    std::unique_ptr<TStationInput> source =
        input.open
            ? input.open()
            : std::make_unique<TStationTextInput>(
                  input.path, settings.decimal_separator, settings.encoding);
    InputRecord record;
    uint64_t loaded_positions = 0;
    int64_t &loaded = outcome.loaded;
    // The stations' heights, for the heights estimated like the values: kept
    // until the window index can take them; and every station's position,
    // for a DEM.
    std::vector<double> height_x, height_y, heights;
    const bool with_dem = qc.enabled && input.dem;
    std::vector<double> station_x, station_y;
    {
        source->Rewind();
        CppSQLite3Statement insert = BeginLoad(db);
        int64_t met = 0;
        while (source->Next(record)) {
            if (record.is_station) {
                AddStation(insert, record.station.x, record.station.y,
                           record.station.value);
                loaded_positions = FoldPosition(
                    loaded_positions, record.station.x, record.station.y);
                ++loaded;
                if (qc.enabled && record.has_height) {
                    height_x.push_back(record.station.x);
                    height_y.push_back(record.station.y);
                    heights.push_back(record.station.h);
                }
                if (with_dem) {
                    station_x.push_back(record.station.x);
                    station_y.push_back(record.station.y);
                }
                if (record.more_fields) {
                    report.AddWideLine(record.line, record.text,
                                       settings.decimal_separator != ',' &&
                                           HasThousandsSeparators(record.text));
                }
            } else if (!record.blank) {
                ++outcome.unread;
                report.AddUnread(record.line, record.text);
                host.LineNotRead(record.line, record.text);
            }
            // A stop while the stations load leaves every file as it was.
            if (++met % load_events_every == 0) {
                host.ProcessPendingEvents();
                if (host.StopRequested()) {
                    return CalcResult::Stopped;
                }
            }
        }
        EndLoad(db, insert);
    }
    if (host.StopRequested()) {
        return CalcResult::Stopped;
    }
    if (loaded == 0) {
        error_text =
            NothingReadText(input.path, settings.decimal_separator, report);
        return CalcResult::Refused;
    }
    host.StationsLoaded(loaded);
    if (with_dem) {
        DemSample sample = input.dem(station_x, station_y);
        std::vector<double>().swap(station_x);
        std::vector<double>().swap(station_y);
        if (!sample.refusal.empty()) {
            end_message = sample.refusal;
            return CalcResult::Refused;
        }
        outcome.notes.insert(outcome.notes.end(), sample.notes.begin(),
                             sample.notes.end());
        if (sample.outside > 0) {
            outcome.notes.push_back(
                std::to_string(sample.outside) + " of " +
                std::to_string(loaded) +
                " stations lie outside the DEM or on its nodata: they have no "
                "h_dem.");
        }
        findings.dem = std::move(sample.heights);
    }
    // A result file of another survey is replaced only when the host says so.
    const std::string foreign = ForeignResultQuestion(db, out_path);
    if (!foreign.empty() && !host.ConfirmReplace(foreign)) {
        end_message =
            "Nothing was written: " + out_path + " was left as it was.";
        return CalcResult::Refused;
    }
    if (qc.enabled) {
        findings.stations.Reserve(static_cast<size_t>(loaded));
    }

    // The window index (one, or one for each worker), built while the host
    // stays responsive; a stop meanwhile writes nothing. The workers' batch
    // outlives them: an error that ends the pass joins them while they may
    // still read its stations.
    StationSettings station_settings;
    static_cast<RunParameters &>(station_settings) = parameters;
    station_settings.with_sigma = qc.enabled;
    std::vector<InputRecord> batch;
    std::vector<Station> stations;
    std::unique_ptr<TPointWindows> windows;
    std::unique_ptr<TStationWorkers> workers;
    if (settings.jobs <= 1) {
        windows = WhileResponsive(
            host, [this] { return std::make_unique<TPointWindows>(db); });
    } else {
        workers = WhileResponsive(host, [&] {
            return std::make_unique<TStationWorkers>(db, settings.jobs,
                                                     station_settings);
        });
    }
    SettlePointTable(db);
    for (size_t k = 0; k < heights.size(); ++k) {
        if (workers) {
            workers->AssignHeight(height_x[k], height_y[k], heights[k]);
        } else {
            windows->AssignHeight(height_x[k], height_y[k], heights[k]);
        }
    }
    std::vector<double>().swap(height_x);
    std::vector<double>().swap(height_y);
    std::vector<double>().swap(heights);
    if (host.StopRequested()) {
        return CalcResult::Stopped;
    }

    // Every output is started before a station is estimated, so that one
    // that cannot be written is said now, not after the work.
    for (const std::string &stale : set.RemoveStale()) {
        outcome.notes.push_back("Removed " + stale +
                                ", left by an earlier run that no longer "
                                "exists.");
    }
    const OutputProblem unwritable = set.BeginAll();
    if (!unwritable.ok()) {
        if (unwritable.option == set.Option(outputs.result)) {
            end_message = open_error_prefix + out_path + ": " +
                          std::system_category().message(unwritable.error);
            return CalcResult::OpenFailed;
        }
        end_message = OutputMessage(unwritable);
        return CalcResult::Refused;
    }
    TResultFile out;
    out.Open(set.Stream(outputs.result), out_path);
    outcome.result_opened = true;
    out.WriteHeader();

    // Second pass: estimate and write every station, in the file's order.
    const int64_t maximum =
        (static_cast<int64_t>(loaded) + progress_step - 1) / progress_step;
    host.SetProgressMax(static_cast<int32_t>(maximum));
    host.SetProgressPosition(0);
    host.ProcessPendingEvents();

    // What the run does with a station once it is estimated: the line, the
    // reasons, the progress, the host's events. True when Stop was requested.
    StationOutcome station;
    int64_t done = 0;
    auto finish_station = [&](const InputRecord &station_record,
                              StationEstimate &estimate) {
        station.station = station_record.station;
        station.name = station_record.name;
        station.has_height = station_record.has_height;
        station.line = station_record.line;
        station.written = estimate.written;
        station.r1 = station.r2 = 0.0;
        station.blank_all = station.blank_without = false;
        station.search_distance = estimate.search_distance;
        station.n_points = estimate.n_points;
        if (station.written) {
            const double value = station_record.station.value;
            station.r1 = Residual(estimate.estimate_all, value);
            station.r2 = Residual(estimate.estimate_without, value);
            station.blank_all = !(estimate.estimate_all < blank_limit);
            station.blank_without = !(estimate.estimate_without < blank_limit);
            out.WriteStation(station_record.station, station.r1, station.r2,
                             estimate.search_distance, estimate.n_points);
        }
        station.estimate = std::move(estimate);
        TallyStation(report, station);
        // With quality control the record is final only once duplicates are
        // known; without, it is final now and only counted.
        if (qc.enabled) {
            findings.stations.Add(QcRecord(station), station.name);
            AddSurvey(station_record);
        } else {
            Count(QcRecord(station), station.name);
        }
        ++done;
        if (done % progress_step == 0) {
            host.SetProgressPosition(host.ProgressPosition() + 1);
        }
        host.StationDone(station);
        host.ProcessPendingEvents();
        return host.StopRequested();
    };

    // The second pass must meet the stations of the first: the same count
    // and the same positions in the same order.
    uint64_t met_positions = 0;
    int64_t met = 0;
    const auto meet = [&](const Station &at) {
        if (++met > loaded) {
            throw ChangedInputError("");
        }
        met_positions = FoldPosition(met_positions, at.x, at.y);
    };

    CalcResult result = CalcResult::Completed;
    try {
        source->Rewind();
        if (settings.jobs <= 1) {
            while (source->Next(record)) {
                if (!record.is_station) {
                    continue;
                }
                meet(record.station);
                StationEstimate estimate = EstimateStation(
                    *windows, {record.station.x, record.station.y},
                    station_settings);
                if (finish_station(record, estimate)) {
                    result = CalcResult::Stopped;
                    break;
                }
            }
        } else {
            // The same stations in the same order, estimated ahead by the
            // workers batch by batch; this thread writes them and serves the
            // host.
            const size_t worker_batch =
                std::max<int32_t>(1, settings.batch_size);
            batch.reserve(worker_batch);
            stations.reserve(worker_batch);
            bool more = true;
            while (more && result == CalcResult::Completed) {
                batch.clear();
                stations.clear();
                while (batch.size() < worker_batch &&
                       (more = source->Next(record))) {
                    if (record.is_station) {
                        meet(record.station);
                        batch.push_back(record);
                        batch.back().text = {};
                        stations.push_back(record.station);
                    }
                }
                workers->Start(stations);
                for (size_t k = 0; k < batch.size(); ++k) {
                    StationEstimate estimate = workers->Result(k);
                    if (finish_station(batch[k], estimate)) {
                        result = CalcResult::Stopped;
                        workers->Cancel();
                        // The rest of the batch was read but not reached.
                        for (size_t rest = k + 1; rest < batch.size(); ++rest) {
                            AddNotReached(batch[rest]);
                        }
                        break;
                    }
                }
            }
        }
        if (result == CalcResult::Stopped) {
            // The stations after the stop are listed, marked as not reached,
            // so that the table and the figure say the run is partial.
            while (source->Next(record)) {
                if (record.is_station) {
                    AddNotReached(record);
                }
            }
        }
        if (result == CalcResult::Completed &&
            (met != loaded || met_positions != loaded_positions)) {
            throw ChangedInputError("");
        }
    } catch (const ChangedInputError &) {
        out.Discard();
        throw std::runtime_error(
            "The station file " + input.path +
            " changed while the run read it: its second reading met other "
            "stations than its first (" +
            std::to_string(loaded) + " at first). Nothing was written.");
    } catch (...) {
        // The lines written so far are kept, as after a stop; a result that
        // could not be written is dropped instead, leaving the earlier one.
        if (out.StationLines() > 0) {
            try {
                out.Close();
            } catch (const FileError &) {
            }
        }
        throw;
    }
    TPointWindows &index = windows ? *windows : workers->Index();
    // Duplicates and suspects, with the window index still at hand; then
    // every record is final and counts.
    if (qc.enabled) {
        // A pattern on the names, when given, says more than the field.
        if (surveyed && !qc.survey_namer) {
            findings.grouping = surveys.Finish();
        }
        WhileResponsive(
            host, [&] {
                CheckStations(findings, index, parameters, qc,
                              [&](double x, double y, double delta) {
                                  if (workers) {
                                      workers->ShiftValue(x, y, delta);
                                  } else {
                                      windows->ShiftValue(x, y, delta);
                                  }
                              });
            });
        for (size_t k = 0; k < findings.stations.Size(); ++k) {
            Count(findings.stations[k], findings.stations.Name(k));
        }
        CountFindings(outcome.figures, findings.suspects);
        DiagnoseStations(findings,
                         SuspectValueTexts(*source, findings,
                                           settings.decimal_separator),
                         qc, settings.decimal_separator);
    }
    LookAtStations(index);
    workers.reset();
    windows.reset();
    db.Close();
    out.Close();
    if (qc.enabled && outputs.HasTable()) {
        WriteCompanionTable(set.Stream(outputs.table), set.Path(outputs.table),
                            findings.stations,
                            CompanionExtras(findings, input));
        findings.table_path = set.Path(outputs.table);
    }
    return result;
}

void TCalcRun::Pass::AddNotReached(const InputRecord &record) {
    const QcStation station = NotReachedRecord(record);
    if (settings.qc.enabled) {
        outcome.qc.stations.Add(station, record.name);
        AddSurvey(record);
    } else {
        Count(station, record.name);
    }
}

void TCalcRun::Pass::LookAtStations(const TPointWindows &index) {
    for (std::string &line : outcome.report.DescribeWideLines()) {
        outcome.notes.push_back(std::move(line));
    }
    std::vector<double> x, y, value;
    index.Index().Stations(x, y, value);
    const SurveyLooks looks = LookAtSurvey(x, y, value);
    for (std::string &note : SurveyLooksNotes(looks)) {
        outcome.notes.push_back(std::move(note));
    }
    outcome.looks_like_degrees = looks.degrees;
    // The stations met: those the second pass read, of a stopped run too.
    const RunFigures &figures = outcome.figures;
    outcome.mostly_blank =
        figures.read > 0 && 2 * figures.with_estimate < figures.read;
    if (!outcome.mostly_blank) {
        return;
    }
    outcome.spacing = MeasureSpacing(std::move(x), std::move(y),
                                     settings.parameters.min_points);
    outcome.suggested = SuggestParameters(outcome.spacing);
    if (figures.with_estimate > 0) {
        outcome.notes.push_back(MostlyBlankText(
            figures.read, figures.with_estimate, outcome.suggested));
    }
}

std::vector<ExtraColumn> CompanionExtras(const QcFindings &qc,
                                         const RunInput &input) {
    std::vector<ExtraColumn> columns = input.extra_columns;
    for (ExtraColumn &column :
         DiagnosisColumns(qc.stations, qc.diagnosis, qc.dem)) {
        columns.push_back(std::move(column));
    }
    if (qc.HasSurveys()) {
        for (ExtraColumn &column : SurveyColumns(qc.grouping, qc.offsets)) {
            columns.push_back(std::move(column));
        }
    }
    return columns;
}

bool KeepsOutputs(const RunOutcome &outcome, const RunOutputs &outputs) {
    const bool result_finished =
        outputs.set != nullptr && outputs.set->Finished(outputs.result);
    switch (outcome.result) {
    case CalcResult::Completed:
        return result_finished && outcome.figures.with_estimate > 0;
    case CalcResult::Stopped:
    case CalcResult::Failed:
        return result_finished;
    case CalcResult::Refused:
    case CalcResult::OpenFailed:
        return false;
    }
    return false;
}

RunOutputs AddRunOutputs(TOutputSet &set, const std::string &result_option,
                         const std::string &result_path,
                         const std::string &table_option,
                         const QcSettings &qc) {
    RunOutputs outputs;
    outputs.set = &set;
    outputs.result = set.Add(result_option, result_path, OutputForm::Text);
    if (!qc.enabled) {
        return outputs;
    }
    // The companion table goes beside the result, unless the result is a
    // device or a pipe and no place was given for the table.
    std::string table_path = qc.table_path;
    if (table_path.empty() && !IsDevice(result_path)) {
        table_path = CompanionPath(result_path);
    }
    if (!table_path.empty()) {
        outputs.table = set.Add(table_option, table_path, OutputForm::Text);
    }
    return outputs;
}
