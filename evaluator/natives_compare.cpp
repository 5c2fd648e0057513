// The comparison, logic and predicate natives: equal? to greater-or-equal?,
// same?, not, complement?, negative?, positive?, sign?, zero?, NaN?, max and
// min. Each leaves its answer in the call's first cell.

#include "evaluator/actions.hpp"
#include "evaluator/loop_support.hpp"
#include "evaluator/native_args.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zuv::natives {

namespace {

// The argument types of the specs, checked for callers that pass the check flag.
constexpr uint8_t SIGNED_TYPES[] = {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_MONEY, TYPE_TIME};
constexpr uint8_t NUMBER_TYPES[] = {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT};
constexpr uint8_t ZERO_TYPES[] = {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_MONEY, TYPE_PAIR, TYPE_TIME,
                                  TYPE_CHAR,    TYPE_TUPLE, TYPE_POINT2D, TYPE_POINT3D};
constexpr uint8_t MAX_MIN_TYPES[] = {
    // scalar!
    TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_POINT2D, TYPE_POINT3D, TYPE_MONEY, TYPE_CHAR, TYPE_PAIR,
    TYPE_TUPLE, TYPE_TIME, TYPE_DATE,
    // series!
    TYPE_BLOCK, TYPE_PAREN, TYPE_HASH, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_STRING,
    TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR};

inline Cell* first() { return stack::arguments; }

// The identity test of same? on two values of one type.
bool same_payload_q(Cell* a, Cell* b) {
    switch (type_of(a)) {
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT:
            return a->w1 == b->w1;
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_BITSET:
            return a->w2 == b->w2;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR: case TYPE_IMAGE:
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_POINT2D:
            return a->w1 == b->w1 && a->w2 == b->w2;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_PAIR: case TYPE_TIME: case TYPE_OP:
            return a->w2 == b->w2 && a->w3 == b->w3;
        case TYPE_TUPLE:
            return actions::compare_values(a, b, COMP_EQUAL) == 0;
        case TYPE_MONEY:
            return money::compare(a, b, COMP_SAME) == 0;
        case TYPE_NONE: case TYPE_UNSET:
            return true;
        default:
            return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
    }
}

// -1, 0 or 1 by the sign of a number of the types of negative?, positive?
// and sign? (a float zero or NaN is 0); another type raises expect-arg.
int32_t sign_of(const Cell* v) {
    switch (type_of(v)) {
        case TYPE_INTEGER: return integer::sign(integer::get_value(v));
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
            double d = float_::get(v);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case TYPE_MONEY: return money::sign(v);
        default: rt_support::fire_expect_arg(type_of(v), 0);
    }
}

void sign_test(bool check, int32_t wanted) {
    if (check) check_argument(0, SIGNED_TYPES);
    logic::make_at(first(), sign_of(first()) == wanted);
}

bool zero_value_q(const Cell* v) {
    switch (type_of(v)) {
        case TYPE_CHAR: case TYPE_INTEGER: return v->w2 == 0;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: return float_::get(v) == 0.0;
        case TYPE_PAIR: return v->w2 == 0 && v->w3 == 0;
        case TYPE_TUPLE: return tuple::zero_q(v);
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            for (int32_t i = 0; i < point::dimension(type_of(v)); i++)
                if (point::get(v, i) != 0.0f) return false;
            return true;
        case TYPE_MONEY: return money::zero_q(v);
        default: return false;
    }
}

}  // namespace

// ---- comparison ----

void equal_q_star(bool, const int32_t*) { actions::compare_to_result(COMP_EQUAL); }
void not_equal_q_star(bool, const int32_t*) { actions::compare_to_result(COMP_NOT_EQUAL); }
void strict_equal_q_star(bool, const int32_t*) { actions::compare_to_result(COMP_STRICT_EQUAL); }
void lesser_q_star(bool, const int32_t*) { actions::compare_to_result(COMP_LESSER); }
void lesser_or_equal_q_star(bool, const int32_t*) { actions::compare_to_result(COMP_LESSER_EQUAL); }
void greater_q_star(bool, const int32_t*) { actions::compare_to_result(COMP_GREATER); }
void greater_or_equal_q_star(bool, const int32_t*) { actions::compare_to_result(COMP_GREATER_EQUAL); }

void same_q_star(bool, const int32_t*) {
    Cell* a = first();
    Cell* b = a + 1;
    logic::make_at(a, type_of(a) == type_of(b) && same_payload_q(a, b));
}

// ---- logic and one-value tests ----

void not_star(bool, const int32_t*) { logic::make_at(first(), logic::false_q(first())); }

void complement_q_star(bool, const int32_t*) {
    Cell* v = first();
    if (type_of(v) != TYPE_BITSET) rt_support::fire_expect_arg(type_of(v), 0);
    logic::make_at(v, (memory::buffer_of(v->w2)->flags & SERIES_COMPLEMENT) != 0);
}

void negative_q_star(bool check, const int32_t*) { sign_test(check, -1); }
void positive_q_star(bool check, const int32_t*) { sign_test(check, 1); }

void sign_q_star(bool check, const int32_t*) {
    if (check) check_argument(0, SIGNED_TYPES);
    integer::make_at(first(), sign_of(first()));
}

void zero_q_star(bool check, const int32_t*) {
    if (check) check_argument(0, ZERO_TYPES);
    logic::make_at(first(), zero_value_q(first()));
}

void NaN_q_star(bool check, const int32_t*) {
    if (check) check_argument(0, NUMBER_TYPES);
    Cell* v = first();
    bool nan = (type_of(v) == TYPE_FLOAT || type_of(v) == TYPE_PERCENT) && float_::nan_q(float_::get(v));
    logic::make_at(v, nan);
}

// ---- max and min ----

void max_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, MAX_MIN_TYPES);
        check_argument(1, MAX_MIN_TYPES);
    }
    max_min(true);
}

void min_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, MAX_MIN_TYPES);
        check_argument(1, MAX_MIN_TYPES);
    }
    max_min(false);
}

}  // namespace zuv::natives
