// Whole Calc runs on synthetic surveys (about 300 m spacing, the window's
// default parameters): stations per second of the complete batch, load and both
// passes; then the same survey with one stray station 5,500 km away (a lost
// digit), whose run should take about as long. Usage: batch_bench [SIZE ...]
// (default 1000 10000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/CalcRun.h"
#include "bench/QuietHost.h"
#include "examples/SyntheticSurvey.h"
#include "store/CppSQLite3.h"

int main(int argc, char **argv) {
    std::vector<int> sizes;
    for (int k = 1; k < argc; ++k) {
        sizes.push_back(std::atoi(argv[k]));
    }
    if (sizes.empty()) {
        sizes = {1000, 10000};
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "korvanel-batch-bench";
    std::filesystem::create_directories(folder);
    std::printf("%10s %10s %12s %14s %7s\n", "stations", "seconds",
                "stations/s", "stray seconds", "ratio");
    // Seconds of a whole run on `text`, or a negative value when it failed.
    const auto timed_run = [&folder](const std::string &name,
                                     const std::string &text) {
        const std::string data = (folder / (name + ".dat")).string();
        std::ofstream(data) << text;
        const auto start = std::chrono::steady_clock::now();
        const CalcResult result =
            RunQuietly(data, (folder / (name + "_res.dat")).string()).result;
        const double seconds = std::chrono::duration<double>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
        return result == CalcResult::Completed ? seconds : -1.0;
    };
    for (int size : sizes) {
        const std::string survey =
            FormatSyntheticSurvey(MakeSyntheticSurvey(size, 300.0, 7));
        const double seconds =
            timed_run("survey" + std::to_string(size), survey);
        const double stray_seconds =
            timed_run("stray" + std::to_string(size),
                      survey + "500000.00 5505500000.00 STRAY 100.0 1.0\n");
        if (seconds < 0.0 || stray_seconds < 0.0) {
            std::fprintf(stderr, "run of %d stations did not complete\n", size);
            return 1;
        }
        std::printf("%10d %10.2f %12.1f %14.2f %7.2f\n", size, seconds,
                    size / seconds, stray_seconds, stray_seconds / seconds);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
