// How well the diagnosis names what is wrong with a suspect: errors of each
// kind (a lost sign, a moved decimal point, two digits swapped, a wrong
// height with the value reduced with it) planted at random stations of a
// synthetic survey and of real surveys, at sizes that make them suspects,
// and for each kind the share given the right cause with a fix within
// 0.01 mGal (heights: within what the height they are judged against
// allows), a wrong cause, ambiguous, unexplained, or not found at all; and
// the causes given to the suspects of the survey without planted errors.
// Usage: diagnose_bench [--data DIR] [--trials N] [--fit S] [--ambiguity S]
//   DIR holds laguna-del-maule.dat and bushveld.dat (real surveys).
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
#include "qc/Diagnosis.h"

namespace {

// Planted errors per trial: this share of the stations, at least min_planted.
constexpr double planted_share = 0.01;
constexpr size_t min_planted = 3;
// A planted error changes the value by at least this many robust scales of
// the survey's r2, so that it stands out.
constexpr double least_change_scales = 8.0;
// Height errors, metres.
constexpr double least_height_error = 20.0;
constexpr double most_height_error = 100.0;
// A fix is right within this (mGal); a height fix within this share of the
// height error (the kriged height's own error).
constexpr double value_tolerance = 0.01;

// Height: judged against the neighbours' kriged height; HeightDem: against a
// DEM; HeightOnly: the height column alone is wrong (the value was reduced
// with the right one), against a DEM.
enum class Kind { Sign, Decimal, Digits, Height, HeightDem, HeightOnly };
constexpr Kind kinds[] = {Kind::Sign,   Kind::Decimal,   Kind::Digits,
                          Kind::Height, Kind::HeightDem, Kind::HeightOnly};
// The DEM: each station's true height with this much noise (metres, one
// standard deviation), as a DEM good to about 4 m.
constexpr double dem_noise = 4.0;

const char *KindName(Kind kind) {
    switch (kind) {
    case Kind::Sign:
        return "sign";
    case Kind::Decimal:
        return "decimal";
    case Kind::Digits:
        return "digits";
    case Kind::Height:
        return "height";
    case Kind::HeightDem:
        return "h (DEM)";
    case Kind::HeightOnly:
        return "h-only";
    }
    return "";
}

Cause CauseOf(Kind kind) {
    switch (kind) {
    case Kind::Sign:
        return Cause::Sign;
    case Kind::Decimal:
        return Cause::Decimal;
    case Kind::Digits:
        return Cause::Digits;
    case Kind::Height:
    case Kind::HeightDem:
        return Cause::Height;
    case Kind::HeightOnly:
        return Cause::HeightOnly;
    }
    return Cause::None;
}

struct Station {
    std::string x, y, point, h, value; // the fields as written
};

struct Survey {
    std::string name;
    std::vector<Station> stations;
    RunParameters parameters;
};

Survey Parse(const std::string &name, const std::string &text,
             const RunParameters &parameters = {}) {
    Survey survey{name, {}, parameters};
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Station s;
        if (fields >> s.x >> s.y >> s.point >> s.h >> s.value) {
            survey.stations.push_back(s);
        }
    }
    return survey;
}

std::string Text(const std::vector<Station> &stations) {
    std::string text;
    for (const Station &s : stations) {
        text += s.x + " " + s.y + " " + s.point + " " + s.h + " " + s.value +
                "\n";
    }
    return text;
}

// A number written with as many decimals as `like` has.
std::string Written(double value, const std::string &like) {
    const size_t point = like.find('.');
    const int decimals =
        point == std::string::npos ? 0 : static_cast<int>(like.size() - point - 1);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// `dem`: each station's height from a DEM, in file order (empty: none).
RunOutcome Run(const Survey &survey, const std::vector<Station> &stations,
               const std::vector<double> &dem = {}) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "korvanel-diagnose-bench";
    std::filesystem::create_directories(folder);
    const std::string data = (folder / "survey.dat").string();
    std::ofstream(data) << Text(stations);
    RunSettings settings;
    settings.parameters = survey.parameters;
    settings.jobs = DefaultJobs();
    QuietHost host;
    RunInput input;
    input.path = data;
    if (!dem.empty()) {
        input.dem = [&dem](const std::vector<double> &x,
                           const std::vector<double> &) {
            DemSample sample;
            sample.heights = dem;
            sample.heights.resize(x.size(), qc_none);
            return sample;
        };
    }
    RunOutputs outputs;
    outputs.result_path = (folder / "survey_res.dat").string();
    TCalcRun run(host);
    return run.Run(settings, input, outputs);
}

