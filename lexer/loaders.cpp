// Token loaders: each builds its token's value in a new slot of the value
// buffer when load is set, and only checks the token otherwise.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>
#include <string>

#include "lexer/convert.hpp"
#include "lexer/tables.hpp"
#include "lexer/token_text.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/binary_codec.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/percent.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"

namespace zuv::lexer {

namespace {

struct EscapeName {
    const char* name;
    uint8_t code;
};
constexpr EscapeName escape_names[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

// One UTF-8 character at p, never reading at or past end; -1 when invalid.
int32_t decode_utf8_bounded(const uint8_t* p, const uint8_t* end, const uint8_t** next) {
    int32_t cp;
    *next = unicode::decode_utf8_bounded(p, end, &cp);
    return cp;
}

// Calls emit with each character of [p, end) (escapes decoded when asked);
// answers false at the first invalid sequence or escape. *width rises to the
// width the escapes ask for.
template <class Emit>
bool walk_text(const uint8_t* p, const uint8_t* end, bool escapes, int32_t* width, Emit&& emit) {
    while (p < end) {
        int32_t cp;
        if (*p < 0x80) {
            if (*p == '^' && escapes) {
                int32_t w;
                cp = decode_escape(p + 1, end, &p, &w);
                if (cp < 0) return false;
                *width = std::max(*width, w);
            } else {
                cp = *p++;
            }
        } else {
            cp = decode_utf8_bounded(p, end, &p);
            if (cp < 0) return false;
        }
        emit(uint32_t(cp));
    }
    return true;
}

// The character flags of the bytes [p, end), as the automaton would gather them.
uint32_t flags_of(const uint8_t* p, const uint8_t* end) {
    uint32_t flags = 0;
    for (; p < end; p++) flags |= char_descriptors[*p] & ~0xFFu;
    return flags;
}

// A float token (or a decimal integer too large for 32 bits).
void load_float_text(State* lex, const uint8_t* start, const uint8_t* end, bool load) {
    int32_t length = int32_t(end - start);
    if (!float_syntax_q(start, length)) throw_error(lex, start, end, TYPE_FLOAT);
    lex->type = TYPE_FLOAT;
    if (load) float_::make_at(alloc_slot(lex), float_text_to_double(start, length));
}

// Decimal digits with single apostrophes between them, from p; their value
// in *value (hours may pass the 32-bit integers, as time! writes them).
// Answers where the digits end, or null when there is none.
const uint8_t* time_number(const uint8_t* p, const uint8_t* end, double* value) {
    double n = 0.0;
    bool digit = false;
    for (; p < end; p++) {
        if (*p >= '0' && *p <= '9') {
            n = n * 10.0 + (*p - '0');
            digit = true;
        } else if (*p == '\'' && digit && p + 1 < end && p[1] >= '0' && p[1] <= '9') {
            continue;
        } else {
            break;
        }
    }
    *value = n;
    return digit ? p : nullptr;
}

// A time's text: an optional sign, hours ":" minutes, then ":" and seconds
// (a float without exponent). With "." or "," after the minutes the two
// numbers are minutes and seconds: 12:30.5 is twelve minutes and a half.
bool time_text_to_seconds(const uint8_t* p, const uint8_t* end, double* out) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    double first = 0.0, second = 0.0;
    p = time_number(p, end, &first);
    if (!p || p >= end || *p != ':') return false;
    p = time_number(p + 1, end, &second);
    if (!p) return false;
    double hours = first, minutes = second, seconds = 0.0;
    if (p < end) {
        bool fraction = *p == '.' || *p == ',';
        if (!fraction && *p != ':') return false;
        // Seconds: the text after a ":", or the minutes' own digits and
        // fraction after a "." or ",".
        const uint8_t* from = fraction ? p : p + 1;
        for (const uint8_t* q = from; q < end; q++)
            if (*q == 'e' || *q == 'E' || *q == '+' || *q == '-') return false;
        uint8_t text[FLOAT_TEXT_MAX];
        int32_t n = 0;
        if (fraction) {
            // The minutes' number becomes the seconds' whole part.
            n = std::snprintf(reinterpret_cast<char*>(text), sizeof text, "%.0f", second);
        }
        if (end - from > FLOAT_TEXT_MAX - n) return false;
        for (const uint8_t* q = from; q < end; q++) text[n++] = *q == ',' ? '.' : *q;
        if (n == 0 || !float_syntax_q(text, n)) return false;
        seconds = float_text_to_double(text, n);
        if (fraction) {
            hours = 0.0;
            minutes = first;
        }
    }
    double t = hours * 3600.0 + minutes * 60.0 + seconds;
    *out = negative ? -t : t;
    return std::isfinite(t);
}

// An optional sign, "1.#", then "NaN" or "INF" in any letter case: the
// quiet NaN or the infinity of the sign into *out; false for another text.
bool special_float(const uint8_t* p, const uint8_t* end, double* out) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || std::memcmp(p, "1.#", 3) != 0) return false;
    if (same_name_q(p + 3, end, "nan")) *out = std::numeric_limits<double>::quiet_NaN();
    else if (same_name_q(p + 3, end, "inf")) *out = negative ? -HUGE_VAL : HUGE_VAL;
    else return false;
    return true;
}

