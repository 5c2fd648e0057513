// tuple!: construction, byte arithmetic, text, paths and the registration row.
#include "runtime/datatypes/tuple.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "evaluator/random.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::tuple {

namespace {

// All the bytes of a tuple (zero past its size).
struct Bytes {
    uint8_t b[MAX_SIZE] = {};
    int32_t size = 0;
};

Bytes bytes_of(const Cell* c) {
    Bytes out;
    out.size = size_of(c);
    for (int32_t i = 0; i < out.size; i++) out.b[i] = uint8_t(byte_at(c, i));
    return out;
}

Cell* store(Cell* c, const Bytes& bytes) { return make_at(c, bytes.b, bytes.size); }

uint8_t clamp_byte(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A double truncated toward zero and clamped to 0..255 (NaN gives 0).
uint8_t clamp_double(double d) {
    if (!(d > 0.0)) return 0;
    return d >= 255.0 ? 255 : uint8_t(d);
}

}  // namespace

Cell* make_at(Cell* c, const uint8_t* bytes, int32_t count) {
    c->header = (c->header & ~(TYPE_MASK | lexer::TUPLE_SIZE_MASK)) | TYPE_UNSET;
    c->w1 = c->w2 = c->w3 = 0;
    uint32_t* words[3] = {&c->w1, &c->w2, &c->w3};
    for (int32_t i = 0; i < count; i++) *words[i >> 2] |= uint32_t(bytes[i]) << (8 * (i & 3));
    uint32_t size = uint32_t(std::max(count, 3));
    c->header |= size << lexer::TUPLE_SIZE_SHIFT;
    return cell::set_type(c, TYPE_TUPLE);
}

Cell* push(int32_t size, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell* c = cell::begin(stack::push_raw());
    c->w1 = w1;
    c->w2 = w2;
    c->w3 = w3;
    c->header |= uint32_t(std::clamp(size, 3, MAX_SIZE)) << lexer::TUPLE_SIZE_SHIFT;
    return cell::set_type(c, TYPE_TUPLE);
}

Cell* make_from_integers(Cell* c, const int32_t* values, int32_t count) {
    uint8_t bytes[MAX_SIZE] = {};
    count = std::clamp(count, 0, MAX_SIZE);
    for (int32_t i = 0; i < count; i++) bytes[i] = uint8_t(values[i]);
    return make_at(c, bytes, count);
}

bool from_hex(const uint8_t* text, int32_t count, int32_t unit, Cell* c) {
    if (count != 3 && count != 6 && count != 8) return false;
    int32_t digits[8];
    for (int32_t i = 0; i < count; i++) {
        digits[i] = string::hex_digit(string::get_char(text + int64_t(i) * unit, uint32_t(unit)));
        if (digits[i] < 0) return false;
    }
    uint8_t bytes[4];
    int32_t n = count == 3 ? 3 : count / 2;
    for (int32_t i = 0; i < n; i++)
        bytes[i] = count == 3 ? uint8_t(digits[i] * 17) : uint8_t(digits[2 * i] << 4 | digits[2 * i + 1]);
    make_at(c, bytes, n);
    return true;
}

bool zero_q(const Cell* c) {
    for (int32_t i = 0; i < size_of(c); i++)
        if (byte_at(c, i)) return false;
    return true;
}

// ---- arithmetic ----

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (type_of(left) != TYPE_TUPLE) {
        // A scalar op a tuple: only the operations whose order does not matter.
        if (op == OP_SUB || op == OP_DIV) {
            Cell word = op == OP_SUB ? words::subtract : words::divide;
            fire_not_related(&word, type_of(left));
        }
        std::swap(*left, *right);
    }
    Bytes a = bytes_of(left);
    switch (type_of(right)) {
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double f = float_::get(right);
            for (int32_t i = 0; i < a.size; i++) a.b[i] = clamp_double(float_::compute(double(a.b[i]), f, op));
            return store(left, a);
        }
        case TYPE_INTEGER:
        case TYPE_TUPLE: {
            bool by_tuple = type_of(right) == TYPE_TUPLE;
            Bytes b = by_tuple ? bytes_of(right) : Bytes{};
            int32_t n = by_tuple ? 0 : integer::get_value(right);
            int32_t size = std::max(a.size, b.size);
            for (int32_t i = 0; i < size; i++) {
                int32_t x = a.b[i], y = by_tuple ? b.b[i] : n;
                if (op == OP_DIV) {
                    a.b[i] = clamp_byte(integer::do_math(x, y, OP_DIV, nullptr));
                    continue;
                }
                Cell r{TYPE_INTEGER, 0, 0, 0};
                integer::do_math(x, y, op, &r);
                a.b[i] = type_of(&r) == TYPE_INTEGER ? clamp_byte(integer::get_value(&r))
                                                     : (float_::get(&r) > 0.0 ? 255 : 0);
            }
            a.size = size;
            return store(left, a);
        }
        default: fire_with_datatype("invalid-type", type_of(right));
    }
}

