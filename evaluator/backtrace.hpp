// Backtraces read from the call stack: the word naming the nearest call (the
// `where` of errors) and the lists of called functions that errors and the
// library's stack inspection show. Frames named <body> or <anon> never appear.
#pragma once

#include <cstdint>

#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"

namespace zuv::stack {

// The word naming the nearest real call (see get_caller_word): a word of the
// frame's word context, or of the global context when that lacks it; the
// <not-found> word when no frame names a call.
Cell caller_word();

// For every frame from the top down to, not including, the bottom frame:
// appends to the block the frame's symbol as a word of its function context
// (global when it has none) and an integer!, the data stack index of the
// frame's saved arguments. Newest first.
void collect_calls(const Cell* block);

// The console's object: its own frames (the prompt loop and what calls it),
// up to the innermost call of one of its functions, are not part of the call
// stack a user's error shows. Set once the console is defined.
void set_report_base(const Cell* console);

// For every frame from the bottom up to, not including, upper: appends the
// symbol as a global word when level is above 1 or the symbol's value in the
// frame's word context is a function!. Oldest first.
void collect_call_words(int32_t level, const Cell* block, const Frame* upper);

// The same selection up to the call position an error recorded: each word is
// formed into the string within the remaining limit and followed by a space,
// which costs one more unit. Returns the limit left.
int32_t form_call_words(int32_t level, int32_t position, Cell* string, int32_t limit);

}  // namespace zuv::stack
