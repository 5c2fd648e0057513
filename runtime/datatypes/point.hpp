// point2D! and point3D!: points with 32-bit float coordinates.
//
//   word 0  header, type byte 51 (point2D!) or 52 (point3D!)
//   word 1  x, the bits of a 32-bit float
//   word 2  y
//   word 3  z (point3D!; not used by point2D!)
//
// The arithmetic is done in double precision and every coordinate is
// rounded to a 32-bit float when stored; infinities and NaN are stored as
// they come, never raised. point2D! is also what pair! arithmetic turns into
// when an integer result cannot be exact, and it compares with a pair!;
// point3D! mixes with neither.
//
// Equality is tolerant (32-bit float equality, see float_::almost_equal32_q),
// strict equality exact, same? bitwise. The ordering takes the x difference,
// then y, then z, a difference that is almost 0.0 counting as equal.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.hpp"

namespace zuv::point {

inline int32_t dimension(uint32_t type) { return (type & TYPE_MASK) == TYPE_POINT3D ? 3 : 2; }

// Coordinate i (0 x, 1 y, 2 z).
inline float get(const Cell* c, int32_t i) {
    const uint32_t* w = i == 0 ? &c->w1 : i == 1 ? &c->w2 : &c->w3;
    float f;
    std::memcpy(&f, w, sizeof f);
    return f;
}
inline void put(Cell* c, int32_t i, float f) {
    uint32_t* w = i == 0 ? &c->w1 : i == 1 ? &c->w2 : &c->w3;
    std::memcpy(w, &f, sizeof f);
}

// d rounded to a 32-bit float; a finite double beyond the float range
// becomes the infinity of its sign (a plain conversion would be undefined).
float narrow(double d);

// The cell becomes a point of the type (flag bits kept) with the coordinates
// (z ignored for point2D!).
Cell* make_at(Cell* c, uint32_t type, float x, float y, float z);

// The arithmetic of the math actions (ops add, subtract, multiply, divide,
// remainder) on the current call's two arguments, the first a point; the
// result replaces the first.
Cell* do_math(int32_t op);

// The compare protocol with a point as first operand (a pair! second
// operand of a point2D! counts as a point2D!).
int32_t compare(Cell* value1, Cell* value2, int32_t op);

}  // namespace zuv::point

namespace zuv::point2D {

inline Cell* make_at(Cell* c, float x, float y) { return point::make_at(c, TYPE_POINT2D, x, y, 0.0f); }
Cell* push(float x, float y);
inline Cell* do_math(int32_t op) { return point::do_math(op); }
void register_type();

}  // namespace zuv::point2D

namespace zuv::point3D {

inline Cell* make_at(Cell* c, float x, float y, float z) { return point::make_at(c, TYPE_POINT3D, x, y, z); }
Cell* push(float x, float y, float z);
inline Cell* do_math(int32_t op) { return point::do_math(op); }
void register_type();

}  // namespace zuv::point3D
