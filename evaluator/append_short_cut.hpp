// append without refinements, the most frequent way of building a series:
// done directly when the target is a string! or a block!.
//
// Both ways of calling it keep the walker's protocol around the action (the
// copy of the callable, the native frame named by the word, the arguments
// at its base) wherever something may be raised or user code may run, so
// that it names the same frame and position; only the action's dispatch
// and, for plain operands, the argument fetching are skipped. An append
// that needs no allocation, to a series no owner watches, can do neither:
// it is done without the frame.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::interpreter::detail {

// The action's work on its two fixed arguments (series, value), with no
// refinement used: text or a character added to a string!, any value to a
// block!. False, having done nothing, for other series or values.
bool append_direct(Cell* series, Cell* value);

// The call of append (fn, named by name) whose arguments start at position
// in code: when both are plain (a constant, or a word naming a value that
// is placed as it is), no operator follows them and the series is a
// string! or block! that append_direct takes, the whole call, its result
// placed as run_builtin places it; answers the position after it. -1,
// having done nothing, for any other call.
int32_t append_short_cut(const Cell& fn, const Cell* code, int32_t position, int32_t end, bool sub,
                         const Cell& name);

}  // namespace zuv::interpreter::detail
