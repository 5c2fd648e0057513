// pair!: two 32-bit signed integers (x, y), for sizes and positions.
//
//   word 0  header, type byte 37
//   word 1  not used
//   word 2  x
//   word 3  y
//
// The arithmetic is exact integer arithmetic per component; when a component
// cannot stay exact (an overflow, a division with a remainder, a float
// factor) the whole operation is done again as point2D! arithmetic, so
// 7x4 / 2 is the point (3.5, 2) and an overflowing sum never wraps.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::pair {

inline int32_t x_of(const Cell* c) { return int32_t(c->w2); }
inline int32_t y_of(const Cell* c) { return int32_t(c->w3); }

// The cell becomes a pair! (flag bits kept).
Cell* make_at(Cell* c, int32_t x, int32_t y);
// A new pair! at the block's tail (the block may move).
Cell* make_in(const Cell* block, int32_t x, int32_t y);
Cell* push(int32_t x, int32_t y);

// The arithmetic of the math actions (add, subtract, multiply, divide,
// remainder, or, and, xor) on the current call's two arguments, the first a
// pair!; the result (a pair! or a point2D!) replaces the first.
Cell* do_math(int32_t op);

void register_type();

}  // namespace zuv::pair
