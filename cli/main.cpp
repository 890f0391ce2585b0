// korvanel-batch: leave-one-out kriging residuals of a station file, from the
// command line. Runs the window's Calc run with the window's parameters.
#include <cmath>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QDateTime>

#include "app/CalcRun.h"
#include "app/Jobs.h"
#include "app/ResultPath.h"
#include "app/RunReport.h"
#include "app/RunSettings.h"
#include "app/StationInput.h"
#include "app/SurveyReport.h"
#include "app/SurveySource.h"
#include "cli/BatchHost.h"
#include "platform/FileError.h"
#include "platform/Locale.h"
#include "platform/OutputSet.h"
#include "platform/TemporaryFiles.h"
#include "plot/FigureFile.h"
#include "plot/FigureModel.h"
#include "plot/OffscreenGui.h"
#include "plot/Report.h"
#include "qc/SurveyShape.h"
#include "review/CleanSurvey.h"
#include "review/ReviewFile.h"
#include "review/ReviewedInput.h"
#include "summary/RunSummary.h"

namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;
constexpr int exit_interrupted = 130; // 128 + SIGINT, as shells report Ctrl-C
constexpr int32_t max_jobs = 256;
constexpr const char *program = "korvanel-batch";

// A usage error: the message on standard error, then the usual hint.
int UsageError(const std::string &message) {
    std::fprintf(stderr, "%s\nRun with --help for more information.\n",
                 message.c_str());
    return exit_usage;
}

constexpr size_t npos = std::string::npos;

// What --plot asked for.
struct PlotRequest {
    std::string path; // empty: no picture
    const FigureFormat *format = nullptr;
    QSize size{default_figure_width, default_figure_height};
};

// What --report asked for.
struct ReportRequest {
    std::string path; // empty: no report
    ReportPaper paper = ReportPaper::A4;
    // What the report names as given: the DEM (--dem; empty: none) and the
    // survey pattern (--survey-from-name; empty: the source's field).
    std::string dem;
    std::string survey_from_name;
};

// Abandons `file` and says so when there is nothing to draw: false then.
bool SomethingToDraw(const RunOutcome &outcome, TFileReplacement &file,
                     const char *what, const std::string &path) {
    if (outcome.qc.stations.Size() > 0) {
        return true;
    }
    file.Abandon();
    std::fprintf(stderr,
                 "No %s: no station was estimated, %s was not written.\n", what,
                 path.c_str());
    return false;
}

// Draws the run's figure into `file`, begun for the picture asked for (Qt
// started by the caller). False, with a message, when the picture could not
// be written or there is nothing to draw.
bool WritePlot(const PlotRequest &plot, TFileReplacement &file,
               const RunOutcome &outcome, const RunSettings &settings,
               const std::string &data) {
    if (!SomethingToDraw(outcome, file, "picture", plot.path)) {
        return false;
    }
    const QcFindings &findings = outcome.qc;
    const size_t slash = data.find_last_of('/');
    FigureHeader header;
    header.station_file = data == "-"                  ? "standard input"
                          : slash == std::string::npos ? data
                                                       : data.substr(slash + 1);
    header.parameters = settings.parameters;
    header.suspect_threshold = settings.qc.suspect_threshold;
    try {
        TFigureModel model(header, outcome.figures, findings.stations,
                           findings.suspects, findings.duplicates);
        model.SetDiagnosis(&findings.diagnosis);
        model.SetSurveys(findings.grouping, findings.offsets);
        WriteFigure(file, plot.path, *plot.format, model, plot.size);
    } catch (const FileError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return false;
    }
    return true;
}

