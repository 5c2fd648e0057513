// pair!: construction, arithmetic (with its fall-back to point2D!), text,
// paths and the registration row.
#include "runtime/datatypes/pair.hpp"

#include <cmath>

#include "evaluator/backtrace.hpp"
#include "evaluator/random.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/fire.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::pair {

namespace {

// An integer! as it is, a float! truncated toward zero (beyond 32 bits, or
// NaN: script out-of-range).
int32_t component_of(const Cell* c) {
    return type_of(c) == TYPE_INTEGER ? integer::get_value(c) : rt_support::float_to_integer(c);
}

// 1 x, 2 y by word (the canonical symbol), else 0.
int32_t field_of_word(const Cell* word) {
    int32_t s = symbol::resolve(int32_t(word->w2));
    if (s == symbol::resolve(sym::x)) return 1;
    if (s == symbol::resolve(sym::y)) return 2;
    return 0;
}

// The pair cell made a point2D! of the same coordinates.
Cell* to_point(Cell* c) { return point2D::make_at(c, float(x_of(c)), float(y_of(c))); }

}  // namespace

Cell* make_at(Cell* c, int32_t x, int32_t y) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_UNSET;
    c->w1 = 0;
    c->w2 = uint32_t(x);
    c->w3 = uint32_t(y);
    return cell::set_type(c, TYPE_PAIR);
}

Cell* make_in(const Cell* block, int32_t x, int32_t y) { return make_at(cell::append_new_cell(block), x, y); }

Cell* push(int32_t x, int32_t y) { return make_at(cell::begin(stack::push_raw()), x, y); }

// ---- arithmetic ----

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t x = x_of(left), y = y_of(left);
    int32_t bx, by;
    switch (type_of(right)) {
        case TYPE_INTEGER:
            bx = by = integer::get_value(right);
            break;
        case TYPE_PAIR:
            bx = x_of(right);
            by = y_of(right);
            break;
        case TYPE_POINT2D:
            to_point(left);
            return point::do_math(op);
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double f = float_::get(right);
            if (op == OP_MUL || op == OP_DIV) {
                if (op == OP_MUL ? float_::not_finite_q(f) : float_::nan_q(f))
                    fire(ErrorCategory::script, "invalid-arg", right);
                double dx = op == OP_MUL ? x * f : x / f, dy = op == OP_MUL ? y * f : y / f;
                return point2D::make_at(left, point::narrow(dx), point::narrow(dy));
            }
            // The other operations take f truncated toward zero, which must
            // be a 32-bit integer.
            int32_t n;
            if (!float_::to_int32(f, &n)) fire(ErrorCategory::script, "invalid-arg", right);
            integer::make_at(cell::begin(right), n);
            bx = by = n;
            break;
        }
        default: fire_with_datatype("invalid-type", type_of(right));
    }
    Cell rx{TYPE_INTEGER, 0, 0, 0}, ry{TYPE_INTEGER, 0, 0, 0};
    integer::do_math(x, bx, op, &rx);
    integer::do_math(y, by, op, &ry);
    if (type_of(&rx) == TYPE_INTEGER && type_of(&ry) == TYPE_INTEGER)
        return make_at(left, integer::get_value(&rx), integer::get_value(&ry));
    // Not exact: the same operation on points of the original values.
    to_point(left);
    if (type_of(right) == TYPE_PAIR) to_point(right);
    return point::do_math(op);
}

namespace {

void absolute() {
    Cell* p = stack::arguments;
    make_at(p, integer::abs_checked(x_of(p)), integer::abs_checked(y_of(p)));
}

// 32-bit wrap-around: the most negative integer stays as it is.
Cell* negate(Cell* value) {
    value->w2 = 0u - value->w2;
    value->w3 = 0u - value->w3;
    return value;
}

// ---- make and to ----

Cell* make(Cell* proto, Cell* spec, int32_t) {
    int32_t x, y;
    switch (type_of(spec)) {
        case TYPE_PAIR: return spec;
        case TYPE_BLOCK: {
            if (block::zs_length_q(spec) < 2) fire(ErrorCategory::syntax, "malconstruct", spec);
            const Cell* items = block::zs_head(spec);
            for (int32_t i = 0; i < 2; i++)
                if (type_of(items + i) != TYPE_INTEGER && type_of(items + i) != TYPE_FLOAT)
                    fire(ErrorCategory::syntax, "malconstruct", spec);
            Cell a = items[0], b = items[1];
            x = component_of(&a);
            y = component_of(&b);
            break;
        }
        case TYPE_STRING: {
            Cell* saved_top = stack::top;
            Cell* scanned = cell::begin(stack::push_raw());
            rt_support::scan_one_value(spec, scanned);
            if (type_of(scanned) != TYPE_PAIR) return raise_bad_to_arg(TYPE_PAIR, spec);
            x = x_of(scanned);
            y = y_of(scanned);
            stack::top = saved_top;
            break;
        }
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            x = y = component_of(spec);
            break;
        case TYPE_POINT2D: {
            Cell c[2];
            for (int32_t i = 0; i < 2; i++) {
                double d = double(point::get(spec, i));
                if (float_::not_finite_q(d)) fire(ErrorCategory::script, "invalid-arg", spec);
                float_::make_at(cell::begin(&c[i]), d);
            }
            x = component_of(&c[0]);
            y = component_of(&c[1]);
            break;
        }
        default: return raise_bad_to_arg(TYPE_PAIR, spec);
    }
    return make_at(cell::begin(proto), x, y);
}

// ---- random ----

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zuv::random::seed(value->w2 ^ value->w3);
        return unset::make_at(value);
    }
    int32_t x = x_of(value), y = y_of(value);
    if (x != 0) x = zuv::random::uniform_int(secure, x);
    if (y != 0) y = zuv::random::uniform_int(secure, y);
    return make_at(value, x, y);
}

