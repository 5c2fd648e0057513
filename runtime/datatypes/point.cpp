// point2D! and point3D!: one set of action functions serves both types; the
// type byte of the value says how many coordinates it has.
#include "runtime/datatypes/point.hpp"

#include <cmath>

#include "evaluator/backtrace.hpp"
#include "evaluator/random.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::point {

namespace {

// The coordinate of an integer! or float! cell.
float number_coordinate(const Cell* c) {
    return type_of(c) == TYPE_INTEGER ? float(integer::get_value(c)) : narrow(float_::get(c));
}

// 1 x, 2 y, 3 z by word (the canonical symbol), else 0.
int32_t field_of_word(const Cell* word) {
    int32_t s = symbol::resolve(int32_t(word->w2));
    if (s == symbol::resolve(sym::x)) return 1;
    if (s == symbol::resolve(sym::y)) return 2;
    if (s == symbol::resolve(sym::z)) return 3;
    return 0;
}

bool word_type_q(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_SET_WORD;
}

}  // namespace

float narrow(double d) {
    // 2^128 - 2^103 is halfway between the largest float and 2^128: from
    // there on the rounding goes to an infinity.
    constexpr double overflow = 0x1.ffffffp127;
    if (d >= overflow) return INFINITY;
    if (d <= -overflow) return -INFINITY;
    return float(d);
}

Cell* make_at(Cell* c, uint32_t type, float x, float y, float z) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_UNSET;
    c->w3 = 0;
    put(c, 0, x);
    put(c, 1, y);
    if (type == TYPE_POINT3D) put(c, 2, z);
    return cell::set_type(c, type);
}

// ---- arithmetic ----

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    const Cell* right = left + 1;
    uint32_t type = type_of(left);
    int32_t n = dimension(type);
    double operand[3];
    switch (type_of(right)) {
        case TYPE_INTEGER:
            operand[0] = operand[1] = operand[2] = double(integer::get_value(right));
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double f = double(narrow(float_::get(right)));
            if (op == OP_MUL || op == OP_DIV) {
                for (int32_t i = 0; i < n; i++) {
                    double c = double(get(left, i));
                    put(left, i, narrow(op == OP_MUL ? c * f : c / f));
                }
                return left;
            }
            operand[0] = operand[1] = operand[2] = f;
            break;
        }
        case TYPE_PAIR:
            if (type != TYPE_POINT2D) fire_with_datatype("invalid-type", TYPE_PAIR);
            operand[0] = double(float(pair::x_of(right)));
            operand[1] = double(float(pair::y_of(right)));
            break;
        default:
            if (type_of(right) != type) fire_with_datatype("invalid-type", type_of(right));
            for (int32_t i = 0; i < n; i++) operand[i] = double(get(right, i));
            break;
    }
    for (int32_t i = 0; i < n; i++) put(left, i, narrow(float_::compute(double(get(left, i)), operand[i], op)));
    return left;
}

namespace {

void absolute() {
    Cell* p = stack::arguments;
    for (int32_t i = 0; i < dimension(type_of(p)); i++) put(p, i, std::fabs(get(p, i)));
}

Cell* negate(Cell* value) {
    for (int32_t i = 0; i < dimension(type_of(value)); i++) put(value, i, 0.0f - get(value, i));
    return value;
}

// ---- make and to ----

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    int32_t n = dimension(uint32_t(type));
    float c[3] = {0.0f, 0.0f, 0.0f};
    uint32_t st = type_of(spec);
    if (st == uint32_t(type)) return spec;
    switch (st) {
        case TYPE_BLOCK: {
            if (block::zs_length_q(spec) < n) fire(ErrorCategory::syntax, "malconstruct", spec);
            const Cell* items = block::zs_head(spec);
            for (int32_t i = 0; i < n; i++) {
                uint32_t t = type_of(items + i);
                if (t != TYPE_INTEGER && t != TYPE_FLOAT) fire(ErrorCategory::syntax, "malconstruct", spec);
                c[i] = number_coordinate(items + i);
            }
            break;
        }
        case TYPE_STRING: {
            Cell* saved_top = stack::top;
            Cell* scanned = cell::begin(stack::push_raw());
            rt_support::scan_one_value(spec, scanned);
            if (type_of(scanned) != uint32_t(type)) fire_bad_to_arg(type, spec);
            Cell made = *scanned;
            stack::top = saved_top;
            return copy_cell(&made, proto);
        }
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            c[0] = c[1] = c[2] = number_coordinate(spec);
            break;
        case TYPE_PAIR:
            c[0] = float(pair::x_of(spec));
            c[1] = float(pair::y_of(spec));
            break;
        case TYPE_POINT2D:
            if (type != TYPE_POINT3D) fire_bad_to_arg(type, spec);
            c[0] = get(spec, 0);
            c[1] = get(spec, 1);
            break;
        default: fire_bad_to_arg(type, spec);
    }
    return make_at(cell::begin(proto), uint32_t(type), c[0], c[1], c[2]);
}

