// bitset!: construction from specs, the set operations, the series-like
// actions, comparison, text and the registration row.
//
// Every function re-reads the buffer through the value's node after anything
// that may allocate (growth, a new bitset, an owner's change handler).
#include "runtime/datatypes/bitset.hpp"

#include <algorithm>
#include <cstring>

#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/ownership.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::bitset {

namespace {

// The highest bit a bitset may name: its byte count must stay well inside
// the 32-bit sizes of series buffers.
constexpr int64_t MAX_BIT = (int64_t(1) << 31) - 64;

inline uint8_t* bytes_of(SeriesBuffer* s) { return s->data() + s->head; }

[[noreturn]] void fire_out_of_range(const Cell* value) { fire(ErrorCategory::script, "out-of-range", value); }
[[noreturn]] void fire_past_end() { fire(ErrorCategory::script, "past-end"); }

// Stores the byte of bit i, growing the storage (new bytes 0xFF when
// complemented, else 0x00). Answers the buffer current afterwards.
SeriesBuffer* grow_to_bit(const Cell* bits, int64_t i) {
    SeriesBuffer* s = buffer(bits);
    int32_t need = int32_t((i >> 3) + 1);
    int32_t have = byte_count(s);
    if (need <= have) return s;
    uint8_t fill = complemented_q(s) ? 0xFF : 0x00;
    if (s->head + need > s->size) {
        int64_t size = std::max<int64_t>(int64_t(s->size) * 2, int64_t(s->head) + need);
        s = memory::expand_series_filled(bits->w2, size, fill);
    }
    std::memset(s->data() + s->tail, fill, size_t(need - have));
    s->tail = s->head + need;
    return s;
}

// The inclusive range low..high under op (SET, TEST, CLEAR); see the rules
// of each below.
int32_t process_range(const Cell* bits, int64_t low, int64_t high, int32_t op) {
    SeriesBuffer* s = buffer(bits);
    bool comp = complemented_q(s);
    int64_t stored_bits = int64_t(byte_count(s)) * 8;
    switch (op) {
        case SET:
            if (comp && high >= stored_bits) {
                // The bits beyond the storage read as set already; those
                // inside it are set here.
                high = stored_bits - 1;
                if (low > high) return 1;
            }
            s = grow_to_bit(bits, high);
            for (int64_t i = low; i <= high; i++) bytes_of(s)[i >> 3] |= uint8_t(0x80u >> (i & 7));
            return 1;
        case TEST:
            if (high < 0 || low >= stored_bits) return comp ? 1 : 0;
            for (int64_t i = std::max<int64_t>(low, 0); i <= high; i++) {
                if (i >= stored_bits) return comp ? 1 : 0;
                if (!(bytes_of(s)[i >> 3] & (0x80u >> (i & 7)))) return 0;
            }
            return 1;
        default:  // CLEAR
            if (!comp && high >= stored_bits) {
                high = stored_bits - 1;  // nothing beyond the storage is set
                if (low > high) return 0;
            }
            if (comp) s = grow_to_bit(bits, high);
            for (int64_t i = low; i <= high; i++) bytes_of(s)[i >> 3] &= uint8_t(~(0x80u >> (i & 7)));
            return 1;
    }
}

// The bit index a char!, integer! or float! names (a float truncated toward
// zero); a negative or too large one raises out-of-range unless testing.
bool bit_index(const Cell* v, int32_t op, int64_t* out) {
    int64_t i;
    switch (type_of(v)) {
        case TYPE_CHAR: i = int64_t(v->w2); break;
        case TYPE_INTEGER: i = integer::get_value(v); break;
        default: {
            double d = cell::get_float(v);
            if (!(d > -2147483649.0 && d < 2147483648.0)) {
                if (op == TEST) return false;
                fire_out_of_range(v);
            }
            i = int64_t(d);
        }
    }
    if (i < 0 || i > MAX_BIT) {
        if (op == TEST) return false;
        fire_out_of_range(v);
    }
    *out = i;
    return true;
}

[[noreturn]] void fire_bad_spec(const Cell* spec, int32_t kind) {
    if (kind == 2) fire(ErrorCategory::script, "invalid-arg", spec);
    fire_with_datatype(kind == 0 ? "bad-make-arg" : "bad-to-arg", TYPE_BITSET, spec);
}

// One range or single bit under op; answers the op's result (measure: high).
int64_t apply(const Cell* bits, int64_t low, int64_t high, int32_t op) {
    if (op == MEASURE) return high;
    return process_range(bits, low, high, op);
}

bool word_is_q(const Cell* c, int32_t symbol) {
    return type_of(c) == TYPE_WORD && symbol::resolve(int32_t(c->w2)) == symbol::resolve(symbol);
}

// The cell at absolute index i of a block value, by value (false past the tail).
bool read_at(const Cell* block, int32_t i, Cell* out) {
    SeriesBuffer* s = memory::buffer_of(block->w2);
    if (i < 0 || i >= memory::length_of(s)) return false;
    *out = memory::cells_head(s)[i];
    return true;
}

// The bytes of a binary! from its head as the stored bytes (inverted, and
// the bitset complemented, after not).
void make_from_binary(Cell* out, const Cell* binary, bool inverted) {
    Cell source = *binary;
    SeriesBuffer* s = memory::buffer_of(source.w2);
    int32_t count = std::max(0, memory::length_of(s) - std::max(int32_t(source.w1), 0));
    make_at(out, count, inverted ? 0xFF : 0x00, inverted);
    s = memory::buffer_of(source.w2);
    SeriesBuffer* d = buffer(out);
    const uint8_t* from = memory::head_of(s) + std::max(int32_t(source.w1), 0);
    for (int32_t i = 0; i < count; i++) bytes_of(d)[i] = inverted ? uint8_t(~from[i]) : from[i];
}

// A spec block inside itself names no bits (internal no-cycle); one nested
// past the cycle guard's depth raises internal too-deep.
int64_t walk_block(const Cell* spec, const Cell* bits, int32_t op, int32_t kind) {
    cycles::AcyclicEntry entry(spec->w2);
    int64_t result = op == MEASURE ? -1 : 1;
    Cell item, next, high;
    collector::Root keep(item);  // a nested spec walked below may grow the bitset
    int32_t start = std::max(int32_t(spec->w1), 0);
    for (int32_t i = start; read_at(spec, i, &item); i++) {
        uint32_t t = type_of(&item);
        if ((t == TYPE_CHAR || t == TYPE_INTEGER) && read_at(spec, i + 1, &next) && word_is_q(&next, sym::dash)) {
            if (!read_at(spec, i + 2, &high)) fire_past_end();
            uint32_t ht = type_of(&high);
            if (ht != TYPE_CHAR && ht != TYPE_INTEGER) fire_past_end();
            if (ht != t) fire(ErrorCategory::script, "invalid-arg", &item);
            int64_t lo = 0, hi = 0;
            bool ok_lo = bit_index(&item, op, &lo), ok_hi = bit_index(&high, op, &hi);
            if (ok_lo && ok_hi && lo > hi) fire_past_end();
            i += 2;
            int64_t r;
            if (!ok_lo || !ok_hi) r = 0;  // testing a negative range
            else r = apply(bits, lo, hi, op);
            if (op == MEASURE) result = std::max(result, r);
            else if (op == TEST && r == 0) return 0;
            continue;
        }
        int64_t r = process_spec(&item, bits, op, kind);
        if (op == MEASURE) result = std::max(result, r);
        else if (op == TEST && r == 0) return 0;
    }
    return result;
}

// A new bitset from a spec (make and to).
Cell* make_from_spec(Cell* spec, int32_t kind) {
    Cell* out = cell::begin(stack::push_raw());
    Cell walk = *spec;
    bool comp = false;
    if (type_of(&walk) == TYPE_BLOCK) {
        Cell first;
        if (read_at(&walk, std::max(int32_t(walk.w1), 0), &first) && word_is_q(&first, sym::not_)) {
            comp = true;
            walk.w1 = uint32_t(std::max(int32_t(walk.w1), 0) + 1);
            Cell second;
            if (read_at(&walk, int32_t(walk.w1), &second) && type_of(&second) == TYPE_BINARY) {
                make_from_binary(out, &second, true);
                return out;
            }
        }
    }
    switch (type_of(&walk)) {
        case TYPE_BITSET: {
            Cell copy = walk;
            out->w2 = memory::copy_series_buffer(copy.w2);
            return cell::set_type(out, TYPE_BITSET);
        }
        case TYPE_INTEGER: case TYPE_FLOAT: {
            if (kind == 1) fire_bad_spec(spec, 1);
            int32_t n = rt_support::float_to_integer(&walk);
            if (n < 0) fire_out_of_range(spec);
            return make_at(out, int32_t((int64_t(n) + 7) / 8), 0x00, false);
        }
        case TYPE_BINARY: make_from_binary(out, &walk, false); return out;
        default: break;
    }
    const Cell* kept = stack::push(&walk);  // keeps the walked spec alive across the walk
    int64_t highest = process_spec(kept, nullptr, MEASURE, kind);
    int32_t bytes = highest < 0 ? 0 : int32_t(highest / 8 + 1);
    make_at(out, bytes, comp ? 0xFF : 0x00, comp);
    process_spec(kept, out, comp ? CLEAR : SET, kind);
    return out;
}

// Tells an owned bitset's owner of a change.
void notify(const Cell* bits, const Cell& action, const Cell* value) {
    if (buffer(bits)->flags & SERIES_OWNED) ownership::check(bits, &action, value, 0, 1);
}

// The set bits a walk with caller kind 2 names, under op, with the owner told
// before and after.
void change_bits(Cell* bits, const Cell* spec, int32_t op, const Cell& before, const Cell& after) {
    Cell value = *bits;
    Cell given = *spec;
    collector::Root keep_value(value), keep_given(given);
    notify(&value, before, &given);
    process_spec(&given, &value, op, 2);
    notify(&value, after, &given);
}

}  // namespace

