#include "runtime/unicode.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/runtime.hpp"

namespace zuv::unicode {

namespace {

// UTF-8 decoding automaton: 256 character classes, then 108 transitions
// indexed by state + class. State 0 accepts, state 12 rejects.
constexpr uint8_t UTF8_ACCEPT = 0;
constexpr uint8_t UTF8_REJECT = 12;
constexpr uint8_t utf8_dfa[364] = {
    // classes of 0x00-0x7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x80-0xBF continuation bytes
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    // 0xC0-0xFF lead bytes
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
};

// Bytes 0x80-0xFF of Windows-1251 (0x98, unassigned, maps to U+0098).
constexpr uint16_t cp1251_high[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

[[noreturn]] void raise_invalid_char(uint32_t cp) {
    Cell arg;
    integer::make_at(cell::begin(&arg), int32_t(cp));
    fire(ErrorCategory::script, "invalid-char", &arg);
}

// Raises access invalid-utf8 with a binary! of the (at most 4) bytes at the
// faulty position. The bytes are copied out before allocating.
[[noreturn]] void raise_invalid_utf8(const uint8_t* p, int32_t remaining) {
    uint8_t bytes[4];
    int32_t n = std::clamp(remaining, 0, 4);
    std::memcpy(bytes, p, size_t(n));
    Node node = memory::alloc_bytes(n);
    SeriesBuffer* s = memory::buffer_of(node);
    std::memcpy(memory::head_of(s), bytes, size_t(n));
    s->tail = s->head + n;
    Cell arg;
    cell::begin(&arg)->w2 = node;
    cell::set_type(&arg, TYPE_BINARY);
    fire(ErrorCategory::access, "invalid-utf8", &arg);
}

// The DFA decoder, stopping at end (null: no end). A sequence broken by a
// byte that cannot continue it ends before that byte, which starts the next.
const uint8_t* dfa_decode(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    uint32_t state = UTF8_ACCEPT, code = 0;
    const uint8_t* start = p;
    do {
        if (end && p >= end) {
            *cp = -1;
            return p;
        }
        uint32_t b = *p++;
        uint32_t type = utf8_dfa[b];
        code = state != UTF8_ACCEPT ? (b & 0x3Fu) | (code << 6) : (0xFFu >> type) & b;
        state = utf8_dfa[256 + state + type];
        if (state == UTF8_REJECT) {
            *cp = -1;
            return p - 1 > start ? p - 1 : p;
        }
    } while (state != UTF8_ACCEPT);
    *cp = int32_t(code);
    return p;
}

inline uint32_t read_u16le(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// The unit a code point needs when decoded text is stored (1 keeps 0-255).
inline uint32_t unit_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Makes room for count more characters of the given unit at the tail of the
// string series target, or a new one (at least 1 unit) when target is 0;
// widens the target when needed. Returns the node.
Node prepare_target(Node target, int32_t count, uint32_t unit) {
    if (target == 0) return memory::alloc_codepoints(std::max(count, 1), int32_t(unit));
    SeriesBuffer* s = memory::buffer_of(target);
    uint32_t have = memory::unit_of(s);
    if (have < unit) s = string::widen_to(s, have, unit);
    unit = std::max(unit, have);
    string::ensure_room(s, int64_t(memory::used_bytes(s)) + int64_t(count) * unit);
    return target;
}

// Where the decoded UTF-8 comes from: fixed memory, or a series re-derived
// through its node after every allocation.
struct ByteSource {
    const uint8_t* fixed;
    Node node;
    int32_t offset;
    const uint8_t* get() const { return fixed ? fixed : memory::head_of(memory::buffer_of(node)) + offset; }
};

// Shared walk of both passes of the UTF-8 decoder: calls emit(cp) for every
// character to store, after the byte-order mark and the line-end rule.
// Returns the bytes left undecoded at the end.
template <class Emit>
int32_t walk_utf8(const uint8_t* p, int32_t length, bool crlf, Emit&& emit) {
    int32_t left = length;
    if (left >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        left -= 3;
    }
    while (left > 0) {
        int32_t used = left;
        int32_t cp = decode_utf8_at(p, &used);
        if (cp < 0) break;
        p += used;
        left -= used;
        if (crlf && cp == '\r') {
            if (left > 0 && *p == '\n') continue;  // the LF comes next
            cp = '\n';
        }
        emit(uint32_t(cp));
    }
    return left;
}

Node decode_utf8(const ByteSource& src, int32_t length, Node target, int32_t* remaining, bool crlf) {
    // First pass: validate (raising before anything changes), count, find the unit.
    int32_t count = 0;
    uint32_t unit = 1;
    walk_utf8(src.get(), length, crlf, [&](uint32_t cp) {
        count++;
        unit = std::max(unit, unit_for(cp));
    });
    target = prepare_target(target, count, unit);
    // Second pass: no allocation from here on.
    SeriesBuffer* s = memory::buffer_of(target);
    unit = memory::unit_of(s);
    uint8_t* out = memory::tail_of(s);
    int32_t left = walk_utf8(src.get(), length, crlf, [&](uint32_t cp) {
        string::put_char(out, unit, cp);
        out += unit;
    });
    s->tail = int32_t(out - s->data());
    if (remaining) *remaining = left;
    return target;
}

}  // namespace

// --- UTF-8 scanning ---------------------------------------------------------

const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t* cp) { return dfa_decode(p, nullptr, cp); }

int32_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
    int32_t n = 0;
    int32_t cp;
    while (start < end) {
        start = dfa_decode(start, end, &cp);
        n++;
    }
    return n;
}

const uint8_t* skip_utf8_chars(const uint8_t* start, const uint8_t* end, int32_t n) {
    int32_t cp;
    while (n-- > 0 && start < end) start = dfa_decode(start, end, &cp);
    return start;
}

const uint8_t* decode_utf8_bounded(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    int32_t n = *p < 0x80 ? 1 : get_sequence_length(*p);
    if (n == 0 || end - p < n) {
        *cp = -1;
        return p + 1;
    }
    const uint8_t* next = fast_decode_utf8_char(p, cp);
    // What the strict decoder refuses is refused here too, so that text
    // accepted by a scan always loads.
    if (*cp == 0xFFFE || (*cp >= 0xDC00 && *cp <= 0xDCFF)) *cp = -1;
    return next;
}

int32_t get_sequence_length(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

int32_t decode_utf8_at(const uint8_t* p, int32_t* remaining) {
    const int32_t left = *remaining;
    const uint32_t b = p[0];
    auto cont = [&](int i) { return p[i] >= 0x80 && p[i] <= 0xBF; };
    uint32_t cp;
    int32_t used;
    if (b <= 0x7F) {
        cp = b;
        used = 1;
    } else if (b <= 0xBF) {
        raise_invalid_utf8(p, left);
    } else if (b <= 0xDF) {
        if (left < 2) return -1;
        if (!cont(1)) raise_invalid_utf8(p, left);
        cp = (b - 0xC0) << 6 | (p[1] - 0x80);
        used = 2;
    } else if (b <= 0xEF) {
        if (left < 3) return -1;
        if (!cont(1) || !cont(2)) raise_invalid_utf8(p, left);
        cp = (b - 0xE0) << 12 | (p[1] - 0x80) << 6 | (p[2] - 0x80);
        if (cp >= 0xDC00 && cp <= 0xDCFF) raise_invalid_utf8(p, left);
        used = 3;
    } else if (b <= 0xF7) {
        if (left < 4) return -1;
        if (!cont(1) || !cont(2) || !cont(3)) raise_invalid_utf8(p, left);
        cp = (b - 0xF0) << 18 | (p[1] - 0x80) << 12 | (p[2] - 0x80) << 6 | (p[3] - 0x80);
        if (cp > 0x10FFFF) raise_invalid_utf8(p, left);
        used = 4;
    } else {
        raise_invalid_utf8(p, left);
    }
    if (cp == 0xFFFE) raise_invalid_utf8(p, left);
    *remaining = used;
    return int32_t(cp);
}

// --- UTF-8 encoding ---------------------------------------------------------

int32_t count_utf8_bytes(uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    raise_invalid_char(cp);
}

int32_t count_buffer_utf8_bytes(const uint8_t* start, const uint8_t* end, int32_t unit) {
    int32_t n = 0;
    for (; start < end; start += unit) n += count_utf8_bytes(string::get_char(start, uint32_t(unit)));
    return n;
}

int32_t encode_utf8_char(uint32_t cp, uint8_t* dst) {
    if (cp <= 0x7F) {
        dst[0] = uint8_t(cp);
        return 1;
    }
    if (cp <= 0x7FF) {
        dst[0] = uint8_t(0xC0 | cp >> 6);
        dst[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp <= 0xFFFF) {
        // A surrogate code point (a string may hold one alone) has no UTF-8
        // form: U+FFFD of the same length stands for it, so that the bytes
        // written are always valid UTF-8.
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
        dst[0] = uint8_t(0xE0 | cp >> 12);
        dst[1] = uint8_t(0x80 | (cp >> 6 & 0x3F));
        dst[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= 0x10FFFF) {
        dst[0] = uint8_t(0xF0 | cp >> 18);
        dst[1] = uint8_t(0x80 | (cp >> 12 & 0x3F));
        dst[2] = uint8_t(0x80 | (cp >> 6 & 0x3F));
        dst[3] = uint8_t(0x80 | (cp & 0x3F));
        return 4;
    }
    raise_invalid_char(cp);
}

int32_t encode_utf8_char_bounded(uint32_t cp, uint8_t* dst, int32_t room) {
    uint8_t bytes[4];
    int32_t n = encode_utf8_char(cp, bytes);
    int32_t written = std::clamp(room, 0, n);
    std::memcpy(dst, bytes, size_t(written));
    return written;
}

Node get_conversion_buffer(Cell* str, int64_t size) {
    Node node = str->w3;
    if (node == 0) {
        node = memory::alloc_bytes(size);
        str->w3 = node;
        return node;
    }
    SeriesBuffer* s = memory::buffer_of(node);
    s->tail = s->head;
    if (s->size - s->head < size) memory::grow_series_buffer(node, size);
    return node;
}

namespace {

// Characters from the head, limited by limit when 0 <= limit.
int32_t limited_length(const Cell* str, int32_t limit) {
    int32_t n = string::rs_length_q(str);
    return limit >= 0 && limit < n ? limit : n;
}

// Walks the characters of a string value from its head (at most n).
template <class Fn>
void each_char(const Cell* str, int32_t n, Fn&& fn) {
    SeriesBuffer* s = string::buffer(str);
    uint32_t unit = memory::unit_of(s);
    const uint8_t* p = s->data() + s->head + (int64_t(int32_t(str->w1)) << string::unit_shift(unit));
    for (int32_t i = 0; i < n; i++, p += unit)
        if (!fn(string::get_char(p, unit))) break;
}

}  // namespace

const uint8_t* to_utf8_with_eol(Cell* str, int32_t* length, bool lf_to_crlf) {
    int32_t n = limited_length(str, *length);
    uint32_t unit = memory::unit_of(string::buffer(str));
    int64_t size = unit == 4 ? 4 * (int64_t(n) + 1) : (unit + 1) * (int64_t(n) + 1);
    SeriesBuffer* out = memory::buffer_of(get_conversion_buffer(str, size));
    uint8_t* start = memory::head_of(out);
    uint8_t* p = start;
    each_char(str, n, [&](uint32_t cp) {
        if (cp == '\n' && lf_to_crlf) *p++ = '\r';
        p += encode_utf8_char(cp, p);
        return true;
    });
    *p = 0;
    *length = int32_t(p - start);
    out->tail = out->head + *length;
    return start;
}

const uint8_t* to_utf8(Cell* str, int32_t* length) { return to_utf8_with_eol(str, length, false); }

int32_t encode_utf8_into_buffer(const Cell* str, uint8_t* dst, int32_t limit, bool nul) {
    uint8_t* p = dst;
    each_char(str, limited_length(str, limit), [&](uint32_t cp) {
        p += encode_utf8_char(cp, p);
        return true;
    });
    if (nul) *p = 0;
    return int32_t(p - dst);
}

int32_t encode_utf8_bounded(const Cell* str, uint8_t* dst, int32_t room, int32_t limit, bool nul) {
    int32_t length = string::rs_length_q(str);
    int32_t n = limit > 0 && limit < length ? limit : length;
    int32_t written = 0;
    each_char(str, n, [&](uint32_t cp) {
        written += encode_utf8_char_bounded(cp, dst + written, room - written);
        return written < room;
    });
    if (nul && written < room) dst[written] = 0;
    return written;
}

// --- widening ---------------------------------------------------------------

namespace {

template <class From, class To>
SeriesBuffer* widen(SeriesBuffer* s, uint32_t to_unit, int64_t extra) {
    const int64_t chars = memory::used_bytes(s) / int64_t(sizeof(From));
    s = string::ensure_room(s, chars * int64_t(sizeof(To)) + extra);
    uint8_t* base = memory::head_of(s);
    for (int64_t i = chars - 1; i >= 0; i--) {  // backwards: the wider copy never overtakes the source
        From v;
        std::memcpy(&v, base + i * int64_t(sizeof(From)), sizeof v);
        To w = v;
        std::memcpy(base + i * int64_t(sizeof(To)), &w, sizeof w);
    }
    s->tail = s->head + int32_t(chars * int64_t(sizeof(To)));
    s->flags = (s->flags & ~SERIES_UNIT_MASK) | to_unit;
    return s;
}

}  // namespace

SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* s) { return widen<uint8_t, uint16_t>(s, 2, 2); }
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* s) { return widen<uint8_t, uint32_t>(s, 4, 4); }
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* s) { return widen<uint16_t, uint32_t>(s, 4, 4); }

// --- outside text to strings ------------------------------------------------

Node utf8_to_string(const uint8_t* bytes, int32_t length, Node target, int32_t* remaining, bool crlf) {
    return decode_utf8(ByteSource{bytes, 0, 0}, length, target, remaining, crlf);
}

Node utf8_series_to_string(Node source, int32_t offset, int32_t length, Node target, int32_t* remaining,
                           bool crlf) {
    return decode_utf8(ByteSource{nullptr, source, offset}, length, target, remaining, crlf);
}

Node append_utf8(const uint8_t* bytes, int32_t length, Cell* str, bool crlf) {
    return utf8_to_string(bytes, length, str->w2, nullptr, crlf);
}

Node utf8_to_new_string(const uint8_t* bytes, int32_t length) {
    return utf8_to_string(bytes, length, 0, nullptr, false);
}

Node utf16le_to_string(const uint8_t* units, int32_t count, Node target, bool cr_flag) {
    // The units decide the target unit first.
    uint32_t unit = 1;
    int32_t kept = 0;
    for (int32_t i = 0; i < count; i++) {
        uint32_t hi = units[2 * i + 1];
        if (hi >= 0xD8 && hi <= 0xDF) unit = 4;
        else if (hi != 0 && unit < 2) unit = 2;
        if (!(cr_flag && read_u16le(units + 2 * i) == '\r')) kept++;
    }
    target = prepare_target(target, kept, unit);
    SeriesBuffer* s = memory::buffer_of(target);
    unit = memory::unit_of(s);
    uint8_t* out = memory::tail_of(s);
    for (int32_t i = 0; i < count; i++) {
        uint32_t u = read_u16le(units + 2 * i);
        if (cr_flag && u == '\r') continue;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            uint32_t low = read_u16le(units + 2 * i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                u = 0x10000 + ((u & 0x3FF) << 10 | (low & 0x3FF));
                i++;
            }
        }
        // A surrogate without its partner is kept as it is.
        string::put_char(out, unit, u);
        out += unit;
    }
    s->tail = int32_t(out - s->data());
    return target;
}