// ---- random ----

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    int32_t n = dimension(type_of(value));
    if (seed) {
        zuv::random::seed(hash::hash_bytes(&value->w1, 4 * n));
        return unset::make_at(value);
    }
    for (int32_t i = 0; i < n; i++) {
        float f = get(value, i);
        if (f == 0.0f) continue;
        Cell draw{};
        float_::make_at(&draw, double(f));
        float_::random(&draw, false, secure, only);
        put(value, i, narrow(float_::get(&draw)));
    }
    return value;
}

// ---- text ----

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    int32_t n = dimension(type_of(value));
    int32_t written = 2 + 2 * (n - 1);
    string::concatenate_literal(buffer, "(");
    for (int32_t i = 0; i < n; i++) {
        if (i) string::concatenate_literal(buffer, ", ");
        char text[float_::FORMAT_SIZE];
        written += float_::format(double(get(value, i)), float_::FORMAT_POINT, text);
        string::concatenate_literal(buffer, text);
    }
    string::concatenate_literal(buffer, ")");
    return part - written;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

// ---- paths and pick ----

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool,
                bool, bool, bool) {
    int32_t n = dimension(type_of(parent));
    int32_t field = 0;
    if (type_of(element) == TYPE_INTEGER) field = integer::get_value(element);
    else if (type_of(element) == TYPE_WORD) field = field_of_word(element);
    if (field < 1 || field > n) fire(ErrorCategory::script, "invalid-path", path ? path : element, element);

    if (value == nullptr) return float_::push(double(get(parent, field - 1)));

    uint32_t vt = type_of(value);
    if (vt != TYPE_INTEGER && vt != TYPE_FLOAT) fire_with_datatype("invalid-type", vt);
    put(parent, field - 1, number_coordinate(value));
    return value;
}

const Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    int32_t n = dimension(type_of(value));
    if (boxed != nullptr && word_type_q(type_of(boxed))) {
        index = field_of_word(boxed);
        if (index == 0 || index > n) fire(ErrorCategory::script, "cannot-use", boxed, value);
    }
    if (index < 1 || index > n) {
        if (boxed != nullptr) fire(ErrorCategory::script, "out-of-range", boxed);
        Cell i;
        integer::make_at(cell::begin(&i), index);
        fire(ErrorCategory::script, "out-of-range", &i);
    }
    return float_::push(double(get(value, index - 1)));
}

Cell* reverse(Cell* value, Cell*, Cell*) {
    int32_t last = dimension(type_of(value)) - 1;  // x with y, or x with z
    float x = get(value, 0);
    put(value, 0, get(value, last));
    put(value, last, x);
    return value;
}

// ---- round ----

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    uint32_t type = type_of(value);
    int32_t n = dimension(type);
    bool to = series::given(scale, value);
    // Scales per coordinate: a cell each, or none for the default step.
    Cell scales[3];
    if (to) {
        uint32_t st = type_of(scale);
        if (st == TYPE_MONEY) {
            Cell function = stack::caller_word();
            fire_not_related(&function, TYPE_MONEY);
        }
        for (int32_t i = 0; i < n; i++) {
            if (st == TYPE_PAIR)  // x to x, y to y (and z by 0)
                integer::make_at(cell::begin(&scales[i]), i == 0 ? pair::x_of(scale) : i == 1 ? pair::y_of(scale) : 0);
            else if ((st == TYPE_POINT2D || st == TYPE_POINT3D) && (type == TYPE_POINT2D || st == type))
                float_::make_at(cell::begin(&scales[i]), double(get(scale, i)));
            else if (st == TYPE_POINT2D)  // a point3D! rounded by a point2D!: z by 0.0
                float_::make_at(cell::begin(&scales[i]), i < 2 ? double(get(scale, i)) : 0.0);
            else
                scales[i] = *scale;
        }
    }
    for (int32_t i = 0; i < n; i++) {
        // float_::round tells an absent scale by its place: the cell just
        // below the value.
        Cell work[2];
        float_::make_at(cell::begin(&work[1]), double(get(value, i)));
        Cell* r = float_::round(&work[1], to ? &scales[i] : &work[0], even, down, half_down, floor, ceiling,
                                half_ceiling);
        double d = type_of(r) == TYPE_INTEGER ? double(integer::get_value(r)) : float_::get(r);
        put(value, i, narrow(d));
    }
    return value;
}

