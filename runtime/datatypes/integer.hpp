// integer!: the 32-bit signed integer, and the arithmetic kernel that char!
// shares.
//
//   word 2  the value (signed 32 bits); words 1 and 3 unused
//
// Signed overflow never reaches C++: add, subtract and multiply that overflow
// give a float! (never an error); INT_MIN / -1 and INT_MIN % -1 raise math
// overflow before any division.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::integer {

// Makes the cell an integer! (type byte replaced, flag bits kept).
inline Cell* make_at(Cell* c, int32_t value) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_UNSET;
    c->w1 = 0;
    c->w2 = uint32_t(value);
    c->w3 = 0;
    return cell::set_type(c, TYPE_INTEGER);
}
// Appends a new integer! at the tail of a block's series.
Cell* make_in(const Cell* block, int32_t value);

inline int32_t get_value(const Cell* c) { return int32_t(c->w2); }

// The current call's result slot made an integer! with the value.
Cell* box(int32_t value);
// A new integer! on the data stack.
Cell* push(int32_t value);
int32_t get_result();          // word 2 of the result slot
int32_t get_result_or_zero();  // the same when it holds an integer!, else 0
inline int32_t sign(int32_t v) { return (v > 0) - (v < 0); }

// |v|; -2147483648 raises math overflow.
int32_t abs_checked(int32_t v);
// True when the float cell's double is above 2147483647.0, below -2147483648.0, or NaN.
bool float_out_of_range_q(const Cell* c);

// Writes the decimal text of v (NUL-terminated) into the caller's buffer and
// returns its length. The buffer is per call, so no static text is shared.
constexpr int TEXT_SIZE = 12;
int to_text(int32_t v, char (&out)[TEXT_SIZE]);

// The arithmetic kernel. op is a MathOp code. For every operator but divide a
// result cell is required: an integer result goes into its word 2 (its type is
// left alone, so char! arithmetic stays char!), an overflowing add, subtract
// or multiply, or an inexact divide, makes it a float! and answers 0. Divide
// without a result cell answers the truncated quotient. Division or remainder
// by 0 raises math zero-divide; -2147483648 by -1 raises math overflow.
int32_t do_math(int32_t a, int32_t b, int32_t op, Cell* result);

// The two-operand form used by the arithmetic actions: left holds an integer!
// or char! and receives the result; right is the second argument. A second
// operand of another type raises script invalid-type.
// A date! second operand goes to date arithmetic (add only).
// TODO: money! second operands dispatch to their own arithmetic once it exists.
Cell* do_math_cells(Cell* left, const Cell* right, int32_t op);
// do_math_cells on the current call's two arguments (the first is the result
// slot); a float!, percent! or time! second operand goes to float arithmetic,
// a tuple!, pair! or point to that type's arithmetic with the operands
// exchanged (a divide by such a value is not-related, raised as a status
// as is a date less an integer; n - v is -v + n).
void do_math_args(int32_t op);

// base to the exponent (0 or more) by repeated squaring. A product that
// overflows 32 bits raises the low-level throw THROW_INT_OVERFLOW, which
// power receives to go on in float arithmetic.
int32_t int_power(int32_t base, int32_t exponent);

// Slot functions.
// make: a logic! spec gives 0 or 1; any other spec goes to to.
Cell* make(Cell* proto, Cell* spec, int32_t type);
// to: an integer! spec as it is; char! its code point; float! and percent!
// truncated toward zero, time! its seconds plus 0.5 truncated toward zero
// (outside the 32-bit range, or NaN: script type-limit); a text read as a
// decimal integer (failure: script bad-to-arg). Errors are raised as a
// status: null answered (see raised).
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* negate(Cell* value);      // in place; -2147483648 raises math overflow
Cell* complement(Cell* value);  // in place, bitwise not
// The stack actions work on the current call's arguments.
void absolute();                // -2147483648 raises math overflow as a status
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_t();
void or_t();
void xor_t();
// The current call's number (first argument) to the power of its exponent
// (an integer! or float!): an integer! while the result fits, else float!.
void power();
// Rounds to the step 1, or |scale| with /to (an integer! scale; any other
// scale rounds as a float!). Halves go away from zero unless a refinement
// says otherwise; a result that no integer! holds raises math overflow.
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* random(Cell* value, bool seed, bool secure, bool only);  // also char!'s

void register_type();

}  // namespace zuv::integer
