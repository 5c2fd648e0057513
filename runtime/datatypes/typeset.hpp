// typeset!: a set of datatypes as a 96-bit bitmap inside the cell.
//
//   word 0     header, type byte 33
//   words 1-3  the bitmap: 12 bytes in memory order (word 1's first byte first)
//
// Datatype id t is a member when bit 0x80 >> (t & 7) of byte t >> 3 is set,
// so the highest bit of a byte is its lowest id: datatype! (1) is 0x40 of
// byte 0, integer! (11) is 0x10 of byte 1. Ids 0-95 fit. Walks over members
// (count, mold, to-block) stop at the highest registered datatype id; bits
// above it are carried along but never reported.
//
// Every function argument is checked against a typeset; the interpreter
// builds those of a spec with make_from_ids, add and merge below.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "runtime/cell.hpp"

namespace zuv::typeset {

constexpr uint32_t BITS = 96;

inline bool has_q(const Cell* ts, uint32_t type) {
    if (type >= BITS) return false;
    uint8_t bytes[12];
    std::memcpy(bytes, &ts->w1, sizeof bytes);
    return (bytes[type >> 3] & (0x80u >> (type & 7))) != 0;
}
inline void add(Cell* ts, uint32_t type) {
    if (type >= BITS) return;
    uint8_t bytes[12];
    std::memcpy(bytes, &ts->w1, sizeof bytes);
    bytes[type >> 3] |= uint8_t(0x80u >> (type & 7));
    std::memcpy(&ts->w1, bytes, sizeof bytes);
}
// ORs the other typeset's members in.
inline void merge(Cell* ts, const Cell* other) {
    ts->w1 |= other->w1;
    ts->w2 |= other->w2;
    ts->w3 |= other->w3;
}
// Zeroes the bitmap.
inline void clear(Cell* ts) { ts->w1 = ts->w2 = ts->w3 = 0; }

// The cell becomes an empty typeset! (flag bits kept).
inline Cell* make_at(Cell* c) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_UNSET;
    clear(c);
    return cell::set_type(c, TYPE_TYPESET);
}
// The cell becomes the typeset of the listed datatype ids.
Cell* make_from_ids(Cell* c, const uint8_t* ids, int32_t count);
inline Cell* make_from_ids(Cell* c, std::initializer_list<uint8_t> ids) {
    return make_from_ids(c, ids.begin(), int32_t(ids.size()));
}
// The cell becomes the typeset of every id but unset!: the types of an
// argument whose spec names none.
Cell* make_any_at(Cell* c);

// Members among the registered ids.
int32_t count(const Cell* ts);

// New typesets at a block's tail (the buffer may move): from the three
// bitmap words; of every id but unset!; from an argument's type block.
Cell* make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* make_in_any(const Cell* block);
// The union of the block's datatypes, typesets and words naming them (a
// word naming a word adds object!, a nested block is skipped); anything else
// raises script invalid-type-spec with the element.
Cell* make_in_from_block(const Cell* block, const Cell* spec);

// Adds a datatype!'s id, or a typeset!'s members, or those of the value a
// word! refers to; anything else raises script invalid-arg with the value.
void add_type(Cell* ts, const Cell* value);

// The set operation of op (5/9 or, 6/10 and, 7/12 xor, 11 and-not, 8 the
// first unchanged) between the call's first argument and its second (a
// typeset! or a datatype!, else script invalid-arg); the result replaces
// the first argument and is returned.
Cell* combine(int32_t op);

Cell* push(const Cell* ts);
// The block cell becomes a new block of the members' type words, ascending.
Cell* to_block(const Cell* ts, Cell* block);

// Sets the global words of the well-known typesets (number!, series!,
// any-word! ...) until the boot image brings them.
void init_words();

// ---- slot functions ----

Cell* make(Cell* proto, Cell* spec, int32_t type);  // make and to
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
void and_t();
Cell* complement(Cell* value);
void or_t();
void xor_t();
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);

void register_type();

}  // namespace zuv::typeset
