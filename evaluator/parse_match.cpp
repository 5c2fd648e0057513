// PARSE value matching: one literal at the input's index, a repetition of
// one literal without pushing frames, and the search of `to` and `thru`.
//
// Text and bytes are read straight from the buffers in loops that never
// allocate; block elements are compared through the comparison action.
#include <algorithm>
#include <cstring>

#include "evaluator/actions.hpp"
#include "evaluator/parse_internal.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zuv::parse {

namespace {

inline uint32_t fold(uint32_t c) {
    if (c < 128) return (c >= 'a' && c <= 'z') ? c - 32 : c;
    return case_folding::to_upper(c);
}

// A view of a text or byte series: its units from the first element, read
// while nothing allocates.
struct Units {
    const uint8_t* base;
    uint32_t unit;
    int32_t length;
    uint32_t at(int32_t i) const { return string::get_char(base + (int64_t(i) * unit), unit); }
};

Units units_of(const Cell* series) {
    SeriesBuffer* s = memory::buffer_of(series->w2);
    uint32_t unit = memory::unit_of(s);
    return {memory::head_of(s), unit, memory::used_bytes(s) >> series::unit_shift(unit)};
}

bool text_value_q(uint32_t type) {
    return string::any_string_q(type) || type == TYPE_BINARY;
}

// The units a text or binary! value matches: from its head to its tail.
struct Needle {
    Units units;
    int32_t start;   // the value's head
    int32_t length;  // units from the head
    bool tag;        // matched inside angle brackets
};

Needle needle_of(const Cell* value) {
    Units u = units_of(value);
    int32_t start = std::clamp(int32_t(value->w1), 0, u.length);
    return {u, start, u.length - start, type_of(value) == TYPE_TAG};
}

// The matched length of a text value in the input (with a tag's brackets).
inline int32_t span_of(const Needle& n) { return n.length + (n.tag ? 2 : 0); }

// True when the needle matches the input units at i (the span fits before end).
bool text_at(const Units& in, int32_t i, int32_t end, const Needle& n, bool exact) {
    if (int64_t(i) + span_of(n) > end) return false;
    if (n.tag) {
        if (in.at(i) != '<' || in.at(i + n.length + 1) != '>') return false;
        i++;
    }
    if (in.unit == 1 && n.units.unit == 1) {
        // Bytes against bytes: the same bytes match however the search
        // folds; others are compared one by one only when it folds.
        if (std::memcmp(in.base + i, n.units.base + n.start, size_t(n.length)) == 0) return true;
        if (exact) return false;
    }
    for (int32_t k = 0; k < n.length; k++) {
        uint32_t a = in.at(i + k), b = n.units.at(n.start + k);
        if (a != b && (exact || fold(a) != fold(b))) return false;
    }
    return true;
}

// Membership of a code (or byte) in a bitset value.
inline bool in_bitset(const Cell* bits, uint32_t c) { return bitset::has_bit(bits, c); }

}  // namespace

Kind kind_of(uint32_t type) {
    if (string::any_string_q(type)) return STRING_KIND;
    if (type == TYPE_BINARY) return BINARY_KIND;
    return BLOCK_KIND;
}

int32_t series_length(const Cell* input) {
    const SeriesBuffer* s = memory::buffer_of(input->w2);
    return memory::used_bytes(s) >> series::unit_shift(memory::unit_of(s));
}

void element_at(const Cell* input, int32_t i, Cell* out) {
    switch (kind_of(type_of(input))) {
        case BLOCK_KIND: *out = memory::cells_head(memory::buffer_of(input->w2))[i]; return;
        case STRING_KIND: char_::make_at(cell::begin(out), units_of(input).at(i)); return;
        case BINARY_KIND: integer::make_at(cell::begin(out), int32_t(units_of(input).at(i))); return;
    }
}

bool compare_element(const Cell* element, const Cell* rule, int32_t mode) {
    Cell a = *element, b = *rule;
    int32_t op = mode;
    uint32_t t = type_of(&b);
    if (t == TYPE_LIT_WORD || t == TYPE_LIT_PATH) op = mode == COMP_STRICT_EQUAL ? COMP_STRICT_EQUAL_WORD : COMP_EQUAL_WORD;
    return actions::compare_star(&a, &b, op);
}

bool match_literal(const Cell* input, const Cell* rule, int32_t mode, int32_t end, int32_t* length) {
    int32_t i = int32_t(input->w1);
    uint32_t t = type_of(rule);
    Kind kind = kind_of(type_of(input));
    if (i >= end) {
        // Only an empty text matches at the end, and only in text.
        if (kind != STRING_KIND || !(t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL)) return false;
        if (needle_of(rule).length != 0) return false;
        *length = 0;
        return true;
    }
    if (kind == BLOCK_KIND) {
        Cell element;
        element_at(input, i, &element);
        *length = 1;
        return compare_element(&element, rule, mode);
    }
    Units in = units_of(input);
    bool exact = mode == COMP_STRICT_EQUAL || kind == BINARY_KIND;
    *length = 1;
    switch (t) {
        case TYPE_BITSET: return in_bitset(rule, in.at(i));
        case TYPE_CHAR: {
            uint32_t a = in.at(i), b = rule->w2;
            return a == b || (!exact && fold(a) == fold(b));
        }
        case TYPE_INTEGER: return kind == BINARY_KIND && in.at(i) == uint32_t(integer::get_value(rule));
        default:
            if (!text_value_q(t)) return false;
            Needle n = needle_of(rule);
            *length = span_of(n);
            return text_at(in, i, end, n, exact);
    }
}

