// symbol!: an interned name (the table itself is runtime/symbols.hpp).
//
// Every word refers to its name by a symbol id, a small positive integer, so
// names compare as integers. Two symbols name the same word ignoring case
// when resolve gives the same canonical id for both.
//
// The string! of a name is made on first need and then kept for the life of
// the program.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/symbols.hpp"

namespace zuv::symbol {

// Interning a NUL-terminated UTF-8 name: a new case variant records its alias.
int32_t make(const char* name);
// Interning that makes no case variant: a name equal to an interned one
// ignoring ASCII case gives that symbol's id (start-up uses it for "top" and "pen").
int32_t make_exact(const char* name);
// Interning UTF-8 bytes that do not lie in a series buffer.
int32_t make_from_utf8(const uint8_t* bytes, int32_t count);
// Interning the text of any string value from its head.
int32_t make_from_string(Cell* str);

// Word 1 of the symbol's cell as stored (-1 for a first spelling).
inline int32_t alias_of(int32_t id) { return int32_t(cell_at(id)->w1); }

// The symbol's cell with its string! made first when missing (valid until the next allocation).
Cell* get_cell(int32_t id);
// Makes the name's string! when missing; answers its node.
Node cache_string(int32_t id);
// Fills a cell as a string! {head 0, the symbol's cached name string}.
Cell* name_string_at(int32_t id, Cell* out);
// The name's UTF-8 bytes, NUL-terminated (valid until the next allocation).
const uint8_t* to_utf8_copy(int32_t id);

// True when the word's symbol is any-type! ignoring case.
bool any_type_q(const Cell* word);

// Slot 9: the names compared as text under op (-1, 0 or 1).
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::symbol