Node decode_windows_1251(const uint8_t* bytes, int32_t length, Node target, bool crlf) {
    auto decoded = [&](int32_t i) -> uint32_t { return bytes[i] < 0x80 ? bytes[i] : cp1251_high[bytes[i] - 0x80]; };
    auto dropped = [&](int32_t i) { return crlf && bytes[i] == '\r' && i + 1 < length && bytes[i + 1] == '\n'; };
    int32_t count = 0;
    uint32_t unit = 1;
    for (int32_t i = 0; i < length; i++) {
        if (dropped(i)) continue;
        count++;
        unit = std::max(unit, unit_for(decoded(i)));
    }
    target = prepare_target(target, count, unit);
    SeriesBuffer* s = memory::buffer_of(target);
    unit = memory::unit_of(s);
    uint8_t* out = memory::tail_of(s);
    for (int32_t i = 0; i < length; i++) {
        if (dropped(i)) continue;
        uint32_t cp = decoded(i);
        if (crlf && cp == '\r') cp = '\n';
        string::put_char(out, unit, cp);
        out += unit;
    }
    s->tail = int32_t(out - s->data());
    return target;
}

// --- strings to UTF-16 ------------------------------------------------------

int32_t encode_utf16le_char(uint32_t cp, uint16_t* dst) {
    if (cp < 0x10000) {
        dst[0] = uint16_t(cp);
        return 1;
    }
    if (cp <= 0x10FFFF) {
        cp -= 0x10000;
        dst[0] = uint16_t(0xD800 | cp >> 10);
        dst[1] = uint16_t(0xDC00 | (cp & 0x3FF));
        return 2;
    }
    return 0;
}

