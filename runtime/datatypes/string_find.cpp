// string!: find and select, and the set operations on text.
//
// A search first turns its key into plain code points held in C++ memory
// (forming a value that is not text allocates, and the key may be the
// searched series itself); the scan that follows allocates nothing, so it
// reads the series' characters through one address.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <climits>
#include <cmath>
#include <unordered_set>
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/string_internal.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"

namespace zuv::string {

using namespace detail;

namespace {

// What is compared at each position of a search.
struct Key {
    enum Kind { code, bitset, text, number, never } kind = code;
    uint32_t cp = 0;              // code: the character (folded when the search folds)
    double num = 0.0;             // number: the value each vector! element is compared with
    Cell bits{};                  // bitset: the bitset! value
    // text: the characters (folded when the search folds); a short text's
    // are held in place, so that the everyday search allocates nothing.
    uint32_t* chars = small;
    int32_t count = 0;

    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    // Room for n characters, which the caller fills.
    uint32_t* make_room(int32_t n) {
        count = std::max(n, 0);
        if (count > int32_t(std::size(small))) {
            large.resize(size_t(count));
            chars = large.data();
        } else {
            chars = small;
        }
        return chars;
    }
    // The text value's characters from its head.
    void take_chars(const Cell* value) {
        int32_t n = rs_length_q(value);
        copy_chars(value, std::max(n, 0), make_room(n));
    }
    // Characters a match covers.
    int32_t length() const { return kind == text ? count : 1; }

