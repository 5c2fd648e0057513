// string! storage and access: positions, reading and writing characters,
// widening, appending and copying text, hexadecimal digits, text comparison.
#include "runtime/datatypes/string.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/fire.hpp"
#include "runtime/runtime.hpp"
#include "runtime/unicode.hpp"

namespace zuv::string {

namespace {

// A text buffer's unit; any other unit is an internal fault.
inline uint32_t text_unit(const SeriesBuffer* s) {
    uint32_t u = memory::unit_of(s);
    if (u != 1 && u != 2 && u != 4) runtime::quit_with_runtime_error(101, 0);
    return u;
}

// The unit that storing cp needs in a buffer of unit u. Appending keeps only
// 0-127 in unit 1; the other stores keep 0-255.
inline uint32_t unit_needed(uint32_t u, uint32_t cp, uint32_t byte_limit) {
    if (u == 1 && cp > byte_limit) return cp > 0xFFFF ? 4 : 2;
    if (u == 2 && cp > 0xFFFF) return 4;
    return u;
}

inline SeriesBuffer* widen_for(SeriesBuffer* s, uint32_t cp, uint32_t byte_limit) {
    uint32_t u = text_unit(s);
    uint32_t need = unit_needed(u, cp, byte_limit);
    return need == u ? s : widen_to(s, u, need);
}

// Head index of a value, a negative one counting as 0.
inline int32_t head_index(const Cell* str) { return std::max(int32_t(str->w1), 0); }

// Symbols take part through the string! of their name, head 0.
Cell text_of(const Cell* v) {
    Cell t = *v;
    if (type_of(v) != TYPE_SYMBOL) return t;
    cell::begin(&t);
    if (v->w2 != 0) {
        t.w2 = v->w2;
    } else {
        // The name is not cached yet: decode the UTF-8 spelling into a new string.
        Node utf8 = v->w3;
        t.w2 = unicode::utf8_series_to_string(utf8, 0, memory::used_bytes(memory::buffer_of(utf8)), 0, nullptr,
                                              false);
    }
    cell::set_type(&t, TYPE_STRING);
    return t;
}

// A lone scratch area for swap_blocks.
constexpr int32_t SCRATCH_SIZE = 64 * 1024;
uint8_t* scratch = nullptr;
int32_t scratch_size = 0;

void set_scratch_size(int32_t size) {
    scratch = static_cast<uint8_t*>(runtime::reallocate_memory(scratch, size_t(size)));
    scratch_size = size;
}

}  // namespace

// --- reading and positions --------------------------------------------------

uint8_t* zs_head(Cell* str) {
    SeriesBuffer* s = buffer(str);
    uint32_t shift = unit_shift(text_unit(s));
    int64_t at = s->head + (int64_t(head_index(str)) << shift);
    if (at > s->tail) {
        str->w1 = uint32_t(memory::used_bytes(s) >> shift);
        at = s->tail;
    }
    return s->data() + at;
}

uint8_t* tail_address(const Cell* str) { return memory::tail_of(buffer(str)); }

bool at_tail_q(const Cell* str) { return rs_length_q(str) == 0; }

int32_t rs_length_q(const Cell* str) {
    SeriesBuffer* s = buffer(str);
    int32_t n = memory::used_bytes(s) >> unit_shift(text_unit(s));
    return std::max(n - head_index(str), 0);
}

int32_t get_length(Cell* str) {
    int32_t total = total_length(str);
    if (int32_t(str->w1) > total) str->w1 = uint32_t(total);
    return std::max(total - head_index(str), 0);
}

int32_t total_length(const Cell* str) {
    SeriesBuffer* s = buffer(str);
    return memory::used_bytes(s) >> unit_shift(text_unit(s));
}

uint32_t char_at(const Cell* str, int32_t index) {
    SeriesBuffer* s = buffer(str);
    uint32_t unit = text_unit(s);
    return get_char(memory::head_of(s) + (int64_t(index) << unit_shift(unit)), unit);
}

bool skip_ahead(Cell* str, int32_t n) {
    int64_t at = int64_t(head_index(str)) + n;
    int32_t total = total_length(str);
    if (at <= total) str->w1 = uint32_t(at);
    return at >= total;
}

int32_t index_of_char(const Cell* str, uint32_t cp) {
    int32_t n = rs_length_q(str);
    int32_t head = head_index(str);
    for (int32_t i = 0; i < n; i++)
        if (char_at(str, head + i) == cp) return i;
    return -1;
}

bool match_c_string_q(const Cell* str, const char* text) {
    int32_t n = rs_length_q(str);
    int32_t head = head_index(str);
    for (int32_t i = 0; text[i]; i++)
        if (i >= n || char_at(str, head + i) != uint8_t(text[i])) return false;
    return true;
}

bool char_in_bitset_q(const Cell* str, const Cell* bitset) {
    if (at_tail_q(str)) return false;
    return bitset::has_bit(bitset, char_at(str, head_index(str)));
}

bool find_code_in_records_q(const Cell* str, uint32_t cp, int32_t stride, bool case_q) {
    if (stride < 1) stride = 1;
    if (!case_q) cp = case_folding::to_upper(cp);
    int32_t total = total_length(str);
    for (int64_t i = head_index(str); i < total; i += stride) {
        uint32_t c = char_at(str, int32_t(i));
        if (!case_q) c = case_folding::to_upper(c);
        if (c == cp) return true;
    }
    return false;
}

// --- construction -----------------------------------------------------------

Cell* make_at_unit(Cell* c, int32_t n, int32_t unit) {
    Node node = memory::alloc_codepoints(n, unit);
    cell::begin(c)->w2 = node;
    return cell::set_type(c, TYPE_STRING);
}

Cell* zs_make_at(Cell* c, int32_t n) { return make_at_unit(c, n == 0 ? 1 : n, 1); }

Cell* load_at(const uint8_t* text, int32_t length, Cell* target, int32_t encoding) {
    Node node;
    if (encoding == 0) {
        node = unicode::utf8_to_string(text, length, 0, nullptr, false);
    } else if (encoding == -1) {
        node = unicode::utf16le_to_string(text, length / 2, 0, false);
    } else {
        // Data naming an encoding we do not know is an error of the caller's
        // input, not a reason to end the process.
        Cell arg;
        integer::make_at(cell::begin(&arg), encoding);
        fire(ErrorCategory::script, "invalid-arg", &arg);
    }
    if (target == nullptr) target = stack::push_raw();
    cell::begin(target)->w2 = node;
    return cell::set_type(target, TYPE_STRING);
}

Cell* load(const uint8_t* text, int32_t length, int32_t encoding) { return load_at(text, length, nullptr, encoding); }

Cell* push(const Cell* str) { return stack::push(str); }

Cell* load_in(const uint8_t* text, int32_t length, const Cell* block, int32_t encoding) {
    // The new string waits on the data stack while the block grows (which may collect).
    Cell* value = load_at(text, length, nullptr, encoding);
    Cell* slot = cell::append_new_cell(block);
    copy_cell(value, slot);
    stack::pop(1);
    return slot;
}

// --- widening and room ------------------------------------------------------

SeriesBuffer* ensure_room(SeriesBuffer* s, int64_t bytes) {
    if (int64_t(s->size) - s->head >= bytes) return s;
    return memory::expand_series(s->node, std::max(bytes, 2 * int64_t(s->size)));
}

SeriesBuffer* widen_to(SeriesBuffer* s, uint32_t from_unit, uint32_t to_unit) {
    if (to_unit <= from_unit) return s;
    if (from_unit == 1) return to_unit == 2 ? unicode::widen_latin1_to_ucs2(s) : unicode::widen_latin1_to_ucs4(s);
    return unicode::widen_ucs2_to_ucs4(s);
}

SeriesBuffer* copy_widened(SeriesBuffer* s, SeriesBuffer* target, int64_t new_size, uint32_t to_unit,
                           int32_t start, int32_t dst_offset, int32_t end, bool keep) {
    uint32_t from = text_unit(s);
    if (end == 0) end = s->tail;
    if (target == nullptr) {
        // Growing moves the content; widening it there is the same copy.
        int32_t used = s->tail - s->head;
        Node node = s->node;
        SeriesBuffer* grown = memory::expand_series(node, new_size);
        grown->tail = grown->head + used;
        return widen_to(grown, from, to_unit);
    }
    const uint8_t* src = s->data() + start;
    uint8_t* dst = target->data() + dst_offset;
    int32_t count = (end - start) >> unit_shift(from);
    for (int32_t i = 0; i < count; i++)
        put_char(dst + (int64_t(i) << unit_shift(to_unit)), to_unit, get_char(src + (int64_t(i) << unit_shift(from)), from));
    if (!keep) {
        target->tail = dst_offset + (count << unit_shift(to_unit));
        target->flags = (target->flags & ~SERIES_UNIT_MASK) | to_unit;
    }
    return target;
}

// --- writing one character --------------------------------------------------

SeriesBuffer* append_char(SeriesBuffer* s, uint32_t cp) {
    s = widen_for(s, cp, 127);
    uint32_t unit = memory::unit_of(s);
    s = ensure_room(s, int64_t(memory::used_bytes(s)) + unit);
    put_char(memory::tail_of(s), unit, cp);
    s->tail += int32_t(unit);
    return s;
}

SeriesBuffer* overwrite_char(SeriesBuffer* s, int32_t index, uint32_t cp) {
    s = widen_for(s, cp, 255);
    uint32_t unit = memory::unit_of(s);
    int64_t at = int64_t(index) << unit_shift(unit);
    s = ensure_room(s, at + unit);
    put_char(memory::head_of(s) + at, unit, cp);
    if (s->head + at >= s->tail) s->tail = int32_t(s->head + at + unit);
    return s;
}

SeriesBuffer* insert_char(SeriesBuffer* s, int32_t index, uint32_t cp) {
    s = widen_for(s, cp, 255);
    uint32_t unit = memory::unit_of(s);
    int32_t used = memory::used_bytes(s);
    int32_t at = std::clamp(index << unit_shift(unit), 0, used);
    s = ensure_room(s, int64_t(used) + unit);
    uint8_t* p = memory::head_of(s) + at;
    std::memmove(p + unit, p, size_t(used - at));
    put_char(p, unit, cp);
    s->tail += int32_t(unit);
    return s;
}

SeriesBuffer* poke_char(SeriesBuffer* s, uint8_t* p, uint32_t cp) {
    uint32_t unit = text_unit(s);
    int64_t index = (p - memory::head_of(s)) >> unit_shift(unit);
    s = widen_for(s, cp, 255);
    unit = memory::unit_of(s);
    put_char(memory::head_of(s) + (index << unit_shift(unit)), unit, cp);
    return s;
}

void remove_char(Cell* str, int32_t index) { remove_part(str, index, 1); }

void remove_part(Cell* str, int32_t index, int32_t n) {
    SeriesBuffer* s = buffer(str);
    uint32_t shift = unit_shift(text_unit(s));
    int32_t total = memory::used_bytes(s) >> shift;
    if (index < 0 || index >= total || n <= 0) return;
    n = std::min(n, total - index);
    uint8_t* p = memory::head_of(s) + (index << shift);
    std::memmove(p, p + (n << shift), size_t((total - index - n) << shift));
    s->tail -= n << shift;
}

SeriesBuffer* truncate_to(SeriesBuffer* s, int32_t n) {
    int64_t at = int64_t(n) << unit_shift(text_unit(s));
    if (at >= 0 && s->head + at <= s->size && s->head + at < s->tail) s->tail = int32_t(s->head + at);
    return s;
}

void reset(Cell* str) {
    SeriesBuffer* s = buffer(str);
    s->tail = s->head;
    s->flags = (s->flags & ~SERIES_UNIT_MASK) | 1;
    str->w1 = 0;
}

// --- appending text ---------------------------------------------------------

SeriesBuffer* append_c_string(Cell* str, const char* text) {
    size_t n = std::strlen(text);
    if (n > size_t(INT32_MAX)) fire_no_memory();
    return append_bytes(str, reinterpret_cast<const uint8_t*>(text), int32_t(n));
}

SeriesBuffer* append_bytes(Cell* str, const uint8_t* p, int32_t n) {
    SeriesBuffer* s = buffer(str);
    // The leading ASCII needs no widening: room once, then written straight
    // in the buffer's unit; a byte above 127 goes by append_char.
    int32_t ascii = 0;
    while (ascii < n && p[ascii] < 0x80) ascii++;
    if (ascii > 0) {
        uint32_t unit = text_unit(s);
        s = ensure_room(s, int64_t(memory::used_bytes(s)) + int64_t(ascii) * unit);
        uint8_t* to = memory::tail_of(s);
        if (unit == 1) std::memcpy(to, p, size_t(ascii));
        else for (int32_t i = 0; i < ascii; i++) put_char(to + int64_t(i) * unit, unit, p[i]);
        s->tail += int32_t(ascii * unit);
    }
    for (int32_t i = ascii; i < n; i++) s = append_char(s, p[i]);
    return s;
}

void concatenate(Cell* dst, const Cell* src_value, int32_t part, int32_t index, bool keep_unit, int32_t mode) {
    Cell src = text_of(src_value);
    Cell target = text_of(dst);
    // 1. Units: the destination takes the source's wider unit; a narrower
    //    source is widened in place unless its unit is to be kept.
    uint32_t du = text_unit(buffer(&target));
    uint32_t su = text_unit(buffer(&src));
    if (du < su) {
        widen_to(buffer(&target), du, su);
        du = su;
    } else if (su < du && !keep_unit) {
        widen_to(buffer(&src), su, du);
        su = du;
    }
    // 2. How many characters.
    int32_t n = rs_length_q(&src);
    if (part >= 0 && part < n) n = part;
    if (n <= 0) return;
    const bool same = src.w2 == target.w2;
    // Inserting a series into itself moves the source: take a copy first.
    std::vector<uint8_t> copy;
    if (same && mode == CONCAT_INSERT) {
        const uint8_t* from = zs_head(&src);
        copy.assign(from, from + (int64_t(n) << unit_shift(su)));
    }
    // 3. Room: twice the needed size when it does not fit.
    int64_t bytes = int64_t(n) << unit_shift(du);
    SeriesBuffer* s = buffer(&target);
    int64_t write_at = mode == CONCAT_APPEND ? memory::used_bytes(s)
                                             : int64_t(head_index(&target) + index) << unit_shift(du);
    int64_t needed = std::max<int64_t>(memory::used_bytes(s), write_at) + bytes;
    if (needed > int64_t(s->size) - s->head) s = memory::expand_series(target.w2, 2 * needed);
    int64_t old_tail = memory::used_bytes(s);
    uint8_t* base = memory::head_of(s);
    if (mode == CONCAT_INSERT && write_at < old_tail)
        std::memmove(base + write_at + bytes, base + write_at, size_t(old_tail - write_at));
    // 4. The copy: one move when the units agree, else character by character.
    const uint8_t* from = copy.empty() ? zs_head(&src) : copy.data();
    uint8_t* to = base + write_at;
    if (su == du) {
        std::memmove(to, from, size_t(bytes));
    } else {
        for (int32_t i = 0; i < n; i++)
            put_char(to + (int64_t(i) << unit_shift(du)), du, get_char(from + (int64_t(i) << unit_shift(su)), su));
    }
    // 5. The tail.
    int64_t end = write_at + bytes;
    if (mode == CONCAT_INSERT) end = std::max(old_tail, write_at) + bytes;
    else if (mode == CONCAT_OVERWRITE) end = std::max(end, old_tail);
    s->tail = int32_t(s->head + end);
}

void overwrite_part(Cell* dst, const Cell* src, int32_t part, int32_t index, bool keep_unit) {
    concatenate(dst, src, part, index, keep_unit, CONCAT_OVERWRITE);
}

void move_part(Cell* src, Cell* dst, int32_t byte_count) {
    uint32_t su = text_unit(buffer(src));
    int32_t n = std::min(byte_count >> unit_shift(su), rs_length_q(src));
    if (n <= 0) return;
    std::vector<uint32_t> chars(size_t(n), 0);
    int32_t from = head_index(src);
    for (int32_t i = 0; i < n; i++) chars[size_t(i)] = char_at(src, from + i);
    int32_t to = std::min(head_index(dst), total_length(dst));
    SeriesBuffer* d = buffer(dst);
    for (int32_t i = 0; i < n; i++) d = insert_char(d, to + i, chars[size_t(i)]);
    // Inserting before the moved characters in the same series shifted them.
    if (src->w2 == dst->w2 && to <= from) from += n;
    remove_part(src, from, n);
}

void swap_blocks(uint8_t* a, int32_t len_a, int32_t len_b) {
    int32_t shorter = std::min(len_a, len_b);
    if (shorter <= 0) return;
    if (scratch == nullptr || shorter > scratch_size) set_scratch_size(std::max(shorter, SCRATCH_SIZE));
    uint8_t* b = a + len_a;
    if (len_a <= len_b) {
        std::memcpy(scratch, a, size_t(len_a));
        std::memmove(a, b, size_t(len_b));
        std::memcpy(a + len_b, scratch, size_t(len_a));
    } else {
        std::memcpy(scratch, b, size_t(len_b));
        std::memmove(a + len_b, a, size_t(len_a));
        std::memcpy(a, scratch, size_t(len_b));
    }
    if (scratch_size > SCRATCH_SIZE) set_scratch_size(SCRATCH_SIZE);
}

// --- hexadecimal ------------------------------------------------------------

namespace {
constexpr char hex_digits[] = "0123456789ABCDEF";
}

const char* byte_to_hex(uint8_t b) {
    static char text[2];
    text[0] = hex_digits[b >> 4];
    text[1] = hex_digits[b & 15];
    return text;
}

const char* int_to_hex(int32_t value, bool trim) {
    static char text[9];
    uint32_t v = uint32_t(value);
    for (int i = 7; i >= 0; i--, v >>= 4) text[i] = hex_digits[v & 15];
    text[8] = 0;
    if (!trim || value < 0) return text;
    if (value == 0) return "00";
    const char* p = text;
    while (*p == '0') p++;
    return p;
}

// --- comparison and matching ------------------------------------------------

int32_t compare_text(const Cell* v1_in, const Cell* v2_in, int32_t op, bool match) {
    if (op == COMP_SAME) return v1_in->w2 == v2_in->w2 && v1_in->w1 == v2_in->w1 ? 0 : -1;
    const bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (v1_in->w2 == v2_in->w2 && v1_in->w1 == v2_in->w1 && equality) return 0;
    if (equality && !match && type_of(v1_in) != TYPE_SYMBOL && type_of(v2_in) != TYPE_SYMBOL) {
        // Two one-byte texts of the same bytes are equal under every
        // equality, folded or not: the everyday map key and `=` of text
        // are settled here; any other pair takes the walk below.
        SeriesBuffer* s1 = buffer(v1_in);
        SeriesBuffer* s2 = buffer(v2_in);
        if (memory::unit_of(s1) == 1 && memory::unit_of(s2) == 1) {
            int32_t len1 = std::max(memory::used_bytes(s1) - head_index(v1_in), 0);
            int32_t len2 = std::max(memory::used_bytes(s2) - head_index(v2_in), 0);
            if (len1 != len2) return 1;
            if (std::memcmp(memory::head_of(s1) + head_index(v1_in), memory::head_of(s2) + head_index(v2_in),
                            size_t(len1)) == 0)
                return 0;
        }
    }
    Cell v1 = text_of(v1_in);
    Cell v2 = text_of(v2_in);
    int32_t len1 = rs_length_q(&v1);
    int32_t len2 = rs_length_q(&v2);
    int32_t n;
    if (match) {
        if (len2 == 0) return op == COMP_FIND ? 1 : 0;
        if (len1 < len2) return 1;
        n = len2;
    } else {
        if (len1 != len2 && equality) return 1;
        if (len1 == 0 && len2 == 0) return 0;
        if (len2 == 0) return 1;
        n = std::min(len1, len2);
    }
    const bool fold = op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT;
    SeriesBuffer* s1 = buffer(&v1);
    SeriesBuffer* s2 = buffer(&v2);
    uint32_t u1 = text_unit(s1), u2 = text_unit(s2);
    const uint8_t* p1 = memory::head_of(s1) + (int64_t(head_index(&v1)) << unit_shift(u1));
    const uint8_t* p2 = memory::head_of(s2) + (int64_t(head_index(&v2)) << unit_shift(u2));
    uint32_t c1 = 0, c2 = 0;
    // Characters that are the same need no folding; those that differ are
    // compared folded, and the first pair still different decides.
    auto differ = [&]() {
        if (c1 == c2) return false;
        if (!fold) return true;
        c1 = case_folding::to_upper(c1);
        c2 = case_folding::to_upper(c2);
        return c1 != c2;
    };
    if (u1 == 1 && u2 == 1) {
        for (int32_t i = 0; i < n; i++) {
            c1 = p1[i];
            c2 = p2[i];
            if (differ()) break;
        }
    } else {
        for (int32_t i = 0; i < n; i++, p1 += u1, p2 += u2) {
            c1 = get_char(p1, u1);
            c2 = get_char(p2, u2);
            if (differ()) break;
        }
    }
    if (c1 == c2 && !match) return len1 > len2 ? 1 : len1 == len2 ? 0 : -1;
    return c1 > c2 ? 1 : c1 < c2 ? -1 : 0;
}

bool tag_at_head_q(const Cell* str, const Cell* tag) {
    int32_t n = rs_length_q(str);
    int32_t tag_length = rs_length_q(tag);
    int32_t head = head_index(str);
    return n >= tag_length + 2 && char_at(str, head) == '<' && char_at(str, head + tag_length + 1) == '>';
}

bool match_value_q(Cell* str, const Cell* value, int32_t op) {
    switch (type_of(value)) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF:
        return compare_text(str, value, op, true) == 0;
    case TYPE_CHAR: {
        if (at_tail_q(str)) return false;
        uint32_t c = char_at(str, head_index(str));
        uint32_t v = value->w2;
        if (op != COMP_STRICT_EQUAL) {
            c = case_folding::to_upper(c);
            v = case_folding::to_upper(v);
        }
        return c == v;
    }
    case TYPE_TAG: {
        if (!tag_at_head_q(str, value)) return false;
        uint32_t saved = str->w1;
        str->w1 = uint32_t(head_index(str) + 1);
        bool matched = compare_text(str, value, op, true) == 0;
        str->w1 = saved;
        return matched;
    }
    default:
        return false;
    }
}

// --- registration -----------------------------------------------------------

void allocate_scratch() {
    if (scratch == nullptr) set_scratch_size(SCRATCH_SIZE);
}

}  // namespace zuv::string
