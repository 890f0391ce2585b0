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
#include "platform/Dialogs.h"
#include "platform/Locale.h"
#include "platform/OutputSet.h"
#include "qc/CompanionTable.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

// Keeps the gridder's message boxes from the user for the length of a run:
// its refusals come back with each station's estimate and are reported at the
// end, with the stations they hit.
class TQuietGridder {
  public:
    TQuietGridder() : previous(SetMessageHandler([](const std::string &) {})) {}
    ~TQuietGridder() { SetMessageHandler(std::move(previous)); }
    TQuietGridder(const TQuietGridder &) = delete;
    TQuietGridder &operator=(const TQuietGridder &) = delete;

  private:
    MessageHandler previous;
};

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

TCalcRun::TCalcRun(TCalcHost &host_, CppSQLite3DB &db_)
    : host(host_), db(db_) {}

TCalcRun::~TCalcRun() = default;

CalcResult TCalcRun::Run() {
    loaded = 0;
    done = 0;
    not_reached = 0;
    unread = 0;
    with_estimate = 0;
    result_opened = false;
    result_written = false;
    nothing_estimated = false;
    mostly_blank = false;
    looks_like_degrees = false;
    spacing = SurveySpacing();
    suggested = SuggestedParameters();
    notes.clear();
    if (own_outputs) {
        outputs = RunOutputs();
        own_outputs.reset();
    }
    invalid_line = 0;
    invalid_encoding.clear();
    invalid_bytes.clear();
    report = TRunReport();
    end_message.clear();
    error_text.clear();
    qc_findings = QcFindings();
    host.SetRunning(true);
    host.ClearStopRequest();

    CalcResult result = CalcResult::Failed;
    std::string error;
    {
        TQuietGridder quiet;
        try {
            result = RunPasses();
        } catch (const CppSQLite3Exception &exception) {
            error = exception.errorMessage();
        } catch (const EncodingError &exception) {
            error = exception.what();
            invalid_line = exception.line;
            invalid_encoding = exception.encoding;
            invalid_bytes = exception.bytes;
        } catch (const std::bad_alloc &) {
            error = "Out of memory";
        } catch (const std::exception &exception) {
            error = exception.what();
        } catch (...) {
            error = "Unknown error";
        }
    }

    // Whatever happened, the run's database is closed; a failure to close
    // cannot be helped here and must not hide the run's own outcome.
    try {
        db.Close();
    } catch (const CppSQLite3Exception &) {
    }
    // The run's own outputs take the earlier ones' place, or are dropped.
    if (own_outputs) {
        if (KeepsOutputs(error.empty() ? result : CalcResult::Failed, *this)) {
            const OutputProblem problem = own_outputs->Publish();
            result_written = problem.ok();
            if (!problem.ok() && error.empty()) {
                error = OutputMessage(problem);
            }
        } else {
            own_outputs->Abandon();
        }
    }
    host.SetRunning(false);
    // What the run has to say comes once it is idle again: its own message,
    // then the gridder's refusals, once each, with the stations they hit.
    if (!end_message.empty()) {
        host.ShowMessage(end_message);
    }
    for (const IssueTally &tally : report.Tallies()) {
        if (tally.issue == StationIssue::GridRefused) {
            std::string text = tally.detail + " First at station " +
                               tally.first.front().name + " (line " +
                               std::to_string(tally.first.front().line) +
                               "); " + std::to_string(tally.count) +
                               (tally.count == 1 ? " station." : " stations.");
            host.ShowMessage(text);
        }
    }
    if (error.empty() && !error_text.empty()) {
        host.ShowError(error_text);
    }
    if (!error.empty()) {
        // Where first, the system's own text after it; the batch tool also
        // says which bytes, and how to read them.
        if (invalid_line > 0) {
            error = NotTextMessage(host.FieldText(CalcField::Data),
                                   invalid_line, invalid_encoding,
                                   invalid_bytes, error, detailed_errors);
        }
        host.ShowError(error);
        return CalcResult::Failed;
    }
    if (result == CalcResult::Completed && with_estimate == 0) {
        nothing_estimated = true;
        std::string text =
            report.NothingEstimated(settings, looks_like_degrees);
        if (suggested.search_distance > 0.0) {
            text += " Parameters that suit the stations' spacing: " +
                    suggested.Words() + " (" + suggested.reasoning + ").";
        }
        host.ShowError(text);
    }
    return result;
}

