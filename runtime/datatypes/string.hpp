// string!: a series of Unicode code points.
//
// Cell: {header TYPE_STRING (or file!, url!, tag!, email!, ref! sharing the
// layout), w1 head index in characters (may lie past the tail), w2 node of the
// buffer, w3 0 or the node of the conversion buffer (see unicode.hpp)}.
//
// The buffer stores characters in units of 1, 2 or 4 bytes (the low bits of
// its flags). A buffer is widened in place the first time a character needs a
// wider unit and is never narrowed. Widening and growth may MOVE the buffer:
// every function that may do either returns the buffer current afterwards (or
// works on a value and re-derives it through the node). Never keep a pointer
// into the characters across one of these calls.
//
// Widening rules: append_char keeps only 0-127 in unit 1 (128 and above widen
// to unit 2 or 4); overwrite_char, insert_char and poke_char keep 0-255 in
// unit 1.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/memory.hpp"

namespace zuv::string {

// --- reading and positions --------------------------------------------------

inline SeriesBuffer* buffer(const Cell* str) { return memory::buffer_of(str->w2); }
inline uint32_t unit_shift(uint32_t unit) { return unit >> 1; }  // 1 -> 0, 2 -> 1, 4 -> 2

// The code point stored at p in a buffer of the given unit.
inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
    case 1: return *p;
    case 2: { uint16_t v; __builtin_memcpy(&v, p, 2); return v; }
    default: { uint32_t v; __builtin_memcpy(&v, p, 4); return v; }
    }
}
// Stores cp at p in a buffer of the given unit (cut to the unit's width).
inline void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
    case 1: *p = uint8_t(cp); break;
    case 2: { uint16_t v = uint16_t(cp); __builtin_memcpy(p, &v, 2); break; }
    default: __builtin_memcpy(p, &cp, 4); break;
    }
}

// Address of the head character; a head past the tail is clamped (w1 rewritten).
uint8_t* zs_head(Cell* str);
uint8_t* tail_address(const Cell* str);
bool at_tail_q(const Cell* str);
// Characters from the head to the tail; a head past the tail is set to the tail and 0 returned.
int32_t get_length(Cell* str);
// Characters from the head to the tail, 0 when the head lies past it (the value is left alone).
int32_t rs_length_q(const Cell* str);
// Characters of the whole series from its first character.
int32_t total_length(const Cell* str);
// Code point at a 0-based index from the series start (head ignored).
uint32_t char_at(const Cell* str, int32_t index);
// Moves the head n characters forward; true when the attempt reached or passed the tail.
bool skip_ahead(Cell* str, int32_t n = 1);
// Offset from the head of the first character equal to cp, -1 when absent.
int32_t index_of_char(const Cell* str, uint32_t cp);
// True when the characters at the head begin with text (exact case).
bool match_c_string_q(const Cell* str, const char* text);
// True when the code point at the head is in the bitset.
bool char_in_bitset_q(const Cell* str, const Cell* bitset);
// True when the character at head, head + stride, ... equals cp (folded unless case_q).
bool find_code_in_records_q(const Cell* str, uint32_t cp, int32_t stride, bool case_q);

// --- construction -----------------------------------------------------------

// An empty string! with room for n characters of unit 1 (0 gives 1).
Cell* zs_make_at(Cell* c, int32_t n);
// The same with a given unit; n = 0 gives 16 bytes of room.
Cell* make_at_unit(Cell* c, int32_t n, int32_t unit);
// A new string! decoded from outside text into target, or into a new data
// stack cell when target is null. encoding 0 UTF-8, -1 UTF-16LE (length in
// bytes); another encoding raises script invalid-arg. text must not lie in a
// series buffer.
Cell* load_at(const uint8_t* text, int32_t length, Cell* target, int32_t encoding);
// load_at onto a new data stack cell.
Cell* load(const uint8_t* text, int32_t length, int32_t encoding);
// Pushes a copy of the value on the data stack.
Cell* push(const Cell* str);
// load_at into a new cell at the block's tail.
Cell* load_in(const uint8_t* text, int32_t length, const Cell* block, int32_t encoding);

// --- writing one character (each returns the buffer current afterwards) ----

SeriesBuffer* append_char(SeriesBuffer* s, uint32_t cp);
SeriesBuffer* overwrite_char(SeriesBuffer* s, int32_t index, uint32_t cp);
SeriesBuffer* insert_char(SeriesBuffer* s, int32_t index, uint32_t cp);
// Stores at an address inside the buffer (recomputed when widening first).
SeriesBuffer* poke_char(SeriesBuffer* s, uint8_t* p, uint32_t cp);
// Convenience on a value: append one code point at the tail.
inline SeriesBuffer* append_char(Cell* str, uint32_t cp) { return append_char(buffer(str), cp); }

void remove_char(Cell* str, int32_t index);
void remove_part(Cell* str, int32_t index, int32_t n);
SeriesBuffer* truncate_to(SeriesBuffer* s, int32_t n);
void reset(Cell* str);

