// Token scanners: structure (delimiters, nesting, comments, word sigils) and
// the checks of the tokens that have one.
//
// A one-byte delimiter ("[", "]", "(", ")", "{", "}", the "[" of "#[", a
// path's "/", a comma) is the look-ahead byte at `end`: its token is empty
// (or holds what precedes the delimiter) and the scanner consumes the byte.
#include "lexer/tables.hpp"
#include "lexer/token_text.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"

namespace zuv::lexer {

namespace {

// A braced string whose opening "{" crossed a line keeps the new-line flag
// for its value; the mark lives in a bit that no character sets (8-17).
constexpr uint32_t BRACED_NEW_LINE = 1u << 8;

// Fires `load` for the value just made at index; a false answer drops it.
void fire_load(State* lex, int32_t index, const uint8_t* start, const uint8_t* end) {
    if (index < 0 || type_of(&lex->callback) == TYPE_NONE) return;
    Cell loaded = *value_at(index);
    if (!fire_event(lex, EVT_LOAD, type_of(&loaded), &loaded, start, end) && lex->tail == index + 1)
        lex->tail = index;
}

}  // namespace

// ---- words -------------------------------------------------------------------

void check_utf8(State* lex, const uint8_t* start, const uint8_t* p, const uint8_t* end, int32_t code) {
    while (p < end) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        int32_t cp;
        p = unicode::decode_utf8_bounded(p, end, &cp);
        if (cp < 0) throw_error(lex, start, end, code);
    }
}

WordToken check_word(State* lex, const uint8_t* start, const uint8_t* end) {
    // The word ends before its first special space; its UTF-8 must be valid.
    const uint8_t* stop = end;
    for (const uint8_t* p = start; p < end;) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_bounded(p, end, &cp);
        if (cp < 0) throw_error(lex, start, end, TYPE_WORD);
        if (special_space_q(cp)) {
            stop = p;
            break;
        }
        p = next;
    }
    if (stop == start) throw_error(lex, start, end, TYPE_WORD);

    WordToken w{TYPE_WORD, start, stop, stop};
    bool lead_quote = *start == '\'';
    bool lead_colon = *start == ':';
    bool trail_colon = stop - start > 1 && stop[-1] == ':';
    if (trail_colon) {
        if (lead_quote) throw_error(lex, start, stop, TYPE_LIT_WORD);
        if (lead_colon) throw_error(lex, start, stop, TYPE_GET_WORD);
        w.type = TYPE_SET_WORD;
        w.name_end--;
    } else if (lead_quote || lead_colon) {
        w.type = lead_quote ? TYPE_LIT_WORD : TYPE_GET_WORD;
        w.name++;
    }
    if (w.name == w.name_end) throw_error(lex, start, stop, TYPE_WORD);

    // A ":" right after the word is only the set-path mark of a path element.
    if (!trail_colon && stop == end && end < lex->input_end && *end == ':') {
        const uint8_t* after = end + 1;
        if (lex->start_state != S_PATH || (after < lex->input_end && !path_end_class_q(class_of(*after))))
            throw_error(lex, start, after, TYPE_WORD);
    }
    return w;
}

void make_word(State* lex, int32_t type, const uint8_t* name, const uint8_t* name_end) {
    // The input lies in lexer memory, never in a series, so interning may allocate.
    int32_t symbol = symbol::intern(symbol::table, name, int32_t(name_end - name), false);
    Cell* slot = alloc_slot(lex);
    word::make_at(symbol, slot);  // keeps the new-line flag
    cell::set_type(slot, uint32_t(type));
}

// ---- scanners ----------------------------------------------------------------

ZUV_TOKEN_FN(scan_end) {
    (void)start, (void)end, (void)flags, (void)load;
    lex->pos = lex->input_end;
}

ZUV_TOKEN_FN(scan_invalid) {
    (void)flags, (void)load;
    int32_t code = state_type[lex->prev_state];
    if (code == 0) code = ERR_BAD_CHAR;
    const uint8_t* at = start;
    if (lex->start_state == S_BRACED)
        at = lex->braced_start;
    else if (code == TYPE_BLOCK || code == TYPE_PAREN || path_type_q(code))
        at = nullptr;  // the innermost open series
    throw_error(lex, at, end, code);
}

