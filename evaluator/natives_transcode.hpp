// The `transcode` native and the bridge that lets the lexer call a
// language-level event callback.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::natives {

// Installs the lexer's callback hook: each event a scan delivers calls the
// user's function (or routine) under a call frame named <lexer-callback>.
// Runs once at start-up, after the lexer and the interpreter exist.
void install_lexer_callback();

}  // namespace zuv::natives
