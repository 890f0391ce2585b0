// How well survey offsets are found: real and synthetic surveys split into
// surveys by area and by name, known constants added to one or several of
// them, and the offsets recovered, the share of them flagged, the offsets of
// the untouched surveys moved, the share of surveys flagged when nothing was
// planted, the edge suspects the levelling removed, and the cost of the
// survey pass against a whole run.
// Usage: survey_bench [--data DIR] [--trials N] [--suspects] [--cost SIZE...]
//                     [--floor F] [--prior W] [--neighbours K] [--plane]
//   DIR holds laguna-del-maule.dat and bushveld.dat (real surveys); without
//   it only the synthetic surveys are measured.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "app/CalcRun.h"
#include "app/Jobs.h"
#include "bench/QuietHost.h"
#include "examples/SyntheticSurvey.h"
#include "qc/StationGrid.h"
#include "qc/SurveyNames.h"
#include "qc/SurveyOffsets.h"

namespace {

// Planted constants, mGal, and the targets they are judged by.
constexpr double planted_sizes[] = {0.5, 1.0, 2.0, 5.0, 14.0};
constexpr double recovered_within = 0.15; // mGal
constexpr double flagged_from = 1.0;      // planted offsets of this or more
constexpr int64_t target_stations = 200;  // surveys of this many or more
constexpr int several_planted = 3;

// A station file as read: its lines (for writing it again with other
// values) and its stations.
struct Dataset {
    std::string name;
    std::vector<std::string> lines;
    TQcStations stations;
    RunParameters parameters;
};

Dataset Parse(const std::string &name, const std::string &text,
              const RunParameters &parameters = {}) {
    Dataset data{name, {}, {}, parameters};
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        QcStation s;
        std::string point;
        if (fields >> s.x >> s.y >> point >> s.h >> s.value) {
            data.lines.push_back(line);
            data.stations.Add(s, point);
        }
    }
    return data;
}

std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The station file with each station's value set from `stations`; the other
// fields keep their text, so positions stay exactly as they were.
std::string Text(const Dataset &data, const TQcStations &stations) {
    std::string text;
    char value[64];
    for (size_t k = 0; k < data.lines.size(); ++k) {
        std::istringstream fields(data.lines[k]);
        std::string x, y, point, h;
        fields >> x >> y >> point >> h;
        std::snprintf(value, sizeof value, "%.6f", stations[k].value);
        text += x + " " + y + " " + point + " " + h + " " + value + "\n";
    }
    return text;
}

// --- splits ---

// Square blocks of `side` metres from the stations' lower-left corner.
SurveyGrouping Blocks(const TQcStations &stations, double side) {
    double x0 = 1e300, y0 = 1e300;
    for (size_t k = 0; k < stations.Size(); ++k) {
        x0 = std::min(x0, stations[k].x);
        y0 = std::min(y0, stations[k].y);
    }
    TSurveyGrouper grouper;
    for (size_t k = 0; k < stations.Size(); ++k) {
        const auto i = static_cast<int>((stations[k].x - x0) / side);
        const auto j = static_cast<int>((stations[k].y - y0) / side);
        grouper.Add("B" + std::to_string(i) + "_" + std::to_string(j));
    }
    return grouper.Finish();
}

// Cells around `count` stations chosen at random (a Voronoi split): surveys
// of uneven shapes that meet along uneven seams.
SurveyGrouping Cells(const TQcStations &stations, int count, uint32_t seed) {
    std::mt19937_64 random(seed);
    std::vector<size_t> centres;
    std::uniform_int_distribution<size_t> pick(0, stations.Size() - 1);
    for (int c = 0; c < count; ++c) {
        centres.push_back(pick(random));
    }
    TSurveyGrouper grouper;
    for (size_t k = 0; k < stations.Size(); ++k) {
        size_t nearest = 0;
        double best = 1e300;
        for (size_t c = 0; c < centres.size(); ++c) {
            const double d = std::hypot(stations[k].x - stations[centres[c]].x,
                                        stations[k].y - stations[centres[c]].y);
            if (d < best) {
                best = d;
                nearest = c;
            }
        }
        grouper.Add("C" + std::to_string(nearest));
    }
    return grouper.Finish();
}

