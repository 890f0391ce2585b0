// The Calc run: two passes over the station file, the point table in between.
#include "app/CalcRun.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <vector>

#include "app/ResultFile.h"
#include "app/StationFile.h"
#include "app/StationWorkers.h"
#include "estimate/StationEstimate.h"
#include "platform/Dialogs.h"
#include "platform/Locale.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

// Routes the platform's message box to the host for the length of a run and
// shows each distinct text at most once per run, not once per station. While
// worker threads estimate, texts wait until the run's own thread calls Flush,
// so the host hears only from that thread.
class TRunMessages {
  public:
    explicit TRunMessages(TCalcHost &host_)
        : host(host_),
          previous(SetMessageHandler([this](const std::string &text) {
              std::unique_lock lock(mutex);
              if (!shown.insert(text).second) {
                  return;
              }
              if (held) {
                  pending.push_back(text);
                  return;
              }
              lock.unlock();
              host.ShowMessage(text);
          })) {}
    ~TRunMessages() { SetMessageHandler(std::move(previous)); }
    TRunMessages(const TRunMessages &) = delete;
    TRunMessages &operator=(const TRunMessages &) = delete;

    // From now on, texts wait for Flush (true) or go to the host at once.
    void Hold(bool hold) {
        std::lock_guard lock(mutex);
        held = hold;
    }
    // Shows the texts that waited, in the order they came.
    void Flush() {
        std::vector<std::string> texts;
        {
            std::lock_guard lock(mutex);
            texts.swap(pending);
        }
        for (const std::string &text : texts) {
            host.ShowMessage(text);
        }
    }

  private:
    TCalcHost &host;
    std::mutex mutex;
    std::set<std::string> shown;
    std::vector<std::string> pending;
    bool held = false;
    MessageHandler previous;
};

