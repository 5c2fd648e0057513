// time!: construction, text, fields and the arithmetic that differs from float!.
#include "runtime/datatypes/time.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "evaluator/backtrace.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::time {

namespace {

// The three field values of t.
double seconds_field(double t) { return std::fmod(t, SECONDS_PER_MINUTE); }

}  // namespace

// ---- cells ----

Cell* make_at(Cell* c, double seconds) { return float_::make_at_type(c, seconds, TYPE_TIME); }

Cell* push(double seconds) { return make_at(cell::begin(stack::push_raw()), seconds); }

Cell* make_in(const Cell* block, double seconds) { return make_at(cell::append_new_cell(block), seconds); }

// ---- fields ----

namespace {

// A time whose fields are no clock reading (infinite, NaN, or hours past
// the 32-bit integers): script out-of-range with the time.
[[noreturn]] void fire_no_fields(double t) {
    Cell value{};
    make_at(&value, t);
    fire(ErrorCategory::script, "out-of-range", &value);
}

}  // namespace

int32_t get_hours(double t) {
    int32_t hours;
    if (!float_::to_int32(t / SECONDS_PER_HOUR, &hours)) fire_no_fields(t);
    return hours;
}

int32_t get_minutes(double t) {
    if (float_::not_finite_q(t)) fire_no_fields(t);
    return int32_t(std::floor(std::fmod(std::fabs(t), SECONDS_PER_HOUR) / SECONDS_PER_MINUTE));
}

Cell* get_field(const Cell* value, int32_t index) {
    double t = get(value);
    if (float_::not_finite_q(t)) fire_no_fields(t);  // every field alike, the seconds too
    switch (index) {
    case 1: return integer::push(get_hours(t));
    case 2: return integer::push(get_minutes(t));
    default: return float_::push(seconds_field(t));
    }
}

int32_t field_index(const Cell* word, const Cell* owner) {
    int32_t s = symbol::resolve(int32_t(word->w2));
    if (s == symbol::resolve(sym::hour)) return 1;
    if (s == symbol::resolve(sym::minute)) return 2;
    if (s == symbol::resolve(sym::second)) return 3;
    if (owner != nullptr && type_of(owner) == TYPE_TIME) fire(ErrorCategory::script, "cannot-use", word, owner);
    return -1;
}

// ---- text ----

int32_t form_value(double t, Cell* buffer, int32_t part) {
    if (float_::not_finite_q(t)) {
        // No clock reading: the float text stands for the whole time.
        char text[float_::FORMAT_SIZE];
        int n = float_::format(t, float_::FORMAT_FLOAT, text);
        string::concatenate_literal(buffer, text);
        return part - n;
    }
    if (t < 0) {
        string::concatenate_literal(buffer, "-");
        t = -t;
    }
    // Hours may pass the 32-bit integers: written from the double, exactly.
    char hours[400];
    int hours_length = std::snprintf(hours, sizeof hours, "%.0f", std::floor(t / SECONDS_PER_HOUR));
    string::concatenate_literal(buffer, hours);

    int minutes = int(std::floor(std::fmod(t, SECONDS_PER_HOUR) / SECONDS_PER_MINUTE));
    char text[float_::FORMAT_SIZE + 8];
    std::snprintf(text, sizeof text, ":%02d:", minutes);
    string::concatenate_literal(buffer, text);

    double s = seconds_field(t);
    int seconds_length;
    if (s < SECONDS_EPSILON) {
        std::strcpy(text, "00");
        seconds_length = 2;
    } else {
        char digits[float_::FORMAT_SIZE];
        int n = float_::format(s, float_::FORMAT_TIME, digits);
        bool padded = n == 1 || digits[1] == '.';
        std::snprintf(text, sizeof text, "%s%s", padded ? "0" : "", digits);
        seconds_length = n + (padded ? 1 : 0);
    }
    string::concatenate_literal(buffer, text);
    return part - hours_length - 2 - seconds_length - 2;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return form_value(get(value), buffer, part); }

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
    return form_value(get(value), buffer, part);
}

