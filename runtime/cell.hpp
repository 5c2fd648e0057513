// The value cell: every value of the language lives in one.
//
//   word 0  header   bits 0-7 datatype id, bit 30 new-line marker, others per type
//   word 1  payload  (series: head index; words: context node; logic, datatype: value)
//   word 2  payload  (series: node of the buffer; words: symbol id; integer, char: value)
//   word 3  payload  (per type; a double occupies words 2-3)
//
// Cells are 16 bytes and hold no pointers: references to series data are
// 32-bit node ids (0 = none), so that the collector may move buffers.
//
// A constructor writes the header as unset! first, fills the payload and
// writes the real type last (set_type), so that a collection in between never
// sees a typed cell with a half-built payload.
#pragma once

#include <cstdint>
#include <cstring>

namespace zuv {

using Node = uint32_t;

struct Cell {
    uint32_t header;
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

// Datatype ids, in the registry's numbering.
enum Type : uint8_t {
    TYPE_NONE_ID = 0,
    TYPE_DATATYPE = 1, TYPE_UNSET, TYPE_NONE, TYPE_LOGIC, TYPE_BLOCK, TYPE_PAREN,
    TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT,
    TYPE_SYMBOL, TYPE_CONTEXT, TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD,
    TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE, TYPE_NATIVE, TYPE_ACTION, TYPE_OP,
    TYPE_FUNCTION, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH,
    TYPE_ROUTINE, TYPE_BITSET, TYPE_TRIPLE, TYPE_OBJECT, TYPE_TYPESET, TYPE_ERROR,
    TYPE_VECTOR, TYPE_HASH, TYPE_PAIR, TYPE_PERCENT, TYPE_TUPLE, TYPE_MAP,
    TYPE_BINARY, TYPE_SERIES, TYPE_TIME, TYPE_TAG, TYPE_EMAIL, TYPE_HANDLE,
    TYPE_DATE, TYPE_PORT, TYPE_MONEY, TYPE_REF, TYPE_POINT2D, TYPE_POINT3D,
    TYPE_IMAGE, TYPE_EVENT,
    TYPE_TOTAL = 57  // rows reserved in the type tables
};
static_assert(TYPE_EVENT == 54 && TYPE_SERIES == 42 && TYPE_IMAGE == 53);

constexpr uint32_t TYPE_MASK = 0xFF;
constexpr uint32_t FLAG_NEW_LINE = 0x40000000;  // value starts a new line when molded

// Per-type header bits read by more than one module.
constexpr uint32_t CONTEXT_KIND_SHIFT = 11;      // context!: bits 11-12 kind
constexpr uint32_t CONTEXT_KIND_MASK = 3u << CONTEXT_KIND_SHIFT;
constexpr uint32_t CONTEXT_ON_STACK = 0x400000;  // context!: values live on the data stack
constexpr uint32_t CONTEXT_SELF = 0x1000000;     // context!: self flag
constexpr uint32_t OP_TYPE_SHIFT = 16;           // op!: wrapped type in bits 16-23
constexpr uint32_t EVENT_HAS_SERIES = 0x1000;    // event!: word 2 holds a cell series

inline uint8_t type_of(const Cell* c) { return uint8_t(c->header & TYPE_MASK); }

namespace cell {

// Replaces the datatype id, keeping every flag bit.
inline Cell* set_type(Cell* c, uint32_t type) {
    c->header = (c->header & ~TYPE_MASK) | (type & TYPE_MASK);
    return c;
}
inline void clear_new_line_flag(Cell* c) { c->header &= ~FLAG_NEW_LINE; }
inline bool new_line_q(const Cell* c) { return (c->header & FLAG_NEW_LINE) != 0; }

inline int32_t as_int(uint32_t w) { return int32_t(w); }

// The double of a float-like cell lives in words 2-3.
inline double get_float(const Cell* c) {
    double d;
    std::memcpy(&d, &c->w2, sizeof d);
    return d;
}
inline void put_float(Cell* c, double d) { std::memcpy(&c->w2, &d, sizeof d); }

// Starts a cell under construction: header unset!, payload zero.
inline Cell* begin(Cell* c) {
    c->header = TYPE_UNSET;
    c->w1 = c->w2 = c->w3 = 0;
    return c;
}

}  // namespace cell

// Copies the four words; copying a cell onto itself does nothing. Cells
// never overlap partly, so a plain copy through a temporary does.
inline Cell* copy_cell(const Cell* source, Cell* target) {
    Cell value = *source;
    *target = value;
    return target;
}

}  // namespace zuv
