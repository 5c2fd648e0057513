// PARSE: matches an input series (any block type, any string type, binary!)
// against a block of grammar rules, and can change the input, capture parts
// of it into words and collect values into a block.
//
// The engine is one iterative state machine: sub-rules, repetitions and
// commands push frames on a rule stack held in an ordinary block, never on
// the machine stack, so a deep grammar costs three cells per level and ends
// with the script error parse-stack instead of a crash. Parens in the rules
// run ordinary code, which may call parse again: a nested run works above
// the frames of the outer one and leaves them as it found them.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::parse {

// Makes the input stack and the rule stack in the root block (start-up).
void init();

// Runs the rules over the input. mode: 0 (equal?) or 2 (strict-equal?,
// /case); limit: an absolute index in the input's series where the input
// ends (-1: its tail); callback: a trace function, or null. The result
// (a logic!, or the block a top-level collect made) is pushed on the data
// stack and returned. A non-local exit out of a paren leaves its code
// pending: the result is then meaningless.
Cell* run(const Cell* input, const Cell* rules, int32_t mode, int32_t limit, const Cell* callback);

}  // namespace zuv::parse
