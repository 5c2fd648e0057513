// The console's routines that read standard input and set up the terminal:
// _set-buffer-history, _read-input, input-stdin, read-stdin and the
// console's init.
#pragma once

namespace zuv::console_io {

// Adds the console's routines to the routine registry.
void register_routines();

}  // namespace zuv::console_io
