// Token loaders: each builds its token's value in a new slot of the value
// buffer when load is set, and only checks the token otherwise.
//
// Datatypes that do not exist yet (issue!, file!, binary!, tuple!, date!,
// pair!, point2D!/point3D!, money!, tag!, url!, email!, ref!):
// their loaders consume the token as its class says, so that checking scans
// keep their structure, and raise internal not-done when asked to load.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "lexer/convert.hpp"
#include "lexer/tables.hpp"
#include "lexer/token_text.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/percent.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
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

int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

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

// The loader of a datatype that does not exist yet: the token is consumed up
// to next; loading it raises internal not-done.
void missing_loader(State* lex, const uint8_t* next, bool load) {
    lex->pos = next;
    if (load) datatype_missing();
}

// Where a token ends whose closing byte is the look-ahead.
const uint8_t* past(const State* lex, const uint8_t* end) { return end < lex->input_end ? end + 1 : end; }

}  // namespace

void datatype_missing() { fire(ErrorCategory::internal, "not-done"); }

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
            int32_t d = hex_digit(*q);
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
            if (unit == 1) {
                *dst = uint8_t(cp);
            } else if (unit == 2) {
                uint16_t v = uint16_t(cp);
                std::memcpy(dst, &v, 2);
            } else {
                std::memcpy(dst, &cp, 4);
            }
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
    (void)start, (void)flags;
    missing_loader(lex, end, load);
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
        int32_t d = hex_digit(*p);
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
    // An optional sign, "1.#", then "NaN" or "INF" in any letter case.
    lex->pos = end;
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    double value;
    if (end - p != 6 || std::memcmp(p, "1.#", 3) != 0) throw_error(lex, start, end, TYPE_FLOAT);
    if (same_name_q(p + 3, end, "nan"))
        value = std::numeric_limits<double>::quiet_NaN();
    else if (same_name_q(p + 3, end, "inf"))
        value = negative ? -HUGE_VAL : HUGE_VAL;
    else
        throw_error(lex, start, end, TYPE_FLOAT);
    if (load) float_::make_at(alloc_slot(lex), value);
}

// ---- datatypes still to come -------------------------------------------------------

ZUV_TOKEN_FN(load_file) {
    (void)flags;
    // A quoted file's closing quote is the look-ahead at end.
    bool quoted = end - start > 1 && start[1] == '"';
    missing_loader(lex, quoted ? past(lex, end) : end, load);
}

ZUV_TOKEN_FN(load_binary) {
    (void)start, (void)flags;
    missing_loader(lex, past(lex, end), load);  // the "}" is the look-ahead
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
    (void)start, (void)flags;
    missing_loader(lex, end, load);
}

ZUV_TOKEN_FN(load_date) {
    (void)start, (void)flags;
    missing_loader(lex, end, load);
}

ZUV_TOKEN_FN(load_pair) {
    (void)start, (void)flags;
    missing_loader(lex, end, load);
}

ZUV_TOKEN_FN(load_point) {
    (void)start, (void)flags;
    // The body of "(" ... ")"; the ")" is the look-ahead. Reading goes on in
    // the state the "(" interrupted.
    const Cell* m = open_marker(lex);
    lex->start_state = m && path_type_q(marker_type(m)) ? S_PATH : S_START;
    missing_loader(lex, past(lex, end), load);
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
    (void)start, (void)flags;
    missing_loader(lex, end, load);
}

ZUV_TOKEN_FN(load_tag) {
    (void)flags;
    // "<" text, the ">" is the look-ahead.
    lex->pos = past(lex, end);
    if (*start != '<') throw_error(lex, start, past(lex, end), TYPE_TAG);
    missing_loader(lex, lex->pos, load);
}

ZUV_TOKEN_FN(load_url) {
    (void)flags;
    lex->pos = end;
    if (*start == ':') throw_error(lex, start, end, TYPE_GET_WORD);
    if (*start == '\'') throw_error(lex, start, end, TYPE_LIT_WORD);
    missing_loader(lex, end, load);
}

ZUV_TOKEN_FN(load_email) {
    (void)start, (void)flags;
    missing_loader(lex, end, load);
}

ZUV_TOKEN_FN(load_ref) {
    (void)start, (void)flags;
    missing_loader(lex, end, load);
}

}  // namespace zuv::lexer
