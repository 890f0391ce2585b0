// Whole Calc runs on synthetic surveys (about 300 m spacing, the window's default
// parameters): stations per second of the complete batch, load and both passes.
// Usage: batch_bench [SIZE ...]   (default 1000 10000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/CalcRun.h"
#include "examples/SyntheticSurvey.h"
#include "store/CppSQLite3.h"

namespace {

class QuietHost : public TCalcHost {
  public:
    std::string data, output;
    std::string FieldText(CalcField field) override {
        switch (field) {
        case CalcField::Data: return data;
        case CalcField::Output: return output;
        case CalcField::SearchDistance: return "2500";
        case CalcField::Increment: return "500";
        case CalcField::MinPoints: return "16";
        case CalcField::CellSize: return "200";
        }
        return {};
    }
    void SetRunning(bool) override {}
    void SetProgressMax(int32_t) override {}
    void SetProgressPosition(int32_t p) override { position = p; }
    int32_t ProgressPosition() override { return position; }
    void ProcessPendingEvents() override {}
    void ClearStopRequest() override {}
    bool StopRequested() override { return false; }
    void ShowMessage(const std::string &text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void ShowError(const std::string &text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
    void CloseWindow() override {}
    int32_t position = 0;
};

} // namespace

int main(int argc, char **argv) {
    std::vector<int> sizes;
    for (int k = 1; k < argc; ++k) {
        sizes.push_back(std::atoi(argv[k]));
    }
    if (sizes.empty()) {
        sizes = {1000, 10000};
    }
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "korvanel-batch-bench";
    std::filesystem::create_directories(folder);
    std::printf("%10s %10s %12s\n", "stations", "seconds", "stations/s");
    for (int size : sizes) {
        QuietHost host;
        host.data = (folder / ("survey" + std::to_string(size) + ".dat")).string();
        host.output = (folder / ("survey" + std::to_string(size) + "_res.dat")).string();
        std::ofstream(host.data) << FormatSyntheticSurvey(MakeSyntheticSurvey(size, 300.0, 7));
        CppSQLite3DB db;
        TCalcRun run(host, db);
        const auto start = std::chrono::steady_clock::now();
        const CalcResult result = run.Run();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (result != CalcResult::Completed) {
            std::fprintf(stderr, "run of %d stations did not complete\n", size);
            return 1;
        }
        std::printf("%10d %10.2f %12.1f\n", size, seconds, run.done / seconds);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
