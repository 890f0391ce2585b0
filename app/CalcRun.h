// The Calc run: loads a station file into the point table, estimates every
// station twice (with and without itself) and writes the result table. It knows
// nothing of the window toolkit: what it needs of the window it asks of a
// TCalcHost, which the window, the batch tool and the tests implement.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/RunQc.h"
#include "app/RunReport.h"
#include "app/StationFile.h"
#include "app/StationInput.h"
#include "estimate/StationEstimate.h"
#include "qc/SurveyShape.h"

class CppSQLite3DB;
class TOutputSet;

// The edit fields the run reads.
enum class CalcField {
    Data,
    SearchDistance,
    Increment,
    MinPoints,
    CellSize,
    Output
};

// One station of the second pass, as the run saw it (for summaries and views).
struct StationOutcome {
    Station station{};
    std::string name;       // the station's name as the file spells it, UTF-8
    bool has_height = true; // the source gave a height
    int64_t line = 0;       // its line in the station file, from 1
    bool written =
        false; // the estimator returned true and the line was written
    bool blank_all = false;     // estimate_all was blank (r1 written as 0)
    bool blank_without = false; // estimate_without was blank (r2 written as 0)
    double r1 = 0.0;
    double r2 = 0.0;
    double search_distance = 0.0; // final half-size of the window, metres
    int32_t n_points = 0;         // stations counted in the final window
    StationEstimate estimate;     // all the estimation found
};

// What the run needs of the window.
class TCalcHost {
  public:
    virtual ~TCalcHost() = default;

    // Text of an edit field as the user typed it.
    virtual std::string FieldText(CalcField field) = 0;
    // Idle: Calc and Exit enabled, Stop disabled; running: the reverse.
    virtual void SetRunning(bool running) = 0;
    virtual void SetProgressMax(int32_t maximum) = 0;
    virtual void SetProgressPosition(int32_t position) = 0;
    virtual int32_t ProgressPosition() = 0;
    // Lets the window handle what is pending (a press on Stop among it).
    virtual void ProcessPendingEvents() = 0;
    // The stop flag: cleared at the start of every run, tested after each
    // station and now and then while the stations load.
    virtual void ClearStopRequest() = 0;
    virtual bool StopRequested() = 0;
    // A modal message with an OK button (the run's own, and the gridder's
    // refusals with the stations they hit, at the end of the run).
    virtual void ShowMessage(const std::string &text) = 0;
    // The error box that reports an error which ended the run, or a run that
    // read or estimated nothing.
    virtual void ShowError(const std::string &text) = 0;
    // Told of each line of the first pass that held no station.
    virtual void LineNotRead(int64_t /*line*/, std::string_view /*text*/) {}
    // Told once the first pass has loaded `loaded` stations.
    virtual void StationsLoaded(int64_t /*loaded*/) {}
    // Told after every station of the second pass that parsed.
    virtual void StationDone(const StationOutcome &) {}
    // Asked, once the stations are loaded, before a result file that holds
    // another survey's stations (or is no result file) is replaced; false
    // ends the run with nothing written. The batch tool replaces it.
    virtual bool ConfirmReplace(const std::string & /*question*/) {
        return true;
    }
};

// How a run ended.
enum class CalcResult {
    Completed, // every station of the file was handled
    Stopped,   // the user stopped the run
    Refused,   // the run did not start, or read no station: a message said why,
               // nothing was written
    OpenFailed, // the result file could not be opened; the message said why
    Failed,     // an error ended the run; the error box said why
};

// Texts the run shows.
inline constexpr const char *cell_size_message = "Cell size must be defined.";
inline constexpr const char *open_error_prefix = "Error by opening file ";

// The smallest cell size the gridder accepts, metres.
inline constexpr double min_cell_size = 0.001;

// An estimate not below this counts as blank (the estimator's blank_value for
// one it could not make) and is written as a difference of 0.
inline constexpr double blank_limit = 1e38;

// Difference estimate - observed, or 0 for a blank estimate or one that is not
// a number.
double Residual(double estimate, double observed);

class TCalcRun;
// Whether a run's finished outputs take the place of the earlier ones: yes
// after a completed run that estimated something, a stopped one (the lines
// so far) and one that failed after writing lines; no after a run that
// estimated nothing or wrote nothing.
bool KeepsOutputs(CalcResult result, const TCalcRun &run);

// Opens the source of a run's stations for the station field's text.
using InputOpener =
    std::function<std::unique_ptr<TStationInput>(const std::string &path)>;