Cell* make_at(Cell* c, int32_t bytes, uint8_t fill, bool complemented) {
    cell::begin(c);
    Node n = memory::alloc_bytes(bytes);
    SeriesBuffer* s = memory::buffer_of(n);
    memory::fill_bytes(s->data(), memory::end_of(s), fill);
    s->head = 0;
    s->tail = bytes;
    if (complemented) s->flags |= SERIES_COMPLEMENT;
    c->w2 = n;
    return cell::set_type(c, TYPE_BITSET);
}

int64_t process_spec(const Cell* spec, const Cell* bits, int32_t op, int32_t kind) {
    switch (type_of(spec)) {
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: {
            int64_t i;
            if (!bit_index(spec, op, &i)) return 0;
            return apply(bits, i, i, op);
        }
        case TYPE_STRING: {
            Cell text = *spec;
            collector::Root keep(text);  // setting may grow the bitset
            int64_t result = op == MEASURE ? -1 : 1;
            int32_t total = string::total_length(&text);
            for (int32_t k = std::max(int32_t(text.w1), 0); k < total; k++) {
                int64_t cp = string::char_at(&text, k);
                if (op == MEASURE) {
                    result = std::max(result, cp);
                } else if (process_range(bits, cp, cp, op) == 0 && op == TEST) {
                    return 0;
                }
            }
            return result;
        }
        case TYPE_BLOCK: return walk_block(spec, bits, op, kind);
        case TYPE_BINARY: fire(ErrorCategory::internal, "not-done");
        default: fire_bad_spec(spec, kind);
    }
}

