// money!: the cell, the digit arithmetic, comparison and the registration row.
#include "runtime/datatypes/money.hpp"

#include <cstring>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/fire.hpp"

namespace zuv::money {

namespace {

[[noreturn]] void fire_type_limit() { fire_with_datatype("type-limit", TYPE_MONEY); }

// Digit byte k (0-10) lies in word (k + 1) / 4 + 1 of the payload, byte (k + 1) % 4.
inline uint32_t* word_of(Cell* c, int k) { return (&c->w1) + (k + 1) / 4; }
inline const uint32_t* word_of(const Cell* c, int k) { return (&c->w1) + (k + 1) / 4; }
inline int shift_of(int k) { return 8 * ((k + 1) % 4); }

}  // namespace

Units power_of_ten(int n) {
    Units p = 1;
    for (int i = 0; i < n; i++) p *= 10;
    return p;
}

Units limit() {
    static const Units l = power_of_ten(DIGITS);
    return l;
}

// ---- digits ----

void get_digit_bytes(const Cell* c, uint8_t (&bytes)[DIGIT_BYTES]) {
    for (int k = 0; k < DIGIT_BYTES; k++) bytes[k] = uint8_t(*word_of(c, k) >> shift_of(k));
}

void set_digit_bytes(Cell* c, const uint8_t (&bytes)[DIGIT_BYTES]) {
    for (int k = 0; k < DIGIT_BYTES; k++) {
        uint32_t* w = word_of(c, k);
        *w = (*w & ~(0xFFu << shift_of(k))) | uint32_t(bytes[k]) << shift_of(k);
    }
}

int32_t get_digit(const uint8_t (&bytes)[DIGIT_BYTES], int32_t position) {
    uint8_t b = bytes[(position - 1) / 2];
    return position & 1 ? b >> 4 : b & 0xF;
}

void set_digit(uint8_t (&bytes)[DIGIT_BYTES], int32_t position, int32_t digit) {
    uint8_t& b = bytes[(position - 1) / 2];
    b = position & 1 ? uint8_t((b & 0x0F) | digit << 4) : uint8_t((b & 0xF0) | digit);
}

int32_t digit_count(const uint8_t (&bytes)[DIGIT_BYTES]) {
    for (int32_t p = 1; p <= DIGITS; p++)
        if (get_digit(bytes, p) != 0) return DIGITS - p + 1;
    return 1;
}

Units get_units(const Cell* c) {
    uint8_t bytes[DIGIT_BYTES];
    get_digit_bytes(c, bytes);
    Units u = 0;
    for (int32_t p = 1; p <= DIGITS; p++) {
        // Nibbles above 9 come only from damaged cells: they count as 9.
        int32_t d = get_digit(bytes, p);
        u = u * 10 + Units(d > 9 ? 9 : d);
    }
    return u;
}

void set_units(Cell* c, Units units) {
    uint8_t bytes[DIGIT_BYTES] = {};
    for (int32_t p = DIGITS; p >= 1; p--) {
        set_digit(bytes, p, int32_t(units % 10));
        units /= 10;
    }
    set_digit_bytes(c, bytes);
}

// ---- sign ----

int32_t sign(const Cell* c) {
    if (get_units(c) == 0) return 0;
    return get_sign(c) ? -1 : 1;
}

void flip_sign(Cell* c) {
    if (!zero_q(c)) c->header ^= SIGN_BIT;
}

// ---- making ----

Cell* make_at(Cell* c, bool negative, int32_t currency, Units units) {
    uint32_t kept = c->header & FLAG_NEW_LINE;
    c->header = TYPE_UNSET | kept;
    c->w1 = c->w2 = c->w3 = 0;
    set_currency(c, currency);
    set_units(c, units);
    set_sign(c, negative && units != 0);
    return cell::set_type(c, TYPE_MONEY);
}

Cell* make_at(Cell* c, bool negative, int32_t currency, const uint8_t (&bytes)[DIGIT_BYTES]) {
    uint32_t kept = c->header & FLAG_NEW_LINE;
    c->header = TYPE_UNSET | kept;
    c->w1 = c->w2 = c->w3 = 0;
    set_currency(c, currency);
    set_digit_bytes(c, bytes);
    set_sign(c, negative && get_units(c) != 0);
    return cell::set_type(c, TYPE_MONEY);
}

Cell* push(bool negative, int32_t currency, const uint8_t (&bytes)[DIGIT_BYTES]) {
    return make_at(cell::begin(stack::push_raw()), negative, currency, bytes);
}

Cell* from_integer_at(Cell* c, int32_t n) {
    // The magnitude of -2147483648 is taken in 64 bits: no overflow.
    int64_t wide = n;
    Units magnitude = Units(wide < 0 ? -wide : wide);
    return make_at(c, n < 0, 0, magnitude * UNITS_PER_ONE);
}

Cell* from_integer(int32_t n) { return from_integer_at(cell::begin(stack::push_raw()), n); }

// ---- arithmetic ----

namespace {

// One operand as an amount: sign, currency and magnitude.
struct Amount {
    bool negative;
    int32_t currency;
    Units units;
};

Amount amount_of(const Cell* c) { return {get_sign(c) && get_units(c) != 0, currency_of(c), get_units(c)}; }

Amount operand(const Cell* c) {
    Cell converted;
    switch (type_of(c)) {
        case TYPE_MONEY: return amount_of(c);
        case TYPE_INTEGER: from_integer_at(cell::begin(&converted), integer::get_value(c)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: from_float_at(cell::begin(&converted), float_::get(c), false); break;
        default: fire_with_datatype("invalid-type", type_of(c));
    }
    return amount_of(&converted);
}

// The signed sum of two amounts; a magnitude past the limit is type-limit.
Amount sum(Amount a, Amount b) {
    if (b.units == 0) return a;
    if (a.units == 0) return b;
    if (a.negative == b.negative) {
        Units s = a.units + b.units;
        if (s >= limit()) fire_type_limit();
        return {a.negative, 0, s};
    }
    // Opposite signs: the smaller magnitude comes off the larger one.
    if (a.units >= b.units) return {a.negative, 0, a.units - b.units};
    return {b.negative, 0, b.units - a.units};
}

Amount product(Amount a, Amount b) {
    if (a.units == 0) return a;
    if (b.units == 0) return b;
    uint8_t da[DIGIT_BYTES], db[DIGIT_BYTES];
    Cell ca, cb;
    set_units(cell::begin(&ca), a.units);
    set_units(cell::begin(&cb), b.units);
    get_digit_bytes(&ca, da);
    get_digit_bytes(&cb, db);
    // More than 28 digits in all always gives a product past the limit; up to
    // 28 the product fits 128 bits.
    if (digit_count(da) + digit_count(db) > 28) fire_type_limit();
    Units p = a.units * b.units / UNITS_PER_ONE;  // extra decimals cut off
    if (p >= limit() || p == 0) fire_type_limit();
    return {a.negative != b.negative, 0, p};
}

Amount quotient(Amount a, Amount b, bool remainder) {
    if (b.units == 0) fire(ErrorCategory::math, "zero-divide");
    if (a.units == 0) return a;
    if (remainder) return {a.negative, 0, a.units % b.units};
    // The dividend widened by five decimals stays below 10^27.
    Units q = a.units * UNITS_PER_ONE / b.units;  // truncated toward zero
    if (q >= limit() || q == 0) fire_type_limit();
    return {a.negative != b.negative, 0, q};
}

}  // namespace

void do_math(int32_t op) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    uint32_t t1 = type_of(a), t2 = type_of(b);
    if (t1 == TYPE_MONEY && t2 == TYPE_MONEY && op == OP_MUL) fire_with_datatype("invalid-type", TYPE_MONEY);
    if ((op == OP_DIV || op == OP_REM) && t1 != TYPE_MONEY && t2 == TYPE_MONEY)
        fire_with_datatype("invalid-type", int32_t(t1));