// Writes the run's report into `file`, begun for the report asked for (Qt
// started by the caller); `notes`: how the stations were read. False, with
// a message, when it could not be written or there is nothing to report.
bool WriteReportFile(const ReportRequest &report, TFileReplacement &file,
                     const RunOutcome &outcome, const RunSettings &settings,
                     const std::string &data,
                     const std::vector<std::string> &notes) {
    if (!SomethingToDraw(outcome, file, "report", report.path)) {
        return false;
    }
    ReportContent content;
    content.source = DescribeSurveyFile(data);
    content.version = KORVANEL_VERSION;
    content.program = program;
    content.written = QDateTime::currentDateTime();
    content.paper = report.paper;
    content.parameters = settings.parameters;
    content.suspect_rule = settings.qc.SuspectRule();
    content.duplicate_distance = settings.qc.duplicate_distance;
    content.figures = &outcome.figures;
    content.stations = &outcome.qc.stations;
    content.suspects = &outcome.qc.suspects;
    content.duplicates = &outcome.qc.duplicates;
    content.diagnosis = &outcome.qc.diagnosis;
    content.density = settings.qc.density;
    content.dem = &outcome.qc.dem;
    content.dem_name = report.dem;
    content.dem_tolerance = settings.qc.dem_tolerance;
    content.grouping = &outcome.qc.grouping;
    content.offsets = &outcome.qc.offsets;
    content.survey_options = settings.qc.surveys;
    content.survey_from_name = report.survey_from_name;
    content.suspects_levelled = outcome.qc.suspects_levelled;
    content.estimated_again = outcome.qc.estimated_again;
    content.notes = notes;
    content.notes.insert(content.notes.end(), outcome.notes.begin(),
                         outcome.notes.end());
    try {
        WriteReport(file, report.path, content);
    } catch (const FileError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return false;
    }
    return true;
}

// The limit of a source read once, from --stdin-limit (GiB).
uint64_t ReadLimit(double gibibytes) {
    return static_cast<uint64_t>(gibibytes * 1024.0 * 1024.0 * 1024.0);
}

// --suggest: the spacing of the survey and the parameters that suit it, in a
// form that can be pasted back on the command line. Reads the stations only.
int Suggest(const std::string &data, int32_t n, SurveyInput &survey,
            const std::string &encoding) {
    std::vector<double> x, y;
    try {
        std::unique_ptr<TStationInput> input;
        if (survey.listed) {
            input =
                std::make_unique<TStationListInput>(std::move(survey.stations));
        } else if (survey.held) {
            input = std::make_unique<TStationTextInput>(
                data, std::move(survey.bytes), DecimalSeparator(), encoding);
        } else {
            input = std::make_unique<TStationTextInput>(
                data, DecimalSeparator(), encoding);
        }
        input->Rewind();
        InputRecord record;
        while (input->Next(record)) {
            if (record.is_station) {
                x.push_back(record.station.x);
                y.push_back(record.station.y);
            }
        }
    } catch (const EncodingError &error) {
        std::fprintf(stderr, "error: %s\n",
                     NotTextMessage(data, error.line, error.encoding,
                                    error.bytes, error.what())
                         .c_str());
        return exit_failure;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "error: %s\n", error.what());
        return exit_failure;
    }
    const SurveySpacing spacing = MeasureSpacing(x, y, n);
    if (!spacing.Known()) {
        std::fprintf(stderr,
                     "error: %s holds %lld distinct station positions: too "
                     "few to measure their spacing.\n",
                     data.c_str(), static_cast<long long>(spacing.stations));
        return exit_failure;
    }
    const SuggestedParameters suggested = SuggestParameters(spacing);
    std::printf("# %lld stations: %s\n%s\n",
                static_cast<long long>(spacing.stations),
                suggested.reasoning.c_str(), suggested.CommandLine().c_str());
    return exit_success;
}

// Writes `text` into an output's temporary file and finishes it; `what`
// names it in the message of a failure.
bool WriteTextOutput(TFileReplacement &file, const std::string &text,
                     const char *what) {
    std::FILE *stream = file.File();
    int error = 0;
    if (stream == nullptr ||
        std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
        error = errno != 0 ? errno : EIO;
    } else {
        error = file.Finish();
    }
    if (error != 0) {
        file.Abandon();
        std::fprintf(stderr, "error: %s %s could not be written: %s\n", what,
                     file.Target().c_str(), std::strerror(error));
        return false;
    }
    return true;
}