ZUV_TOKEN_FN(scan_block_open) {
    (void)start, (void)flags, (void)load;
    lex->pos = end + 1;
    open_series(lex, TYPE_BLOCK, end, end + 1);
}

ZUV_TOKEN_FN(scan_block_close) {
    (void)start, (void)flags;
    int32_t moves = lex->moves;
    const Cell* open = open_marker(lex);
    const uint8_t* opened = open ? lex->input + open->w3 : end;
    int32_t head = lex->head;
    close_series(lex, end, end + 1, TYPE_BLOCK, false);
    // A "]" that closed a map! marker leaves the pairs as a block: they must
    // be even in number, each key of a type a map! accepts.
    if (load && lex->head != head && lex->type == TYPE_MAP) make_map(lex, opened, end + 1);
    consume_delimiter(lex, end, moves);
}

ZUV_TOKEN_FN(scan_paren_open) {
    (void)start, (void)flags, (void)load;
    lex->pos = end + 1;
    if (point_literal_ahead_q(lex, end)) {
        // The body up to ")" is read as one point-literal token; the value
        // keeps the line count of the "(".
        lex->saved_lines = lex->nlines;
        lex->start_state = S_POINT;
        return;
    }
    open_series(lex, TYPE_PAREN, end, end + 1);
}

ZUV_TOKEN_FN(scan_paren_close) {
    (void)start, (void)flags, (void)load;
    int32_t moves = lex->moves;
    close_series(lex, end, end + 1, TYPE_PAREN, false);
    consume_delimiter(lex, end, moves);
}

ZUV_TOKEN_FN(scan_brace_open) {
    (void)start, (void)load;
    lex->pos = end + 1;
    if (lex->braced_depth > 0) {  // a nested "{" inside the braced string
        lex->braced_flags |= flags;
        lex->braced_depth++;
        return;
    }
    if (!fire_event(lex, EVT_OPEN, TYPE_STRING, nullptr, end, end + 1)) return;
    lex->braced_start = end;
    lex->braced_flags = flags & ~BRACED_NEW_LINE;
    if (lex->nlines > 0) lex->braced_flags |= BRACED_NEW_LINE;
    lex->braced_depth = 1;
    lex->start_state = S_BRACED;
}

ZUV_TOKEN_FN(scan_brace_close) {
    (void)start;
    lex->braced_flags |= flags & ~BRACED_NEW_LINE;
    lex->pos = end + 1;
    if (--lex->braced_depth > 0) {
        if (lex->pos >= lex->input_end) throw_error(lex, lex->braced_start, lex->input_end, TYPE_STRING);
        return;
    }
    const uint8_t* open = lex->braced_start;
    if (!fire_event(lex, EVT_CLOSE, TYPE_STRING, nullptr, end, end + 1)) {
        lex->braced_depth = 1;  // left open: the "}" becomes part of the text
        return;
    }
    lex->start_state = S_START;
    lex->type = TYPE_STRING;
    if (!fire_event(lex, EVT_SCAN, TYPE_STRING, nullptr, open, end + 1)) return;
    int32_t index =
        load_text(lex, open, open + 1, end, lex->braced_flags & ~BRACED_NEW_LINE, true, TYPE_STRING, TYPE_STRING, load);
    if (index < 0) return;
    // The value starts where its "{" did, not where the "}" does.
    Cell* c = value_at(index);
    c->header = (c->header & ~FLAG_NEW_LINE) | ((lex->braced_flags & BRACED_NEW_LINE) ? FLAG_NEW_LINE : 0);
    fire_load(lex, index, open, end + 1);
}

ZUV_TOKEN_FN(scan_map_open) {
    (void)flags, (void)load;
    if (*start != '#') throw_error(lex, start, end + 1, TYPE_MAP);
    lex->pos = end + 1;
    open_series(lex, TYPE_MAP, start, end + 1);
}

