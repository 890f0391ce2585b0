// A scripted stand-in for the window, recording what the Calc run asks of it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/CalcRun.h"

// The window's fields a test fills in.
enum class CalcField {
    Data,
    SearchDistance,
    Increment,
    MinPoints,
    CellSize,
    Output
};

class FakeCalcHost : public TCalcHost {
  public:
    // The fields as typed, the parameters at their defaults (see
    // support/FieldRun.h for a run of them).
    std::map<CalcField, std::string> fields{
        {CalcField::SearchDistance, DefaultParameterTexts().search_distance},
        {CalcField::Increment, DefaultParameterTexts().increment},
        {CalcField::MinPoints, DefaultParameterTexts().min_points},
        {CalcField::CellSize, DefaultParameterTexts().cell_size}};
    // Stop is requested once this many stations are done (-1: never).
    int stop_after = -1;

    std::vector<bool> running_states; // every SetRunning, in order
    int32_t progress_max = -1;
    int32_t progress_position = 0;
    int events_processed = 0;
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    std::vector<StationOutcome> outcomes;
    std::vector<int64_t> unread_lines; // LineNotRead, in order
    int64_t loaded = -1;               // StationsLoaded
    std::vector<std::string>
        outcome_names; // the stations' names, in the order told

    void SetRunning(bool running) override {
        running_states.push_back(running);
    }
    void SetProgressMax(int32_t maximum) override { progress_max = maximum; }
    void SetProgressPosition(int32_t position) override {
        progress_position = position;
    }
    int32_t ProgressPosition() override { return progress_position; }
    void ProcessPendingEvents() override { ++events_processed; }
    void ClearStopRequest() override { stop_cleared = true; }
    bool StopRequested() override {
        return stop_after >= 0 &&
               static_cast<int>(outcomes.size()) >= stop_after;
    }
    void ShowMessage(const std::string &text) override {
        messages.push_back(text);
    }
    void ShowError(const std::string &text) override { errors.push_back(text); }
    void LineNotRead(int64_t line, std::string_view) override {
        unread_lines.push_back(line);
    }
    void StationsLoaded(int64_t count) override { loaded = count; }
    void StationDone(const StationOutcome &outcome) override {
        outcomes.push_back(outcome);
        outcome_names.emplace_back(outcome.station.point);
    }

    bool ConfirmReplace(const std::string &question) override {
        questions.push_back(question);
        return confirm;
    }

    bool stop_cleared = false;
    std::vector<std::string> questions; // ConfirmReplace, in order
    bool confirm = true;                // its answer
};