// Columns of equal station counts, each cut into rows of equal counts:
// blocks of about the same number of stations on uneven ground.
SurveyGrouping CountBlocks(const TQcStations &stations, int columns, int rows) {
    const size_t count = stations.Size();
    std::vector<size_t> by_x(count);
    for (size_t k = 0; k < count; ++k) {
        by_x[k] = k;
    }
    std::sort(by_x.begin(), by_x.end(),
              [&](size_t a, size_t b) { return stations[a].x < stations[b].x; });
    std::vector<std::string> names(count);
    for (int c = 0; c < columns; ++c) {
        std::vector<size_t> column(by_x.begin() + static_cast<ptrdiff_t>(count * c / columns),
                                   by_x.begin() +
                                       static_cast<ptrdiff_t>(count * (c + 1) / columns));
        std::sort(column.begin(), column.end(),
                  [&](size_t a, size_t b) { return stations[a].y < stations[b].y; });
        for (size_t m = 0; m < column.size(); ++m) {
            names[column[m]] = "Q" + std::to_string(c) + "_" +
                               std::to_string(m * static_cast<size_t>(rows) / column.size());
        }
    }
    TSurveyGrouper grouper;
    for (const std::string &name : names) {
        grouper.Add(name);
    }
    return grouper.Finish();
}

SurveyGrouping Named(const TQcStations &stations, const std::string &pattern) {
    return GroupByName(stations, *ParseSurveyNamer(pattern).namer);
}

// --- measures ---

struct Tally {
    int64_t count = 0, hits = 0;
    void Add(bool hit) {
        ++count;
        hits += hit ? 1 : 0;
    }
    double Percent() const { return count > 0 ? 100.0 * hits / count : 0.0; }
};

double Quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return std::nan("");
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
}

struct SizeFigures {
    Tally within;  // target surveys planted, recovered within 0.15 mGal
    Tally flagged; // target surveys planted, flagged
    std::vector<double> errors;
    Tally small_flagged; // planted surveys below the target's size
};

struct Figures {
    std::string name;
    Tally clean_flagged; // linked surveys flagged without planting
    Tally clean_beyond;  // |offset| beyond 3 standard errors, floor aside
    std::vector<double> clean_offsets;
    std::vector<double> clean_z;
    SizeFigures one[std::size(planted_sizes)], several[std::size(planted_sizes)];
    std::vector<double> moved; // untouched surveys' offsets moved, mGal
    double seconds = 0.0;
    int64_t passes = 0;
    int64_t surveys = 0, target_surveys = 0;
};

void Plant(TQcStations &stations, const SurveyGrouping &grouping,
           const std::vector<std::pair<uint32_t, double>> &planted) {
    for (size_t k = 0; k < stations.Size(); ++k) {
        for (const auto &[s, c] : planted) {
            if (grouping.survey[k] == s) {
                stations[k].value += c;
            }
        }
    }
}

SurveyOffsets Estimate(Figures &figures, const TQcStations &stations,
                       const SurveyGrouping &grouping, double search_distance,
                       const SurveyOffsetOptions &options) {
    const auto start = std::chrono::steady_clock::now();
    SurveyOffsets offsets =
        EstimateSurveyOffsets(stations, grouping, search_distance, options);
    figures.seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++figures.passes;
    return offsets;
}

