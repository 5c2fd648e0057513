// Calls of language-level functions from C++ code (sort comparators, lexer
// events): the cells such a call gets after its frame.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::interpreter {

// The context a callback runs in: its owner object's, else the fallback.
Node callback_context(const Cell& fn, Node fallback);

// The cells of a call of the callback function after its frame, one per
// word of its spec: args for its first argument words (at most count,
// before any refinement), false for each refinement (/local included) and
// none for every other word. Answers how many arguments it got.
int32_t push_callback_cells(const Cell& fn, const Cell* args, int32_t count);

// sort/compare with a function calls it through the interpreter.
void install_comparator();

}  // namespace zuv::interpreter
