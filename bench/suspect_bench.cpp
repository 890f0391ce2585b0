// How well the suspect rule names bad stations: blunders of several sizes
// planted at random stations of a synthetic survey and of real surveys, and
// for each size the share of blunders found, the share of their eight nearest
// neighbours wrongly marked, and the share of all stations marked on the
// survey without planted blunders.
// Usage: suspect_bench [--data DIR] [--trials N] [--threshold T] [--local K]
//   DIR holds laguna-del-maule.dat and bushveld.dat (real surveys); without
//   it only the synthetic survey is measured.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/CalcRun.h"
#include "app/Jobs.h"
#include "bench/QuietHost.h"
#include "examples/SyntheticSurvey.h"
#include "store/CppSQLite3.h"

namespace {

// Blunder sizes, in robust scales of the survey's r2.
constexpr double sizes[] = {3, 4, 6, 8, 10, 15, 20};
constexpr size_t neighbours_checked = 8;
// Planted blunders: this share of the stations, at least min_planted.
constexpr double planted_share = 0.01;
constexpr size_t min_planted = 3;

struct Survey {
    std::string name;
    std::vector<std::string> lines; // "x y point h value", as read
    std::vector<double> x, y, value;
    RunParameters parameters;
};

Survey Parse(const std::string &name, const std::string &text,
             const RunParameters &parameters = {}) {
    Survey survey{name, {}, {}, {}, {}, parameters};
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        double x, y, h, value;
        std::string point;
        if (fields >> x >> y >> point >> h >> value) {
            survey.lines.push_back(line);
            survey.x.push_back(x);
            survey.y.push_back(y);
            survey.value.push_back(value);
        }
    }
    return survey;
}

// The survey's text with `offsets` added to the values of some stations; the
// other fields keep their text, so positions stay exactly as they were.
std::string WithOffsets(const Survey &survey,
                        const std::vector<std::pair<size_t, double>> &offsets) {
    std::vector<double> add(survey.lines.size(), 0.0);
    for (const auto &[k, offset] : offsets) {
        add[k] = offset;
    }
    std::string text;
    char value[64];
    for (size_t k = 0; k < survey.lines.size(); ++k) {
        if (add[k] == 0.0) {
            text += survey.lines[k] + "\n";
            continue;
        }
        std::istringstream fields(survey.lines[k]);
        std::string x, y, point, h;
        fields >> x >> y >> point >> h;
        std::snprintf(value, sizeof value, "%.6f", survey.value[k] + add[k]);
        text += x + " " + y + " " + point + " " + h + " " + value + "\n";
    }
    return text;
}

// What the rule marked in one run.
struct Found {
    double scale = 0.0;
    std::vector<char> suspect;
    std::vector<char> judged;       // the station has a leave-one-out residual
    std::vector<std::string> notes; // per station, for a missed blunder
};
bool show_missed = std::getenv("SUSPECT_BENCH_MISSED") != nullptr;

Found Run(const Survey &survey, const std::string &text,
          const SuspectOptions &options) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "korvanel-suspect-bench";
    std::filesystem::create_directories(folder);
    const std::string data = (folder / "survey.dat").string();
    std::ofstream(data) << text;
    RunSettings settings;
    settings.parameters = survey.parameters;
    settings.jobs = DefaultJobs();
    settings.qc.suspect_threshold = options.threshold;
    settings.qc.local_neighbours = options.local_neighbours;
    settings.qc.local_share = options.local_share;
    const RunOutcome run =
        RunQuietly(data, (folder / "survey_res.dat").string(), settings);
    Found outcome;
    const TQcStations &stations = run.qc.stations;
    // The survey's robust scale of r2 itself, whatever the rule judges by.
    std::vector<double> residuals;
    for (size_t k = 0; k < stations.Size(); ++k) {
        if (stations[k].Judged()) {
            residuals.push_back(stations[k].R2());
        }
    }
    double median = 0.0;
    RobustScale(residuals, median, outcome.scale);
    for (size_t k = 0; k < stations.Size(); ++k) {
        outcome.suspect.push_back(stations[k].suspect ? 1 : 0);
        outcome.judged.push_back(stations[k].Judged() ? 1 : 0);
        if (show_missed) {
            const QcStation &s = stations[k];
            char note[256];
            std::snprintf(note, sizeof note,
                          "%s status %d r2 %.3f r2_clean %.3f sigma %.3f "
                          "reach %.0f n %d",
                          std::string(stations.Name(k)).c_str(),
                          static_cast<int>(s.status), s.R2(), s.r2_clean,
                          s.sigma, s.reach, s.n);
            outcome.notes.push_back(note);
        }
    }
    return outcome;
}

// The nearest stations of station k, itself and `excluded` left out.
std::vector<size_t> Nearest(const Survey &survey, size_t k,
                            const std::vector<char> &excluded, size_t count) {
    std::vector<std::pair<double, size_t>> by_distance;
    for (size_t j = 0; j < survey.x.size(); ++j) {
        if (j != k && !excluded[j]) {
            by_distance.emplace_back(std::hypot(survey.x[j] - survey.x[k],
                                                survey.y[j] - survey.y[k]),
                                     j);
        }
    }
    count = std::min(count, by_distance.size());
    std::partial_sort(by_distance.begin(), by_distance.begin() + count,
                      by_distance.end());
    std::vector<size_t> nearest;
    for (size_t n = 0; n < count; ++n) {
        nearest.push_back(by_distance[n].second);
    }
    return nearest;
}

