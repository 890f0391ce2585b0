// The batch tool's stand-in for the window: fields from the command line,
// messages on standard error, a progress bar on a terminal, Ctrl-C as Stop, and
// the figures of the closing summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/CalcRun.h"

// The four parameters as the user wrote them, and the two paths.
struct BatchFields {
    std::string data;
    std::string output;
    std::string search_distance = "2500";
    std::string increment = "500";
    std::string min_points = "16";
    std::string cell_size = "200";
};

// Running figures over the stations of the second pass.
struct BatchSummary {
    int64_t loaded = 0;  // stations the first pass read
    int64_t read = 0;    // stations that parsed in the second pass
    int64_t written = 0; // stations with a result line
    int64_t blank =
        0; // written stations with a blank estimate (written as 0.000)
    int64_t with_r2 = 0; // written stations with a real leave-one-out estimate
    double sum_r2 = 0.0;
    double sum_r2_squared = 0.0;
    double largest_abs_r2 = -1.0;
    std::string largest_station; // its name, in UTF-8
    int64_t messages = 0;        // messages shown
};

class TBatchHost : public TCalcHost {
  public:
    // `verbose`: every line that is not a station is shown as it is met.
    TBatchHost(BatchFields fields, std::FILE *messages, bool show_progress,
               bool verbose = false);

    std::string FieldText(CalcField field) override;
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

    // Writes the closing summary of `run`, which ended with `result`, to `to`;
    // `written`: its outputs took the earlier ones' place.
    void PrintSummary(std::FILE *to, const TCalcRun &run, CalcResult result,
                      bool written) const;

    BatchSummary summary;

  private:
    // The findings of quality control: suspects, duplicates, the table.
    void PrintQuality(std::FILE *to, const TCalcRun &run, bool written) const;
    void DrawProgress(bool final);
    void ClearProgressLine();

    BatchFields fields;
    std::FILE *messages;
    bool show_progress;
    bool verbose;
    bool progress_drawn = false;
    bool passing = false; // the second pass has begun
    int32_t progress_max = 0;
    int32_t progress_position = 0;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point last_drawn;
};

// Installs the handlers of the ending signals: the first Ctrl-C requests
// Stop; a second one, SIGTERM and SIGHUP remove the run's temporary files and
// end the process.
void InstallStopOnInterrupt();
// True once Ctrl-C was pressed.
bool InterruptRequested();
