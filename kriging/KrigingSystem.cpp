// Assembly of a node's kriging system, the pair cache it reads covariances
// from, and the Gauss-Jordan solve.
//
// Formulas are evaluated with long double intermediates (64-bit mantissa) and
// stored into double arrays.
#include "kriging/KrigingSystem.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Number of drift terms of an order; orders outside 1..3 have none.
int32_t DriftTerms(int32_t order) {
    switch (order) {
    case 1:
        return 2;
    case 2:
        return 5;
    case 3:
        return 9;
    default:
        return 0;
    }
}

// Drift term t (1..9) at (x, y), the coordinates scaled by the largest sample
// x (widened) and y: a scale of 0 divides by zero, which the node's
// floating-point check reports.
double DriftTerm(int32_t t, double x, double y, double x_max, double y_max) {
    const long double X = x;
    const long double Y = y;
    const long double xm = x_max;
    const long double ym = y_max;
    switch (t) {
    case 1:
        return X / xm;
    case 2:
        return Y / ym;
    case 3:
        return (X * X) / (xm * xm);
    case 4:
        return (X * Y) / (xm * ym);
    case 5:
        return (Y * Y) / (ym * ym);
    case 6:
        return (X * X * X) / (xm * xm * xm);
    case 7:
        return (X * X * Y) / (ym * xm * xm);
    case 8:
        return (X * Y * Y) / (xm * ym * ym);
    default:
        return (Y * Y * Y) / (ym * ym * ym);
    }
}

} // namespace

// Covariance entries (sill - semivariance) of sample pairs already met in the
// node systems of the grid in hand. The up to four nodes a station lookup
// reads share most of their neighbours, so most pairs recur. Samples get
// slots as they are met; the entry of slots (a, b), a < b, is valid while its
// stamp equals the generation. Full slots start a new generation.
struct TKrigingSystem::PairCache {
    static constexpr int32_t slots = 64;
    std::vector<int32_t> slot_of; // per sample: its slot, or -1
    int32_t sample_of[slots] = {};
    int32_t used = 0;
    uint32_t generation = 1;
    uint32_t stamp[slots][slots] = {};
    double covariance[slots][slots];
    // The model the entries were computed with.
    VariogramModel model{};

    // Forgets every entry and slot.
    void Clear() {
        for (int32_t k = 0; k < used; ++k) {
            slot_of[sample_of[k]] = -1;
        }
        used = 0;
        if (++generation == 0) {
            std::memset(stamp, 0, sizeof stamp);
            generation = 1;
        }
    }
    // Forgets everything, for a grid of `samples` samples.
    void Reset(int32_t samples) {
        used = 0;
        slot_of.assign(samples > 0 ? samples : 0, -1);
        Clear();
    }
};

TKrigingSystem::TKrigingSystem() = default;

TKrigingSystem::~TKrigingSystem() = default;

void TKrigingSystem::NewGrid(int32_t samples) {
    if (!pair_cache) {
        pair_cache = std::make_unique<PairCache>();
    }
    pair_cache->Reset(samples);
}

double TKrigingSystem::PairCovariance(const NodeSystem &node, int32_t i,
                                      int32_t j) {
    const NeighbourTable &nb = node.neighbours;
    const auto direct = [&] {
        // covariance = sill - semivariance
        return static_cast<double>(static_cast<long double>(node.model.sill) -
                                   Semivariance(node.model,
                                                {nb[i][0], nb[i][1]},
                                                {nb[j][0], nb[j][1]}));
    };
    if (node.samples == nullptr) {
        return direct();
    }
    // The semivariance of a pair depends on its two samples and the model
    // only, and not on their order: the offsets of (j, i) are those of
    // (i, j) negated, exactly, and the distance squares them.
    PairCache &cache = *pair_cache;
    int32_t a = cache.slot_of[node.samples[i]];
    int32_t b = cache.slot_of[node.samples[j]];
    if (a > b) {
        std::swap(a, b);
    }
    if (cache.stamp[a][b] != cache.generation) {
        cache.covariance[a][b] = direct();
        cache.stamp[a][b] = cache.generation;
    }
    return cache.covariance[a][b];
}

