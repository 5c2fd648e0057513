// float!: the 64-bit IEEE 754 number, and the float arithmetic that
// percent!, time! and integer! arithmetic with a float-based operand share.
//
//   word 0  header, type byte 12 (percent! 38 and time! 43 share the layout)
//   word 1  unused
//   words 2-3  the double (low 32 bits in word 2), read and written by memcpy
//
// Text: form gives at most 16 significant digits with a clean-up of binary
// noise (0.1 + 0.2 forms as 0.3); mold gives the shortest text that reads
// back to the same double. format() writes every float-based text (vector
// elements, percent!, the seconds of time!, point coordinates) by kind.
//
// Equality: equal? is tolerant (10 units in the last place, or a difference
// below 2^-52; NaN is never equal), strict-equal? and the orderings are
// exact, same? compares the bits.
//
// Conversions from a double to an integer are always range-checked: a bare
// cast of an out-of-range double is undefined behaviour in C++.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.hpp"

namespace zuv::float_ {

// ---- cells ----

inline double get(const Cell* c) { return cell::get_float(c); }
// The cell becomes a value of type (float!, percent! or time!) holding d;
// flag bits kept.
inline Cell* make_at_type(Cell* c, double d, uint32_t type) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_UNSET;
    c->w1 = 0;
    cell::put_float(c, d);
    return cell::set_type(c, type);
}
inline Cell* make_at(Cell* c, double d) { return make_at_type(c, d, TYPE_FLOAT); }
// The current call's result slot made a float! holding d.
Cell* box(double d);
// A new float! on the data stack.
Cell* push(double d);
// The same from the two 32-bit halves of the double.
Cell* push_dwords(uint32_t low, uint32_t high);
// A new float! at the tail of a block (the buffer may move).
Cell* make_in(const Cell* block, uint32_t low, uint32_t high);

// ---- bit tests ----

inline uint64_t bits_of(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}
inline double from_bits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}
inline double abs(double d) { return from_bits(bits_of(d) & ~(uint64_t(1) << 63)); }
inline bool nan_q(double d) {
    uint64_t b = bits_of(d);
    return (b & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (b & 0xFFFFFFFFFFFFFull) != 0;
}
inline bool nan32_q(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return (b & 0x7F800000u) == 0x7F800000u && (b & 0x7FFFFFu) != 0;
}
inline bool not_finite_q(double d) { return (bits_of(d) & 0x7FF0000000000000ull) == 0x7FF0000000000000ull; }

// The double truncated toward zero into *out when that fits 32 bits;
// false (out untouched) for a value outside the range or NaN.
inline bool to_int32(double d, int32_t* out) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) return false;
    *out = int32_t(d);
    return true;
}

// ---- text ----

// The settings of system/options/float: pretty? (1: near-zero rule and noise
// clean-up on) and full? (stored only).
extern int32_t option_pretty;
extern int32_t option_full;

// The kinds of format(): which rules a float-based text follows.
enum FormatKind : int32_t {
    FORMAT_VECTOR32 = 0,          // vector! of 32-bit floats
    FORMAT_FLOAT = 1,             // float! form, vector! of 64-bit floats
    FORMAT_VECTOR32_PERCENT = 2,  // vector! of 32-bit percents (value x 100 given)
    FORMAT_PERCENT = 3,           // percent! and 64-bit vector percents (value x 100 given)
    FORMAT_TIME = 4,              // seconds of time!
    FORMAT_POINT = 5,             // point2D! and point3D! coordinates
};
constexpr int FORMAT_SIZE = 48;
// Writes the text of d by kind into out; returns its length.
int format(double d, int32_t kind, char (&out)[FORMAT_SIZE]);

// ---- equality ----

bool almost_equal_q(double a, double b);
bool almost_equal32_q(float a, float b);

// The compare protocol with a double as first operand (steps after the
// type test): value2 an integer!, float!, percent! or time! gives -1, 0 or
// 1 by op; another type -2. integer! compare uses it for a float-based
// second operand.
int32_t compare_double(double a, const Cell* value2, int32_t op);

// ---- arithmetic ----

// One of ops 0-4 (MathOp) on two doubles; another op raises script
// cannot-use (the called function's word, float!).
double compute(double a, double b, int32_t op);
// The current call's first argument (integer!, float!, percent! or time!)
// op the second, in place; returns the result cell. Result type: time! when
// either operand is a time!, else percent! when the first is, else float!.
Cell* do_math(int32_t op);

// ---- slot functions ----

Cell* make(Cell* proto, Cell* spec, int32_t type);  // make and to; also percent!'s
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
void absolute();
void add();
void divide();
void multiply();
Cell* negate(Cell* value);
void power();
void remainder();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
void subtract();
bool even_q(Cell* value);
bool odd_q(Cell* value);

void register_type();

}  // namespace zuv::float_
