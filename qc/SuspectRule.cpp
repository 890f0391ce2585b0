// The suspect rule: robust scale, the test of each station that stands out,
// estimates leaving the suspects out, and the stations near each other.
#include "qc/SuspectRule.h"

#include "qc/StationGrid.h"

#include <algorithm>
#include <cmath>
#include <queue>
#include <unordered_map>

namespace {

// The median absolute deviation of a normal distribution is 0.6745 of its
// standard deviation: this factor makes the scale comparable to one.
constexpr double mad_to_sigma = 1.4826;

double Median(std::vector<double> &values) {
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + half, values.end());
    const double upper = values[half];
    if (values.size() % 2 == 1) {
        return upper;
    }
    const double lower =
        *std::max_element(values.begin(), values.begin() + half);
    return lower + (upper - lower) / 2.0;
}

double Distance(const QcStation &a, const QcStation &b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

// The `count` nearest stations of `grid` to station k, k itself left out,
// nearest first.
std::vector<size_t> Nearest(const TQcStations &stations, const TFixedGrid &grid,
                            double cell, size_t k, size_t count) {
    std::vector<std::pair<double, size_t>> near;
    const QcStation &s = stations[k];
    // No more than the grid holds besides k.
    count = std::min(count, grid.Size() > 0 ? grid.Size() - 1 : 0);
    if (count == 0) {
        return {};
    }
    // Widen the circle until it holds enough; the nearest of those are the
    // nearest of all.
    for (double radius = cell;; radius *= 2.0) {
        near.clear();
        grid.Within(s.x, s.y, radius, [&](size_t j) {
            if (j != k) {
                near.emplace_back(
                    std::hypot(stations[j].x - s.x, stations[j].y - s.y), j);
            }
        });
        if (near.size() >= count || !std::isfinite(radius) || radius > 1e300) {
            break;
        }
    }
    const size_t take = std::min(count, near.size());
    std::partial_sort(near.begin(), near.begin() + take, near.end());
    std::vector<size_t> nearest;
    for (size_t n = 0; n < take; ++n) {
        nearest.push_back(near[n].second);
    }
    return nearest;
}

} // namespace

void RobustScale(std::vector<double> values, double &median, double &scale) {
    if (values.empty()) {
        median = scale = qc_none;
        return;
    }
    median = Median(values);
    for (double &v : values) {
        v = std::fabs(v - median);
    }
    scale = mad_to_sigma * Median(values);
}

