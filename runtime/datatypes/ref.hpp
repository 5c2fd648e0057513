// ref!: @name, a child of string! (cell as string!, type byte 50); the
// stored text excludes the "@". It molds with the "@" and forms without.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::ref {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);

void register_type();

}  // namespace zuv::ref
