// none!: the empty value. No payload.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::none {

inline Cell* make_at(Cell* c) { return cell::set_type(cell::begin(c), TYPE_NONE); }
// Appends a none value at the tail of a block's series.
Cell* make_in(const Cell* block);
Cell* box();   // the current call's result slot becomes none
Cell* push();  // a new none on the data stack

// Slot functions. The series actions answer none whatever their refinements.
Cell* make(Cell* proto, Cell* spec, int32_t type);  // make and to: always none
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* clear(Cell* series);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length_q(Cell* series);  // -1: the length? entry answers none
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* take(Cell* series, Cell* part, bool deep, bool last);

void register_type();

}  // namespace zuv::none