namespace {

Cell* complement(Cell* value) {
    Bytes a = bytes_of(value);
    for (int32_t i = 0; i < a.size; i++) a.b[i] = uint8_t(255 - a.b[i]);
    return store(value, a);
}

int32_t length_q(Cell* value) { return size_of(value); }

// ---- make and to ----

Cell* to(Cell* proto, Cell* spec, int32_t) {
    uint32_t st = type_of(spec);
    switch (st) {
        case TYPE_TUPLE: return spec;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: {
            int32_t count = std::max(block::zs_length_q(spec), 0);
            if (count > MAX_SIZE) fire_bad_to_arg(TYPE_TUPLE, spec);
            const Cell* items = block::zs_head(spec);
            uint8_t bytes[MAX_SIZE] = {};
            for (int32_t i = 0; i < count; i++) {
                const Cell* item = items + i;
                double v;
                switch (type_of(item)) {
                    case TYPE_INTEGER: case TYPE_CHAR: v = double(int32_t(item->w2)); break;
                    case TYPE_FLOAT: v = std::trunc(float_::get(item)); break;
                    default: fire_bad_to_arg(TYPE_TUPLE, spec);
                }
                if (!(v >= 0.0 && v <= 255.0)) fire_bad_to_arg(TYPE_TUPLE, spec);  // NaN fails too
                bytes[i] = uint8_t(v);
            }
            return make_at(cell::begin(proto), bytes, count);
        }
        case TYPE_ISSUE: {
            int32_t id = int32_t(spec->w2);
            Cell made{};
            if (!from_hex(symbol::name_of(id), symbol::name_length(id), 1, &made))
                fire(ErrorCategory::script, "invalid-data", spec);
            return copy_cell(&made, proto);
        }
        case TYPE_BINARY: {
            SeriesBuffer* s = memory::buffer_of(spec->w2);
            int32_t head = int32_t(spec->w1);
            int32_t length = memory::used_bytes(s) - head;
            if (head < 0 || length < 0) length = 0;
            length = std::min(length, MAX_SIZE);
            uint8_t bytes[MAX_SIZE] = {};
            if (length) std::memcpy(bytes, memory::head_of(s) + head, size_t(length));
            return make_at(cell::begin(proto), bytes, length);
        }
        default: {
            if (!string::any_string_q(st)) fire_bad_to_arg(TYPE_TUPLE, spec);
            Cell* saved_top = stack::top;
            Cell* scanned = cell::begin(stack::push_raw());
            rt_support::scan_one_value(spec, scanned);
            if (type_of(scanned) != TYPE_TUPLE) fire_bad_to_arg(TYPE_TUPLE, spec);
            Cell made = *scanned;
            stack::top = saved_top;
            return copy_cell(&made, proto);
        }
    }
}

// ---- random ----

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zuv::random::seed(value->w1 ^ value->w2 ^ value->w3);
        return unset::make_at(value);
    }
    Bytes a = bytes_of(value);
    for (int32_t i = 0; i < a.size; i++) a.b[i] = uint8_t(zuv::random::uniform_int(secure, a.b[i] + 1) - 1);
    return store(value, a);
}

// ---- text ----

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    int32_t written = 0;
    for (int32_t i = 0; i < size_of(value); i++) {
        if (i) string::concatenate_literal(buffer, ".");
        char text[integer::TEXT_SIZE];
        written += integer::to_text(int32_t(byte_at(value, i)), text) + (i ? 1 : 0);
        string::concatenate_literal(buffer, text);
    }
    return part - written;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

// ---- compare ----

