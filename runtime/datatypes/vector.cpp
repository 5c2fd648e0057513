// vector! elements, the make dialect, text forms, comparison, editing,
// element-wise arithmetic and the registration of the row.
//
// Editing gathers the new elements' bytes in a C++ vector first (after the
// kind check of every value), then splices them in one step, so a refused
// value leaves the series as it was.
#include "runtime/datatypes/vector.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/string_internal.hpp"
#include "runtime/fire.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::vector {

namespace {

using string::detail::notify;

[[noreturn]] void fire_invalid_spec_field(const Cell* spec) {
    fire(ErrorCategory::script, "invalid-spec-field", spec);
}

bool float_kind_q(uint32_t kind) { return kind == TYPE_FLOAT || kind == TYPE_PERCENT; }
int32_t default_width(uint32_t kind) { return float_kind_q(kind) ? 8 : 4; }

int32_t head_index(const Cell* v) { return std::max(int32_t(v->w1), 0); }
int32_t total_of(const Cell* v) { return memory::length_of(memory::buffer_of(v->w2)); }
int32_t clamp_head(Cell* v) {
    int32_t total = total_of(v);
    v->w1 = uint32_t(std::clamp(int32_t(v->w1), 0, total));
    return int32_t(v->w1);
}
// Address of element i counted from the buffer's first element (valid until the next allocation).
uint8_t* element_address(const Cell* v, int64_t i) {
    SeriesBuffer* s = memory::buffer_of(v->w2);
    return memory::head_of(s) + i * memory::unit_of(s);
}

// Integers read sign-extended; characters zero-extended (an 8-bit char
// vector holds Latin-1, a 16-bit one the first plane).
int32_t read_int(const uint8_t* p, int32_t width, uint32_t kind) {
    switch (width) {
    case 1: return kind == TYPE_CHAR ? int32_t(*p) : int32_t(int8_t(*p));
    case 2: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return kind == TYPE_CHAR ? int32_t(v) : int32_t(int16_t(v));
    }
    default: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}

void write_int(uint8_t* p, int32_t width, uint32_t v) {
    switch (width) {
    case 1: *p = uint8_t(v); break;
    case 2: { uint16_t w = uint16_t(v); std::memcpy(p, &w, 2); break; }
    default: std::memcpy(p, &v, 4); break;
    }
}

double read_float(const uint8_t* p, int32_t width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return double(f);
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

// The double rounded to binary32; a finite value beyond the float range
// rounds to the largest float or to an infinity as IEEE rounding does (the
// plain conversion would be undefined).
float to_binary32(double d) {
    constexpr double HALF_ULP_PAST_MAX = 3.4028235677973366e38;  // FLT_MAX + half its last place
    if (std::isfinite(d) && std::fabs(d) > double(FLT_MAX)) {
        float f = std::fabs(d) >= HALF_ULP_PAST_MAX ? INFINITY : FLT_MAX;
        return d < 0 ? -f : f;
    }
    return float(d);
}

void write_float(uint8_t* p, int32_t width, double d) {
    if (width == 4) {
        float f = to_binary32(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

// The integer rule: add, subtract and multiply wrap to 32 bits; divide and
// remainder are integer!'s (zero-divide, and overflow for -2147483648 by -1);
// or, and, xor are bitwise.
int32_t int_op(int32_t a, int32_t b, int32_t op) {
    switch (op) {
    case OP_ADD: return int32_t(uint32_t(a) + uint32_t(b));
    case OP_SUB: return int32_t(uint32_t(a) - uint32_t(b));
    case OP_MUL: return int32_t(uint32_t(a) * uint32_t(b));
    default: return integer::do_math(a, b, op, nullptr);
    }
}

bool block_like_q(uint32_t type) { return type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH; }

// The cells of a block value from its head (at most limit; limit < 0: all), copied out.
std::vector<Cell> cells_of(const Cell* block, int64_t limit = -1) {
    SeriesBuffer* b = memory::buffer_of(block->w2);
    int32_t total = memory::used_bytes(b) / int32_t(sizeof(Cell));
    int32_t head = std::clamp(int32_t(block->w1), 0, total);
    int64_t n = total - head;
    if (limit >= 0 && limit < n) n = limit;
    const Cell* first = memory::cells_head(b) + head;
    return std::vector<Cell>(first, first + n);
}

// The values' bytes at the vector's width, each checked against the kind first.
std::vector<uint8_t> encode(const Cell* v, const std::vector<Cell>& values) {
    for (const Cell& value : values) check_kind(v, &value);
    int32_t width = width_of(v);
    std::vector<uint8_t> bytes(values.size() * size_t(width));
    for (size_t i = 0; i < values.size(); i++) store_element(bytes.data() + i * size_t(width), width, &values[i]);
    return bytes;
}

// The kind a dialect word names (integer!, char!, float!, percent!), or 0.
uint32_t kind_named(const Cell* word) {
    int32_t id = symbol::resolve(int32_t(word->w2));
    for (uint32_t kind : {TYPE_INTEGER, TYPE_CHAR, TYPE_FLOAT, TYPE_PERCENT}) {
        const Cell& name = datatype::type_names[kind].word;
        if (name.w2 != 0 && symbol::resolve(int32_t(name.w2)) == id) return kind;
    }
    return 0;
}

}  // namespace

// ---- elements ----

int32_t zs_length_q(const Cell* v) { return std::max(total_of(v) - head_index(v), 0); }

Cell* make_at(Cell* c, int32_t n, uint32_t kind, int32_t width) {
    Node node = memory::alloc_series(std::max(n, 1), width, 0);
    cell::begin(c)->w2 = node;
    c->w3 = kind;
    return cell::set_type(c, TYPE_VECTOR);
}

Cell* element_value(const uint8_t* p, int32_t width, uint32_t kind, Cell* out) {
    cell::begin(out);
    if (float_kind_q(kind)) {
        cell::put_float(out, read_float(p, width));
    } else {
        out->w2 = uint32_t(read_int(p, width, kind));
    }
    return cell::set_type(out, kind);
}

void store_element(uint8_t* p, int32_t width, const Cell* value) {
    switch (type_of(value)) {
    case TYPE_CHAR: case TYPE_INTEGER: write_int(p, width, value->w2); break;
    case TYPE_FLOAT: case TYPE_PERCENT: write_float(p, width, cell::get_float(value)); break;
    default: fire_with_datatype("invalid-type", type_of(value));
    }
}

void check_kind(const Cell* v, const Cell* value) {
    if (type_of(value) != kind_of(v)) fire(ErrorCategory::script, "invalid-arg", value);
}

void to_block(const Cell* v, const Cell* block) {
    const Cell source = *v;
    int32_t n = zs_length_q(&source);
    for (int32_t i = 0; i < n; i++) {
        Cell element;
        // The element is read again each time: appending to the block may move buffers.
        element_value(element_address(&source, head_index(&source) + i), width_of(&source), kind_of(&source),
                      &element);
        block::append_cell(block, &element);
    }
}

// ---- arithmetic ----

Cell* do_math_scalar(int32_t op, Cell* v, const Cell* scalar, bool swapped) {
    const uint32_t kind = kind_of(v);
    const int32_t width = width_of(v);
    const int32_t n = zs_length_q(v), head = head_index(v);
    if (float_kind_q(kind)) {
        double s;
        switch (type_of(scalar)) {
        case TYPE_INTEGER: s = double(integer::get_value(scalar)); break;
        case TYPE_FLOAT: case TYPE_PERCENT: s = cell::get_float(scalar); break;
        default: fire_not_done();
        }
        if (!swapped && ((s == 0.0 && (op == OP_ADD || op == OP_SUB)) || (s == 1.0 && (op == OP_MUL || op == OP_DIV))))
            return v;
        if (op > OP_REM) float_::compute(0.0, 0.0, op);  // and~, or~, xor~: cannot-use
        for (int32_t i = 0; i < n; i++) {
            uint8_t* p = element_address(v, head + i);
            double d = read_float(p, width);
            write_float(p, width, swapped ? float_::compute(s, d, op) : float_::compute(d, s, op));
        }
        return v;
    }
    int32_t s;
    switch (type_of(scalar)) {
    case TYPE_INTEGER: case TYPE_CHAR: s = int32_t(scalar->w2); break;
    case TYPE_FLOAT: case TYPE_PERCENT:
        if (!float_::to_int32(cell::get_float(scalar), &s)) fire(ErrorCategory::math, "overflow");
        break;
    default: fire_not_done();
    }
    if (!swapped && ((s == 0 && (op == OP_ADD || op == OP_SUB)) || (s == 1 && (op == OP_MUL || op == OP_DIV))))
        return v;
    for (int32_t i = 0; i < n; i++) {
        uint8_t* p = element_address(v, head + i);
        int32_t a = read_int(p, width, kind);
        write_int(p, width, uint32_t(swapped ? int_op(s, a, op) : int_op(a, s, op)));
    }
    return v;
}

namespace {

// vector op vector into a new buffer, or vector op scalar in place; the
// result replaces the first argument.
void do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (type_of(right) != TYPE_VECTOR) {
        do_math_scalar(op, left, right);
        return;
    }
    const uint32_t kind = kind_of(left);
    if (kind != kind_of(right)) fire(ErrorCategory::script, "not-same-type");
    const int32_t n = std::min(zs_length_q(left), zs_length_q(right));
    const int32_t w1 = width_of(left), w2 = width_of(right), width = std::max(w1, w2);
    std::vector<uint8_t> out(size_t(n) * size_t(width));
    for (int32_t i = 0; i < n; i++) {
        const uint8_t* a = element_address(left, head_index(left) + i);
        const uint8_t* b = element_address(right, head_index(right) + i);
        uint8_t* r = out.data() + size_t(i) * size_t(width);
        if (float_kind_q(kind)) {
            write_float(r, width, float_::compute(read_float(a, w1), read_float(b, w2), op));
        } else {
            write_int(r, width, uint32_t(int_op(read_int(a, w1, kind), read_int(b, w2, kind), op)));
        }
    }
    if (n == 0 && op > OP_REM && float_kind_q(kind)) float_::compute(0.0, 0.0, op);
    make_at(left, n, kind, width);
    SeriesBuffer* s = memory::buffer_of(left->w2);
    if (!out.empty()) std::memcpy(memory::head_of(s), out.data(), out.size());
    s->tail = s->head + int32_t(out.size());
}


// ---- make ----

// proto := a vector of the kind and width holding the values, then zero
// elements up to size.
Cell* build(Cell* proto, uint32_t kind, int32_t width, int64_t size, const std::vector<Cell>& values) {
    if (int64_t(values.size()) >= size) size = int64_t(values.size());
    if (size > INT32_MAX) fire(ErrorCategory::internal, "no-memory");
    for (const Cell& value : values)
        if (type_of(&value) != kind) fire(ErrorCategory::script, "invalid-arg", &value);
    int64_t bytes;
    if (__builtin_mul_overflow(size, int64_t(width), &bytes) || bytes > INT32_MAX)
        fire(ErrorCategory::internal, "no-memory");
    make_at(proto, int32_t(std::max<int64_t>(size, 1)), kind, width);
    SeriesBuffer* s = memory::buffer_of(proto->w2);
    uint8_t* p = memory::head_of(s);
    std::memset(p, 0, size_t(std::max<int64_t>(size, 0)) * size_t(width));
    for (size_t i = 0; i < values.size(); i++) store_element(p + i * size_t(width), width, &values[i]);
    s->tail = s->head + int32_t(std::max<int64_t>(size, 0) * width);
    return proto;
}

Cell* make(Cell* proto, Cell* spec, int32_t) {
    switch (type_of(spec)) {
    case TYPE_INTEGER: return build(proto, TYPE_INTEGER, 4, integer::get_value(spec), {});
    case TYPE_FLOAT: {
        int32_t n;
        if (!float_::to_int32(cell::get_float(spec), &n)) fire(ErrorCategory::script, "out-of-range", spec);
        return build(proto, TYPE_INTEGER, 4, n, {});
    }
    case TYPE_BLOCK: break;
    default: fire_not_done();
    }
    const Cell block = *spec;
    std::vector<Cell> items = cells_of(&block);
    if (items.empty()) return build(proto, TYPE_INTEGER, 4, 0, {});
    if (type_of(&items[0]) != TYPE_WORD) {
        // [1 2 3]: the first value's type is the kind.
        uint32_t kind = type_of(&items[0]);
        if (kind != TYPE_INTEGER && kind != TYPE_CHAR && !float_kind_q(kind)) fire_with_datatype("invalid-type", kind);
        return build(proto, kind, default_width(kind), 0, items);
    }
    // The dialect: kind bits [size] [values].
    if (items.size() < 2) fire_with_datatype("bad-make-arg", TYPE_VECTOR, &block);
    uint32_t kind = kind_named(&items[0]);
    if (kind == 0) fire_with_datatype("bad-make-arg", TYPE_VECTOR, &block);
    size_t i = 1;
    int32_t width;
    if (type_of(&items[1]) == TYPE_INTEGER) {
        int32_t bits = integer::get_value(&items[1]);
        bool valid = kind == TYPE_PERCENT || (float_kind_q(kind) ? bits == 32 || bits == 64
                                                                   : bits == 8 || bits == 16 || bits == 32);
        if (!valid) fire_with_datatype("bad-make-arg", TYPE_VECTOR, &block);
        width = kind == TYPE_PERCENT ? 8 : bits / 8;
        i = 2;
    } else if (kind == TYPE_PERCENT) {
        width = 8;  // no bit count: the value is the size or the values
    } else {
        fire_invalid_spec_field(&block);
    }
    int64_t size = 0;
    std::vector<Cell> values;
    if (i < items.size()) {
        if (type_of(&items[i]) == TYPE_INTEGER) {
            size = integer::get_value(&items[i]);
            i++;
            if (i < items.size()) {
                if (type_of(&items[i]) != TYPE_BLOCK) fire_invalid_spec_field(&block);
                values = cells_of(&items[i]);
            }
        } else if (type_of(&items[i]) == TYPE_BLOCK) {
            values = cells_of(&items[i]);
        } else {
            fire_invalid_spec_field(&block);
        }
    }
    return build(proto, kind, width, size, values);
}

// ---- text forms ----

bool limit_given(const Cell* arg) { return series::given(arg, stack::arguments) && type_of(arg) == TYPE_INTEGER; }

// The elements from the head, one space apart.
int32_t write_elements(const Cell* v, Cell* buffer, bool mold, bool limited, int32_t part) {
    const Cell source = *v;
    const uint32_t kind = kind_of(&source);
    const int32_t width = width_of(&source);
    const int32_t n = zs_length_q(&source);
    for (int32_t i = 0; i < n; i++) {
        if (limited && part < 1) return part;
        if (i > 0) {
            string::append_char(buffer, ' ');
            part--;
        }
        // Re-read through the node: the output may have grown into a collection.
        const uint8_t* p = element_address(&source, head_index(&source) + i);
        if (kind == TYPE_CHAR) {
            uint32_t cp = uint32_t(read_int(p, width, kind));
            if (mold) {
                string::append_c_string(buffer, "#\"");
                string::append_escaped_char(buffer, cp, false);
                string::append_char(buffer, '"');
                part -= 4;
            } else {
                string::append_char(buffer, cp);
                part -= 1;
            }
            continue;
        }
        char text[float_::FORMAT_SIZE];
        int length;
        if (kind == TYPE_INTEGER) {
            char digits[integer::TEXT_SIZE];
            length = integer::to_text(read_int(p, width, kind), digits);
            std::memcpy(text, digits, size_t(length) + 1);
        } else if (kind == TYPE_FLOAT) {
            length = float_::format(read_float(p, width), width == 4 ? float_::FORMAT_VECTOR32 : float_::FORMAT_FLOAT,
                                    text);
        } else {
            length = float_::format(read_float(p, width) * 100.0,
                                    width == 4 ? float_::FORMAT_VECTOR32_PERCENT : float_::FORMAT_PERCENT, text);
        }
        string::append_c_string(buffer, text);
        part -= length;
    }
    return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return write_elements(value, buffer, false, limit_given(arg), part);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool, Cell* arg, int32_t part, int32_t) {
    const bool limited = limit_given(arg);
    const uint32_t kind = kind_of(value);
    const int32_t width = width_of(value);
    auto literal = [&](const char* text) {
        string::append_c_string(buffer, text);
        part -= int32_t(std::strlen(text));
    };
    if (!only) literal("make vector! [");
    if (zs_length_q(value) > 0 && width == default_width(kind)) {
        part = write_elements(value, buffer, true, limited, part);
        if (!only) literal("]");
        return part;
    }
    char bits[integer::TEXT_SIZE];
    integer::to_text(width * 8, bits);
    literal(datatype::TYPE_NAMES[kind]);
    literal(" ");
    literal(bits);
    literal(" [");
    part = write_elements(value, buffer, true, limited, part);
    literal(only ? "]" : "]]");
    return part;
}

// ---- comparison ----

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_VECTOR) return COMPARE_INCOMPARABLE;
    const uint32_t kind = kind_of(value1);
    if (kind != kind_of(value2)) fire(ErrorCategory::script, "not-same-type");
    const bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (value1->w2 == value2->w2 && head_index(value1) == head_index(value2)) {
        if (op == COMP_SAME || equality) return 0;
    } else if (op == COMP_SAME) {
        return -1;
    }
    const int32_t n1 = zs_length_q(value1), n2 = zs_length_q(value2);
    if (n1 != n2 && equality) return 1;
    const int32_t w1 = width_of(value1), w2 = width_of(value2);
    for (int32_t i = 0; i < std::min(n1, n2); i++) {
        const uint8_t* a = element_address(value1, head_index(value1) + i);
        const uint8_t* b = element_address(value2, head_index(value2) + i);
        if (float_kind_q(kind)) {
            double x = read_float(a, w1), y = read_float(b, w2);
            if (std::isnan(x) || std::isnan(y)) return 0;
            if (x != y) return x < y ? -1 : 1;
        } else {
            int32_t x = read_int(a, w1, kind), y = read_int(b, w2, kind);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return n1 == n2 ? 0 : n1 < n2 ? -1 : 1;
}

// ---- editing ----

// append and insert: the values (a block's cells or one value), dup times,
// at the tail (append, or a head at the tail) or at the head.
Cell* append(Cell* series, Cell* value, int32_t part, bool, int32_t dup, bool append_flag) {
    clamp_head(series);
    std::vector<Cell> values;
    if (block_like_q(type_of(value))) {
        values = cells_of(value, part >= 0 ? part : -1);
    } else {
        values.push_back(*value);
    }
    if (values.empty() || dup < 1) return series;
    std::vector<uint8_t> bytes = encode(series, values);  // raises before anything changes
    int64_t count;
    if (__builtin_mul_overflow(int64_t(values.size()), int64_t(dup), &count) || count > INT32_MAX)
        fire(ErrorCategory::internal, "no-memory");
    int32_t at = append_flag ? total_of(series) : clamp_head(series);
    bool owned = notify(series, append_flag ? words::append : words::insert, value, at, int32_t(count));
    if (owned) at = append_flag ? total_of(series) : clamp_head(series);
    const int32_t width = width_of(series);
    binary::splice_bytes(series, at * width, 0, bytes, dup);
    if (!append_flag) series->w1 = uint32_t(at + count);
    if (owned) notify(series, append_flag ? words::appended : words::inserted, value, at, int32_t(count));
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    int32_t head = clamp_head(series);
    const int32_t width = width_of(series);
    std::vector<uint8_t> bytes;
    int64_t count;
    if (series::any_block_q(type_of(value))) {
        std::vector<Cell> values = cells_of(value);
        bytes = encode(series, values);
        count = int64_t(values.size());
    } else if (type_of(value) == TYPE_VECTOR) {
        // Raw elements: the same kind and width only.
        if (kind_of(value) != kind_of(series) || width_of(value) != width)
            fire(ErrorCategory::script, "invalid-arg", value);
        count = zs_length_q(value);
        const uint8_t* p = element_address(value, head_index(value));
        bytes.assign(p, p + count * width);
    } else {
        bytes = encode(series, {*value});
        count = 1;
    }
    if (dup < 1) dup = 1;
    int64_t total;
    if (__builtin_mul_overflow(count, int64_t(dup), &total) || total > INT32_MAX)
        fire(ErrorCategory::internal, "no-memory");
    int64_t replaced = std::min<int64_t>(part >= 0 ? part : total, total_of(series) - head);
    bool owned = notify(series, words::change, value, head, int32_t(replaced));
    if (owned) {
        head = clamp_head(series);
        replaced = std::min<int64_t>(replaced, total_of(series) - head);
    }
    binary::splice_bytes(series, head * width, int32_t(replaced * width), bytes, dup);
    series->w1 = uint32_t(std::min<int64_t>(head + total, total_of(series)));
    if (owned) notify(series, words::changed, value, head, int32_t(total));
    return series;
}

constexpr SlotEntry row[] = {
    slot<Act::make, &make>,
    INHERIT, INHERIT,                                 // random reflect
    NONE,                                             // to
    slot<Act::form, &form>,
    slot<Act::mold, &mold>,
    INHERIT,                                          // eval-path
    NONE,                                             // (empty)
    slot<Act::compare, &compare>,
    NONE,                                             // absolute
    slot<Act::add, &math_action<&do_math, OP_ADD>>,
    slot<Act::divide, &math_action<&do_math, OP_DIV>>,
    slot<Act::multiply, &math_action<&do_math, OP_MUL>>,
    NONE, NONE,                                       // negate power
    slot<Act::remainder, &math_action<&do_math, OP_REM>>,
    NONE,                                             // round
    slot<Act::subtract, &math_action<&do_math, OP_SUB>>,
    NONE, NONE,                                       // even? odd?
    slot<Act::and_t, &math_action<&do_math, OP_AND>>,
    NONE,                                             // complement
    slot<Act::or_t, &math_action<&do_math, OP_OR>>,
    slot<Act::xor_t, &math_action<&do_math, OP_XOR>>,
    slot<Act::append, &append>,
    INHERIT, INHERIT,                                 // at back
    slot<Act::change, &change>,
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,  // clear copy find head head? index?
    slot<Act::insert, &append>,
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,      // length? move next pick poke
    NONE,                                             // put
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,      // remove reverse select sort skip
    NONE,                                             // swap
    INHERIT, INHERIT, INHERIT,                        // tail tail? take
    NONE,                                             // trim
    NONE, NONE, NONE,                                 // create close delete
    INHERIT,                                          // modify
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,         // open ... write
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_VECTOR, TYPE_STRING, "vector!", row); }

}  // namespace zuv::vector
