// issue!: a #name value, a child of word!.
//
// Cell: {header TYPE_ISSUE, w1 the global context, w2 symbol id of the
// spelling, w3 -1}: a word that is never evaluated to a value. It forms as
// its spelling and molds with "#" in front.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::issue {

// c := the issue of the UTF-8 name (interned).
Cell* make_at(Cell* c, const uint8_t* name, int32_t length);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);  // make and to
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers issue! (after word!).
void register_type();

}  // namespace zuv::issue