// Where a token ends whose closing byte is the look-ahead.
const uint8_t* past(const State* lex, const uint8_t* end) { return end < lex->input_end ? end + 1 : end; }

// The text [p, end) as a value of a URL-like type: "^" is an ordinary
// character, and "%xx" escapes are decoded when the text holds a "%".
void load_escaped(State* lex, const uint8_t* start, const uint8_t* p, const uint8_t* end, uint32_t flags,
                  int32_t type, bool load) {
    if (!std::memchr(p, '%', size_t(end - p))) {
        load_text(lex, start, p, end, flags, false, type, type, load);
        return;
    }
    check_utf8(lex, start, p, end, type);
    if (!load) return;
    std::vector<uint32_t> chars;
    url::decode(p, end, chars);
    Cell* slot = alloc_slot(lex);
    SlotLine line(slot);
    url::make_text_at(slot, chars, uint32_t(type));  // allocates: the input and the value buffer stay put
    line.restore(slot);
}

}  // namespace


// ---- text ----------------------------------------------------------------------

int32_t decode_escape(const uint8_t* p, const uint8_t* end, const uint8_t** next, int32_t* width) {
    int32_t unused;
    if (!width) width = &unused;
    *width = 1;
    if (p >= end) return -1;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* body = p + 1;
        auto* close = static_cast<const uint8_t*>(std::memchr(body, ')', size_t(end - body)));
        if (!close) return -1;
        *next = close + 1;
        int32_t digits = int32_t(close - body);
        bool hex = digits >= 1 && digits <= 6;
        uint32_t value = 0;
        for (const uint8_t* q = body; hex && q < close; q++) {
            int32_t d = string::hex_digit(*q);
            hex = d >= 0;
            value = value << 4 | uint32_t(d);
        }
        if (hex) {
            if (value > 0x10FFFF) return -1;
            *width = digits <= 2 ? 1 : digits <= 4 ? 2 : 4;
            return int32_t(value);
        }
        for (const EscapeName& e : escape_names)
            if (same_name_q(body, close, e.name)) return e.code;
        return -1;
    }
    *next = p + 1;
    switch (c) {
    case '"': return '"';
    case '-': return '\t';
    case '/': return '\n';
    case '^': return '^';
    case '{': return '{';
    case '}': return '}';
    case '~': return 127;
    case '@': return 0;
    default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 'A' && c <= '_') return c - 64;
    if (c < 0x80) return c;
    return decode_utf8_bounded(p, end, next);  // any other character stands for itself
}

