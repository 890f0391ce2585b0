// A run's quality-control report as one PDF a client can read: a title page
// (the survey file, the parameters, the counts, the figure), the suspects,
// duplicates and close pairs, and the method in plain words. The callers fill
// a ReportContent from the run's outcome; what later steps of quality control
// find (causes, survey offsets, the density check, heights against a DEM,
// review decisions) are optional members, drawn when they are set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QDateTime>

#include "estimate/RunParameters.h"
#include "qc/Duplicates.h"
#include "qc/QcStation.h"
#include "qc/RunFigures.h"
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

// What later steps say of one suspect, a short text each (empty: nothing
// said): the cause found and the fix proposed (the diagnosis), the decision
// and its note (the review).
struct SuspectRemarks {
    std::string cause;
    std::string proposed_fix;
    std::string decision;
    std::string note;
};

// The level of one survey of a compilation against the others.
struct ReportSurvey {
    std::string id;
    int64_t stations = 0;
    int64_t in_contact = 0;          // stations with another survey's near them
    double offset = qc_none;         // mGal; NaN: it touches no other survey
    double standard_error = qc_none; // of the offset, mGal
    bool shifted = false; // flagged: beyond 3 standard errors and the floor
};

// The surveys merged into the file, and how they were told apart.
struct ReportSurveys {
    std::string grouping; // how a station's survey was found, for the title
    std::vector<ReportSurvey> surveys; // flagged first
    std::string method; // the method page's paragraph on the offsets
};

// The check of the reduction density: the regression of r2 on the height
// residual over the good stations.
struct ReportDensity {
    double density_used = 2.67; // g/cm3, the one the survey was reduced with
    std::string skipped;        // why the check was skipped; empty: it ran
    double slope = qc_none;     // mGal per metre of height residual
    double suggested = qc_none; // g/cm3
    double standard_error = qc_none; // of the suggested density, g/cm3
    int64_t stations = 0;            // in the regression
    std::string method;              // the method page's paragraph on the check
};

// One station whose height disagrees with the DEM.
struct ReportHeight {
    size_t station = 0;     // index into the run's stations
    double h_dem = qc_none; // metres
    double dh = qc_none;    // h - h_dem, metres
};

// The stations' heights against a DEM.
struct ReportHeights {
    std::string dem;                  // the raster's path
    double tolerance = 0.0;           // metres
    std::vector<ReportHeight> beyond; // |dh| beyond the tolerance, worst first
    std::string method; // the method page's paragraph on the heights
};

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

    // Later steps. Remarks, when set, hold one per suspect in the order of
    // suspects->suspects; the suspects' table then shows cause and proposed
    // fix (when any cause is given) and decision and note (when any decision
    // is), and the title page counts them. The other three each add their
    // parameters' lines to the title page, their section and their
    // paragraph of the method.
    std::optional<std::vector<SuspectRemarks>> remarks;
    std::optional<ReportSurveys> surveys;
    std::optional<ReportDensity> density;
    std::optional<ReportHeights> heights;
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
