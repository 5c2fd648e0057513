// native!, action! and op!: built-in functions as values.
//
// native! and action!:
//   word 1  1-based index of the entry function: a slot of the natives table
//           (native!) or of the action entry table (action!)
//   word 2  node of the spec block (stored from its head)
//   word 3  node of a 2-cell "more" block: cell 0 a copy of the context! cell
//           of a context made from the spec (kind 1, values on the stack),
//           cell 1 the argument cache (none until the interpreter builds it)
//
// op!: the payload of the wrapped native!, action!, function! or routine!,
// unchanged, with the wrapped datatype in header bits 16-23. An op made from
// a function or routine also leaves a copy of the function in cell 3 of the
// function's more block.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::native {

constexpr int32_t MORE_CELLS = 2;
constexpr int32_t MORE_CONTEXT = 0;    // more-block cell: the spec's context! cell
constexpr int32_t MORE_ARG_CACHE = 1;  // more-block cell: the argument cache

// Slot functions of native! (action! and op! inherit reflect).
Cell* make(Cell* proto, Cell* spec, int32_t type);
// True when a native! (type TYPE_NATIVE) or action! value may be made with
// this table index and spec block: the slot holds a callable entry and the
// spec is the slot's own (stored values that are read back use it).
bool builtin_parts_q(uint32_t type, int32_t index, const Cell* spec);
Cell* reflect(Cell* value, int32_t field);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
// The same comparison for the three types: entries ordered as signed numbers.
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::native

namespace zuv::action {

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);

void register_type();

}  // namespace zuv::action

namespace zuv::op {

// The datatype an op! wraps (header bits 16-23).
inline uint32_t wrapped_type(const Cell* op) { return (op->header >> OP_TYPE_SHIFT) & 0xFF; }
// A copy of the op as the value it wraps: the wrapped type in the type byte,
// the op's own bits cleared.
inline Cell unwrap(const Cell* op) {
    Cell c = *op;
    c.header = (c.header & ~(TYPE_MASK | (0xFFu << OP_TYPE_SHIFT))) | wrapped_type(op);
    return c;
}

// True when the spec (from its first cell) declares exactly two arguments
// before any refinement other than /local or /extern, and a lit-word! or
// get-word! argument never comes first.
bool two_arguments_q(uint32_t spec_node);

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);

void register_type();

}  // namespace zuv::op
