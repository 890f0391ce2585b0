// Timing of the kriging gridder: MakeGrid for a typical station window and for
// a 400 x 400 grid, each reported as a ratio to one 42-equation solve (the
// largest system a node can have) measured in the same run. Fixed synthetic
// data and seed.
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "kriging/Krigging.h"

namespace {

constexpr unsigned seed = 20261210;

struct SampleSet {
    std::vector<double> x, y, z;
};

// count samples spread uniformly over a square of side metres, values a smooth
// regional field plus noise (mGal).
SampleSet Spread(int count, double side) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coord(0.0, side);
    std::normal_distribution<double> noise(0.0, 0.4);
    SampleSet s;
    for (int n = 0; n < count; ++n) {
        const double x = coord(rng), y = coord(rng);
        s.x.push_back(x);
        s.y.push_back(y);
        s.z.push_back(-25.0 + x / 1000.0 - 0.5 * y / 1000.0 + noise(rng));
    }
    return s;
}

// MakeGrid as the station estimation calls it: nearest search, no drift, fitted
// model, cells of 200 m, radius 2500 m, 16 points.
void RunGrid(benchmark::State &state, const SampleSet &s) {
    GridParams params;
    params.max_points = 16;
    params.search_radius = 2500.0;
    params.cell_x = params.cell_y = 200.0;
    params.aniso_ratio = 1.0;
    int64_t nodes = 0;
    for (auto _ : state) {
        auto k = std::make_unique<TKrigging>();
        const bool made = k->MakeGrid(s.x.data(), s.y.data(), s.z.data(),
                                      static_cast<int32_t>(s.x.size()), params);
        if (!made) {
            state.SkipWithError("MakeGrid refused the samples");
            return;
        }
        nodes = int64_t{k->n_cols} * k->n_rows;
        benchmark::DoNotOptimize(k->ValueAt(2500.0, 2500.0, false));
    }
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["samples"] = static_cast<double>(s.x.size());
}

void BM_Solve42Baseline(benchmark::State &state) {
    auto k = std::make_unique<TKrigging>();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> entry(-1.0, 1.0);
    double rhs[TKrigging::max_system + 2];
    double weights[TKrigging::max_system + 1];
    constexpr int n = 42;
    for (int r = 1; r <= n; ++r) {
        for (int c = 1; c <= n; ++c) {
            k->kr_matrix[r][c] = entry(rng) + (r == c ? n : 0.0);
        }
        rhs[r] = entry(rng);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(k->SolveSystem(rhs, weights, n));
        benchmark::ClobberMemory();
    }
}

void BM_MakeGridStationWindow(benchmark::State &state) {
    static const SampleSet s = Spread(30, 5000.0);
    RunGrid(state, s);
}

void BM_MakeGrid400x400(benchmark::State &state) {
    // x extent 79400 m widened to 79800 m: 400 columns; y extent 80000 m: 400
    // rows
    static const SampleSet s = [] {
        SampleSet t = Spread(4000, 79400.0);
        t.x.push_back(0.0), t.y.push_back(0.0), t.z.push_back(-25.0);
        t.x.push_back(79400.0), t.y.push_back(80000.0), t.z.push_back(-25.0);
        return t;
    }();
    RunGrid(state, s);
}

BENCHMARK(BM_Solve42Baseline);
BENCHMARK(BM_MakeGridStationWindow);
BENCHMARK(BM_MakeGrid400x400)->Unit(benchmark::kMillisecond);

// Console output as usual, and at the end each benchmark's time (the median
// when repetitions are asked for) as a ratio to the baseline.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const bool median = run.run_type == Run::RT_Aggregate &&
                                run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || median) {
                // a median replaces the single runs it summarises
                if (median || seconds.count(run.run_name.function_name) == 0 ||
                    !medians[run.run_name.function_name]) {
                    seconds[run.run_name.function_name] =
                        run.real_accumulated_time /
                        static_cast<double>(run.iterations);
                    medians[run.run_name.function_name] = median;
                }
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto base = seconds.find("BM_Solve42Baseline");
        if (base == seconds.end() || base->second <= 0.0) {
            return;
        }
        std::printf("\nRatio to one 42-equation solve (%.3f us):\n",
                    base->second * 1e6);
        for (const auto &[name, t] : seconds) {
            std::printf("  %-28s %12.1f x  (%.3f ms)\n", name.c_str(),
                        t / base->second, t * 1e3);
        }
    }

  private:
    std::map<std::string, double> seconds;
    std::map<std::string, bool> medians;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