bool TKrigingSystem::Solve(const NodeSystem &node, SystemMatrix &kr_matrix,
                           SolverMatrix &aug_matrix, double *weights) {
    double rhs[max_equations + 2];
    const int32_t found = node.found;
    const NeighbourTable &nb = node.neighbours;
    const double sill = node.model.sill;
    const int32_t m = found + 1;
    const int32_t n = m + DriftTerms(node.drift_order);
    // Only the rows and columns a system used can hold entries.
    const int32_t dirty = std::min(std::max(rows_used, n), max_equations);
    for (int32_t r = 0; r <= dirty; ++r) {
        std::fill(kr_matrix[r], kr_matrix[r] + dirty + 1, 0.0);
    }
    rows_used = std::min(n, max_equations);
    if (node.samples != nullptr) {
        // Slots in the pair cache for this node's samples, under the model in
        // force.
        if (!pair_cache) {
            NewGrid(0);
        }
        PairCache &cache = *pair_cache;
        if (!(cache.model == node.model)) {
            cache.Clear();
            cache.model = node.model;
        }
        int32_t missing = 0;
        for (int32_t i = 1; i <= found; ++i) {
            const int32_t s = node.samples[i];
            if (static_cast<size_t>(s) >= cache.slot_of.size()) {
                cache.slot_of.resize(s + 1, -1);
            }
            missing += cache.slot_of[s] < 0;
        }
        if (cache.used + missing > PairCache::slots) {
            cache.Clear();
        }
        for (int32_t i = 1; i <= found; ++i) {
            const int32_t s = node.samples[i];
            if (cache.slot_of[s] < 0) {
                cache.sample_of[cache.used] = s;
                cache.slot_of[s] = cache.used++;
            }
        }
    }
    for (int32_t i = 1; i <= found; ++i) {
        const PlanePoint pi{nb[i][0], nb[i][1]};
        for (int32_t j = i + 1; j <= found; ++j) {
            kr_matrix[i][j] = PairCovariance(node, i, j);
            kr_matrix[j][i] = kr_matrix[i][j];
        }
        kr_matrix[i][i] = sill; // the full sill, not sill - nugget
        rhs[i] = static_cast<long double>(sill) -
                 Semivariance(node.model, node.node, pi);
        kr_matrix[i][m] = 1.0;
        kr_matrix[m][i] = 1.0;
    }
    rhs[m] = 1.0;
    kr_matrix[m][m] = 0.0;
    for (int32_t col = m + 1, t = 1; col <= n; ++col, ++t) {
        for (int32_t i = 1; i <= found; ++i) {
            kr_matrix[i][col] =
                DriftTerm(t, nb[i][0], nb[i][1], node.x_max, node.y_max);
            kr_matrix[col][i] = kr_matrix[i][col];
        }
        rhs[col] =
            DriftTerm(t, node.node.x, node.node.y, node.x_max, node.y_max);
    }
    return SolveSystem(kr_matrix, aug_matrix, rhs, weights, n);
}

bool SolveSystem(const SystemMatrix &kr_matrix, SolverMatrix &aug_matrix,
                 const double *rhs, double *weights, int32_t n) {
    bool used[max_equations + 1];
    int32_t pivot_row[max_equations + 1];
    for (int32_t r = 1; r <= n; ++r) {
        for (int32_t k = 1; k <= n; ++k) {
            aug_matrix[r][k] = kr_matrix[r][k];
        }
        aug_matrix[r][n + 1] = rhs[r];
        used[r] = false;
    }
    for (int32_t c = 1; c <= n; ++c) {
        // Pivot: among unused rows the lowest-numbered one of largest
        // magnitude; a zero entry is never taken.
        double best = 0.0;
        int32_t p = 0;
        for (int32_t r = 1; r <= n; ++r) {
            if (!used[r] && std::fabs(aug_matrix[r][c]) > best) {
                best = std::fabs(aug_matrix[r][c]);
                p = r;
            }
        }
        if (p == 0) {
            return false; // singular: no row may serve this column
        }
        used[p] = true;
        pivot_row[c] = p;
        for (int32_t r = 1; r <= n; ++r) {
            if (r == p) {
                continue;
            }
            const double f =
                -static_cast<long double>(aug_matrix[r][c]) / aug_matrix[p][c];
            double *row = aug_matrix[r];
            const double *pivot = aug_matrix[p];
            // Two entries at a time: each product and sum is the double
            // operation of the one-by-one loop, rounded alike (no fused
            // multiply-add), so the entries are the same bits.
            using DoublePair [[gnu::vector_size(2 * sizeof(double))]] = double;
            const DoublePair factor = {f, f};
            int32_t k = c + 1;
            for (; k + 1 <= n + 1; k += 2) {
                DoublePair a, b;
                std::memcpy(&a, row + k, sizeof a);
                std::memcpy(&b, pivot + k, sizeof b);
                a = a + factor * b;
                std::memcpy(row + k, &a, sizeof a);
            }
            for (; k <= n + 1; ++k) {
                row[k] = row[k] + f * pivot[k];
            }
        }
    }
    for (int32_t c = 1; c <= n; ++c) {
        const int32_t p = pivot_row[c];
        weights[c] =
            static_cast<long double>(aug_matrix[p][n + 1]) / aug_matrix[p][c];
    }
    return true;
}
