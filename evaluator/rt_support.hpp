// Support routines for natives, datatypes and the start-up code: argument
// type checks that name the offending argument, setting and reading words
// through the data stack, branch selection, forming an argument, checked
// float-to-integer conversion and a few text and byte helpers.
//
// Language errors are raised with fire (runtime/fire.hpp); every routine here
// that raises never returns.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::rt_support {

// ---- argument errors ----

// out := the index-th argument word (word!, lit-word!, get-word! or
// refinement!, counted from 0) of the spec of the function the nearest call
// frame names; none when that name's value is not a function of any kind or
// the spec has fewer.
Cell* get_caller_arg(int32_t index, Cell* out);
// Raises script expect-arg: the calling function's word, the datatype of
// type, the argument word at arg_index of the callee's spec.
[[noreturn]] void fire_expect_arg(uint32_t type, int32_t arg_index);
// Raises script bad-make-arg (value, second value).
[[noreturn]] void fire_bad_make_arg(const Cell* value, const Cell* second);

// ---- argument checks against a typeset ----

// A typeset! holds 96 bits in words 1-3: type t is in it when bit
// (128 >> (t & 7)) of byte t >> 3 is set, bytes counted from word 1's first.
inline bool typeset_has_q(const Cell* typeset, uint32_t type) {
    uint8_t bytes[12];
    std::memcpy(bytes, &typeset->w1, sizeof bytes);
    type &= TYPE_MASK;
    return type < 96 && (bytes[type >> 3] & (128u >> (type & 7))) != 0;
}

// The value when its type is in the typeset, else expect-arg naming the
// argument arg_number of the callee's spec.
Cell* check_argument_type(int32_t arg_number, const Cell* typeset, Cell* value);
// The same on the call's cell at position (from `arguments`); a negative
// position (an absent refinement argument) is not checked.
void check_frame_argument_type(int32_t position, const Cell* typeset, int32_t arg_number);
// Checks the value only when the refinement cell is set (word 1 non-zero).
Cell* check_refinement_argument_type(const Cell* refinement, const Cell* typeset, int32_t arg_number, Cell* value);
// The value unless it is unset! (expect-arg with unset!).
Cell* check_argument_set(int32_t arg_number, Cell* value);

// ---- words and object fields through the data stack ----

// Sets the word to the last pushed value (change events on) and returns
// that value, which stays on the stack; unset raises script need-value with
// the word, leaving it unchanged.
Cell* set_word_keep(Cell* word);
// set_word_keep, then the stack top goes back to the call's base, which is returned.
Cell* set_word(Cell* word);
// Stores the last pushed value in field index of the context without an
// unset check (an object's word is marked changed); the stack top goes back
// to the call's base.
void set_object_field(Node ctx, int32_t index);
// The word's value cell; unset raises script no-value with the word. Valid
// until the next allocation.
Cell* get_word_value(const Cell* word);

// ---- helpers of natives and datatypes ----

// Looks the call's first argument (the key) up in the block of its second:
// from the block's head, stepping 1 cell with push, else 2, the first cell of
// the key's datatype equal to it. With branch the answer is the first block!
// after the match (none when there is none); without, the cell after the
// match, or the match itself when it is the last cell. The answer is pushed
// (push) or becomes the result; a block! key or no match gives none.
void select_branch(bool push, bool branch);
// out := the string's text loaded as one value: none when the text is not
// consumed whole, unset! when nothing was loaded.
void scan_one_value(const Cell* str, Cell* out);
// scan_one_value into the current call's result cell.
void scan_argument_value(const Cell* str);
// Pushes a new string! and forms the call's first argument into it through
// the form action with the argument and the limit; a positive limit cuts the
// text to that many characters. Returns the pushed string.
Cell* form_argument(Cell* argument, int32_t limit);
// A float! truncated toward zero when that fits 32 bits (else script
// out-of-range with it, NaN too); any other value gives its word 2.
int32_t float_to_integer(const Cell* value);
// Appends four spaces per level; returns width - 4 x levels.
int32_t append_indent(Cell* str, int32_t levels, int32_t width);
// Fills count x size bytes from address by repeating its first size bytes
// (doubling runs); returns the end address.
uint8_t* replicate_pattern(uint8_t* address, int32_t size, int32_t count);

}  // namespace zuv::rt_support