int32_t load_text(State* lex, const uint8_t* start, const uint8_t* p, const uint8_t* end, uint32_t flags,
                  bool escapes, int32_t type, int32_t code, bool load) {
    escapes = escapes && (flags & C_FLAG_CARET);
    int32_t count = 0;
    uint32_t top = 0;
    int32_t width = 1;
    bool valid = walk_text(p, end, escapes, &width, [&](uint32_t cp) {
        count++;
        top = std::max(top, cp);
    });
    if (!valid) throw_error(lex, start, end, code);
    if (!load) return -1;

    int32_t unit = std::max({unit_of_flags(flags), width, top > 0xFFFF ? 4 : top > 0xFF ? 2 : 1});
    Cell* slot = alloc_slot(lex);
    int32_t index = lex->tail - 1;
    SlotLine line(slot);
    string::make_at_unit(slot, count, unit);  // allocates: the input and the value buffer stay put
    cell::set_type(line.restore(slot), uint32_t(type));
    SeriesBuffer* s = string::buffer(slot);
    uint8_t* dst = memory::tail_of(s);
    if (unit == 1 && !escapes && top < 0x80) {
        std::memcpy(dst, p, size_t(count));  // pure ASCII: one byte per character
    } else {
        walk_text(p, end, escapes, &width, [&](uint32_t cp) {
            string::put_char(dst, uint32_t(unit), cp);
            dst += unit;
        });
    }
    s->tail += count * unit;
    return index;
}

ZUV_TOKEN_FN(load_string) {
    // The closing quote is the look-ahead at end.
    int32_t type = lex->forced_type > 0 ? lex->forced_type : TYPE_STRING;
    lex->pos = past(lex, end);
    load_text(lex, start, start + 1, end, flags, true, type, type, load);
}

ZUV_TOKEN_FN(load_raw_string) {
    (void)flags;
    // n "%", "{", the text, "}" and n "%": the text ends at the first "}"
    // followed by n "%", which may lie past the token.
    const uint8_t* body = start;
    while (body < end && *body == '%') body++;
    int32_t n = int32_t(body - start);
    if (body >= end || *body != '{') throw_error(lex, start, end, TYPE_STRING);
    body++;
    const uint8_t* input_end = static_cast<const uint8_t*>(std::memchr(body, 0, size_t(lex->input_end - body)));
    if (!input_end) input_end = lex->input_end;  // a NUL byte ends the input
    const uint8_t* close = nullptr;
    for (const uint8_t* q = body; q < input_end && !close; q++) {
        if (*q != '}' || input_end - (q + 1) < n) continue;
        int32_t k = 0;
        while (k < n && q[1 + k] == '%') k++;
        if (k == n) close = q;
    }
    if (!close) throw_error(lex, start, input_end, TYPE_STRING);
    const uint8_t* after = close + 1 + n;
    if (after < input_end && *after == '%') throw_error(lex, start, after + 1, TYPE_STRING);
    lex->pos = after;
    if (!load) {
        int32_t moves = lex->moves;
        if (fire_event(lex, EVT_OPEN, TYPE_STRING, nullptr, start, body) && lex->moves == moves)
            fire_event(lex, EVT_CLOSE, TYPE_STRING, nullptr, close, after);
        if (lex->moves != moves) return;
    }
    load_text(lex, start, body, close, flags_of(body, close), false, TYPE_STRING, TYPE_STRING, load);
}

ZUV_TOKEN_FN(load_char) {
    (void)flags;
    // "#", a double quote, one character or escape; the closing quote is the look-ahead at end.
    lex->pos = past(lex, end);
    if (end - start < 3 || start[0] != '#' || start[1] != '"') throw_error(lex, start, end, TYPE_CHAR);
    const uint8_t* p = start + 2;
    const uint8_t* next;
    int32_t cp;
    if (*p == '^') {
        cp = decode_escape(p + 1, end, &next, nullptr);
    } else if (*p < 0x80) {
        cp = *p;
        next = p + 1;
    } else {
        cp = decode_utf8_bounded(p, end, &next);
    }
    if (cp < 0 || uint32_t(cp) > char_::MAX_CODE_POINT || next != end)
        throw_error(lex, start, past(lex, end), TYPE_CHAR);
    if (!load) return;
    char_::make_at(alloc_slot(lex), uint32_t(cp));  // keeps the new-line flag
}

// ---- words -----------------------------------------------------------------------

ZUV_TOKEN_FN(load_word) {
    (void)flags;
    WordToken w = check_word(lex, start, end);
    lex->type = w.type;
    lex->pos = w.end;
    if (load) make_word(lex, w.type, w.name, w.name_end);
}

