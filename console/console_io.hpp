// The console's routines that read standard input and set up the terminal:
// _set-buffer-history, _read-input, input-stdin, read-stdin and the
// console's init.
#pragma once

#include <cstdint>

namespace zuv::console_io {

// Adds the console's routines to the routine registry.
void register_routines();

// system/console/size as columns and rows; false when it is not a pair yet.
bool console_size(int32_t* columns, int32_t* rows);
// Sets system/console/size (nothing before the console object exists).
void set_console_size(int32_t columns, int32_t rows);

}  // namespace zuv::console_io
