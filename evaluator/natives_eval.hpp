// What the evaluation, word and output natives share: reducing a block into
// a target, evaluating a single value, the last-newline flag, and the
// argument checks made when a C++ caller sets the check flag.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/typeset.hpp"

namespace zuv::natives {

// The newline flag of the last print (1) or prin (0); the library reads it
// through the routine last-lf?, which this registers.
extern int32_t last_newline;
void register_output_routines();

// Where reduce and compose put their values. The cell lies on the data stack.
//   direct  a block nobody else sees (new, or the print scratch) at its tail:
//           cells are appended directly
//   insert  the target is not at its tail: values go in at its position
//           through the insert action, which moves it past them
// Otherwise values are appended through the append action (owners are told).
struct Target {
    Cell* series;
    bool direct;
    bool insert;
};
// A target over an /into series (on the data stack): insert mode unless it
// is at its tail.
Target into_target(Cell* out);

// Puts one value (only) or the values of a block (splice) into the target.
void put_value(const Target& target, const Cell* value, bool only);

// Calls the library function of that name (the system's own copy of the
// word, which a user's rebinding leaves alone) with count arguments; answers
// its result. No such function: the internal error not-done.
Cell call_system_function(const char* name, const Cell* args, int32_t count);

// Evaluates the block expression by expression and puts each value, its
// new-line marker cleared, into the target. False when a non-local exit is
// pending (the stacks are then as that exit left them).
bool reduce_into(const Cell* block, const Target& target);

// Evaluates the value as one expression starting at it (a function value is
// called, a word looked up, a scalar yields itself) into the result slot.
// False when a non-local exit is pending.
bool eval_single(const Cell* value);

// With the check flag: the cell at position (from `arguments`; -1 for an
// absent refinement) must be one of the types, else expect-arg naming the
// spec entry arg_index.
inline void check_arg(int32_t position, std::initializer_list<uint8_t> types, int32_t arg_index) {
    if (position < 0) return;
    Cell allowed;
    typeset::make_from_ids(cell::begin(&allowed), types);
    rt_support::check_argument_type(arg_index, &allowed, stack::arguments + position);
}

}  // namespace zuv::natives
