// float! arithmetic and conversions: the binary math dispatcher shared with
// percent!, time! and integer!, the unary math actions, round, random, and
// make/to.
#include <cmath>
#include <utility>

#include "evaluator/backtrace.hpp"
#include "evaluator/random.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "lexer/convert.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/words.hpp"

namespace zuv::float_ {

namespace {

constexpr double LARGEST = 1.7976931348623157e308;
constexpr double TWO_POW_M53 = 1.1102230246251565e-16;  // 2^-53

bool float_based_q(uint32_t type) { return type == TYPE_FLOAT || type == TYPE_PERCENT || type == TYPE_TIME; }

// The double of an integer!, char!, float!, percent! or time! operand.
double number_of(const Cell* c) {
    uint32_t t = type_of(c);
    return t == TYPE_INTEGER || t == TYPE_CHAR ? double(int32_t(c->w2)) : get(c);
}

}  // namespace

// ---- binary math ----

double compute(double a, double b, int32_t op) {
    switch (op) {
        case OP_ADD: return a + b;
        case OP_SUB: return a - b;
        case OP_MUL: return a * b;
        case OP_DIV: return a / b;  // IEEE results for a zero divisor
        case OP_REM:
            if (b * 0.0 == 0.0) return std::fmod(a, b);  // b finite (0 gives NaN)
            if (nan_q(b)) return b;
            return not_finite_q(a) ? std::nan("") : a;   // an infinite divisor
        default: {
            Cell function = stack::caller_word();
            Cell datatype;
            datatype::make_at(&datatype, TYPE_FLOAT);
            fire(ErrorCategory::script, "cannot-use", &function, &datatype);
        }
    }
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    uint32_t t1 = type_of(left), t2 = type_of(right);
    switch (t2) {
        case TYPE_TUPLE: return tuple::do_math(op);  // it takes the operands in either order
        case TYPE_MONEY:
            money::do_math(op);
            return left;
        case TYPE_VECTOR:
            // The number with each element, in place in the vector, which is the result.
            return copy_cell(vector::do_math_scalar(op, right, left, true), left);
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (t1 == TYPE_TIME) break;  // refused below
            if (op == OP_SUB) fire_not_related(&words::subtract, t2);
            if (op == OP_DIV) fire_not_related(&words::divide, t2);
            // The compound value goes first: its arithmetic takes a float operand.
            std::swap(*left, *right);
            return t2 == TYPE_PAIR ? pair::do_math(op) : point::do_math(op);
        default: break;
    }
    bool allowed = t2 == TYPE_INTEGER || float_based_q(t2) ||
                   (t2 == TYPE_CHAR && t1 != TYPE_TIME && t1 != TYPE_PERCENT);
    if (!allowed) fire_with_datatype("invalid-type", t2);

    double r = compute(number_of(left), number_of(right), op);
    uint32_t type = t1 == TYPE_TIME || t2 == TYPE_TIME ? TYPE_TIME : t1 == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
    return make_at_type(left, r, type);
}

void add() { do_math(OP_ADD); }
void subtract() { do_math(OP_SUB); }
void multiply() { do_math(OP_MUL); }
void divide() { do_math(OP_DIV); }
void remainder() { do_math(OP_REM); }

// ---- unary math ----

void absolute() { cell::put_float(stack::arguments, abs(get(stack::arguments))); }

Cell* negate(Cell* value) {
    cell::put_float(value, 0.0 - get(value));  // both zeros negate to +0.0
    return value;
}

void power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    if (type_of(exponent) == TYPE_INTEGER) make_at(exponent, double(integer::get_value(exponent)));
    if (type_of(exponent) != TYPE_FLOAT) rt_support::fire_expect_arg(type_of(exponent), 1);
    cell::put_float(base, std::pow(get(base), get(exponent)));
}

namespace {

// Truncated toward zero to 32 bits; out of range and NaN give -2147483648 (even).
int32_t truncated_or_min(double d) {
    int32_t v;
    return to_int32(d, &v) ? v : INT32_MIN;
}

}  // namespace

bool even_q(Cell* value) { return (truncated_or_min(get(value)) & 1) == 0; }
bool odd_q(Cell* value) { return (truncated_or_min(get(value)) & 1) != 0; }