    Amount x = operand(a), y = operand(b);
    if (x.currency != 0 && y.currency != 0 && x.currency != y.currency)
        fire(ErrorCategory::script, "wrong-denom", a, b);
    int32_t currency = y.currency != 0 ? y.currency : x.currency;

    Amount r;
    switch (op) {
        case OP_ADD: r = sum(x, y); break;
        case OP_SUB: r = sum(x, {!y.negative, y.currency, y.units}); break;
        case OP_MUL: r = product(x, y); break;
        case OP_DIV: r = quotient(x, y, false); break;
        case OP_REM: r = quotient(x, y, true); break;
        default: fire_with_datatype("invalid-type", int32_t(t1));
    }
    make_at(a, r.negative, currency, r.units);
    if (op == OP_DIV && t1 == TYPE_MONEY && t2 == TYPE_MONEY) float_::make_at(a, to_float(a));
}

void add() { do_math(OP_ADD); }
void subtract() { do_math(OP_SUB); }
void multiply() { do_math(OP_MUL); }
void divide() { do_math(OP_DIV); }
void remainder() { do_math(OP_REM); }

void absolute() { set_sign(stack::arguments, false); }

Cell* negate(Cell* value) {
    flip_sign(value);
    return value;
}

bool even_q(Cell* value) { return (get_units(value) / UNITS_PER_ONE) % 2 == 0; }
bool odd_q(Cell* value) { return !even_q(value); }

// ---- comparison ----

namespace {

// -1, 0 or 1 by sign, then by magnitude.
int32_t compare_amounts(const Cell* a, const Cell* b) {
    int32_t sa = sign(a), sb = sign(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    Units ua = get_units(a), ub = get_units(b);
    int32_t r = (ua > ub) - (ua < ub);
    return sa < 0 ? -r : r;
}

bool equality_q(int32_t op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME ||
           op == COMP_STRICT_EQUAL_WORD || op == COMP_EQUAL_WORD || op == COMP_FIND;
}

int32_t by_op(int32_t r, int32_t op) { return equality_q(op) ? (r == 0 ? 0 : 1) : r; }

}  // namespace

int32_t compare_float(const Cell* a, double b, int32_t op) {
    double m = float_::abs(b);
    int32_t r;
    if (m >= 1e17) {
        // Beyond every amount: greater when positive, smaller when negative.
        r = b > 0 ? -1 : 1;
    } else if (m > 0 && m < 1e-5) {
        // Below the smallest amount: a non-zero amount decides by its own
        // sign, a zero one is on the other side of the float.
        int32_t s = sign(a);
        r = s != 0 ? s : (b > 0 ? -1 : 1);
    } else {
        Cell converted;
        from_float_at(cell::begin(&converted), b, true);
        r = compare_amounts(a, &converted);
    }
    return by_op(r, op);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t t2 = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND || op == COMP_STRICT_EQUAL_WORD) &&
        t2 != TYPE_MONEY)
        return 1;
    switch (t2) {
        case TYPE_MONEY: break;
        case TYPE_INTEGER: {
            Cell converted;
            from_integer_at(cell::begin(&converted), integer::get_value(value2));
            return by_op(compare_amounts(value1, &converted), op);
        }
        case TYPE_FLOAT: return compare_float(value1, float_::get(value2), op);
        default: return COMPARE_INCOMPARABLE;
    }

