// Survey offsets: the local models at the stations where surveys meet, each
// step's share of the independent information, and the robust adjustment of
// one constant per survey with its standard errors.
#include "qc/SurveyOffsets.h"

#include "qc/StationGrid.h"
#include "qc/SuspectRule.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <optional>
#include <cstdio>
#include <cstdlib>

namespace {

// The median absolute deviation of a normal distribution is 0.6745 of its
// standard deviation: this factor makes a scale comparable to one.
constexpr double mad_to_sigma = 1.4826;
// Tukey's biweight in the local models (95 % efficient for normal errors,
// no weight beyond 4.685 scales: a blunder drops out) and Huber's weight in
// the adjustment (convex, so the solution is one; a large difference counts
// linearly, not squared).
constexpr double biweight_limit = 4.685;
constexpr double huber_limit = 2.0;
constexpr int local_refits = 4;
// Stations of its own survey (itself included) and of another survey that a
// local model needs, and stations beyond its unknowns.
constexpr int32_t min_own_stations = 3;
constexpr int32_t min_other_stations = 3;
constexpr int32_t spare_stations = 3;
// The surveys besides its own that one local model holds at most: those with
// the most stations in it.
constexpr int32_t max_other_surveys = 6;
// A quadratic trend asks this many stations per trend term.
constexpr int32_t quadratic_stations_per_term = 4;
constexpr int32_t plane_terms = 3, quadratic_terms = 6;
constexpr int32_t max_unknowns = quadratic_terms + max_other_surveys;
// The Gaussian distance weight's standard deviation, as a share of the
// radius of the neighbourhood a local model takes.
constexpr double kernel_share = 0.5;
// Kernel standard deviations beyond which two steps share no station weight
// worth counting (exp(-9/2 * 2) ~ 1e-4).
constexpr double shared_reach = 3.0;
// A pivot below this share of its diagonal leaves the system singular: the
// step cannot be told from the trend (parallel lines of two surveys, say).
constexpr double pivot_tolerance = 1e-10;
// The adjustment: iterations at most, and the change in every offset (mGal)
// below which it stops.
constexpr int max_adjustments = 50;
// The prior's weight in the first solution, in steps: enough to fix the
// level of a group, too little to move any offset.
constexpr double starting_prior = 1e-6;
constexpr double adjusted = 1e-6;
// A survey's scatter is drawn toward its group's as if the group's were
// measured by this many independent steps.
constexpr double pooled_steps = 4.0;
// The prior's width is the floor, never narrower than this (mGal).
constexpr double min_prior_width = 0.05;
// The starting radius of a neighbourhood search, in the radii that hold
// max_neighbours stations at the survey's mean density.
constexpr double start_radius_share = 1.2;
// Quantiles of the coordinates that bound the area whose density gives the
// grid's cell: strays far outside do not set it.
constexpr double area_quantile = 0.02;
constexpr double stations_per_cell = 4.0;

double Median(std::vector<double> &values) {
    if (values.empty()) {
        return qc_none;
    }
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + half, values.end());
    const double upper = values[half];
    if (values.size() % 2 == 1) {
        return upper;
    }
    const double lower = *std::max_element(values.begin(), values.begin() + half);
    return lower + (upper - lower) / 2.0;
}

// Cholesky factor of the symmetric positive definite n x n matrix `a` (row
// major, lower triangle used), in place; false when a pivot falls below
// pivot_tolerance of its diagonal.
bool Cholesky(double *a, size_t n) {
    for (size_t j = 0; j < n; ++j) {
        const double diagonal = a[j * n + j];
        double d = diagonal;
        for (size_t k = 0; k < j; ++k) {
            d -= a[j * n + k] * a[j * n + k];
        }
        if (!(d > pivot_tolerance * diagonal) || !std::isfinite(d)) {
            return false;
        }
        const double l = std::sqrt(d);
        a[j * n + j] = l;
        for (size_t i = j + 1; i < n; ++i) {
            double s = a[i * n + j];
            for (size_t k = 0; k < j; ++k) {
                s -= a[i * n + k] * a[j * n + k];
            }
            a[i * n + j] = s / l;
        }
    }
    return true;
}

// Solves L L' x = b in place with the factor of Cholesky.
void CholeskySolve(const double *l, size_t n, double *b) {
    for (size_t i = 0; i < n; ++i) {
        double s = b[i];
        for (size_t k = 0; k < i; ++k) {
            s -= l[i * n + k] * b[k];
        }
        b[i] = s / l[i * n + i];
    }
    for (size_t i = n; i-- > 0;) {
        double s = b[i];
        for (size_t k = i + 1; k < n; ++k) {
            s -= l[k * n + i] * b[k];
        }
        b[i] = s / l[i * n + i];
    }
}

