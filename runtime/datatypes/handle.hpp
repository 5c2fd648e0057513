// handle!: an opaque handle of the system or of a backend, a child of
// integer! that scripts can mold, form and compare but not make.
//
// Cell: {header TYPE_HANDLE, w1 handle class (below), w2 the handle value
// (32 bits, compared as signed), w3 -1}. A handle that serves as a port's
// actor holds in w2 the 1-based index of a registered table of native
// port actions (actions::register_port_actor_table), never an address.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::handle {

enum Class : int32_t { NULL_HANDLE = 0, FD, MONITOR, WINDOW, FONT, RICH_TEXT };

// c := a handle of the value and class.
Cell* make_at(Cell* c, int32_t value, int32_t handle_class);
// The call's result cell := a handle.
Cell* box(int32_t value, int32_t handle_class);
// Pushes a new handle on the data stack.
Cell* push(int32_t value, int32_t handle_class);
// Pushes the null handle (value 0, class 0).
Cell* push_null();
// Sets the global word null-handle to the null handle.
void define_null_handle();

// ---- action slots ----

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers handle! (after integer!).
void register_type();

}  // namespace zuv::handle
