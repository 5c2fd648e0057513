// Image geometry: the quadrilateral test, mirrors, the clipped rectangle
// copy, scaling and the warp into a quadrilateral.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "services/image_geometry.hpp"

using namespace zuv;
using namespace zuv::image_backend;

namespace {

// A width x height buffer whose pixel at (x, y) is y << 8 | x.
std::vector<uint32_t> numbered(int32_t width, int32_t height) {
    std::vector<uint32_t> p;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) p.push_back(uint32_t(y) << 8 | uint32_t(x));
    return p;
}

}  // namespace

TEST(ImageGeometry, PointsOnEdgesAreInside) {
    const Quad square = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    struct Case {
        Vector point;
        bool inside;
    } cases[] = {{{2, 2}, true}, {{0, 2}, true}, {{4, 4}, true}, {{2, 0}, true},
                 {{5, 2}, false}, {{2, -0.5}, false}, {{-1, -1}, false}};
    for (const Case& c : cases)
        EXPECT_EQ(inside_quad_q(square, c.point), c.inside) << c.point.x << "," << c.point.y;
    EXPECT_TRUE(left_of_edge_q({0, 1}, {0, 0}, {1, 0}) == false);
    EXPECT_TRUE(left_of_edge_q({0, -1}, {0, 0}, {1, 0}));
    EXPECT_DOUBLE_EQ(cross({1, 0}, {0, 1}), 1);
    EXPECT_DOUBLE_EQ(vector_length(vector_between({1, 1}, {4, 5})), 5);
    EXPECT_DOUBLE_EQ(normalize({3, 4}).y, 0.8);
}

TEST(ImageGeometry, MirrorsAboutALine) {
    Quad q = {{1, 10}, {3, 10}, {3, 20}, {1, 20}};
    mirror_quad_x(q, 2);
    EXPECT_EQ(q[0].x, 3);
    EXPECT_EQ(q[1].x, 1);
    EXPECT_EQ(q[2].x, 1);
    EXPECT_EQ(q[3].x, 3);
    mirror_quad_y(q, 15);
    EXPECT_EQ(q[0].y, 20);
    EXPECT_EQ(q[2].y, 10);
}

TEST(ImageGeometry, ARectangleCopyIsCutAtTheEdges) {
    const std::vector<uint32_t> p = numbered(4, 4);
    std::vector<uint32_t> out(9, 0xDEAD);
    EXPECT_TRUE(copy_pixel_rect(p.data(), 4, 4, 2, 2, 3, 3, out.data()));
    EXPECT_EQ(std::vector<uint32_t>(out.begin(), out.begin() + 4),
              (std::vector<uint32_t>{0x202, 0x203, 0x302, 0x303}));
    EXPECT_EQ(out[4], 0xDEADu) << "two rows of two, packed";
    std::vector<uint32_t> untouched(9, 0xDEAD);
    EXPECT_FALSE(copy_pixel_rect(p.data(), 4, 4, 4, 0, 3, 3, untouched.data()));
    EXPECT_FALSE(copy_pixel_rect(p.data(), 4, 4, -1, 0, 3, 3, untouched.data()));
    EXPECT_EQ(untouched, std::vector<uint32_t>(9, 0xDEAD));
}

TEST(ImageGeometry, NearestNeighbourScalingRepeatsPixelsInBlocks) {
    const std::vector<uint32_t> p = {1, 2, 3, 4};
    std::vector<uint32_t> out(16);
    scale_nearest(p.data(), 2, 2, 4, 4, out.data());
    EXPECT_EQ(out, (std::vector<uint32_t>{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4}));
    std::vector<uint32_t> small(1);
    scale_nearest(numbered(4, 4).data(), 4, 4, 1, 1, small.data());
    EXPECT_EQ(small[0], 0x202u) << "the pixel under the centre";
}

TEST(ImageGeometry, WarpOntoTheRectangleOfTheSourceCopiesIt) {
    const std::vector<uint32_t> p = numbered(4, 3);
    const Quad same = {{0, 0}, {4, 0}, {4, 3}, {0, 3}};
    Warp w;
    ASSERT_TRUE(warp_to_quad(p.data(), 4, 3, same, &w));
    EXPECT_EQ(w.left, 0);
    EXPECT_EQ(w.top, 0);
    EXPECT_EQ(w.width, 4);
    EXPECT_EQ(w.height, 3);
    // Inside, away from the far edges, each pixel lands on itself.
    EXPECT_EQ(w.pixels[0], p[0]);
    EXPECT_EQ(w.pixels[1 * 4 + 2], p[1 * 4 + 2]);

    // Shifted, the box moves with it.
    const Quad moved = {{10.5f, -7}, {14.5f, -7}, {14.5f, -4}, {10.5f, -4}};
    ASSERT_TRUE(warp_to_quad(p.data(), 4, 3, moved, &w));
    EXPECT_EQ(w.left, 10);
    EXPECT_EQ(w.top, -7);
}

TEST(ImageGeometry, DegenerateHugeOrNonFiniteCornersGiveNoOutputOrAnEmptyOne) {
    const std::vector<uint32_t> p = numbered(2, 2);
    Warp w;
    const Quad point = {{3, 3}, {3, 3}, {3, 3}, {3, 3}};
    ASSERT_TRUE(warp_to_quad(p.data(), 2, 2, point, &w));
    EXPECT_EQ(w.width, 0);
    EXPECT_EQ(w.height, 0);
    EXPECT_TRUE(w.pixels.empty());

    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const Quad cases[] = {
        {{0, 0}, {70000, 0}, {70000, 10}, {0, 10}},
        {{-3e38f, 0}, {3e38f, 0}, {3e38f, 1}, {-3e38f, 1}},
        {{1e20f, 1e20f}, {1e20f, 1e20f}, {1e20f, 1e20f}, {1e20f, 1e20f}},
        {{0, 0}, {nan, 0}, {1, 1}, {0, 1}},
        {{0, 0}, {inf, 0}, {1, 1}, {0, 1}},
    };
    for (const Quad& q : cases) EXPECT_FALSE(warp_to_quad(p.data(), 2, 2, q, &w)) << q[1].x;
    const Quad fine = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
    EXPECT_FALSE(warp_to_quad(p.data(), 0, 2, fine, &w)) << "a source without pixels";
}

TEST(ImageGeometry, WherePositionsDivideByZeroPixelsStayZero) {
    // P1 lies on the edge from P0 to P2: at P0 the lines of the left and the
    // right edges meet, so d3 + d1 is zero there.
    const std::vector<uint32_t> p(4, 0xFF808080);
    const Quad triangle = {{0, 0}, {4, 4}, {8, 8}, {0, 8}};
    Warp w;
    ASSERT_TRUE(warp_to_quad(p.data(), 2, 2, triangle, &w));
    EXPECT_EQ(w.width, 8);
    EXPECT_EQ(w.height, 8);
    EXPECT_EQ(w.pixels[0], 0u);
    EXPECT_NEAR(double(w.pixels[4 * 8 + 1] & 0xFF), 0x80, 1) << "inside, away from the corner";
    EXPECT_EQ(w.pixels[1 * 8 + 4], 0u) << "outside";

    // Two corners on one point: an edge of no direction leaves every pixel 0.
    const Quad collapsed = {{0, 0}, {8, 0}, {4, 8}, {4, 8}};
    ASSERT_TRUE(warp_to_quad(p.data(), 2, 2, collapsed, &w));
    EXPECT_EQ(w.pixels, std::vector<uint32_t>(64, 0));
}