// The inverse of L L' (n x n, row major) from the factor of Cholesky.
std::vector<double> CholeskyInverse(const double *l, size_t n) {
    std::vector<double> inverse(n * n, 0.0), column(n);
    for (size_t j = 0; j < n; ++j) {
        std::fill(column.begin(), column.end(), 0.0);
        column[j] = 1.0;
        CholeskySolve(l, n, column.data());
        for (size_t i = 0; i < n; ++i) {
            inverse[i * n + j] = column[i];
        }
    }
    return inverse;
}

bool Usable(const QcStation &s) {
    return std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.value);
}

bool DownWeighted(const QcStation &s) {
    return s.suspect || s.status == QcStatus::Duplicate;
}

// The step of one station to the other surveys around it, and the surveys
// it mixes.
struct Step {
    uint32_t station = 0;
    uint32_t survey = 0;     // the station's own
    uint32_t first_term = 0; // its terms in the list of terms
    uint32_t terms = 0;
    double step = 0.0;     // the mix of the others' constants minus its own, mGal
    double variance = 0.0; // of `step` from the local model, mGal²
    double kernel = 0.0;   // the distance weight's standard deviation, m
    double share = 1.0;    // its share of the independent information
    double weight = 1.0;   // down_weight for a suspect or a duplicate
};

// Another survey in a step's mix, with its weight (the weights sum to 1).
struct Term {
    uint32_t survey = 0;
    double weight = 0.0;
};

// The nearest stations within a distance, and the local model fitted to
// them; buffers kept from one station to the next.
class TLocalModels {
  public:
    TLocalModels(const TQcStations &stations_, const SurveyGrouping &grouping_,
                 const TFixedGrid &grid_, double search_distance_,
                 double start_radius_, const SurveyOffsetOptions &options_)
        : stations(stations_), grouping(grouping_), grid(grid_),
          search_distance(search_distance_), start_radius(start_radius_),
          options(options_) {}

    // The step at station k, with its terms appended to `terms`; false when
    // the station does not have both its own survey and another around it,
    // or its model cannot tell the step from the trend.
    bool StepAt(uint32_t k, Step &step, std::vector<Term> &terms);

  private:
    void Gather(uint32_t k);
    bool Fit(size_t unknowns, int32_t trend_terms);

    const TQcStations &stations;
    const SurveyGrouping &grouping;
    const TFixedGrid &grid;
    const double search_distance, start_radius;
    const SurveyOffsetOptions &options;

    std::vector<std::pair<double, uint32_t>> near; // squared distance, station
    // The model's rows: the trend's terms and the survey columns, the
    // value, the prior weight (distance, down-weighting) and the robust one.
    struct Row {
        std::array<double, quadratic_terms> trend;
        int32_t column; // the survey's column, -1 for the station's own
        double value, prior, robust, residual;
    };
    std::vector<Row> rows;
    std::vector<double> magnitudes;
    std::array<double, max_unknowns * max_unknowns> normal{}, inverse{};
    std::array<double, max_unknowns> solution{};
};

void TLocalModels::Gather(uint32_t k) {
    const QcStation &s = stations[k];
    const size_t wanted = static_cast<size_t>(std::max(options.max_neighbours, 1));
    // Widen the circle until it holds enough or reaches the search distance;
    // the nearest of those are the nearest of all within it.
    for (double radius = std::min(start_radius, search_distance);; radius *= 2.0) {
        radius = std::min(radius, search_distance);
        near.clear();
        grid.Within(s.x, s.y, radius, [&](size_t j) {
            const double dx = stations[j].x - s.x, dy = stations[j].y - s.y;
            near.emplace_back(dx * dx + dy * dy, static_cast<uint32_t>(j));
        });
        if (near.size() >= wanted || radius >= search_distance) {
            break;
        }
    }
    if (near.size() > wanted) {
        std::nth_element(near.begin(), near.begin() + static_cast<ptrdiff_t>(wanted - 1),
                         near.end());
        near.resize(wanted);
    }
}

