// tag!: <text>, a child of string! (cell as string!, type byte 44); the
// stored text excludes the angle brackets.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::tag {

// form and mold: "<", the text, ">".
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);

void register_type();

}  // namespace zuv::tag