ZUV_TOKEN_FN(load_refinement) {
    (void)flags;
    lex->pos = end;
    int64_t length = end - start;
    int32_t type;
    const uint8_t* name = start;
    const uint8_t* name_end = end;
    if (length == 1 && *start == '/') {
        type = TYPE_WORD;
    } else if (length == 2 && start[1] == '/' && (*start == '\'' || *start == ':')) {
        type = *start == '\'' ? TYPE_LIT_WORD : TYPE_GET_WORD;
        name++;
    } else if (length == 2 && start[0] == '/' && start[1] == ':') {
        type = TYPE_SET_WORD;
        name_end--;
    } else if (length > 1 && *start == '/') {
        type = TYPE_REFINEMENT;
        name++;
        check_utf8(lex, start, name, end, TYPE_REFINEMENT);
    } else {
        throw_error(lex, start, end, TYPE_REFINEMENT);
    }
    lex->type = type;
    if (load) make_word(lex, type, name, name_end);
}

ZUV_TOKEN_FN(load_issue) {
    (void)flags;
    lex->pos = end;
    if (end - start < 2 || *start != '#') throw_error(lex, start, end, TYPE_ISSUE);
    check_utf8(lex, start, start + 1, end, TYPE_ISSUE);
    if (!load) return;
    // The input lies in lexer memory, never in a series, so interning may allocate.
    int32_t symbol = symbol::intern(symbol::table, start + 1, int32_t(end - start - 1), false);
    Cell* slot = alloc_slot(lex);
    SlotLine line(slot);
    line.restore(word::make_bound(slot, TYPE_ISSUE, _context::global, symbol, -1));
}

// ---- numbers -------------------------------------------------------------------

ZUV_TOKEN_FN(load_integer) {
    (void)flags;
    lex->pos = end;
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int64_t value = 0;
    int32_t digits = 0;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (p + 1 < end && p[1] == '\'') throw_error(lex, start, end, TYPE_INTEGER);
            continue;
        }
        if (*p < '0' || *p > '9') throw_error(lex, start, end, TYPE_INTEGER);
        if (++digits <= 10) value = value * 10 + (*p - '0');
    }
    if (digits == 0) throw_error(lex, start, end, TYPE_INTEGER);
    if (negative) value = -value;
    if (digits > 10 || value > INT32_MAX || value < INT32_MIN) {
        load_float_text(lex, start, end, load);  // too large for 32 bits: a float
        return;
    }
    if (load) integer::make_at(alloc_slot(lex), int32_t(value));
}

ZUV_TOKEN_FN(load_hex) {
    (void)flags;
    // Hex digits followed by "h".
    lex->pos = end;
    const uint8_t* last = end - 1;
    int32_t digits = int32_t(last - start);
    bool decimal_first = digits > 0 && *start >= '0' && *start <= '9';
    if (digits < 2 && !decimal_first) throw_error(lex, start, end, TYPE_WORD);
    if (digits < 2 || digits > 8 || *last != 'h') throw_error(lex, start, end, TYPE_INTEGER);
    uint32_t value = 0;
    for (const uint8_t* p = start; p < last; p++) {
        int32_t d = string::hex_digit(*p);
        if (d < 0) throw_error(lex, start, end, TYPE_INTEGER);
        value = value << 4 | uint32_t(d);
    }
    if (load) integer::make_at(alloc_slot(lex), int32_t(value));
}

ZUV_TOKEN_FN(load_float) {
    (void)flags;
    lex->pos = end;
    load_float_text(lex, start, end, load);
}

ZUV_TOKEN_FN(load_float_special) {
    (void)flags;
    lex->pos = end;
    double value;
    if (!special_float(start, end, &value)) throw_error(lex, start, end, TYPE_FLOAT);
    if (load) float_::make_at(alloc_slot(lex), value);
}

// ---- dates ------------------------------------------------------------------------

namespace {

// A cursor over a date token; every reader stops at the token's end.
struct DateText {
    const uint8_t* p;
    const uint8_t* end;