// Weighted least squares of the rows on `unknowns` columns (the first
// `trend_terms` the trend's), refitted with Tukey's biweight; the solution
// and the inverse of the normal matrix stay in the members.
bool TLocalModels::Fit(size_t unknowns, int32_t trend_terms) {
    const size_t n = unknowns;
    const auto column_of = [&](const Row &row, double *x) {
        for (int32_t t = 0; t < trend_terms; ++t) {
            x[t] = row.trend[static_cast<size_t>(t)];
        }
        for (size_t c = static_cast<size_t>(trend_terms); c < n; ++c) {
            x[c] = 0.0;
        }
        if (row.column >= 0) {
            x[static_cast<size_t>(trend_terms + row.column)] = 1.0;
        }
    };
    std::array<double, max_unknowns> x{};
    for (int refit = 0; refit <= local_refits; ++refit) {
        std::fill(normal.begin(), normal.begin() + static_cast<ptrdiff_t>(n * n), 0.0);
        std::fill(solution.begin(), solution.begin() + static_cast<ptrdiff_t>(n), 0.0);
        for (const Row &row : rows) {
            const double w = row.prior * row.robust;
            if (w == 0.0) {
                continue;
            }
            column_of(row, x.data());
            for (size_t i = 0; i < n; ++i) {
                solution[i] += w * x[i] * row.value;
                for (size_t j = 0; j <= i; ++j) {
                    normal[i * n + j] += w * x[i] * x[j];
                }
            }
        }
        if (!Cholesky(normal.data(), n)) {
            return false;
        }
        CholeskySolve(normal.data(), n, solution.data());
        magnitudes.clear();
        for (Row &row : rows) {
            column_of(row, x.data());
            double fitted = 0.0;
            for (size_t i = 0; i < n; ++i) {
                fitted += x[i] * solution[i];
            }
            row.residual = row.value - fitted;
            magnitudes.push_back(std::fabs(row.residual));
        }
        if (refit == local_refits) {
            break;
        }
        const double scale = mad_to_sigma * Median(magnitudes);
        if (!(scale > 0.0)) {
            break; // an exact fit: nothing to weigh down
        }
        for (Row &row : rows) {
            const double u = row.residual / (biweight_limit * scale);
            row.robust = std::fabs(u) < 1.0 ? (1.0 - u * u) * (1.0 - u * u) : 0.0;
        }
    }
    const std::vector<double> full = CholeskyInverse(normal.data(), n);
    std::copy(full.begin(), full.end(), inverse.begin());
    return true;
}

bool TLocalModels::StepAt(uint32_t k, Step &step, std::vector<Term> &terms) {
    Gather(k);
    const uint32_t own = grouping.survey[k];
    // The surveys present and their stations, the most first; few, so a
    // plain list.
    std::array<std::pair<int32_t, uint32_t>, max_other_surveys + 1> kept{};
    std::vector<std::pair<int32_t, uint32_t>> present; // count, survey
    int32_t own_count = 0;
    for (const auto &[d2, j] : near) {
        const uint32_t s = grouping.survey[j];
        if (s == own) {
            ++own_count;
            continue;
        }
        auto at = std::find_if(present.begin(), present.end(),
                               [&](const auto &p) { return p.second == s; });
        if (at == present.end()) {
            present.emplace_back(1, s);
        } else {
            ++at->first;
        }
    }
    if (own_count < min_own_stations) {
        return false;
    }
    std::sort(present.begin(), present.end(),
              [](const auto &a, const auto &b) {
                  return a.first > b.first || (a.first == b.first && a.second < b.second);
              });
    size_t others = 0;
    for (const auto &p : present) {
        if (p.first >= min_other_stations && others < static_cast<size_t>(max_other_surveys)) {
            kept[others++] = p;
        }
    }
    if (others == 0) {
        return false;
    }

    // The rows: the own survey's stations and the kept others', coordinates
    // in radii of the neighbourhood from the station so that the normal
    // matrix stays well scaled.
    const QcStation &centre = stations[k];
    double radius = 0.0;
    for (const auto &[d2, j] : near) {
        radius = std::max(radius, d2);
    }
    radius = std::sqrt(radius);
    if (!(radius > 0.0)) {
        return false; // every station at one position
    }
    const double kernel = kernel_share * radius;
    rows.clear();
    for (const auto &[d2, j] : near) {
        const uint32_t s = grouping.survey[j];
        int32_t column = -1;
        if (s != own) {
            for (size_t c = 0; c < others; ++c) {
                if (kept[c].second == s) {
                    column = static_cast<int32_t>(c);
                }
            }
            if (column < 0) {
                continue;
            }
        }
        const QcStation &station = stations[j];
        const double u = (station.x - centre.x) / radius;
        const double v = (station.y - centre.y) / radius;
        Row row;
        row.trend = {1.0, u, v, u * u, u * v, v * v};
        row.column = column;
        row.value = station.value;
        row.prior = std::exp(-0.5 * d2 / (kernel * kernel)) *
                    (DownWeighted(station) ? options.down_weight : 1.0);
        row.robust = 1.0;
        row.residual = 0.0;
        rows.push_back(row);
    }
    const auto count = static_cast<int32_t>(rows.size());
    const auto other_count = static_cast<int32_t>(others);
    int32_t trend_terms = plane_terms;
    if (options.trend == SurveyTrend::Quadratic &&
        count >= quadratic_stations_per_term * quadratic_terms + other_count) {
        trend_terms = quadratic_terms;
    }
    if (count < trend_terms + other_count + spare_stations) {
        return false;
    }
    const size_t n = static_cast<size_t>(trend_terms + other_count);
    if (!Fit(n, trend_terms)) {
        return false;
    }

    // The constants' covariance: the sandwich A⁻¹ (X' W² X) A⁻¹ σ², as the
    // distance weights are no inverse variances; σ from the residuals'
    // robust scale.
    magnitudes.clear();
    for (const Row &row : rows) {
        magnitudes.push_back(std::fabs(row.residual));
    }
    const double sigma = mad_to_sigma * Median(magnitudes);
    const size_t first = static_cast<size_t>(trend_terms);
    std::array<double, max_unknowns * max_unknowns> meat{};
    std::array<double, max_unknowns> x{};
    for (const Row &row : rows) {
        const double w = row.prior * row.robust;
        for (size_t i = 0; i < n; ++i) {
            x[i] = i < first ? row.trend[i] : 0.0;
        }
        if (row.column >= 0) {
            x[first + static_cast<size_t>(row.column)] = 1.0;
        }
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) {
                meat[i * n + j] += w * w * x[i] * x[j];
            }
        }
    }
    // covariance[a][b] of the others' constants a, b.
    std::array<double, max_other_surveys * max_other_surveys> covariance{};
    for (size_t a = 0; a < others; ++a) {
        for (size_t b = 0; b < others; ++b) {
            double sum = 0.0;
            for (size_t i = 0; i < n; ++i) {
                for (size_t j = 0; j < n; ++j) {
                    sum += inverse[(first + a) * n + i] * meat[i * n + j] *
                           inverse[j * n + first + b];
                }
            }
            covariance[a * others + b] = sigma * sigma * sum;
        }
    }
    // The mix: each other survey by the inverse variance of its constant.
    std::array<double, max_other_surveys> mix{};
    double total = 0.0;
    for (size_t a = 0; a < others; ++a) {
        const double variance = covariance[a * others + a];
        mix[a] = variance > 0.0 ? 1.0 / variance : 1.0;
        total += mix[a];
    }
    step = Step{};
    step.station = k;
    step.survey = own;
    step.first_term = static_cast<uint32_t>(terms.size());
    step.terms = static_cast<uint32_t>(others);
    for (size_t a = 0; a < others; ++a) {
        mix[a] /= total;
        step.step += mix[a] * solution[first + a];
        for (size_t b = 0; b < others; ++b) {
            step.variance += mix[a] * mix[b] * covariance[a * others + b];
        }
        terms.push_back({kept[a].second, mix[a]});
    }
    step.kernel = kernel;
    step.weight = DownWeighted(centre) ? options.down_weight : 1.0;
    if (!std::isfinite(step.step) || !(step.variance > 0.0) || !std::isfinite(step.variance)) {
        terms.resize(step.first_term);
        return false;
    }
    return true;
}

