// The Calc run: loads a station file into the point table, estimates every
// station twice (with and without itself) and writes the result table. It knows
// nothing of the window toolkit: what it needs of the window it asks of a
// TCalcHost, which the window, the batch tool and the tests implement.
#pragma once

#include <cstdint>
#include <string>

#include "app/StationFile.h"

class CppSQLite3DB;

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
    bool written =
        false; // the estimator returned true and the line was written
    bool blank_all = false;     // estimate_all was blank (r1 written as 0)
    bool blank_without = false; // estimate_without was blank (r2 written as 0)
    double r1 = 0.0;
    double r2 = 0.0;
    double search_distance = 0.0; // final half-size of the window, metres
    int32_t n_points = 0;         // stations counted in the final window
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
    // station.
    virtual void ClearStopRequest() = 0;
    virtual bool StopRequested() = 0;
    // A modal message with an OK button (the gridder's refusals, the run's
    // own).
    virtual void ShowMessage(const std::string &text) = 0;
    // The error box that reports an error which ended the run.
    virtual void ShowError(const std::string &text) = 0;
    // Closes the main window (after a result file that cannot be opened).
    virtual void CloseWindow() = 0;
    // Told after every station of the second pass that parsed.
    virtual void StationDone(const StationOutcome &) {}
};

// How a run ended.
enum class CalcResult {
    Completed, // every station of the file was handled
    Stopped,   // the user stopped the second pass
    Refused,   // the run did not start: a message said why, nothing was written
    OpenFailed, // the result file could not be opened; the window was closed
    Failed,     // an error ended the run; the error box said why
};

// Texts the run shows.
inline constexpr const char *cell_size_message = "Cell size must be defined.";
inline constexpr const char *open_error_prefix = "Error by opening file ";
inline constexpr const char *same_file_message =
    "The result file is the station file itself; choose another result file so "
    "the stations are not overwritten: ";

// The smallest cell size the gridder accepts, metres.
inline constexpr double min_cell_size = 0.001;

// The value of an estimate that could not be made; anything not below
// blank_limit counts as blank and is written as a difference of 0.
inline constexpr double blank_estimate = 1.70141e38;
inline constexpr double blank_limit = 1e38;

// Difference estimate - observed, or 0 for a blank estimate or one that is not
// a number.
double Residual(double estimate, double observed);

class TRunMessages; // the run's message dedup, in CalcRun.cpp

class TCalcRun {
  public:
    // `db` is the window's connection; the run opens and closes its database on
    // it.
    TCalcRun(TCalcHost &host, CppSQLite3DB &db);

    // The whole run (the Calc button). Returns how it ended; never throws.
    CalcResult Run();

    // Stations estimated at once in the second pass. 1 (the window's): one
    // thread, one station after the other. Above 1: as many worker threads
    // over one shared index of the point table; the result file, the host's
    // calls (all on the caller's thread) and Stop are the same as with 1,
    // except that the gridder's messages reach the host between stations.
    int32_t jobs = 1;
    // Stations handed to the workers at once when jobs is above 1: enough
    // that their wait for a batch's last station costs little, few enough to
    // keep memory small.
    int32_t batch_size = 4096;

    // Figures of the last run.
    int32_t loaded =
        0; // lines that parsed in the first pass (duplicates included)
    int32_t done = 0;   // lines that parsed in the second pass
    int32_t unread = 0; // lines of the first pass, not blank, that did not
                        // parse as a station
    bool result_opened = false; // the result file was opened (and so
                                // replaced)
    int64_t invalid_line = 0;   // the station file's line with bytes that are
                                // not UTF-8, when that ended the run

  private:
    CalcResult RunPasses(TRunMessages &messages);

    TCalcHost &host;
    CppSQLite3DB &db;
};
