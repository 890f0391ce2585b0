// A host for whole Calc runs in benchmarks: the window's default parameters,
// no progress display, messages on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "app/CalcRun.h"

class QuietHost : public TCalcHost {
  public:
    std::string data, output;
    std::string FieldText(CalcField field) override {
        switch (field) {
        case CalcField::Data:
            return data;
        case CalcField::Output:
            return output;
        case CalcField::SearchDistance:
            return "2500";
        case CalcField::Increment:
            return "500";
        case CalcField::MinPoints:
            return "16";
        case CalcField::CellSize:
            return "200";
        }
        return {};
    }
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
