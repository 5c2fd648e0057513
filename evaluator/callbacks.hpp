// Calls of language-level functions from C++ code (sort comparators, lexer
// events, the library functions natives call): the cells such a call gets
// after its frame.
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

// Calls a function of the language library for a native: fn with count
// arguments (the rest of its spec none or false) under a function frame
// named by name, as the interpreter calls it. Answers its result; the data
// stack is as it was. A code it leaves pending continues as the low-level
// throw.
Cell call_library(const Cell& fn, const Cell& name, const Cell* args, int32_t count);

// sort/compare with a function calls it through the interpreter.
void install_comparator();

}  // namespace zuv::interpreter
