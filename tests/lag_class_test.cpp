// The lag class of a pair of the variogram fit: the plain-double shortcut
// gives the class of the extended division everywhere, also where the floor
// of the plain product itself is another class.
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "kriging/LagClass.h"

namespace {

// The fit's class by the division alone.
int32_t DividedClass(double e, double width) {
    const long double q = e / static_cast<long double>(width);
    return q < lag_classes ? static_cast<int32_t>(std::floor(q)) : -1;
}

} // namespace

TEST(LagClass, ShortcutGivesTheDividedClassWhereThePlainFloorDiffers) {
    // e at (or one unit beside) a multiple of a width 0.02 of an extent:
    // found by search, floor(e * (1 / width)) is one class off here.
    struct Case {
        double e, width;
    };
    const Case cases[] = {
        {0x1.37ca8c154c986p+8, 0x1.9fb8bac710cb3p+4},
        {0x1.654c395810625p+10, 0x1.3d9916872b021p+7},
        {0x1.a3a5604189374p+9, 0x1.bf9f559b3d07cp+5},
        {0x1.5aaf9f559b3dp+11, 0x1.c4d07c84b5dcdp+5},
        {0x1.2f6b367a0f90ap+12, 0x1.2f6b367a0f90ap+7},
        {0x1.0571205bc01a3p+10, 0x1.b852bd3c36113p+4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.e) + " / " + std::to_string(c.width));
        const double inverse = 1.0 / c.width;
        ASSERT_NE(static_cast<int32_t>(c.e * inverse),
                  DividedClass(c.e, c.width));
        EXPECT_EQ(LagClassOf(c.e, c.width, inverse),
                  DividedClass(c.e, c.width));
    }
}

TEST(LagClass, ShortcutGivesTheDividedClassOnEdgesAndAtRandom) {
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> extent_of(1.0, 20000.0);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    int32_t mismatches = 0, cases = 0;
    for (int n = 0; n < 20000; ++n) {
        const double extent = extent_of(random);
        const double width = 0.02L * extent;
        const double inverse = 1.0 / width;
        const auto k = static_cast<int32_t>(random() % 52);
        // a multiple of the width, its neighbours, the end of the classes,
        // and a random distance
        const double edge = k * width;
        for (const double e :
             {edge, std::nextafter(edge, 0.0), std::nextafter(edge, 1e300),
              50.0 * width, std::nextafter(50.0 * width, 0.0),
              share(random) * extent}) {
            if (!(e > 0.0)) {
                continue;
            }
            ++cases;
            mismatches +=
                LagClassOf(e, width, inverse) != DividedClass(e, width);
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << cases;
}

TEST(LagClass, NoInverseAlwaysDivides) {
    struct Case {
        const char *name;
        double e, width;
        int32_t expected;
    };
    const Case cases[] = {{"inside", 250.0, 100.0, 2},
                          {"on an edge", 300.0, 100.0, 3},
                          {"at the end", 5000.0, 100.0, -1},
                          {"just below the end", 4999.999, 100.0, 49}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LagClassOf(c.e, c.width, 0.0), c.expected);
        EXPECT_EQ(LagClassOf(c.e, c.width, 1.0 / c.width), c.expected);
    }
}