// The side of a grid cell for the stations at `chosen`: a few stations to a
// cell at the survey's density, found from the area between the coordinates'
// quantiles; and the radius that holds `wanted` stations at that density.
void CellAndRadius(const TQcStations &stations, const std::vector<uint32_t> &chosen,
                   size_t wanted, double search_distance, double &cell,
                   double &start_radius) {
    cell = search_distance;
    start_radius = search_distance;
    if (chosen.size() < 2) {
        return;
    }
    std::vector<double> xs, ys;
    xs.reserve(chosen.size());
    ys.reserve(chosen.size());
    for (const uint32_t k : chosen) {
        xs.push_back(stations[k].x);
        ys.push_back(stations[k].y);
    }
    const auto spread = [](std::vector<double> &v) {
        const auto low = static_cast<ptrdiff_t>(area_quantile * static_cast<double>(v.size()));
        const auto high = static_cast<ptrdiff_t>(v.size()) - 1 - low;
        std::nth_element(v.begin(), v.begin() + low, v.end());
        const double lower = v[static_cast<size_t>(low)];
        std::nth_element(v.begin(), v.begin() + high, v.end());
        return v[static_cast<size_t>(high)] - lower;
    };
    const double width = spread(xs), height = spread(ys);
    // A survey along one line has no area: its length over its stations.
    const double per_station =
        width > 0.0 && height > 0.0
            ? width * height / static_cast<double>(chosen.size())
            : std::pow(std::max(width, height) / static_cast<double>(chosen.size()), 2.0);
    if (!(per_station > 0.0) || !std::isfinite(per_station)) {
        return;
    }
    cell = std::min(search_distance, std::sqrt(stations_per_cell * per_station));
    start_radius = std::min(search_distance,
                            start_radius_share *
                                std::sqrt(static_cast<double>(wanted) * per_station / std::numbers::pi));
}

