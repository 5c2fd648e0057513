// integer!: cell functions, text, the arithmetic kernel, compare, and the
// action slots built on them.
#include "runtime/datatypes/integer.hpp"

#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "evaluator/backtrace.hpp"
#include "evaluator/random.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "lexer/convert.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/fire.hpp"
#include "runtime/symbols.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"

namespace zuv::integer {

namespace {

[[noreturn]] void fire_overflow() { fire(ErrorCategory::math, "overflow"); }
[[noreturn]] void fire_zero_divide() { fire(ErrorCategory::math, "zero-divide"); }

// The checks shared by divide and remainder, made before the CPU sees the operands.
void check_division(int32_t a, int32_t b) {
    if (b == 0) fire_zero_divide();
    if (a == INT32_MIN && b == -1) fire_overflow();
}

// d truncated toward zero into v; outside -2147483648.0 .. 2147483647.0, or
// NaN, raises script type-limit (integer!) as a status (false) instead of
// reaching an undefined cast.
bool checked_truncate(double d, int32_t& v) {
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
        return raise_with_datatype("type-limit", TYPE_INTEGER), false;
    v = int32_t(d);
    return true;
}

// The text from the string's head read as a decimal integer (sign and "'"
// separators allowed) into out; anything else raises bad-to-arg as a status
// (false).
bool from_text(const Cell* spec, int32_t& out) {
    int32_t count = string::rs_length_q(spec);
    SeriesBuffer* s = string::buffer(spec);
    uint32_t unit = memory::unit_of(s);
    const uint8_t* start = memory::head_of(s);
    if (count > 0) start += int64_t(spec->w1) * unit;
    else count = 0;  // a head at or past the tail reads nothing, which fails
    int32_t error = 0;
    int32_t v = lexer::string_to_integer(start, count, int32_t(unit), &error);
    if (error) return raise_bad_to_arg(TYPE_INTEGER, spec), false;
    out = v;
    return true;
}

// An issue's name read as at most 8 hexadecimal digits; anything else (a
// longer name, a non-digit, a character outside ASCII) raises invalid-data.
int32_t from_hex_name(const Cell* issue) {
    int32_t id = int32_t(issue->w2);
    const uint8_t* name = symbol::name_of(id);
    int32_t length = symbol::name_length(id);
    if (length > 8) fire(ErrorCategory::script, "invalid-data", issue);
    uint32_t u = 0;
    for (int32_t i = 0; i < length; i++) {
        int digit = string::hex_digit(name[i]);
        if (digit < 0) fire(ErrorCategory::script, "invalid-data", issue);
        u = u << 4 | uint32_t(digit);
    }
    return int32_t(u);
}

}  // namespace

Cell* make_in(const Cell* block, int32_t value) { return make_at(cell::append_new_cell(block), value); }

Cell* box(int32_t value) { return make_at(cell::begin(stack::arguments), value); }
Cell* push(int32_t value) { return make_at(cell::begin(stack::push_raw()), value); }
int32_t get_result() { return get_value(stack::arguments); }
int32_t get_result_or_zero() {
    return type_of(stack::arguments) == TYPE_INTEGER ? get_value(stack::arguments) : 0;
}

int32_t abs_checked(int32_t v) {
    if (v == INT32_MIN) fire_overflow();
    return v < 0 ? -v : v;
}

bool float_out_of_range_q(const Cell* c) {
    double d = cell::get_float(c);
    return std::isnan(d) || d > 2147483647.0 || d < -2147483648.0;
}

int to_text(int32_t v, char (&out)[TEXT_SIZE]) {
    // Digits of the magnitude, taken as unsigned so -2147483648 needs no
    // special case; counted first so that they are written in place, two
    // at a time from the end (forming integers is the common case of
    // joining text).
    static constexpr char PAIRS[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    uint32_t u = v < 0 ? 0u - uint32_t(v) : uint32_t(v);
    int digits = 1;
    for (uint32_t bound = 10; digits < 10 && u >= bound; bound *= 10) digits++;
    int len = digits + (v < 0);
    char* p = out + len;
    *p = '\0';
    while (u >= 100) {
        uint32_t pair = (u % 100) * 2;
        u /= 100;
        *--p = PAIRS[pair + 1];
        *--p = PAIRS[pair];
    }
    if (u >= 10) {
        *--p = PAIRS[u * 2 + 1];
        *--p = PAIRS[u * 2];
    } else {
        *--p = char('0' + u);
    }
    if (v < 0) *--p = '-';
    return len;
}

int32_t do_math(int32_t a, int32_t b, int32_t op, Cell* result) {
    int32_t r = 0;
    switch (op) {
        case OP_ADD:
            if (__builtin_add_overflow(a, b, &r)) {
                float_::make_at(result, double(a) + double(b));
                return 0;
            }
            break;
        case OP_SUB:
            if (__builtin_sub_overflow(a, b, &r)) {
                float_::make_at(result, double(a) - double(b));
                return 0;
            }
            break;
        case OP_MUL:
            // Both factors are exact as doubles; the product is rounded once.
            if (__builtin_mul_overflow(a, b, &r)) {
                float_::make_at(result, double(a) * double(b));
                return 0;
            }
            break;
        case OP_DIV:
            check_division(a, b);
            r = a / b;
            if (result && a % b != 0) {
                float_::make_at(result, double(a) / double(b));
                return 0;
            }
            break;
        case OP_REM:
            check_division(a, b);
            r = a % b;
            break;
        case OP_OR: r = a | b; break;
        case OP_AND: r = a & b; break;
        case OP_XOR: r = a ^ b; break;
        default:  // operator codes are constants of the callers
            runtime::quit_with_runtime_error(98, uintptr_t(__builtin_return_address(0)));
    }
    if (result) result->w2 = uint32_t(r);
    return r;
}

Cell* do_math_cells(Cell* left, const Cell* right, int32_t op) {
    switch (type_of(right)) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            do_math(get_value(left), get_value(right), op, left);
            return left;
        default: fire_with_datatype("invalid-type", type_of(right));
    }
}

void do_math_args(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    switch (type_of(right)) {
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: float_::do_math(op); return;  // float arithmetic, the integer as a double
        case TYPE_MONEY: money::do_math(op); return;
        case TYPE_VECTOR:
            // The integer with each element, in place in the vector, which is the result.
            copy_cell(vector::do_math_scalar(op, stack::arguments + 1, stack::arguments, true), stack::arguments);
            return;
        case TYPE_DATE: {
            // Only a number of days plus a date: the date goes first.
            if (op != OP_ADD) return raise_not_related(&words::subtract, TYPE_INTEGER);
            std::swap(stack::arguments[0], stack::arguments[1]);
            date::do_math(OP_ADD);
            return;
        }
        case TYPE_TUPLE: tuple::do_math(op); return;  // it takes the operands in either order
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            // The compound value goes first; n - v is -v + n.
            if (op == OP_DIV) return raise_not_related(&words::divide, TYPE_INTEGER);
            uint32_t type = type_of(right);
            std::swap(*left, *right);
            if (op == OP_SUB) {
                // -2147483648 has no negation among the integers: such a pair
                // is negated as a point.
                if (type == TYPE_PAIR && (pair::x_of(left) == INT32_MIN || pair::y_of(left) == INT32_MIN)) {
                    point2D::make_at(left, float(pair::x_of(left)), float(pair::y_of(left)));
                    type = TYPE_POINT2D;
                }
                get_slot<Act::negate>(type)(left);
                op = OP_ADD;
            }
            if (type == TYPE_PAIR) pair::do_math(op);
            else point::do_math(op);
            return;
        }
        default: do_math_cells(left, right, op);
    }
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    char text[TEXT_SIZE];
    int n = to_text(get_value(value), text);
    string::concatenate_literal(buffer, text);
    return part - n;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint8_t t2 = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t2 != TYPE_INTEGER) return 1;
    int32_t a = get_value(value1);
    switch (t2) {
        case TYPE_INTEGER:
        case TYPE_CHAR: {
            int32_t b = get_value(value2);
            return (a > b) - (a < b);
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            return float_::compare_double(double(a), value2, op);
        case TYPE_MONEY: return -money::compare(value2, value1, op);  // the money's view, turned round
        default: return COMPARE_INCOMPARABLE;
    }
}

