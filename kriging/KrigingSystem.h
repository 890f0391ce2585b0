// The kriging system of one grid node: its assembly from the neighbours, the
// variogram model and the drift, with the covariances of sample pairs kept
// across a grid's nodes, and its Gauss-Jordan solution.
#pragma once

#include <cstdint>
#include <memory>

#include "kriging/VariogramModel.h"

// Most equations of a system: the 1-based per-node lists and matrices hold
// entries 1..max_equations. At most 42 are used (32 neighbours, one
// constraint, nine drift terms).
inline constexpr int32_t max_equations = 50;

// A node's system as assembled: rows and columns 1..N; row and column 0 are
// never used.
using SystemMatrix = double[max_equations + 1][max_equations + 1];
// The solver's copy of a system, with the right-hand side in column N + 1.
using SolverMatrix = double[max_equations + 1][max_equations + 2];
// x, y and value of a node's neighbours 1..found.
using NeighbourTable = double[max_equations + 1][3];

// Gauss-Jordan solve of kr_matrix (rows and columns 1..n) with right-hand
// side rhs (1..n) into weights (1..n), working in aug_matrix. The pivot of a
// column is the lowest-numbered unused row of largest magnitude, without
// exchanging rows. false: a column had no non-zero pivot candidate, and the
// weights are not valid.
bool SolveSystem(const SystemMatrix &kr_matrix, SolverMatrix &aug_matrix,
                 const double *rhs, double *weights, int32_t n);

// What the system of one node is built from.
struct NodeSystem {
    PlanePoint node;                  // the node's position, metres
    int32_t found;                    // neighbours 1..found
    const NeighbourTable &neighbours; // their x, y and value
    // Their sample numbers (entries 1..found), whose pairs' covariances are
    // then taken from, and kept in, the pair cache; null: no cache.
    const int32_t *samples;
    int32_t drift_order; // 0 none, 1 linear, 2 quadratic, 3 cubic
    double x_max;        // the drift's scale: the largest sample x (widened)
    double y_max;        // and y
    VariogramModel model;
};

// Assembles and solves node systems for one gridder. One object assembles
// into one matrix (its owner's): it knows which rows of it the last system
// filled, and clears only those.
class TKrigingSystem {
  public:
    TKrigingSystem();
    ~TKrigingSystem();
    TKrigingSystem(const TKrigingSystem &) = delete;
    TKrigingSystem &operator=(const TKrigingSystem &) = delete;

    // Forgets the kept covariances: the samples of a new grid (`samples` of
    // them, numbered from 0) begin.
    void NewGrid(int32_t samples);

    // Semivariance of the model between p and q.
    double Semivariance(const VariogramModel &model, PlanePoint p,
                        PlanePoint q) const {
        return semivariance.Between(model, p, q);
    }

    // Builds the node's system in kr_matrix and solves it into weights 1..N
    // (neighbour weights, Lagrange multiplier, drift coefficients). Rows and
    // columns of kr_matrix past N are left 0. The diagonal holds the full sill
    // (not sill - nugget); the rest of the covariances are sill -
    // semivariance. false: the system is singular and the weights are not
    // valid.
    bool Solve(const NodeSystem &node, SystemMatrix &kr_matrix,
               SolverMatrix &aug_matrix, double *weights);

  private:
    struct PairCache;
    // Covariance entry of neighbours i and j (1-based), from the pair cache
    // when the node names their samples.
    double PairCovariance(const NodeSystem &node, int32_t i, int32_t j);

    TSemivariance semivariance;
    // Made on the first node that names its samples.
    std::unique_ptr<PairCache> pair_cache;
    // Rows 1..rows_used of the matrix may hold entries; the rest is 0.
    int32_t rows_used = max_equations;
};