// One trial: the survey as it is, then each planted size on one survey and on
// several at once, chosen at random among the linked ones.
void Trial(Figures &figures, const Dataset &data, const SurveyGrouping &grouping,
           const SurveyOffsetOptions &options, uint32_t seed) {
    const double search = data.parameters.search_distance;
    const SurveyOffsets clean = Estimate(figures, data.stations, grouping, search, options);
    if (clean.refusal != SurveyRefusal::None) {
        std::printf("%s: refused (%d)\n", figures.name.c_str(), static_cast<int>(clean.refusal));
        return;
    }
    std::vector<uint32_t> linked;
    for (uint32_t s = 0; s < clean.surveys.size(); ++s) {
        const SurveyOffset &o = clean.surveys[s];
        if (o.linked) {
            linked.push_back(s);
            figures.clean_flagged.Add(o.shifted);
            figures.clean_beyond.Add(std::fabs(o.offset) > 3.0 * o.standard_error);
            figures.clean_offsets.push_back(o.offset);
            if (o.standard_error > 0.0) {
                figures.clean_z.push_back(o.offset / o.standard_error);
            }
        }
    }
    figures.surveys = static_cast<int64_t>(linked.size());
    figures.target_surveys = std::count_if(linked.begin(), linked.end(), [&](uint32_t s) {
        return clean.surveys[s].stations >= target_stations;
    });
    std::mt19937_64 random(seed);
    // Planting on the reference, or on a survey of half the stations or
    // more, would move the datum, not the survey.
    std::vector<uint32_t> candidates;
    for (const uint32_t s : linked) {
        if (grouping.names[s] != options.reference &&
            2 * clean.surveys[s].stations < static_cast<int64_t>(data.stations.Size())) {
            candidates.push_back(s);
        }
    }
    for (size_t size = 0; size < std::size(planted_sizes); ++size) {
        // Several, but never so many that the shifted stations could hold
        // the median.
        const int several = std::min(several_planted, static_cast<int>(candidates.size() / 3));
        for (const int how_many : {1, several}) {
            if (how_many < 1 || (how_many == several && several < 2)) {
                continue;
            }
            std::vector<uint32_t> order(candidates);
            std::shuffle(order.begin(), order.end(), random);
            std::vector<std::pair<uint32_t, double>> planted;
            for (int p = 0; p < how_many && p < static_cast<int>(order.size()); ++p) {
                const double sign = random() % 2 == 0 ? 1.0 : -1.0;
                planted.emplace_back(order[static_cast<size_t>(p)], sign * planted_sizes[size]);
            }
            TQcStations stations = data.stations;
            Plant(stations, grouping, planted);
            const SurveyOffsets found = Estimate(figures, stations, grouping, search, options);
            SizeFigures &into = how_many == 1 ? figures.one[size] : figures.several[size];
            for (const auto &[s, c] : planted) {
                const SurveyOffset &o = found.surveys[s];
                const double error = o.offset - c;
                if (o.stations >= target_stations) {
                    into.within.Add(std::fabs(error) <= recovered_within);
                    into.flagged.Add(o.shifted);
                    into.errors.push_back(std::fabs(error));
                } else {
                    into.small_flagged.Add(o.shifted);
                }
            }
            double moved = 0.0;
            for (const uint32_t s : linked) {
                if (std::none_of(planted.begin(), planted.end(),
                                 [&](const auto &p) { return p.first == s; })) {
                    moved = std::max(moved, std::fabs(found.surveys[s].offset -
                                                      clean.surveys[s].offset));
                }
            }
            figures.moved.push_back(moved);
        }
    }
}

void PrintFigures(const Figures &f) {
    std::printf("\n### %s\n\n", f.name.c_str());
    std::printf("%lld linked surveys (%lld of %lld stations or more); survey pass "
                "%.3f s on average\n\n",
                static_cast<long long>(f.surveys), static_cast<long long>(f.target_surveys),
                static_cast<long long>(target_stations),
                f.passes > 0 ? f.seconds / static_cast<double>(f.passes) : 0.0);
    std::printf("| planted, mGal | one survey: within %.2f mGal | flagged | median "
                "abs. error | %d surveys: within %.2f | flagged | median abs. error | "
                "smaller surveys flagged |\n",
                recovered_within, several_planted, recovered_within);
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (size_t size = 0; size < std::size(planted_sizes); ++size) {
        const SizeFigures &a = f.one[size], &b = f.several[size];
        Tally small = a.small_flagged;
        small.count += b.small_flagged.count;
        small.hits += b.small_flagged.hits;
        const auto tally = [](const Tally &t) {
            char text[48];
            if (t.count == 0) {
                std::snprintf(text, sizeof text, "-");
            } else {
                std::snprintf(text, sizeof text, "%.0f %% of %lld", t.Percent(),
                              static_cast<long long>(t.count));
            }
            return std::string(text);
        };
        std::printf("| %.1f | %s | %s | %.3f | %s | %s | %.3f | %s |\n", planted_sizes[size],
                    tally(a.within).c_str(), tally(a.flagged).c_str(),
                    Quantile(a.errors, 0.5), tally(b.within).c_str(),
                    tally(b.flagged).c_str(), Quantile(b.errors, 0.5), tally(small).c_str());
    }
    std::vector<double> abs_offsets;
    for (const double o : f.clean_offsets) {
        abs_offsets.push_back(std::fabs(o));
    }
    double z_sd = 0.0;
    for (const double z : f.clean_z) {
        z_sd += z * z;
    }
    z_sd = f.clean_z.empty() ? 0.0 : std::sqrt(z_sd / static_cast<double>(f.clean_z.size()));
    std::printf("\nNothing planted: %.1f %% of %lld surveys flagged, %.1f %% beyond 3 "
                "standard errors (floor aside); |offset| median %.3f, 95th percentile "
                "%.3f, largest %.3f mGal; offset/SE root mean square %.2f.\n",
                f.clean_flagged.Percent(), static_cast<long long>(f.clean_flagged.count),
                f.clean_beyond.Percent(), Quantile(abs_offsets, 0.5),
                Quantile(abs_offsets, 0.95), Quantile(abs_offsets, 1.0), z_sd);
    std::printf("Untouched surveys moved by the planting: median of the largest per "
                "trial %.3f, 95th percentile %.3f, largest %.3f mGal.\n",
                Quantile(f.moved, 0.5), Quantile(f.moved, 0.95), Quantile(f.moved, 1.0));
}

