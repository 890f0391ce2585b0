// The cube of a distance for the spherical variogram: the product where it is
// known to equal the math library's power, the power otherwise.
#include "kriging/Cube.h"

#include <cmath>

// Found by exact integer arithmetic: h^3 correctly rounded to 64 bits differs
// from (h * h) * h in long double; tests/cube_test.cpp checks that each is.
const double cube_probe_hard_cases[] = {
    0x1.677337fa95bf5p+5,  0x1.8c997b9f62cfcp+6,  0x1.bb179f568a0a3p+2,
    0x1.b33ba69a66806p+17, 0x1.7b2dc45c14fffp+10, 0x1.8b218975f9e2fp+7,
    0x1.e908f3028df9ep+14, 0x1.a3cbfd0a3472ep-1,  0x1.0be2a9a654d15p+17,
    0x1.c6e6d58686ce6p+7,  0x1.b5c4e913ef164p+10, 0x1.45e4ebb4d218cp+15,
    0x1.73cd7af112ep+21,   0x1.77447fc7ecb05p-2,  0x1.9b104ebd554abp+18,
    0x1.7b61f30a4589ep+21,
};
const int cube_probe_hard_count =
    sizeof cube_probe_hard_cases / sizeof cube_probe_hard_cases[0];

namespace {

// Ordinary distances over the magnitudes a survey meets, and the edges.
constexpr double probe_plain[] = {
    0.0,    1e-3,     0.5,     1.0,       2.0,       299.97, 1234.5678,
    2500.0, 4999.999, 65536.0, 123456.78, 9.87654e6, 1e12};

} // namespace

bool PowerIsProductChain(long double (*power)(long double, long double)) {
    const auto same = [power](double h) {
        // Read through a volatile, so that the compiler cannot fold the power
        // of a constant with its own arithmetic (which rounds the cube once)
        // in place of the library's.
        volatile long double opaque = h;
        const long double x = opaque;
        const long double chain = x * x * x;
        const long double p = power(x, 3.0L);
        // Compared as numbers: the cubes of these distances are finite and
        // positive (or 0), so equal numbers are equal bits.
        return p == chain;
    };
    for (const double h : probe_plain) {
        if (!same(h)) {
            return false;
        }
    }
    for (int k = 0; k < cube_probe_hard_count; ++k) {
        if (!same(cube_probe_hard_cases[k])) {
            return false;
        }
    }
    return true;
}

long double CubeOf(long double h) {
    // The GNU C library's powl on x86-64 raises to an integer exponent below 4
    // by repeated multiplication in extended precision, which for 3 is this
    // product exactly; the probe makes sure the library at hand does so.
    static const bool product_chain = PowerIsProductChain(
        [](long double x, long double y) { return std::pow(x, y); });
    if (product_chain) {
        return h * h * h;
    }
    return std::pow(h, 3.0L);
}