    bool at(char c) const { return p < end && *p == uint8_t(c); }
    bool take(char c) {
        if (!at(c)) return false;
        p++;
        return true;
    }
    bool digit_q() const { return p < end && *p >= '0' && *p <= '9'; }
    // At most max digits into *value; false when fewer than min were there.
    bool number(int32_t min, int32_t max, int32_t* value) {
        int32_t n = 0, v = 0;
        while (digit_q() && n < max) {
            v = v * 10 + (*p++ - '0');
            n++;
        }
        *value = v;
        return n >= min;
    }
};

// The parts a date literal gives.
struct DateParts {
    int32_t year = 0, month = 0, day = 0;
    bool has_time = false;
    double seconds = 0;
    int32_t zone_minutes = 0;
};

// "Z", or a sign, hours (one or two digits) and optionally minutes (":" and
// one or two digits, or two digits right after two hour digits).
bool read_zone(DateText& t, DateParts& d) {
    if (t.take('Z')) return true;
    if (!t.at('+') && !t.at('-')) return false;
    bool west = *t.p++ == '-';
    const uint8_t* hours_start = t.p;
    int32_t hours, minutes = 0;
    if (!t.number(1, 2, &hours)) return false;
    if (t.take(':')) {
        if (!t.number(1, 2, &minutes)) return false;
    } else if (t.p - hours_start == 2 && t.digit_q()) {
        if (!t.number(2, 2, &minutes)) return false;
    }
    if (hours > 15 || minutes > 59) return false;
    int32_t total = hours * 60 + minutes;
    d.zone_minutes = west ? -total : total;
    return date::zone_from_minutes(d.zone_minutes) >= 0;  // whole quarter hours only
}

// Seconds: digits and dots, read as a float below 60.
bool read_seconds(DateText& t, double* seconds) {
    const uint8_t* s = t.p;
    while (t.p < t.end && ((*t.p >= '0' && *t.p <= '9') || *t.p == '.')) t.p++;
    auto length = int32_t(t.p - s);
    if (length == 0 || !float_syntax_q(s, length)) return false;
    *seconds = float_text_to_double(s, length);
    return *seconds < 60.0;
}

// A time of day: hours ":" minutes [":" seconds] (one or two digits each),
// or in the compact form (compact set) hhmm[ss[.f]]; then an optional zone.
// The time must end the token.
bool read_time(DateText& t, DateParts& d, bool compact) {
    int32_t hours, minutes;
    double seconds = 0;
    if (compact) {
        if (!t.number(2, 2, &hours) || !t.number(2, 2, &minutes)) return false;
        if (t.digit_q() && !read_seconds(t, &seconds)) return false;
    } else {
        if (!t.number(1, 2, &hours) || !t.take(':') || !t.number(1, 2, &minutes)) return false;
        if (t.take(':') && !read_seconds(t, &seconds)) return false;
    }
    if (hours > 23 || minutes > 59) return false;
    d.has_time = true;
    d.seconds = hours * 3600.0 + minutes * 60.0 + seconds;
    if (t.p < t.end && !read_zone(t, d)) return false;
    return t.p == t.end;
}

// After "T": the compact time when four digits follow, else the colon form.
bool read_t_time(DateText& t, DateParts& d) {
    bool compact = t.end - t.p >= 4 && std::all_of(t.p, t.p + 4, [](uint8_t c) { return c >= '0' && c <= '9'; });
    return read_time(t, d, compact);
}

// The calendar date of a day number into the parts.
void set_from_days(DateParts& d, int64_t n) {
    uint32_t packed = date::from_days(n, 0, false);
    d.year = date::year_of(packed);
    d.month = date::month_of(packed);
    d.day = date::day_of(packed);
}

// The month of 1 or 2 digits, or 3 to 9 letters that begin a month's name.
bool read_month(DateText& t, int32_t* month) {
    if (t.digit_q()) return t.number(1, 2, month);
    const uint8_t* s = t.p;
    while (t.p < t.end && ((*t.p | 0x20) >= 'a' && (*t.p | 0x20) <= 'z')) t.p++;
    auto n = size_t(t.p - s);
    if (n < 3 || n > 9) return false;
    for (int32_t m = 0; m < 12; m++) {
        const char* name = date::MONTH_NAMES[m];
        if (std::strlen(name) >= n && same_name_q(s, t.p, std::string(name, n).c_str())) {
            *month = m + 1;
            return true;
        }
    }
    return false;
}

// The four written forms of a date: 20210305T0907[00][Z|+hhmm],
// 2021-W09[-5][Thh:mm], 2021-064[Thh:mm] and day-month-year or
// year-month-day with "-" or "/" and an optional "/" or "T" time.
bool read_date(const uint8_t* start, const uint8_t* end, DateParts& d) {
    DateText t{start, end};
    bool negative = t.take('-');
    const uint8_t* digits = t.p;
    while (t.digit_q()) t.p++;
    auto run = int32_t(t.p - digits);
    if (run == 0) return false;
    if (run > 4) {
        // Compact: year, month and day, "T" and the time.
        if (negative || run > 8) return false;
        DateText y{digits, t.p - 4}, md{t.p - 4, t.p};
        if (!y.number(1, 4, &d.year) || !md.number(2, 2, &d.month) || !md.number(2, 2, &d.day)) return false;
        return t.take('T') && read_time(t, d, true);
    }
    int32_t first = 0;
    for (const uint8_t* q = digits; q < t.p; q++) first = first * 10 + (*q - '0');
    if (negative) first = -first;

    if (t.at('-') && t.p + 1 < t.end && t.p[1] == 'W') {
        // ISO week and weekday.
        t.p += 2;
        int32_t week, weekday = 0;
        if (!t.number(2, 2, &week) || week < 1 || week > 53) return false;
        if (t.take('-') && (!t.number(1, 1, &weekday) || weekday > 7)) return false;
        if (weekday == 0) weekday = 1;
        if (first < -9999) return false;
        set_from_days(d, date::iso_week1_monday(first) + 7 * (week - 1) + (weekday - 1));
        return t.p == t.end || (t.take('T') && read_t_time(t, d));
    }
    if (t.at('-') && t.end - t.p >= 4 && std::all_of(t.p + 1, t.p + 4, [](uint8_t c) { return c >= '0' && c <= '9'; }) &&
        (t.end - t.p == 4 || t.p[4] == 'T')) {
        // Day of the year.
        t.p++;
        int32_t yd;
        t.number(3, 3, &yd);
        if (yd < 1 || yd > (date::leap_year_q(first) ? 366 : 365) || first < -9999) return false;
        set_from_days(d, int64_t(date::days_of(first, 1, 1)) + yd - 1);
        return t.p == t.end || (t.take('T') && read_t_time(t, d));
    }

    // Day, month and year in either order.
    if (!t.at('-') && !t.at('/')) return false;
    char separator = char(*t.p++);
    int32_t month;
    if (!read_month(t, &month) || !t.take(separator)) return false;
    bool third_negative = t.take('-');
    const uint8_t* third_digits = t.p;
    int32_t third;
    if (!t.number(1, 9, &third)) return false;
    bool short_third = t.p - third_digits <= 2;
    if (third_negative) third = -third;
    if (third < 0 || third > 31 || first <= 99) {
        d.day = first;
        d.year = third;
        if (short_third && !third_negative) d.year += d.year > 49 ? 1900 : 2000;
    } else {
        d.year = first;
        d.day = third;
    }
    d.month = month;
    if (t.p == t.end) return true;
    if (t.take('/')) return read_time(t, d, false);
    return t.take('T') && read_t_time(t, d);
}

}  // namespace