void combine(int32_t op) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    if (op == 8) return;  // unique: the bitset itself
    if (type_of(b) != TYPE_BITSET) {
        fire_with_datatype("invalid-type", type_of(b));
    }
    int32_t len1 = byte_count(buffer(a)), len2 = byte_count(buffer(b));
    int32_t lo = std::min(len1, len2), hi = std::max(len1, len2);
    bool comp = complemented_q(a) != complemented_q(b);
    int32_t size = op == 6 ? lo : hi;  // and~ keeps only the common bytes
    Cell out;
    make_at(&out, size, 0x00, comp);  // may collect: a and b lie on the data stack
    const uint8_t* x = bytes_of(buffer(a));
    const uint8_t* y = bytes_of(buffer(b));
    uint8_t* z = bytes_of(buffer(&out));
    for (int32_t i = 0; i < lo; i++) {
        switch (op) {
            case 5: case 9: z[i] = x[i] | y[i]; break;
            case 6: case 10: z[i] = x[i] & y[i]; break;
            case 7: case 12: z[i] = x[i] ^ y[i]; break;
            default: z[i] = x[i] & uint8_t(~y[i]); break;  // 11 exclude
        }
    }
    if (op != 6) {
        const uint8_t* longer = len1 >= len2 ? x : y;
        for (int32_t i = lo; i < hi; i++) {
            switch (op) {
                case 10: z[i] = 0; break;
                case 11: z[i] = len1 > len2 ? longer[i] : 0; break;
                default: z[i] = longer[i]; break;
            }
        }
    }
    *a = out;
}

