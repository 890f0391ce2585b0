// The automatic fit of the spherical model from the pairs along the rows and
// columns of the cell index, reusing a kept fit for the same samples less one.
#pragma once

#include <cstdint>
#include <memory>

#include "kriging/GridLookup.h"
#include "kriging/VariogramModel.h"

// What a fit reads: the samples (merged) and the cell index of the grid in
// hand.
struct FitGrid {
    const double *sample_x; // metres
    const double *sample_y;
    const double *sample_z; // values (their logarithms when log_z is 1)
    // cell_index[c][r]: the sample that represents the cell of node (c, r),
    // or -1.
    const std::unique_ptr<int32_t[]> *cell_index;
    GridShape shape;
};

// The model a fit found: nugget 0; sill the mean of the two directions' peak
// semivariances, range the mean of their lag distances.
struct FittedModel {
    double nugget;
    double sill;
    double range;
};

// The fit of one gridder, with the pairs of its last fit of its own.
class TVariogramFit {
  public:
    TVariogramFit();
    ~TVariogramFit();
    TVariogramFit(const TVariogramFit &) = delete;
    TVariogramFit &operator=(const TVariogramFit &) = delete;

    // Fits the model to the grid. Rows pair over the widened x extent and
    // columns over the y extent, in 50 lag classes each (pairs beyond the
    // extent left out); the peak semivariance of each direction and its lag
    // (ties keep the earlier class). left_out null: a fit of its own, whose
    // pairs and sums are kept. Otherwise the position of the one sample that
    // the grid lacks against the kept fit's samples (the others in their
    // order): where the kept fit was confirmed on the same grid shape, its
    // sums serve every lag class that no pair of that sample's cell reached,
    // with the same result as a fit of its own.
    FittedModel Fit(const FitGrid &grid, const PlanePoint *left_out);
    // The samples in hand are not those of the kept fit: it serves no fit
    // until a fit of their own is confirmed.
    void Forget();
    // The run of the last fit of its own met no floating-point fault: its
    // kept pairs may serve the same samples less one.
    void Confirm();

  private:
    struct Memo;
    std::unique_ptr<Memo> memo;
};