int32_t compare(Cell* value1, Cell* value2, int32_t) {
    if (type_of(value2) != TYPE_TUPLE) return COMPARE_INCOMPARABLE;
    int32_t size = std::max(size_of(value1), size_of(value2));
    for (int32_t i = 0; i < size; i++) {
        uint32_t a = byte_at(value1, i), b = byte_at(value2, i);
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

// ---- paths and pick ----

// The 1-based index of an integer! selector, checked against the size.
int32_t checked_index(const Cell* value, const Cell* selector) {
    if (type_of(selector) != TYPE_INTEGER) fire_with_datatype("invalid-type", type_of(selector));
    int32_t index = integer::get_value(selector);
    if (index < 1 || index > size_of(value)) fire(ErrorCategory::script, "out-of-range", selector);
    return index;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int32_t, bool,
                bool, bool, bool) {
    if (value == nullptr) return integer::push(int32_t(byte_at(parent, checked_index(parent, element) - 1)));

    uint32_t vt = type_of(value);
    if (vt != TYPE_INTEGER && vt != TYPE_NONE) fire_with_datatype("invalid-type", vt);
    int32_t index = checked_index(parent, element);
    Bytes a = bytes_of(parent);
    if (vt == TYPE_INTEGER) {
        a.b[index - 1] = clamp_byte(integer::get_value(value));
    } else {  // none cuts the tuple before the index
        for (int32_t i = index - 1; i < MAX_SIZE; i++) a.b[i] = 0;
        a.size = index - 1;
    }
    store(parent, a);
    return value;
}

const Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed != nullptr && type_of(boxed) != TYPE_INTEGER && type_of(boxed) != TYPE_CHAR &&
        type_of(boxed) != TYPE_LOGIC)
        fire_with_datatype("invalid-type", type_of(boxed));
    if (index < 1 || index > size_of(value)) {
        Cell i;
        integer::make_at(cell::begin(&i), index);
        fire(ErrorCategory::script, "out-of-range", boxed != nullptr && type_of(boxed) == TYPE_INTEGER ? boxed : &i);
    }
    return integer::push(int32_t(byte_at(value, index - 1)));
}

// Reverses the first length bytes, or records of skip bytes within them.
Cell* reverse(Cell* value, Cell* part, Cell* skip) {
    Bytes a = bytes_of(value);
    int32_t length = a.size;
    if (series::given(part, value)) {
        if (type_of(part) != TYPE_INTEGER) series::fire_refine_arg(refinements::part, part);
        int32_t n = integer::get_value(part);
        if (n < 0) fire(ErrorCategory::script, "out-of-range", part);
        length = std::min(n, length);
    }
    int32_t record = 1;
    if (series::given(skip, value)) {
        if (type_of(skip) != TYPE_INTEGER) series::fire_refine_arg(refinements::skip, skip);
        record = integer::get_value(skip);
        if (record == length) return value;
        if (record < 1) fire(ErrorCategory::script, "out-of-range", skip);
        if (record > length || length % record != 0) series::fire_refine_arg(refinements::skip, skip);
    }
    for (int32_t front = 0, back = length - record; front < back; front += record, back -= record)
        for (int32_t k = 0; k < record; k++) std::swap(a.b[front + k], a.b[back + k]);
    return store(value, a);
}

// ---- registration ----

constexpr SlotEntry row[] = {
    slot<Act::make, &tuple::to>,
    slot<Act::random, &tuple::random>,
    NONE,                                   // reflect
    slot<Act::to, &tuple::to>,
    slot<Act::form, &tuple::form>,
    slot<Act::mold, &tuple::mold>,
    slot<Act::eval_path, &tuple::eval_path>,
    NONE,                                   // (empty)
    slot<Act::compare, &tuple::compare>,
    NONE,                                   // absolute
    slot<Act::add, &math_action<&do_math, OP_ADD>>,
    slot<Act::divide, &math_action<&do_math, OP_DIV>>,
    slot<Act::multiply, &math_action<&do_math, OP_MUL>>,
    NONE, NONE,                             // negate power
    slot<Act::remainder, &math_action<&do_math, OP_REM>>,
    NONE,                                   // round
    slot<Act::subtract, &math_action<&do_math, OP_SUB>>,
    NONE, NONE,                             // even? odd?
    slot<Act::and_t, &math_action<&do_math, OP_AND>>,
    slot<Act::complement, &tuple::complement>,
    slot<Act::or_t, &math_action<&do_math, OP_OR>>,
    slot<Act::xor_t, &math_action<&do_math, OP_XOR>>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 25-34
    NONE,                                                        // 35
    slot<Act::length_q, &tuple::length_q>,
    NONE, NONE,                                                  // 37-38
    slot<Act::pick, &tuple::pick>,
    NONE, NONE, NONE,                                            // 40-42
    slot<Act::reverse, &tuple::reverse>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 44-53
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,        // 54-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_TUPLE, 0, "tuple!", row); }

}  // namespace zuv::tuple