ZUV_TOKEN_FN(load_date) {
    (void)flags;
    lex->pos = end;
    DateParts d;
    bool valid = read_date(start, end, d) && d.year >= -9999 && d.year <= 9999 && d.month >= 1 && d.month <= 12 &&
                 d.day >= 1 && d.day <= date::month_length(d.year, d.month);
    if (!valid) throw_error(lex, start, end, TYPE_DATE);
    if (load) date::make_at_parts(alloc_slot(lex), d.year, d.month, d.day, d.seconds, d.zone_minutes, d.has_time);
}

// ---- datatypes still to come -------------------------------------------------------

ZUV_TOKEN_FN(load_file) {
    // A quoted file's closing quote is the look-ahead at end.
    bool quoted = end - start > 1 && start[1] == '"';
    if (!quoted) {
        lex->pos = end;
        load_escaped(lex, start, start + 1, end, flags, TYPE_FILE, load);
        return;
    }
    lex->pos = past(lex, end);
    if (end >= lex->input_end || *end != '"') throw_error(lex, start, lex->pos, TYPE_FILE);
    load_text(lex, start, start + 2, end, flags, true, TYPE_FILE, TYPE_FILE, load);
}

ZUV_TOKEN_FN(load_binary) {
    (void)flags;
    // [base] "#{" digits, the "}" is the look-ahead. The base is 16 without
    // digits before the "#", else 2, 16 or 64.
    lex->pos = past(lex, end);
    const uint8_t* hash = start;
    while (hash < end && *hash != '#') hash++;
    const uint8_t* brace = hash + 1;
    if (hash >= end || brace >= end || *brace != '{') throw_error(lex, start, lex->pos, TYPE_BINARY);
    int32_t base = 16;
    if (hash > start) {
        base = 0;
        for (const uint8_t* p = start; p < hash && base <= 64; p++)
            base = *p >= '0' && *p <= '9' ? base * 10 + (*p - '0') : 1000;
    }
    // The text between the braces as code points (comments may hold any character).
    std::vector<uint32_t> text;
    for (const uint8_t* p = brace + 1; p < end;) {
        int32_t cp = decode_utf8_bounded(p, end, &p);
        if (cp < 0) throw_error(lex, start, lex->pos, TYPE_BINARY);
        text.push_back(uint32_t(cp));
    }
    std::vector<uint8_t> bytes;
    bool valid = base == 16 ? binary::decode_base16(text, bytes, true)
                 : base == 64 ? binary::decode_base64(text, bytes, true)
                 : base == 2 && binary::decode_base2(text, bytes);
    if (!valid) throw_error(lex, start, lex->pos, TYPE_BINARY);
    if (!load) return;
    Cell* slot = alloc_slot(lex);
    SlotLine line(slot);
    binary::load_at(slot, bytes);  // allocates: the input and the value buffer stay put
    line.restore(slot);
}

