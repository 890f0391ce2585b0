// The lag class of a pair of the variogram fit, with a plain-double shortcut
// that is taken only where it provably gives the extended division's class.
#pragma once

#include <cstdint>

#include "kriging/ExactFloor.h"

// Lag classes of the fit.
inline constexpr int32_t lag_classes = 50;

// The class of a pair whose distance plus the pair offset is e (> 0), in
// classes `width` wide (e at most 50 widths, the fit's extent): the floor of
// the quotient e / width held in long double, or -1 when that quotient is
// not below 50. `inverse` is 1 / width in plain double (0: always divide).
//
// The plain product e * inverse is within 1e-13 of the quotient. Where it
// lies more than a margin of 1e-9 from every integer, the quotient lies more
// than 1e-10 from it, far more than rounding the quotient to long double can
// move it, so both have the same floor; the division is left for the rest.
inline int32_t LagClassOf(double e, double width, double inverse) {
    constexpr double margin = 1e-9;
    const double estimate = e * inverse;
    if (estimate < lag_classes - margin) {
        const auto k = static_cast<int32_t>(estimate);
        const double fraction = estimate - k;
        if (fraction > margin && fraction < 1.0 - margin) {
            return k;
        }
    } else if (estimate > lag_classes + margin) {
        return -1;
    }
    // e and width are positive, so trunc(q) < 50 exactly when q < 50, and
    // the truncation is the floor.
    const long double q = e / static_cast<long double>(width);
    if (!(q < lag_classes)) {
        return -1;
    }
    return SmallFloor(q);
}