const uint16_t* to_utf16_part(Cell* str, int32_t* length, bool lf_to_crlf) {
    int32_t n = limited_length(str, *length);
    int64_t extra = 0;
    bool valid = true;
    each_char(str, n, [&](uint32_t cp) {
        if ((cp == '\n' && lf_to_crlf) || cp > 0xFFFF) extra++;
        if (cp > 0x10FFFF) valid = false;
        return valid;
    });
    if (!valid) return nullptr;
    SeriesBuffer* out = memory::buffer_of(get_conversion_buffer(str, 2 * (int64_t(n) + extra) + 2));
    uint8_t* start = memory::head_of(out);
    uint8_t* p = start;
    each_char(str, n, [&](uint32_t cp) {
        uint16_t units[2];
        int32_t k = 0;
        if (cp == '\n' && lf_to_crlf) units[k++] = '\r';
        if (k == 0) k = encode_utf16le_char(cp, units);
        else k += encode_utf16le_char(cp, units + 1);
        std::memcpy(p, units, size_t(k) * 2);
        p += 2 * k;
        return true;
    });
    p[0] = p[1] = 0;
    *length = int32_t((p - start) / 2);
    out->tail = out->head + int32_t(p - start);
    // Written by memcpy at an offset that keeps 16-bit alignment (buffers are 4-aligned).
    return reinterpret_cast<const uint16_t*>(start);
}