ZUV_TOKEN_FN(load_percent) {
    (void)flags;
    // The number's text; the "%" is the look-ahead.
    lex->pos = past(lex, end);
    int32_t length = int32_t(end - start);
    if (!float_syntax_q(start, length)) throw_error(lex, start, lex->pos, TYPE_PERCENT);
    lex->type = TYPE_PERCENT;
    if (load) percent::make_at(alloc_slot(lex), float_text_to_double(start, length) / 100.0);
}

ZUV_TOKEN_FN(load_tuple) {
    (void)flags;
    // 3 to 12 numbers of 0-255 joined by single dots.
    lex->pos = end;
    int32_t dots = int32_t(std::count(start, end, '.'));
    int32_t error = 0;
    Cell made{};
    string_to_tuple(start, int32_t(end - start), 1, &error, &made);
    if (error || dots < 2) throw_error(lex, start, end, TYPE_TUPLE);
    if (!load) return;
    Cell* slot = alloc_slot(lex);
    made.header |= slot->header & FLAG_NEW_LINE;
    *slot = made;
}

ZUV_TOKEN_FN(load_pair) {
    (void)flags;
    // Two decimal integers (each with an optional sign) around "x" or "X".
    lex->pos = end;
    const uint8_t* x = start;
    while (x < end && *x != 'x' && *x != 'X') x++;
    int32_t error = 0;
    bool dot = std::find(start, end, '.') != end;
    int32_t a = dot || x == end ? 0 : string_to_integer(start, int32_t(x - start), 1, &error);
    int32_t b = dot || x == end ? 0 : string_to_integer(x + 1, int32_t(end - x - 1), 1, &error);
    if (dot || x == end || error) throw_error(lex, start, end, TYPE_PAIR);
    if (load) pair::make_at(alloc_slot(lex), a, b);
}

