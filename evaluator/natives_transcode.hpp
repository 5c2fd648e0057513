// The `transcode` native and the bridge that lets the lexer call a
// language-level event callback.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::natives {

// The context a language-level callback runs in: its owner object's, else
// the global one.
Node callback_context(const Cell& fn);
// Pushes the cells of a call of the callback function (its frame already
// pushed): the given arguments for its first argument words (at most five,
// before any refinement), false for each refinement and none for every other
// word. Answers how many arguments it got.
int32_t push_function_cells(const Cell& fn, const Cell* args);

// Installs the lexer's callback hook: each event a scan delivers calls the
// user's function (or routine) under a call frame named <lexer-callback>.
// Runs once at start-up, after the lexer and the interpreter exist.
void install_lexer_callback();

}  // namespace zuv::natives
