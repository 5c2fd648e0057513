// binary! storage, conversion to bytes, text form, comparison, editing,
// bitwise actions and the registration of the row.
#include "runtime/datatypes/binary.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/binary_codec.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/string_internal.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace zuv::binary {

namespace {

constexpr uint32_t TUPLE_COUNT_SHIFT = 19;  // tuple!: part count in header bits 19-22

int32_t head_index(const Cell* b) { return std::max(int32_t(b->w1), 0); }
int32_t used_of(const Cell* b) { return memory::used_bytes(buffer(b)); }
// The head index pulled back to the tail when past it.
int32_t clamp_head(Cell* b) {
    int32_t used = used_of(b);
    if (int32_t(b->w1) > used || int32_t(b->w1) < 0) b->w1 = uint32_t(std::clamp(int32_t(b->w1), 0, used));
    return int32_t(b->w1);
}
uint8_t* byte_address(const Cell* b, int32_t i) { return memory::head_of(buffer(b)) + i; }

using string::detail::notify;

void put_utf8(uint32_t cp, std::vector<uint8_t>& out) {
    uint8_t bytes[4];
    int32_t n = unicode::encode_utf8_char(cp, bytes);
    out.insert(out.end(), bytes, bytes + n);
}

// The UTF-8 bytes of a text value (any-string) from its head.
void text_bytes(const Cell* text, std::vector<uint8_t>& out) {
    int32_t n = string::rs_length_q(text);
    int32_t head = head_index(text);
    for (int32_t i = 0; i < n; i++) put_utf8(string::char_at(text, head + i), out);
}

// The value formed, as UTF-8 bytes. The text is built on the data stack.
void formed_bytes(const Cell* value, std::vector<uint8_t>& out) {
    Cell* saved_top = stack::top;
    Cell* copy = stack::push(value);
    Cell* text = cell::begin(stack::push_raw());
    string::zs_make_at(text, 16);
    actions::call_form(copy, text, nullptr, INT32_MAX);
    text_bytes(text, out);
    stack::top = saved_top;
}

// Makes the buffer hold `needed` bytes from its first element: twice the
// room when that is enough, else exactly the need.
SeriesBuffer* ensure_capacity(const Cell* b, int64_t needed) {
    SeriesBuffer* s = buffer(b);
    int64_t room = int64_t(s->size) - s->head;
    if (needed <= room) return s;
    if (needed > INT32_MAX) fire_no_memory();
    return memory::expand_series(b->w2, 2 * room >= needed ? 2 * room : needed);
}

// Writes the pattern count times at p.
void write_repeated(uint8_t* p, const std::vector<uint8_t>& pattern, int64_t count) {
    if (pattern.empty()) return;
    for (int64_t k = 0; k < count; k++, p += pattern.size()) std::memcpy(p, pattern.data(), pattern.size());
}

int64_t checked_product(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_mul_overflow(a, b, &r) || r > INT32_MAX) fire_no_memory();
    return r;
}

void append_indent(Cell* buffer, int32_t levels) {
    for (int32_t i = 0; i < levels; i++) string::append_c_string(buffer, "    ");
}

}  // namespace

// ---- storage ----

int32_t zs_length_q(const Cell* b) { return std::max(used_of(b) - head_index(b), 0); }

std::vector<uint8_t> bytes_of(const Cell* b, int32_t limit) {
    int32_t n = zs_length_q(b);
    if (limit >= 0 && limit < n) n = limit;
    const uint8_t* p = byte_address(b, head_index(b));
    return std::vector<uint8_t>(p, p + n);
}

Cell* make_at(Cell* c, int32_t n) {
    Node node = memory::alloc_bytes(std::max(n, 0));
    cell::begin(c)->w2 = node;
    return cell::set_type(c, TYPE_BINARY);
}

Cell* load_at(Cell* c, const uint8_t* p, int32_t n) {
    make_at(c, n);
    SeriesBuffer* s = buffer(c);
    if (n > 0) std::memcpy(memory::head_of(s), p, size_t(n));
    s->tail = s->head + n;
    return c;
}

