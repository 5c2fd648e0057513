// char!: a Unicode code point.
//
//   word 2  the code point, 0 .. 0x10FFFF; words 1 and 3 unused
//
// Its arithmetic runs the integer kernel and keeps the result a character;
// random, absolute, even? and odd? come from integer!.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::char_ {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

inline Cell* make_at(Cell* c, uint32_t cp) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_UNSET;
    c->w1 = 0;
    c->w2 = cp;
    c->w3 = 0;
    return cell::set_type(c, TYPE_CHAR);
}
inline uint32_t get(const Cell* c) { return c->w2; }

Cell* push(uint32_t cp);
Cell* make_in(const Cell* block, uint32_t cp);

// Arithmetic of the current call's two arguments; the result stays a char!.
void do_math(int32_t op);

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::char_