// The offsets of a real survey as it is, one line per survey.
void PrintOffsets(const std::string &name, const Dataset &data,
                  const SurveyGrouping &grouping, const SurveyOffsetOptions &options) {
    const SurveyOffsets offsets = EstimateSurveyOffsets(
        data.stations, grouping, data.parameters.search_distance, options);
    std::printf("\n%s, as it is:\n\n| survey | stations | in contact | offset, mGal | "
                "standard error | independent steps | scatter | shifted |\n"
                "|---|---:|---:|---:|---:|---:|---:|---|\n",
                name.c_str());
    for (uint32_t s = 0; s < offsets.surveys.size(); ++s) {
        const SurveyOffset &o = offsets.surveys[s];
        std::printf("| %s%s | %lld | %lld | %+.3f | %.3f | %.1f | %.3f | %s |\n",
                    grouping.names[s].c_str(), o.datum ? " (datum)" : "",
                    static_cast<long long>(o.stations), static_cast<long long>(o.in_contact),
                    o.offset, o.standard_error, o.independent_steps, o.scatter,
                    o.shifted ? "yes" : "");
    }
}

// --- the suspects with and without the levelling ---

struct RunSuspects {
    std::vector<char> suspect;
    TQcStations stations;
    double seconds = 0.0;
};

RunSuspects RunOn(const Dataset &data, const std::string &text) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "korvanel-survey-bench";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "survey.dat").string();
    std::ofstream(path) << text;
    RunSettings settings;
    settings.parameters = data.parameters;
    settings.jobs = DefaultJobs();
    const auto start = std::chrono::steady_clock::now();
    RunOutcome run = RunQuietly(path, (folder / "survey_res.dat").string(), settings);
    RunSuspects found;
    found.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (size_t k = 0; k < run.qc.stations.Size(); ++k) {
        found.suspect.push_back(run.qc.stations[k].suspect ? 1 : 0);
    }
    found.stations = std::move(run.qc.stations);
    std::filesystem::remove_all(folder);
    return found;
}

// Stations with a station of another survey within `distance` metres.
std::vector<char> EdgeStations(const TQcStations &stations, const SurveyGrouping &grouping,
                               double distance) {
    std::vector<uint32_t> all(stations.Size());
    for (uint32_t k = 0; k < all.size(); ++k) {
        all[k] = k;
    }
    const TFixedGrid grid(stations, distance, all);
    std::vector<char> edge(stations.Size(), 0);
    for (size_t k = 0; k < stations.Size(); ++k) {
        grid.Within(stations[k].x, stations[k].y, distance, [&](size_t j) {
            edge[k] = edge[k] || grouping.survey[j] != grouping.survey[k];
        });
    }
    return edge;
}

