// unset!: the absence of a value. No payload.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::unset {

inline Cell* make_at(Cell* c) { return cell::begin(c); }  // begin writes the unset! header
// Appends an unset! value at the tail of a block's series.
Cell* make_in(const Cell* block);
Cell* box();   // the current call's result slot becomes unset
Cell* push();  // a new unset! on the data stack

// Slot functions.
Cell* make(Cell* proto, Cell* spec, int32_t type);  // make and to: always unset
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::unset
