#include "evaluator/stack.hpp"

#include <algorithm>
#include <cstring>

#include "evaluator/backtrace.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/fire.hpp"
#include "runtime/runtime.hpp"
#include "runtime/words.hpp"

namespace zuv::stack {

Cell* bottom = nullptr;
Cell* end = nullptr;
Cell* top = nullptr;
Cell* arguments = nullptr;

Frame* frames_bottom = nullptr;
Frame* frames_end = nullptr;
Frame* frames_top = nullptr;

Node data_node = 0;
Node call_node = 0;

uint32_t body_symbol = 0;
uint32_t anon_symbol = 0;
uint32_t self_symbol = 0;

Frame* saved_error_position = nullptr;

namespace {

constexpr int32_t ERROR_ROOM = 64;  // data cells left free above a raised error

// The limit of the data stack while no overflow is being raised; past it
// lie RESERVE_CELLS more, opened only while the stack-overflow error is
// built, so that building it can never overflow in its turn.
[[noreturn]] void fire_with_reserve() {
    Cell* limit = end;
    end = bottom + DATA_CELLS + RESERVE_CELLS;
    try {
        fire(ErrorCategory::internal, "stack-overflow");
    } catch (...) {
        end = limit;
        throw;
    }
}

Cell unset_cell() {
    Cell c;
    cell::begin(&c);
    return c;
}

// The frames examined by a search for the target of a non-local exit, from
// the frame at index `from` downwards: the index of the first frame whose
// header matches, or -1 when a try/all frame or the bottom comes first.
int32_t find_target(int32_t from, uint32_t mask, uint32_t wanted) {
    for (int32_t i = from; i >= 0; --i) {
        const Frame& f = frames_bottom[i];
        if (f.kind() == FRAME_TRY_ALL) return -1;
        if ((f.header & mask) == wanted) return i;
    }
    return -1;
}

// Drops the frames above the target, putting back the values word of every
// function context they saved (innermost first, so the outermost wins), and
// makes the target current: `arguments` and `top` at its own base, the
// result slot holding result.
void make_target_current(int32_t target, const Cell& result) {
    Frame* f = frames_bottom + target;
    Cell* base = base_of(f);
    for (Frame* p = frames_top - 1; p > f; --p)
        if (p->kind() == FRAME_FUNC) restore_context(p);
    frames_top = f + 1;
    arguments = top = base;
    copy_cell(&result, base);
}

}  // namespace

void make_blocks(const Cell* root) {
    data_node = block::make_fixed_in(root, DATA_CELLS + RESERVE_CELLS)->w2;
    call_node = block::make_fixed_in(root, CALL_CELLS)->w2;
}

void init() {
    SeriesBuffer* d = memory::buffer_of(data_node);
    SeriesBuffer* c = memory::buffer_of(call_node);
    std::memset(d->data(), 0, size_t(d->size));
    std::memset(c->data(), 0, size_t(c->size));

    bottom = arguments = top = reinterpret_cast<Cell*>(d->data());
    end = bottom + DATA_CELLS;
    frames_bottom = frames_top = reinterpret_cast<Frame*>(c->data());
    frames_end = frames_bottom + c->size / int32_t(sizeof(Frame));
    saved_error_position = nullptr;

    body_symbol = words::tag_body.w2;
    anon_symbol = words::tag_anon.w2;
    self_symbol = uint32_t(sym::self);
}

// ---- overflow ----

// Neither overflow takes back a cell that a call still holds: the error is
// built in the reserve past the end, above every live cell, and the frame
// that did not fit was never written. The data overflow gives back only the
// cell whose reservation failed (the last before the end, written but not
// live); the frame overflow leaves the data stack as it is.
void overflow_data() {
    --top;
    cycles::reset();
    fire_with_reserve();
}

void overflow_frames() {
    cycles::reset();
    fire_with_reserve();
}

// ---- data stack ----

void keep_error_result() {
    if (top > bottom && type_of(top - 1) == TYPE_ERROR) copy_cell(top - 1, arguments);
    top = arguments + 1;
}

// ---- frame flags and positions ----

Frame* mark_caller_body() {
    if (depth() < 2) return nullptr;
    Frame* f = frames_top - 2;
    if (f->header & FRAME_BODY) return nullptr;
    f->header |= FRAME_BODY;
    return f;
}

bool eval_q(const Frame* position, bool nearest_only) {
    const Frame* f = position ? position : frames_top;
    while (f > frames_bottom) {
        --f;
        if (f->header & FRAME_INTERPRETED) return true;
        if (nearest_only) return false;
    }
    return false;
}

// ---- popping ----

void raise_no_memory() { raise(ErrorCategory::internal, "no-memory"); }

void unwind_any() {
    if (frames_top == frames_bottom) {
        arguments = top = bottom;
        return;
    }
    Frame* f = --frames_top;
    if (f->kind() == FRAME_FUNC) restore_context(f);
    top = arguments;
    arguments = bottom + f->saved_args;
    if (frames_top == frames_bottom) arguments = top = bottom;
}

// ---- unrolling ----

namespace {

// The unroll proper; returns the frame it stopped at, and that frame's own
// base (read before any pointer moves).
struct Found {
    Frame* frame;
    Cell* base;
};

Found unroll_to(uint32_t kind, bool keep) {
    if (frames_top == frames_bottom) return {nullptr, arguments};
    Frame* old_top = frames_top;
    Cell* old_arguments = arguments;
    Frame* f = frames_top;
    do {
        --f;
        if (f->kind() == FRAME_FUNC) restore_context(f);
    } while (f != frames_bottom && f->kind() != kind && f->kind() != FRAME_TRY_ALL);
    frames_top = f + 1;  // the frame found stays

    Cell* own_base = (f + 1 == old_top) ? old_arguments : bottom + f[1].saved_args;
    if (f + 1 == old_top && keep) {
        top = arguments + 1;
    } else if (frames_top == frames_bottom + 1 && !keep) {
        arguments = top = bottom;
    } else {
        top = old_arguments + 1;
        arguments = keep ? own_base : bottom + f->saved_args;
    }
    return {f, own_base};
}

}  // namespace

void unroll(uint32_t kind, bool keep) { unroll_to(kind, keep); }

void unroll_keep_result(uint32_t kind) {
    Cell result = *arguments;
    Found found = unroll_to(kind, false);
    copy_cell(&result, found.base);
    arguments = top = found.base;
}

uint32_t throw_break(bool has_value, bool continue_flag) {
    const char* id = continue_flag ? "continue" : "break";
    int32_t target = find_target(depth() - 2, FRAME_KIND_MASK, FRAME_LOOP);
    if (target < 0) fire(ErrorCategory::throw_, id);
    make_target_current(target, (has_value && !continue_flag) ? *arguments : unset_cell());
    return runtime::thrown_code = continue_flag ? THROW_CONTINUE : THROW_BREAK;
}

uint32_t throw_return(bool return_flag, bool from_top) {
    int32_t target = find_target(depth() - (from_top ? 1 : 2), FRAME_BODY, FRAME_BODY);
    if (target < 0) fire(ErrorCategory::throw_, "return");
    make_target_current(target, return_flag ? *arguments : unset_cell());
    return runtime::thrown_code = return_flag ? THROW_RETURN : THROW_EXIT;
}

bool return_in_place(const Cell& value) {
    int32_t target = find_target(depth() - 1, FRAME_BODY, FRAME_BODY);
    if (target < 0) return false;
    make_target_current(target, value);
    runtime::thrown_code = THROW_RETURN;
    return true;
}

uint32_t throw_value(uint32_t code) {
    Cell value = arguments[0];
    Cell name = arguments + 1 < top ? arguments[1] : unset_cell();
    int32_t from = depth() - 2;
    if (!saved_error_position && from >= 0) saved_error_position = frames_bottom + from;
    int32_t target = find_target(from, FRAME_KIND_MASK, FRAME_CATCH);
    if (target < 0) fire(ErrorCategory::throw_, "throw", &value);
    make_target_current(target, value);
    push_kept();  // the value, already in the base cell
    push(&name);
    return runtime::thrown_code = code;
}

void raise_error(const Cell* error_value) {
    Cell error = *error_value;
    bool real = type_of(&error) == TYPE_ERROR && error.w1 != 0;
    if (frames_top > frames_bottom) {
        // The error's `where` is the nearest call; the lookup also consumes a
        // position saved by a failed throw.
        Cell where = caller_word();
        if (real) {
            error::set_where(&error, &where);
            error::set_stack_position(&error, call_position());
        }
        // The error goes on top of every cell in use when it was raised, so
        // that no C++ caller still unwinding finds one of its cells
        // overwritten; but below the last ERROR_ROOM cells, where a data
        // stack overflow leaves the top, so that its receiver has room to
        // work (the cells between lie above the try frame: they are dropped).
        Cell* remembered = top;
        Found found = unroll_to(FRAME_TRY, false);
        --frames_top;  // the try frame found goes too
        Cell* room = bottom + (DATA_CELLS - ERROR_ROOM);
        top = remembered <= room ? remembered : std::max(room, found.base + 1);
    }
    if (frames_top == frames_bottom && frames_bottom->kind() != FRAME_TRY &&
        frames_bottom->kind() != FRAME_TRY_ALL) {
        set_last(&error);
        error::report_uncaught(&error);
    }
    push(&error);
    runtime::thrown_code = THROW_ERROR;
}

void throw_error(const Cell* error) {
    raise_error(error);
    runtime::unwind_to_handler();
}

// ---- backtraces ----

CallerWord get_caller_word() {
    // A saved position above the current top names frames that have ended.
    int32_t start = depth() - 1;
    if (saved_error_position && saved_error_position - frames_bottom < start)
        start = int32_t(saved_error_position - frames_bottom);
    saved_error_position = nullptr;
    for (int32_t i = start; i >= 0; --i) {
        const Frame& f = frames_bottom[i];
        if (!hidden_q(&f)) return {f.symbol(), f.word_context};
    }
    return {0, 0};
}

// ---- collector ----

Roots roots() { return {data_node, call_node, bottom, top}; }

void mark_frames(const FrameMarker& marker) {
    for (Frame* f = frames_bottom; f < frames_top; ++f) {
        if (f->word_context) {
            if (self_symbol && f->symbol() == self_symbol) marker.cell_series(&f->word_context);
            else marker.context(&f->word_context);
        }
        if (f->func_context) {
            marker.context(&f->func_context);
            if (f->saved_values && !(context_cell(f->func_context)->header & CONTEXT_ON_STACK))
                marker.cell_series(&f->saved_values);
        }
    }
}

}  // namespace zuv::stack