void MeasureSuspects(const Dataset &data, const SurveyGrouping &grouping, uint32_t planted,
                     const SurveyOffsetOptions &options) {
    const std::vector<char> edge =
        EdgeStations(data.stations, grouping, data.parameters.search_distance);
    const auto count = [&](const std::vector<char> &suspect, bool edge_only) {
        int64_t n = 0;
        for (size_t k = 0; k < suspect.size(); ++k) {
            n += suspect[k] && (!edge_only || edge[k]) ? 1 : 0;
        }
        return static_cast<long long>(n);
    };
    const RunSuspects clean = RunOn(data, Text(data, data.stations));
    std::printf("| %s, nothing planted | %lld | %lld | | | %.1f s |\n", data.name.c_str(),
                count(clean.suspect, false), count(clean.suspect, true), clean.seconds);
    for (const double size : {2.0, 5.0, 14.0}) {
        TQcStations shifted = data.stations;
        Plant(shifted, grouping, {{planted, size}});
        const RunSuspects raw = RunOn(data, Text(data, shifted));
        const SurveyOffsets offsets = EstimateSurveyOffsets(
            shifted, grouping, data.parameters.search_distance, options);
        TQcStations levelled = shifted;
        for (size_t k = 0; k < levelled.Size(); ++k) {
            levelled[k].value -= StationOffset(offsets, grouping, k);
        }
        const RunSuspects after = RunOn(data, Text(data, levelled));
        const std::vector<uint32_t> again = StationsToEstimateAgain(raw.stations, grouping, offsets);
        std::printf("| %s, %s +%.0f mGal (found %+.3f ± %.3f%s) | %lld | %lld | %lld | %lld "
                    "| %zu of %zu |\n",
                    data.name.c_str(), grouping.names[planted].c_str(), size,
                    offsets.surveys[planted].offset, offsets.surveys[planted].standard_error,
                    offsets.surveys[planted].shifted ? ", shifted" : "",
                    count(raw.suspect, false), count(raw.suspect, true),
                    count(after.suspect, false), count(after.suspect, true), again.size(),
                    data.stations.Size());
    }
}

// --- cost ---

void MeasureCost(int size, const SurveyOffsetOptions &options) {
    Dataset data = Parse("synthetic", FormatSyntheticSurvey(MakeSyntheticSurvey(size, 300.0, 7)));
    const RunSuspects run = RunOn(data, Text(data, data.stations));
    const SurveyGrouping grouping = Blocks(run.stations, 6000.0);
    const auto start = std::chrono::steady_clock::now();
    const SurveyOffsets offsets = EstimateSurveyOffsets(
        run.stations, grouping, data.parameters.search_distance, options);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("| %d | %zu | %lld | %.2f s | %.3f s | %.4f |\n", size, grouping.Count(),
                static_cast<long long>(offsets.steps), run.seconds, seconds,
                seconds / run.seconds);
}

} // namespace

