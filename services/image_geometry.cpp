// Image geometry: vectors, quadrilaterals, rectangle copies, scaling and
// the warp into a quadrilateral.
#include "services/image_geometry.hpp"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

namespace zuv::image_backend {

namespace {

// The largest side of an output: an image's size word holds 16 bits a side.
constexpr float MAX_SIDE = 65535.0f;

// True when f is finite and its truncation fits an int32_t.
bool fits_int32(double f) { return std::isfinite(f) && f > -2147483649.0 && f < 2147483648.0; }

}  // namespace

Vector vector_between(Vector a, Vector b) { return Vector{b.x - a.x, b.y - a.y}; }

double vector_length(Vector v) { return std::sqrt(v.x * v.x + v.y * v.y); }

Vector normalize(Vector v) {
    const double length = vector_length(v);
    return Vector{v.x / length, v.y / length};
}

double cross(Vector a, Vector b) { return a.x * b.y - a.y * b.x; }

bool left_of_edge_q(Vector point, Vector start, Vector end) {
    return cross(vector_between(start, point), vector_between(start, end)) > 0;
}

bool inside_quad_q(const Quad quad, Vector point) {
    for (int i = 0; i < 4; i++)
        if (left_of_edge_q(point, vector_of(quad[i]), vector_of(quad[(i + 1) % 4]))) return false;
    return true;
}

void mirror_quad_x(Quad quad, float c) {
    for (int i = 0; i < 4; i++) quad[i].x = 2 * c - quad[i].x;
}

void mirror_quad_y(Quad quad, float c) {
    for (int i = 0; i < 4; i++) quad[i].y = 2 * c - quad[i].y;
}

bool copy_pixel_rect(const uint32_t* pixels, int32_t width, int32_t height, int32_t x, int32_t y, int32_t w,
                     int32_t h, uint32_t* destination) {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const int64_t cols = std::min<int64_t>(w, width - x), rows = std::min<int64_t>(h, height - y);
    for (int64_t r = 0; r < rows && cols > 0; r++)
        std::memcpy(destination + r * cols, pixels + (y + r) * int64_t(width) + x, size_t(cols) * 4);
    return true;
}

void scale_nearest(const uint32_t* pixels, int32_t width, int32_t height, int32_t to_width, int32_t to_height,
                   uint32_t* destination) {
    // The centre of output column x, (x + 1/2) x width / to_width, in integers.
    std::vector<int32_t> column(size_t(std::max(to_width, 0)));
    for (int64_t x = 0; x < to_width; x++) column[size_t(x)] = int32_t((2 * x + 1) * width / (2 * int64_t(to_width)));
    for (int64_t y = 0; y < to_height; y++) {
        const uint32_t* from = pixels + (2 * y + 1) * height / (2 * int64_t(to_height)) * width;
        uint32_t* to = destination + y * to_width;
        for (int64_t x = 0; x < to_width; x++) to[x] = from[column[size_t(x)]];
    }
}

bool warp_to_quad(const uint32_t* pixels, int32_t width, int32_t height, const Quad quad, Warp* out) {
    if (width < 1 || height < 1) return false;
    float min_x = FLT_MAX, min_y = FLT_MAX, max_x = -FLT_MAX, max_y = -FLT_MAX;
    for (int i = 0; i < 4; i++) {
        if (!std::isfinite(quad[i].x) || !std::isfinite(quad[i].y)) return false;
        min_x = std::min(min_x, quad[i].x), max_x = std::max(max_x, quad[i].x);
        min_y = std::min(min_y, quad[i].y), max_y = std::max(max_y, quad[i].y);
    }
    const float box_width = max_x - min_x, box_height = max_y - min_y;
    if (!(box_width <= MAX_SIDE && box_height <= MAX_SIDE) || !fits_int32(min_x) || !fits_int32(min_y)) return false;
    // As for an image, a pixel index must fit a 32-bit signed value.
    if (int64_t(box_width) * int64_t(box_height) > INT32_MAX) return false;
    out->left = int32_t(min_x);
    out->top = int32_t(min_y);
    out->width = int32_t(box_width);
    out->height = int32_t(box_height);
    out->pixels.assign(size_t(int64_t(out->width) * out->height), 0);

    const Vector p[4] = {vector_of(quad[0]), vector_of(quad[1]), vector_of(quad[2]), vector_of(quad[3])};
    Vector edge[4];
    for (int i = 0; i < 4; i++) edge[i] = normalize(vector_between(p[i], p[(i + 1) % 4]));
    const auto* source = reinterpret_cast<const uint8_t*>(pixels);
    auto* target = reinterpret_cast<uint8_t*>(out->pixels.data());
    for (int64_t row = 0; row < out->height; row++) {
        for (int64_t column = 0; column < out->width; column++) {
            const Vector q{double(column + out->left), double(row + out->top)};
            if (!inside_quad_q(quad, q)) continue;
            double d[4];
            for (int i = 0; i < 4; i++) d[i] = std::fabs(cross(vector_between(p[i], q), edge[i]));
            const double u = d[3] / (d[3] + d[1]) * width, v = d[0] / (d[0] + d[2]) * height;
            // A point where two edges meet can divide by zero: it stays 0.
            if (!(u >= 0 && u < width && v >= 0 && v < height)) continue;
            const int32_t x0 = int32_t(u), y0 = int32_t(v);
            const int32_t x1 = x0 == width - 1 ? x0 : x0 + 1, y1 = y0 == height - 1 ? y0 : y0 + 1;
            const double fx = std::max(u - x0, 0.0), fy = std::max(v - y0, 0.0);
            const float weight[4] = {float((1 - fx) * (1 - fy)), float(fx * (1 - fy)), float((1 - fx) * fy),
                                     float(fx * fy)};
            const int64_t at[4] = {int64_t(y0) * width + x0, int64_t(y0) * width + x1, int64_t(y1) * width + x0,
                                   int64_t(y1) * width + x1};
            uint8_t* to = target + (row * out->width + column) * 4;
            for (int byte = 0; byte < 4; byte++) {
                float sum = 0;
                for (int k = 0; k < 4; k++) sum += weight[k] * float(source[at[k] * 4 + byte]);
                to[byte] = uint8_t(std::clamp(sum, 0.0f, 255.0f));
            }
        }
    }
    return true;
}

}  // namespace zuv::image_backend