// Where a run writes: the result file and, with quality control, the
// companion table, among the caller's set of outputs (which it checks, starts
// and puts in place; platform/OutputSet.h).
struct RunOutputs {
    TOutputSet *set = nullptr; // null: the run keeps a set of its own
    size_t result = 0;
    size_t table = static_cast<size_t>(-1); // none
    bool HasTable() const { return table != static_cast<size_t>(-1); }
};

// Adds the result file at `result_path` (named `result_option` in messages)
// and, when quality control is on, the companion table (`qc.table_path`, or
// beside the result unless the result is a device or a pipe) to `set`.
RunOutputs AddRunOutputs(TOutputSet &set, const std::string &result_option,
                         const std::string &result_path,
                         const std::string &table_option, const QcSettings &qc);

class TCalcRun {
  public:
    // `db` is the window's connection; the run opens and closes its database on
    // it.
    TCalcRun(TCalcHost &host, CppSQLite3DB &db);
    ~TCalcRun();

    // The whole run (the Calc button). Returns how it ended; never throws.
    CalcResult Run();

    // Stations estimated at once in the second pass. 1: one thread, one
    // station after the other. Above 1: as many worker threads over one
    // shared index of the point table; the result file, the host's calls (all
    // on the caller's thread) and Stop are the same as with 1.
    int32_t jobs = 1;
    // Stations handed to the workers at once when jobs is above 1: enough
    // that their wait for a batch's last station costs little, few enough to
    // keep memory small.
    int32_t batch_size = 4096;
    // The station file's text encoding (empty: UTF-8), for the station text
    // reader.
    std::string encoding;
    // How the station field's path is opened; by default as a station text
    // file in the user's decimal separator and `encoding`.
    InputOpener open_input;
    // The outputs, in the caller's set. With a set of the caller's, the run
    // starts and finishes its outputs and the caller puts them in place
    // (KeepsOutputs says whether); with none, the run does both itself.
    RunOutputs outputs;

    // Figures of the last run.
    int32_t loaded =
        0; // lines that parsed in the first pass (duplicates included)
    int32_t done = 0;        // lines that parsed in the second pass
    int32_t not_reached = 0; // stations a stopped run did not reach
    int32_t unread = 0;      // lines of the first pass, not blank, that did not
                             // parse as a station
    int64_t with_estimate = 0;      // stations written with a leave-one-out
                                    // estimate
    bool result_opened = false;     // the result file was started
    bool result_written = false;    // the result file replaced the earlier one
    bool nothing_estimated = false; // completed, and no station had a
                                    // leave-one-out estimate
    // More than half of the stations met had no leave-one-out estimate; the
    // spacing measured and the parameters it suggests are then in `spacing`
    // and `suggested`.
    bool mostly_blank = false;
    SurveySpacing spacing;
    SuggestedParameters suggested;
    // What the user should know of the survey and the run, a line each: the
    // look of its numbers, the advice for a spacing that left most stations
    // blank, temporary files of an earlier run removed.
    std::vector<std::string> notes;
    int64_t invalid_line = 0;     // the station file's line with bytes that are
                                  // not valid text, when that ended the run
    std::string invalid_encoding; // the encoding it was read in ("" UTF-8)
    std::string invalid_bytes;    // the bytes that were not text
    // Errors name the bytes that are not text and hint at what to do (the
    // batch tool); the window shows where and the system's text.
    bool detailed_errors = false;
    TRunReport report; // reasons met, and the first unread lines
    // Quality control: what to do, and what it found.
    QcSettings qc;
    QcFindings qc_findings;
    ReportSettings settings; // the parameters as the run read them

    // The coordinates of every station lie within +-180 and +-90.
    bool looks_like_degrees = false;

  private:
    CalcResult RunPasses();
    // A station of the source that a stopped run did not reach: counted, and
    // listed for quality control with the status NotReached.
    void AddNotReached(const InputRecord &record);
    // The spacing and the look of the loaded survey, from its window index,
    // into `notes` (and `spacing`, `suggested` when most stations were
    // blank).
    void LookAtStations(const TPointWindows &index);

    // Said once the run is idle again: a message, and an error that ended a
    // run which read nothing.
    std::string end_message;
    std::string error_text;

    TCalcHost &host;
    CppSQLite3DB &db;
    // The set of outputs when the caller gave none.
    std::unique_ptr<TOutputSet> own_outputs;
};
