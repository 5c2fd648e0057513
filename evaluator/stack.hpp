// The data stack and the call stack.
//
// Every call passes its arguments and returns its result through one data
// stack of value cells, and records itself on a parallel call stack of small
// fixed frames. The call stack is the only record of who called whom:
// non-local exits unroll it to the frame kind that receives them, errors take
// their `where` from it, and the collector marks the contexts it names.
//
// Data stack: `bottom` <= `arguments` <= `top` < `end`. `arguments` is the
// current call's first cell, which is also its result slot; the cells from
// `arguments` to `top` are the call's arguments, refinements and locals.
// Both stacks are fixed series (they never move), so a Cell* into the data
// stack stays valid across allocations.
//
// Call frame: five 32-bit words. Pointers are kept as indexes so that frames
// stay five words on 64 bits:
//
//   header        bits 8-23 symbol of the naming word, 24-27 kind,
//                 bit 28 body flag, bit 31 interpreted flag
//   saved_args    data stack index of `arguments` when the frame was pushed
//   word_context  context node of the naming word (its word 1)
//   func_context  node of the called function's own context, or 0
//   saved_values  that context cell's values word at the push, or 0; in a
//                 catch frame, the data stack index of its /name argument
//                 plus 1 (0: it receives every throw)
//
// A frame does not store its own base: the base of frame F is the saved_args
// of the frame pushed right after it, or `arguments` when F is the top frame.
//
// A context whose values live on the data stack keeps, in its values word,
// the data stack index of the call's first argument plus 1 (0: no call runs).
//
// Non-local exits. A C++ throw costs more than a whole interpreted call, so
// `break`, `continue`, `return`, `exit`, `throw` and errors do not throw
// where the evaluator can help it: the throw_* operations and raise_error
// unroll the stacks to the receiving frame, leave the code pending in
// runtime::thrown_code and return it. The evaluator checks the pending code
// after each sub-evaluation and hands it up on its normal return path to the
// interpreted frame, loop, catch or try that receives it; C++ code that
// cannot pass a code on turns it into the low-level throw with
// raise_pending(), and the evaluator turns a low-level throw that leaves a
// native's entry back into the pending code (call_entry).
//
// Frames are popped only by the unwind and unroll operations here, never by
// destructors: code abandoned by a throw does no clean-up of its own.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include "runtime/throw.hpp"

namespace zuv::stack {

constexpr int32_t DATA_CELLS = 20000;
constexpr int32_t RESERVE_CELLS = 512;  // past DATA_CELLS, for building the overflow error
constexpr int32_t CALL_CELLS = 15000;  // raw storage for 12,000 frames

// ---- frames ----

constexpr uint32_t FRAME_KIND_MASK = 0x0F000000;
constexpr uint32_t FRAME_FUNC = 0x01000000;      // function call
constexpr uint32_t FRAME_NATIVE = 0x02000000;    // native, action or routine call
constexpr uint32_t FRAME_TRY = 0x04000000;       // target of errors
constexpr uint32_t FRAME_TRY_ALL = 0x05000000;   // every unroll and search stops here
constexpr uint32_t FRAME_CATCH = 0x06000000;     // target of throw
constexpr uint32_t FRAME_EVAL = 0x07000000;      // block evaluation by the interpreter
constexpr uint32_t FRAME_LOOP = 0x08000000;      // target of break and continue
constexpr uint32_t FRAME_BODY = 0x10000000;      // running function body: target of return and exit
constexpr uint32_t FRAME_INTERPRETED = 0x80000000;  // pushed by the interpreter

struct Frame {
    uint32_t header;
    uint32_t saved_args;
    Node word_context;
    Node func_context;
    uint32_t saved_values;