CalcResult TCalcRun::RunPasses() {
    const char separator = DecimalSeparator();
    const double a = StrToFloat(host.FieldText(CalcField::SearchDistance));
    const double increment = StrToFloat(host.FieldText(CalcField::Increment));
    const int32_t n = StrToInt(host.FieldText(CalcField::MinPoints));
    const double cell = StrToFloat(host.FieldText(CalcField::CellSize));
    settings = ReportSettings{a, cell, n, increment};

    // Every kriging run would be refused: say so once and start nothing.
    if (!(cell >= min_cell_size)) {
        end_message = cell_size_message;
        return CalcResult::Refused;
    }
    const std::string data_path = host.FieldText(CalcField::Data);
    const std::string out_path = host.FieldText(CalcField::Output);
    // The outputs, checked against each other and the station file before
    // anything is read.
    if (outputs.set == nullptr) {
        own_outputs = std::make_unique<TOutputSet>();
        outputs = AddRunOutputs(*own_outputs, default_result_option, out_path,
                                default_table_option, qc);
        own_outputs->SetInput(default_input_option, data_path);
    }
    TOutputSet &set = *outputs.set;
    const OutputProblem collision = set.CheckPaths();
    if (!collision.ok()) {
        end_message = OutputMessage(collision);
        return CalcResult::Refused;
    }

    // First pass: every station that parses goes into the point table.
    std::unique_ptr<TStationInput> input =
        open_input ? open_input(data_path)
                   : std::make_unique<TStationTextInput>(data_path, separator,
                                                         encoding);
    InputRecord record;
    uint64_t loaded_positions = 0;
    {
        input->Rewind();
        CppSQLite3Statement insert = BeginLoad(db);
        int64_t met = 0;
        while (input->Next(record)) {
            if (record.is_station) {
                AddStation(insert, record.station.x, record.station.y,
                           record.station.value);
                loaded_positions = FoldPosition(
                    loaded_positions, record.station.x, record.station.y);
                ++loaded;
                if (record.more_fields) {
                    report.AddWideLine(record.line, record.text,
                                       separator != ',' &&
                                           HasThousandsSeparators(record.text));
                }
            } else if (!record.blank) {
                ++unread;
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
        error_text = NothingReadText(data_path, separator, report);
        return CalcResult::Refused;
    }
    host.StationsLoaded(loaded);
    // A result file of another survey is replaced only when the host says so.
    const std::string foreign =
        ForeignResultQuestion(db, set.Path(outputs.result));
    if (!foreign.empty() && !host.ConfirmReplace(foreign)) {
        end_message = "Nothing was written: " + set.Path(outputs.result) +
                      " was left as it was.";
        return CalcResult::Refused;
    }
    if (qc.enabled) {
        qc_findings.stations.Reserve(static_cast<size_t>(loaded));
    }

    // The window index (one, or one for each worker), built while the host
    // stays responsive; a stop meanwhile writes nothing. The workers' batch
    // outlives them: an error that ends the pass joins them while they may
    // still read its stations.
    std::vector<InputRecord> batch;
    std::vector<Station> stations;
    std::unique_ptr<TPointWindows> windows;
    std::unique_ptr<TStationWorkers> workers;
    const StationSettings settings{a, increment, cell, n, qc.enabled};
    if (jobs <= 1) {
        windows = WhileResponsive(
            host, [this] { return std::make_unique<TPointWindows>(db); });
    } else {
        workers = WhileResponsive(host, [&] {
            return std::make_unique<TStationWorkers>(db, jobs, settings);
        });
    }
    SettlePointTable(db);
    if (host.StopRequested()) {
        return CalcResult::Stopped;
    }

    // Every output is started before a station is estimated, so that one
    // that cannot be written is said now, not after the work.
    for (const std::string &stale : set.RemoveStale()) {
        notes.push_back("Removed " + stale +
                        ", left by an earlier run that "
                        "no longer exists.");
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
    result_opened = true;
    out.WriteHeader();

    // Second pass: estimate and write every station, in the file's order.
    const int64_t maximum =
        (static_cast<int64_t>(loaded) + progress_step - 1) / progress_step;
    host.SetProgressMax(static_cast<int32_t>(maximum));
    host.SetProgressPosition(0);
    host.ProcessPendingEvents();

    // What the run does with a station once it is estimated: the line, the
    // reasons, the progress, the host's events. True when Stop was requested.
    StationOutcome outcome;
    auto finish_station = [&](const InputRecord &station_record,
                              StationEstimate &estimate) {
        outcome.station = station_record.station;
        outcome.name = station_record.name;
        outcome.has_height = station_record.has_height;
        outcome.line = station_record.line;
        outcome.written = estimate.written;
        outcome.r1 = outcome.r2 = 0.0;
        outcome.blank_all = outcome.blank_without = false;
        outcome.search_distance = estimate.search_distance;
        outcome.n_points = estimate.n_points;
        if (outcome.written) {
            const double value = station_record.station.value;
            outcome.r1 = Residual(estimate.estimate_all, value);
            outcome.r2 = Residual(estimate.estimate_without, value);
            outcome.blank_all = !(estimate.estimate_all < blank_limit);
            outcome.blank_without = !(estimate.estimate_without < blank_limit);
            out.WriteStation(station_record.station, outcome.r1, outcome.r2,
                             estimate.search_distance, estimate.n_points);
            if (!outcome.blank_without) {
                ++with_estimate;
            }
        }
        outcome.estimate = std::move(estimate);
        TallyStation(report, outcome);
        if (qc.enabled) {
            qc_findings.stations.Add(QcRecord(outcome), outcome.name);
        }
        ++done;
        if (done % progress_step == 0) {
            host.SetProgressPosition(host.ProgressPosition() + 1);
        }
        host.StationDone(outcome);
        host.ProcessPendingEvents();
        return host.StopRequested();
    };

    // The second pass must meet the stations of the first: the same count
    // and the same positions in the same order.
    uint64_t met_positions = 0;
    int32_t met = 0;
    const auto meet = [&](const Station &station) {
        if (++met > loaded) {
            throw ChangedInputError("");
        }
        met_positions = FoldPosition(met_positions, station.x, station.y);
    };

    CalcResult result = CalcResult::Completed;
    try {
        input->Rewind();
        if (jobs <= 1) {
            while (input->Next(record)) {
                if (!record.is_station) {
                    continue;
                }
                meet(record.station);
                // An estimate the estimator cannot make is blank, and is
                // written as 0.
                StationEstimate estimate = EstimateStation(
                    *windows, {record.station.x, record.station.y}, settings);
                if (finish_station(record, estimate)) {
                    result = CalcResult::Stopped;
                    break;
                }
            }
        } else {
            // The same stations in the same order, estimated ahead by the
            // workers batch by batch; this thread writes them and serves the
            // host.
            const size_t worker_batch = std::max<int32_t>(1, batch_size);
            batch.reserve(worker_batch);
            stations.reserve(worker_batch);
            bool more = true;
            while (more && result == CalcResult::Completed) {
                batch.clear();
                stations.clear();
                while (batch.size() < worker_batch &&
                       (more = input->Next(record))) {
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
            while (input->Next(record)) {
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
            "The station file " + data_path +
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
    // Duplicates and suspects, with the window index still at hand.
    if (qc.enabled) {
        WhileResponsive(host, [&] {
            CheckStations(qc_findings, index,
                          QcRunParameters{a, increment, cell, n}, qc);
        });
    }
    LookAtStations(index);
    workers.reset();
    windows.reset();
    db.Close();
    out.Close();
    if (qc.enabled && outputs.HasTable()) {
        WriteCompanionTable(set.Stream(outputs.table), set.Path(outputs.table),
                            qc_findings.stations, qc.extra_columns);
        qc_findings.table_path = set.Path(outputs.table);
    }
    return result;
}

void TCalcRun::AddNotReached(const InputRecord &record) {
    ++not_reached;
    if (qc.enabled) {
        qc_findings.stations.Add(NotReachedRecord(record), record.name);
    }
}

void TCalcRun::LookAtStations(const TPointWindows &index) {
    for (std::string &line : report.DescribeWideLines()) {
        notes.push_back(std::move(line));
    }
    std::vector<double> x, y, value;
    index.Index().Stations(x, y, value);
    const SurveyLooks looks = LookAtSurvey(x, y, value);
    for (std::string &note : SurveyLooksNotes(looks)) {
        notes.push_back(std::move(note));
    }
    looks_like_degrees = looks.degrees;
    mostly_blank = done > 0 && 2 * with_estimate < done;
    if (!mostly_blank) {
        return;
    }
    spacing = MeasureSpacing(std::move(x), std::move(y), settings.min_points);
    suggested = SuggestParameters(spacing);
    if (with_estimate > 0) {
        notes.push_back(MostlyBlankText(done, with_estimate, suggested));
    }
}

bool KeepsOutputs(CalcResult result, const TCalcRun &run) {
    const RunOutputs &outputs = run.outputs;
    const bool result_finished =
        outputs.set != nullptr && outputs.set->Finished(outputs.result);
    switch (result) {
    case CalcResult::Completed:
        return result_finished && run.with_estimate > 0;
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
