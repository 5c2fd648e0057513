// The lexer: UTF-8 source text to values.
//
// Every byte is classified into one of 40 character classes (tables.hpp); a
// table-driven automaton runs over the bytes until a terminal state names the
// token class (1-36); the class's scanner and loader then check the token and
// build its value in the lexer's value buffer. Opening delimiters push marker
// cells into that buffer; a closing delimiter turns the cells above its marker
// into a series.
//
// Re-entrancy and the collector. Loaders allocate and callbacks run user code,
// so the collector may run in the middle of a scan, and a loader or a callback
// may start a nested scan. Therefore:
//   - every active scan links its State into one chain (`chain`), and
//     mark_buffers() lets the collector mark each scan's values, its source
//     series and its callback;
//   - the input text always lies in memory that the lexer owns and that never
//     moves during the scan (the scratch buffer, or a temporary heap block):
//     scan() copies its bytes there and scan_string() encodes there, so input
//     pointers (State::input ... State::token_end) stay valid;
//   - the value buffer lies outside the series heap but GROWS (it is
//     reallocated when full, by alloc_slot() and by nested scans): positions
//     in it are cell INDEXES (State::base, head, tail). A Cell* from
//     alloc_slot() or value_at() is valid only until the next alloc_slot(),
//     open_series() or nested scan.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::lexer {

// ---- token classes (terminal state = class + 65) ---------------------------

// X(class number, C++ name, word naming the class in system/lexer/exit-states)
#define ZUV_TOKEN_CLASSES(X)                                                                       \
    X(1, END, "eof") X(2, ERROR, "error") X(3, BLOCK_OPEN, "block-open")                          \
    X(4, BLOCK_CLOSE, "block-close") X(5, PAREN_OPEN, "paren-open") X(6, PAREN_CLOSE, "paren-close") \
    X(7, BRACE_OPEN, "string-open") X(8, BRACE_CLOSE, "string-close") X(9, MAP_OPEN, "map-open")   \
    X(10, PATH, "path") X(11, CONSTRUCT, "construct") X(12, COMMENT, "comment")                    \
    X(13, COMMA, "comma") X(14, STRING, "string") X(15, WORD, "word") X(16, ISSUE, "issue")        \
    X(17, INTEGER, "integer") X(18, REFINEMENT, "refinement") X(19, CHAR, "char")                  \
    X(20, FILE, "file") X(21, BINARY, "binary") X(22, PERCENT, "percent") X(23, FLOAT, "float")    \
    X(24, FLOAT_SPECIAL, "float-special") X(25, TUPLE, "tuple") X(26, DATE, "date")                \
    X(27, PAIR, "pair") X(28, POINT, "point") X(29, TIME, "time") X(30, MONEY, "money")            \
    X(31, TAG, "tag") X(32, URL, "url") X(33, EMAIL, "email") X(34, HEX, "hex")                    \
    X(35, RAW_STRING, "raw-string") X(36, REF, "ref")

enum TokenClass : int32_t {
#define ZUV_TOKEN_ENUM(n, name, word) TK_##name = n,
    ZUV_TOKEN_CLASSES(ZUV_TOKEN_ENUM)
#undef ZUV_TOKEN_ENUM
};
constexpr int32_t TOKEN_CLASSES = 36;
static_assert(TK_REF == TOKEN_CLASSES);

// The words of system/lexer/exit-states, indexed by class (entry 0 unused).
extern const char* const token_class_names[TOKEN_CLASSES + 1];

// ---- automaton states --------------------------------------------------------

constexpr int32_t STATE_COUNT = 65;       // non-terminal states 0-64
constexpr int32_t CLASS_COUNT = 40;       // character classes 0-39
constexpr int32_t TERMINAL_BASE = 65;     // terminal state = TERMINAL_BASE + token class
constexpr int32_t S_START = 0;            // ordinary text
constexpr int32_t S_BRACED = 4;           // inside a braced string
constexpr int32_t S_POINT = 35;           // body of a point literal, after its "("
constexpr int32_t S_PATH = 59;            // a path element, after a "/"