namespace {

// Stations per step of the progress bar.
constexpr int32_t progress_step = 10;

// True when both paths name the same file, so writing the result would destroy
// the stations. Paths are compared as files where both exist, else as text.
bool SameFile(const std::string &data_path, const std::string &out_path) {
    namespace fs = std::filesystem;
    // An empty field names no file; opening it fails with its own message.
    if (data_path.empty() || out_path.empty()) {
        return false;
    }
    std::error_code error;
    if (fs::exists(out_path, error) && fs::exists(data_path, error)) {
        return fs::equivalent(data_path, out_path, error);
    }
    const fs::path a = fs::weakly_canonical(data_path, error);
    if (error) {
        return data_path == out_path;
    }
    const fs::path b = fs::weakly_canonical(out_path, error);
    if (error) {
        return data_path == out_path;
    }
    return a == b;
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

CalcResult TCalcRun::Run() {
    loaded = 0;
    done = 0;
    unread = 0;
    result_opened = false;
    invalid_line = 0;
    host.SetRunning(true);
    host.ClearStopRequest();
    TRunMessages messages(host);

    CalcResult result = CalcResult::Failed;
    std::string error;
    try {
        result = RunPasses(messages);
    } catch (const CppSQLite3Exception &exception) {
        error = exception.errorMessage();
    } catch (const EncodingError &exception) {
        error = exception.what();
        invalid_line = exception.line;
    } catch (const std::bad_alloc &) {
        error = "Out of memory";
    } catch (const std::exception &exception) {
        error = exception.what();
    } catch (...) {
        error = "Unknown error";
    }

    // Gridder messages that waited for a station the run never reached.
    messages.Flush();
    // Whatever happened, the run's database is closed; a failure to close
    // cannot be helped here and must not hide the run's own outcome.
    try {
        db.Close();
    } catch (const CppSQLite3Exception &) {
    }
    host.SetRunning(false);
    if (!error.empty()) {
        host.ShowError(error);
        return CalcResult::Failed;
    }
    return result;
}

CalcResult TCalcRun::RunPasses(TRunMessages &messages) {
    const char separator = DecimalSeparator();
    const double a = StrToFloat(host.FieldText(CalcField::SearchDistance));
    const double increment = StrToFloat(host.FieldText(CalcField::Increment));
    const int32_t n = StrToInt(host.FieldText(CalcField::MinPoints));
    const double cell = StrToFloat(host.FieldText(CalcField::CellSize));

    // Every kriging run would be refused: say so once and start nothing.
    if (!(cell >= min_cell_size)) {
        host.ShowMessage(cell_size_message);
        return CalcResult::Refused;
    }
    const std::string data_path = host.FieldText(CalcField::Data);
    const std::string out_path = host.FieldText(CalcField::Output);
    if (SameFile(data_path, out_path)) {
        host.ShowMessage(same_file_message + out_path);
        return CalcResult::Refused;
    }

    // First pass: every station that parses goes into the point table.
    Station station{};
    std::string line;
    {
        TStationReader reader(data_path);
        CppSQLite3Statement insert = BeginLoad(db);
        while (reader.ReadLine(line)) {
            const std::string normal = NormaliseLine(line, separator);
            if (ParseStationLine(normal, station, separator)) {
                AddStation(insert, station.x, station.y, station.value);
                ++loaded;
            } else if (!normal.empty()) {
                ++unread;
            }
        }
        EndLoad(db, insert);
    }
    // A stop requested while the stations were loading (Ctrl-C in the batch
    // tool) leaves an earlier result file as it was.
    if (host.StopRequested()) {
        return CalcResult::Stopped;
    }

    TResultFile out;
    if (!out.Open(out_path)) {
        host.ShowMessage(open_error_prefix + out_path);
        host.CloseWindow();
        return CalcResult::OpenFailed;
    }
    result_opened = true;
    out.WriteHeader();

    // Second pass: estimate and write every station, in the file's order.
    TStationReader reader(data_path);
    const int64_t maximum =
        (static_cast<int64_t>(loaded) + progress_step - 1) / progress_step;
    host.SetProgressMax(static_cast<int32_t>(maximum));
    host.SetProgressPosition(0);
    host.ProcessPendingEvents();

    // What the run does with a station once it is estimated: the line, the
    // progress, the host's events. True when Stop was requested.
    auto finish_station = [&](const Station &done_station, bool written,
                              double estimate_all, double estimate_without,
                              double search_distance, int32_t n_points) {
        StationOutcome outcome;
        outcome.station = done_station;
        outcome.written = written;
        if (outcome.written) {
            outcome.r1 = Residual(estimate_all, done_station.value);
            outcome.r2 = Residual(estimate_without, done_station.value);
            outcome.blank_all = !(estimate_all < blank_limit);
            outcome.blank_without = !(estimate_without < blank_limit);
            outcome.search_distance = search_distance;
            outcome.n_points = n_points;
            out.WriteStation(done_station, outcome.r1, outcome.r2,
                             search_distance, n_points);
        }
        ++done;
        if (done % progress_step == 0) {
            host.SetProgressPosition(host.ProgressPosition() + 1);
        }
        host.StationDone(outcome);
        host.ProcessPendingEvents();
        return host.StopRequested();
    };

    CalcResult result = CalcResult::Completed;
    if (jobs <= 1) {
        // Compiled once for the pass; released before the database closes.
        TPointWindows windows(db);
        while (reader.ReadLine(line)) {
            if (!ParseStationLine(NormaliseLine(line, separator), station,
                                  separator)) {
                continue;
            }
            // An estimate the estimator cannot make stays blank, and is written
            // as 0.
            double estimate_all = blank_estimate;
            double estimate_without = blank_estimate;
            double search_distance = a;
            int32_t n_points = n;
            const bool written = EstimateStation(
                windows, station.x, station.y, cell, increment, search_distance,
                n_points, estimate_all, estimate_without);
            if (finish_station(station, written, estimate_all, estimate_without,
                               search_distance, n_points)) {
                result = CalcResult::Stopped;
                break;
            }
        }
    } else {
        // The same stations in the same order, estimated ahead by the workers
        // batch by batch; this thread writes them and serves the host.
        messages.Hold(true);
        // The batch outlives the workers: an error that leaves this block
        // joins them while they may still read their stations.
        std::vector<Station> batch;
        const size_t worker_batch = std::max<int32_t>(1, batch_size);
        batch.reserve(worker_batch);
        TStationWorkers workers(
            db, jobs, StationSettings{a, increment, cell, n}, blank_estimate);
        bool more = true;
        while (more && result == CalcResult::Completed) {
            batch.clear();
            while (batch.size() < worker_batch &&
                   (more = reader.ReadLine(line))) {
                if (ParseStationLine(NormaliseLine(line, separator), station,
                                     separator)) {
                    batch.push_back(station);
                }
            }
            workers.Start(batch);
            for (size_t k = 0; k < batch.size(); ++k) {
                const StationEstimateResult &r = workers.Result(k);
                messages.Flush();
                if (finish_station(batch[k], r.written, r.estimate_all,
                                   r.estimate_without, r.search_distance,
                                   r.n_points)) {
                    result = CalcResult::Stopped;
                    workers.Cancel();
                    break;
                }
            }
        }
        messages.Flush();
        messages.Hold(false);
    }
    db.Close();
    out.Close();
    return result;
}