struct Tally {
    size_t planted = 0, found = 0, right = 0, wrong = 0, ambiguous = 0,
           unexplained = 0;
};

void Measure(const Survey &survey, int trials) {
    const size_t count = survey.stations.size();
    const RunOutcome clean = Run(survey, survey.stations);
    const double scale = clean.qc.suspects.scale;
    const double gradient = HeightGradient(DiagnosisOptions{}.density);
    std::printf("%s: %zu stations, robust scale of r2 %.4f mGal\n",
                survey.name.c_str(), count, scale);
    // What the diagnosis says of the suspects nobody planted.
    {
        std::vector<size_t> causes(static_cast<size_t>(Cause::RoughGround) + 1,
                                   0);
        const Diagnosis &d = clean.qc.diagnosis;
        std::printf("  suspects without planted errors: %zu;",
                    clean.qc.suspects.suspects.size());
        for (const size_t k : clean.qc.suspects.suspects) {
            if (const StationDiagnosis *s = d.Of(k)) {
                ++causes[static_cast<size_t>(s->cause)];
            }
        }
        for (size_t c = 0; c < causes.size(); ++c) {
            if (causes[c] > 0) {
                std::printf(" %s %zu", CauseName(static_cast<Cause>(c)),
                            causes[c]);
            }
        }
        std::printf("\n");
    }
    std::printf("  %-8s %8s %8s %8s %8s %10s %12s\n", "error", "planted",
                "found %", "right %", "wrong %", "ambiguous %",
                "unexplained %");
    const size_t planted_count =
        std::max(min_planted, static_cast<size_t>(planted_share * count));
    for (const Kind kind : kinds) {
        Tally tally;
        const bool with_dem = kind == Kind::HeightDem || kind == Kind::HeightOnly;
        for (int trial = 1; trial <= trials; ++trial) {
            std::mt19937_64 random(7919 * trial + static_cast<int>(kind));
            std::uniform_real_distribution<double> unit(0.0, 1.0);
            std::normal_distribution<double> noise(0.0, dem_noise);
            std::vector<double> dem;
            if (with_dem) {
                for (const Station &s : survey.stations) {
                    dem.push_back(std::stod(s.h) + noise(random));
                }
            }
            std::vector<size_t> order(count);
            for (size_t k = 0; k < count; ++k) {
                order[k] = k;
            }
            std::shuffle(order.begin(), order.end(), random);
            std::vector<Station> stations = survey.stations;
            struct Planted {
                size_t k;
                double true_value, true_h;
            };
            std::vector<Planted> planted;
            for (const size_t k : order) {
                if (planted.size() >= planted_count) {
                    break;
                }
                const QcStation &q = clean.qc.stations[k];
                // Only a good station with a leave-one-out residual, away
                // from the other planted ones' neighbourhoods.
                if (!q.Judged() || q.suspect) {
                    continue;
                }
                Station &s = stations[k];
                const double v = std::stod(s.value);
                const double least = least_change_scales * scale;
                bool done = false;
                switch (kind) {
                case Kind::Sign:
                    if (std::fabs(2.0 * v) >= least) {
                        s.value = Written(-v, s.value);
                        done = true;
                    }
                    break;
                case Kind::Decimal: {
                    const double factor = unit(random) < 0.5 ? 10.0 : 0.1;
                    if (std::fabs(v * factor - v) >= least) {
                        // Gravity units for mGal, or the point moved: the
                        // digits stay, the point moves.
                        s.value = Written(v * factor, s.value);
                        done = true;
                    }
                    break;
                }
                case Kind::Digits: {
                    std::vector<size_t> pairs;
                    for (size_t i = 0; i + 1 < s.value.size(); ++i) {
                        if (std::isdigit(static_cast<unsigned char>(
                                s.value[i])) &&
                            std::isdigit(static_cast<unsigned char>(
                                s.value[i + 1])) &&
                            s.value[i] != s.value[i + 1]) {
                            std::string swapped = s.value;
                            std::swap(swapped[i], swapped[i + 1]);
                            if (std::fabs(std::stod(swapped) - v) >= least) {
                                pairs.push_back(i);
                            }
                        }
                    }
                    if (!pairs.empty()) {
                        const size_t i = pairs[random() % pairs.size()];
                        std::swap(s.value[i], s.value[i + 1]);
                        done = true;
                    }
                    break;
                }
                case Kind::Height:
                case Kind::HeightDem:
                case Kind::HeightOnly: {
                    const double error =
                        (unit(random) < 0.5 ? -1.0 : 1.0) *
                        (least_height_error +
                         (most_height_error - least_height_error) *
                             unit(random));
                    const double h = std::stod(s.h);
                    if (kind == Kind::HeightOnly) {
                        s.h = Written(h + error, s.h);
                        done = true;
                    } else if (std::fabs(gradient * error) >= least) {
                        s.h = Written(h + error, s.h);
                        s.value = Written(v + gradient * error, s.value);
                        done = true;
                    }
                    break;
                }
                }
                if (done) {
                    planted.push_back(
                        {k, v, std::stod(survey.stations[k].h)});
                }
            }
            const RunOutcome run = Run(survey, stations, dem);
            const Diagnosis &d = run.qc.diagnosis;
            for (const Planted &p : planted) {
                ++tally.planted;
                const QcStation &q = run.qc.stations[p.k];
                if (!q.suspect && kind != Kind::HeightOnly) {
                    continue;
                }
                ++tally.found;
                const StationDiagnosis *s = d.Of(p.k);
                if (s == nullptr || s->cause == Cause::Unexplained) {
                    ++tally.unexplained;
                    if (std::getenv("DIAGNOSE_BENCH_SHOW") != nullptr) {
                        std::printf("    unexplained %s: h %.1f (true %.1f) "
                                    "kriged %.1f r2 %.3f clean "
                                    "%.3f scale %.3f\n",
                                    KindName(kind), q.h, p.true_h,
                                    q.h_estimate, q.R2(),
                                    q.r2_clean, s ? s->scale : -1.0);
                    }
                } else if (s->cause == Cause::Ambiguous) {
                    ++tally.ambiguous;
                } else if (s->cause == CauseOf(kind) &&
                           (kind == Kind::HeightDem || kind == Kind::HeightOnly
                                ? std::fabs(s->fix_h - p.true_h) <=
                                      3.0 * dem_noise
                            : kind == Kind::Height
                                ? std::fabs(s->fix_h - p.true_h) <=
                                      0.25 * std::fabs(q.h - p.true_h)
                                : std::fabs(s->fix_value - p.true_value) <=
                                      value_tolerance)) {
                    ++tally.right;
                } else {
                    ++tally.wrong;
                }
            }
        }
        const auto share = [&](size_t n) {
            return tally.planted > 0 ? 100.0 * n / tally.planted : 0.0;
        };
        std::printf("  %-8s %8zu %8.1f %8.1f %8.1f %10.1f %12.1f\n",
                    KindName(kind), tally.planted, share(tally.found),
                    share(tally.right), share(tally.wrong),
                    share(tally.ambiguous), share(tally.unexplained));
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
    for (int k = 1; k + 1 < argc; k += 2) {
        const std::string flag = argv[k];
        if (flag == "--data") {
            data = argv[k + 1];
        } else if (flag == "--trials") {
            trials = std::atoi(argv[k + 1]);
        }
    }
    std::printf("%d trials of %.0f %% planted errors of each kind, each "
                "changing the value by %.0f robust scales or more\n\n",
                trials, 100.0 * planted_share, least_change_scales);
    for (const uint32_t seed : {7u, 2026u}) {
        Measure(Parse("synthetic (seed " + std::to_string(seed) + ")",
                      FormatSyntheticSurvey(
                          MakeSyntheticSurvey(2500, 300.0, seed))),
                trials);
    }
    if (!data.empty()) {
        const std::filesystem::path folder(data);
        Measure(Parse("Laguna del Maule",
                      ReadFile(folder / "laguna-del-maule.dat")),
                trials);
        Measure(Parse("Bushveld", ReadFile(folder / "bushveld.dat"),
                      {15000.0, 2500.0, 16, 1000.0}),
                trials);
    }
    return 0;
}
