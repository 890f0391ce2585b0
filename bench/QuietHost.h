// A host for whole Calc runs in benchmarks: the window's default parameters,
// no progress display, messages on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "app/CalcRun.h"

class QuietHost : public TCalcHost {
  public:
    std::string data, output;
    // The four parameters, the window's defaults unless set.
    std::string search_distance = "2500", increment = "500", min_points = "16",
                cell_size = "200";
    std::string FieldText(CalcField field) override {
        switch (field) {
        case CalcField::Data:
            return data;
        case CalcField::Output:
            return output;
        case CalcField::SearchDistance:
            return search_distance;
        case CalcField::Increment:
            return increment;
        case CalcField::MinPoints:
            return min_points;
        case CalcField::CellSize:
            return cell_size;
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