// Each step's share of the independent information: 1 over the sum of its
// correlations with the steps around it (itself included), the correlation
// of two steps being the overlap of their Gaussian distance weights,
// 2 b1 b2 / (b1² + b2²) exp(-d² / (2 (b1² + b2²))).
void ShareSteps(const TQcStations &stations, std::vector<Step> &steps, double cell) {
    std::vector<uint32_t> members;
    members.reserve(steps.size());
    for (const Step &s : steps) {
        members.push_back(s.station);
    }
    const TFixedGrid grid(stations, cell, std::move(members));
    // Steps are in station order: a station's step by binary search.
    const auto step_of = [&](size_t k) -> const Step & {
        return *std::lower_bound(steps.begin(), steps.end(), k,
                                 [](const Step &s, size_t wanted) { return s.station < wanted; });
    };
    std::vector<double> sums(steps.size(), 0.0);
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &a = steps[i];
        const QcStation &at = stations[a.station];
        grid.Within(at.x, at.y, 2.0 * shared_reach * a.kernel, [&](size_t j) {
            const Step &b = step_of(j);
            const double dx = stations[j].x - at.x, dy = stations[j].y - at.y;
            const double both = a.kernel * a.kernel + b.kernel * b.kernel;
            sums[i] += 2.0 * a.kernel * b.kernel / both *
                       std::exp(-(dx * dx + dy * dy) / (2.0 * both));
        });
    }
    for (size_t i = 0; i < steps.size(); ++i) {
        steps[i].share = sums[i] >= 1.0 ? 1.0 / sums[i] : 1.0;
    }
}

// The station-weighted median of the offsets of `members`: the lowest
// offset at which half of their stations are reached; and the survey that
// holds it.
double WeightedMedian(const std::vector<uint32_t> &members, const std::vector<double> &offset,
                      const std::vector<SurveyOffset> &surveys, uint32_t &holder) {
    std::vector<uint32_t> order(members);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return offset[a] < offset[b] || (offset[a] == offset[b] && a < b);
    });
    int64_t total = 0;
    for (const uint32_t s : order) {
        total += surveys[s].stations;
    }
    int64_t reached = 0;
    for (const uint32_t s : order) {
        reached += surveys[s].stations;
        if (2 * reached >= total) {
            holder = s;
            return offset[s];
        }
    }
    holder = order.back();
    return offset[holder];
}

// One group of linked surveys: the robust adjustment of their offsets and
// their standard errors.
class TAdjustment {
  public:
    TAdjustment(const std::vector<Step> &steps_, const std::vector<Term> &terms_,
                std::vector<SurveyOffset> &surveys_, const SurveyOffsetOptions &options_)
        : steps(steps_), terms(terms_), surveys(surveys_), options(options_) {}

    // Adjusts the surveys `members` (their steps at `step_list`); `reference`
    // is the fixed survey, or none when it is not among them.
    void Run(const std::vector<uint32_t> &members, const std::vector<uint32_t> &step_list,
             std::optional<uint32_t> reference);

  private:
    // Adds each step's equation, weighted, to the normal matrix of the
    // members (`local` gives a survey's row), without a prior.
    void Normal(const std::vector<uint32_t> &step_list, const std::vector<double> &weights,
                std::vector<double> &matrix, std::vector<double> &right) const;
    double Residual(const Step &step, const std::vector<double> &offset) const {
        double r = -step.step - offset[step.survey];
        for (uint32_t t = 0; t < step.terms; ++t) {
            const Term &term = terms[step.first_term + t];
            r += term.weight * offset[term.survey];
        }
        return r;
    }

    const std::vector<Step> &steps;
    const std::vector<Term> &terms;
    std::vector<SurveyOffset> &surveys;
    const SurveyOffsetOptions &options;
    std::vector<int32_t> local; // a survey's row among the members, or -1
};

void TAdjustment::Normal(const std::vector<uint32_t> &step_list,
                         const std::vector<double> &weights, std::vector<double> &matrix,
                         std::vector<double> &right) const {
    const size_t n = right.size();
    std::vector<std::pair<size_t, double>> row;
    for (size_t e = 0; e < step_list.size(); ++e) {
        const Step &step = steps[step_list[e]];
        // The equation: own - Σ mix · others = -step.
        row.clear();
        row.emplace_back(static_cast<size_t>(local[step.survey]), 1.0);
        for (uint32_t t = 0; t < step.terms; ++t) {
            const Term &term = terms[step.first_term + t];
            row.emplace_back(static_cast<size_t>(local[term.survey]), -term.weight);
        }
        for (const auto &[i, a] : row) {
            right[i] += weights[e] * a * -step.step;
            for (const auto &[j, b] : row) {
                matrix[i * n + j] += weights[e] * a * b;
            }
        }
    }
}