SuspectFindings FindSuspects(TQcStations &stations, TReestimator &reestimator,
                             const SuspectOptions &options) {
    SuspectFindings findings;
    // Station numbers as 32 bits: the lists of a million stations stay small.
    std::vector<uint32_t> judged;
    judged.reserve(stations.Size());
    {
        std::vector<double> residuals;
        residuals.reserve(stations.Size());
        for (size_t k = 0; k < stations.Size(); ++k) {
            QcStation &s = stations[k];
            s.suspect = false;
            s.r2_clean =
                s.estimate_without == s.estimate_without ? s.R2() : qc_none;
            if (s.Judged()) {
                judged.push_back(static_cast<uint32_t>(k));
                residuals.push_back(s.R2());
            }
        }
        judged.shrink_to_fit();
        findings.judged = static_cast<int64_t>(judged.size());
        RobustScale(std::move(residuals), findings.median, findings.scale);
    }
    // Without a spread there is nothing to stand out from.
    if (!(findings.scale > 0.0) || !std::isfinite(findings.scale)) {
        return findings;
    }
    const double median = findings.median, scale = findings.scale;
    const double threshold = options.threshold;
    // A station stands out by the lesser of its residuals with and without
    // the suspects: without, so that the ring of a blunder falls back; with,
    // so that a feature two stations share does not pass for two blunders
    // once one of them is left out.
    const auto deviation = [&](size_t k) {
        return std::min(std::fabs(stations[k].R2() - median),
                        std::fabs(stations[k].r2_clean - median));
    };
    const auto measure = [&](size_t k) { return deviation(k) / scale; };

    // The stations with an estimate, which may have used a suspect, and the
    // grids to find them by.
    std::vector<uint32_t> estimated;
    estimated.reserve(stations.Size());
    double widest = 0.0, cell = 1.0;
    {
        std::vector<double> reaches;
        reaches.reserve(stations.Size());
        for (size_t k = 0; k < stations.Size(); ++k) {
            if (stations[k].r2_clean == stations[k].r2_clean) {
                estimated.push_back(static_cast<uint32_t>(k));
                if (StationReach(stations[k]) > 0.0) {
                    reaches.push_back(StationReach(stations[k]));
                    widest = std::max(widest, StationReach(stations[k]));
                }
            }
        }
        if (!reaches.empty()) {
            cell = Median(reaches);
        }
    }
    const TReachIndex users(stations, estimated);
    estimated = {};
    const TFixedGrid judged_grid(stations, cell, judged);
    TMovingGrid suspect_grid(stations, cell);
    TMovingGrid cleared_grid(stations, cell);

    enum : char { undecided, suspect, cleared };
    std::vector<char> state(stations.Size(), undecided);
    // For the stations tested: the standing at which one was cleared, and
    // the local scale it was judged by.
    std::unordered_map<size_t, double> cleared_at;
    std::unordered_map<size_t, double> local_scale;

    // Station j's estimate again, without `left_out` and the suspects its
    // estimate used; its r2 then, or its r2 when none could be made.
    const auto r2_without = [&](size_t j, size_t left_out) {
        std::vector<size_t> out;
        if (left_out != j) {
            out.push_back(left_out);
        }
        suspect_grid.Within(stations[j].x, stations[j].y, StationReach(stations[j]),
                            [&](size_t s) {
                                if (s != j && s != left_out) {
                                    out.push_back(s);
                                }
                            });
        std::sort(out.begin(), out.end());
        ++findings.estimated_again;
        const double estimate = reestimator.EstimateLeavingOut(j, out);
        return estimate == estimate ? estimate - stations[j].value
                                    : stations[j].R2();
    };

    // The most extreme undecided station first; a key that no longer matches
    // the station's standing is put back with the new one.
    std::priority_queue<std::pair<double, size_t>> queue;
    for (const uint32_t k : judged) {
        if (measure(k) > threshold) {
            queue.emplace(measure(k), k);
        }
    }
    const int64_t tests_allowed =
        static_cast<int64_t>(options.max_tests_per_station) *
        static_cast<int64_t>(judged.size());
    while (!queue.empty() && findings.tests < tests_allowed) {
        // Plain names, not a structured binding: the lambdas below take them.
        const double key = queue.top().first;
        const size_t k = queue.top().second;
        queue.pop();
        if (state[k] == suspect || !(measure(k) > threshold)) {
            continue;
        }
        if (key != measure(k)) {
            queue.emplace(measure(k), k);
            continue;
        }
        if (state[k] == cleared && cleared_at[k] == key) {
            continue;
        }
        // Beside a station already cleared as rough ground that stood out
        // more: the same ground.
        bool rough = false;
        cleared_grid.Within(
            stations[k].x, stations[k].y, std::max(StationReach(stations[k]), widest),
            [&](size_t c) {
                rough = rough ||
                        (cleared_at[c] >= key &&
                         Distance(stations[k], stations[c]) <=
                             std::max(StationReach(stations[k]), StationReach(stations[c])));
            });
        if (rough) {
            // The scale of the ground it shares: the local scale of the
            // station beside it that was let go standing out more.
            double ground = 0.0;
            cleared_grid.Within(stations[k].x, stations[k].y,
                                std::max(StationReach(stations[k]), widest),
                                [&](size_t c) {
                                    if (cleared_at[c] >= key &&
                                        local_scale.count(c) > 0) {
                                        ground = std::max(ground, local_scale[c]);
                                    }
                                });
            local_scale[k] = ground;
            state[k] = cleared;
            cleared_at[k] = key;
            cleared_grid.Insert(k);
            continue;
        }

        // The test: k stands out when it is beyond the threshold of the
        // larger of the survey's scale and a share of the robust scale of its
        // nearest neighbours' residuals: rough ground, where every estimate
        // misses by more, raises the bar there.
        ++findings.tests;
        std::vector<double> deviations;
        for (const size_t j :
             Nearest(stations, judged_grid, cell, k,
                     static_cast<size_t>(options.local_neighbours))) {
            deviations.push_back(std::fabs(stations[j].r2_clean - median));
        }
        local_scale[k] =
            deviations.empty()
                ? 0.0
                : options.local_share * mad_to_sigma * Median(deviations);
        const double judged_by = std::max(scale, local_scale[k]);
        if (!(deviation(k) / judged_by > threshold)) {
            if (state[k] != cleared) {
                cleared_grid.Insert(k);
            }
            state[k] = cleared;
            cleared_at[k] = key;
            continue;
        }
        // A suspect: the stations whose estimates used it are judged without
        // it from now on.
        std::vector<std::pair<size_t, double>> without_k;
        users.Reaching(stations[k].x, stations[k].y, [&](size_t j) {
            if (j != k) {
                without_k.emplace_back(j, r2_without(j, k));
            }
        });
        if (state[k] == cleared) {
            cleared_grid.Erase(k);
        }
        state[k] = suspect;
        suspect_grid.Insert(k);
        findings.suspects.push_back(k);
        for (const auto &[j, r2] : without_k) {
            stations[j].r2_clean = r2;
            if (state[j] != suspect && measure(j) > threshold) {
                queue.emplace(measure(j), j);
            }
        }
    }

    // A suspect whose own residual, with the suspects found after it left
    // out too, no longer stands out is let go.
    std::vector<size_t> kept;
    for (const size_t k : findings.suspects) {
        const double judged_by = std::max(scale, local_scale[k]);
        if (deviation(k) / judged_by > threshold) {
            stations[k].suspect = true;
            kept.push_back(k);
        }
    }
    findings.suspects = std::move(kept);
    std::stable_sort(
        findings.suspects.begin(), findings.suspects.end(),
        [&](size_t a, size_t b) { return measure(a) > measure(b); });
    for (const size_t k : findings.suspects) {
        findings.suspect_scales.push_back(std::max(scale, local_scale[k]));
    }
    // The stations let go as rough ground that still stand out against the
    // survey's scale, in file order.
    for (const auto &[k, at] : cleared_at) {
        if (state[k] == cleared && measure(k) > threshold) {
            findings.rough_ground.push_back({k, local_scale[k]});
        }
    }
    std::sort(findings.rough_ground.begin(), findings.rough_ground.end(),
              [](const SuspectFindings::LetGo &a,
                 const SuspectFindings::LetGo &b) {
                  return a.station < b.station;
              });
    return findings;
}