ZUV_TOKEN_FN(load_point) {
    (void)flags;
    // The body of "(" ... ")"; the ")" is the look-ahead. Reading goes on in
    // the state the "(" interrupted.
    const Cell* m = open_marker(lex);
    lex->start_state = m && path_type_q(marker_type(m)) ? S_PATH : S_START;
    lex->pos = past(lex, end);
    // 2 or 3 numbers separated by ",", blanks and tabs around each. An error
    // shows the text from the "(".
    const uint8_t* open = start - 1;
    float c[3] = {0.0f, 0.0f, 0.0f};
    int32_t n = 0;
    for (const uint8_t* p = start; p <= end; n++) {
        const uint8_t* comma = std::find(p, end, ',');
        if (n == 3) throw_error(lex, open, past(lex, end), TYPE_POINT2D);
        const uint8_t* a = p;
        const uint8_t* b = comma;
        while (a < b && (*a == ' ' || *a == '\t')) a++;
        while (b > a && (b[-1] == ' ' || b[-1] == '\t')) b--;
        if (a == b) throw_error(lex, open, past(lex, end), TYPE_POINT2D);
        double d;
        if (!special_float(a, b, &d)) {
            int32_t length = int32_t(b - a);
            if (length > FLOAT_TEXT_MAX || !float_syntax_q(a, length))
                throw_error(lex, open, past(lex, end), TYPE_FLOAT);
            d = float_text_to_double(a, length);
        }
        c[n] = point::narrow(d);
        p = comma + 1;
    }
    if (n < 2) throw_error(lex, open, past(lex, end), TYPE_POINT2D);
    if (!load) return;
    lex->nlines = lex->saved_lines;  // a line break before the "(" marks the point
    Cell* slot = alloc_slot(lex);
    if (n == 2) point2D::make_at(slot, c[0], c[1]);
    else point3D::make_at(slot, c[0], c[1], c[2]);
}

ZUV_TOKEN_FN(load_time) {
    (void)flags;
    lex->pos = end;
    double seconds = 0.0;
    if (!time_text_to_seconds(start, end, &seconds)) throw_error(lex, start, end, TYPE_TIME);
    lex->type = TYPE_TIME;
    if (load) time::make_at(alloc_slot(lex), seconds);
}

ZUV_TOKEN_FN(load_money) {
    (void)flags;
    lex->pos = end;
    Cell value;
    if (!read_money(start, end, true, cell::begin(&value))) throw_error(lex, start, end, TYPE_MONEY);
    if (load) copy_cell(&value, alloc_slot(lex));
}

// ---- map! ---------------------------------------------------------------------

void make_map(State* lex, const uint8_t* opened, const uint8_t* end) {
    Cell pairs = *value_at(lex->tail - 1);
    SeriesBuffer* s = memory::buffer_of(pairs.w2);
    int32_t count = memory::length_of(s);
    bool valid = count % 2 == 0;
    for (int32_t i = 0; valid && i < count; i += 2) valid = map::valid_key_type_q(type_of(memory::cells_head(s) + i));
    if (!valid) throw_error(lex, opened, end, TYPE_MAP);
    uint32_t new_line = pairs.header & FLAG_NEW_LINE;
    Cell made = pairs;
    map::make_at(&made, &pairs, std::max(count, 2));
    made.header |= new_line;
    *value_at(lex->tail - 1) = made;
}

ZUV_TOKEN_FN(load_tag) {
    (void)flags;
    // "<" text, the ">" is the look-ahead.
    lex->pos = past(lex, end);
    if (*start != '<') throw_error(lex, start, past(lex, end), TYPE_TAG);
    load_text(lex, start, start + 1, end, flags, false, TYPE_TAG, TYPE_TAG, load);
}

ZUV_TOKEN_FN(load_url) {
    (void)flags;
    lex->pos = end;
    if (*start == ':') throw_error(lex, start, end, TYPE_GET_WORD);
    if (*start == '\'') throw_error(lex, start, end, TYPE_LIT_WORD);
    load_escaped(lex, start, start, end, flags, TYPE_URL, load);
}

ZUV_TOKEN_FN(load_email) {
    lex->pos = end;
    load_text(lex, start, start, end, flags, false, TYPE_EMAIL, TYPE_EMAIL, load);
}

ZUV_TOKEN_FN(load_ref) {
    // "@" and the name; the value keeps the name.
    lex->pos = end;
    load_text(lex, start, start + 1, end, flags, false, TYPE_REF, TYPE_REF, load);
}

}  // namespace zuv::lexer