// ---- registration ----

constexpr SlotEntry row[] = {
    slot<Act::make, &point::make>,
    slot<Act::random, &point::random>,
    NONE,                                   // reflect
    slot<Act::to, &point::make>,
    slot<Act::form, &point::form>,
    slot<Act::mold, &point::mold>,
    slot<Act::eval_path, &point::eval_path>,
    NONE,                                   // (empty)
    slot<Act::compare, &point::compare>,
    slot<Act::absolute, &point::absolute>,
    slot<Act::add, &math_action<&do_math, OP_ADD>>,
    slot<Act::divide, &math_action<&do_math, OP_DIV>>,
    slot<Act::multiply, &math_action<&do_math, OP_MUL>>,
    slot<Act::negate, &point::negate>,
    NONE,                                   // power
    slot<Act::remainder, &math_action<&do_math, OP_REM>>,
    slot<Act::round, &point::round>,
    slot<Act::subtract, &math_action<&do_math, OP_SUB>>,
    NONE, NONE, NONE, NONE, NONE, NONE,                          // 19-24
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 25-34
    NONE, NONE, NONE, NONE,                                      // 35-38
    slot<Act::pick, &point::pick>,
    NONE, NONE, NONE,                                            // 40-42
    slot<Act::reverse, &point::reverse>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 44-53
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,        // 54-62
};
ZUV_CHECK_ROW(row);

}  // namespace

// ---- compare ----

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t type = type_of(value1);
    int32_t n = dimension(type);
    Cell other = *value2;
    if (type == TYPE_POINT2D && type_of(&other) == TYPE_PAIR)
        point2D::make_at(&other, float(pair::x_of(value2)), float(pair::y_of(value2)));
    if (type_of(&other) != type) return COMPARE_INCOMPARABLE;
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_EQUAL_WORD: case COMP_FIND:
            for (int32_t i = 0; i < n; i++)
                if (!float_::almost_equal32_q(get(value1, i), get(&other, i))) return 1;
            return 0;
        case COMP_STRICT_EQUAL: case COMP_STRICT_EQUAL_WORD:
            for (int32_t i = 0; i < n; i++)
                if (!(get(value1, i) == get(&other, i))) return 1;
            return 0;
        case COMP_SAME: {  // the bit patterns
            const uint32_t a[3] = {value1->w1, value1->w2, value1->w3}, b[3] = {other.w1, other.w2, other.w3};
            for (int32_t i = 0; i < n; i++)
                if (a[i] != b[i]) return 1;
            return 0;
        }
        default: break;
    }
    float d = 0.0f;
    for (int32_t i = 0; i < n; i++) {
        d = narrow(double(get(value1, i)) - double(get(&other, i)));
        if (!float_::almost_equal32_q(d, 0.0f)) break;
    }
    return d < 0.0f ? -1 : d > 0.0f ? 1 : 0;
}

}  // namespace zuv::point

namespace zuv::point2D {

Cell* push(float x, float y) { return make_at(cell::begin(stack::push_raw()), x, y); }
void register_type() { datatype::register_type(TYPE_POINT2D, 0, "point2D!", point::row); }

}  // namespace zuv::point2D

namespace zuv::point3D {

Cell* push(float x, float y, float z) { return make_at(cell::begin(stack::push_raw()), x, y, z); }
void register_type() { datatype::register_type(TYPE_POINT3D, 0, "point3D!", point::row); }

}  // namespace zuv::point3D
