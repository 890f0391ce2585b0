// Residuals at the speed of the data: the whole-grid path against the station
// path on the same synthetic surveys (about 300 m apart, the window's default
// parameters), then whole Calc runs of 10,000 and 100,000 stations with one
// job and with all jobs, each in a child process so that its peak memory is
// its own.
// Usage: station_path_bench [--jobs N] [--skip-large]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/CalcRun.h"
#include "bench/QuietHost.h"
#include "estimate/StationEstimate.h"
#include "examples/SyntheticSurvey.h"
#include "kriging/Krigging.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

namespace {

// The window's defaults.
constexpr RunParameters defaults;
constexpr double search_distance = defaults.search_distance;
constexpr double increment = defaults.increment;
constexpr int32_t min_points = defaults.min_points;
constexpr double cell_size = defaults.cell_size;
constexpr double spacing = 300.0;
constexpr uint32_t seed = 7;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// One station by the whole-grid path: both kriging runs make their whole grid
// and read it with ValueAt.
bool WholeGridStation(TPointWindows &windows, double x, double y, double &all,
                      double &without) {
    SampleArrays s;
    int32_t own = -1;
    double half_size = search_distance;
    int32_t counted = min_points;
    try {
        if (!GatherStationSamples(windows, x, y, increment, half_size, counted,
                                  s, own) ||
            own < 0) {
            return false;
        }
        GridParams params;
        params.max_points = min_points;
        params.search_radius = search_distance;
        params.cell_x = params.cell_y = cell_size;
        params.aniso_ratio = 1.0;
        auto run = [&](int32_t count, double &estimate) {
            auto k = std::make_unique<TKrigging>();
            if (k->MakeGrid(s.sample_x.data(), s.sample_y.data(),
                            s.sample_z.data(), count, params)) {
                estimate = k->ValueAt(x, y, false);
            }
        };
        const int32_t n = s.sample_count;
        run(n, all);
        for (int32_t j = own; j < n - 1; ++j) {
            s.sample_x[j] = s.sample_x[j + 1];
            s.sample_y[j] = s.sample_y[j + 1];
            s.sample_z[j] = s.sample_z[j + 1];
        }
        run(n - 1, without);
        return true;
    } catch (...) {
        return false;
    }
}

// One station by the station path: the station's one call.
bool StationPathStation(TPointWindows &windows, double x, double y, double &all,
                        double &without) {
    const StationEstimate e =
        EstimateStation(windows, {x, y}, {defaults, false});
    all = e.estimate_all;
    without = e.estimate_without;
    return e.written;
}

struct PathFigures {
    int32_t timed = 0;
    double seconds = 0.0;
    double PerStation() const { return seconds / timed; }
};

// Times one path over every `every`-th station of the survey.
template <typename Path>
PathFigures TimePath(TPointWindows &windows,
                     const std::vector<SyntheticStation> &stations,
                     size_t every, Path path, std::vector<double> &estimates) {
    PathFigures figures;
    const auto start = Clock::now();
    for (size_t k = 0; k < stations.size(); k += every) {
        double all = 1.70141e38, without = 1.70141e38;
        path(windows, stations[k].x, stations[k].y, all, without);
        estimates.push_back(all);
        estimates.push_back(without);
        ++figures.timed;
    }
    figures.seconds = Seconds(start);
    return figures;
}

// The whole-grid path on a sample of the stations against the station path on
// all of them, per station; both must give the same estimates.
bool CompareAtSize(int32_t size, size_t whole_every) {
    const std::vector<SyntheticStation> stations =
        MakeSyntheticSurvey(size, spacing, seed);
    CppSQLite3DB db;
    CppSQLite3Statement insert = BeginLoad(db);
    for (const SyntheticStation &s : stations) {
        AddStation(insert, s.x, s.y, s.value);
    }
    EndLoad(db, insert);
    bool identical = true;
    {
        TPointWindows windows(db);
        std::vector<double> whole_estimates, station_estimates, sampled;
        const PathFigures whole = TimePath(windows, stations, whole_every,
                                           WholeGridStation, whole_estimates);
        const PathFigures station = TimePath(
            windows, stations, 1, StationPathStation, station_estimates);
        for (size_t k = 0; k < stations.size(); k += whole_every) {
            sampled.push_back(station_estimates[2 * k]);
            sampled.push_back(station_estimates[2 * k + 1]);
        }
        for (size_t k = 0; k < sampled.size(); ++k) {
            identical =
                identical && std::bit_cast<uint64_t>(sampled[k]) ==
                                 std::bit_cast<uint64_t>(whole_estimates[k]);
        }
        std::printf("%9d  %-10s %7d %10.3f %12.3f\n", size, "whole grid",
                    whole.timed, whole.seconds, 1000.0 * whole.PerStation());
        std::printf("%9d  %-10s %7d %10.3f %12.3f   %6.1fx faster per station, "
                    "estimates %s\n",
                    size, "station", station.timed, station.seconds,
                    1000.0 * station.PerStation(),
                    whole.PerStation() / station.PerStation(),
                    identical ? "identical" : "DIFFERENT");
    }
    db.Close();
    return identical;
}

struct ChildFigures {
    bool completed = false;
    double seconds = 0.0;
    double peak_mb = 0.0;
    double cpu_seconds = 0.0; // user and system time of all its threads
};

// A whole Calc run in a child process: its time, and its peak resident memory.
ChildFigures CalcRunInChild(const std::string &data, const std::string &output,
                            int32_t jobs) {
    ChildFigures figures;
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        return figures;
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        RunSettings settings;
        settings.jobs = jobs;
        const auto start = Clock::now();
        const bool completed =
            RunQuietly(data, output, settings).result == CalcResult::Completed;
        const double seconds = completed ? Seconds(start) : -1.0;
        const ssize_t written = write(pipe_ends[1], &seconds, sizeof seconds);
        _exit(written == sizeof seconds ? 0 : 1);
    }
    close(pipe_ends[1]);
    double seconds = -1.0;
    const ssize_t got = read(pipe_ends[0], &seconds, sizeof seconds);
    close(pipe_ends[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    figures.completed = got == sizeof seconds && seconds >= 0.0 &&
                        WIFEXITED(status) && WEXITSTATUS(status) == 0;
    figures.seconds = seconds;
    figures.peak_mb = usage.ru_maxrss / 1024.0; // kilobytes on Linux
    figures.cpu_seconds = usage.ru_utime.tv_sec +
                          usage.ru_utime.tv_usec * 1e-6 +
                          usage.ru_stime.tv_sec + usage.ru_stime.tv_usec * 1e-6;
    return figures;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in),
                       std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char **argv) {
    int32_t all_jobs =
        static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    bool large = true;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--jobs") == 0 && k + 1 < argc) {
            all_jobs = std::max(1, std::atoi(argv[++k]));
        } else if (std::strcmp(argv[k], "--skip-large") == 0) {
            large = false;
        } else {
            std::fprintf(
                stderr,
                "usage: station_path_bench [--jobs N] [--skip-large]\n");
            return 2;
        }
    }
    std::printf("Synthetic surveys, stations about %.0f m apart, seed %u; "
                "search %.0f m, increment %.0f m, "
                "N %d, cell %.0f m\n\n",
                spacing, seed, search_distance, increment, min_points,
                cell_size);

    std::printf("Estimation only (both kriging runs of a station, window "
                "queries included):\n");
    std::printf("%9s  %-10s %7s %10s %12s\n", "survey", "path", "timed",
                "seconds", "ms/station");
    // Strides prime to the lattice sides (32, 100), so the sample covers edges
    // and interior alike.
    bool identical = CompareAtSize(1000, 19);
    identical = CompareAtSize(10000, 97) && identical;

    std::printf("\nWhole Calc runs (load, both passes, result file), each in a "
                "child process:\n");
    // CPU seconds show the work the jobs share out; on a machine whose cores
    // are busy with other work the wall-clock gain of more jobs is smaller.
    std::printf("%9s %5s %10s %12s %10s %10s %12s\n", "stations", "jobs",
                "seconds", "stations/s", "vs 1 job", "peak MB", "CPU seconds");
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "korvanel-station-path-bench";
    std::filesystem::create_directories(folder);
    std::vector<int32_t> sizes = {10000};
    if (large) {
        sizes.push_back(100000);
    }
    bool same_files = true, completed = true;
    for (const int32_t size : sizes) {
        const std::string data =
            (folder / ("survey" + std::to_string(size) + ".dat")).string();
        std::ofstream(data)
            << FormatSyntheticSurvey(MakeSyntheticSurvey(size, spacing, seed));
        std::vector<int32_t> job_counts = {1};
        if (all_jobs > 1) {
            job_counts.push_back(all_jobs);
        }
        double one_job_rate = 0.0;
        std::string one_job_file;
        for (const int32_t jobs : job_counts) {
            const std::string output =
                (folder / ("result" + std::to_string(jobs) + ".dat")).string();
            const ChildFigures run = CalcRunInChild(data, output, jobs);
            completed = completed && run.completed;
            const double rate = size / run.seconds;
            if (jobs == 1) {
                one_job_rate = rate;
                one_job_file = ReadFile(output);
            } else {
                same_files = same_files && ReadFile(output) == one_job_file;
            }
            std::printf("%9d %5d %10.2f %12.1f %9.2fx %10.1f %12.2f\n", size,
                        jobs, run.seconds, rate, rate / one_job_rate,
                        run.peak_mb, run.cpu_seconds);
        }
    }
    std::filesystem::remove_all(folder);
    std::printf("\nResult files of all jobs and one job: %s\n",
                same_files ? "byte for byte the same" : "DIFFERENT");
    return identical && same_files && completed ? 0 : 1;
}