    int32_t c1 = currency_of(value1), c2 = currency_of(value2);
    switch (op) {
        case COMP_LESSER:
        case COMP_LESSER_EQUAL:
        case COMP_GREATER:
        case COMP_GREATER_EQUAL:
            if (c1 != 0 && c2 != 0 && c1 != c2) fire(ErrorCategory::script, "wrong-denom", value1, value2);
            break;
        case COMP_SORT:
        case COMP_CASE_SORT:
            // Amounts without a currency first, then by code, then by amount.
            if (c1 != c2) {
                if (c1 == 0 || c2 == 0) return c1 == 0 ? -1 : 1;
                char a[3] = {}, b[3] = {};
                currency_code(c1, a);
                currency_code(c2, b);
                int d = std::memcmp(a, b, 3);
                return (d > 0) - (d < 0);
            }
            break;
        case COMP_STRICT_EQUAL:
        case COMP_STRICT_EQUAL_WORD:
        case COMP_SAME:
            if (c1 != c2) return 1;
            break;
        case COMP_FIND:
            if (c2 != 0 && c1 != c2) return 1;
            break;
        default:
            if (c1 != 0 && c2 != 0 && c1 != c2) return 1;
            break;
    }
    return by_op(compare_amounts(value1, value2), op);
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &money::make>,
    slot<Act::random, &money::random>,
    NONE,                                     // reflect
    slot<Act::to, &money::to>,
    slot<Act::form, &money::form>,
    slot<Act::mold, &money::mold>,
    slot<Act::eval_path, &money::eval_path>,
    NONE,                                     // (never filled)
    slot<Act::compare, &money::compare>,
    slot<Act::absolute, &money::absolute>,
    slot<Act::add, &money::add>,
    slot<Act::divide, &money::divide>,
    slot<Act::multiply, &money::multiply>,
    slot<Act::negate, &money::negate>,
    NONE,                                     // power
    slot<Act::remainder, &money::remainder>,
    slot<Act::round, &money::round>,
    slot<Act::subtract, &money::subtract>,
    slot<Act::even_q, &money::even_q>,
    slot<Act::odd_q, &money::odd_q>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-29
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 30-38
    slot<Act::pick, &money::pick>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 40-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-61
    NONE,                                                              // 62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_MONEY, 0, "money!", row); }

}  // namespace zuv::money