// ---- text ----

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    char x[integer::TEXT_SIZE], y[integer::TEXT_SIZE];
    int n = integer::to_text(x_of(value), x) + 1 + integer::to_text(y_of(value), y);
    string::concatenate_literal(buffer, x);
    string::concatenate_literal(buffer, "x");
    string::concatenate_literal(buffer, y);
    return part - n;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

// ---- compare ----

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) == TYPE_POINT2D) {
        Cell p = *value1;  // the pair itself may lie in a series: compared as a copy
        return point::compare(to_point(&p), value2, op);
    }
    if (type_of(value2) != TYPE_PAIR) return COMPARE_INCOMPARABLE;
    int32_t a = x_of(value1), b = x_of(value2);
    if (a == b) {
        a = y_of(value1);
        b = y_of(value2);
    }
    return (a > b) - (a < b);
}

// ---- round ----

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    bool to = series::given(scale, value);
    if (to && type_of(scale) == TYPE_MONEY) {
        Cell function = stack::caller_word();
        fire_not_related(&function, TYPE_MONEY);
    }
    int32_t r[2];
    for (int32_t i = 0; i < 2; i++) {
        // integer::round tells an absent scale by its place: the cell just
        // below the value.
        Cell work[3];
        integer::make_at(cell::begin(&work[1]), i == 0 ? x_of(value) : y_of(value));
        Cell* s = &work[0];
        if (to) {
            s = &work[2];
            uint32_t st = type_of(scale);
            if (st == TYPE_PAIR) integer::make_at(cell::begin(s), i == 0 ? x_of(scale) : y_of(scale));
            else if (st == TYPE_POINT2D || st == TYPE_POINT3D) float_::make_at(cell::begin(s), double(point::get(scale, i)));
            else *s = *scale;
        }
        Cell* rounded = integer::round(&work[1], s, even, down, half_down, floor, ceiling, half_ceiling);
        if (type_of(rounded) == TYPE_INTEGER) {
            r[i] = integer::get_value(rounded);
        } else if (!float_::to_int32(float_::get(rounded), &r[i])) {
            fire(ErrorCategory::math, "overflow");
        }
    }
    return make_at(value, r[0], r[1]);
}

// ---- paths and pick ----

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool,
                bool, bool, bool) {
    int32_t field = 0;
    if (type_of(element) == TYPE_INTEGER) field = integer::get_value(element);
    else if (type_of(element) == TYPE_WORD) field = field_of_word(element);
    if (field != 1 && field != 2) fire(ErrorCategory::script, "invalid-path", path ? path : element, element);

    if (value == nullptr) return integer::push(field == 1 ? x_of(parent) : y_of(parent));

    if (type_of(value) != TYPE_INTEGER) fire_with_datatype("invalid-type", type_of(value));
    (field == 1 ? parent->w2 : parent->w3) = value->w2;
    return value;
}

const Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    uint32_t bt = boxed ? type_of(boxed) : uint32_t(TYPE_INTEGER);
    if (bt == TYPE_WORD || bt == TYPE_LIT_WORD || bt == TYPE_GET_WORD || bt == TYPE_SET_WORD) {
        index = field_of_word(boxed);
        if (index == 0) fire(ErrorCategory::script, "cannot-use", boxed, value);
    }
    if (index != 1 && index != 2) {
        if (boxed != nullptr) fire(ErrorCategory::script, "out-of-range", boxed);
        Cell i;
        integer::make_at(cell::begin(&i), index);
        fire(ErrorCategory::script, "out-of-range", &i);
    }
    return integer::push(index == 1 ? x_of(value) : y_of(value));
}

Cell* reverse(Cell* value, Cell*, Cell*) { return make_at(value, y_of(value), x_of(value)); }

// ---- registration ----

constexpr SlotEntry row[] = {
    slot<Act::make, &pair::make>,
    slot<Act::random, &pair::random>,
    NONE,                                   // reflect
    slot<Act::to, &pair::make>,
    slot<Act::form, &pair::form>,
    slot<Act::mold, &pair::mold>,
    slot<Act::eval_path, &pair::eval_path>,
    NONE,                                   // (empty)
    slot<Act::compare, &pair::compare>,
    slot<Act::absolute, &pair::absolute>,
    slot<Act::add, &math_action<&do_math, OP_ADD>>,
    slot<Act::divide, &math_action<&do_math, OP_DIV>>,
    slot<Act::multiply, &math_action<&do_math, OP_MUL>>,
    slot<Act::negate, &pair::negate>,
    NONE,                                   // power
    slot<Act::remainder, &math_action<&do_math, OP_REM>>,
    slot<Act::round, &pair::round>,
    slot<Act::subtract, &math_action<&do_math, OP_SUB>>,
    NONE, NONE,                             // even? odd?
    slot<Act::and_t, &math_action<&do_math, OP_AND>>,
    NONE,                                   // complement
    slot<Act::or_t, &math_action<&do_math, OP_OR>>,
    slot<Act::xor_t, &math_action<&do_math, OP_XOR>>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 25-34
    NONE, NONE, NONE, NONE,                                      // 35-38
    slot<Act::pick, &pair::pick>,
    NONE, NONE, NONE,                                            // 40-42
    slot<Act::reverse, &pair::reverse>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 44-53
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,        // 54-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_PAIR, 0, "pair!", row); }

}  // namespace zuv::pair
