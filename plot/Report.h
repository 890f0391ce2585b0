// A run's quality-control report as one PDF a client can read: a title page
// (the survey file, the parameters, the counts, the figure), the suspects,
// their causes and proposed fixes, the density check, heights against a DEM,
// duplicates and close pairs, and the method in plain words. The callers fill
// a ReportContent from the run's outcome; the diagnosis, the DEM's heights and
// the surveys' offsets are optional, their sections drawn when they are set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QDateTime>

#include "estimate/RunParameters.h"
#include "qc/Diagnosis.h"
#include "qc/Duplicates.h"
#include "qc/QcStation.h"
#include "qc/RunFigures.h"
#include "qc/SurveyNames.h"
#include "qc/SurveyOffsets.h"
#include "qc/SuspectRule.h"

class TFileReplacement;

// The paper a report is laid out on, portrait.
enum class ReportPaper : uint8_t { A4, Letter };

// The paper `text` names ("a4" or "letter", in any case); nullopt for another.
std::optional<ReportPaper> ParseReportPaper(const std::string &text);
// The names ParseReportPaper takes, as a user reads them: "a4 or letter".
std::string ReportPaperNames();

// True when `path` ends in ".pdf" (in any case): the one form of a report.
bool IsReportPath(const std::string &path);

// The survey file a report is of.
struct ReportSource {
    std::string path;   // as the user named it ("-": standard input)
    std::string name;   // what the title and every page's header call it
    int64_t size = -1;  // bytes; -1 when unknown (standard input, a pipe)
    std::string sha256; // lower-case hex; empty when unknown
};

// Describes the survey at `path`: its file name, and for a regular file its
// size and SHA-256, read now (a second read of the file, at disk speed).
// Standard input ("-"), a pipe or a device, or a file that cannot be read
// keep size -1 and no checksum. Needs no application object.
ReportSource DescribeSurveyFile(const std::string &path);

// Everything a report shows. The run's records are referred to, not copied:
// they must outlive WriteReport.
struct ReportContent {
    // The survey, the program and the paper.
    ReportSource source;
    std::string version; // the program's (KORVANEL_VERSION)
    std::string program; // the program that wrote it: the title's byline
    QDateTime written;   // shown on the title page with its UTC offset
    ReportPaper paper = ReportPaper::A4;

    // The run's settings as it took them.
    RunParameters parameters;
    SuspectOptions suspect_rule;
    double duplicate_distance = 1.0; // metres; 0: no close pairs looked for

    // The run's records: counts (FiguresOf), every station in file order,
    // the suspects (most extreme first) and the duplicates.
    const RunFigures *figures = nullptr;
    const TQcStations *stations = nullptr;
    const SuspectFindings *suspects = nullptr;
    const DuplicateFindings *duplicates = nullptr;
    // What the run noted of the survey and the run, a line each.
    std::vector<std::string> notes;

    // What the diagnosis found (qc/Diagnosis.h): each suspect's cause and
    // proposed fix in the suspects' table, counted on the title page, and
    // the density check's section; null: neither. `density` is the one the
    // survey was reduced with, g/cm3.
    const Diagnosis *diagnosis = nullptr;
    double density = DiagnosisOptions{}.density;
    // Each station's height from a DEM, metres (NaN outside it), in the
    // order of `stations`; null or empty: no DEM, no heights' section.
    // `dem_name` names the raster on the title page (empty: not named).
    const std::vector<double> *dem = nullptr;
    std::string dem_name;
    double dem_tolerance = DiagnosisOptions{}.dem_tolerance; // metres

    // The stations' surveys (in the order of `stations`) and their offsets;
    // null, or a grouping of no station: no surveys' section. The options
    // the offsets were estimated and judged with, and the --survey-from-name
    // text that named the surveys (empty: the source's survey field did).
    const SurveyGrouping *grouping = nullptr;
    const SurveyOffsets *offsets = nullptr;
    SurveyOffsetOptions survey_options;
    std::string survey_from_name;
    // Suspects fewer with the shifted surveys levelled than on the values as
    // they are (negative: more), and the stations estimated again for it.
    int64_t suspects_levelled = 0;
    int64_t estimated_again = 0;
};

// The rows of the suspects' table on each page after its first, for
// `paper` (the first page holds fewer, under the section's title).
size_t SuspectRowsPerPage(ReportPaper paper);

// Writes the report into `file`, begun for `path` with a run's other
// outputs, and finishes it (platform/OutputSet.h puts it in place). Throws
// FileError naming `path` and the reason when it cannot be written; the
// temporary file is then gone. Needs a QGuiApplication (for the fonts).
void WriteReport(TFileReplacement &file, const std::string &path,
                 const ReportContent &content);
// The same to `path` through a temporary file that replaces an earlier file
// only once complete.
void WriteReport(const std::string &path, const ReportContent &content);
