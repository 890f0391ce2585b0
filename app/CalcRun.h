// The Calc run: loads a station file into the point table, estimates every
// station twice (with and without itself) and writes the result table. It
// takes its settings as a typed record and returns one outcome; what it must
// ask or tell while it runs (progress, stop, messages, each station) goes
// through a TCalcHost, which the window, the batch tool and the tests
// implement. It knows nothing of the window toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/RunQc.h"
#include "app/RunReport.h"
#include "app/RunSettings.h"
#include "app/StationFile.h"
#include "app/StationInput.h"
#include "estimate/StationEstimate.h"
#include "qc/RunFigures.h"
#include "qc/SurveyShape.h"

class CppSQLite3DB;
class TOutputSet;

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

// What the run asks of the window, or tells it, while it runs.
class TCalcHost {
  public:
    virtual ~TCalcHost() = default;

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

// Opens the source of a run's stations.
using InputOpener = std::function<std::unique_ptr<TStationInput>()>;

// Heights from a DEM for stations at (x, y) (metres, the run's coordinates):
// one per station, NaN outside the DEM or on its nodata, and how many that
// is; or why the DEM cannot give them (`refusal`, the user's text).
struct DemSample {
    std::vector<double> heights;
    int64_t outside = 0;
    std::string refusal;
};
using DemSampler = std::function<DemSample(const std::vector<double> &x,
                                           const std::vector<double> &y)>;

// Where a run's stations come from: the path the user named (it names the
// source in messages and is compared with the outputs) and how to open it;
// without an opener, the path is read as a station text file with the
// settings' encoding and decimal separator.
struct RunInput {
    std::string path;
    InputOpener open;
    // Columns the companion table adds after its own for the source's
    // stations (longitude and latitude, say).
    std::vector<ExtraColumn> extra_columns;
    // The stations' heights from a DEM, with quality control; none without.
    DemSampler dem;
};

struct QcFindings;
// The columns the companion table and the GeoPackage add after their own:
// the input's (longitude and latitude), then the diagnosis's. They read
// `qc` and `input`, which must outlive them.
std::vector<ExtraColumn> CompanionExtras(const QcFindings &qc,
                                         const RunInput &input);

// Where a run writes: the result file and, with quality control, the
// companion table, among the caller's set of outputs (which it checks, starts
// and puts in place; platform/OutputSet.h).
struct RunOutputs {
    // Null: the run keeps a set of its own, with the result at
    // `result_path` and the table beside it (or at the settings' table
    // path), and puts it in place itself.
    TOutputSet *set = nullptr;
    std::string result_path;
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

// Bytes of the source that are not text, when they ended the run.
struct NotText {
    int64_t line = 0;     // 0: none
    std::string encoding; // the encoding it was read in ("" UTF-8)
    std::string bytes;    // the bytes themselves
};

// How a run ended and all it found.
struct RunOutcome {
    CalcResult result = CalcResult::Failed;
    int64_t loaded = 0; // stations the first pass read (duplicates included)
    int64_t unread = 0; // lines of the first pass, not blank, that held no
                        // station
    RunFigures figures; // counts and r2 over the stations (qc/RunFigures.h)
    // Quality control: every station's record in file order (those a stopped
    // run did not reach included), the suspects, the duplicates, where the
    // table went.
    QcFindings qc;
    TRunReport report;              // reasons met, and the first unread lines
    bool result_opened = false;     // the result file was started
    bool result_written = false;    // it replaced the earlier one (the run's
                                    // own set only)
    bool nothing_estimated = false; // completed, and no station had a
                                    // leave-one-out estimate
    // More than half of the stations met had no leave-one-out estimate; the
    // spacing measured and the parameters it suggests are then in `spacing`
    // and `suggested` (also when none had one).
    bool mostly_blank = false;
    SurveySpacing spacing;
    SuggestedParameters suggested;
    // Every coordinate lies within +-180 and +-90.
    bool looks_like_degrees = false;
    // What the user should know of the survey and the run, a line each: the
    // look of its numbers, lines with more than five fields, the advice for
    // a spacing that left most stations blank, temporary files of an earlier
    // run removed.
    std::vector<std::string> notes;
    NotText not_text;
    // The error that ended a run that failed, as the error box showed it.
    std::string error;
};

// Whether a run's finished outputs take the place of the earlier ones: yes
// after a completed run that estimated something, a stopped one (the lines
// so far) and one that failed after writing lines; no after a run that
// estimated nothing or wrote nothing.
bool KeepsOutputs(const RunOutcome &outcome, const RunOutputs &outputs);

class TCalcRun {
  public:
    explicit TCalcRun(TCalcHost &host);
    ~TCalcRun();
    TCalcRun(const TCalcRun &) = delete;
    TCalcRun &operator=(const TCalcRun &) = delete;

    // The whole run (the Calc button): reads `input`, writes into `outputs`
    // and returns how it ended with all it found. Never throws.
    RunOutcome Run(const RunSettings &settings, const RunInput &input,
                   RunOutputs outputs);

  private:
    struct Pass; // one run's state, kept out of this header
    TCalcHost &host;
};