// What a review did, for the summary.
SummaryReview ReviewFigures(const TReviewDecisions &decisions,
                            const std::string &path) {
    SummaryReview review;
    review.file = path;
    review.decisions = static_cast<int64_t>(decisions.Rows().size());
    const ReviewTally &tally = decisions.Tally();
    review.kept = tally.kept;
    review.rejected = tally.rejected;
    review.fixed = tally.fixed;
    review.levelled = tally.levelled;
    for (const ReviewRow &row : decisions.Stale()) {
        review.stale.push_back(StaleText(row));
    }
    return review;
}

void PrintReview(const TReviewDecisions &decisions, const std::string &path) {
    const ReviewTally &tally = decisions.Tally();
    std::printf("Review%s%s: %zu decisions; stations kept %lld, rejected %lld, "
                "fixed %lld, levelled %lld\n",
                path.empty() ? "" : " ", path.c_str(), decisions.Rows().size(),
                static_cast<long long>(tally.kept),
                static_cast<long long>(tally.rejected),
                static_cast<long long>(tally.fixed),
                static_cast<long long>(tally.levelled));
    const std::vector<ReviewRow> stale = decisions.Stale();
    if (!stale.empty()) {
        std::printf("  %zu decisions match no station and were not applied "
                    "(stale):\n",
                    stale.size());
        for (size_t k = 0; k < std::min<size_t>(stale.size(), 10); ++k) {
            std::printf("    %s\n", StaleText(stale[k]).c_str());
        }
        if (stale.size() > 10) {
            std::printf("    ... and %zu more\n", stale.size() - 10);
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    std::string data, output;
    ParameterTexts fields = DefaultParameterTexts();
    std::string separator;
    std::string encoding;
    bool verbose = false;
    int32_t jobs = DefaultJobs();

    CLI::App app{"Leave-one-out kriging residuals for every station of a "
                 "gravity survey.\n"
                 "Writes a fixed-column table with r1 (all stations) and r2 "
                 "(station left out).",
                 program};
    app.set_version_flag("--version",
                         std::string(program) + " " + KORVANEL_VERSION);
    app.add_option("STATIONS", data,
                   "station file: x y point h value per line (UTF-8 unless "
                   "--encoding says otherwise); - reads standard input")
        ->required();
    app.add_option(
        "-o,--output", output,
        "result file (default: the station file's name with _res.dat)");
    app.add_option("--search-distance", fields.search_distance,
                   "starting half-size of the search square, metres; also "
                   "the kriging search radius")
        ->capture_default_str();
    app.add_option("--increment", fields.increment,
                   "growth step of the half-size, metres")
        ->capture_default_str();
    app.add_option("--min-points", fields.min_points,
                   "minimum number of stations N in the square")
        ->capture_default_str();
    app.add_option("--cell-size", fields.cell_size, "grid cell size, metres")
        ->capture_default_str();
    app.add_option("--decimal-separator", separator,
                   "decimal separator of the numbers (default: the locale's)")
        ->type_name("'.' or ','")
        ->check(CLI::Validator(
            [](std::string &text) {
                return text == "." || text == ","
                           ? std::string()
                           : "the decimal separator is '.' or ',', not '" +
                                 text + "'";
            },
            "", "separator"));
    app.add_option("--encoding", encoding,
                   "text encoding of the station file, as iconv names it "
                   "(for example LATIN1 or WINDOWS-1250; default UTF-8)")
        ->type_name("NAME");
    app.add_option(
           "-j,--jobs", jobs,
           "stations estimated at once, each job on a thread of its own "
           "(default: the cores this process may use, at most 8); the "
           "result is the same for any number")
        ->check(CLI::Range(1, max_jobs))
        ->capture_default_str();
    QcSettings qc;
    bool no_qc = false;
    app.add_option("--csv", qc.table_path,
                   "companion table (CSV, UTF-8) of every station with its "
                   "estimates, sigma, z, r2_clean and verdict (default: the "
                   "result's name with .csv)");
    app.add_option("--suspect-threshold", qc.suspect_threshold,
                   "robust scales of r2 beyond which a station is a suspect")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--duplicate-distance", qc.duplicate_distance,
                   "stations closer than this, metres, are reported as a "
                   "pair (0: none)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    std::string survey_from_name;
    app.add_option("--survey-from-name", survey_from_name,
                   "the survey of each station: the first match of REGEX in "
                   "its name, or with auto the name without its trailing "
                   "digits; offsets between surveys are then estimated")
        ->type_name("REGEX|auto");
    app.add_option("--reference-survey", qc.surveys.reference,
                   "the survey held at 0 (default: the level most stations "
                   "agree on)")
        ->type_name("ID");
    app.add_option("--offset-floor", qc.surveys.offset_floor,
                   "a survey is shifted when its offset is beyond 3 standard "
                   "errors and beyond this, mGal")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--density", qc.density,
                   "the density the Bouguer anomaly was reduced with, g/cm3 "
                   "(1.0 to 4.0): gives a wrong height's effect on the value "
                   "and is checked against the density the residuals prefer")
        ->type_name("RHO")
        ->check(CLI::Range(1.0, 4.0))
        ->capture_default_str();
    std::string summary_path;
    app.add_option("--summary", summary_path,
                   "also write a machine-readable summary of the run "
                   "(parameters, counts, r2, suspects with cause and fix, "
                   "duplicates, the density check, the files written) as "
                   "JSON")
        ->type_name("PATH.json");
    std::string review_path, clean_path;
    app.add_option("--review", review_path,
                   "apply the decisions of a review file "
                   "(scope,id,x,y,decision,value,h,note): rejected stations "
                   "left out, fixed values and heights used, levelled surveys "
                   "shifted")
        ->type_name("PATH.csv");
    app.add_option("--clean", clean_path,
                   "also write the survey with the review's decisions applied: "
                   "a station file (.dat, .txt), a CSV table (.csv) or a "
                   "GeoPackage (.gpkg)")
        ->type_name("PATH");
    std::string dem;
    app.add_option("--dem", dem,
                   "a digital elevation model (any raster GDAL reads, in its "
                   "own coordinate system): each station's height is "
                   "compared with it, and a wrong height named as a cause")
        ->type_name("RASTER");
    app.add_option("--dem-tolerance", qc.dem_tolerance,
                   "metres a station's height may lie from the DEM's before "
                   "it is taken to be wrong")
        ->type_name("METRES")
        ->check(CLI::Validator(
            [](std::string &text) {
                double metres = 0.0;
                return CLI::detail::lexical_cast(text, metres) &&
                               metres > 0.0 && std::isfinite(metres)
                           ? std::string()
                           : "the tolerance is a positive number of metres, "
                             "not '" +
                                 text + "'";
            },
            "", "positive"))
        ->capture_default_str();
    app.add_flag("--no-qc", no_qc,
                 "the result file only: no sigma, no suspects, no duplicates, "
                 "no companion table");
    TableOptions tables;
    std::string gpkg;
    std::string columns;
    app.add_option("--columns", columns,
                   "the fields of a table: x=FIELD,y=FIELD,point=FIELD,"
                   "h=FIELD,value=FIELD (lon= and lat= for degrees); without "
                   "it common names are recognised")
        ->type_name("ROLE=FIELD,...");
    app.add_option("--layer", tables.layer,
                   "the layer of a source that holds several");
    app.add_option("--source-crs", tables.source_crs,
                   "the coordinate system of the coordinates read, when the "
                   "file does not say (EPSG:4326, a WKT file, ...)")
        ->type_name("CRS");
    app.add_option("--crs", tables.crs,
                   "the projected coordinate system to compute in (default "
                   "for longitude and latitude: the WGS 84 UTM zone of the "
                   "survey's centre)")
        ->type_name("CRS");
    app.add_option("--gpkg", gpkg,
                   "also write the companion table as a GeoPackage layer "
                   "'stations' with point geometry")
        ->type_name("PATH");
    PlotRequest plot;
    std::string plot_size;
    app.add_option("--plot", plot.path,
                   "writes the figure of the run: the map of the stations "
                   "coloured by r2 with the suspects ringed and named, and the "
                   "histogram of r2; PATH.png (raster) or PATH.svg (vector)")
        ->type_name("PATH");
    app.add_option("--plot-size", plot_size,
                   "size of the figure in pixels (default 1600x1000)")
        ->type_name("WxH");
    ReportRequest report;
    std::string paper;
    app.add_option("--report", report.path,
                   "writes the quality-control report of the run as one PDF: "
                   "the survey, the parameters, the counts and the figure, "
                   "every suspect with its cause and proposed fix, the "
                   "density check, heights against a DEM, duplicates and "
                   "close pairs, and the method")
        ->type_name("PATH.pdf");
    app.add_option("--paper", paper,
                   "the report's paper: " + ReportPaperNames() +
                       " (default a4)")
        ->type_name("NAME");
    bool suggest = false;
    app.add_flag("--suggest", suggest,
                 "print the parameters that suit the stations' spacing (with "
                 "--min-points as given), ready to paste on the command "
                 "line, and run nothing");
    double stdin_limit = static_cast<double>(default_read_once_limit) /
                         (1024.0 * 1024.0 * 1024.0);
    app.add_option("--stdin-limit", stdin_limit,
                   "the most standard input or a pipe may hold, GiB (it is "
                   "read into memory once)")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_flag("-v,--verbose", verbose,
                 "show every line that is not a station, as it is met");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        const int code = app.exit(error);
        return code == 0 ? exit_success : exit_usage;
    }

    if (!separator.empty()) {
        SetDecimalSeparator(separator[0]);
    }
    // The parameters are read in the decimal separator of the run, and one
    // that is not a number is a usage error before anything is read.
    const char decimal = DecimalSeparator();
    RunSettings settings;
    if (const std::optional<ParameterRefusal> refusal =
            ParseParameters(fields, decimal, settings.parameters)) {
        const char *options[] = {"--search-distance", "--increment",
                                 "--min-points", "--cell-size"};
        std::string text =
            std::string(options[static_cast<int>(refusal->field)]) + ": " +
            refusal->message;
        if (refusal->field != ParameterField::MinPoints) {
            text += std::string(" (decimal separator '") + decimal + "')";
        }
        return UsageError(text);
    }
    if (!plot.path.empty()) {
        plot.format = FigureFormatOf(plot.path);
        if (plot.format == nullptr) {
            return UsageError("--plot: a picture is written as " +
                              FigureExtensionsText() + ", not as '" +
                              plot.path + "'");
        }
        if (no_qc) {
            return UsageError("--plot draws what quality control found: it "
                              "cannot go with --no-qc");
        }
    }
    if (!plot_size.empty()) {
        std::string why;
        if (plot.path.empty()) {
            return UsageError("--plot-size: there is no --plot to size");
        }
        if (!ParseFigureSize(plot_size, plot.size, why)) {
            return UsageError("--plot-size: " + why);
        }
    }
    if (!report.path.empty()) {
        if (!IsReportPath(report.path)) {
            return UsageError("--report: a report is written as .pdf, not as "
                              "'" +
                              report.path + "'");
        }
        if (no_qc) {
            return UsageError("--report tells what quality control found: it "
                              "cannot go with --no-qc");
        }
    }
    if (!paper.empty()) {
        if (report.path.empty()) {
            return UsageError("--paper: there is no --report to lay out");
        }
        const std::optional<ReportPaper> chosen = ParseReportPaper(paper);
        if (!chosen) {
            return UsageError("--paper: the paper is " + ReportPaperNames() +
                              ", not '" + paper + "'");
        }
        report.paper = *chosen;
    }
    report.dem = dem;
    report.survey_from_name = survey_from_name;
    if (!EncodingKnown(encoding)) {
        return UsageError("--encoding: the system knows no encoding named '" +
                          encoding + "' (see iconv --list)");
    }
    if (!survey_from_name.empty()) {
        SurveyNamerParse namer = ParseSurveyNamer(survey_from_name);
        if (!namer.namer) {
            return UsageError("--survey-from-name: '" + survey_from_name +
                              "' is not a regular expression: " + namer.error);
        }
        if (no_qc) {
            return UsageError("--survey-from-name groups stations for quality "
                              "control: it cannot go with --no-qc");
        }
        qc.survey_namer = std::move(namer.namer);
    }
    if (!summary_path.empty() && no_qc) {
        return UsageError("--summary tells what quality control found: it "
                          "cannot go with --no-qc");
    }
    CleanForm clean_form = CleanForm::StationText;
    if (!clean_path.empty() && !CleanFormOf(clean_path, clean_form)) {
        return UsageError("--clean: a cleaned survey is written as .dat, "
                          ".txt, .csv or .gpkg, not as '" +
                          clean_path + "'");
    }
    if (!gpkg.empty() && no_qc) {
        return UsageError("--gpkg writes the companion table, which --no-qc "
                          "leaves out");
    }
    if (!dem.empty() && no_qc) {
        return UsageError("--dem checks heights in quality control, which "
                          "--no-qc leaves out");
    }
    // The outputs, each against the others and the station file, before
    // anything is read. They are put in place in this order, the result
    // last: a new result says the run got to its end.
    TOutputSet outputs;
    outputs.SetInput("STATIONS", data);
    const size_t gpkg_output =
        gpkg.empty() ? npos : outputs.Add("--gpkg", gpkg, OutputForm::Database);
    const size_t plot_output =
        plot.path.empty() ? npos
                          : outputs.Add("--plot", plot.path, OutputForm::Text);
    const size_t summary_output =
        summary_path.empty()
            ? npos
            : outputs.Add("--summary", summary_path, OutputForm::Text);
    const size_t clean_output =
        clean_path.empty()
            ? npos
            : outputs.Add("--clean", clean_path,
                          clean_form == CleanForm::GeoPackage
                              ? OutputForm::Database
                              : OutputForm::Text);
    const size_t report_output =
        report.path.empty()
            ? npos
            : outputs.Add("--report", report.path, OutputForm::Text);
    // A pipe, a device or a folder has no name to put a result beside.
    if (output.empty() && !suggest) {
        std::error_code ignored;
        if (std::filesystem::is_directory(data, ignored)) {
            return UsageError("-o RESULT is needed when the stations come "
                              "from a folder (" +
                              data + ")");
        }
        if (ReadOnce(data)) {
            return UsageError("-o RESULT is needed when the stations come "
                              "from standard input, a pipe or a device");
        }
    }
    if (output.empty()) {
        output = ProposeResultPath(data);
    }
    qc.enabled = !no_qc;
    const RunOutputs run_outputs =
        AddRunOutputs(outputs, "-o", output, "--csv", qc);
    for (size_t k = 0; !dem.empty() && k < outputs.Size(); ++k) {
        if (SameOutputFile(outputs.Path(k), dem)) {
            return UsageError(outputs.Option(k) + " " + outputs.Path(k) +
                              " is the DEM named by --dem");
        }
    }
    if (!suggest) {
        const OutputProblem problem = outputs.CheckPaths();
        if (!problem.ok()) {
            if (problem.IsUsage()) {
                return UsageError(OutputMessage(problem));
            }
            std::fprintf(stderr, "error: %s\n", OutputMessage(problem).c_str());
            return exit_failure;
        }
    }
    // Tables and coordinate systems are read before the run.
    tables.decimal_separator = decimal;
    tables.encoding = encoding;
    if (!columns.empty()) {
        // Parsed here, once: the readers take the roles' fields.
        tables.columns.emplace();
        if (const GisError error = ParseColumnsOption(columns, *tables.columns);
            !error.ok()) {
            return UsageError(GisMessage(error));
        }
    }
    SurveyInput survey;
    survey.read_once_limit = ReadLimit(stdin_limit);
    const SurveyPreparation prepared = PrepareSurvey(data, tables, survey);
    for (const std::string &note : prepared.notes) {
        std::fprintf(stderr, "%s\n", note.c_str());
    }
    if (!prepared.Ready()) {
        std::fprintf(stderr, "error: %s\n", prepared.Error().c_str());
        return IsUsageProblem(prepared.refusal.problem) ? exit_usage
                                                        : exit_failure;
    }
    if (suggest) {
        return Suggest(data, settings.parameters.min_points, survey, encoding);
    }

    TBatchHost host(stderr, isatty(STDERR_FILENO) != 0, verbose);
    InstallStopOnInterrupt();
    settings.jobs = jobs;
    settings.encoding = encoding;
    settings.decimal_separator = decimal;
    settings.qc = qc;
    settings.explain_errors = true;
    RunInput input;
    input.path = data;
    FeedRun(input, survey, settings);
    // The review's decisions, applied to the stations as the run reads them;
    // the cleaned survey is taken from the same reading.
    std::shared_ptr<TReviewDecisions> decisions;
    std::unique_ptr<TCleanSurveyWriter> cleaned;
    if (!review_path.empty() || !clean_path.empty()) {
        ReviewFile review;
        if (!review_path.empty()) {
            review = ReadReviewFile(review_path);
            if (!review.problems.empty()) {
                for (const std::string &line :
                     DescribeProblems(review_path, review.problems)) {
                    std::fprintf(stderr, "error: %s\n", line.c_str());
                }
                std::fprintf(stderr,
                             "The review file has rows that cannot be "
                             "taken: nothing was run.\n");
                return exit_failure;
            }
        }
        decisions = std::make_shared<TReviewDecisions>(std::move(review.rows));
        ReviewSink sink;
        if (!clean_path.empty()) {
            cleaned = std::make_unique<TCleanSurveyWriter>(
                clean_form, !survey.listed, decimal);
            sink = [writer = cleaned.get(),
                    survey_of = SurveyOfRecords(settings)](
                       const InputRecord &record, bool rejected,
                       bool changed) {
                writer->Take(record, rejected, changed, survey_of(record));
            };
        }
        ApplyReview(input, settings, decisions, {}, std::move(sink));
    }
    if (!dem.empty()) {
        input.dem = MakeDemSampler(dem, survey.crs);
    }
    TCalcRun run(host);
    const RunOutcome outcome = run.Run(settings, input, run_outputs);
    const CalcResult result = outcome.result;
    // Surveys that cannot be used were asked for: nothing is kept.
    if (const std::string problem = SurveyUsageProblem(outcome.qc, settings.qc);
        !problem.empty()) {
        outputs.Abandon();
        return UsageError(problem);
    }

    // The figure, the report and the GeoPackage join the run's outputs, and
    // all of them take the earlier ones' place together, or none does.
    bool kept = KeepsOutputs(outcome, run_outputs);
    bool failed_output = false;
    bool gpkg_written = false, plot_written = false, report_written = false;
    std::vector<std::string> kept_layers;
    if (kept && gpkg_output != npos && outcome.qc.checked) {
        const GeoPackageWritten written = WriteStationsGeoPackage(
            gpkg, outputs.DatabaseTemporary(gpkg_output), outcome.qc.stations,
            survey.crs.wkt, CompanionExtras(outcome.qc, input),
            SurveyAreas(outcome.qc));
        if (written.error.empty()) {
            outputs.MarkFinished(gpkg_output);
            kept_layers = written.kept_layers;
            gpkg_written = true;
        } else {
            std::fprintf(stderr, "error: %s\n", written.error.c_str());
            failed_output = true;
        }
    }
    // Qt starts here, on its offscreen platform, and only for a picture or
    // a report.
    std::unique_ptr<TOffscreenGui> gui;
    if (kept && (plot_output != npos || report_output != npos)) {
        gui = std::make_unique<TOffscreenGui>();
    }
    if (kept && plot_output != npos) {
        plot_written = WritePlot(plot, outputs.Stream(plot_output), outcome,
                                 settings, data);
        failed_output = failed_output || !plot_written;
    }
    bool clean_written = false;
    if (kept && clean_output != npos && cleaned) {
        if (clean_form == CleanForm::GeoPackage) {
            std::vector<SurveyPoint> points;
            points.reserve(cleaned->Stations().size());
            for (const CleanStation &s : cleaned->Stations()) {
                points.push_back({s.x, s.y, s.h, s.value, s.name, s.survey});
            }
            const GeoPackageWritten written = WriteSurveyGeoPackage(
                clean_path, outputs.DatabaseTemporary(clean_output), points,
                survey.crs.wkt);
            if (written.error.empty()) {
                outputs.MarkFinished(clean_output);
                clean_written = true;
            } else {
                std::fprintf(stderr, "error: %s\n", written.error.c_str());
            }
        } else {
            clean_written = WriteTextOutput(outputs.Stream(clean_output),
                                            cleaned->Text(),
                                            "the cleaned survey");
        }
        failed_output = failed_output || !clean_written;
    }
    if (kept && report_output != npos) {
        report_written =
            WriteReportFile(report, outputs.Stream(report_output), outcome,
                            settings, data, prepared.notes);
        failed_output = failed_output || !report_written;
    }
    bool summary_written = false;
    if (kept && summary_output != npos) {
        SummaryContext context;
        context.program = program;
        context.version = KORVANEL_VERSION;
        context.station_file = data;
        context.dem = dem;
        context.result = output;
        context.table = outcome.qc.table_path;
        context.gpkg = gpkg_written ? gpkg : std::string();
        context.plot = plot_written ? plot.path : std::string();
        context.summary = summary_path;
        context.clean = clean_written ? clean_path : std::string();
        context.report = report_written ? report.path : std::string();
        if (decisions) {
            context.review = ReviewFigures(*decisions, review_path);
        }
        summary_written = WriteTextOutput(
            outputs.Stream(summary_output),
            RunSummaryJson(outcome, settings, context), "the summary");
        failed_output = failed_output || !summary_written;
    }
    if (kept) {
        // A failure drops the outputs after it, the result among them.
        const OutputProblem problem = outputs.Publish();
        if (!problem.ok()) {
            std::fprintf(stderr, "error: %s\n", OutputMessage(problem).c_str());
            failed_output = true;
            kept = gpkg_written = plot_written = report_written =
                summary_written = clean_written = false;
        }
    } else {
        outputs.Abandon();
    }

    const bool result_kept = kept && outcome.result_opened;
    switch (result) {
    case CalcResult::Completed:
        host.PrintSummary(stdout, outcome, settings, result_kept);
        if (!result_kept) {
            std::printf("Nothing was written: the earlier files were kept.\n");
            return exit_failure;
        }
        if (gpkg_written) {
            std::printf("GeoPackage written to %s\n", gpkg.c_str());
            for (const std::string &layer : kept_layers) {
                std::printf("  its layer %s was kept\n", layer.c_str());
            }
        }
        if (plot_written) {
            std::printf("Picture written to %s\n", plot.path.c_str());
        }
        if (report_written) {
            std::printf("Report written to %s\n", report.path.c_str());
        }
        if (decisions) {
            PrintReview(*decisions, review_path);
        }
        if (clean_written) {
            std::printf("Cleaned survey written to %s\n", clean_path.c_str());
        }
        if (summary_written) {
            std::printf("Summary written to %s\n", summary_path.c_str());
        }
        std::printf("Result written to %s\n", output.c_str());
        return outcome.mostly_blank || failed_output ? exit_failure
                                                     : exit_success;
    case CalcResult::Stopped:
        host.PrintSummary(stdout, outcome, settings, result_kept);
        if (result_kept) {
            std::fprintf(stderr,
                         "Stopped after %lld of %lld stations: %s holds the "
                         "lines written so far%s.\n",
                         static_cast<long long>(outcome.figures.read),
                         static_cast<long long>(outcome.figures.Stations()),
                         output.c_str(),
                         settings.qc.enabled
                             ? ", the companion table marks the "
                               "rest not-reached"
                             : "");
        } else {
            std::fprintf(stderr,
                         "Stopped before writing: %s was left as it "
                         "was.\n",
                         output.c_str());
        }
        return exit_interrupted;
    case CalcResult::Refused:
        if (outcome.loaded == 0 && prepared.columns_unknown) {
            // A header naming no column: say so, not a guess about numbers.
            std::fprintf(stderr, "hint: %s\n",
                         prepared.UnrecognisedHeader(data).c_str());
        } else if (outcome.unread > 0 && outcome.loaded == 0) {
            // Typically numbers written with the other decimal separator.
            std::fprintf(stderr,
                         "hint: the numbers are read with '%c' as the decimal "
                         "separator (see --decimal-separator)\n",
                         DecimalSeparator());
        }
        break;
    case CalcResult::Failed:
    case CalcResult::OpenFailed:
        break;
    }
    return exit_failure;
}