    uint32_t kind() const { return header & FRAME_KIND_MASK; }
    uint32_t symbol() const { return (header >> 8) & 0xFFFF; }
};
static_assert(sizeof(Frame) == 20, "a call frame is five 32-bit words");
static_assert(offsetof(Frame, saved_args) == 4, "the header and saved_args are written together");
constexpr int32_t MAX_FRAMES = CALL_CELLS * 16 / int32_t(sizeof(Frame));
static_assert(MAX_FRAMES == 12000);

// ---- state ----

extern Cell* bottom;     // first cell of the data stack
extern Cell* end;        // just past its last cell
extern Cell* top;        // next free cell
extern Cell* arguments;  // first cell of the current call, its result slot

extern Frame* frames_bottom;
extern Frame* frames_end;
extern Frame* frames_top;  // next free frame slot

extern Node data_node;  // the two fixed series
extern Node call_node;

// Symbols of the frame names skipped by backtraces, and of `self`.
extern uint32_t body_symbol;
extern uint32_t anon_symbol;
extern uint32_t self_symbol;

// Makes the data stack and the call stack as fixed blocks in the root block.
void make_blocks(const Cell* root);
// Sets the pointers of both (empty) stacks and caches the frame-name symbols.
void init();

// ---- data stack ----

[[noreturn]] void overflow_data();
[[noreturn]] void overflow_frames();

inline uint32_t index_of(const Cell* c) { return uint32_t(c - bottom); }
inline Cell* cell_at(uint32_t index) { return bottom + index; }

// Values word of a context whose values live on the data stack.
inline uint32_t values_word_of(const Cell* first_argument) { return index_of(first_argument) + 1; }
inline Cell* values_of(uint32_t values_word) { return values_word ? bottom + (values_word - 1) : nullptr; }

// Reserves the cell at top as it is (the caller wrote it already) and
// returns it. Reaching the end gives the cell back and raises internal
// stack-overflow.
inline Cell* push_kept() {
    Cell* c = top;
    top = c + 1;
    if (top >= end) [[unlikely]]
        overflow_data();
    return c;
}
// Reserves the cell at top, holding no value, and returns it. The cell is
// cleared because the collector marks every cell below top: a cell left as
// an earlier use wrote it could name a node since given to another series,
// which would then be marked without its cells.
inline Cell* push_raw() {
    Cell* c = push_kept();
    c->header = 0;
    return c;
}
// Copies value into the cell at top, then reserves it: the last cell before
// the end is written but never stays live.
inline Cell* push(const Cell* value) {
    copy_cell(value, top);
    return push_kept();
}
inline void pop(int32_t n) { top = (top - bottom < n) ? bottom : top - n; }
// Room to push this many more frames and cells before an overflow. Code
// that skips frames or cells the walker would push (no one can see them)
// skips them only with room for them: near the limits it pushes them, so
// that an overflow comes at the same push either way.
[[gnu::always_inline]] inline bool room_q(int32_t frames, int32_t cells);
inline Cell* reset() { return top = arguments; }
inline Cell* keep() {
    top = arguments + 1;
    return arguments;
}
inline Cell* set_last(const Cell* value) { return copy_cell(value, arguments); }
inline void set_last_only(const Cell* value) {
    top = arguments + 1;
    copy_cell(value, arguments);
}
// The last pushed cell, or bottom itself when the stack is empty.
inline Cell* get_top_value() { return top > bottom ? top - 1 : bottom; }
inline uint8_t get_top_type() { return type_of(get_top_value()); }
// An error! pushed last becomes the result; the call keeps one cell.
void keep_error_result();

// ---- pushing frames ----

// The cell of a context node (the first of its two cells).
inline Cell* context_cell(Node context) { return memory::internal_cells(memory::buffer_of(context)); }

// The header word of a frame named by word, with flags.
inline uint32_t frame_header(const Cell* word, uint32_t flags) {
    // The symbol keeps to its 16 bits so that it never spills into the kind.
    return ((word->w2 & 0xFFFF) << 8) | flags;
}

// Writes the five words of frame f, its saved_args the index of args, a
// cell of the data stack starting at base (bottom, read by the caller).
// The header and saved_args go as one 64-bit store: args's byte offset from
// base is 16 times its index, shifted into the high half without a division.
inline void fill_frame(Frame* f, const Cell* base, uint32_t header, const Cell* args, Node word_context,
                       Node func_context = 0, uint32_t saved_values = 0) {
    static_assert(std::endian::native == std::endian::little && sizeof(Cell) == 16);
    uint64_t offset = reinterpret_cast<uintptr_t>(args) - reinterpret_cast<uintptr_t>(base);
    uint64_t first = header | (offset << 28);
    std::memcpy(&f->header, &first, sizeof first);
    f->word_context = word_context;
    f->func_context = func_context;
    f->saved_values = saved_values;
}

// Fills the frame at the top; the caller made sure it is below frames_end.
inline void put_frame_words(uint32_t header, Node word_context, Node func_context, uint32_t saved_values) {
    Frame* f = frames_top;
    f->header = header;
    f->saved_args = index_of(arguments);
    f->word_context = word_context;
    f->func_context = func_context;
    f->saved_values = saved_values;
    frames_top = f + 1;
    arguments = top;
}
inline void push_frame_words(uint32_t header, Node word_context, Node func_context, uint32_t saved_values) {
    if (frames_top >= frames_end) [[unlikely]]
        overflow_frames();
    put_frame_words(header, word_context, func_context, saved_values);
}

inline void push_frame(const Cell* word, uint32_t flags, Node func_context, uint32_t saved_values) {
    push_frame_words(frame_header(word, flags), word->w1, func_context, saved_values);
}
// A frame with no function context whose header word is made already
// (frame_header), for code that pushes the same frame many times.
inline void push_known_frame(uint32_t header, Node word_context) { push_frame_words(header, word_context, 0, 0); }
// The same for code that found room for all the frames it pushes before
// it looks again (the frame is below frames_end).
inline void push_known_frame_in_room(uint32_t header, Node word_context) { put_frame_words(header, word_context, 0, 0); }

inline void mark(const Cell* word, uint32_t flags) { push_frame(word, flags, 0, 0); }
inline void mark_native(const Cell* word) { push_frame(word, FRAME_NATIVE, 0, 0); }
inline void mark_try(const Cell* word) { push_frame(word, FRAME_TRY, 0, 0); }
inline void mark_try_all(const Cell* word) { push_frame(word, FRAME_TRY_ALL, 0, 0); }
inline void mark_catch(const Cell* word) { push_frame(word, FRAME_CATCH, 0, 0); }
// A catch of the throws named by the data stack cell name.
inline void mark_catch(const Cell* word, const Cell* name) {
    push_frame(word, FRAME_CATCH, 0, uint32_t(name - bottom) + 1);
}
inline void mark_eval(const Cell* word) { push_frame(word, FRAME_EVAL | FRAME_INTERPRETED, 0, 0); }
inline void mark_loop(const Cell* word) { push_frame(word, FRAME_LOOP, 0, 0); }
inline void mark_eval_native(const Cell* word) { push_frame(word, FRAME_NATIVE | FRAME_INTERPRETED, 0, 0); }
inline void mark_eval_func(const Cell* word) { push_frame(word, FRAME_FUNC | FRAME_INTERPRETED, 0, 0); }
// A function call from compiled code; the context's values word is saved
// in the frame (and put back by the func variants of unwind). 0: no context.
inline void mark_func(const Cell* word, Node context) {
    push_frame(word, FRAME_FUNC, context, context ? context_cell(context)->w2 : 0);
}
// A running function body: the context's words now read and write the
// argument cells from `arguments`.
inline void mark_func_body(const Cell* word, Node context) {
    if (frames_top >= frames_end) [[unlikely]]
        overflow_frames();
    context_cell(context)->w2 = values_word_of(arguments);
    push_frame(word, FRAME_NATIVE | FRAME_BODY, 0, 0);
}

// ---- frame flags and positions ----

inline int32_t depth() { return int32_t(frames_top - frames_bottom); }
[[gnu::always_inline]] inline bool room_q(int32_t frames, int32_t cells) { return frames_top + frames <= frames_end && top + cells < end; }
// The top frame, or null when the call stack is empty.
inline Frame* get_top_frame() { return frames_top > frames_bottom ? frames_top - 1 : nullptr; }
inline void set_call_top(Frame* position) { frames_top = position; }
inline void set_body_flag(bool on) {
    Frame* f = frames_top - 1;
    f->header = on ? (f->header | FRAME_BODY) : (f->header & ~FRAME_BODY);
}
inline void set_eval_flag() { frames_top[-1].header |= FRAME_INTERPRETED; }
// The frame below the top one gets the body flag; null when it had it
// already (or does not exist), else that frame, for clear_body_flag.
Frame* mark_caller_body();
inline void clear_body_flag(Frame* f) { f->header &= ~FRAME_BODY; }
// Looking down from below position (a call-stack top saved from frames_top;
// the current top when null): true at the first frame with the interpreted flag; with nearest_only only the nearest
// frame is looked at. Says whether a code that reached a native must be
// handed back to an interpreter.
bool eval_q(const Frame* position, bool nearest_only);

// Base of a frame on the call stack: where its call's cells start.
inline Cell* base_of(const Frame* f) { return f + 1 < frames_top ? bottom + f[1].saved_args : arguments; }

// ---- popping frames ----

inline void restore_context(const Frame* f) {
    if (f->func_context) context_cell(f->func_context)->w2 = f->saved_values;
}
// Everything of the call is dropped.
inline void unwind() {
    Frame* f = --frames_top;
    arguments = bottom + f->saved_args;
    top = arguments;
}
// The callee's result stays on the stack, as the one cell above the caller's.
inline void unwind_last() {
    Frame* f = --frames_top;
    top = arguments + 1;
    arguments = bottom + f->saved_args;
}
// The callee's result is copied into the caller's result slot.
inline void unwind_last_return() {
    Cell* result = arguments;
    unwind_last();
    copy_cell(result, arguments);
}
inline void unwind_func() {
    restore_context(frames_top - 1);
    unwind();
}
inline void unwind_func_last() {
    restore_context(frames_top - 1);
    unwind_last();
}
inline void unwind_func_last_return() {
    restore_context(frames_top - 1);
    unwind_last_return();
}
void unwind_any();

// ---- unrolling and raising ----

// The pending code of a non-local exit (0: none).
inline uint32_t pending() { return runtime::thrown_code; }
inline void clear_pending() { runtime::thrown_code = 0; }
// Turns a pending code into the low-level throw, for C++ code that cannot
// hand it on.
inline void raise_pending() {
    if (runtime::thrown_code) runtime::unwind_to_handler();
}

// Pops frames down to the nearest frame of kind (kind bits only), a try/all
// frame or the bottom frame; that frame stays. With keep it becomes the
// current call, else its caller does.
void unroll(uint32_t kind, bool keep);
// Unrolls to kind and makes the innermost call's result the result of the
// frame found, which becomes current with that one cell.
void unroll_keep_result(uint32_t kind);
inline void unroll_loop(bool continue_flag) { unroll(FRAME_LOOP, continue_flag); }

// `break` (has_value: its /return value is in the result slot) and
// `continue`: the nearest loop frame becomes current with the value or unset
// as its result. Returns THROW_BREAK or THROW_CONTINUE, left pending. With no
// loop frame (or a try/all frame first) the stacks are left as they were and
// the throw error break or continue is raised.
uint32_t throw_break(bool has_value, bool continue_flag);
// `return` (return_flag: the value is in the result slot) and `exit`: the
// nearest running function body becomes current with the value or unset as
// its result. The top frame is looked at only with from_top. Returns
// THROW_RETURN or THROW_EXIT, left pending; with no body frame, the throw
// error return.
uint32_t throw_return(bool return_flag, bool from_top);
// `return` of value made by compiled code that pushed neither return's frame
// nor that of the branch holding it (no one could tell them apart): the
// nearest running body from the top frame down becomes current with the
// value, THROW_RETURN left pending. False, nothing done, when no body
// receives it: the call made as any other raises the error.
bool return_in_place(const Cell& value);
// `throw`: the nearest catch frame becomes current holding the thrown value
// and the name cell after it (the throwing call's first two cells). Returns
// code, left pending; with no catch frame, the throw error throw with the value.
uint32_t throw_value(uint32_t code);
// Fills the error's `where` (the nearest call, when still none) and `stack`
// (the call position), unrolls to the nearest try or try/all frame, pops it,
// pushes the error and leaves THROW_ERROR pending for the evaluator to hand
// up on its normal return path, as the exits travel. An error that no try
// receives is reported and ends the process with status -2.
void raise_error(const Cell* error);
// The same, then raised as the low-level throw.
[[noreturn]] void throw_error(const Cell* error);

// internal no-memory raised as pending: a C++ allocation failed in an entry.
void raise_no_memory();

// Runs entry(args...) under the one catch of the entries (call_entry): a
// function of its own, so that the catch stands in a small frame right
// below the entry.
template <class... Args>
[[gnu::noinline]] void call_caught(void (*entry)(Args...), std::type_identity_t<Args>... args) {
    try {
        entry(args...);
    } catch (const Throw& t) {
        if (t.bare || t.code < THROW_THROW || t.code > THROW_ERROR) throw;
        runtime::thrown_code = t.code;
    } catch (const std::bad_alloc&) {
        raise_no_memory();
    } catch (const std::length_error&) {
        raise_no_memory();
    }
}

// Calls f, a native's or action's entry (or other C++ code the evaluator
// calls): a code that leaves it as the low-level throw (an error fired
// there, an exit from C++ code that could not pass it on) goes on as
// pending, the stacks being already its receiver's, and a C++ allocation
// that fails in it is raised as internal no-memory (guard_allocations).
// The catch stands in one small function of its own, right below f: the
// unwinder's cost grows with the frames it walks and with the size of the
// call-site table of the frame that catches, so an exception stops as near
// as it can to where it was raised, and the evaluator hands the code up on
// its normal return path.
template <class F>
[[gnu::always_inline]] inline void call_entry(F&& f) {
    using Body = std::remove_reference_t<F>;
    call_caught<void*>(+[](void* body) { (*static_cast<Body*>(body))(); },
                       const_cast<void*>(static_cast<const void*>(&f)));
}

// ---- backtraces ----

// The frame where the first `throw` of a chain started its search for a
// catch: the where lookup of the next error starts there once, so that a
// throw that no catch takes names the throw's caller. Null when none. The
// code that finally handles a throw (the catch that takes it) sets it back to
// null, or a later error would start its lookup at a frame that has ended.
extern Frame* saved_error_position;

// The nearest real call: the symbol and word context of the first frame not
// named <body> or <anon>, from the saved error position (consumed) or the
// top. symbol 0: none was found (the `<not-found>` word).
struct CallerWord {
    uint32_t symbol;
    Node context;
};
CallerWord get_caller_word();

// Frames named <body> or <anon> never show in backtraces.
inline bool hidden_q(const Frame* f) {
    uint32_t s = f->symbol();
    return s == body_symbol || s == anon_symbol;
}
// From the top frame down to, not including, the bottom frame, the frames
// that backtraces show, newest first.
template <class Visit>
void for_each_call_newest_first(Visit&& visit) {
    for (int32_t i = depth() - 1; i > 0; --i)
        if (!hidden_q(frames_bottom + i)) visit(frames_bottom[i]);
}
// From the bottom frame up to, not including, upper, oldest first. An upper
// bound recorded by an error may lie above frames popped since: they are
// still what the error saw, and the walk never leaves the call stack's storage.
template <class Visit>
void for_each_call_oldest_first(const Frame* upper, Visit&& visit) {
    int32_t n = int32_t(upper - frames_bottom);
    if (n > MAX_FRAMES) n = MAX_FRAMES;
    for (int32_t i = 0; i < n; ++i)
        if (!hidden_q(frames_bottom + i)) visit(frames_bottom[i]);
}
// An error's `stack` field: the current call position, and back.
inline int32_t call_position() { return depth(); }
inline Frame* frame_at_position(int32_t position) { return frames_bottom + position; }

// ---- collector ----

// The data stack cells the collector marks (bottom to top); the two fixed
// series' nodes are marked as nodes only.
struct Roots {
    Node data_node;
    Node call_node;
    Cell* first;
    Cell* end;
};
Roots roots();
// The collector's marking functions, given the address of a node reference
// so that they may rewrite it.
struct FrameMarker {
    void (*context)(Node* ref);      // a context node
    void (*cell_series)(Node* ref);  // a series of cells, marked with them
};
// Walks the frames from the bottom to the top: the naming word's context (a
// cell series in frames named `self`), the function context, and the saved
// values series of a context whose values do not live on the data stack.
void mark_frames(const FrameMarker& marker);

}  // namespace zuv::stack
