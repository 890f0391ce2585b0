// The batch tool's stand-in for the window: messages on standard error, a
// progress bar on a terminal, Ctrl-C as Stop, and the closing summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/CalcRun.h"

class TBatchHost : public TCalcHost {
  public:
    // `verbose`: every line that is not a station is shown as it is met.
    TBatchHost(std::FILE *messages, bool show_progress, bool verbose = false);

    void SetRunning(bool running) override;
    void SetProgressMax(int32_t maximum) override;
    void SetProgressPosition(int32_t position) override;
    int32_t ProgressPosition() override;
    void ProcessPendingEvents() override;
    void ClearStopRequest() override;
    bool StopRequested() override;
    void ShowMessage(const std::string &text) override;
    void ShowError(const std::string &text) override;
    void LineNotRead(int64_t line, std::string_view text) override;
    void StationsLoaded(int64_t loaded) override;
    void StationDone(const StationOutcome &outcome) override;

    // Writes the closing summary of a run that ended with `outcome` under
    // `settings` to `to`; `written`: its outputs took the earlier ones'
    // place.
    void PrintSummary(std::FILE *to, const RunOutcome &outcome,
                      const RunSettings &settings, bool written) const;

  private:
    // The findings of quality control: suspects, duplicates, the table.
    void PrintQuality(std::FILE *to, const RunOutcome &outcome,
                      const RunSettings &settings, bool written) const;
    // Why the suspects are wrong: rough ground, heights against a DEM, z's
    // calibration, the density check.
    void PrintDiagnosis(std::FILE *to, const QcFindings &qc,
                        const RunSettings &settings) const;
    void DrawProgress(bool final);
    void ClearProgressLine();

    std::FILE *messages;
    bool show_progress;
    bool verbose;
    bool progress_drawn = false;
    bool passing = false; // the second pass has begun
    int32_t progress_max = 0;
    int32_t progress_position = 0;
    int64_t loaded = 0; // stations the run loaded, for the progress bar
    int64_t done = 0;   // of them, estimated so far
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point last_drawn;
};

// Installs the handlers of the ending signals: the first Ctrl-C requests
// Stop; a second one, SIGTERM and SIGHUP remove the run's temporary files and
// end the process.
void InstallStopOnInterrupt();
// True once Ctrl-C was pressed.
bool InterruptRequested();
