// function! and routine!: user-level functions as values.
//
// function! (id 24, parent context!) and routine! (id 29, parent function!):
//   header bits 0-7    the datatype id
//   header bit 9       function!: the spec's attribute no-trace
//   header bit 10      function!: the spec's attribute trace
//   header bit 15      routine!: takes its arguments as cell addresses
//   header bits 25-29  routine!: its arity, the count of word! cells in its spec
//   word 1             node of the function's own context (kind 1, values on
//                      the data stack while a call runs)
//   word 2             node of the spec block, stored from its head
//   word 3             node of the 5-cell more block:
//
//   cell  function!                            routine!
//   0     the body: a deep copy bound to the    the body value as given, or none
//         context, or none
//   1     the argument cache (unset! until the interpreter builds it)
//   2     unset! for a script function (the     integer!: the routine's index in
//         interpreter runs the body), or an     the routine registry
//         integer! index of compiled code in
//         the routine registry
//   3     unset!; a copy of the function when an op! is made from it
//   4     integer!: the owner object's context  integer!: the result type: 4
//         node, or unset! when there is none    logic!, 11 integer!, 12 float!,
//                                               -1 none
//
// Cell 1 of a function's context node (its own value) holds a copy of the
// function!; a routine's stays unset!.
//
// Copies of a value share spec, context and more block: two function values
// are equal only when they share the more block.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::function {

constexpr int32_t MORE_CELLS = 5;
constexpr int32_t MORE_BODY = 0;
constexpr int32_t MORE_ARG_CACHE = 1;
constexpr int32_t MORE_CODE = 2;
constexpr int32_t MORE_OP = 3;
constexpr int32_t MORE_OWNER = 4;  // function!: owner context; routine!: result type

constexpr uint32_t FLAG_NO_TRACE = 0x200;
constexpr uint32_t FLAG_TRACE = 0x400;

// Cell i of a function's or routine's more block (valid until the next
// allocation), or null when the value has none or it is shorter.
inline Cell* more_cell(const Cell* value, int32_t i) {
    if (!value->w3) return nullptr;
    SeriesBuffer* more = memory::buffer_of(value->w3);
    return i >= 0 && i < memory::length_of(more) ? memory::internal_cells(more) + i : nullptr;
}

// Checks a spec's grammar (attribute block, arguments with type blocks and
// documentation, refinements, one `return:`, `/local` words, no name twice
// ignoring case) and answers its attribute flags (FLAG_NO_TRACE, FLAG_TRACE).
// Raises script bad-func-def (the whole spec), invalid-type-spec (the entry),
// dup-vars (the later entry) or no-value (an unset type word).
uint32_t validate_spec(const Cell* spec);

// `function`'s locals: the body's set-words and foreach, remove-each and
// repeat words that the spec does not name are appended to the spec (a block
// it may change) after `/local`; words listed after `/extern` are left out,
// and `/extern` with what follows it is cut from the spec. Answers a block of
// the collected words (pushed on the data stack).
Cell* collect_locals(Cell* spec, const Cell* body);

// From index start of the spec to its tail: `/local` itself and every word!
// after it. -1 when require is set and there is no `/local`.
int32_t count_locals(Node spec, int32_t start, bool require);

// Pushes false and n - 1 none cells: an unused refinement and its arguments,
// or `/local` and its words.
void push_refinement_off(int32_t n);

// Pushes a new function! and answers its context node. Without a context
// (0) one is made from the spec and the body's deep copy is bound to it; a
// given context is used as it is. body: a block, or null (or none) for none.
// code: 0, or the routine-registry index of compiled code. owner: 0 or the
// owner object's context node. flags: attribute bits ORed into the header.
Node push_new(const Cell* spec, const Cell* body, Node context, int32_t code, Node owner, uint32_t flags);

// ---- slot functions ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* reflect(Cell* value, int32_t field);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::function

namespace zuv::routine {

constexpr uint32_t FLAG_BY_ADDRESS = 0x8000;
constexpr uint32_t ARITY_SHIFT = 25;
constexpr uint32_t ARITY_MASK = 0x1Fu << ARITY_SHIFT;
constexpr int32_t MAX_ARITY = 31;

// Result types (more-block cell 4).
constexpr int32_t RESULT_NONE = -1;

inline int32_t get_arity(const Cell* routine) { return int32_t((routine->header & ARITY_MASK) >> ARITY_SHIFT); }
// Counts the word! cells of the spec and stores the count in the header;
// more than 31 raises script bad-func-def.
void set_arity(Cell* routine);

// Pushes a new routine! for the C++ function at index code of the routine
// registry: its context made from the spec, body kept as given (null:
// none), result type RESULT_NONE or a datatype id (logic!, integer!,
// float!), by_address giving header bit 15. Answers the pushed cell.
Cell* push_new(const Cell* spec, const Cell* body, int32_t code, int32_t result_type, bool by_address);

// ---- slot functions (reflect is function!'s) ----

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::routine
