// datatype!: a value that names a datatype.
//
//   word 1  the named type id (1-54); words 2-3 unused
//
// Also the registration of the datatype! row itself; the registry proper
// (tables, register_type, init_type_words) is declared in registry.hpp.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes/registry.hpp"

namespace zuv::datatype {

// Fills a cell as the datatype! value naming the type.
inline Cell* make_at(Cell* c, int32_t type) {
    cell::begin(c)->w1 = uint32_t(type);
    return cell::set_type(c, TYPE_DATATYPE);
}
// Appends a datatype! value naming the type at the tail of a block's series.
Cell* make_in(const Cell* block, int32_t type);
// Pushes a datatype! value naming the type on the data stack (names a value's
// type in error arguments).
Cell* push(int32_t type);

inline int32_t get_value(const Cell* c) { return int32_t(c->w1); }

// True when the id has a registered name (ids read from values are checked).
inline bool known_q(int32_t type) {
    return type > 0 && type < TYPE_TOTAL && type_names[type].name != nullptr;
}

// Slot functions.
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers the datatype! row (first of the start-up registrations).
void register_datatype();

}  // namespace zuv::datatype