void TAdjustment::Run(const std::vector<uint32_t> &members,
                      const std::vector<uint32_t> &step_list,
                      std::optional<uint32_t> reference) {
    const size_t n = members.size();
    local.assign(surveys.size(), -1);
    for (size_t i = 0; i < n; ++i) {
        local[members[i]] = static_cast<int32_t>(i);
    }
    std::vector<double> offset(surveys.size(), 0.0);
    // Each step's scatter scale (per survey, in units of its local model's
    // variance), robust weight and the weight it enters with.
    std::vector<double> scale(surveys.size(), 1.0);
    std::vector<double> robust(step_list.size(), 1.0), weights(step_list.size());
    std::vector<double> matrix(n * n), right(n), magnitudes, previous(n);
    const double width = std::max(options.offset_floor, min_prior_width);
    uint32_t holder = reference ? *reference : members.front();

    for (int iteration = 0; iteration < max_adjustments; ++iteration) {
        for (size_t e = 0; e < step_list.size(); ++e) {
            const Step &step = steps[step_list[e]];
            weights[e] = robust[e] * step.weight * step.share /
                         (scale[step.survey] * step.variance);
        }
        std::fill(matrix.begin(), matrix.end(), 0.0);
        std::fill(right.begin(), right.end(), 0.0);
        Normal(step_list, weights, matrix, right);
        // The prior: a weight of prior_weight steps of typical variance
        // toward the datum (0), fading as (1 + (offset / width)⁴)⁻¹: whole
        // within the floor, a 257th of itself at four floors, so that it
        // holds a loosely tied survey near 0 and barely bends a shift its
        // data measure. The first solution is the plain least squares one
        // (the prior but a trace that fixes the level): started at 0, the
        // prior and the robust weights would hold a shifted survey there.
        magnitudes.clear();
        for (const uint32_t e : step_list) {
            magnitudes.push_back(1.0 / (scale[steps[e].survey] * steps[e].variance));
        }
        const double unit = (iteration == 0 ? starting_prior : options.prior_weight) *
                            Median(magnitudes);
        for (size_t i = 0; i < n; ++i) {
            const double away = offset[members[i]] / width;
            matrix[i * n + i] += unit / (1.0 + away * away * away * away);
        }
        if (reference) {
            // Fixed at 0: its row and column become those of the identity.
            const size_t r = static_cast<size_t>(local[*reference]);
            for (size_t i = 0; i < n; ++i) {
                matrix[r * n + i] = matrix[i * n + r] = 0.0;
            }
            matrix[r * n + r] = 1.0;
            right[r] = 0.0;
        }
        if (!Cholesky(matrix.data(), n)) {
            break; // cannot happen with a positive prior; keep the last solution
        }
        CholeskySolve(matrix.data(), n, right.data());
        for (size_t i = 0; i < n; ++i) {
            previous[i] = offset[members[i]];
            offset[members[i]] = right[i];
        }
        // The level most stations agree on is 0: the prior alone would let
        // the group drift.
        if (!reference) {
            const double level = WeightedMedian(members, offset, surveys, holder);
            for (const uint32_t s : members) {
                offset[s] -= level;
            }
        }
        double change = 0.0;
        for (size_t i = 0; i < n; ++i) {
            change = std::max(change, std::fabs(offset[members[i]] - previous[i]));
        }
        // The scatter of each survey's own steps about their centre (in
        // their local models' variances), drawn toward the group's; and
        // Huber's weights for the steps far from that centre. About the
        // centre, not the solution: the steps of a survey the prior holds
        // off them all differ from the solution alike, and must neither
        // look noisier nor lose weight for it, or the prior would win.
        std::vector<double> all;
        std::vector<std::vector<double>> own(n);
        std::vector<double> independent(n, 0.0), centre(n, 0.0);
        for (const uint32_t e : step_list) {
            const size_t i = static_cast<size_t>(local[steps[e].survey]);
            const double z = Residual(steps[e], offset) / std::sqrt(steps[e].variance);
            own[i].push_back(z);
            independent[i] += steps[e].share;
        }
        for (size_t i = 0; i < n; ++i) {
            if (!own[i].empty()) {
                double spread = 0.0;
                RobustScale(own[i], centre[i], spread);
                for (const double z : own[i]) {
                    all.push_back(z - centre[i]);
                }
            }
        }
        double middle = 0.0, spread = 0.0;
        RobustScale(std::move(all), middle, spread);
        const double group_scale = spread * spread;
        for (size_t i = 0; i < n; ++i) {
            double own_scale = group_scale;
            if (!own[i].empty()) {
                RobustScale(std::move(own[i]), middle, spread);
                own_scale = spread * spread;
            }
            const double mixed = (independent[i] * own_scale + pooled_steps * group_scale) /
                                 (independent[i] + pooled_steps);
            scale[members[i]] = mixed > 0.0 ? mixed : 1.0;
        }
        for (size_t e = 0; e < step_list.size(); ++e) {
            const Step &step = steps[step_list[e]];
            const size_t i = static_cast<size_t>(local[step.survey]);
            const double z =
                std::fabs(Residual(step, offset) / std::sqrt(step.variance) - centre[i]) /
                std::sqrt(scale[step.survey]);
            robust[e] = z > huber_limit ? huber_limit / z : 1.0;
        }
        if (iteration > 0 && change < adjusted) {
            break;
        }
    }

    // Standard errors: the covariance of the data's normal matrix (no prior)
    // with the datum survey fixed; the datum survey's own against the
    // station-weighted mean of the others.
    for (size_t e = 0; e < step_list.size(); ++e) {
        const Step &step = steps[step_list[e]];
        weights[e] = robust[e] * step.weight * step.share / (scale[step.survey] * step.variance);
    }
    std::fill(matrix.begin(), matrix.end(), 0.0);
    std::fill(right.begin(), right.end(), 0.0);
    Normal(step_list, weights, matrix, right);
    const size_t d = static_cast<size_t>(local[holder]);
    const size_t m = n - 1;
    std::vector<double> reduced(m * m);
    for (size_t i = 0, ri = 0; i < n; ++i) {
        if (i == d) {
            continue;
        }
        for (size_t j = 0, rj = 0; j < n; ++j) {
            if (j != d) {
                reduced[ri * m + rj++] = matrix[i * n + j];
            }
        }
        ++ri;
    }
    std::vector<double> standard_error(n, qc_none);
    if (m > 0 && Cholesky(reduced.data(), m)) {
        const std::vector<double> covariance = CholeskyInverse(reduced.data(), m);
        std::vector<double> mean(m, 0.0);
        double others = 0.0;
        for (size_t i = 0, ri = 0; i < n; ++i) {
            if (i == d) {
                continue;
            }
            standard_error[i] = std::sqrt(covariance[ri * m + ri]);
            mean[ri] = static_cast<double>(surveys[members[i]].stations);
            others += mean[ri];
            ++ri;
        }
        double variance = 0.0;
        for (size_t a = 0; a < m; ++a) {
            for (size_t b = 0; b < m; ++b) {
                variance += mean[a] * covariance[a * m + b] * mean[b];
            }
        }
        standard_error[d] = std::sqrt(variance) / others;
    }

    // Each survey's figures.
    std::vector<std::vector<double>> residuals(n);
    for (const uint32_t e : step_list) {
        const Step &step = steps[e];
        residuals[static_cast<size_t>(local[step.survey])].push_back(Residual(step, offset));
        surveys[step.survey].independent_steps += step.share;
        for (uint32_t t = 0; t < step.terms; ++t) {
            const Term &term = terms[step.first_term + t];
            surveys[term.survey].independent_steps += term.weight * step.share;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        SurveyOffset &survey = surveys[members[i]];
        survey.offset = offset[members[i]];
        survey.standard_error = standard_error[i];
        double centre = 0.0;
        RobustScale(std::move(residuals[i]), centre, survey.scatter);
        survey.datum = members[i] == holder;
        survey.shifted = std::fabs(survey.offset) > options.offset_floor &&
                         std::fabs(survey.offset) > options.standard_errors * survey.standard_error;
    }
}

// The groups of surveys linked by steps: a survey's group by union-find.
uint32_t Root(std::vector<uint32_t> &parent, uint32_t s) {
    while (parent[s] != s) {
        parent[s] = parent[parent[s]];
        s = parent[s];
    }
    return s;
}

} // namespace

