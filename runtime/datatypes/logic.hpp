// logic!: true and false, and the truth rule of every conditional.
//
//   word 1  0 = false, 1 = true; words 2-3 unused
//
// Truth: none and false are false; every other value, unset included, is true
// (the strict test raises on unset).
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::logic {

inline Cell* make_at(Cell* c, bool value) {
    cell::begin(c)->w1 = value ? 1u : 0u;
    return cell::set_type(c, TYPE_LOGIC);
}
// Appends a logic! value at the tail of a block's series.
Cell* make_in(const Cell* block, bool value);
Cell* box(bool value);   // the current call's result slot becomes the logic value
Cell* push(bool value);  // a new logic! on the data stack

inline uint32_t get_value(const Cell* c) { return c->w1; }

// 0 for none and false, else 1. With check set, an unset! value raises script
// no-value naming the word.
bool cell_true_q(const Cell* c, bool check, const Cell* word);
// 0 for none and false, else 1; unset! raises script no-return.
bool true_strict_q(const Cell* c);
// 1 for none and false, else 0 (unset gives 0).
inline bool false_q(const Cell* c) {
    uint8_t t = type_of(c);
    return t == TYPE_NONE || (t == TYPE_LOGIC && c->w1 == 0);
}

// Truth of the last value pushed in the current call, or of its result slot
// when nothing was pushed since the call began.
bool top_true_q();
inline bool top_false_q() { return !top_true_q(); }

// Slot functions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* complement(Cell* value);
Cell* random(Cell* value, bool seed, bool secure, bool only);
// and~, or~, xor~ on the call's two arguments (the first is the result slot);
// a second argument that is not logic! raises script expect-arg.
void and_t();
void or_t();
void xor_t();

void register_type();

}  // namespace zuv::logic