void Measure(const Survey &survey, int trials, const SuspectOptions &options) {
    const size_t count = survey.lines.size();
    std::string clean_text;
    for (const std::string &line : survey.lines) {
        clean_text += line + "\n";
    }
    const Found clean = Run(survey, clean_text, options);
    const double marked_clean =
        100.0 * std::count(clean.suspect.begin(), clean.suspect.end(), 1) /
        static_cast<double>(count);
    std::printf("%s: %zu stations, robust scale of r2 %.4f mGal, %.2f %% "
                "marked without planted blunders\n",
                survey.name.c_str(), count, clean.scale, marked_clean);
    std::printf("%8s %10s %12s %14s\n", "blunder", "found %", "neighbours %",
                "all marked %");
    const size_t planted_count =
        std::max(min_planted, static_cast<size_t>(planted_share * count));
    for (const double size : sizes) {
        size_t planted_total = 0, found = 0, neighbour_total = 0,
               neighbour_marked = 0, others_total = 0, others_marked = 0;
        for (int trial = 1; trial <= trials; ++trial) {
            std::mt19937_64 random(1000 * trial + static_cast<int>(size));
            std::vector<size_t> order(count);
            for (size_t k = 0; k < count; ++k) {
                order[k] = k;
            }
            std::shuffle(order.begin(), order.end(), random);
            // Only a station with a leave-one-out residual can be judged.
            order.erase(
                std::remove_if(order.begin(), order.end(),
                               [&](size_t k) { return !clean.judged[k]; }),
                order.end());
            std::vector<std::pair<size_t, double>> offsets;
            std::vector<char> planted(count, 0);
            for (size_t p = 0; p < planted_count && p < order.size(); ++p) {
                const double sign = random() % 2 == 0 ? 1.0 : -1.0;
                offsets.emplace_back(order[p], sign * size * clean.scale);
                planted[order[p]] = 1;
            }
            const Found run =
                Run(survey, WithOffsets(survey, offsets), options);
            std::vector<char> is_neighbour(count, 0);
            for (const auto &[k, offset] : offsets) {
                ++planted_total;
                found += run.suspect[k];
                if (show_missed && !run.suspect[k] &&
                    size == std::atof(std::getenv("SUSPECT_BENCH_MISSED"))) {
                    std::printf("  missed %.0f: %s (offset %.3f)\n", size,
                                run.notes[k].c_str(), offset);
                    std::ofstream("/tmp/missed_" + std::to_string(k) + ".dat")
                        << WithOffsets(survey, offsets);
                }
                for (const size_t j :
                     Nearest(survey, k, planted, neighbours_checked)) {
                    is_neighbour[j] = 1;
                }
            }
            for (size_t k = 0; k < count; ++k) {
                if (is_neighbour[k]) {
                    ++neighbour_total;
                    neighbour_marked += run.suspect[k];
                }
                if (!planted[k]) {
                    ++others_total;
                    others_marked += run.suspect[k];
                }
            }
        }
        std::printf("%8.0f %10.1f %12.2f %14.2f\n", size,
                    100.0 * found / planted_total,
                    100.0 * neighbour_marked / neighbour_total,
                    100.0 * others_marked / others_total);
    }
    std::printf("\n");
}

std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int main(int argc, char **argv) {
    std::string data;
    int trials = 3;
    SuspectOptions options;
    for (int k = 1; k + 1 < argc; k += 2) {
        const std::string flag = argv[k];
        if (flag == "--data") {
            data = argv[k + 1];
        } else if (flag == "--trials") {
            trials = std::atoi(argv[k + 1]);
        } else if (flag == "--threshold") {
            options.threshold = std::atof(argv[k + 1]);
        } else if (flag == "--local") {
            options.local_neighbours = std::atoi(argv[k + 1]);
        } else if (flag == "--share") {
            options.local_share = std::atof(argv[k + 1]);
        }
    }
    std::printf("threshold %.2f robust scales, local scale from %d "
                "neighbours at a share of %.2f, %d trials of %.0f %% planted "
                "blunders\n\n",
                options.threshold, options.local_neighbours,
                options.local_share, trials, 100.0 * planted_share);
    for (const uint32_t seed : {7u, 2026u}) {
        Measure(Parse("synthetic (seed " + std::to_string(seed) + ")",
                      FormatSyntheticSurvey(
                          MakeSyntheticSurvey(2500, 300.0, seed))),
                trials, options);
    }
    if (!data.empty()) {
        const std::filesystem::path folder(data);
        Measure(Parse("Laguna del Maule",
                      ReadFile(folder / "laguna-del-maule.dat")),
                trials, options);
        // A regional survey: the parameters its spacing asks for.
        Measure(Parse("Bushveld", ReadFile(folder / "bushveld.dat"),
                      {15000.0, 2500.0, 16, 1000.0}),
                trials, options);
    }
    return 0;
}
