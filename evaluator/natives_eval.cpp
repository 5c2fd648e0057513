// The natives that evaluate: `do`, `reduce` and `compose`.
//
// Code is walked by (node, index) and every value being built lies on the
// data stack (which never moves): evaluating an expression may collect, so no
// Cell* into a series is held across one.
#include "evaluator/natives_eval.hpp"

#include <algorithm>
#include <optional>

#include "boot/private_words.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/callbacks.hpp"
#include "evaluator/compiled.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/words.hpp"

namespace zuv::natives {

using interpreter::detail::limit_of;
using interpreter::detail::read_cell;
using interpreter::detail::tail_of;

namespace {

// Spec positions, for expect-arg.
constexpr int32_t DO_POSITION = 5, DO_CALLBACK = 7;
constexpr int32_t REDUCE_OUT = 2;
constexpr int32_t COMPOSE_OUT = 4;

#define ZUV_ANY_BLOCK TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_HASH

// A head index past the tail is moved to the tail.
void clamp_head(Cell* series) {
    int32_t length = memory::length_of(memory::buffer_of(series->w2));
    if (int32_t(series->w1) > length) series->w1 = uint32_t(length);
}

int32_t length_from_head(const Cell* series) {
    int32_t length = memory::length_of(memory::buffer_of(series->w2));
    return std::max(length - std::max(int32_t(series->w1), 0), 0);
}

// The cells of reduce's result: one per expression when the block's
// compiled form has counted them (`reduce [f x - 1 f x - 1]` yields two
// values of eight cells), else one per value, which the result never
// exceeds but a block of calls may well fall short of. A count that proves
// short (the block changed meaning since) only makes the result grow.
int32_t reduce_size(const Cell* block) {
    int32_t length = length_from_head(block);
    if (length > 1 && interpreter::compiled::run_q()) {
        int32_t count = interpreter::compiled::known_expression_count(*block, tail_of(block->w2));
        if (count >= 0 && count < length) return count;
    }
    return length;
}

bool callable_q(uint32_t type) {
    return type == TYPE_FUNCTION || type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP ||
           type == TYPE_ROUTINE;
}

// ---- do ----

enum DoRefinement { DO_EXPAND, DO_ARGS, DO_NEXT, DO_TRACE };

// do/next: the expression at the block's head becomes the result; the word
// gets the block at the position after it.
void do_next(const Cell* position_word) {
    Cell word = *position_word;
    Cell block = *stack::arguments;
    stack::keep();
    Cell* code = stack::push(&block);
    Cell* target = stack::push(&word);
    int32_t after = interpreter::eval_next(code);
    if (stack::pending()) return;
    Cell rest = *code;
    rest.w1 = uint32_t(after);
    word::set(target, &rest);
}

// Evaluates the value in the result slot by its type.
void do_value(const int32_t* r) {
    Cell* value = stack::arguments;
    switch (type_of(value)) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
            clamp_head(value);
            // The language library's preprocessor rewrites the block in place.
            if (r[DO_EXPAND] != -1) {
                Cell block = *value;
                call_system_function("expand-directives", &block, 1);
                *stack::arguments = block;
            }
            if (r[DO_NEXT] >= 0) {
                do_next(stack::arguments + r[DO_NEXT]);
                return;
            }
            interpreter::eval_block(value, true);
            return;
        case TYPE_PATH: {
            // A path done alone has no code after it: a function at its head
            // takes no arguments from anywhere.
            Cell path = *value;
            int32_t tail = tail_of(path.w2);
            interpreter::eval_path(&path, tail, tail, &path, false, false, false);
            return;
        }
        case TYPE_STRING: {
            clamp_head(value);
            Cell* code = cell::begin(stack::push_raw());
            lexer::scan_string(code, value, -1, false, true, true, false, nullptr, nullptr, nullptr);
            if (stack::pending()) return;  // a syntax error, raised as a status
            interpreter::eval_block(code, true);
            return;
        }
        // Scripts are run by the language library's do-file: the file, no
        // trace callback, the /args value.
        case TYPE_FILE: case TYPE_URL: {
            Cell args[3] = {*value, Cell{}, Cell{}};
            none::make_at(&args[1]);
            if (r[DO_ARGS] >= 0) args[2] = stack::arguments[r[DO_ARGS]];
            else none::make_at(&args[2]);
            *stack::arguments = call_system_function("do-file", args, 3);
            return;
        }
        case TYPE_ERROR: {
            Cell error = *value;
            stack::raise_error(&error);
            return;
        }
        default: eval_single(value); return;
    }
}

// The frame below do's own, marked as a function body for a traced
// evaluation, loses the mark again (unless an unroll has popped it).
void clear_caller_body(stack::Frame* marked) {
    if (marked && marked < stack::frames_top) stack::clear_body_flag(marked);
}

// Ends a traced evaluation (the callback gets `end`) and gives the caller's
// frame its own kind back, also when the `end` callback fails.
void finish_trace(stack::Frame* marked) {
    try {
        interpreter::end_trace();
    } catch (const Throw&) {
        clear_caller_body(marked);
        throw;
    }
    clear_caller_body(marked);
}

// do/trace: the callback sees every step of the evaluation. The caller's
// frame is the target of return and exit meanwhile, so that they come back
// through here and tracing ends before they travel on. However the
// evaluation ends (an error too) the callback gets `end`.
void do_traced(const Cell* callback, const int32_t* r) {
    Cell fn = *callback;
    stack::Frame* marked = stack::mark_caller_body();
    try {
        interpreter::begin_trace(&fn);
        do_value(r);
    } catch (const Throw&) {
        finish_trace(marked);
        throw;
    }
    finish_trace(marked);
    uint32_t code = stack::pending();
    if (marked && (code == THROW_RETURN || code == THROW_EXIT)) {
        // The return stopped at the caller's frame: it goes on to the real body.
        stack::clear_pending();
        stack::throw_return(code == THROW_RETURN, true);
    }
}

// ---- compose ----

// Composes the block's values into the target. False when a non-local exit
// is pending.
bool compose_into(const Cell* block, const Target& target, bool deep, bool only) {
    Cell* source = stack::push(block);  // keeps the source alive
    clamp_head(source);
    Node node = source->w2;
    Cell item;
    for (int32_t i = int32_t(source->w1); read_cell(node, i, &item); i++) {
        switch (type_of(&item)) {
            case TYPE_BLOCK: {
                if (!deep) {
                    put_value(target, &item, true);
                    break;
                }
                Cell* inner = block::push_only_star(length_from_head(&item));
                if (!compose_into(&item, Target{inner, true, false}, deep, only)) return false;
                Cell made = item;  // keeps the cell's flags (its new-line marker)
                made.w1 = 0;
                made.w2 = inner->w2;
                made.w3 = 0;
                put_value(target, &made, true);
                stack::top = inner;
                break;
            }
            case TYPE_PAREN: {
                if (length_from_head(&item) == 0) break;  // an empty paren is dropped
                interpreter::eval_block(&item, false);
                if (stack::pending()) return false;
                Cell* result = stack::top - 1;
                uint32_t type = type_of(result);
                if (type == TYPE_BLOCK && !only) put_value(target, result, false);
                else if (type != TYPE_UNSET) put_value(target, result, true);
                stack::pop(1);
                break;
            }
            default: put_value(target, &item, true); break;
        }
    }
    stack::top = source;
    return true;
}

}  // namespace

