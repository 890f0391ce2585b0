// korvanel-batch: leave-one-out kriging residuals of a station file, from the
// command line. Runs the window's Calc run with the window's parameters.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "app/CalcRun.h"
#include "app/Jobs.h"
#include "app/ResultPath.h"
#include "cli/BatchHost.h"
#include "gis/SurveyInput.h"
#include "platform/FileError.h"
#include "platform/Locale.h"
#include "plot/FigureFile.h"
#include "plot/FigureModel.h"
#include "plot/OffscreenGui.h"
#include "store/CppSQLite3.h"

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

// True when both paths name one file that exists.
bool SamePath(const std::string &a, const std::string &b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

// What --plot asked for.
struct PlotRequest {
    std::string path; // empty: no picture
    const FigureFormat *format = nullptr;
    QSize size{default_figure_width, default_figure_height};
};

// Draws the run's figure into the picture asked for. Qt starts here, on its
// offscreen platform, and only here. False, with a message, when the picture
// could not be written or there is nothing to draw.
bool WritePlot(const PlotRequest &plot, const TCalcRun &run,
               const std::string &data) {
    const QcFindings &findings = run.qc_findings;
    if (findings.stations.Size() == 0) {
        std::fprintf(stderr,
                     "No picture: no station was estimated, %s was "
                     "not written.\n",
                     plot.path.c_str());
        return false;
    }
    const size_t slash = data.find_last_of('/');
    FigureHeader header;
    header.station_file = data == "-"                  ? "standard input"
                          : slash == std::string::npos ? data
                                                       : data.substr(slash + 1);
    header.search_distance = run.settings.search_distance;
    header.increment = run.settings.increment;
    header.min_points = run.settings.min_points;
    header.cell_size = run.settings.cell_size;
    header.suspect_threshold = run.qc.suspect_threshold;
    try {
        const TOffscreenGui gui;
        const TFigureModel model(header, findings.stations, findings.suspects,
                                 findings.duplicates);
        WriteFigure(plot.path, *plot.format, model, plot.size);
    } catch (const FileError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return false;
    }
    std::printf("Picture written to %s\n", plot.path.c_str());
    return true;
}

} // namespace

int main(int argc, char **argv) {
    BatchFields fields;
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
    app.add_option("STATIONS", fields.data,
                   "station file: x y point h value per line (UTF-8 unless "
                   "--encoding says otherwise); - reads standard input")
        ->required();
    app.add_option(
        "-o,--output", fields.output,
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
    app.add_flag("--no-qc", no_qc,
                 "the result file only: no sigma, no suspects, no duplicates, "
                 "no companion table");
    TableOptions tables;
    std::string gpkg;
    app.add_option("--columns", tables.columns,
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
    struct Number {
        const char *option;
        const std::string &text;
        bool integer;
    };
    for (const Number &number :
         {Number{"--search-distance", fields.search_distance, false},
          Number{"--increment", fields.increment, false},
          Number{"--min-points", fields.min_points, true},
          Number{"--cell-size", fields.cell_size, false}}) {
        double real = 0.0;
        int32_t whole = 0;
        const bool ok = number.integer
                            ? TryStrToInt(number.text, whole)
                            : TryStrToFloat(number.text, real, decimal);
        if (!ok) {
            return UsageError(
                std::string(number.option) + ": '" + number.text +
                "' is not a valid " +
                (number.integer ? "integer value"
                                : std::string("floating point value (decimal "
                                              "separator '") +
                                      decimal + "')"));
        }
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
    if (!EncodingKnown(encoding)) {
        return UsageError("--encoding: the system knows no encoding named '" +
                          encoding + "' (see iconv --list)");
    }
    if (!gpkg.empty() && no_qc) {
        return UsageError("--gpkg writes the companion table, which --no-qc "
                          "leaves out");
    }
    if (!gpkg.empty() && SamePath(gpkg, fields.data)) {
        return UsageError("--gpkg names the station file itself: " + gpkg);
    }
    // A pipe or device has no name to put a result beside.
    if (fields.output.empty() && ReadOnce(fields.data)) {
        return UsageError("-o RESULT is needed when the stations come "
                          "from standard input, a pipe or a device");
    }
    // Tables and coordinate systems are read before the run.
    tables.decimal_separator = decimal;
    SurveyInput survey;
    const SurveyPreparation prepared =
        PrepareSurvey(fields.data, tables, encoding, survey);
    for (const std::string &note : prepared.notes) {
        std::fprintf(stderr, "%s\n", note.c_str());
    }
    if (prepared.status != 0) {
        std::fprintf(stderr, "error: %s\n", prepared.error.c_str());
        return prepared.status;
    }
    if (fields.output.empty()) {
        fields.output = ProposeResultPath(fields.data);
    }
    const std::string output = fields.output;
    const std::string data = fields.data;

    TBatchHost host(std::move(fields), stderr, isatty(STDERR_FILENO) != 0,
                    verbose);
    InstallStopOnInterrupt();
    CppSQLite3DB db;
    TCalcRun run(host, db);
    run.jobs = jobs;
    run.encoding = encoding;
    qc.enabled = !no_qc;
    run.qc = qc;
    FeedRun(run, survey);
    const CalcResult result = run.Run();
    std::string gpkg_error;
    if (!gpkg.empty() && run.qc_findings.checked &&
        (result == CalcResult::Completed || result == CalcResult::Stopped)) {
        gpkg_error = WriteStationsGeoPackage(gpkg, run, survey);
        if (!gpkg_error.empty()) {
            std::fprintf(stderr, "error: %s\n", gpkg_error.c_str());
        }
    }

    switch (result) {
    case CalcResult::Completed:
        host.PrintSummary(stdout, run, result);
        if (!gpkg.empty() && gpkg_error.empty()) {
            std::printf("GeoPackage written to %s\n", gpkg.c_str());
        }
        std::printf("Result written to %s\n", output.c_str());
        if (!plot.path.empty() && !WritePlot(plot, run, data)) {
            return exit_failure;
        }
        return run.nothing_estimated || !gpkg_error.empty() ? exit_failure
                                                            : exit_success;
    case CalcResult::Stopped:
        host.PrintSummary(stdout, run, result);
        if (run.result_written) {
            std::fprintf(stderr,
                         "Stopped: %s holds the lines written so far.\n",
                         output.c_str());
        } else {
            std::fprintf(stderr,
                         "Stopped before writing: %s was left as it "
                         "was.\n",
                         output.c_str());
        }
        if (!plot.path.empty() && run.qc_findings.stations.Size() > 0) {
            WritePlot(plot, run, data);
        }
        return exit_interrupted;
    case CalcResult::Refused:
        if (run.loaded == 0 && prepared.columns_unknown) {
            // A header naming no column: say so, not a guess about numbers.
            std::fprintf(stderr, "hint: %s\n",
                         prepared.UnrecognisedHeader(data).c_str());
        } else if (run.unread > 0 && run.loaded == 0) {
            // Typically numbers written with the other decimal separator.
            std::fprintf(stderr,
                         "hint: the numbers are read with '%c' as the decimal "
                         "separator (see --decimal-separator)\n",
                         DecimalSeparator());
        }
        break;
    case CalcResult::Failed:
        if (run.invalid_line > 0 && encoding.empty()) {
            std::fprintf(stderr,
                         "hint: a file saved in another encoding can be read "
                         "with --encoding (for example --encoding LATIN1)\n");
        }
        break;
    case CalcResult::OpenFailed:
        break;
    }
    return exit_failure;
}
