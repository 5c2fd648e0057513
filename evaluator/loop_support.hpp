// Small routines shared by the loop natives, `set`, `max`/`min` and the
// trigonometric natives. Compiled loops call the step routines directly
// instead of the loop natives, so their stack protocol is fixed: they read and
// write cells relative to `stack::arguments`.
//
// Loop frame protocol. A loop over a series keeps, just below the base of its
// loop frame (the frame's first cell is `stack::arguments` while the loop
// frame is current):
//   arguments[-2]  the iteration series, whose head index is advanced in place
//                  (`forall`: the series the loop started with)
//   arguments[-1]  the loop word, or the block of loop words
//   arguments[-3]  `remove-each` only: an integer! holding the number of words
// The body's value lands in the loop frame's first cell. A counting loop
// (`loop`, `repeat`) keeps its count in the frame's first cell.
//
// The data stack never moves, so the cells above stay put; the series they
// hold may move, so every step re-reads its element by index.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::natives {

// ---- numbers ----

// The two values in the current call's first two cells: the larger (max set)
// or the smaller becomes the result. A NaN wins; on equal values max keeps the
// first and min the second.
void max_min(bool max);
// An integer!'s value, or a number (float!, percent!) truncated toward zero; a
// number outside the 32-bit range or not finite raises script type-limit
// with the datatype integer!.
int32_t to_int32(const Cell* value);
// An integer! converted, else the cell's double.
double to_float(const Cell* value);
// The current call's first cell becomes a float!: an integer! is converted, a
// percent! retyped (same bits). Returns the cell.
Cell* arg_to_float();
// Kinds of the trigonometric functions: the modes of runtime::normalize_angle
// that fold an angle beyond +-90 degrees onto one with the same function value.
constexpr int32_t TRIG_TANGENT = 0;  // x +- 180
constexpr int32_t TRIG_COSINE = 1;   // left as it is
constexpr int32_t TRIG_SINE = 2;     // +-180 - x
// sine, cosine, tangent: the first cell becomes a float!, converted from
// degrees (normalised for the kind) unless radians (the refinement word) is used.
Cell* trig_arg(int32_t radians, int32_t kind);
// Kinds of the arc functions.
constexpr int32_t ARC_TANGENT = 0;
constexpr int32_t ARC_COSINE = 1;
constexpr int32_t ARC_SINE = 2;
// The first cell becomes the float! arc function of its value; in degrees
// unless radians (the refinement word) is used.
Cell* arc_trig(int32_t radians, int32_t kind);

// ---- stepping through series ----

// True while the series has an element at its head.
bool series_more_q(const Cell* series);
// One-word foreach step: when the series has more, the loop word is set to
// the head element and the head advances by one. Returns whether it had more.
bool foreach_next();
// n-word step: the n words are set from the next n elements (past the tail:
// none) and the head advances by n. Returns whether it had more. A map! needs
// n = 2 (else script invalid-arg with the words block).
bool foreach_next_multi(int32_t n);
// The core of `set` with a block of words. Every word among the first count
// elements of words must be a word!, set-word!, get-word! or lit-word! (else
// script invalid-arg with the element); without any, no value may be unset
// (else script need-value with the word). Then word i is set to element i of
// values (none past its tail) when values is a block-like series and only is
// clear, else to values itself; with some a none leaves its word unchanged.
// Nothing is set when a check fails.
void set_words(const Cell* words, const Cell* values, int32_t count, bool any, bool some, bool only);
// After one `remove-each` body: when the body's value passes the lenient test,
// the series moves back by n and those n elements are removed.
void remove_each_drop(int32_t n);
// `forall`: the loop word's series advances by one when asked; true when it is
// then at its end.
bool forall_next(bool advance);
// `forall`: the loop word is set back to the series the loop started with.
void forall_end();
// A float! count in the current call's first cell becomes an integer!
// truncated toward zero (script out-of-range when it does not fit); other
// values stay.
void truncate_loop_count();
// Adds 1 to the integer! the loop word holds; a word of an object is stored
// again through word::set so that the object's change events fire.
void repeat_next(const Cell* word);

}  // namespace zuv::natives