// ---- shared ----

Cell call_system_function(const char* name, const Cell* args, int32_t count) {
    const Cell* found = private_words::system_value(name);
    if (!found || type_of(found) != TYPE_FUNCTION) fire(ErrorCategory::internal, "not-done");
    Cell fn = *found;
    return interpreter::call_library(fn, word::from_c_string(name), args, count);
}

Target into_target(Cell* out) {
    bool at_tail = int32_t(out->w1) >= memory::length_of(memory::buffer_of(out->w2));
    return Target{out, false, !at_tail};
}

void put_value(const Target& target, const Cell* value, bool only) {
    if (target.direct) {
        if (only || type_of(value) != TYPE_BLOCK) block::append_cell(target.series, value);
        else block::append_block(target.series, value);
        return;
    }
    Cell v = *value;
    if (target.insert) {
        actions::call_insert(target.series, &v, -1, only, 1, false);
    } else {
        Cell series = *target.series;  // append answers the series at its head
        actions::call_insert(&series, &v, -1, only, 1, true);
    }
}

namespace {

// Types whose cell the evaluator places as it stands (a datatype's value is
// itself): everything but words, paths, parens, issues and callables.
bool places_itself_q(uint32_t type) {
    switch (type) {
        case TYPE_PAREN: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_ISSUE: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
        case TYPE_OP: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
        case TYPE_UNSET: return false;
        default: return true;
    }
}

// The expression at position of the cells [0, tail) when it is a single
// value that needs no evaluation step: a cell placed as it stands, or a
// word of a context whose value is such (not a function, an op or unset),
// with no infix operator after it before end (the evaluator's own test: a
// bound word holding an op!). Copies it to out; false for anything else.
// Most blocks given to reduce are made of such values, and this saves the
// evaluator's set-up per value.
[[gnu::always_inline]] inline bool plain_cell_at(const Cell* cells, int32_t tail, int32_t position, int32_t end,
                                                  Cell* out) {
    Cell value = cells[position];
    uint32_t type = type_of(&value);
    if (type == TYPE_WORD) {
        if (value.w1 == 0) return false;
        const Cell* slot = _context::value_slot(value.w1, int32_t(value.w3));
        if (!slot) return false;
        type = type_of(slot);
        // Unset is an error, a function a call, an op an error; any other
        // value, a word or path too, is placed unchanged.
        if (type == TYPE_UNSET || type == TYPE_OP || type == TYPE_NATIVE || type == TYPE_ACTION ||
            type == TYPE_FUNCTION || type == TYPE_ROUTINE)
            return false;
        value = *slot;
    } else if (!places_itself_q(type)) {
        return false;
    }
    if (position + 1 < end && position + 1 < tail) {
        const Cell& after = cells[position + 1];
        if (type_of(&after) == TYPE_WORD && after.w1 != 0) {
            const Cell* slot = _context::value_slot(after.w1, int32_t(after.w3));
            if (slot && type_of(slot) == TYPE_OP) return false;
        }
    }
    *out = value;
    return true;
}

bool plain_value_at(Node node, int32_t position, int32_t end, Cell* out) {
    const SeriesBuffer* b = memory::buffer_of(node);
    const int32_t tail = memory::used_bytes(b) >> 4;
    return position >= 0 && position < tail && plain_cell_at(memory::cells_head(b), tail, position, end, out);
}

// reduce's values from position on that need no evaluation step (a plain
// value, or the value of a quiet expression of the block's form), copied
// straight into a block made for the result (a direct target) while it
// has room: nothing here allocates or runs code, so neither buffer moves
// meanwhile. Answers the position of the first value not taken; *unread
// says whether that value could not be read so (else the target is full or
// not such a block, or an interrupt waits).
int32_t take_plain_values(Node node, int32_t position, int32_t end, const Target& target,
                          const interpreter::compiled::QuietReader* form, bool* unread) {
    *unread = false;
    if (!target.direct || type_of(target.series) == TYPE_HASH) return position;
    SeriesBuffer* t = memory::buffer_of(target.series->w2);
    memory::changing(t);
    const SeriesBuffer* b = memory::buffer_of(node);
    const Cell* cells = memory::cells_head(b);
    const int32_t tail = memory::used_bytes(b) >> 4;
    const int32_t limit = std::min(end, tail);
    while (position < limit && int64_t(t->tail) + int64_t(sizeof(Cell)) <= t->size && !runtime::interrupt_pending) {
        Cell v;
        int32_t next = position + 1;
        if (!(form && form->value_at(position, &v, &next)) && !plain_cell_at(cells, tail, position, end, &v)) {
            *unread = true;
            break;
        }
        cell::clear_new_line_flag(&v);
        *reinterpret_cast<Cell*>(memory::tail_of(t)) = v;
        t->tail += int32_t(sizeof(Cell));
        position = next;
    }
    return position;
}

}  // namespace

