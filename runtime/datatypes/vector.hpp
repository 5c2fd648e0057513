// vector!: a packed series of numbers or characters of one kind and width.
//
// Cell: {header TYPE_VECTOR, w1 head index in elements, w2 node of the
// element buffer, w3 the element kind: TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT
// or TYPE_PERCENT}. The buffer's unit is the element width in bytes: 1, 2
// or 4 for integers and characters (two's complement, read sign-extended),
// 4 or 8 for floats and percents (binary32 or binary64; a percent holds the
// fraction, 50% is 0.5). Elements are stored in the machine's byte order.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::vector {

inline uint32_t kind_of(const Cell* v) { return v->w3; }
inline int32_t width_of(const Cell* v) { return int32_t(memory::unit_of(memory::buffer_of(v->w2))); }

// Elements from the head to the tail (0 when the head lies past it).
int32_t zs_length_q(const Cell* v);

// c := an empty vector of the kind and width with room for n elements
// (at least 1); an overflowing size raises internal no-memory.
Cell* make_at(Cell* c, int32_t n, uint32_t kind, int32_t width);

// out := the element at p as a value of the kind (sign-extended integers
// and characters, floats widened to doubles).
Cell* element_value(const uint8_t* p, int32_t width, uint32_t kind, Cell* out);
// Stores the value at p: integer! and char! as their low bits, float! and
// percent! as binary64 or binary32; another type raises script invalid-type.
void store_element(uint8_t* p, int32_t width, const Cell* value);
// Raises script invalid-arg with the value unless its type is the vector's kind.
void check_kind(const Cell* v, const Cell* value);

// Appends a cell for each element from the head to the block.
void to_block(const Cell* v, const Cell* block);

// The in-place arithmetic with a scalar (MathOp codes): each element op the
// scalar, or with swapped the scalar op each element. Answers the vector.
Cell* do_math_scalar(int32_t op, Cell* v, const Cell* scalar, bool swapped = false);

void register_type();

}  // namespace zuv::vector