void splice_bytes(const Cell* series, int32_t at, int32_t replaced, const std::vector<uint8_t>& pattern,
                  int64_t dup) {
    const int64_t total = checked_product(int64_t(pattern.size()), std::max<int64_t>(dup, 0));
    const int32_t used = used_of(series);
    at = std::clamp(at, 0, used);
    replaced = std::clamp(replaced, 0, used - at);
    const int64_t new_used = int64_t(used) - replaced + total;
    if (new_used > INT32_MAX) fire_no_memory();
    SeriesBuffer* s = ensure_capacity(series, new_used);
    uint8_t* p = memory::head_of(s) + at;
    std::memmove(p + total, p + replaced, size_t(used - at - replaced));
    write_repeated(p, pattern, dup);
    s->tail = s->head + int32_t(new_used);
}

// ---- value to bytes ----

void value_bytes(const Cell* value, int32_t part, bool only, bool form_others, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    const uint32_t type = type_of(value);
    switch (type) {
    case TYPE_CHAR:
        if (value->w2 > 0x10FFFF) fire(ErrorCategory::script, "invalid-char", value);
        put_utf8(value->w2, out);
        break;
    case TYPE_INTEGER: {
        int32_t v = integer::get_value(value);
        if (v < -128 || v > 255) fire(ErrorCategory::script, "invalid-arg", value);
        out.push_back(uint8_t(v));
        break;
    }
    case TYPE_BINARY: {
        std::vector<uint8_t> bytes = bytes_of(value);
        out.insert(out.end(), bytes.begin(), bytes.end());
        break;
    }
    case TYPE_TUPLE: {
        int32_t n = std::clamp(int32_t((value->header >> TUPLE_COUNT_SHIFT) & 15), 0, 12);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&value->w1);
        out.insert(out.end(), bytes, bytes + n);
        break;
    }
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
        // Element by element; the block's cells are read again after each,
        // as forming an element may allocate. A block inside itself has no
        // bytes (internal no-cycle), nor has one nested past the cycle
        // guard's depth (internal too-deep).
        const Cell block = *value;
        cycles::AcyclicEntry entry(block.w2);
        int32_t left = part;
        for (int32_t i = head_index(&block);; i++) {
            SeriesBuffer* b = memory::buffer_of(block.w2);
            if (i >= memory::used_bytes(b) / int32_t(sizeof(Cell))) break;
            if (part >= 0 && left <= 0) break;
            const Cell element = memory::cells_head(b)[i];
            size_t before = out.size();
            value_bytes(&element, only ? left : -1, only, form_others, out);
            if (part >= 0) left -= only ? int32_t(out.size() - before) : 1;
        }
        return;  // the limit counted elements or was passed down
    }
    default:
        if (string::any_string_q(type)) {
            text_bytes(value, out);
        } else if (form_others) {
            formed_bytes(value, out);
        } else {
            fire_bad_to_arg(TYPE_BINARY, value);
        }
    }
    if (part >= 0 && out.size() - start > size_t(part)) out.resize(start + size_t(part));
}

// ---- comparison ----

int32_t compare_bytes(const Cell* v1, const Cell* v2, int32_t op, bool match) {
    if (type_of(v2) != TYPE_BINARY) return COMPARE_INCOMPARABLE;
    const bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (v1->w2 == v2->w2 && head_index(v1) == head_index(v2)) {
        if (op == COMP_SAME || equality) return 0;
    } else if (op == COMP_SAME) {
        return -1;
    }
    int32_t n1 = zs_length_q(v1), n2 = zs_length_q(v2);
    const uint8_t* p1 = byte_address(v1, head_index(v1));
    const uint8_t* p2 = byte_address(v2, head_index(v2));
    if (match) {
        if (n2 == 0) return op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND ? 0 : 1;
        if (n1 < n2) return 1;
        return std::memcmp(p1, p2, size_t(n2)) == 0 ? 0 : 1;
    }
    if (n1 != n2 && equality) return 1;
    if (n1 == 0 && n2 == 0) return 0;
    int r = std::memcmp(p1, p2, size_t(std::min(n1, n2)));
    if (r != 0) return r < 0 ? -1 : 1;
    return n1 == n2 ? 0 : n1 < n2 ? -1 : 1;
}