bool reduce_into(const Cell* block, const Target& target) {
    Cell* code = stack::push(block);  // keeps the code alive
    clamp_head(code);
    Node node = code->w2;
    int32_t end = tail_of(node);
    stack::mark_native(&words::tag_body);
    // The walker (the reference, and the one that reports trace events)
    // takes every expression when compiled code may not run.
    const bool short_cut = interpreter::compiled::run_q();
    // The block's form is looked for at the first value that is not plain,
    // as the evaluation of that value would; then its quiet expressions
    // are read from it.
    std::optional<interpreter::compiled::QuietReader> form;
    for (int32_t position = int32_t(code->w1); position < limit_of(node, end);) {
        Cell plain;
        int32_t next = position + 1;
        bool read = false;
        if (short_cut && !runtime::interrupt_pending) {
            bool unread;
            int32_t after = take_plain_values(node, position, end, target, form ? &*form : nullptr, &unread);
            if (after == position && unread && !form) {
                form.emplace(*code, end);
                after = take_plain_values(node, position, end, target, &*form, &unread);
            }
            if (after != position) {
                position = after;
                continue;
            }
            read = !unread &&
                   ((form && form->value_at(position, &plain, &next)) || plain_value_at(node, position, end, &plain));
            if (!read && !form) {
                form.emplace(*code, end);
                read = form->value_at(position, &plain, &next);
            }
        }
        if (read) {
            // Held on the stack while the target grows.
            Cell* value = stack::push(&plain);
            cell::clear_new_line_flag(value);
            put_value(target, value, true);
            stack::reset();
            position = next;
            continue;
        }
        position = interpreter::eval_one(code, position, end, false);
        if (stack::pending()) return false;
        cell::clear_new_line_flag(stack::arguments);
        put_value(target, stack::arguments, true);
        stack::reset();  // the next expression starts on an empty frame
    }
    stack::unwind();
    stack::top = code;
    return true;
}

