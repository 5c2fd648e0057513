// Narrowing a double to a point coordinate: the float range's edge.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "runtime/datatypes/point.hpp"

namespace zuv {
namespace {

TEST(Point, NarrowRoundsAtTheEdgeOfTheFloatRange) {
    struct { double d; float f; } cases[] = {
        {0x1.fffffep127, FLT_MAX},
        {0x1.fffffefffffffp127, FLT_MAX},  // below the halfway point: rounds down
        {0x1.ffffffp127, INFINITY},        // halfway to 2^128: rounds to even, the infinity
        {1e300, INFINITY},
        {-1e300, -INFINITY},
        {0.1, 0.1f},
        {1e-50, 0.0f},
    };
    for (auto& c : cases) {
        EXPECT_EQ(point::narrow(c.d), c.f) << c.d;
        EXPECT_EQ(point::narrow(-c.d), -c.f) << -c.d;
    }
    EXPECT_TRUE(std::isnan(point::narrow(std::nan(""))));
}

}  // namespace
}  // namespace zuv