// ---- accumulated character flags (bits 18-31 of a character descriptor) ---

// The automaton ORs the flags of every byte of a token (the look-ahead byte
// included), so that scanners and loaders know what a token holds.
enum CharFlag : uint32_t {
    C_FLAG_PERCENT = 1u << 18,   // "%"
    C_FLAG_GREATER = 1u << 19,   // ">"
    C_FLAG_LESSER = 1u << 20,    // "<"
    C_FLAG_SIGN = 1u << 21,      // "+" or "-"
    C_FLAG_EOF = 1u << 22,       // NUL
    C_FLAG_SHARP = 1u << 23,     // "#"
    C_FLAG_EXP = 1u << 24,       // "e" or "E"
    C_FLAG_QUOTE = 1u << 25,     // apostrophe
    C_FLAG_COLON = 1u << 26,     // ":"
    C_FLAG_COMMA = 1u << 27,     // ","
    C_FLAG_DOT = 1u << 28,       // "."
    C_FLAG_CARET = 1u << 29,     // "^"
    C_FLAG_UNICODE = 1u << 30,   // lead byte of a 2- or 3-byte UTF-8 sequence
    C_FLAG_UNICODE4 = 1u << 31,  // lead byte of a 4-byte UTF-8 sequence
};
// Character width of a string-like token: 1 << (flags >> 30), capped at 4.
inline int32_t unit_of_flags(uint32_t flags) {
    uint32_t w = 1u << (flags >> 30);
    return int32_t(w > 4 ? 4 : w);
}

// ---- events ------------------------------------------------------------------

// Bits of the event mask; the callback receives the word of the same name.
enum Event : uint32_t {
    EVT_PRESCAN = 1,
    EVT_SCAN = 2,
    EVT_LOAD = 4,
    EVT_OPEN = 8,
    EVT_CLOSE = 16,
    EVT_ERROR = 32,
    EVT_ALL = 63,
};

// ---- syntax error codes (a positive code is the datatype of an `invalid`) --

enum ErrorCode : int32_t {
    ERR_BAD_CHAR = -1,      // syntax bad-char
    ERR_MALCONSTRUCT = -2,  // syntax malconstruct
    ERR_CLOSE = -3,         // a closing delimiter without its opening, or a wrong one: missing
    ERR_OPEN = -4,          // a series still open at the end: missing
};

// ---- the lexer state: one per active scan -------------------------------------

struct State {
    State* next;                 // the scan started from inside this one, or null
    State* parent;               // the scan active when this one started, or null
    int32_t base;                // value buffer index of this scan's first cell
    int32_t head;                // index of the first cell of the innermost open series
    int32_t tail;                // index of the next free cell
    const uint8_t* input;        // input start (lexer-owned memory, see the top comment)
    const uint8_t* input_end;
    const uint8_t* pos;          // current position
    const uint8_t* token_end;    // end of the current token (the look-ahead byte)
    int32_t line;                // current line, from 1
    int32_t nlines;              // lines crossed by the current token, leading blanks included
    int32_t forced_type;         // datatype a string-like loader gives its value, -1 when none
    int32_t type;                // datatype of the last token (TYPE_ERROR after an error)
    int32_t start_state;         // state each token starts in
    int32_t prev_state;          // the state before the terminal one
    int32_t closing_type;        // type a failed close tried, for error reports (0: none)
    const uint8_t* braced_start; // start of the braced string being read
    int32_t braced_depth;        // nesting of "{" in it
    uint32_t braced_flags;       // flags accumulated over it
    int32_t saved_lines;         // line count kept across a point literal
    Cell callback;               // function value, or none
    int32_t extra_locals;        // the callback's /local words
    uint32_t event_mask;         // Event bits delivered to the callback
    Cell source;                 // the string! or binary! scanned, or none
    bool raise_errors;           // build and load: syntax errors are raised
    const uint8_t* cached_pos;   // last byte position converted to a character index
    int32_t cached_chars;        // its character index
    int32_t moves;               // times a callback moved the position (the loop's progress check)
};

