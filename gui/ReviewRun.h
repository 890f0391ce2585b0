// The run a results window shows, kept for its review: Recalculate runs it
// again with the decisions, and the cleaned survey is read from its input.
#pragma once

#include <string>
#include <vector>

#include <QString>

#include "app/RunSettings.h"
#include "app/SurveySource.h"
#include "gui/ResultsWindow.h"
#include "review/ReviewFile.h"

struct ShownRun {
    RunSettings settings;
    SurveyInput survey; // as PrepareSurvey left it; runs read from it
    std::vector<std::string> notes; // the preparation's, for the summary
    std::string data;               // the station file's path, as typed
    std::string result;             // the result file's path
    std::string station_file;       // its name, in the results' title
};

// Writes the survey of `run` with the decisions `rows` applied at `path`:
// rejected stations left out, fixes used; a station file, a CSV table or a
// GeoPackage by the extension, through a temporary file put in place at the
// end. Never over the station file or one of `apart` (the result, the
// companion table, the review file); those, an unknown extension and a
// failure are refused with the user's text, nothing written.
CleanSaveOutcome SaveCleanedSurvey(const std::string &path, ShownRun &run,
                                   const std::vector<std::string> &apart,
                                   const std::vector<ReviewRow> &rows);
