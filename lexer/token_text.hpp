// What the token scanners (scanners.cpp) and loaders (loaders.cpp) share:
// their declarations, decoding text tokens into strings, checking and loading
// words, and small helpers.
//
// Token functions receive byte pointers into the scan's input, which lies in
// lexer-owned memory that never moves during the scan (lexer.hpp). Cells they
// get from alloc_slot() lie in the value buffer, which moves only on the next
// alloc_slot() or a nested scan: each token function fills its one cell right
// away and never keeps the pointer across an event or another slot.
#pragma once

#include <cstdint>

#include "lexer/lexer.hpp"

namespace zuv::lexer {

#define ZUV_TOKEN_FN(name) \
    void name(State* lex, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load)

// Scanners (scanners.cpp).
ZUV_TOKEN_FN(scan_end);
ZUV_TOKEN_FN(scan_invalid);
ZUV_TOKEN_FN(scan_block_open);
ZUV_TOKEN_FN(scan_block_close);
ZUV_TOKEN_FN(scan_paren_open);
ZUV_TOKEN_FN(scan_paren_close);
ZUV_TOKEN_FN(scan_brace_open);
ZUV_TOKEN_FN(scan_brace_close);
ZUV_TOKEN_FN(scan_map_open);
ZUV_TOKEN_FN(scan_path);
ZUV_TOKEN_FN(scan_construct);
ZUV_TOKEN_FN(scan_comment);
ZUV_TOKEN_FN(scan_comma);
ZUV_TOKEN_FN(scan_string);
ZUV_TOKEN_FN(scan_word);
ZUV_TOKEN_FN(scan_issue);

// Loaders (loaders.cpp).
ZUV_TOKEN_FN(load_string);
ZUV_TOKEN_FN(load_word);
ZUV_TOKEN_FN(load_issue);
ZUV_TOKEN_FN(load_integer);
ZUV_TOKEN_FN(load_refinement);
ZUV_TOKEN_FN(load_char);
ZUV_TOKEN_FN(load_file);
ZUV_TOKEN_FN(load_binary);
ZUV_TOKEN_FN(load_percent);
ZUV_TOKEN_FN(load_float);
ZUV_TOKEN_FN(load_float_special);
ZUV_TOKEN_FN(load_tuple);
ZUV_TOKEN_FN(load_date);
ZUV_TOKEN_FN(load_pair);
ZUV_TOKEN_FN(load_point);
ZUV_TOKEN_FN(load_time);
ZUV_TOKEN_FN(load_money);
ZUV_TOKEN_FN(load_tag);
ZUV_TOKEN_FN(load_url);
ZUV_TOKEN_FN(load_email);
ZUV_TOKEN_FN(load_hex);
ZUV_TOKEN_FN(load_raw_string);
ZUV_TOKEN_FN(load_ref);

// Decodes the escape after a "^" at p (the text ends at end). Answers the
// code point and sets *next past the escape, or answers -1 for an invalid
// escape. *width (may be null) receives the character width the escape asks
// for: 2 for "^(" with 3 or 4 hex digits, 4 for more, else 1.
int32_t decode_escape(const uint8_t* p, const uint8_t* end, const uint8_t** next, int32_t* width);

// Checks the UTF-8 text [p, end) (decoding "^" escapes when escapes is set)
// and, with load, builds it as a value of the string-family type in a new
// slot. flags are the token's accumulated character flags, which choose the
// character width. A failure reports code at start. Answers the new cell's
// value buffer index, or -1 when nothing was loaded.
int32_t load_text(State* lex, const uint8_t* start, const uint8_t* p, const uint8_t* end, uint32_t flags,
                  bool escapes, int32_t type, int32_t code, bool load);

// The parts of a word token: its word type, the name without sigils, and
// where the token really ends (before a special space inside it).
struct WordToken {
    int32_t type;
    const uint8_t* name;
    const uint8_t* name_end;
    const uint8_t* end;
};
// Checks a word token and answers its parts; failures are reported.
WordToken check_word(State* lex, const uint8_t* start, const uint8_t* end);
// Interns the name and makes a word of the type (any word type or
// refinement!) bound to the global context in a new slot.
void make_word(State* lex, int32_t type, const uint8_t* name, const uint8_t* name_end);
// Reports code at start unless [p, end) is valid UTF-8.
void check_utf8(State* lex, const uint8_t* start, const uint8_t* p, const uint8_t* end, int32_t code);

// Keeps the new-line flag that alloc_slot() gave a cell across a constructor
// that rewrites the whole header.
class SlotLine {
public:
    explicit SlotLine(const Cell* slot) : bit_(slot->header & FLAG_NEW_LINE) {}
    Cell* restore(Cell* c) const {
        c->header |= bit_;
        return c;
    }

private:
    uint32_t bit_;
};

// ASCII-case-insensitive equality of the bytes [p, end) and a name.
inline bool same_name_q(const uint8_t* p, const uint8_t* end, const char* name) {
    for (; p < end; p++, name++) {
        uint8_t a = *p, b = uint8_t(*name);
        if (b == 0) return false;
        if (a >= 'A' && a <= 'Z') a = uint8_t(a + 32);
        if (b >= 'A' && b <= 'Z') b = uint8_t(b + 32);
        if (a != b) return false;
    }
    return *name == 0;
}

// Moves the position past the one-byte delimiter at p, unless an event
// callback moved the position meanwhile (moves: lex->moves before the event).
inline void consume_delimiter(State* lex, const uint8_t* p, int32_t moves) {
    if (lex->moves == moves) lex->pos = p + 1;
}

// Turns the block just closed by the "]" of a map literal (the last value)
// into a map!; an odd cell count or a key of a type a map! refuses fails as
// invalid map! text from opened to end.
void make_map(State* lex, const uint8_t* opened, const uint8_t* end);

}  // namespace zuv::lexer