Cell* negate(Cell* value) {
    int32_t v = get_value(value);
    if (v == INT32_MIN) fire_overflow();
    value->w2 = uint32_t(-v);
    return value;
}


Cell* complement(Cell* value) {
    value->w2 = ~value->w2;
    return value;
}

bool even_q(Cell* value) { return (value->w2 & 1) == 0; }
bool odd_q(Cell* value) { return (value->w2 & 1) != 0; }

// In place, so that char! (which inherits it) stays a char!.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zuv::random::seed(value->w2);
        return unset::make_at(value);
    }
    int32_t n = get_value(value);
    if (n != 0) value->w2 = uint32_t(zuv::random::uniform_int(secure, n));
    return value;
}

int32_t int_power(int32_t base, int32_t exponent) {
    int32_t result = 1;
    while (exponent > 0) {
        if ((exponent & 1) && __builtin_mul_overflow(result, base, &result)) runtime::throw_code(THROW_INT_OVERFLOW);
        exponent >>= 1;
        // Squared only while exponent bits remain, so that a square the result
        // never needs cannot overflow.
        if (exponent && __builtin_mul_overflow(base, base, &base)) runtime::throw_code(THROW_INT_OVERFLOW);
    }
    return result;
}

void power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    uint32_t et = type_of(exponent);
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) rt_support::fire_expect_arg(et, 1);
    if (et == TYPE_INTEGER && get_value(exponent) >= 0) {
        int32_t b = get_value(base), e = get_value(exponent), r = 0;
        uint32_t code = runtime::catch_scope(THROW_INT_OVERFLOW, [&] { r = int_power(b, e); });
        if (code == 0) {
            make_at(base, r);
            return;
        }
        if (code != THROW_INT_OVERFLOW) runtime::unwind_to_handler();  // not ours to receive
        runtime::thrown_code = 0;
    }
    // A float exponent, a negative one or an overflow: the float power of the same value.
    float_::make_at(base, double(get_value(base)));
    float_::power();
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    bool to = scale != value - 1;  // an absent /to argument is the cell below the first
    if (to && type_of(scale) == TYPE_MONEY) {
        Cell function = stack::caller_word();
        fire_not_related(&function, TYPE_MONEY);
    }
    // The minimum integer stays as it is: rounding it away from zero would
    // leave the range, and toward zero it is already a multiple of any power of two.
    if (get_value(value) == INT32_MIN) return value;
    if (to && type_of(scale) != TYPE_INTEGER) {
        float_::make_at(value, double(get_value(value)));
        return float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    }
    // In 64 bits, so that -2147483648 and a step of 2147483648 need no special case.
    int64_t v = get_value(value);
    int64_t step = to ? get_value(scale) : 1;
    if (step < 0) step = -step;
    if (step == 0) return value;
    int64_t magnitude = v < 0 ? -v : v;
    int64_t rest = magnitude % step;
    if (rest == 0) return value;
    int64_t gap = step - rest;  // distance to the next multiple away from zero
    bool away;
    if (down) away = false;
    else if (floor) away = v < 0;
    else if (ceiling) away = v > 0;
    else if (rest < gap) away = false;
    else if (rest > gap) away = true;
    else if (even) away = (magnitude / step) % 2 != 0;
    else if (half_down) away = false;
    else if (half_ceiling) away = v > 0;
    else away = true;
    int64_t r = away ? magnitude + gap : magnitude - rest;
    if (v < 0) r = -r;
    if (r < INT32_MIN || r > INT32_MAX) fire_overflow();
    value->w2 = uint32_t(int32_t(r));
    return value;
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (type_of(spec) == TYPE_LOGIC) return make_at(proto, logic::get_value(spec) ? 1 : 0);
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t) {
    int32_t v;
    switch (type_of(spec)) {
        case TYPE_INTEGER: return spec;
        case TYPE_CHAR: v = get_value(spec); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            if (!checked_truncate(float_::get(spec), v)) return nullptr;
            break;
        case TYPE_TIME:
            if (!checked_truncate(time::get(spec) + 0.5, v)) return nullptr;
            break;
        case TYPE_DATE:  // Unix time
            if (!checked_truncate(date::to_epoch(spec), v)) return nullptr;
            break;
        case TYPE_BINARY: {
            // The first 4 bytes from the head (fewer when shorter), big-endian.
            uint32_t u = 0;
            for (uint8_t byte : binary::bytes_of(spec, 4)) u = u << 8 | byte;
            v = int32_t(u);
            break;
        }
        case TYPE_MONEY: v = money::to_integer(spec); break;
        case TYPE_ISSUE: v = from_hex_name(spec); break;
        default:
            if (!string::any_string_q(type_of(spec))) return raise_bad_to_arg(TYPE_INTEGER, spec);
            if (!from_text(spec, v)) return nullptr;
    }
    return make_at(proto, v);
}

