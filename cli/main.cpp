// korvanel-batch: leave-one-out kriging residuals of a station file, from the
// command line. Runs the window's Calc run with the window's parameters.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sched.h>
#include <string>
#include <thread>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "app/CalcRun.h"
#include "app/ResultPath.h"
#include "cli/BatchHost.h"
#include "platform/Dialogs.h"
#include "platform/Locale.h"
#include "store/CppSQLite3.h"

namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;
constexpr int exit_interrupted = 130; // 128 + SIGINT, as shells report Ctrl-C
constexpr int32_t max_jobs = 256;
// Each job holds a copy of the point table: a machine with many cores gets
// no more than this many unless asked.
constexpr int32_t default_jobs_limit = 8;

// The cores this process may run on (a container or taskset may allow fewer
// than the machine has), at least 1 and at most default_jobs_limit.
int32_t DefaultJobs() {
    int32_t cores = 0;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        cores = CPU_COUNT(&allowed);
    }
    if (cores <= 0) {
        cores = static_cast<int32_t>(std::thread::hardware_concurrency());
    }
    return std::clamp(cores, 1, default_jobs_limit);
}

} // namespace

int main(int argc, char **argv) {
    BatchFields fields;
    std::string separator;
    int32_t jobs = DefaultJobs();

    CLI::App app{"Leave-one-out kriging residuals for every station of a "
                 "gravity survey.\n"
                 "Writes a fixed-column table with r1 (all stations) and r2 "
                 "(station left out).",
                 "korvanel-batch"};
    app.add_option("STATIONS", fields.data,
                   "station file: x y point h value per line (UTF-8)")
        ->required();
    app.add_option(
        "-o,--output", fields.output,
        "result file (default: the station file's name with _res.dat)");
    app.add_option("--search-distance", fields.search_distance,
                   "starting half-size of the search square, metres")
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
        ->check(CLI::IsMember({".", ","}));
    app.add_option(
           "-j,--jobs", jobs,
           "stations estimated at once, each job on a thread of its own "
           "(default: the cores this process may use, at most 8); the "
           "result is the same for any number")
        ->check(CLI::Range(1, max_jobs))
        ->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        const int code = app.exit(error);
        return code == 0 ? exit_success : exit_usage;
    }

    if (!separator.empty()) {
        SetDecimalSeparator(separator[0]);
    }
    if (fields.output.empty()) {
        fields.output = ProposeResultPath(fields.data);
    }
    const std::string output = fields.output;

    TBatchHost host(std::move(fields), stderr, isatty(STDERR_FILENO) != 0);
    // The gridder's messages reach standard error through the host during a
    // run, and directly outside one.
    InstallStopOnInterrupt();
    CppSQLite3DB db;
    TCalcRun run(host, db);
    run.jobs = jobs;
    const CalcResult result = run.Run();

    host.summary.unread = run.unread;
    switch (result) {
    case CalcResult::Completed:
        host.PrintSummary(stdout);
        if (run.loaded == 0 && run.unread > 0) {
            // Typically numbers written with the other decimal separator.
            std::fprintf(stderr,
                         "error: no line of %s was read as a station (x y "
                         "point h value, decimal separator '%c'; see "
                         "--decimal-separator); %s holds only the header\n",
                         host.FieldText(CalcField::Data).c_str(),
                         DecimalSeparator(), output.c_str());
            return exit_failure;
        }
        std::printf("Result written to %s\n", output.c_str());
        return exit_success;
    case CalcResult::Stopped:
        host.PrintSummary(stdout);
        if (run.result_opened) {
            std::fprintf(stderr,
                         "Stopped: %s holds the lines written so far.\n",
                         output.c_str());
        } else {
            std::fprintf(stderr,
                         "Stopped before writing: %s was left as it "
                         "was.\n",
                         output.c_str());
        }
        return exit_interrupted;
    case CalcResult::Failed:
        if (run.invalid_line > 0) {
            std::fprintf(stderr,
                         "error: line %lld of %s is not UTF-8 text (saved in "
                         "another encoding?)\n",
                         static_cast<long long>(run.invalid_line),
                         host.FieldText(CalcField::Data).c_str());
        }
        break;
    case CalcResult::Refused:
    case CalcResult::OpenFailed:
        break;
    }
    return exit_failure;
}
