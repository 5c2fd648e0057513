// Compiled blocks: a pre-decoded form of a block, run in place of the
// walker's loop over its expressions.
//
// The walker (interpreter.cpp) stays the reference: a compiled expression
// gives exactly what the walker would give, and whatever the compiled form
// cannot prove it handles the same way is evaluated by the walker, at that
// expression. A block gets its compiled form on its second evaluation (code
// run once is not worth it), made from the block's cells as they stand:
//
// - Each position of the block where a simple expression starts holds a
//   pre-decoded expression: set-words, then an operand (a constant or a
//   bound word), then integer and float operators with their right operands.
//   Positions where nothing simple starts run the walker's eval_expression.
// - A unit keeps a copy of the cells it was made from. An expression runs
//   compiled only while its own cells (and the cell after it) are still the
//   ones it was made from: a block changed by the code it runs, rebound, or
//   renumbered by the collector is seen at the next expression, which then
//   runs through the walker; a unit that keeps failing so is made again.
// - Every value it relies on is checked when it runs: an operand word must
//   not name a function, an operator or nothing; an operator word must still
//   be the operator it was; the cell after the expression must not be an
//   operator's word; a set-word stores directly only outside objects (no
//   change handler can run). Any miss runs the whole expression through the
//   walker, which is sound because nothing of it has been done yet.
// - Nothing in a compiled expression allocates, runs user code, pushes a
//   frame or can fail: the frames, the stacks and the result slot are left
//   as the walker leaves them at the end of an expression.
//
// Units live in a table by node id and are dropped when the collector frees
// their node. A unit in use by a running evaluation is never changed or
// freed under it.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::interpreter::compiled {

// Hooks the release of nodes, so that a freed block's unit goes with it.
void init();

// The expressions of code (the block value being evaluated, held by the
// caller, whose eval frame is current) from head, each bounded by end as in
// eval_block; the last value is left in the frame's result slot. Answers
// false, having done nothing, when the block has no compiled form (the
// caller then walks it).
bool run(const Cell* code, int32_t head, int32_t end);

}  // namespace zuv::interpreter::compiled
