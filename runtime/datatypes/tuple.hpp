// tuple!: 3 to 12 unsigned bytes, written with dots (255.128.0, 1.2.3.4).
//
//   word 0     header, type byte 39; bits 19-22 the size (number of bytes)
//   words 1-3  the bytes in order: byte 1 is the lowest byte of word 1,
//              byte 5 the lowest of word 2, byte 9 the lowest of word 3
//
// Bytes past the size read as 0 and every constructor keeps them 0; a tuple
// never has fewer than 3 bytes. The arithmetic works byte by byte and
// saturates at 0 and 255.
#pragma once

#include <cstdint>

#include "lexer/convert.hpp"
#include "runtime/cell.hpp"

namespace zuv::tuple {

constexpr int32_t MAX_SIZE = 12;

// The size from the header (a damaged size beyond 12 reads as 12).
inline int32_t size_of(const Cell* c) {
    int32_t n = int32_t((c->header & lexer::TUPLE_SIZE_MASK) >> lexer::TUPLE_SIZE_SHIFT);
    return n > MAX_SIZE ? MAX_SIZE : n;
}
// Byte i (from 0; 0 past the size).
inline uint32_t byte_at(const Cell* c, int32_t i) {
    if (i < 0 || i >= size_of(c)) return 0;
    uint32_t w = i < 4 ? c->w1 : i < 8 ? c->w2 : c->w3;
    return (w >> (8 * (i & 3))) & 0xFF;
}

// The cell becomes a tuple! of the bytes (count 0-12, padded with zero
// bytes to 3; flag bits kept).
Cell* make_at(Cell* c, const uint8_t* bytes, int32_t count);
// A new tuple! on the data stack with the size and the three payload words.
Cell* push(int32_t size, uint32_t w1, uint32_t w2, uint32_t w3);
// A tuple of the lowest 8 bits of each integer (count 0-12).
Cell* make_from_integers(Cell* c, const int32_t* values, int32_t count);

// Fills the cell from the spelling of an issue: 3 hexadecimal digits give 3
// bytes, each digit doubled (F80 is 255.136.0); 6 digits give 3 bytes and 8
// digits 4, two digits a byte. Any other length or a non-hexadecimal
// character answers false (cell untouched). The code points are read with
// the string unit (1, 2 or 4 bytes).
bool from_hex(const uint8_t* text, int32_t count, int32_t unit, Cell* c);

// The arithmetic of the math actions on the current call's two arguments,
// one of them a tuple!; the result replaces the first argument.
Cell* do_math(int32_t op);

// True when every byte up to the size is 0.
bool zero_q(const Cell* c);

void register_type();

}  // namespace zuv::tuple