int main(int argc, char **argv) {
    std::string data_dir;
    int trials = 10;
    bool suspects = false, real_only = false;
    std::vector<int> cost_sizes;
    SurveyOffsetOptions options;
    for (int k = 1; k < argc; ++k) {
        const std::string flag = argv[k];
        const bool has_value = k + 1 < argc;
        if (flag == "--data" && has_value) {
            data_dir = argv[++k];
        } else if (flag == "--trials" && has_value) {
            trials = std::atoi(argv[++k]);
        } else if (flag == "--floor" && has_value) {
            options.offset_floor = std::atof(argv[++k]);
        } else if (flag == "--prior" && has_value) {
            options.prior_weight = std::atof(argv[++k]);
        } else if (flag == "--neighbours" && has_value) {
            options.max_neighbours = std::atoi(argv[++k]);
        } else if (flag == "--plane") {
            options.trend = SurveyTrend::Plane;
        } else if (flag == "--real-only") {
            real_only = true;
        } else if (flag == "--suspects") {
            suspects = true;
        } else if (flag == "--cost") {
            while (k + 1 < argc && argv[k + 1][0] != '-') {
                cost_sizes.push_back(std::atoi(argv[++k]));
            }
        }
    }
    std::printf("floor %.2f mGal, %.1f standard errors, prior %.2f steps, %s trend, at most "
                "%d neighbours; %d trials\n",
                options.offset_floor, options.standard_errors, options.prior_weight,
                options.trend == SurveyTrend::Plane ? "plane" : "quadratic",
                options.max_neighbours, trials);

    // Synthetic surveys: a new field and new noise every trial.
    const auto synthetic = [](uint32_t seed) {
        return Parse("synthetic", FormatSyntheticSurvey(MakeSyntheticSurvey(10000, 300.0, seed)));
    };
    struct SyntheticSplit {
        std::string name;
        std::function<SurveyGrouping(const Dataset &, uint32_t)> split;
    };
    const SyntheticSplit splits[] = {
        {"synthetic 10,000 stations 300 m apart, blocks of 6 km (about 400 stations)",
         [](const Dataset &d, uint32_t) { return Blocks(d.stations, 6000.0); }},
        {"synthetic, 30 Voronoi cells (about 330 stations)",
         [](const Dataset &d, uint32_t seed) { return Cells(d.stations, 30, seed); }},
        {"synthetic, by name: `^S[0-9]+(?=[0-9]{3}$)` (strips of 1,000 stations, 3 km "
         "by 30 km)",
         [](const Dataset &d, uint32_t) { return Named(d.stations, "^S[0-9]+(?=[0-9]{3}$)"); }},
    };
    for (const SyntheticSplit &split : real_only ? std::span<const SyntheticSplit>{}
                                                 : std::span<const SyntheticSplit>(splits)) {
        Figures figures;
        figures.name = split.name;
        for (int t = 1; t <= trials; ++t) {
            const Dataset data = synthetic(static_cast<uint32_t>(t));
            Trial(figures, data, split.split(data, static_cast<uint32_t>(t)), options,
                  static_cast<uint32_t>(100 + t));
        }
        PrintFigures(figures);
    }

    std::vector<std::pair<Dataset, SurveyGrouping>> real;
    if (!data_dir.empty()) {
        const std::filesystem::path folder(data_dir);
        const Dataset laguna = Parse("Laguna del Maule", ReadFile(folder / "laguna-del-maule.dat"));
        const Dataset bushveld = Parse("Bushveld", ReadFile(folder / "bushveld.dat"),
                                       {15000.0, 2500.0, 16, 1000.0});
        struct RealSplit {
            std::string name;
            const Dataset &data;
            SurveyGrouping grouping;
            std::string reference;
        };
        const RealSplit real_splits[] = {
            {"Laguna del Maule, 2 x 2 blocks of equal counts (about 48 stations)", laguna,
             CountBlocks(laguna.stations, 2, 2), ""},
            // Two surveys: the larger would be the datum; one is fixed.
            {"Laguna del Maule, by name `^LDM[0-9]` (two interleaved halves), LDM0 fixed",
             laguna, Named(laguna.stations, "^LDM[0-9]"), "LDM0"},
            {"Bushveld, 3 x 2 blocks of equal counts (about 260 stations)", bushveld,
             CountBlocks(bushveld.stations, 3, 2), ""},
            {"Bushveld, by name `^SA1[0-9]{2}` (strips of the source's rows)", bushveld,
             Named(bushveld.stations, "^SA1[0-9]{2}"), ""},
        };
        for (const RealSplit &split : real_splits) {
            SurveyOffsetOptions with = options;
            with.reference = split.reference;
            PrintOffsets(split.name, split.data, split.grouping, with);
            Figures figures;
            figures.name = split.name;
            for (int t = 1; t <= trials; ++t) {
                Trial(figures, split.data, split.grouping, with, static_cast<uint32_t>(200 + t));
            }
            PrintFigures(figures);
        }
        real.emplace_back(laguna, CountBlocks(laguna.stations, 2, 2));
        real.emplace_back(bushveld, CountBlocks(bushveld.stations, 3, 2));
    }

    if (suspects) {
        std::printf("\n| survey, planted | suspects | at edges | levelled: suspects | at "
                    "edges | stations to estimate again |\n|---|---:|---:|---:|---:|---:|\n");
        const Dataset data = synthetic(7);
        const SurveyGrouping blocks = Blocks(data.stations, 6000.0);
        MeasureSuspects(data, blocks, *FindSurvey(blocks, "B2_2"), options);
        for (const auto &[dataset, grouping] : real) {
            // The survey with the most stations in contact.
            const SurveyOffsets offsets = EstimateSurveyOffsets(
                dataset.stations, grouping, dataset.parameters.search_distance, options);
            uint32_t most = 0;
            for (uint32_t s = 0; s < offsets.surveys.size(); ++s) {
                if (offsets.surveys[s].in_contact > offsets.surveys[most].in_contact) {
                    most = s;
                }
            }
            MeasureSuspects(dataset, grouping, most, options);
        }
    }

    if (!cost_sizes.empty()) {
        std::printf("\n| stations | surveys | steps | run (%d jobs) | survey pass | ratio |\n"
                    "|---:|---:|---:|---:|---:|---:|\n",
                    DefaultJobs());
        for (const int size : cost_sizes) {
            MeasureCost(size, options);
        }
    }
    return 0;
}
