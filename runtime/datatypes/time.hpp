// time!: a duration or time of day, in seconds.
//
// Cell: {header TYPE_TIME, w1 0, w2-w3 the seconds as a double (low word
// first); negative and fractional times are allowed}.
//
// time! is a child of float!: it takes float!'s comparison, absolute,
// negate and remainder, and does its own arithmetic where a time differs (a
// time by a time divides to a float!, a date plus a time is a date!, a time
// times a time means nothing).
//
// Fields, for t seconds: 1 hour (integer!, t / 3600 truncated toward zero),
// 2 minute (integer!, floor((|t| mod 3600) / 60)), 3 second (float!, t mod
// 60, keeping the sign of t).
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::time {

constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double SECONDS_PER_MINUTE = 60.0;
// Below this the seconds are written "00"; even? and odd? nudge by it.
constexpr double SECONDS_EPSILON = 0.000001;

inline double get(const Cell* c) { return cell::get_float(c); }

// Fills the cell as a time! (flag bits kept) and returns it.
Cell* make_at(Cell* c, double seconds);
// A new time! on the data stack.
Cell* push(double seconds);
// A new time! at the block's tail (the block may move).
Cell* make_in(const Cell* block, double seconds);

// The hour field (script out-of-range beyond the 32-bit integers) and the minute field.
int32_t get_hours(double t);
int32_t get_minutes(double t);
// Pushes field 1-3 of the time (hour, minute, second) and returns it.
Cell* get_field(const Cell* value, int32_t index);
// 1 hour, 2 minute, 3 second (by canonical symbol), else -1; when owner is a
// time! any other word raises script cannot-use (the word, the time).
int32_t field_index(const Cell* word, const Cell* owner);
// Appends the text form h:mm:ss[.f] (with "-" first for a negative time);
// returns part minus the characters written, the sign not counted.
int32_t form_value(double t, Cell* buffer, int32_t part);
// t with field 1-3 (hour, minute, second) set to value: integer! for the
// hour and minute, integer! or float! for the second, else script invalid-arg.
double set_field(double t, int32_t field, const Cell* value);
// After a path set a field of a scalar held in gparent at p_item (old its
// value before): an object holder fires its change handler, an owned
// series its owner check.
void notify_holder(Cell* gparent, Cell* p_item, const Cell* old, Cell* parent);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);  // make and to
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);
const Cell* pick(Cell* value, int32_t index, Cell* boxed);
// The arithmetic works on the current call's two arguments; the result
// replaces the first.
void add();
void subtract();
void multiply();
void divide();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(Cell* value);
bool odd_q(Cell* value);

// Registers time! (after float!, whose slots it inherits).
void register_type();

}  // namespace zuv::time