bool eval_single(const Cell* value) {
    Cell* code = block::push_only_star(1);
    block::append_cell(code, value);
    interpreter::eval_one(code, 0, 1, false);
    if (stack::pending()) return false;
    stack::top = code;
    return true;
}

// ---- the natives ----

// do value /expand /args arg /next position [word!] /trace callback [function!]
void do_star(bool check, const int32_t* r) {
    if (check) {
        check_arg(r[DO_NEXT], {TYPE_WORD}, DO_POSITION);
        check_arg(r[DO_TRACE], {TYPE_FUNCTION}, DO_CALLBACK);
    }
    // Inside a traced evaluation (its callback included) a nested trace is
    // not installed: the evaluation runs under the tracing already there.
    if (r[DO_TRACE] >= 0 && !interpreter::trace_run_q) do_traced(stack::arguments + r[DO_TRACE], r);
    else do_value(r);
}

// reduce value /into out [any-block!]
void reduce_star(bool check, const int32_t* r) {
    if (check) check_arg(r[0], {ZUV_ANY_BLOCK}, REDUCE_OUT);
    Cell* into = r[0] >= 0 ? stack::arguments + r[0] : nullptr;
    Cell* value = stack::arguments;
    if (type_of(value) == TYPE_BLOCK) {
        Cell* out = into ? stack::push(into) : block::push_only_star(reduce_size(value));
        Target target = into ? into_target(out) : Target{out, true, false};
        if (!reduce_into(value, target)) return;
        // Inserting answers the position after the values; appending, the series given.
        stack::set_last(into && !target.insert ? into : out);
        return;
    }
    if (callable_q(type_of(value))) return;  // functions are returned as they are
    if (!eval_single(value)) return;
    if (!into) return;
    Cell* result = stack::push(stack::arguments);
    Cell* out = stack::push(into);
    Target target = into_target(out);
    put_value(target, result, true);
    stack::set_last(target.insert ? out : into);
}

// compose value [block!] /deep /only /into out [any-block!]
void compose_star(bool check, const int32_t* r) {
    enum { DEEP, ONLY, INTO };
    if (check) check_arg(r[INTO], {ZUV_ANY_BLOCK}, COMPOSE_OUT);
    Cell* value = stack::arguments;
    if (type_of(value) != TYPE_BLOCK) {
        Cell expected, given;
        datatype::make_at(&expected, TYPE_BLOCK);
        datatype::make_at(&given, type_of(value));
        fire(ErrorCategory::script, "expect-val", &expected, &given);
    }
    Cell* into = r[INTO] >= 0 ? stack::arguments + r[INTO] : nullptr;
    if (into) {
        // The source's values are taken before anything is inserted: the
        // target may be the source itself, which the walk would then read
        // (and grow) without end.
        Cell* values = block::push_only_star(length_from_head(value));
        block::append_block(values, value);
        value = values;
    }
    Cell* out = into ? stack::push(into) : block::push_only_star(length_from_head(value));
    Target target = into ? into_target(out) : Target{out, true, false};
    if (!compose_into(value, target, r[DEEP] != -1, r[ONLY] != -1)) return;
    stack::set_last(into && !target.insert ? into : out);
}

}  // namespace zuv::natives