// ---- text form ----

int32_t write_text(const Cell* value, Cell* buffer, bool only, bool flat, bool limited, int32_t part,
                   int32_t indent) {
    const Cell b = *value;
    const int32_t n = zs_length_q(&b);
    const bool lines = n > 30 && !flat;
    if (!only) {
        string::append_c_string(buffer, "#{");
        part -= 2;
    }
    auto new_line = [&](int32_t levels) {
        string::append_char(buffer, '\n');
        append_indent(buffer, levels);
        part -= 1 + 4 * levels;
    };
    if (lines) new_line(indent + 1);
    for (int32_t i = 0; i < n; i++) {
        // Read through the node each time: appending may move the binary.
        uint8_t byte = *byte_address(&b, head_index(&b) + i);
        const char* digits = string::byte_to_hex(byte);
        string::append_char(buffer, uint8_t(digits[0]));
        string::append_char(buffer, uint8_t(digits[1]));
        part -= 2;
        if (!flat && (i + 1) % 32 == 0) new_line(indent + 1);
        if (limited && part <= 0) return part;
    }
    if (lines && n % 32 != 0) new_line(indent);
    if (!only) {
        string::append_char(buffer, '}');
        part -= 1;
    }
    return part;
}

namespace {

bool limit_given(const Cell* arg) { return series::given(arg, stack::arguments) && type_of(arg) == TYPE_INTEGER; }

// ---- action slots ----

Cell* to(Cell* proto, Cell* spec, int32_t) {
    std::vector<uint8_t> bytes;
    switch (type_of(spec)) {
    case TYPE_INTEGER: {
        uint32_t v = spec->w2;
        bytes = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        break;
    }
    case TYPE_FLOAT: case TYPE_PERCENT: {
        uint64_t bits;
        double d = cell::get_float(spec);
        std::memcpy(&bits, &d, sizeof bits);
        for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(uint8_t(bits >> shift));
        break;
    }
    case TYPE_ISSUE: {
        // The spelling read as hexadecimal digits.
        const uint8_t* name = symbol::to_utf8_copy(int32_t(spec->w2));
        std::vector<uint32_t> text(name, name + std::strlen(reinterpret_cast<const char*>(name)));
        if (!decode_base16(text, bytes)) fire(ErrorCategory::script, "invalid-data", spec);
        break;
    }
    case TYPE_BITSET: {
        SeriesBuffer* s = buffer(spec);
        bytes.assign(memory::head_of(s), memory::tail_of(s));
        break;
    }
    case TYPE_IMAGE:  // the argb channel: the stored bytes of every pixel
        bytes = image::get_channels(spec, image::ARGB);
        break;
    case TYPE_CHAR: case TYPE_BINARY: case TYPE_TUPLE: case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        value_bytes(spec, -1, false, false, bytes);
        break;
    default:
        if (!string::any_string_q(type_of(spec))) fire_bad_to_arg(TYPE_BINARY, spec);
        value_bytes(spec, -1, false, false, bytes);
    }
    return load_at(proto, bytes);
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return write_text(value, buffer, false, false, limit_given(arg), part, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return write_text(value, buffer, only, flat, limit_given(arg), part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) { return compare_bytes(value1, value2, op, false); }

// and~, or~, xor~: a new binary as long as the longer operand.
void bitwise(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (type_of(right) != TYPE_BINARY) fire(ErrorCategory::script, "invalid-arg", right);
    std::vector<uint8_t> a = bytes_of(left), b = bytes_of(right);
    if (a.size() < b.size()) std::swap(a, b);  // a is the longer
    for (size_t i = 0; i < a.size(); i++) {
        if (i < b.size()) {
            a[i] = op == OP_AND ? a[i] & b[i] : op == OP_OR ? a[i] | b[i] : a[i] ^ b[i];
        } else if (op == OP_AND) {
            a[i] = 0;
        }
    }
    load_at(left, a);
}

void and_t() { bitwise(OP_AND); }
void or_t() { bitwise(OP_OR); }
void xor_t() { bitwise(OP_XOR); }

Cell* complement(Cell* value) {
    int32_t n = zs_length_q(value);
    uint8_t* p = byte_address(value, head_index(value));
    for (int32_t i = 0; i < n; i++) p[i] = uint8_t(~p[i]);
    return value;
}

// append and insert: the value's bytes, dup times, at the tail (append, or
// a head at the tail) or at the head.
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    clamp_head(series);
    std::vector<uint8_t> bytes;
    value_bytes(value, part, only, false, bytes);  // raises before anything changes
    if (bytes.empty() || dup < 1) return series;
    const int64_t total = checked_product(int64_t(bytes.size()), dup);
    int32_t at = append_flag ? used_of(series) : clamp_head(series);
    bool owned = notify(series, append_flag ? words::append : words::insert, value, at, int32_t(total));
    if (owned) at = append_flag ? used_of(series) : clamp_head(series);  // the owner may have changed it
    splice_bytes(series, at, 0, bytes, dup);
    series->w1 = append_flag ? 0 : uint32_t(at + total);
    if (owned) notify(series, append_flag ? words::appended : words::inserted, value, at, int32_t(total));
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    clamp_head(series);
    std::vector<uint8_t> bytes;
    value_bytes(value, -1, only, true, bytes);  // copied out: the value may share this buffer
    if (dup < 1) dup = 1;
    const int64_t total = checked_product(int64_t(bytes.size()), dup);
    int32_t head = clamp_head(series);
    int64_t replaced = std::min<int64_t>(part >= 0 ? part : total, used_of(series) - head);
    bool owned = notify(series, words::change, value, head, int32_t(replaced));
    if (owned) {
        head = clamp_head(series);
        replaced = std::min<int64_t>(replaced, used_of(series) - head);
    }
    splice_bytes(series, head, int32_t(replaced), bytes, dup);
    series->w1 = uint32_t(std::min<int64_t>(head + total, used_of(series)));
    if (owned) notify(series, words::changed, value, head, int32_t(total));
    return series;
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    if (series::given(with, series)) return string::trim(series, head, tail, auto_, lines, all, with);
    if (auto_ || lines) fire_not_done();
    int32_t from = clamp_head(series);
    bool owned = notify(series, words::trim, nullptr, from, used_of(series) - from);
    from = clamp_head(series);
    std::vector<uint8_t> in = bytes_of(series), out;
    if (all) {
        for (uint8_t c : in)
            if (c != 0) out.push_back(c);
    } else {
        size_t first = 0, last = in.size();
        if (!(tail && !head))
            while (first < last && in[first] == 0) first++;
        if (!(head && !tail))
            while (last > first && in[last - 1] == 0) last--;
        out.assign(in.begin() + ptrdiff_t(first), in.begin() + ptrdiff_t(last));
    }
    SeriesBuffer* s = buffer(series);
    if (!out.empty()) std::memcpy(memory::head_of(s) + from, out.data(), out.size());
    s->tail = s->head + from + int32_t(out.size());
    if (owned) notify(series, words::trimmed, nullptr, from, int32_t(out.size()));
    return series;
}

constexpr SlotEntry row[] = {
    INHERIT,                                          // make
    INHERIT,                                          // random
    INHERIT,                                          // reflect
    slot<Act::to, &to>,
    slot<Act::form, &form>,
    slot<Act::mold, &mold>,
    INHERIT,                                          // eval-path
    NONE,                                             // (empty)
    slot<Act::compare, &compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20 math
    slot<Act::and_t, &and_t>,
    slot<Act::complement, &complement>,
    slot<Act::or_t, &or_t>,
    slot<Act::xor_t, &xor_t>,
    slot<Act::append, &append>,
    INHERIT, INHERIT,                                 // at, back
    slot<Act::change, &change>,
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,  // clear copy find head head? index?
    slot<Act::insert, &append>,
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,      // length? move next pick poke
    NONE,                                             // put
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,      // remove reverse select sort skip
    INHERIT, INHERIT, INHERIT, INHERIT,               // swap tail tail? take
    slot<Act::trim, &trim>,
    NONE, NONE, NONE,                                 // create, close, delete
    INHERIT,                                          // modify
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,         // open ... write
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_BINARY, TYPE_STRING, "binary!", row); }

}  // namespace zuv::binary
