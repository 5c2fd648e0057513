// Image geometry on plain pixel buffers: 2-D vector helpers, the
// point-in-quadrilateral test, mirroring corners, the clipped rectangle
// copy, nearest-neighbour scaling and the bilinear warp of a whole image
// into a quadrilateral.
//
// A pixel buffer is width x height 32-bit pixels, rows without gaps; the
// warp treats each pixel as 4 bytes, channel by channel. Corner points are
// 32-bit floats, vectors 64-bit; float-to-integer conversions truncate
// toward zero, and a value that is not finite or does not fit is never
// converted.
#pragma once

#include <cstdint>
#include <vector>

namespace zuv::image_backend {

struct Vector {
    double x, y;
};

// A corner of a quadrilateral.
struct Corner {
    float x, y;
};

// The corners in order round the quadrilateral: P0 takes the source's
// top-left corner, P1 its top-right, P2 its bottom-right, P3 its bottom-left.
using Quad = Corner[4];

inline Vector vector_of(Corner c) { return Vector{c.x, c.y}; }

// b - a.
Vector vector_between(Vector a, Vector b);
double vector_length(Vector v);
// v divided by its length (not finite for a zero vector).
Vector normalize(Vector v);
// a.x * b.y - a.y * b.x.
double cross(Vector a, Vector b);
// True when cross(point - start, end - start) > 0.
bool left_of_edge_q(Vector point, Vector start, Vector end);
// True when the point lies on no edge's positive side: edges count as inside.
bool inside_quad_q(const Quad quad, Vector point);

// Each x (or y) becomes 2 x c - x.
void mirror_quad_x(Quad quad, float c);
void mirror_quad_y(Quad quad, float c);

// Copies the rectangle (x, y, w, h) of a width x height buffer, cut at the
// buffer's right and bottom edges, into destination, packed at the cut
// width. False, with nothing copied, when (x, y) is outside the buffer.
bool copy_pixel_rect(const uint32_t* pixels, int32_t width, int32_t height, int32_t x, int32_t y, int32_t w,
                     int32_t h, uint32_t* destination);

// Scales a width x height buffer to to_width x to_height (both at least 1)
// by nearest neighbour: each output pixel takes the source pixel under its
// centre.
void scale_nearest(const uint32_t* pixels, int32_t width, int32_t height, int32_t to_width, int32_t to_height,
                   uint32_t* destination);

// The output of a warp: its bounding box in the quadrilateral's coordinates
// and its pixels (width x height, 0 outside the quadrilateral).
struct Warp {
    int32_t left = 0, top = 0, width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

// Maps a width x height buffer onto the quadrilateral, bilinearly. False,
// with no output, when the source has no pixels, a corner is not finite or
// the bounding box has a side above 65535, more than 2^31 - 1 pixels or an
// origin outside the 32-bit integers.
bool warp_to_quad(const uint32_t* pixels, int32_t width, int32_t height, const Quad quad, Warp* out);

}  // namespace zuv::image_backend