// ---- slot functions ----

Cell* make(Cell*, Cell* spec, int32_t) { return make_from_spec(spec, 0); }
Cell* to(Cell*, Cell* spec, int32_t) { return make_from_spec(spec, 1); }

int32_t form(Cell* value, Cell* buffer_cell, Cell* arg, int32_t part) {
    Cell bits = *value;
    Cell out = *buffer_cell;
    collector::Root keep_bits(bits), keep_out(out);
    bool comp = complemented_q(&bits);
    bool limited = arg != nullptr && arg > value && type_of(arg) == TYPE_INTEGER;
    string::concatenate_literal(&out, comp ? "make bitset! [not #{" : "make bitset! #{");
    part -= comp ? 20 : 15;
    int32_t n = byte_count(buffer(&bits));
    for (int32_t i = 0; i < n; i++) {
        uint8_t byte = bytes_of(buffer(&bits))[i];  // re-read: appending may collect
        if (comp) byte = uint8_t(~byte);
        char hex[3] = {0, 0, 0};
        std::memcpy(hex, string::byte_to_hex(byte), 2);
        string::concatenate_literal(&out, hex);
        part -= 2;
        if (limited && part <= 0) return part;
    }
    string::concatenate_literal(&out, comp ? "}]" : "}");
    return part - (comp ? 2 : 1);
}

