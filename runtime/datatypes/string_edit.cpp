// string!: append, insert and change, swap, take and trim.
//
// append, insert and change share one step: the new text (characters, text,
// a tag with its brackets, or the formed text of any other value, /dup
// times) is first added at the tail, where it can be built with the
// ordinary appending routines however it widens or grows the buffer; insert
// and change then rotate it into place. Every position is kept as an index
// and every address re-derived after anything that may allocate, so that
// inserting a string into itself reads what it had before.
#include <algorithm>
#include <climits>
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/string_internal.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"

namespace zuv::string {

using namespace detail;

namespace {

// The unit that appending cp needs (appending keeps only 0-127 in unit 1).
inline uint32_t unit_for_append(uint32_t cp) { return cp <= 127 ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Makes the series' buffer hold `chars` characters in at least `unit`:
// widened first, then grown to the needed size, or doubled when that is
// less than twice the current room. A size beyond 32 bits raises internal
// no-memory.
void prepare(const Cell* series, uint32_t unit, int64_t chars) {
    SeriesBuffer* s = buffer(series);
    uint32_t current = memory::unit_of(s);
    if (unit > current) s = widen_to(s, current, unit);
    unit = memory::unit_of(s);
    int64_t bytes;
    if (__builtin_mul_overflow(chars, int64_t(unit), &bytes) || bytes > INT32_MAX) fire_no_memory();
    if (int64_t(s->size) - s->head >= bytes) return;
    int64_t room = int64_t(s->size) - s->head;
    memory::expand_series(series->w2, bytes < 2 * room ? 2 * room : bytes);
}

// The characters that `count` more need, checked against 32-bit sizes.
int64_t grown_length(const Cell* series, int64_t count, int64_t dup) {
    int64_t more;
    if (__builtin_mul_overflow(count, dup, &more) || more > INT32_MAX) fire_no_memory();
    return int64_t(total_length(series)) + more;
}

// A text unit this code knows (any other is a fault the general path reports).
inline bool known_unit_q(uint32_t unit) { return (0x16u >> unit) & 1; }

// The everyday append: a string's text from its head, or one character,
// added once and whole. It takes add_at_tail's steps for these two cases
// (the same widening and growth, by prepare, when the buffer needs either;
// only then is the value held on the data stack). Answers the characters
// added, or -1, having done nothing, for any other value.
[[gnu::always_inline]] inline int32_t append_whole(Cell* series, const Cell* value) {
    const uint32_t type = type_of(value);
    SeriesBuffer* s = buffer(series);
    uint32_t unit = memory::unit_of(s);
    if (!known_unit_q(unit)) return -1;
    if (type == TYPE_CHAR) {
        const uint32_t cp = value->w2;
        const uint32_t need = unit_for_append(cp);
        if (need > unit || int64_t(s->size) - s->tail < unit) {
            prepare(series, need, grown_length(series, 1, 1));
            s = buffer(series);
            unit = memory::unit_of(s);
        }
        put_char(memory::tail_of(s), unit, cp);
        s->tail += int32_t(unit);
        return 1;
    }
    if (type != TYPE_STRING) return -1;
    SeriesBuffer* v = buffer(value);
    const uint32_t source_unit = memory::unit_of(v);
    if (!known_unit_q(source_unit)) return -1;
    const int32_t from = std::max(int32_t(value->w1), 0);
    const int32_t length = (memory::used_bytes(v) >> unit_shift(source_unit)) - from;
    if (length <= 0) return 0;
    Cell* saved_top = stack::top;
    if (source_unit > unit || int64_t(s->size) - s->tail < int64_t(length) << unit_shift(unit)) {
        // The value may lie in a buffer that growing moves, and its text may
        // have no other holder: it is kept on the data stack meanwhile.
        const Cell* held = stack::push(value);
        prepare(series, source_unit, grown_length(series, length, 1));  // may move both buffers (they may be one)
        s = buffer(series);
        v = buffer(held);
        unit = memory::unit_of(s);
    }
    const uint8_t* text = memory::head_of(v) + (int64_t(from) << unit_shift(source_unit));
    uint8_t* to = memory::tail_of(s);
    const int32_t bytes = length << unit_shift(unit);
    if (unit == source_unit) {
        std::memmove(to, text, size_t(bytes));
    } else {
        for (int32_t i = 0; i < length; i++) {
            uint32_t cp = get_char(text + (int64_t(i) << unit_shift(source_unit)), source_unit);
            put_char(to + (int64_t(i) << unit_shift(unit)), unit, cp);
        }
    }
    s->tail += bytes;
    stack::top = saved_top;
    return length;
}

// Forms the value at the tail of the series, cut to part characters when
// part >= 0; returns the characters added.
int64_t form_at_tail(Cell* series, Cell* value, int64_t part) {
    if (type_of(value) == TYPE_INTEGER) {
        // The commonest value formed into text: its digits written at once,
        // without the action's dispatch.
        char text[integer::TEXT_SIZE];
        int32_t n = integer::to_text(integer::get_value(value), text);
        if (part >= 0 && part < n) n = int32_t(part);
        SeriesBuffer* s = buffer(series);
        if (memory::unit_of(s) == 1 && int64_t(s->size) - s->tail >= n) {
            // Room for the digits in one-byte text: copied straight in.
            std::memcpy(memory::tail_of(s), text, size_t(n));
            s->tail += n;
            return n;
        }
        append_bytes(series, reinterpret_cast<const uint8_t*>(text), n);
        return n;
    }
    int32_t before = total_length(series);
    actions::call_form(value, series, nullptr, part >= 0 ? int32_t(std::min<int64_t>(part, INT32_MAX)) : INT32_MAX);
    int64_t added = int64_t(total_length(series)) - before;
    if (part >= 0 && added > part) {
        truncate_to(buffer(series), int32_t(before + part));
        added = part;
    }
    return added;
}

// What the value adds, for the owner's notice before the change: its
// length when known beforehand, else 0.
int32_t expected_length(const Cell* value, int32_t part, int32_t dup) {
    uint32_t type = type_of(value);
    int64_t n = 0;
    if (type == TYPE_CHAR) n = 1;
    else if (any_string_q(type)) n = rs_length_q(value) + (type == TYPE_TAG ? 2 : 0);
    if (part >= 0 && part < n) n = part;
    return int32_t(std::min<int64_t>(n * dup, INT32_MAX));
}

// Adds dup copies of the value's text at the tail (each cut to part
// characters when part >= 0) and answers the characters added. The value
// cell may lie anywhere: it is held on the data stack while the series grows.
int64_t add_at_tail(Cell* series, const Cell* value_in, int32_t part, int32_t dup) {
    if (dup < 1) return 0;
    Cell* saved_top = stack::top;
    Cell* value = stack::push(value_in);
    const int32_t start = total_length(series);
    const uint32_t type = type_of(value);
    int64_t added = 0;

    if (type == TYPE_CHAR) {
        uint32_t cp = value->w2;
        prepare(series, unit_for_append(cp), grown_length(series, 1, dup));
        append_char(buffer(series), cp);
        added = 1;
    } else if (any_string_q(type)) {
        // Text, or a tag! with its brackets, the part counting them too.
        const bool tag = type == TYPE_TAG;
        int64_t length = rs_length_q(value) + (tag ? 2 : 0);
        int64_t want = part >= 0 && part < length ? part : length;
        if (want > 0) {
            prepare(series, unit_of(value), grown_length(series, want, dup));
            int64_t left = want;
            if (tag) {
                append_char(buffer(series), '<');
                left--;
            }
            int32_t body = int32_t(std::min<int64_t>(left, rs_length_q(value)));
            if (body > 0) concatenate(series, value, body, 0, true, CONCAT_APPEND);
            left -= body;
            if (tag && left > 0) append_char(buffer(series), '>');
            added = want;
        }
    } else if (type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH) {
        // Each element formed in turn, nothing between them; the part is
        // shared and the text cut where it goes over.
        const Node node = value->w2;
        Cell* element = stack::push_raw();
        int64_t left = part >= 0 ? part : INT64_MAX;
        for (int32_t i = std::max(int32_t(value->w1), 0); left > 0; i++) {
            SeriesBuffer* b = memory::buffer_of(node);  // forming may move it
            if (i >= memory::used_bytes(b) / int32_t(sizeof(Cell))) break;
            *element = memory::cells_head(b)[i];
            // Text and characters go in as they stand (their form is their text).
            int64_t n = part < 0 ? append_whole(series, element) : -1;
            if (n < 0) n = form_at_tail(series, element, part >= 0 ? left : -1);
            added += n;
            left -= n;
        }
    } else {
        added = form_at_tail(series, value, part);
    }

    // /dup: the characters just added are repeated, doubling the copies.
    if (dup > 1 && added > 0) {
        prepare(series, 1, grown_length(series, added, dup - 1));
        SeriesBuffer* s = buffer(series);
        const uint32_t unit = memory::unit_of(s);
        const int64_t pattern = added * unit;
        uint8_t* from = memory::head_of(s) + (int64_t(start) << unit_shift(unit));
        int64_t copies = 1;
        while (copies < dup) {
            int64_t c = std::min<int64_t>(copies, dup - copies);
            std::memmove(memory::tail_of(s), from, size_t(c * pattern));
            s->tail += int32_t(c * pattern);
            copies += c;
        }
        added *= dup;
    }
    stack::top = saved_top;
    return added;
}

// Moves the last `added` characters of the series to absolute index at,
// shifting the characters from there up.
void rotate_into_place(const Cell* series, int32_t at, int64_t added) {
    int32_t total = total_length(series);
    int32_t before = int32_t(total - added);
    if (at >= before || added <= 0) return;
    uint32_t unit = unit_of(series);
    swap_blocks(char_address(series, at), int32_t(int64_t(before - at) * unit), int32_t(added * unit));
}

// ---- trim ----

// Whitespace at the ends and for /lines: 1-32 and the Unicode spaces.
bool whitespace_q(uint32_t c) {
    if (c >= 1 && c <= 32) return true;
    switch (c) {
    case 133: case 160: case 5760: case 6158: case 8232: case 8233: case 8239: case 8287: case 12288: return true;
    default: return c >= 8192 && c <= 8202;
    }
}

// Blanks inside plain trim: the whitespace above but line ends and the
// other control characters.
bool blank_q(uint32_t c) { return c == ' ' || c == '\t' || (c > 32 && whitespace_q(c)); }

std::vector<uint32_t> trim_set(const std::vector<uint32_t>& in, const std::vector<uint32_t>& set) {
    std::vector<uint32_t> out;
    out.reserve(in.size());
    for (uint32_t c : in)
        if (std::find(set.begin(), set.end(), c) == set.end()) out.push_back(c);
    return out;
}

std::vector<uint32_t> trim_lines(const std::vector<uint32_t>& in) {
    std::vector<uint32_t> out;
    bool space = false;
    for (uint32_t c : in) {
        if (whitespace_q(c)) {
            space = !out.empty();
            continue;
        }
        if (space) out.push_back(' ');
        space = false;
        out.push_back(c);
    }
    return out;
}

std::vector<uint32_t> trim_spaces(const std::vector<uint32_t>& in, bool head, bool tail) {
    const bool plain = !head && !tail;
    size_t from = 0, to = in.size();
    if (head || plain)
        while (from < to && whitespace_q(in[from])) from++;
    bool dropped_line_end = false;
    if (tail || plain) {
        while (to > from && whitespace_q(in[to - 1])) {
            if (in[to - 1] == '\n') dropped_line_end = true;
            to--;
        }
    }
    std::vector<uint32_t> out;
    out.reserve(to - from + 1);
    if (!plain) {
        out.assign(in.begin() + ptrdiff_t(from), in.begin() + ptrdiff_t(to));
        return out;
    }
    // Each line loses the blanks at its start and those before its line feed.
    size_t line = out.size();
    bool line_start = true;
    for (size_t i = from; i < to; i++) {
        uint32_t c = in[i];
        if (c == '\n') {
            while (out.size() > line && blank_q(out.back())) out.pop_back();
            out.push_back(c);
            line = out.size();
            line_start = true;
        } else if (!(line_start && blank_q(c))) {
            out.push_back(c);
            line_start = false;
        }
    }
    if (dropped_line_end) out.push_back('\n');
    return out;
}

}  // namespace

// ---- append, insert and change ----

Cell* append(Cell* series, Cell* value, int32_t part, bool, int32_t dup, bool notify_owner) {
    // No owner to tell, no /part, no /dup: the short way, when the value has one.
    if (part < 0 && dup == 1 && !(notify_owner && (buffer(series)->flags & SERIES_OWNED)) &&
        append_whole(series, value) >= 0) {
        series->w1 = 0;
        return series;
    }
    bool owned = false;
    if (notify_owner) {
        owned = notify(series, words::append, value, total_length(series), expected_length(value, part, dup));
    }
    int32_t at = total_length(series);
    int64_t added = add_at_tail(series, value, part, dup);
    series->w1 = 0;
    if (owned) notify(series, words::appended, value, at, int32_t(added));
    return series;
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    if (append_flag) return append(series, value, part, only, dup, true);
    int32_t head = clamped_head(series);
    // At the tail, with no owner to tell, no /part and no /dup, insert is
    // append's short way, the position then after the new text.
    if (part < 0 && dup == 1 && head >= total_length(series) && !(buffer(series)->flags & SERIES_OWNED) &&
        append_whole(series, value) >= 0) {
        series->w1 = uint32_t(total_length(series));
        return series;
    }
    bool owned = notify(series, words::insert, value, head, expected_length(value, part, dup));
    head = std::min(head, total_length(series));
    int64_t added = add_at_tail(series, value, part, dup);
    rotate_into_place(series, head, added);
    series->w1 = uint32_t(std::min<int64_t>(head + added, total_length(series)));
    if (owned) notify(series, words::inserted, value, head, int32_t(added));
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    int32_t head = clamped_head(series);
    series->w1 = uint32_t(head);
    int32_t expected = part >= 0 ? std::min(part, total_length(series) - head) : expected_length(value, -1, dup);
    bool owned = notify(series, words::change, value, head, expected);
    int32_t total = total_length(series);
    head = std::min(head, total);
    int64_t added = add_at_tail(series, value, -1, dup);
    // Replaced: the part count, else as many characters as are new; never
    // more than stand after the head.
    int64_t replaced = std::min<int64_t>(part >= 0 ? part : added, total - head);
    rotate_into_place(series, head, added);
    if (replaced > 0) remove_part(series, int32_t(head + added), int32_t(replaced));
    series->w1 = uint32_t(std::min<int64_t>(head + added, total_length(series)));
    if (owned) notify(series, words::changed, value, head, int32_t(added));
    return series;
}

// ---- swap and take ----

Cell* swap(Cell* series1, Cell* series2) {
    if (!text_series_q(type_of(series2))) fire(ErrorCategory::script, "invalid-arg", series2);
    if (at_tail_q(series1) || at_tail_q(series2)) return series1;
    int32_t h1 = int32_t(series1->w1), h2 = int32_t(series2->w1);
    // A byte cannot take a character beyond 255: refused before anything changes.
    if ((type_of(series1) == TYPE_BINARY && char_at(series2, h2) > 255) ||
        (type_of(series2) == TYPE_BINARY && char_at(series1, h1) > 255))
        fire(ErrorCategory::script, "invalid-arg", series2);
    bool owned1 = notify(series1, words::swap, series2, h1, 1);
    bool owned2 = notify(series2, words::swap, series1, h2, 1);
    if (at_tail_q(series1) || at_tail_q(series2)) return series1;
    h1 = int32_t(series1->w1);
    h2 = int32_t(series2->w1);
    uint32_t c1 = char_at(series1, h1);
    uint32_t c2 = char_at(series2, h2);
    // Each store may widen its buffer (the two may be one): one at a time.
    overwrite_char(buffer(series1), h1, c2);
    overwrite_char(buffer(series2), h2, c1);
    if (owned1) notify(series1, words::swaped, series2, h1, 1);
    if (owned2) notify(series2, words::swaped, series1, h2, 1);
    return series1;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    series::TakeRange r = series::take_range(series, part, last);
    if (r.empty_series) return none::make_at(series);
    Cell original = *series;
    bool owned = notify(&original, words::take, nullptr, r.start, r.count);
    series::take(series, part, deep, last);  // the range again: the owner may have changed the text
    if (owned) notify(&original, words::taken, nullptr, r.start, 0);
    return series;
}

// ---- trim ----

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    const bool by_set = all || series::given(with, series);
    if (!by_set && auto_) fire_not_done();
    std::vector<uint32_t> set;
    if (series::given(with, series)) {
        switch (type_of(with)) {
        case TYPE_CHAR: case TYPE_INTEGER: set.push_back(with->w2); break;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_BINARY:
            set = chars_of(with);
            if (set.empty()) return series;  // an empty set removes nothing
            break;
        default: fire(ErrorCategory::script, "invalid-arg", with);
        }
    } else if (all) {
        set = {'\t', '\n', '\r', ' '};
    }

    int32_t from = clamped_head(series);
    bool owned = notify(series, words::trim, nullptr, from, total_length(series) - from);
    from = clamped_head(series);
    Cell text = *series;
    text.w1 = uint32_t(from);
    std::vector<uint32_t> in = chars_of(&text);
    std::vector<uint32_t> out = by_set ? trim_set(in, set) : lines ? trim_lines(in) : trim_spaces(in, head, tail);

    // What is kept is never longer than what was there, and a line feed or a
    // space fits any unit: it is written back in place.
    uint32_t unit = unit_of(series);
    uint8_t* to = char_address(series, from);
    for (size_t i = 0; i < out.size(); i++) put_char(to + i * unit, unit, out[i]);
    SeriesBuffer* s = buffer(series);
    s->tail = s->head + int32_t((int64_t(from) + int64_t(out.size())) << unit_shift(unit));
    if (owned) notify(series, words::trimmed, nullptr, from, int32_t(out.size()));
    return series;
}

}  // namespace zuv::string