double SurveyOffsets::Removed(uint32_t survey) const {
    return survey < surveys.size() && surveys[survey].shifted ? surveys[survey].offset : 0.0;
}

SurveyOffsets EstimateSurveyOffsets(const TQcStations &stations,
                                    const SurveyGrouping &grouping, double search_distance,
                                    const SurveyOffsetOptions &options) {
    SurveyOffsets result;
    const size_t count = std::min(stations.Size(), grouping.survey.size());
    const size_t survey_count = grouping.names.size();
    std::vector<SurveyOffset> surveys(survey_count);
    std::vector<uint32_t> usable;
    usable.reserve(count);
    for (size_t k = 0; k < count; ++k) {
        const uint32_t s = grouping.survey[k];
        if (s < survey_count) {
            ++surveys[s].stations;
            if (Usable(stations[k])) {
                usable.push_back(static_cast<uint32_t>(k));
            }
        }
    }

    std::optional<uint32_t> reference;
    if (!options.reference.empty()) {
        reference = FindSurvey(grouping, options.reference);
        if (!reference) {
            result.refusal = SurveyRefusal::UnknownReference;
            return result;
        }
    }
    int64_t held = 0, in_small = 0, total = 0;
    for (const SurveyOffset &s : surveys) {
        held += s.stations > 0 ? 1 : 0;
        in_small += s.stations < options.min_survey_stations ? s.stations : 0;
        total += s.stations;
    }
    if (held < 2) {
        result.refusal = SurveyRefusal::OneSurvey;
        return result;
    }
    if (held > options.max_surveys || 2 * in_small > total) {
        result.refusal = SurveyRefusal::GroupingLooksWrong;
        return result;
    }
    result.refusal = SurveyRefusal::None;
    if (!(search_distance > 0.0) || !std::isfinite(search_distance)) {
        result.surveys = std::move(surveys);
        return result;
    }

    // The steps, station by station.
    double cell = 0.0, start_radius = 0.0;
    CellAndRadius(stations, usable, static_cast<size_t>(std::max(options.max_neighbours, 1)),
                  search_distance, cell, start_radius);
    std::vector<Step> steps;
    std::vector<Term> terms;
    {
        const TFixedGrid grid(stations, cell, usable);
        TLocalModels models(stations, grouping, grid, search_distance, start_radius, options);
        Step step;
        for (const uint32_t k : usable) {
            if (models.StepAt(k, step, terms)) {
                steps.push_back(step);
                ++surveys[step.survey].in_contact;
            }
        }
    }
    usable = {};
    steps.shrink_to_fit();
    terms.shrink_to_fit();
    result.steps = static_cast<int64_t>(steps.size());
    ShareSteps(stations, steps, cell);

    // The groups of linked surveys, each adjusted on its own.
    std::vector<uint32_t> parent(survey_count);
    std::iota(parent.begin(), parent.end(), uint32_t{0});
    for (const Step &step : steps) {
        surveys[step.survey].linked = true;
        for (uint32_t t = 0; t < step.terms; ++t) {
            const uint32_t other = terms[step.first_term + t].survey;
            surveys[other].linked = true;
            parent[Root(parent, other)] = Root(parent, step.survey);
        }
    }
    std::vector<int32_t> group_of_root(survey_count, -1);
    std::vector<std::vector<uint32_t>> members, step_lists;
    for (uint32_t s = 0; s < survey_count; ++s) {
        if (!surveys[s].linked) {
            continue;
        }
        int32_t &group = group_of_root[Root(parent, s)];
        if (group < 0) {
            group = static_cast<int32_t>(members.size());
            members.emplace_back();
            step_lists.emplace_back();
        }
        surveys[s].group = group;
        members[static_cast<size_t>(group)].push_back(s);
    }
    for (uint32_t e = 0; e < steps.size(); ++e) {
        step_lists[static_cast<size_t>(surveys[steps[e].survey].group)].push_back(e);
    }
    result.groups = static_cast<int32_t>(members.size());
    TAdjustment adjustment(steps, terms, surveys, options);
    for (size_t g = 0; g < members.size(); ++g) {
        const bool fixed = reference && surveys[*reference].group == static_cast<int32_t>(g);
        adjustment.Run(members[g], step_lists[g], fixed ? reference : std::nullopt);
    }
    result.surveys = std::move(surveys);
    return result;
}

