#include "evaluator/loop_support.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "evaluator/actions.hpp"
#include "evaluator/natives_control_internal.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime.hpp"

namespace zuv::natives {

namespace {

bool float_based_q(uint32_t type) { return type == TYPE_FLOAT || type == TYPE_PERCENT; }
bool number_q(uint32_t type) { return type == TYPE_INTEGER || float_based_q(type); }
bool nan_q(const Cell* c) { return float_based_q(type_of(c)) && std::isnan(cell::get_float(c)); }

bool loop_word_q(uint32_t type) {
    return type == TYPE_WORD || type == TYPE_SET_WORD || type == TYPE_GET_WORD || type == TYPE_LIT_WORD;
}

// Element i (absolute) of a cell series, or false past its tail.
bool cell_at(const Cell* series, int32_t i, Cell* out) {
    SeriesBuffer* s = memory::buffer_of(series->w2);
    if (i < 0 || i >= memory::length_of(s)) return false;
    *out = memory::cells_head(s)[i];
    return true;
}

// Element k (1-based from the head) of any series through its pick action;
// none past the tail.
Cell picked(const Cell* series, int32_t k) {
    Cell copy = *series;
    return *actions::call_pick(&copy, k, nullptr);
}

// Sets the word (a copy, retyped word!: the loop words may be of any word
// type): a plain write where that runs no code, else by word::set.
void set_loop_word(const Cell* word, const Cell* value) {
    Cell w = *word;
    cell::set_type(&w, TYPE_WORD);
    control::set_loop_word(&w, *value);
}

// The greater (max) or lesser of two numbers; a NaN wins.
double pick_of(double x, double y, bool max) {
    if (std::isnan(x)) return x;
    if (std::isnan(y)) return y;
    return max ? (x < y ? y : x) : (y < x ? y : x);
}

// max and min of a pair!, a point or a tuple! with a number, or with a value
// of its own kind: component by component into the call's result. False when
// the operands are no such case.
bool compound_max_min(Cell* a, Cell* b, bool max) {
    Cell* p = a;
    Cell* q = b;
    uint32_t tp = type_of(p), tq = type_of(q);
    auto compound_q = [](uint32_t t) {
        return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TUPLE;
    };
    if (!compound_q(tp)) {
        std::swap(p, q);
        std::swap(tp, tq);
    }
    bool number = tq == TYPE_INTEGER || tq == TYPE_FLOAT;
    if (!compound_q(tp) || !(number || tq == tp)) return false;
    Cell result = *p;
    switch (tp) {
        case TYPE_PAIR: {
            int32_t n;
            if (tq == TYPE_FLOAT && !float_::to_int32(float_::get(q), &n)) {
                // Beyond the integers: compared as a point.
                point2D::make_at(&result, float(pair::x_of(p)), float(pair::y_of(p)));
                Cell a_point = result, b_value = *q;
                return compound_max_min(&a_point, &b_value, max);
            }
            for (int32_t i = 0; i < 2; i++) {
                int32_t x = i == 0 ? pair::x_of(p) : pair::y_of(p);
                double y = tq == TYPE_PAIR ? double(i == 0 ? pair::x_of(q) : pair::y_of(q)) : to_float(q);
                int32_t v = 0;
                float_::to_int32(pick_of(double(x), y, max), &v);  // one of two 32-bit values
                (i == 0 ? result.w2 : result.w3) = uint32_t(v);
            }
            break;
        }
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            for (int32_t i = 0; i < point::dimension(tp); i++) {
                double y = number ? double(point::narrow(to_float(q))) : double(point::get(q, i));
                point::put(&result, i, float(pick_of(double(point::get(p, i)), y, max)));
            }
            break;
        default: {  // tuple!
            int32_t n = number ? std::clamp(to_int32(q), 0, 255) : 0;
            int32_t size = number ? tuple::size_of(p) : std::max(tuple::size_of(p), tuple::size_of(q));
            uint8_t bytes[tuple::MAX_SIZE];
            for (int32_t i = 0; i < size; i++) {
                int32_t x = int32_t(tuple::byte_at(p, i)), y = number ? n : int32_t(tuple::byte_at(q, i));
                bytes[i] = uint8_t(max ? std::max(x, y) : std::min(x, y));
            }
            tuple::make_at(&result, bytes, size);
            break;
        }
    }
    stack::set_last(&result);
    return true;
}

}  // namespace

// ---- numbers ----

void max_min(bool max) {
    Cell* a = stack::arguments;
    Cell* b = stack::arguments + 1;
    uint32_t ta = type_of(a), tb = type_of(b);
    if (nan_q(a) && number_q(tb)) return;
    if (nan_q(b) && number_q(ta)) {
        stack::set_last(b);
        return;
    }
    if (compound_max_min(a, b, max)) return;
    bool a_less = actions::compare_star(a, b, COMP_LESSER);
    // On equal values max keeps the first and min takes the second.
    if (max ? a_less : !a_less) stack::set_last(b);
}

int32_t to_int32(const Cell* value) {
    if (type_of(value) == TYPE_INTEGER) return integer::get_value(value);
    double d = cell::get_float(value);
    // Truncation toward zero must land in 32 bits; a NaN fails both tests.
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        fire_with_datatype("type-limit", TYPE_INTEGER);
    }
    return int32_t(d);
}

double to_float(const Cell* value) {
    return type_of(value) == TYPE_INTEGER ? double(integer::get_value(value)) : cell::get_float(value);
}