bool repeat_literal(Cell* input, const Cell* rule, int32_t min, int32_t max, int32_t mode, int32_t end,
                    int32_t* count) {
    int32_t i = int32_t(input->w1);
    int32_t n = 0;
    auto more = [&] { return max < 0 || n < max; };
    uint32_t t = type_of(rule);
    Kind kind = kind_of(type_of(input));
    if (kind != BLOCK_KIND && (t == TYPE_BITSET || t == TYPE_CHAR)) {
        Units in = units_of(input);
        if (t == TYPE_BITSET) {
            SeriesBuffer* bits = bitset::buffer(rule);
            while (i < end && more() && bitset::has_bit(bits, in.at(i))) i++, n++;
        } else {
            bool exact = mode == COMP_STRICT_EQUAL || kind == BINARY_KIND;
            uint32_t b = rule->w2, fb = fold(b);
            while (i < end && more()) {
                uint32_t a = in.at(i);
                if (a != b && (exact || fold(a) != fb)) break;
                i++, n++;
            }
        }
    } else if (kind != BLOCK_KIND && text_value_q(t)) {
        Needle needle = needle_of(rule);
        if (needle.length == 0 && !needle.tag) {
            *count = std::max(min, 0);  // an empty text matches at once, without consuming
            return true;
        }
        Units in = units_of(input);
        bool exact = mode == COMP_STRICT_EQUAL || kind == BINARY_KIND;
        int32_t span = span_of(needle);
        while (more() && text_at(in, i, end, needle, exact)) i += span, n++;
    } else {
        // Blocks (and other rule values in text, which match one element or
        // nothing): one comparison per round; the comparison never allocates.
        int32_t length = 0;
        Cell at = *input;
        while (i < end && more()) {
            at.w1 = uint32_t(i);
            if (!match_literal(&at, rule, mode, end, &length) || length == 0) break;
            i += length, n++;
        }
    }
    input->w1 = uint32_t(i);
    *count = n;
    return n >= min;
}

int32_t search(const Cell* input, const Cell* rule, int32_t mode, int32_t end, int32_t* length) {
    int32_t i = int32_t(input->w1);
    uint32_t t = type_of(rule);
    Kind kind = kind_of(type_of(input));
    *length = 1;
    if (kind == BLOCK_KIND) {
        Cell element;
        for (; i < end; i++) {
            element_at(input, i, &element);
            if (compare_element(&element, rule, mode)) return i;
        }
        return -1;
    }
    Units in = units_of(input);
    bool exact = mode == COMP_STRICT_EQUAL || kind == BINARY_KIND;
    switch (t) {
        case TYPE_BITSET: {
            SeriesBuffer* bits = bitset::buffer(rule);
            for (; i < end; i++)
                if (bitset::has_bit(bits, in.at(i))) return i;
            return -1;
        }
        case TYPE_CHAR: {
            uint32_t b = rule->w2, fb = fold(b);
            for (; i < end; i++) {
                uint32_t a = in.at(i);
                if (a == b || (!exact && fold(a) == fb)) return i;
            }
            return -1;
        }
        default: break;
    }
    if (!text_value_q(t)) fire(ErrorCategory::script, "parse-rule", rule);
    Needle n = needle_of(rule);
    *length = span_of(n);
    if (n.length > 0 && !n.tag && in.unit == 1 && n.units.at(n.start) < 0x80) {
        // Text of bytes and an ASCII first character: the candidates are
        // the bytes equal to it, or to its other case when folding (no byte
        // above 127 folds to ASCII); memchr finds a lone candidate.
        const uint8_t first = uint8_t(n.units.at(n.start));
        const bool letter = (first | 0x20) >= 'a' && (first | 0x20) <= 'z';
        const uint8_t other = exact || !letter ? first : uint8_t(first ^ 0x20);
        const uint8_t* bytes = in.base;
        for (; int64_t(i) + *length <= end; i++) {
            if (first == other) {
                const void* p = std::memchr(bytes + i, first, size_t(end - *length + 1 - i));
                if (!p) return -1;
                i = int32_t(static_cast<const uint8_t*>(p) - bytes);
            } else if (bytes[i] != first && bytes[i] != other) {
                continue;
            }
            if (text_at(in, i, end, n, exact)) return i;
        }
        return -1;
    }
    if (n.length > 0 && !n.tag) {
        // Only where the first character matches is the rest compared.
        const uint32_t first = n.units.at(n.start), folded = fold(first);
        for (; int64_t(i) + *length <= end; i++) {
            uint32_t a = in.at(i);
            if (a != first && (exact || fold(a) != folded)) continue;
            if (text_at(in, i, end, n, exact)) return i;
        }
        return -1;
    }
    for (; int64_t(i) + *length <= end; i++)
        if (text_at(in, i, end, n, exact)) return i;
    return -1;
}

}  // namespace zuv::parse