  private:
    uint32_t small[32];
    std::vector<uint32_t> large;
};

inline uint32_t fold(uint32_t cp) { return case_folding::to_upper(cp); }

bool in_bitset_q(const Cell* bitset, uint32_t cp) { return bitset::has_bit(bitset, cp); }

// The value's formed text as characters.
void take_formed_chars(Key& k, const Cell* value) {
    Cell* saved_top = stack::top;
    Cell* v = stack::push(value);
    Cell* out = zs_make_at(cell::begin(stack::push_raw()), 16);
    actions::call_form(v, out, nullptr, INT32_MAX);
    k.take_chars(out);
    stack::top = saved_top;
}

// Fills k, a fresh key, with what a search of the value compares.
void key_of(Key& k, const Cell* series, const Cell* value, bool folding) {
    uint32_t series_type = type_of(series);
    uint32_t type = type_of(value);
    if (series_type == TYPE_VECTOR) {
        // A number (or a character) is compared with each element's value.
        switch (type) {
        case TYPE_INTEGER: case TYPE_CHAR: k.num = double(int32_t(value->w2)); break;
        case TYPE_FLOAT: case TYPE_PERCENT: k.num = cell::get_float(value); break;
        default: k.kind = Key::never; return;
        }
        k.kind = Key::number;
        return;
    }
    switch (type) {
    case TYPE_CHAR:
        k.cp = value->w2;
        break;
    case TYPE_BITSET:
        k.kind = Key::bitset;
        k.bits = *value;
        return;  // membership is tested on the character as stored
    case TYPE_BINARY:
        if (series_type != TYPE_BINARY) fire(ErrorCategory::script, "invalid-arg", value);
        [[fallthrough]];
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF:
        k.kind = Key::text;
        k.take_chars(value);
        break;
    case TYPE_WORD: {
        Cell name;
        word::name_string(value, &name);
        k.kind = Key::text;
        k.take_chars(&name);
        break;
    }
    case TYPE_INTEGER: case TYPE_FLOAT:
        if (series_type == TYPE_BINARY) {
            // A number in a binary! is one byte compared directly.
            double d = type == TYPE_INTEGER ? double(integer::get_value(value)) : cell::get_float(value);
            if (d >= 0.0 && d <= 255.0 && d == std::floor(d)) k.cp = uint32_t(d);
            else k.kind = Key::never;
            return;
        }
        [[fallthrough]];
    default:  // a tag! too: searched as its formed text
        k.kind = Key::text;
        take_formed_chars(k, value);
        break;
    }
    // An empty text matches nowhere.
    if (k.kind == Key::text && k.count == 0) k.kind = Key::never;
    if (folding) {
        k.cp = fold(k.cp);
        for (int32_t i = 0; i < k.count; i++) k.chars[i] = fold(k.chars[i]);
    }
}

struct Found {
    int32_t index = -1;   // absolute index of the match, -1 when none
    int32_t length = 1;   // characters matched
};

// The folded form of each byte of a one-byte text, and the bytes ordered
// by their folded form (to find the bytes that fold to a character), built
// once.
struct FoldedBytes {
    uint32_t of[256];
    std::pair<uint32_t, uint8_t> by_fold[256];
    // For a folded form below 256: where its bytes start in by_fold, and how many.
    uint8_t first_of[256];
    uint8_t count_of[256];
};

const FoldedBytes& folded_bytes() {
    static const FoldedBytes table = [] {
        FoldedBytes t{};
        for (uint32_t b = 0; b < 256; b++) {
            t.of[b] = fold(b);
            t.by_fold[b] = {t.of[b], uint8_t(b)};
        }
        std::sort(std::begin(t.by_fold), std::end(t.by_fold));
        for (int i = 255; i >= 0; i--) {
            const uint32_t folded = t.by_fold[i].first;
            if (folded > 255) continue;
            t.first_of[folded] = uint8_t(i);
            t.count_of[folded]++;
        }
        return t;
    }();
    return table;
}

// The first match of a text or character key in the bytes [from, end) of a
// one-byte text, record size 1: -1 when none. Without folding the bytes are
// searched as they are; with folding the candidates for the key's first
// character (the few bytes that fold to it) are found by memchr and the rest
// compared through the fold table, so nothing is folded twice.
int64_t scan_bytes(const uint8_t* base, int64_t from, int64_t end, const Key& key, bool folding) {
    const uint32_t* keys = key.kind == Key::text ? key.chars : &key.cp;
    const int64_t length = key.length();
    if (end - from < length) return -1;
    if (!folding) {
        std::string needle;
        needle.reserve(size_t(length));
        for (int64_t t = 0; t < length; t++) {
            if (keys[t] > 0xFF) return -1;
            needle.push_back(char(keys[t]));
        }
        const void* at = memmem(base + from, size_t(end - from), needle.data(), needle.size());
        return at ? static_cast<const uint8_t*>(at) - base : -1;
    }
    const FoldedBytes& table = folded_bytes();
    // The bytes that fold to the key's first character: straight from the
    // table when that character is below 256, else sought in by_fold.
    std::pair<const std::pair<uint32_t, uint8_t>*, const std::pair<uint32_t, uint8_t>*> range;
    if (keys[0] < 256) {
        range.first = table.by_fold + table.first_of[keys[0]];
        range.second = range.first + table.count_of[keys[0]];
    } else {
        range = std::equal_range(std::begin(table.by_fold), std::end(table.by_fold),
                                 std::pair<uint32_t, uint8_t>{keys[0], 0},
                                 [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    const int n = int(range.second - range.first);
    if (n == 0) return -1;
    auto rest_matches = [&](int64_t i) {
        for (int64_t t = 1; t < length; t++)
            if (table.of[base[i + t]] != keys[t]) return false;
        return true;
    };
    const int64_t last = end - length;  // the last start a match fits at
    if (n > 2) {
        for (int64_t i = from; i <= last; i++)
            if (table.of[base[i]] == keys[0] && rest_matches(i)) return i;
        return -1;
    }
    // Each candidate byte is sought a window at a time, so that one absent
    // from the text costs no more than the distance to the match: next[k]
    // is its next position (hit) or the end of the window searched so far.
    constexpr int64_t WINDOW = 512;
    int64_t next[2] = {INT64_MAX, INT64_MAX};
    bool hit[2] = {false, false};
    auto seek = [&](int k, int64_t at) {
        if (at > last) {
            next[k] = INT64_MAX;
            return;
        }
        int64_t stop = std::min(last + 1, at + WINDOW);
        const void* p = std::memchr(base + at, range.first[k].second, size_t(stop - at));
        hit[k] = p != nullptr;
        next[k] = p ? static_cast<const uint8_t*>(p) - base : stop;
    };
    for (int k = 0; k < n; k++) seek(k, from);
    for (;;) {
        int k = n == 2 && next[1] < next[0] ? 1 : 0;
        int64_t i = next[k];
        if (i == INT64_MAX) return -1;
        if (hit[k] && rest_matches(i)) return i;
        seek(k, hit[k] ? i + 1 : i);
    }
}

// The same for text of two or four bytes a character: a plain loop, the
// characters of the Latin-1 range folded through the table.
template <typename U>
int64_t scan_wide(const uint8_t* base, int64_t from, int64_t end, const Key& key, bool folding) {
    const uint32_t* keys = key.kind == Key::text ? key.chars : &key.cp;
    const int64_t length = key.length();
    const FoldedBytes& table = folded_bytes();
    auto at = [base](int64_t i) {
        U v;
        std::memcpy(&v, base + i * int64_t(sizeof(U)), sizeof(U));
        return uint32_t(v);
    };
    auto folded = [&](uint32_t c) { return !folding ? c : c < 256 ? table.of[c] : fold(c); };
    for (int64_t i = from, last = end - length; i <= last; i++) {
        if (folded(at(i)) != keys[0]) continue;
        int64_t t = 1;
        while (t < length && folded(at(i + t)) == keys[t]) t++;
        if (t == length) return i;
    }
    return -1;
}

// The search of find and select (see find for the refinements).
Found search(Cell* series, const Cell* value, const Cell* part, bool case_q, bool same, bool any, const Cell* with,
             const Cell* skip, bool last, bool reverse, bool match) {
    Found found;
    uint32_t type = type_of(series);
    int32_t total = series::total_length(series);  // any element width
    int32_t head = int32_t(series->w1);
    if (total == 0 || (!reverse && head >= total)) return found;
    if (any || series::given(with, series)) fire_not_done();
    head = std::clamp(head, 0, total);

    int64_t step = series::find_step(skip, series);

    bool limited = series::given(part, series);
    int64_t count = 0;
    if (limited) {
        if (type_of(part) == TYPE_INTEGER) {
            count = integer::get_value(part);
        } else {
            if (type_of(part) != type || part->w2 != series->w2) fire_refine_arg(refinements::part, part);
            count = int64_t(int32_t(part->w1)) - head;
        }
        if (count < 1) return found;
    }

    const bool folding = any_string_q(type) && !case_q && !same;
    Key key;
    key_of(key, series, value, folding);
    if (key.kind == Key::never) return found;
    const int64_t length = key.length();

    // From here on nothing allocates: the characters are read in place.
    SeriesBuffer* s = buffer(series);
    const uint32_t unit = memory::unit_of(s);
    const uint32_t shift = uint32_t(series::unit_shift(unit));
    const uint8_t* base = memory::head_of(s);
    auto char_at_index = [&](int64_t i) {
        uint32_t c = get_char(base + (i << shift), unit);
        return folding ? fold(c) : c;
    };
    // Does a match start at i and end at or before end?
    auto matches_at = [&](int64_t i, int64_t end) {
        if (i < 0 || i + length > end) return false;
        switch (key.kind) {
        case Key::code: return char_at_index(i) == key.cp;
        case Key::bitset: return in_bitset_q(&key.bits, get_char(base + (i << shift), unit));
        case Key::number: {
            Cell element;
            vector::element_value(base + (i << shift), int32_t(unit), series->w3, &element);
            uint32_t t = type_of(&element);
            return (t == TYPE_FLOAT || t == TYPE_PERCENT ? cell::get_float(&element) : double(int32_t(element.w2))) ==
                   key.num;
        }
        case Key::text:
            for (int64_t t = 0; t < length; t++)
                if (char_at_index(i + t) != key.chars[t]) return false;
            return true;
        case Key::never: return false;
        }
        return false;
    };

    int64_t i = -1;
    if (last) {
        // Backward from the last record of the range that a match fits in,
        // down to the head; records stay aligned on the head.
        int64_t end = limited ? std::min<int64_t>(head + count, total) : total;
        int64_t start = end - length;
        if (start < head) return found;
        start = head + (start - head) / step * step;
        for (i = start; i >= head; i -= step) {
            if (matches_at(i, end)) break;
            if (match) return found;
        }
        if (i < head) return found;
    } else if (reverse) {
        // Backward from the record before the head, down to the series'
        // first character (or count characters before the head).
        if (match) return found;
        int64_t low = limited ? std::max<int64_t>(head - count, 0) : 0;
        for (i = head - step; i >= low; i -= step)
            if (matches_at(i, total)) break;
        if (i < low) return found;
    } else if (step == 1 && !match && (key.kind == Key::code || key.kind == Key::text) &&
               (unit == 1 || any_string_q(type))) {
        int64_t end = limited ? std::min<int64_t>(head + count, total) : total;
        i = unit == 1   ? scan_bytes(base, head, end, key, folding)
            : unit == 2 ? scan_wide<uint16_t>(base, head, end, key, folding)
                        : scan_wide<uint32_t>(base, head, end, key, folding);
        if (i < 0) return found;
    } else {
        int64_t end = limited ? std::min<int64_t>(head + count, total) : total;
        for (i = head; i + length <= end; i += step) {
            if (matches_at(i, end)) break;
            if (match) return found;
        }
        if (i + length > end) return found;
    }
    found.index = int32_t(i);
    found.length = int32_t(length);
    return found;
}

}  // namespace

Cell* find(Cell* series, Cell* value, Cell* part, bool, bool case_q, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match) {
    // /only has no effect on text.
    Found f = search(series, value, part, case_q, same, any, with, skip, last, reverse, match);
    Cell* result = stack::push(series);
    if (f.index < 0) return none::make_at(result);
    int64_t at = tail ? std::min<int64_t>(int64_t(f.index) + f.length, series::total_length(series)) : f.index;
    result->w1 = uint32_t(at);
    return result;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool, bool case_q, bool same, bool any, Cell* with, Cell* skip,
             bool last, bool reverse) {
    Found f = search(series, value, part, case_q, same, any, with, skip, last, reverse, false);
    Cell* result = stack::push(series);
    // The character after the match: a match of formed text counts its
    // formed length, so that select "a12b" 12 gives #"b".
    int64_t after = int64_t(f.index) + f.length;
    if (f.index < 0 || after >= series::total_length(series)) return none::make_at(result);
    if (type_of(series) == TYPE_VECTOR) {
        // The element after the match, a value of the vector's kind.
        SeriesBuffer* s = buffer(series);
        uint32_t unit = memory::unit_of(s);
        return vector::element_value(memory::head_of(s) + after * unit, int32_t(unit), series->w3, result);
    }
    uint32_t c = char_at(series, int32_t(after));
    if (type_of(series) == TYPE_BINARY) return integer::make_at(cell::begin(result), int32_t(c));
    return char_::make_at(cell::begin(result), c);
}

// ---- set operations ----

void do_set_op(bool case_q, Cell* skip, int32_t op) {
    Cell* first = stack::arguments;
    Cell* second = first + 1;
    int32_t record = series::record_size(skip, first);
    const bool unique = op == 8;
    auto key = [&](uint32_t c) { return case_q ? c : fold(c); };
    // Both texts' characters in C++ memory, from their heads.
    std::vector<uint32_t> a = chars_of(first);
    std::vector<uint32_t> b = unique ? std::vector<uint32_t>{} : chars_of(second);
    auto keys_of = [&](const std::vector<uint32_t>& chars) {
        std::unordered_set<uint32_t> keys;
        for (size_t i = 0; i < chars.size(); i += size_t(record)) keys.insert(key(chars[i]));
        return keys;
    };

    // The result's characters; a kept record joins only when its key is not
    // yet the key of a record in it.
    std::vector<uint32_t> out;
    std::unordered_set<uint32_t> seen;
    auto gather = [&](const std::vector<uint32_t>& chars, auto keep) {
        for (size_t i = 0; i < chars.size(); i += size_t(record)) {
            uint32_t k = key(chars[i]);
            if (!keep(k) || !seen.insert(k).second) continue;
            size_t end = std::min(chars.size(), i + size_t(record));
            out.insert(out.end(), chars.begin() + ptrdiff_t(i), chars.begin() + ptrdiff_t(end));
        }
    };
    auto all = [](uint32_t) { return true; };
    switch (op) {
    case 8: gather(a, all); break;
    case 9: gather(a, all); gather(b, all); break;
    case 10: case 11: case 12: {
        std::unordered_set<uint32_t> in_b = keys_of(b);
        bool wanted = op == 10;
        gather(a, [&](uint32_t k) { return (in_b.count(k) != 0) == wanted; });
        if (op == 12) {
            std::unordered_set<uint32_t> in_a = keys_of(a);
            gather(b, [&](uint32_t k) { return in_a.count(k) == 0; });
        }
        break;
    }
    default: fire_not_done();
    }

    // The new text, of the first argument's type, replaces the first argument.
    uint32_t type = type_of(first);
    uint32_t widest = out.empty() ? 0 : *std::max_element(out.begin(), out.end());
    uint32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    if (out.size() > size_t(INT32_MAX / unit)) fire(ErrorCategory::internal, "no-memory");
    Cell made;
    make_at_unit(&made, int32_t(out.size()), int32_t(unit));
    SeriesBuffer* s = buffer(&made);
    uint8_t* to = memory::head_of(s);
    for (size_t i = 0; i < out.size(); i++) put_char(to + i * unit, unit, out[i]);
    s->tail = s->head + int32_t(out.size() * unit);
    cell::set_type(&made, type);
    copy_cell(&made, first);
}

}  // namespace zuv::string