// ---- round ----

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    bool to = scale != value - 1;  // an absent /to argument is the cell below the first
    bool percent = type_of(value) == TYPE_PERCENT;
    double s = percent ? 0.01 : 1.0;
    if (to) {
        uint32_t st = type_of(scale);
        // A scale of several parts rounds only a value of several parts.
        if (st == TYPE_MONEY || st == TYPE_PAIR || st == TYPE_POINT2D || st == TYPE_POINT3D) {
            Cell function = stack::caller_word();
            fire_not_related(&function, int32_t(st));
        }
        s = std::fabs(number_of(scale));
        // A percent! scale is already a fraction; other scales count in percent.
        if (percent && st != TYPE_PERCENT) s /= 100.0;
    }
    double n = get(value);
    // A scale below n's precision leaves n as it is; so does a zero scale
    // (there is no multiple of zero to round to).
    if (s == 0.0 || s < std::fabs(n) * TWO_POW_M53) return value;

    // Scales below 2^-1022 would overflow 1 / s: they are brought into range
    // by a power of two that is taken off again after rounding.
    int shift = 0;
    if (s < 1.0 && s < 2.2250738585072014e-308) {
        int e;
        std::frexp(s, &e);
        shift = e;
        n = std::ldexp(n, -shift);
        s = std::ldexp(s, -shift);
    }
    n = s >= 1.0 ? n / s : n * (1.0 / s);

    double a = std::fabs(n);
    double lower = std::floor(a), upper = std::ceil(a);
    double m = lower + 0.5;
    auto signed_ = [&](double x) { return std::copysign(x, n); };
    double r;
    if (down) r = signed_(lower);
    else if (floor) r = std::floor(n);
    else if (ceiling) r = std::ceil(n);
    else if (a > m) r = signed_(upper);
    else if (a < m) r = signed_(lower);
    else if (even) r = signed_(std::fmod(a, 2.0) < 1.0 ? lower : upper);
    else if (half_down) r = signed_(lower);
    else if (half_ceiling) r = std::ceil(n);
    else r = signed_(upper);

    if (s >= 1.0) {
        r *= s;
        // A finite value rounded up past the largest double would become an
        // infinity: that is an overflow too, not a result.
        if (std::fabs(r) == LARGEST || std::isinf(r)) fire(ErrorCategory::math, "overflow");
    } else {
        r /= 1.0 / s;
    }
    if (shift) r = std::ldexp(r, shift);

    if (to && type_of(scale) == TYPE_INTEGER) {
        int32_t i;
        if (!to_int32(r, &i)) fire(ErrorCategory::math, "overflow");
        return integer::make_at(value, i);
    }
    return make_at_type(value, r, to ? type_of(scale) : type_of(value));
}

// ---- random ----

// A draw between 0 and the value, in place: percent! and time! inherit it and
// keep their type.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zuv::random::seed(value->w2 ^ value->w3);
        return unset::make_at(value);
    }
    double fraction;
    if (secure) {
        double a = zuv::random::secure_int(), b = zuv::random::secure_int();
        fraction = (a / 2147483647.0 + b) / 2147483648.0;
    } else {
        fraction = zuv::random::next_int() / 2147483647.0;
    }
    return make_at_type(value, fraction * get(value), type_of(value));
}

// ---- make and to ----

namespace {

// The first (at most 8) bytes of a binary from its head, big-endian and
// right-aligned in the 64-bit pattern.
double from_binary_bytes(const Cell* spec) {
    SeriesBuffer* s = memory::buffer_of(spec->w2);
    int32_t head = int32_t(spec->w1);
    int32_t length = memory::used_bytes(s) - head;
    if (head < 0 || length < 0) length = 0;
    if (length > 8) length = 8;
    uint64_t bits = 0;
    const uint8_t* p = memory::head_of(s) + (length ? head : 0);
    for (int32_t i = 0; i < length; i++) bits = bits << 8 | p[i];
    return from_bits(bits);
}

// m x 10^e from a block of exactly two integer! or float! values.
double from_mantissa_exponent(int32_t target, Cell* spec) {
    if (block::zs_length_q(spec) != 2) fire_bad_to_arg(target, spec);
    const Cell* head = block::zs_head(spec);
    Cell m = head[0], e = head[1];
    for (const Cell* c : {&m, &e})
        if (type_of(c) != TYPE_INTEGER && type_of(c) != TYPE_FLOAT) fire_bad_to_arg(target, c);
    return number_of(&m) * std::pow(10.0, std::trunc(number_of(&e)));
}

// The text read as a number into d; anything else raises bad-to-arg as a
// status (false).
bool from_text(int32_t target, Cell* spec, double& d) {
    if (target == TYPE_PERCENT) {
        Cell loaded;
        rt_support::scan_one_value(spec, &loaded);
        uint32_t t = type_of(&loaded);
        if (t == TYPE_FLOAT || t == TYPE_PERCENT) return d = get(&loaded), true;
        if (t == TYPE_INTEGER) return d = double(integer::get_value(&loaded)), true;
        return raise_bad_to_arg(target, spec), false;
    }
    int32_t count = string::rs_length_q(spec);
    if (count <= 0) return raise_bad_to_arg(target, spec), false;
    int32_t error = 0;
    SeriesBuffer* s = string::buffer(spec);
    uint32_t unit = memory::unit_of(s);
    const uint8_t* start = memory::head_of(s) + int64_t(spec->w1) * unit;
    d = lexer::string_to_float(start, count, int32_t(unit), &error);
    if (error) return raise_bad_to_arg(target, spec), false;
    return true;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    double d;
    switch (type_of(spec)) {
        case TYPE_INTEGER:
        case TYPE_CHAR: d = double(int32_t(spec->w2)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: return cell::set_type(spec, uint32_t(type));
        case TYPE_TIME: d = get(spec); break;
        case TYPE_MONEY: d = money::to_float(spec); break;
        case TYPE_BINARY: d = from_binary_bytes(spec); break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: d = from_mantissa_exponent(type, spec); break;
        default:
            if (!string::any_string_q(type_of(spec))) return raise_bad_to_arg(type, spec);
            if (!from_text(type, spec, d)) return nullptr;  // raised as a status
    }
    return make_at_type(proto, d, uint32_t(type));
}

}  // namespace zuv::float_