double StationOffset(const SurveyOffsets &offsets, const SurveyGrouping &grouping, size_t k) {
    return k < grouping.survey.size() ? offsets.Removed(grouping.survey[k]) : 0.0;
}

std::vector<uint32_t> StationsToEstimateAgain(const TQcStations &stations,
                                              const SurveyGrouping &grouping,
                                              const SurveyOffsets &offsets) {
    const size_t count = std::min(stations.Size(), grouping.survey.size());
    bool any = false;
    for (uint32_t s = 0; s < offsets.surveys.size(); ++s) {
        any = any || offsets.Removed(s) != 0.0;
    }
    if (!any) {
        return {};
    }
    std::vector<uint32_t> estimated;
    for (size_t k = 0; k < count; ++k) {
        if (StationReach(stations[k]) > 0.0) {
            estimated.push_back(static_cast<uint32_t>(k));
        }
    }
    const TReachIndex users(stations, estimated);
    std::vector<char> again(count, 0);
    for (size_t j = 0; j < count; ++j) {
        const double removed = StationOffset(offsets, grouping, j);
        users.Reaching(stations[j].x, stations[j].y, [&](size_t k) {
            if (k < count && StationOffset(offsets, grouping, k) != removed) {
                again[k] = 1;
            }
        });
    }
    std::vector<uint32_t> list;
    for (size_t k = 0; k < count; ++k) {
        if (again[k]) {
            list.push_back(static_cast<uint32_t>(k));
        }
    }
    return list;
}
