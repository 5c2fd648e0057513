// The path family (path!, lit-path!, set-path!, get-path!) and paren!.
//
// Paths (a/b/c) and parens ((a b)) are blocks with another datatype: the
// block! payload (word 1 head index, word 2 node of a cell series) and the
// block! series actions. They differ in making, converting, forming and
// molding; the evaluator gives them their meaning. The values of a path are
// its segments.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::path {

// Writes the type into the cell (the whole header, flags cleared) and pushes
// a copy on the data stack; returns the pushed cell.
Cell* push(Cell* value);
// The cell becomes an empty path! with room for n cells (at least 1).
Cell* make_at(Cell* cell, int32_t n);

// ---- action slots (every path type) ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
// Segments joined by "/"; a path already being walked gives the cycle marker.
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);

void register_type();

}  // namespace zuv::path

namespace zuv::lit_path {
Cell* push(Cell* value);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
void register_type();
}  // namespace zuv::lit_path

namespace zuv::set_path {
Cell* push(Cell* value);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
void register_type();
}  // namespace zuv::set_path

namespace zuv::get_path {
Cell* push(Cell* value);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
void register_type();
}  // namespace zuv::get_path

namespace zuv::paren {
Cell* push(Cell* value);
// "(" cells ")" as a block molds its cells; only? leaves the parentheses out.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
// Registers paren! (after function! and routine!).
void register_type();
}  // namespace zuv::paren