// Thrown by throw_error() to stop a scan quietly; scan() receives it, it
// never leaves the lexer.
struct QuietStop {};
// Thrown by throw_error() once it raised the syntax error as a status (left
// pending, the stacks unrolled to its receiver); the scan receives it and
// returns at once. A C++ throw stopped inside the lexer costs a few frames
// instead of every frame up to the native's entry.
struct Raised {};

// The chain of active scans, outermost first (null when none runs).
extern State* chain;

// ---- scanners and loaders ----------------------------------------------------

// A scanner handles structure and checks a token; a loader builds the token's
// value with alloc_slot() when load is set, and only checks it otherwise.
// Both set lex->pos past what they consumed, and report failures with
// throw_error().
using TokenFn = void (*)(State* lex, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// Indexed by token class; null where a class has none.
extern TokenFn scanners[TOKEN_CLASSES + 1];
extern TokenFn loaders[TOKEN_CLASSES + 1];

// The 36 (scanner, loader) pairs, in class order, are filled into the tables
// above by register_tables(), which is defined with the scanners and loaders
// (lexer/token_table.cpp) and called by init().
void register_tables();

// ---- entry -----------------------------------------------------------------

// Allocates the value buffer and the scratch buffer, registers the scanners
// and loaders, and installs the word datatypes' scan hooks. Runs once (a second call does nothing).
void init();

// Scans UTF-8 text; returns the datatype id of the last token (TYPE_ERROR
// after a quiet error). The bytes are copied first, so they may lie anywhere.
// A syntax error (load and build) is raised as a status: the scan returns
// TYPE_ERROR with the error pending and the stacks already its receiver's,
// result and consumed untouched; the caller returns at once, or turns it into
// the low-level throw with stack::raise_pending() when it cannot hand it on.
//   result       receives the block (or one value); may be null when nothing is
//                built. Must not lie in a series buffer that can move.
//   one_value    stop after the first complete top-level value
//   load         run the loaders (false: classify and skip tokens only)
//   build        store the loaded values into result
//   force_block  with one_value and build, store a block even for one value
//   consumed     receives the consumed length (characters for a string!
//                source, else bytes); may be null
//   callback     function value receiving events, or null
//   source       the string! or binary! the text came from, or null
//   into         when given, a block the values are appended to (result then
//                refers to it)
int32_t scan(Cell* result, const uint8_t* text, int32_t length, bool one_value, bool load, bool build,
             bool force_block, int32_t* consumed, const Cell* callback, const Cell* source, const Cell* into);

// Scans a string from its head (length -1: to its tail) with the string as source.
int32_t scan_string(Cell* result, const Cell* str, int32_t length, bool one_value, bool load, bool build,
                    bool force_block, int32_t* consumed, const Cell* callback, const Cell* into);

// The main loop over the tokens of a linked state.
void scan_tokens(State* lex, bool one_value, bool scan_only);

// ---- the value buffer ------------------------------------------------------

extern Cell* value_buffer;
extern int32_t value_capacity;

inline Cell* value_at(int32_t index) { return value_buffer + index; }

// The next cell of the value buffer (header unset!, with the new-line flag
// when the current token crossed a line); grows the buffer when full.
Cell* alloc_slot(State* lex);
// result := a series of the datatype made from count cells (room for at
// least 1); with into, the cells are appended to that block instead and
// result refers to it. first is a value buffer index.
void store_series(Cell* result, int32_t first, int32_t count, int32_t type, const Cell* into);

// ---- nesting ---------------------------------------------------------------

// Fires `open`, pushes a marker of the series type (opened by the token
// start..end) and makes the head the tail.
void open_series(State* lex, int32_t type, const uint8_t* start, const uint8_t* end);
// Closes the innermost open series with type (-1: the marker's own type);
// quiet: no `close` event. None open, or a mismatch, raises the
// missing-delimiter error, which names the delimiter from the byte at
// lex->pos: call it BEFORE moving the position past the closing byte.
// The series replaces its marker at tail - 1 and lex->type becomes the
// closed type. A map! marker closed by "]" gives a block! cell there with
// lex->type = TYPE_MAP: the "]" scanner turns it into the map.
// The start state becomes S_PATH when the enclosing series is a path.
void close_series(State* lex, const uint8_t* start, const uint8_t* end, int32_t type, bool quiet);
// Closes every open block and paren quietly and drops open paths.
void close_all(State* lex);

// True when the "(" at p starts a point literal: more than 3 bytes follow
// and they begin with a run of point-literal characters (tab, space, "#",
// "+", "-", ".", digits, "A" "E" "F" "I" "N" "a" "e" "f" "i" "n") that ends
// in "," or at the input end.
bool point_literal_ahead_q(const State* lex, const uint8_t* p);

// The main loop checks the end of every path element itself (after each
// token read in path mode): a path-end byte or the input end closes the path
// (a ":" there is consumed and makes it a set-path!), a "/" starts the next
// element, anything else fails as an invalid path!.

// Marker cells: type TYPE_TRIPLE inside the value buffer only.
//   w1 cells between the enclosing head and the marker (the link back)
//   w2 series datatype in bits 0-15, commas seen in a point literal in 16-31
//   w3 byte offset of the opening delimiter from the input start
inline bool marker_q(const Cell* c) { return type_of(c) == TYPE_TRIPLE; }
inline int32_t marker_type(const Cell* c) { return int32_t(c->w2 & 0xFFFF); }
inline int32_t marker_commas(const Cell* c) { return int32_t(c->w2 >> 16); }
inline bool path_type_q(int32_t type) { return type >= TYPE_PATH && type <= TYPE_GET_PATH; }
// The innermost open marker (the cell below the head), or null when none is open.
inline Cell* open_marker(State* lex) {
    return lex->head > lex->base && marker_q(value_at(lex->head - 1)) ? value_at(lex->head - 1) : nullptr;
}

// ---- events and errors -----------------------------------------------------

// Delivers one event when the scan has a callback whose mask holds it; type
// is a datatype id, or minus a token class; token is the loaded value, or
// null for a pair of positions start..end. Answers the truth of the
// callback's result (true when not delivered).
bool fire_event(State* lex, Event event, int32_t type, const Cell* token, const uint8_t* start,
                const uint8_t* end);
// The event mask of a callback value.
uint32_t event_mask(const Cell* callback);
// The number of the callback's /local words, /local itself included.
int32_t callback_locals(const Cell* callback);

// Reports a syntax error (code: a datatype id or an ErrorCode) at start (null:
// the innermost open series' opening, else the input start). Raises the
// syntax error as a status and throws Raised, or stops the whole scan quietly
// when lex->raise_errors is clear or the callback answers false to `error`.
// Never returns.
[[noreturn]] void throw_error(State* lex, const uint8_t* start, const uint8_t* end, int32_t code);

// Character index (from the input start) of a byte position, for a string!
// source; the byte offset otherwise.
int32_t position_of(State* lex, const uint8_t* p);

// Calls the collector's cell-marking function on every value each active scan
// holds: its cells from base to tail, its source series and its callback.
void mark_buffers(void (*mark_cell)(const Cell* cell));

// The callback bridge: calls a lexer callback with its five arguments
// (event word, input, type, line, token) and extra_locals locals, and answers
// the truth of its result. args[1] is read back afterwards: a callback that
// moved its input's head moves the lexer. The interpreter installs the
// function-calling hook; without one, callbacks are not called and every
// event answers true.
// The hook pushes a call frame named `<lexer-callback>` for the call and
// gives the callback's /local refinement false and its locals none.
using CallbackHook = bool (*)(const Cell* callback, Cell* args, int32_t extra_locals);
extern CallbackHook callback_hook;

// Writes the value of system/lexer/exit-states into out (the block of words
// naming the token classes); installed with the system object. Without it,
// the type argument of an event about a class without datatype is none.
extern void (*exit_states_hook)(Cell* out);

}  // namespace zuv::lexer
