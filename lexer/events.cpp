// Lexer events, syntax errors and the collector hook.
#include <algorithm>

#include "lexer/lexer.hpp"
#include "lexer/tables.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace zuv::lexer {

CallbackHook callback_hook = nullptr;
void (*exit_states_hook)(Cell* out) = nullptr;

namespace {

constexpr int32_t ERROR_TEXT_BYTES = 30;

bool has_body_q(const Cell* callback) {
    uint8_t t = type_of(callback);
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// The cells of a block series from its first cell, as a block value.
Cell block_of_node(Node n) {
    Cell b;
    cell::begin(&b)->w2 = n;
    return *cell::set_type(&b, TYPE_BLOCK);
}

const Cell* event_word(Event event) {
    switch (event) {
    case EVT_PRESCAN: return &words::prescan;
    case EVT_SCAN: return &words::scan;
    case EVT_LOAD: return &words::load;
    case EVT_OPEN: return &words::open;
    case EVT_CLOSE: return &words::close;
    default: return &words::error;
    }
}

// The type argument: a datatype!, none for 0, or for minus a token class the
// word naming it in system/lexer/exit-states.
void type_argument(int32_t type, Cell* out) {
    if (type > 0) {
        datatype::make_at(out, type);
        return;
    }
    none::make_at(out);
    if (type == 0 || !exit_states_hook) return;
    Cell states;
    none::make_at(&states);
    exit_states_hook(&states);
    if (type_of(&states) != TYPE_BLOCK || block::zs_length_q(&states) < -type) return;
    *out = *(block::zs_head(&states) + (-type - 1));
}

// The input argument: the source with its head at p.
void input_argument(State* lex, const uint8_t* p, Cell* out) {
    *out = lex->source;
    if (type_of(out) != TYPE_NONE) out->w1 = uint32_t(int32_t(lex->source.w1) + position_of(lex, p));
}

bool string_source_q(const State* lex) { return string::any_string_q(type_of(&lex->source)); }

// Applies a head the callback moved: the lexer resumes there.
void follow_moved_input(State* lex, const Cell* input, uint32_t given_head) {
    if (type_of(input) != type_of(&lex->source) || input->w2 != lex->source.w2 || input->w1 == given_head) return;
    int32_t index = std::max(0, int32_t(input->w1) - int32_t(lex->source.w1));
    const uint8_t* p;
    if (string_source_q(lex)) {
        p = unicode::skip_utf8_chars(lex->input, lex->input_end, index);
        lex->cached_pos = lex->input;
        lex->cached_chars = 0;
    } else {
        p = lex->input + std::min<int64_t>(index, lex->input_end - lex->input);
    }
    lex->pos = p;
    lex->moves++;
}

// The text at an error: UTF-8 characters from p up to the input end, a line
// feed or 30 bytes (a character crossing the mark is taken whole); invalid
// bytes become U+FFFD.
void error_text(State* lex, const uint8_t* p, Cell* out) {
    string::make_at_unit(out, ERROR_TEXT_BYTES, 1);
    const uint8_t* end = lex->input_end;
    const uint8_t* limit = p + ERROR_TEXT_BYTES;
    while (p < end && p < limit && *p != '\n' && *p != 0) {
        int32_t cp;
        int32_t n = *p < 0x80 ? 1 : unicode::get_sequence_length(*p);
        if (n == 0 || end - p < n) {
            cp = -1;
            p++;
        } else {
            p = unicode::fast_decode_utf8_char(p, &cp);
        }
        string::append_char(out, cp < 0 ? 0xFFFD : uint32_t(cp));
    }
}

// "(line N)"
void position_text(int32_t line, Cell* out) {
    char digits[integer::TEXT_SIZE];
    integer::to_text(line, digits);
    string::zs_make_at(out, 16);
    string::append_c_string(out, "(line ");
    string::append_c_string(out, digits);
    string::append_c_string(out, ")");
}

// The missing delimiter of a missing-delimiter error.
uint32_t missing_char(State* lex, int32_t code, int32_t closing) {
    uint8_t c = '_';
    if (code == ERR_CLOSE) {
        if (lex->pos < lex->input_end)
            c = *lex->pos;
        else if (lex->pos > lex->input)
            c = lex->pos[-1];
    }
    switch (closing) {
    case TYPE_BLOCK: case TYPE_MAP: return c == ']' ? '[' : ']';
    case TYPE_PAREN: case TYPE_POINT2D: return c == ')' ? '(' : ')';
    default: return 0;
    }
}

}  // namespace

// ---- events ----

uint32_t event_mask(const Cell* callback) {
    if (!has_body_q(callback) || !callback->w3) return EVT_ALL;
    Cell more = block_of_node(callback->w3);
    if (block::zs_length_q(&more) < 1) return EVT_ALL;
    Cell body = *block::zs_head(&more);
    if (type_of(&body) != TYPE_BLOCK || block::zs_length_q(&body) < 1) return EVT_ALL;
    Cell spec = *block::zs_head(&body);
    if (type_of(&spec) != TYPE_BLOCK) return EVT_ALL;
    static constexpr Event events[] = {EVT_PRESCAN, EVT_SCAN, EVT_LOAD, EVT_OPEN, EVT_CLOSE, EVT_ERROR};
    uint32_t mask = 0;
    const Cell* c = block::zs_head(&spec);
    for (int32_t i = 0, n = block::zs_length_q(&spec); i < n; i++, c++) {
        if (type_of(c) != TYPE_WORD) continue;
        int32_t symbol = symbol::resolve(int32_t(c->w2));
        for (Event e : events)
            if (symbol == symbol::resolve(int32_t(event_word(e)->w2))) mask |= e;
    }
    return mask;
}

int32_t callback_locals(const Cell* callback) {
    if (!has_body_q(callback) || !callback->w2) return 0;
    Cell spec = block_of_node(callback->w2);
    int32_t local = symbol::resolve(int32_t(refinements::local.w2));
    int32_t count = 0;
    const Cell* c = block::zs_head(&spec);
    for (int32_t i = 0, n = block::zs_length_q(&spec); i < n; i++, c++) {
        if (count == 0) {
            if (type_of(c) == TYPE_REFINEMENT && symbol::resolve(int32_t(c->w2)) == local) count = 1;
        } else if (type_of(c) == TYPE_WORD) {
            count++;
        }
    }
    return count;
}

bool fire_event(State* lex, Event event, int32_t type, const Cell* token, const uint8_t* start,
                const uint8_t* end) {
    if (type_of(&lex->callback) == TYPE_NONE || !(lex->event_mask & event) || !callback_hook) return true;
    const uint8_t* s = start;
    const uint8_t* e = end ? end : start;
    if (event == EVT_SCAN && type == TYPE_POINT2D && s > lex->input) s--;
    if (event == EVT_PRESCAN) {
        if (type == -TK_PAREN_OPEN && s < lex->input_end && *s == '(' && point_literal_ahead_q(lex, s)) return true;
        if (type == TYPE_ERROR && lex->braced_depth > 0 && lex->braced_start) s = lex->braced_start;
        if (type == TYPE_POINT2D) {
            if (s > lex->input) s--;
            if (e < lex->input_end) e++;
        }
    }

    const uint8_t* at = (event == EVT_OPEN || (event == EVT_PRESCAN && type < 0)) ? s : e;
    Cell args[5];
    args[0] = *event_word(event);
    input_argument(lex, at, &args[1]);
    type_argument(type, &args[2]);
    integer::make_at(cell::begin(&args[3]), lex->line);
    if (token) {
        args[4] = *token;
    } else {
        cell::begin(&args[4]);
        args[4].w2 = uint32_t(position_of(lex, s) + 1);
        args[4].w3 = uint32_t(position_of(lex, e) + 1);
        cell::set_type(&args[4], TYPE_PAIR);
    }
    uint32_t given_head = args[1].w1;
    bool answer = callback_hook(&lex->callback, args, lex->extra_locals);
    follow_moved_input(lex, &args[1], given_head);
    return answer;
}

// ---- syntax errors ----

void throw_error(State* lex, const uint8_t* start, const uint8_t* end, int32_t code) {
    if (!lex->raise_errors) {
        lex->type = TYPE_ERROR;
        throw QuietStop{};
    }
    if (!start) {
        const Cell* m = open_marker(lex);
        start = m ? lex->input + m->w3 : lex->input;
    }
    if (!end || end < start) end = start;

    if (type_of(&lex->callback) != TYPE_NONE) {
        int32_t type = TYPE_ERROR;
        for (int32_t t : {code, lex->closing_type, lex->type, lex->forced_type}) {
            if (t > 0) {
                type = t;
                break;
            }
        }
        if (lex->start_state == S_PATH) {
            const Cell* m = open_marker(lex);
            if (m && path_type_q(marker_type(m))) close_series(lex, nullptr, nullptr, -1, true);
        }
        if (!fire_event(lex, EVT_ERROR, type, nullptr, start, end)) {
            lex->type = TYPE_ERROR;
            throw QuietStop{};
        }
    }

    {
        // Both texts are built across allocations (and close_all() allocates):
        // guarded until raise() has taken them.
        Cell text, where;
        none::make_at(&text);
        none::make_at(&where);
        collector::Root keep_text(text), keep_where(where);
        error_text(lex, start, &text);
        // The line of the error position itself: an unclosed series reports the
        // line of its opening, not the line where the input ended.
        position_text(1 + int32_t(std::count(lex->input, start, uint8_t('\n'))), &where);

        int32_t closing = lex->closing_type;
        if (path_type_q(closing)) code = ERR_BAD_CHAR;
        lex->closing_type = 0;
        close_all(lex);

        if (code == 0) code = ERR_BAD_CHAR;
        switch (code) {
        case ERR_BAD_CHAR: raise(ErrorCategory::syntax, "bad-char", &where, &text); break;
        case ERR_MALCONSTRUCT: raise(ErrorCategory::syntax, "malconstruct", &where, &text); break;
        case ERR_CLOSE:
        case ERR_OPEN: {
            Cell c;
            cell::begin(&c)->w2 = missing_char(lex, code, closing);
            cell::set_type(&c, TYPE_CHAR);
            raise(ErrorCategory::syntax, "missing", &where, &c, &text);
            break;
        }
        default: {
            Cell type;
            datatype::make_at(&type, code);
            raise(ErrorCategory::syntax, "invalid", &where, &type, &text);
        }
        }
    }
    // Pending now (an error no try would receive was thrown by raise itself):
    // the scan stops at the nearest frame that can return.
    throw Raised{};
}

// ---- positions and the collector ----

int32_t position_of(State* lex, const uint8_t* p) {
    if (!string_source_q(lex)) return int32_t(p - lex->input);
    if (p < lex->cached_pos) {
        lex->cached_pos = lex->input;
        lex->cached_chars = 0;
    }
    lex->cached_chars += unicode::count_utf8_chars(lex->cached_pos, p);
    lex->cached_pos = p;
    return lex->cached_chars;
}

void mark_buffers(void (*mark_cell)(const Cell* cell)) {
    for (State* lex = chain; lex; lex = lex->next) {
        for (int32_t i = lex->base; i < lex->tail; i++) mark_cell(value_at(i));
        mark_cell(&lex->source);
        mark_cell(&lex->callback);
    }
}

}  // namespace zuv::lexer
