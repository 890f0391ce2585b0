// A host for whole Calc runs in benchmarks: no progress display, messages on
// standard error; and a run of a station file with it.
#pragma once

#include <cstdio>
#include <string>

#include "app/CalcRun.h"

class QuietHost : public TCalcHost {
  public:
    void SetRunning(bool) override {}
    void SetProgressMax(int32_t) override {}
    void SetProgressPosition(int32_t p) override { position = p; }
    int32_t ProgressPosition() override { return position; }
    void ProcessPendingEvents() override {}
    void ClearStopRequest() override {}
    bool StopRequested() override { return false; }
    void ShowMessage(const std::string &text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void ShowError(const std::string &text) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
    }
    int32_t position = 0;
};

// Runs the station file `data` into `output` with `settings` (the default
// parameters unless set), quietly.
inline RunOutcome RunQuietly(const std::string &data, const std::string &output,
                             const RunSettings &settings = {}) {
    QuietHost host;
    RunInput input;
    input.path = data;
    RunOutputs outputs;
    outputs.result_path = output;
    TCalcRun run(host);
    return run.Run(settings, input, outputs);
}
