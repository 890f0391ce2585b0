// Whole Calc runs on synthetic surveys (about 300 m spacing, the window's
// default parameters): stations per second of the complete batch, load and both
// passes. Usage: batch_bench [SIZE ...]   (default 1000 10000)
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
    std::printf("%10s %10s %12s\n", "stations", "seconds", "stations/s");
    for (int size : sizes) {
        QuietHost host;
        host.data =
            (folder / ("survey" + std::to_string(size) + ".dat")).string();
        host.output =
            (folder / ("survey" + std::to_string(size) + "_res.dat")).string();
        std::ofstream(host.data)
            << FormatSyntheticSurvey(MakeSyntheticSurvey(size, 300.0, 7));
        CppSQLite3DB db;
        TCalcRun run(host, db);
        const auto start = std::chrono::steady_clock::now();
        const CalcResult result = run.Run();
        const double seconds = std::chrono::duration<double>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
        if (result != CalcResult::Completed) {
            std::fprintf(stderr, "run of %d stations did not complete\n", size);
            return 1;
        }
        std::printf("%10d %10.2f %12.1f\n", size, seconds, run.done / seconds);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
