// A synthetic gravity survey for examples, benchmarks and tests: stations on a
// jittered square lattice over a smooth field (a regional gradient and a few
// buried bodies) with reading noise and a handful of blunders. Deterministic
// for a given seed.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct SyntheticStation {
    double x, y; // metres
    std::string point;
    double h;     // metres above sea level
    double value; // mGal
};

// `count` stations about `spacing` metres apart, lower-left corner near
// (x0, y0); every `blunder_every`-th station (0: none) gets a reading error of
// several mGal, the kind of station a quality check should find.
inline std::vector<SyntheticStation>
MakeSyntheticSurvey(int32_t count, double spacing, uint32_t seed,
                    int32_t blunder_every = 0, double x0 = 500000.0,
                    double y0 = 5500000.0) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto side =
        static_cast<int32_t>(std::ceil(std::sqrt(static_cast<double>(count))));
    const double extent = side * spacing;

    struct Body {
        double x, y, depth, amplitude;
    };
    std::vector<Body> bodies;
    for (int k = 0; k < 6; ++k) {
        bodies.push_back({x0 + unit(random) * extent,
                          y0 + unit(random) * extent,
                          (0.05 + 0.1 * unit(random)) * extent + 500.0,
                          (unit(random) - 0.4) * 20.0});
    }

    std::vector<SyntheticStation> stations;
    stations.reserve(count);
    for (int32_t k = 0; k < count; ++k) {
        const int32_t row = k / side;
        const int32_t col = k % side;
        const double x =
            std::round((x0 + (col + 0.2 + 0.6 * unit(random)) * spacing) *
                       100.0) /
            100.0;
        const double y =
            std::round((y0 + (row + 0.2 + 0.6 * unit(random)) * spacing) *
                       100.0) /
            100.0;
        // Regional gradient plus the vertical attraction of buried spheres.
        double g = -25.0 + 0.8e-3 * (x - x0) - 0.5e-3 * (y - y0);
        for (const Body &b : bodies) {
            const double r2 = (x - b.x) * (x - b.x) + (y - b.y) * (y - b.y) +
                              b.depth * b.depth;
            g += b.amplitude * std::pow(b.depth * b.depth / r2, 1.5);
        }
        g += (unit(random) - 0.5) * 0.1; // reading noise
        if (blunder_every > 0 && k % blunder_every == blunder_every / 2) {
            g += (unit(random) < 0.5 ? -1.0 : 1.0) * (3.0 + 4.0 * unit(random));
        }
        const double h =
            std::round((400.0 + 150.0 * std::sin((x - x0) / 3000.0) +
                        80.0 * std::cos((y - y0) / 2000.0)) *
                       10.0) /
            10.0;
        stations.push_back({x, y, "S" + std::to_string(k + 1), h,
                            std::round(g * 1000.0) / 1000.0});
    }
    return stations;
}

// Writes the stations as a station file: "x y point h value" per line, LF ends.
inline std::string
FormatSyntheticSurvey(const std::vector<SyntheticStation> &stations) {
    std::string text;
    char line[160];
    for (const SyntheticStation &s : stations) {
        std::snprintf(line, sizeof line, "%.2f %.2f %s %.1f %.3f\n", s.x, s.y,
                      s.point.c_str(), s.h, s.value);
        text += line;
    }
    return text;
}