void absolute() {
    int32_t v = get_value(stack::arguments);
    if (v == INT32_MIN) return raise(ErrorCategory::math, "overflow");  // a status: the entry returns
    stack::arguments->w2 = uint32_t(v < 0 ? -v : v);
}
void add() { do_math_args(OP_ADD); }
void subtract() { do_math_args(OP_SUB); }
void multiply() { do_math_args(OP_MUL); }
void divide() { do_math_args(OP_DIV); }
void remainder() { do_math_args(OP_REM); }
void and_t() { do_math_args(OP_AND); }
void or_t() { do_math_args(OP_OR); }
void xor_t() { do_math_args(OP_XOR); }

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &integer::make>,
    slot<Act::random, &integer::random>,
    NONE,                                  // reflect
    slot<Act::to, &integer::to>,
    slot<Act::form, &integer::form>,
    slot<Act::mold, &integer::mold>,
    NONE,                                  // eval-path
    NONE,                                  // (never filled)
    slot<Act::compare, &integer::compare>,
    slot<Act::absolute, &integer::absolute>,
    slot<Act::add, &integer::add>,
    slot<Act::divide, &integer::divide>,
    slot<Act::multiply, &integer::multiply>,
    slot<Act::negate, &integer::negate>,
    slot<Act::power, &integer::power>,
    slot<Act::remainder, &integer::remainder>,
    slot<Act::round, &integer::round>,
    slot<Act::subtract, &integer::subtract>,
    slot<Act::even_q, &integer::even_q>,
    slot<Act::odd_q, &integer::odd_q>,
    slot<Act::and_t, &integer::and_t>,
    slot<Act::complement, &integer::complement>,
    slot<Act::or_t, &integer::or_t>,
    slot<Act::xor_t, &integer::xor_t>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 25-34
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 35-44
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 45-54
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,              // 55-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_INTEGER, 0, "integer!", row); }

}  // namespace zuv::integer
