// Quality control's records of a synthetic survey for the drawing's
// benchmarks, made without kriging, and the median timing of a step.
// Stations from examples/SyntheticSurvey.h (seed 7); the residuals are made
// up: normal noise, a blunder every `blunder_every`-th station, a few blank
// and skipped stations; the heights kriged from the neighbours' lie a few
// metres off, and the residuals follow them a little, as a density 0.1
// g/cm3 too high leaves them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <random>
#include <vector>

#include "examples/SyntheticSurvey.h"
#include "qc/QcStation.h"
#include "qc/SuspectRule.h"

// The made-up residuals' spread, mGal; the kriged heights' spread about the
// heights, metres; the residuals' slope against it, mGal per metre.
inline constexpr double synthetic_noise = 0.05;
inline constexpr double synthetic_height_noise = 5.0;
inline constexpr double synthetic_density_slope = -0.0042;

// Fills `stations` and `suspects` with `count` stations 300 m apart.
inline void MakeSyntheticRecords(int32_t count, int32_t blunder_every,
                                 TQcStations &stations,
                                 SuspectFindings &suspects) {
    const std::vector<SyntheticStation> survey =
        MakeSyntheticSurvey(count, 300.0, 7);
    std::mt19937_64 random(7);
    std::normal_distribution<double> residual(0.0, synthetic_noise);
    std::normal_distribution<double> height(0.0, synthetic_height_noise);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    stations.Reserve(static_cast<size_t>(count));
    for (int32_t k = 0; k < count; ++k) {
        const SyntheticStation &s = survey[static_cast<size_t>(k)];
        QcStation q;
        q.x = s.x;
        q.y = s.y;
        q.h = s.h;
        q.value = s.value;
        q.status = QcStatus::Ok;
        const double dh = height(random);
        q.h_estimate = s.h + dh;
        double r2 = residual(random) + synthetic_density_slope * dh;
        if (k % blunder_every == 0) {
            r2 = unit(random) < 0.5 ? -5.0 : 5.0;
            q.suspect = true;
            suspects.suspects.push_back(static_cast<size_t>(k));
        }
        const double u = unit(random);
        q.estimate_without = s.value + r2;
        q.estimate_all = s.value + 0.5 * r2;
        q.sigma = 0.1;
        if (u < 0.02) {
            q.status = QcStatus::Blank;
            q.estimate_without = qc_none;
        } else if (u < 0.025) {
            q.status = QcStatus::Skipped;
            q.estimate_without = q.estimate_all = qc_none;
        }
        stations.Add(q, s.point);
    }
    suspects.median = 0.0;
    suspects.scale = synthetic_noise;
}

// CPU seconds of this process: the machine is shared, so wall time
// overstates what a step costs.
inline double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) +
           1e-9 * static_cast<double>(t.tv_nsec);
}

struct Timing {
    double wall = 0.0, cpu = 0.0;
};

// Medians of `repeats` runs of `step`.
template <class Step> Timing Median(int repeats, Step step) {
    std::vector<double> walls, cpus;
    for (int k = 0; k < repeats; ++k) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu = CpuSeconds();
        step();
        cpus.push_back(CpuSeconds() - cpu);
        walls.push_back(std::chrono::duration<double>(
                            std::chrono::steady_clock::now() - start)
                            .count());
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}