// ---- make and to ----

Cell* make(Cell* proto, Cell* spec, int32_t) {
    double t = 0.0;
    switch (type_of(spec)) {
    case TYPE_TIME: t = get(spec); break;
    case TYPE_INTEGER: t = double(integer::get_value(spec)); break;
    case TYPE_FLOAT: case TYPE_PERCENT: t = float_::get(spec); break;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
        // [hours minutes seconds]: a negative first element makes the whole
        // time negative; the others must not be negative.
        SeriesBuffer* b = memory::buffer_of(spec->w2);
        int32_t head = std::max(int32_t(spec->w1), 0);
        int32_t count = std::max(memory::used_bytes(b) / int32_t(sizeof(Cell)) - head, 0);
        if (count > 3) fire_bad_to_arg(TYPE_TIME, spec);
        const Cell* items = memory::cells_head(b) + head;
        bool negative = false;
        const double scale[3] = {SECONDS_PER_HOUR, SECONDS_PER_MINUTE, 1.0};
        for (int32_t i = 0; i < count; i++) {
            const Cell* item = items + i;
            double n;
            if (type_of(item) == TYPE_INTEGER) n = double(integer::get_value(item));
            else if (i == 2 && type_of(item) == TYPE_FLOAT) n = float_::get(item);
            else fire_bad_to_arg(TYPE_TIME, spec);
            if (n < 0) {
                if (i > 0) fire_bad_to_arg(TYPE_TIME, spec);
                negative = true;
                n = -n;
            }
            t += n * scale[i];
        }
        if (negative) t = -t;
        break;
    }
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: {
        Cell* saved_top = stack::top;
        Cell* scanned = cell::begin(stack::push_raw());
        rt_support::scan_one_value(spec, scanned);
        if (type_of(scanned) != TYPE_TIME) return raise_bad_to_arg(TYPE_TIME, spec);
        t = get(scanned);
        stack::top = saved_top;
        break;
    }
    default: return raise_bad_to_arg(TYPE_TIME, spec);
    }
    return make_at(proto, t);
}

// ---- paths and pick ----

double set_field(double t, int32_t field, const Cell* value) {
    switch (field) {
    case 1:
        if (type_of(value) != TYPE_INTEGER) fire(ErrorCategory::script, "invalid-arg", value);
        return t - (std::floor(t / SECONDS_PER_HOUR) - integer::get_value(value)) * SECONDS_PER_HOUR;
    case 2:
        if (type_of(value) != TYPE_INTEGER) fire(ErrorCategory::script, "invalid-arg", value);
        return t - (std::floor(std::fmod(t, SECONDS_PER_HOUR) / SECONDS_PER_MINUTE) - integer::get_value(value)) *
                       SECONDS_PER_MINUTE;
    default: {
        double v;
        if (type_of(value) == TYPE_INTEGER) v = double(integer::get_value(value));
        else if (type_of(value) == TYPE_FLOAT) v = float_::get(value);
        else fire(ErrorCategory::script, "invalid-arg", value);
        return t - (seconds_field(t) - v);
    }
    }
}

void notify_holder(Cell* gparent, Cell* p_item, const Cell* old, Cell* parent) {
    // An object through its change handler, an owned series through its owner.
    if (gparent == nullptr || p_item == nullptr) return;
    if (type_of(gparent) == TYPE_OBJECT) {
        object::fire_on_change(gparent, p_item, old, parent);
    } else if (series::series_type_q(type_of(gparent)) && (memory::buffer_of(gparent->w2)->flags & SERIES_OWNED)) {
        int32_t index = type_of(p_item) == TYPE_INTEGER ? integer::get_value(p_item) - 1 : 0;
        ownership::check(gparent, &words::set_path, parent, index, 1);
    }
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t,
                bool, bool, bool, bool) {
    int32_t field = -1;
    if (type_of(element) == TYPE_INTEGER) field = integer::get_value(element);
    else if (type_of(element) == TYPE_WORD) field = field_index(element, nullptr);
    if (field < 1 || field > 3) fire(ErrorCategory::script, "invalid-path", path ? path : element, element);

    if (value == nullptr) return get_field(parent, field);

    double t = set_field(get(parent), field, value);
    Cell old = *parent;
    make_at(parent, t);
    notify_holder(gparent, p_item, &old, parent);
    return value;
}

const Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed != nullptr && type_of(boxed) == TYPE_WORD) index = field_index(boxed, value);
    if (index < 1 || index > 3) {
        if (boxed != nullptr) fire(ErrorCategory::script, "out-of-range", boxed);
        Cell n;
        integer::make_at(cell::begin(&n), index);
        fire(ErrorCategory::script, "out-of-range", &n);
    }
    return get_field(value, index);
}

// ---- arithmetic ----

void add() {
    if (type_of(stack::arguments + 1) == TYPE_DATE) {
        // A time plus a date is the date moved by the time: the date goes first.
        std::swap(stack::arguments[0], stack::arguments[1]);
        date::do_math(OP_ADD);
        return;
    }
    float_::do_math(OP_ADD);
}

void subtract() {
    if (type_of(stack::arguments + 1) == TYPE_DATE) return raise_not_related(&words::subtract, TYPE_TIME);
    float_::do_math(OP_SUB);
}

void multiply() {
    if (type_of(stack::arguments + 1) == TYPE_TIME) return raise_not_related(&words::multiply, TYPE_TIME);
    float_::do_math(OP_MUL);
}

void divide() {
    bool by_time = type_of(stack::arguments + 1) == TYPE_TIME;
    Cell* result = float_::do_math(OP_DIV);
    if (by_time) cell::set_type(result, TYPE_FLOAT);  // time / time is a ratio
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (series::given(scale, value) && type_of(scale) == TYPE_MONEY) {
        Cell datatype;
        datatype::make_at(&datatype, TYPE_MONEY);
        Cell function = stack::caller_word();
        fire(ErrorCategory::script, "not-related", &datatype, &function);
    }
    Cell* r = float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    double t = type_of(r) == TYPE_INTEGER ? double(integer::get_value(r)) : float_::get(r);
    return make_at(r, t);
}

namespace {

// The whole seconds within the minute, nudged by the threshold so that
// 1.9999995 counts as 2.
int64_t whole_seconds(const Cell* value) {
    double t = get(value);
    double s = t >= 0 ? t + SECONDS_EPSILON : t - SECONDS_EPSILON;
    double w = std::trunc(std::fmod(s, SECONDS_PER_MINUTE));
    return std::isnan(w) ? 0 : int64_t(w);
}

}  // namespace

bool even_q(Cell* value) { return (whole_seconds(value) & 1) == 0; }
bool odd_q(Cell* value) { return (whole_seconds(value) & 1) != 0; }

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &time::make>,
    INHERIT,                                  // random
    NONE,                                     // reflect
    slot<Act::to, &time::make>,
    slot<Act::form, &time::form>,
    slot<Act::mold, &time::mold>,
    slot<Act::eval_path, &time::eval_path>,
    NONE,                                     // (empty)
    INHERIT,                                  // compare
    INHERIT,                                  // absolute
    slot<Act::add, &time::add>,
    slot<Act::divide, &time::divide>,
    slot<Act::multiply, &time::multiply>,
    INHERIT,                                  // negate
    NONE,                                     // power
    INHERIT,                                  // remainder
    slot<Act::round, &time::round>,
    slot<Act::subtract, &time::subtract>,
    slot<Act::even_q, &time::even_q>,
    slot<Act::odd_q, &time::odd_q>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-29
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 30-38
    slot<Act::pick, &time::pick>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 40-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-61
    NONE,                                                              // 62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_TIME, TYPE_FLOAT, "time!", row); }

}  // namespace zuv::time
