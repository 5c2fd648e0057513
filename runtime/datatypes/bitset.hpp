// bitset!: a set of non-negative integers (in practice code points) as a bit
// array, used for character classes.
//
//   word 0  header, type byte 30
//   word 2  node of a byte series (unit 1); words 1 and 3 unused
//
// Bit i lives in stored byte i >> 3 under the mask 0x80 >> (i & 7), most
// significant bit first. The stored bytes run from the buffer's first byte to
// its tail. A complemented bitset (SERIES_COMPLEMENT in the buffer's flags)
// reads every bit beyond its stored bytes as set, so that a few bytes can
// describe "every character but these"; growing it fills new bytes with 0xFF.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::bitset {

inline SeriesBuffer* buffer(const Cell* b) { return memory::buffer_of(b->w2); }
inline bool complemented_q(const SeriesBuffer* s) { return (s->flags & SERIES_COMPLEMENT) != 0; }
inline bool complemented_q(const Cell* b) { return complemented_q(buffer(b)); }
inline int32_t byte_count(const SeriesBuffer* s) { return s->tail - s->head; }

// Membership of bit i (a bit beyond the stored bytes reads as the flag).
inline bool has_bit(const SeriesBuffer* s, uint32_t i) {
    uint32_t byte = i >> 3;
    if (byte >= uint32_t(byte_count(s))) return complemented_q(s);
    return (s->data()[s->head + int32_t(byte)] & (0x80u >> (i & 7))) != 0;
}
inline bool has_bit(const Cell* b, uint32_t i) { return has_bit(buffer(b), i); }

// The cell becomes a new bitset of bytes zero bytes (filled with fill) and
// the complement flag. May collect: the cell must not lie in a series buffer.
Cell* make_at(Cell* c, int32_t bytes, uint8_t fill, bool complemented);

// Spec walks: op 0 measures (answers the highest bit named), 1 sets, 2 tests
// (answers 1 when every bit named is set), 3 clears. kind names the caller
// for the error of an unusable spec: 0 make, 1 to, 2 any other action.
enum Op : int32_t { MEASURE = 0, SET = 1, TEST = 2, CLEAR = 3 };
int64_t process_spec(const Cell* spec, const Cell* bits, int32_t op, int32_t kind);

// The set operation op (5 or~, 6 and~, 7 xor~, 8 unique, 9 union, 10
// intersect, 11 exclude, 12 difference) between the call's first argument
// and the second, which must be a bitset! (else script invalid-type); the
// result replaces the first argument.
void combine(int32_t op);

// ---- slot functions ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::bitset