Cell* arg_to_float() {
    Cell* c = stack::arguments;
    if (type_of(c) == TYPE_INTEGER) return float_::make_at(c, double(integer::get_value(c)));
    return cell::set_type(c, TYPE_FLOAT);  // a percent! holds the same double
}

Cell* trig_arg(int32_t radians, int32_t kind) {
    Cell* c = arg_to_float();
    if (radians == -1) float_::make_at(c, runtime::normalize_angle(cell::get_float(c), int(kind)));
    return c;
}

Cell* arc_trig(int32_t radians, int32_t kind) {
    Cell* c = arg_to_float();
    double x = cell::get_float(c);
    double r = kind == ARC_TANGENT ? std::atan(x) : kind == ARC_COSINE ? std::acos(x) : std::asin(x);
    if (radians == -1) r = r * 180.0 / 3.141592653589793;
    return float_::make_at(c, r);
}

// ---- stepping through series ----

bool series_more_q(const Cell* series) {
    // An image!'s pixels live in the image backend: it ends at width x height.
    if (type_of(series) == TYPE_IMAGE) return int32_t(series->w1) < image::pixel_count(series);
    // A map!'s removed pairs are stepped over by its own foreach step.
    return int32_t(series->w1) < memory::length_of(memory::buffer_of(series->w2));
}

bool foreach_next() {
    Cell* series = stack::arguments - 2;
    if (!series_more_q(series)) return false;
    Cell value;
    if (series::any_block_q(type_of(series))) cell_at(series, int32_t(series->w1), &value);
    else value = picked(series, 1);
    set_loop_word(stack::arguments - 1, &value);
    series->w1++;  // a stack cell: still in place after the word's change events
    return true;
}

bool foreach_next_multi(int32_t n) {
    Cell* series = stack::arguments - 2;
    const Cell* words = stack::arguments - 1;
    if (n <= 0 || !series_more_q(series)) return false;
    uint32_t type = type_of(series);
    if (type == TYPE_MAP) {
        if (n != 2) fire(ErrorCategory::script, "invalid-arg", words);
        if (!map::assign_foreach_words(words, series, n)) return false;
        series->w1 += uint32_t(n);
        return true;
    }
    if (series::any_block_q(type)) {
        // The words take the values from the head on; only an element is
        // ever unset here, never a missing one.
        set_words(words, series, n, true, false, false);
    } else {
        // Validate every word before any is set.
        Cell w;
        for (int32_t i = 0; i < n; i++)
            if (cell_at(words, int32_t(words->w1) + i, &w) && !loop_word_q(type_of(&w)))
                fire(ErrorCategory::script, "invalid-arg", &w);
        for (int32_t i = 0; i < n; i++) {
            if (!cell_at(words, int32_t(words->w1) + i, &w)) break;
            Cell value = picked(series, i + 1);
            set_loop_word(&w, &value);
        }
    }
    series->w1 += uint32_t(n);
    return true;
}

void set_words(const Cell* words_value, const Cell* values_value, int32_t count, bool any, bool some, bool only) {
    // Both may lie in series that the change events of the words move: the
    // values are copied and every element is read again by index.
    Cell words = *words_value;
    Cell values = *values_value;
    bool spread = !only && series::any_block_q(type_of(&values));
    int32_t words_head = int32_t(words.w1);
    int32_t values_head = int32_t(values.w1);
    auto value_at = [&](int32_t i, Cell* out) {
        if (!spread) *out = values;
        else if (!cell_at(&values, values_head + i, out)) none::make_at(out);
    };

    Cell w, v;
    for (int32_t i = 0; i < count && cell_at(&words, words_head + i, &w); i++)
        if (!loop_word_q(type_of(&w))) fire(ErrorCategory::script, "invalid-arg", &w);
    if (!any)
        for (int32_t i = 0; i < count && cell_at(&words, words_head + i, &w); i++) {
            value_at(i, &v);
            if (type_of(&v) == TYPE_UNSET) fire(ErrorCategory::script, "need-value", &w);
        }
    for (int32_t i = 0; i < count && cell_at(&words, words_head + i, &w); i++) {
        value_at(i, &v);
        if (some && type_of(&v) == TYPE_NONE) continue;
        set_loop_word(&w, &v);
    }
}

void remove_each_drop(int32_t n) {
    if (logic::false_q(stack::arguments)) return;
    Cell* series = stack::arguments - 2;
    series->w1 -= uint32_t(n);
    // The remove action takes its part cell only above the series cell.
    Cell* target = stack::push(series);
    Cell* part = nullptr;
    if (n != 1) part = integer::push(n);
    Cell* result = actions::call_remove(target, part, nullptr);
    series->w1 = result->w1;
    stack::top = target;
}

bool forall_next(bool advance) {
    Cell* value = word::value_cell(stack::arguments - 1);
    if (advance) value->w1++;
    return !series_more_q(value);
}

void forall_end() { set_loop_word(stack::arguments - 1, stack::arguments - 2); }

void truncate_loop_count() {
    Cell* count = stack::arguments;
    if (type_of(count) == TYPE_FLOAT) integer::make_at(count, rt_support::float_to_integer(count));
}

void repeat_next(const Cell* word) {
    Cell* value = word::value_cell(word);
    if (type_of(value) != TYPE_INTEGER) return;
    value->w2++;  // unsigned: the step after the last count never overflows a signed int
    Node ctx = word->w1;
    if (ctx && _context::kind_of(_context::cell_of(ctx)) == 2) {
        Cell again = *value;
        set_loop_word(word, &again);
    }
}

}  // namespace zuv::natives