ZUV_TOKEN_FN(scan_path) {
    (void)flags;
    WordToken first = check_word(lex, start, end);
    if (first.end != end) {  // a special space inside: a word, not a path
        lex->type = first.type;
        if (load) make_word(lex, first.type, first.name, first.name_end);
        lex->pos = first.end;
        return;
    }
    int32_t type = first.type == TYPE_LIT_WORD   ? TYPE_LIT_PATH
                   : first.type == TYPE_GET_WORD ? TYPE_GET_PATH
                                                 : TYPE_PATH;
    lex->pos = end + 1;
    int32_t head = lex->head;
    open_series(lex, type, start, end + 1);
    bool opened = lex->head != head;
    // The first element is a plain word whatever the path's sigil.
    if (fire_event(lex, EVT_SCAN, TYPE_WORD, nullptr, first.name, end) && load) {
        make_word(lex, TYPE_WORD, first.name, first.name_end);
        fire_load(lex, lex->tail - 1, first.name, end);
    }
    lex->start_state = opened ? S_PATH : S_START;
}

ZUV_TOKEN_FN(scan_construct) {
    (void)flags;
    // "#(" name ")": the ")" is the look-ahead at end.
    if (end - start < 2 || start[0] != '#' || start[1] != '(' || end >= lex->input_end || *end != ')')
        throw_error(lex, start, end, ERR_MALCONSTRUCT);
    const uint8_t* name = start + 2;
    Cell value;
    if (same_name_q(name, end, "true")) {
        logic::make_at(&value, true);
    } else if (same_name_q(name, end, "false")) {
        logic::make_at(&value, false);
    } else if (same_name_q(name, end, "none")) {
        none::make_at(&value);
    } else if (same_name_q(name, end, "unset")) {
        unset::make_at(&value);
    } else {
        int32_t found = 0;
        for (int32_t t = 1; t < TYPE_TOTAL && !found; t++)
            if (datatype::known_q(t) && same_name_q(name, end, datatype::type_names[t].name)) found = t;
        if (!found) throw_error(lex, start, end + 1, ERR_MALCONSTRUCT);
        datatype::make_at(&value, found);
    }
    lex->pos = end + 1;
    lex->type = type_of(&value);
    if (!load) return;
    Cell* slot = alloc_slot(lex);
    value.header |= slot->header & FLAG_NEW_LINE;
    *slot = value;
}

ZUV_TOKEN_FN(scan_comment) {
    (void)flags, (void)load;
    lex->pos = end;  // the line end after it is read as a blank
    fire_event(lex, EVT_SCAN, -TK_COMMENT, nullptr, start, end);
}

ZUV_TOKEN_FN(scan_comma) {
    (void)start, (void)flags, (void)load;
    // Commas separate the numbers of a point literal. A comma in a paren
    // makes it one, which its ")" then fails to close.
    Cell* m = open_marker(lex);
    if (m && marker_type(m) == TYPE_POINT2D)
        m->w2 += 1u << 16;
    else if (m && marker_type(m) == TYPE_PAREN)
        m->w2 = TYPE_POINT2D | (1u << 16);
    else
        throw_error(lex, end, end + 1, TYPE_POINT2D);
    lex->pos = end + 1;
}

ZUV_TOKEN_FN(scan_string) {
    (void)load;
    // The closing quote is the look-ahead at end.
    int32_t code = lex->forced_type > 0 ? lex->forced_type : TYPE_STRING;
    load_text(lex, start, start + 1, end, flags, true, code, code, false);
    lex->pos = end + 1;
}

ZUV_TOKEN_FN(scan_word) {
    (void)flags, (void)load;
    WordToken w = check_word(lex, start, end);
    lex->type = w.type;
    lex->pos = w.end;
}

ZUV_TOKEN_FN(scan_issue) {
    (void)flags, (void)load;
    if (end - start < 2) throw_error(lex, start, end, TYPE_ISSUE);
    lex->pos = end;
}

}  // namespace zuv::lexer