// --- appending text ---------------------------------------------------------

// Each byte of a NUL-terminated text as one code point (Latin-1).
SeriesBuffer* append_c_string(Cell* str, const char* text);
// n bytes, each one code point.
SeriesBuffer* append_bytes(Cell* str, const uint8_t* p, int32_t n);
// Appends an ASCII literal (the form and mold helpers' everyday call).
inline void concatenate_literal(Cell* str, const char* text) {
    if (*text) append_c_string(str, text);
}

enum ConcatMode : int32_t { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };
// Copies up to part characters (part < 0: all) of an any-string or symbol!
// value from its head into dst: appended, inserted or overwritten at the
// character index from dst's head. keep_unit: widen dst only where a
// character needs it instead of widening the source.
void concatenate(Cell* dst, const Cell* src, int32_t part, int32_t index, bool keep_unit, int32_t mode);
void overwrite_part(Cell* dst, const Cell* src, int32_t part, int32_t index, bool keep_unit);
// Moves the characters of byte_count bytes from src's head into dst at its head.
void move_part(Cell* src, Cell* dst, int32_t byte_count);
// Exchanges the adjacent byte ranges [a, a + len_a) and [a + len_a, a + len_a + len_b).
void swap_blocks(uint8_t* a, int32_t len_a, int32_t len_b);

// --- widening and room -----------------------------------------------------

// Makes the buffer hold at least bytes from its head (doubling when that is
// more); the content is kept. Returns the buffer current afterwards.
SeriesBuffer* ensure_room(SeriesBuffer* s, int64_t bytes);
SeriesBuffer* widen_to(SeriesBuffer* s, uint32_t from_unit, uint32_t to_unit);
// Copies the unit-1 or unit-2 characters [start, end) (end 0: the tail) into
// target (null: a grown buffer of new_size bytes) at byte offset dst_offset in
// to_unit; unless keep, sets the target's tail and unit. Returns the target.
SeriesBuffer* copy_widened(SeriesBuffer* s, SeriesBuffer* target, int64_t new_size, uint32_t to_unit,
                           int32_t start, int32_t dst_offset, int32_t end, bool keep);

// --- hexadecimal ------------------------------------------------------------

// The value of a hexadecimal digit of either case, or -1 for any other code.
constexpr int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
    return -1;
}

// Two upper-case digits in a static buffer (not terminated).
const char* byte_to_hex(uint8_t b);
// NUL-terminated text in a static buffer: 8 digits (two's complement), or with
// trim only the significant digits of a non-negative number ("00" for 0).
const char* int_to_hex(int32_t value, bool trim);

// --- comparison and matching ------------------------------------------------

// -1, 0 or 1 under a comparison code (CompareOp); match mode tests whether v2 is a prefix.
int32_t compare_text(const Cell* v1, const Cell* v2, int32_t op, bool match);
bool match_value_q(Cell* str, const Cell* value, int32_t op);
bool tag_at_head_q(const Cell* str, const Cell* tag);

// --- form and mold helpers --------------------------------------------------

// Appends one character in molded form (escapes; all: ^(hex) above 127).
void append_escaped_char(Cell* buffer, uint32_t cp, bool all);
struct QuotesAndLines { int32_t quotes; int32_t lines; };
QuotesAndLines count_quotes_and_lines(const uint8_t* start, const uint8_t* end, uint32_t unit);
// True when the "{" at p is closed before end.
bool brace_closed_q(const uint8_t* p, const uint8_t* end, uint32_t unit);
// A new string! in target from UTF-8 bytes held in a binary! (from its head);
// incomplete bytes at the end raise access invalid-utf8 with them.
Cell* load_utf8_binary(const Cell* binary, Cell* target);

// --- action slots -----------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Searching, sorting and editing (string_find.cpp, string_sort.cpp,
// string_edit.cpp). Refinement cells follow the action entries' convention
// (series::given); counts are -1 when absent. Every change of an owned series
// is told to its owner before and after (ownership.hpp).

// find pushes its result (the series at the found position, or none) on the
// data stack and answers it; select pushes the character after the match
// (an integer! in a binary!), or none.
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_q, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable);
// append: the series at its head; notify is set by the append action
// (insert and conversions append without telling an owner).
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool notify);
// insert: the series just after the inserted text.
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
// change: the series just after the new text.
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
// The set operations on the current call's two text arguments (the result
// slot and the cell after it; the second is not read for unique). op: 8
// unique, 9 union, 10 intersect, 11 exclude, 12 difference (block::SetOp).
// The new text replaces the first argument.
void do_set_op(bool case_q, Cell* skip, int32_t op);

// True for the any-string types: string!, file!, url!, tag!, email!, ref!.
inline bool any_string_q(uint32_t type) {
    switch (type & TYPE_MASK) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: return true;
    default: return false;
    }
}

// The scratch buffer of swap_blocks (made at registration).
void allocate_scratch();
// Allocates the scratch buffer and registers string! (after series!).
void register_type();

}  // namespace zuv::string
