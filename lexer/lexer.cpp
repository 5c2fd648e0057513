// The scan: entry, main loop, value buffer and nesting.
#include "lexer/lexer.hpp"

#include <algorithm>
#include <cstring>

#include "evaluator/stack.hpp"
#include "lexer/tables.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime.hpp"
#include "runtime/unicode.hpp"

namespace zuv::lexer {

State* chain = nullptr;
TokenFn scanners[TOKEN_CLASSES + 1] = {};
TokenFn loaders[TOKEN_CLASSES + 1] = {};
Cell* value_buffer = nullptr;
int32_t value_capacity = 0;

namespace {

constexpr int32_t VALUE_BUFFER_CELLS = 1000;
constexpr int32_t SCRATCH_BYTES = 100000;

State* innermost = nullptr;  // the last state of the chain

// The UTF-8 scratch buffer: nested scans stack their input text in it.
uint8_t* scratch = nullptr;
int32_t scratch_used = 0;

// Input text in lexer-owned memory for the length of one scan: a slice of the
// scratch buffer, or a heap block when the scratch space left is too small.
class InputText {
public:
    explicit InputText(int64_t bytes) : saved_used_(scratch_used) {
        if (bytes < 0 || bytes > INT32_MAX - 1) fire(ErrorCategory::internal, "no-memory");
        if (scratch && int64_t(SCRATCH_BYTES) - scratch_used >= bytes + 1) {
            data_ = scratch + scratch_used;
            scratch_used += int32_t(bytes) + 1;
        } else {
            heap_ = static_cast<uint8_t*>(runtime::allocate_memory(size_t(bytes) + 1));
            data_ = heap_;
        }
    }
    ~InputText() {
        scratch_used = saved_used_;
        if (heap_) runtime::free_memory(heap_);
    }
    InputText(const InputText&) = delete;
    InputText& operator=(const InputText&) = delete;
    uint8_t* data() const { return data_; }

private:
    int32_t saved_used_;
    uint8_t* heap_ = nullptr;
    uint8_t* data_ = nullptr;
};

// Links a state at the end of the chain for the life of a scan, and unlinks
// it on every exit, a throw included.
class ChainLink {
public:
    explicit ChainLink(State* lex) : lex_(lex) {
        lex->parent = innermost;
        lex->next = nullptr;
        if (innermost)
            innermost->next = lex;
        else
            chain = lex;
        innermost = lex;
    }
    ~ChainLink() {
        innermost = lex_->parent;
        if (innermost)
            innermost->next = nullptr;
        else
            chain = nullptr;
    }
    ChainLink(const ChainLink&) = delete;
    ChainLink& operator=(const ChainLink&) = delete;

private:
    State* lex_;
};


// The classes whose last byte (a one-byte delimiter, the "[" of "#[", a
// path's "/") the automaton leaves for the scanner to consume.
bool delimiter_class_q(int32_t cls) { return cls >= TK_BLOCK_OPEN && cls <= TK_PATH; }

// After an element of a path: its end closes the path, a "/" starts the
// next element, anything else fails.
void path_element_end(State* lex, const uint8_t* start) {
    const uint8_t* p = lex->pos;
    const uint8_t* end = lex->input_end;
    if (p >= end || path_end_class_q(class_of(*p))) {
        if (p < end && *p == ':') {
            if (p + 1 < end && p[1] == '/') throw_error(lex, start, p + 1, TYPE_PATH);
            close_series(lex, start, p, TYPE_SET_PATH, false);
            lex->pos = p + 1;
        } else {
            close_series(lex, start, p, -1, false);
        }
        return;
    }
    if (*p != '/' || p + 1 >= end) throw_error(lex, start, p + 1, TYPE_PATH);
    lex->pos = p + 1;
}

// Runs a token function; without one the token is consumed as it stands
// (a delimiter with its byte, the end of input with the rest).
void run(TokenFn fn, State* lex, int32_t cls, const uint8_t* s, const uint8_t* e, uint32_t flags, bool load) {
    if (fn)
        fn(lex, s, e, flags, load);
    else if (cls == TK_END)
        lex->pos = lex->input_end;
    else
        lex->pos = std::max(lex->pos, delimiter_class_q(cls) && e < lex->input_end ? e + 1 : e);
}

// The scan proper, on text already in lexer-owned memory.
int32_t scan_owned(Cell* result, const uint8_t* text, int32_t length, bool one_value, bool load, bool build,
                   bool force_block, int32_t* consumed, const Cell* callback, const Cell* source,
                   const Cell* into) {
    State st{};
    State* lex = &st;
    lex->base = innermost ? innermost->tail : 0;
    lex->head = lex->tail = lex->base;
    lex->input = lex->pos = lex->token_end = lex->cached_pos = text;
    lex->input_end = text + length;
    lex->line = 1;
    lex->forced_type = -1;
    lex->start_state = S_START;
    none::make_at(&lex->callback);
    none::make_at(&lex->source);
    if (source) lex->source = *source;
    lex->raise_errors = build && load;
    ChainLink link(lex);
    if (callback && type_of(callback) != TYPE_NONE) {
        lex->callback = *callback;
        lex->event_mask = event_mask(callback);
        lex->extra_locals = callback_locals(callback);
    }

    bool scan_only = !load;
    try {
        scan_tokens(lex, one_value, scan_only);
    } catch (const QuietStop&) {
        lex->type = TYPE_ERROR;
    } catch (const Raised&) {
        return TYPE_ERROR;  // pending: result and consumed may be the receiver's cells now
    }

    if (lex->tail > lex->base) {
        Cell* below = value_at(lex->head > lex->base ? lex->head - 1 : lex->base);
        if (scan_only && lex->start_state == S_PATH && lex->type != TYPE_ERROR) {
            if (marker_q(below)) lex->type = marker_type(below);
        } else if (marker_q(below)) {
            lex->closing_type = marker_type(below);
            try {
                throw_error(lex, lex->input + below->w3, lex->input_end, ERR_OPEN);
            } catch (const QuietStop&) {
                if (result) none::make_at(result);
                if (consumed) *consumed = position_of(lex, lex->pos);
                return TYPE_ERROR;
            } catch (const Raised&) {
                return TYPE_ERROR;
            }
        }
    }

    if (build && result) {
        int32_t count = lex->tail - lex->base;
        if (one_value && !force_block && count > 0) {
            if (into) {
                block::append_cell(into, value_at(lex->base));
                *result = *into;
            } else {
                *result = *value_at(lex->base);
            }
        } else {
            store_series(result, lex->base, count, TYPE_BLOCK, into);
        }
    }
    if (consumed) *consumed = position_of(lex, lex->pos);
    return lex->type;
}

// ---- the word datatypes' scan hooks ----

int32_t load_name_hook(const uint8_t* text, int32_t length) {
    int32_t consumed = 0;
    int32_t type = scan(nullptr, text, length, true, true, false, false, &consumed, nullptr, nullptr, nullptr);
    return consumed == length ? type : -1;
}

void mark_active_scans() { mark_buffers(collector::mark_cell); }

void scan_one_value_hook(const Cell* str, Cell* out) {
    Cell text = *str;
    int32_t length = string::rs_length_q(&text);
    int32_t consumed = 0;
    Cell result;
    none::make_at(&result);
    scan_string(&result, &text, length, true, true, true, true, &consumed, nullptr, nullptr);
    if (stack::pending()) return;  // a syntax error raised as a status
    if (consumed < length || type_of(&result) != TYPE_BLOCK) {
        none::make_at(out);
    } else if (block::zs_length_q(&result) == 0) {
        cell::set_type(cell::begin(out), TYPE_UNSET);
    } else {
        *out = *block::zs_head(&result);
    }
}

}  // namespace

// ---- entry ----

void init() {
    if (value_buffer) return;
    value_capacity = VALUE_BUFFER_CELLS;
    value_buffer = static_cast<Cell*>(runtime::allocate_zeroed(sizeof(Cell) * size_t(value_capacity)));
    scratch = static_cast<uint8_t*>(runtime::allocate_memory(SCRATCH_BYTES));
    scratch_used = 0;
    register_tables();
    word::scan_hooks.load_name = load_name_hook;
    word::scan_hooks.scan_one_value = scan_one_value_hook;
    collector::add_mark_callback(mark_active_scans);
}

int32_t scan(Cell* result, const uint8_t* text, int32_t length, bool one_value, bool load, bool build,
             bool force_block, int32_t* consumed, const Cell* callback, const Cell* source, const Cell* into) {
    if (length < 0) length = 0;
    InputText copy(length);
    if (length) std::memcpy(copy.data(), text, size_t(length));
    copy.data()[length] = 0;
    return scan_owned(result, copy.data(), length, one_value, load, build, force_block, consumed, callback,
                      source, into);
}

int32_t scan_string(Cell* result, const Cell* str, int32_t length, bool one_value, bool load, bool build,
                    bool force_block, int32_t* consumed, const Cell* callback, const Cell* into) {
    Cell source = *str;
    int32_t available = string::rs_length_q(&source);
    if (length < 0 || length > available) length = available;
    int64_t unit = memory::unit_of(string::buffer(&source));
    int64_t room = int64_t(length) * (unit == 4 ? 4 : unit + 1);
    InputText text(room);
    int32_t bytes = length ? unicode::encode_utf8_into_buffer(&source, text.data(), length, false) : 0;
    text.data()[bytes] = 0;
    return scan_owned(result, text.data(), bytes, one_value, load, build, force_block, consumed, callback,
                      &source, into);
}

// ---- main loop ----

void scan_tokens(State* lex, bool one_value, bool scan_only) {
    const uint8_t* end = lex->input_end;
    while (lex->pos < end) {
        const uint8_t* const from = lex->pos;
        const int32_t moves = lex->moves;
        uint32_t flags = 0;
        int32_t state = lex->start_state;
        int32_t prev = state;
        int32_t skipped = 0;
        int32_t lines = 0;
        const uint8_t* p = from;
        for (; p < end; p++) {
            uint32_t d = char_descriptors[*p];
            flags |= d & ~0xFFu;
            prev = state;
            state = transitions[state * CLASS_COUNT + (d & 0xFF)];
            skipped += state_skip[state];
            if (state > TERMINAL_BASE) break;  // p is the look-ahead: the next token's first byte
            lines += line_table[d & 0xFF];
        }
        if (state <= TERMINAL_BASE) {  // the input ended first
            flags |= C_FLAG_EOF;
            prev = state;
            state = transitions[state * CLASS_COUNT + C_EOF];
            if (state <= TERMINAL_BASE) state = TERMINAL_BASE + TK_ERROR;
        }

        const uint8_t* s = from + skipped;
        const uint8_t* e = p;
        lex->pos = lex->token_end = e;
        lex->line += lines;
        lex->nlines = lines;
        lex->prev_state = prev;
        lex->forced_type = -1;
        lex->type = state_type[state];
        int32_t cls = state - TERMINAL_BASE;
        bool has_callback = type_of(&lex->callback) != TYPE_NONE;

        if (scan_only && cls <= TK_STRING) {
            run(scanners[cls], lex, cls, s, e, flags, false);
        } else {
            if (cls == TK_WORD) {  // trim leading special spaces
                while (s < e) {
                    int32_t cp;
                    const uint8_t* next = unicode::decode_utf8_bounded(s, e, &cp);
                    if (cp < 0) throw_error(lex, s, e, TYPE_WORD);
                    if (!special_space_q(cp)) break;
                    s = next;
                }
                if (s == e) {  // nothing but spaces
                    if (e < end) continue;
                    cls = TK_END;
                    lex->type = 0;
                }
            }

            bool load_it = !scan_only;
            if (has_callback && lex->start_state != S_BRACED) {
                int32_t t = lex->type ? lex->type : -cls;
                load_it = fire_event(lex, EVT_PRESCAN, t, nullptr, s, e);
                // A refused delimiter is consumed with its byte, so that it does not come again.
                if (!load_it && delimiter_class_q(cls) && lex->moves == moves && e < end) lex->pos = e + 1;
            }
            if (load_it) {
                bool go_on = !one_value || lex->raise_errors;
                if (cls >= TK_STRING) {
                    if (!lex->raise_errors || scanners[cls] || (lex->event_mask & EVT_SCAN)) {
                        if (scanners[cls])
                            scanners[cls](lex, s, e, flags, false);
                        else
                            run(loaders[cls], lex, cls, s, e, flags, false);
                        if (has_callback)
                            go_on = fire_event(lex, EVT_SCAN, lex->type ? lex->type : -cls, nullptr, s, e);
                    }
                    if (go_on && loaders[cls]) {
                        int32_t before = lex->tail;
                        loaders[cls](lex, s, e, flags, true);
                        if (has_callback && lex->tail > before) {
                            Cell loaded = *value_at(lex->tail - 1);
                            if (!fire_event(lex, EVT_LOAD, type_of(&loaded), &loaded, s, e)) lex->tail = before;
                        }
                    }
                } else {
                    try {
                        run(scanners[cls], lex, cls, s, e, flags, lex->raise_errors);
                    } catch (const QuietStop&) {
                        if (!go_on) throw;
                        lex->type = TYPE_ERROR;
                    }
                }
            }
        }

        // The scan always advances, unless a callback moved it on purpose.
        if (lex->pos <= from && lex->moves == moves) lex->pos = std::max(e, from + 1);

        if (lex->start_state == S_PATH && cls != TK_PATH && cls != TK_ERROR) path_element_end(lex, s);

        if ((one_value || scan_only) && lex->type != 0 && lex->start_state != S_PATH &&
            lex->start_state != S_BRACED && cls != TK_PATH) {
            int32_t count = lex->tail - lex->base;
            if (count == 0 || (count == 1 && !marker_q(value_at(lex->base)))) break;
        }
    }
    if (lex->start_state == S_BRACED && lex->type == 0)
        throw_error(lex, lex->braced_start, lex->input_end, TYPE_STRING);
}

// ---- value buffer ----

Cell* alloc_slot(State* lex) {
    if (lex->tail >= value_capacity) {
        int64_t cells = std::max<int64_t>(int64_t(value_capacity) * 2, VALUE_BUFFER_CELLS);
        void* grown = cells > INT32_MAX / int64_t(sizeof(Cell))
                          ? nullptr
                          : runtime::reallocate_memory(value_buffer, size_t(cells) * sizeof(Cell));
        if (!grown) fire(ErrorCategory::internal, "no-memory");
        value_buffer = static_cast<Cell*>(grown);
        value_capacity = int32_t(cells);
    }
    Cell* c = value_at(lex->tail++);
    cell::begin(c);
    if (lex->nlines > 0) c->header |= FLAG_NEW_LINE;
    return c;
}

void store_series(Cell* result, int32_t first, int32_t count, int32_t type, const Cell* into) {
    if (into) {
        for (int32_t i = 0; i < count; i++) block::append_cell(into, value_at(first + i));
        *result = *into;
        return;
    }
    Cell made;
    block::make_at(&made, count);
    SeriesBuffer* s = memory::buffer_of(made.w2);
    if (count) std::memcpy(memory::cells_for_write(s), value_at(first), size_t(count) * sizeof(Cell));
    s->tail = s->head + count * int32_t(sizeof(Cell));
    cell::set_type(&made, uint32_t(type));
    *result = made;
}

// ---- nesting ----

void open_series(State* lex, int32_t type, const uint8_t* start, const uint8_t* end) {
    if (!fire_event(lex, EVT_OPEN, type, nullptr, start, end)) return;
    if (const Cell* open = open_marker(lex); open && marker_type(open) == TYPE_POINT2D)
        throw_error(lex, start, end, TYPE_POINT2D);
    int32_t link = lex->tail - lex->head;
    Cell* m = alloc_slot(lex);
    m->w1 = uint32_t(link);
    m->w2 = uint32_t(type) & 0xFFFF;
    m->w3 = uint32_t(start - lex->input);
    cell::set_type(m, TYPE_TRIPLE);
    lex->head = lex->tail;
    lex->start_state = S_START;
}

void close_series(State* lex, const uint8_t* start, const uint8_t* end, int32_t type, bool quiet) {
    Cell* m = open_marker(lex);
    if (!m) {
        lex->closing_type = type;
        throw_error(lex, start, end, ERR_CLOSE);
    }
    int32_t open_type = marker_type(m);
    int32_t closed = open_type;
    if (type != -1 && type != open_type) {
        if (type == TYPE_SET_PATH && open_type != TYPE_LIT_PATH && open_type != TYPE_GET_PATH) {
            closed = TYPE_SET_PATH;
        } else if (!(type == TYPE_BLOCK && open_type == TYPE_MAP)) {
            lex->closing_type = type;
            throw_error(lex, start, end, ERR_CLOSE);
        }
    }
    if (!quiet && !fire_event(lex, EVT_CLOSE, closed, nullptr, start, end)) {
        lex->start_state = S_START;
        return;
    }
    int32_t marker = lex->head - 1;
    int32_t link = int32_t(value_at(marker)->w1);
    Cell series;
    store_series(&series, lex->head, lex->tail - lex->head, closed == TYPE_MAP ? TYPE_BLOCK : closed, nullptr);
    m = value_at(marker);  // the buffer may have moved (a nested scan in an event)
    series.header = (series.header & ~FLAG_NEW_LINE) | (m->header & FLAG_NEW_LINE);
    *m = series;
    lex->head = marker - link;
    lex->tail = marker + 1;
    lex->type = closed;
    const Cell* enclosing = open_marker(lex);
    lex->start_state = enclosing && path_type_q(marker_type(enclosing)) ? S_PATH : S_START;
}

void close_all(State* lex) {
    while (const Cell* m = open_marker(lex)) {
        int32_t type = marker_type(m);
        if (type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_MAP) {
            close_series(lex, nullptr, nullptr, -1, true);
        } else {  // paths and point literals are dropped with their cells
            int32_t marker = lex->head - 1;
            lex->head = marker - int32_t(m->w1);
            lex->tail = marker;
        }
    }
}

bool point_literal_ahead_q(const State* lex, const uint8_t* p) {
    const uint8_t* end = lex->input_end;
    const uint8_t* q = p + 1;
    if (end - q <= 3) return false;
    auto point_char = [](uint8_t c) {
        return c == '\t' || c == ' ' || c == '#' || c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9') ||
               c == 'A' || c == 'E' || c == 'F' || c == 'I' || c == 'N' || c == 'a' || c == 'e' || c == 'f' ||
               c == 'i' || c == 'n';
    };
    while (q < end && point_char(*q)) q++;
    return q > p + 1 && (q == end || *q == ',');
}

}  // namespace zuv::lexer
