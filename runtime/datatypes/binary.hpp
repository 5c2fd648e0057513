// binary!: the byte series.
//
// Cell: {header TYPE_BINARY, w1 head index in bytes (may lie past the tail),
// w2 node of a unit-1 buffer, w3 unused}. binary! is a child of string! and
// shares its navigation; its own code converts values to bytes, writes the
// "#{...}" text form, compares bytes, and edits the series.
//
// Bytes are gathered into a C++ vector before the series is touched, so no
// pointer into a series buffer is held while the value's bytes are
// produced (forming a value may allocate).
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::binary {

inline SeriesBuffer* buffer(const Cell* b) { return memory::buffer_of(b->w2); }

// Bytes from the head to the tail (0 when the head lies past it).
int32_t zs_length_q(const Cell* b);
// A copy of the bytes from the head (at most limit of them; limit < 0: all).
std::vector<uint8_t> bytes_of(const Cell* b, int32_t limit = -1);

// c := an empty binary! with room for n bytes (16 when n is 0).
Cell* make_at(Cell* c, int32_t n);
// c := a new binary! holding a copy of n bytes (p must not lie in a series buffer).
Cell* load_at(Cell* c, const uint8_t* p, int32_t n);
inline Cell* load_at(Cell* c, const std::vector<uint8_t>& bytes) {
    return load_at(c, bytes.data(), int32_t(bytes.size()));
}

// Replaces `replaced` bytes at byte offset `at` (from the buffer's first
// element) with the pattern written dup times, moving the bytes after them
// and growing the buffer (to twice its room when that is enough). A size
// beyond 32 bits raises internal no-memory. Works on any unit-sized series.
void splice_bytes(const Cell* series, int32_t at, int32_t replaced, const std::vector<uint8_t>& pattern,
                  int64_t dup);

// Appends a value's bytes to out: char! its UTF-8, integer! one byte
// (-128..255, else script invalid-arg), binary! and tuple! their bytes,
// any-string its UTF-8, blocks each element in turn. A part limit >= 0 cuts
// the bytes (for a block without only it counts elements). Another type is
// formed when form_others is set, else raises script bad-to-arg.
void value_bytes(const Cell* value, int32_t part, bool only, bool form_others, std::vector<uint8_t>& out);

// -1, 0 or 1 under a comparison code; -2 when v2 is not a binary!. In match
// mode only v2's length is compared (v1 starts with v2's bytes).
int32_t compare_bytes(const Cell* v1, const Cell* v2, int32_t op, bool match);

// The text form "#{...}" (flat: on one line; only: without the braces).
int32_t write_text(const Cell* value, Cell* buffer, bool only, bool flat, bool limited, int32_t part,
                   int32_t indent);

void register_type();

}  // namespace zuv::binary
