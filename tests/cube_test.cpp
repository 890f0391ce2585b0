// The cube of the spherical model: CubeOf gives std::pow(h, 3) bit for bit,
// also on the distances whose correctly rounded cube differs from the product
// of three factors, and the probe that admits the product refuses a power
// that rounds differently.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kriging/Cube.h"

namespace {

__extension__ typedef unsigned __int128 u128;

// h^3 of a positive double rounded once to 64 bits (nearest, ties to even),
// from the exact integer cube of its 53-bit significand.
long double CorrectlyRoundedCube(double h) {
    int exponent = 0;
    const double fraction = std::frexp(h, &exponent);
    const auto m = static_cast<uint64_t>(std::ldexp(fraction, 53));
    const int scale = exponent - 53; // h = m * 2^scale
    const u128 square = static_cast<u128>(m) * m;
    const u128 low = static_cast<u128>(static_cast<uint64_t>(square)) * m;
    const u128 high =
        static_cast<u128>(static_cast<uint64_t>(square >> 64)) * m;
    // m^3 = low + high * 2^64, as three 64-bit words
    uint64_t word[3];
    word[0] = static_cast<uint64_t>(low);
    const u128 middle = (low >> 64) + high;
    word[1] = static_cast<uint64_t>(middle);
    word[2] = static_cast<uint64_t>(middle >> 64);
    const auto bit = [&](int i) -> int {
        return i < 0 ? 0 : static_cast<int>((word[i / 64] >> (i % 64)) & 1u);
    };
    int length = 192;
    while (length > 0 && bit(length - 1) == 0) {
        --length;
    }
    int shift = length - 64;
    uint64_t top = 0;
    for (int i = length - 1; i >= shift; --i) {
        top = (top << 1) | static_cast<uint64_t>(bit(i));
    }
    bool rest = false;
    for (int i = shift - 2; i >= 0 && !rest; --i) {
        rest = bit(i) != 0;
    }
    if (bit(shift - 1) != 0 && (rest || (top & 1u) != 0)) {
        if (++top == 0) {
            top = uint64_t{1} << 63;
            ++shift;
        }
    }
    return std::ldexp(static_cast<long double>(top), shift + 3 * scale);
}

bool SameBits(long double a, long double b) {
    return std::memcmp(&a, &b, 10) ==
           0; // sign, exponent and 64-bit significand
}

long double PowerOfTheLibrary(long double x, long double y) {
    return std::pow(x, y);
}

long double CorrectlyRoundedPower(long double x, long double) {
    return CorrectlyRoundedCube(static_cast<double>(x));
}

long double PowerOneUnitAbove(long double x, long double y) {
    const long double p = std::pow(x, y);
    return std::nextafter(p, 2 * p + 1);
}

} // namespace

TEST(Cube, ProbeCasesAreWhereTheProductIsNotTheRoundedCube) {
    ASSERT_GT(cube_probe_hard_count, 0);
    for (int k = 0; k < cube_probe_hard_count; ++k) {
        const double h = cube_probe_hard_cases[k];
        SCOPED_TRACE(std::to_string(h));
        const long double x = h;
        EXPECT_FALSE(SameBits(x * x * x, CorrectlyRoundedCube(h)));
    }
}

TEST(Cube, GivesThePowerBitForBit) {
    // The hard cases, ordinary distances of a survey, and the edges.
    std::vector<double> distances(
        cube_probe_hard_cases, cube_probe_hard_cases + cube_probe_hard_count);
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> metres(0.0, 20000.0);
    for (int k = 0; k < 20000; ++k) {
        distances.push_back(metres(random));
    }
    for (const double h : {0.0, 1e-300, 1e-3, 1.0, 2500.0, 1e100}) {
        distances.push_back(h);
    }
    int differing = 0;
    for (const double h : distances) {
        SCOPED_TRACE(std::to_string(h));
        const long double x = h;
        EXPECT_TRUE(SameBits(CubeOf(x), PowerOfTheLibrary(x, 3.0L)));
        differing += !SameBits(x * x * x, CorrectlyRoundedCube(h));
    }
    // The random distances include many where rounding once would differ.
    EXPECT_GT(differing, 1000);
}

TEST(Cube, ProbeRefusesAPowerThatRoundsOtherwise) {
    struct Case {
        const char *name;
        long double (*power)(long double, long double);
    };
    const Case cases[] = {{"rounded once", CorrectlyRoundedPower},
                          {"one unit above", PowerOneUnitAbove}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(PowerIsProductChain(c.power));
    }
}