const uint16_t* to_utf16(Cell* str) {
    int32_t length = -1;
    return to_utf16_part(str, &length, true);
}

uint16_t* c_string_to_utf16(const char* text, uint16_t* dst) {
    uint16_t* p = dst;
    while (*text) *p++ = uint8_t(*text++);
    *p = 0;
    return dst;
}

std::string valid_utf8(const char* text, size_t length) {
    static const char replacement[] = "\xEF\xBF\xBD";
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* end = p + length;
    std::string out;
    out.reserve(length);
    while (p < end) {
        uint8_t c = *p;
        int need;
        uint8_t low = 0x80, high = 0xBF;  // range of the first continuation byte
        if (c < 0x80) {
            out += char(c);
            p++;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            out += replacement;
            p++;
            continue;
        }
        // The longest valid beginning of the sequence is replaced as one.
        const uint8_t* q = p + 1;
        int got = 0;
        while (got < need && q < end && *q >= (got == 0 ? low : 0x80) && *q <= (got == 0 ? high : 0xBF)) {
            q++;
            got++;
        }
        // U+FFFE is refused by the runtime's decoder as well.
        bool reversed_bom = need == 2 && got == 2 && c == 0xEF && p[1] == 0xBF && p[2] == 0xBE;
        if (got == need && !reversed_bom)
            out.append(reinterpret_cast<const char*>(p), size_t(q - p));
        else
            out += replacement;
        p = q;
    }
    return out;
}

}  // namespace zuv::unicode
