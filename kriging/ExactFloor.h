// Exact floors of extended-precision values as integers (cell, sector and lag
// class numbers), without the rounding-mode switches of std::floor.
#pragma once

#include <cstdint>

// Floor of a long double known to lie in [lo, hi + 1), lo and hi small.
// std::floor and the conversion of a long double both switch the x87 rounding
// mode twice, which costs more than the rest of a cell lookup; the nearest
// double's truncation is within one of the floor, and exact long double
// comparisons mend it, so the result is exactly floor(v).
inline int32_t SmallFloor(long double v) {
    int32_t k = static_cast<int32_t>(static_cast<double>(v));
    if (static_cast<long double>(k) > v) {
        --k;
    } else if (static_cast<long double>(k) + 1 <= v) {
        ++k;
    }
    return k;
}

// Floor of a long double as an integer, bounded to [lo, hi] in the floating
// domain first so that out-of-range and NaN values never reach the conversion.
// For an integer bound, floor(v) >= lo exactly when v >= lo, and floor(v) > hi
// exactly when v >= hi + 1.
inline int32_t BoundedFloor(long double v, int32_t lo, int32_t hi) {
    if (!(v >= lo)) {
        return lo;
    }
    if (v >= static_cast<long double>(hi) + 1) {
        return hi;
    }
    return SmallFloor(v);
}