int32_t mold(Cell* value, Cell* buffer_cell, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer_cell, arg, part);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_BITSET) return COMPARE_INCOMPARABLE;
    if (op == COMP_SAME) return value1->w2 == value2->w2 ? 0 : 1;
    SeriesBuffer* a = buffer(value1);
    SeriesBuffer* b = buffer(value2);
    int32_t n1 = byte_count(a), n2 = byte_count(b);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    if (n1 == 0) return 0;
    if (complemented_q(a) != complemented_q(b)) return complemented_q(a) ? 1 : -1;
    for (int32_t i = n1 - 1; i >= 0; i--) {
        uint8_t x = bytes_of(a)[i], y = bytes_of(b)[i];
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

namespace {

// complement and negate: a copy with the flag toggled and every byte inverted.
Cell* complement(Cell* value) {
    Cell copy;
    Node n = memory::copy_series_buffer(value->w2);
    SeriesBuffer* s = memory::buffer_of(n);
    s->flags ^= SERIES_COMPLEMENT;
    for (uint8_t* p = s->data(); p < memory::end_of(s); p++) *p = uint8_t(~*p);
    cell::begin(&copy)->w2 = n;
    cell::set_type(&copy, TYPE_BITSET);
    *value = copy;
    return value;
}

void and_t() { combine(6); }
void or_t() { combine(5); }
void xor_t() { combine(7); }

Cell* append(Cell* series, Cell* value, int32_t, bool, int32_t, bool) {
    change_bits(series, value, SET, words::insert, words::inserted);
    return series;
}

Cell* clear(Cell* series) {
    Cell bits = *series;
    notify(&bits, words::clear, nullptr);
    SeriesBuffer* s = buffer(&bits);
    std::memset(bytes_of(s), complemented_q(s) ? 0xFF : 0x00, size_t(byte_count(s)));
    notify(&bits, words::cleared, nullptr);
    return series;
}

Cell* copy(Cell* value, Cell* result, Cell*, bool, Cell*) {
    Cell source = *value;
    cell::begin(result)->w2 = memory::copy_series_buffer(source.w2);
    return cell::set_type(result, TYPE_BITSET);
}

bool test(Cell* bits, const Cell* spec) {
    Cell given = *spec;
    collector::Root keep(given);
    return process_spec(&given, bits, TEST, 2) > 0;
}

Cell* find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    Cell* out = stack::push_raw();
    if (test(series, value)) logic::make_at(out, true);
    else none::make_at(out);
    return out;
}

int32_t length_q(Cell* series) { return byte_count(buffer(series)) * 8; }

const Cell* pick(Cell* series, int32_t, Cell* boxed) {
    bool member = test(series, boxed);
    return logic::make_at(stack::push_raw(), member);
}

Cell* poke(Cell* series, int32_t, Cell* data, Cell* boxed) {
    bool off = logic::false_q(data) || (type_of(data) == TYPE_INTEGER && integer::get_value(data) == 0) ||
               (type_of(data) == TYPE_FLOAT && cell::get_float(data) == 0.0);
    change_bits(series, boxed, off ? CLEAR : SET, words::poke, words::poked);
    return data;
}

Cell* remove(Cell* series, Cell* part, Cell*) {
    if (part == nullptr) fire(ErrorCategory::script, "missing-arg");
    // Stored bits are memberships in both forms, so removing always clears
    // (a complemented bitset grows to hold the cleared bits).
    change_bits(series, part, CLEAR, words::remove, words::removed);
    return series;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int32_t, bool, bool, bool, bool) {
    uint32_t t = type_of(element);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) {
        fire_with_datatype("invalid-type", t);
    }
    if (value == nullptr) return pick(parent, 0, element);
    return poke(parent, 0, value, element);
}

constexpr SlotEntry row[] = {
    slot<Act::make, &bitset::make>,
    NONE,                                            // random
    slot<Act::reflect, &series::reflect>,            // the field owned
    slot<Act::to, &bitset::to>,
    slot<Act::form, &bitset::form>,
    slot<Act::mold, &bitset::mold>,
    slot<Act::eval_path, &bitset::eval_path>,
    NONE,                                            // (never filled)
    slot<Act::compare, &bitset::compare>,
    NONE, NONE, NONE, NONE,                          // 10-13
    slot<Act::negate, &complement>,
    NONE, NONE, NONE, NONE, NONE, NONE,              // 15-20
    slot<Act::and_t, &and_t>,
    slot<Act::complement, &complement>,
    slot<Act::or_t, &or_t>,
    slot<Act::xor_t, &xor_t>,
    slot<Act::append, &append>,
    NONE, NONE, NONE,                                // 26-28
    slot<Act::clear, &clear>,
    slot<Act::copy, &copy>,
    slot<Act::find, &find>,
    NONE, NONE, NONE,                                // 32-34
    slot<Act::insert, &append>,
    slot<Act::length_q, &length_q>,
    NONE, NONE,                                      // 37-38
    slot<Act::pick, &pick>,
    slot<Act::poke, &poke>,
    NONE,                                            // put
    slot<Act::remove, &remove>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 43-54
    slot<Act::modify, &series::modify>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,        // 56-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_BITSET, 0, "bitset!", row); }

}  // namespace zuv::bitset
