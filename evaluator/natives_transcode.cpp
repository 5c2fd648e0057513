// `transcode`: text to values through the lexer, and the bridge that calls a
// language-level event callback from inside a scan.
#include "evaluator/natives_transcode.hpp"

#include <algorithm>
#include <initializer_list>

#include "evaluator/callbacks.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/words.hpp"

namespace zuv::natives {

namespace {

// Refinements of the spec, in order.
enum Refinement { R_NEXT, R_ONE, R_PRESCAN, R_SCAN, R_PART, R_INTO, R_TRACE };
// Spec positions of the arguments, for expect-arg (refinements count).
constexpr int32_t ARG_SRC = 0, ARG_LENGTH = 6, ARG_DST = 8, ARG_CALLBACK = 10;

constexpr uint8_t UTF8_BOM[3] = {0xEF, 0xBB, 0xBF};

inline bool used(const int32_t* r, Refinement which) { return r[which] != -1; }

void check_type(const Cell* value, std::initializer_list<uint32_t> allowed, int32_t arg_index) {
    for (uint32_t t : allowed)
        if (type_of(value) == t) return;
    rt_support::fire_expect_arg(type_of(value), arg_index);
}

// The units from a series value's head to its tail (never negative).
int32_t rest_length(const Cell* series) {
    SeriesBuffer* s = memory::buffer_of(series->w2);
    return std::max(0, memory::length_of(s) - int32_t(series->w1));
}

// The length the scan covers: the whole rest, or the /part limit (an
// integer, or the distance to a position in the same series type), cut to
// what the source holds and never below 0.
int32_t part_length(const Cell* src, const Cell* limit) {
    int32_t available = rest_length(src);
    if (!limit) return available;
    int64_t length;
    if (type_of(limit) == TYPE_INTEGER) {
        length = int32_t(limit->w2);
    } else {
        if (type_of(limit) != type_of(src)) fire(ErrorCategory::script, "not-same-type");
        length = int64_t(int32_t(limit->w1)) - int64_t(int32_t(src->w1));
    }
    return int32_t(std::clamp<int64_t>(length, 0, available));
}

// A binary! source that starts with a UTF-8 byte-order mark skips it.
void skip_byte_order_mark(Cell* src, int32_t* length) {
    if (*length < 3) return;
    const uint8_t* p = memory::head_of(memory::buffer_of(src->w2)) + int32_t(src->w1);
    if (!std::equal(UTF8_BOM, UTF8_BOM + 3, p)) return;
    src->w1 += 3;
    *length -= 3;
}

// ---- the lexer's event callback ----

// Calls the callback with the event's five arguments under a frame named
// <lexer-callback>. The input argument is copied back afterwards, so that
// the lexer sees a head the callback moved. A break, throw or other exit
// left pending by the callback cannot pass through the scan's C++ frames as
// a code: it continues as the low-level throw.
bool call_lexer_callback(const Cell* callback, Cell* args, int32_t extra_locals) {
    Cell fn = *callback;
    Cell* saved_top = stack::push(&fn);  // keeps the callback alive while it runs
    bool routine = type_of(&fn) == TYPE_ROUTINE;
    int32_t given = 5;
    if (routine) {
        stack::mark_native(&words::tag_lexer_callback);
        for (int32_t i = 0; i < 5; i++) stack::push(&args[i]);
        if (extra_locals > 0) {
            logic::make_at(stack::push_raw(), false);
            for (int32_t i = 1; i < extra_locals; i++) none::make_at(stack::push_raw());
        }
        interpreter::exec_routine(&fn);
    } else {
        stack::mark_func(&words::tag_lexer_callback, fn.w1);
        given = interpreter::push_callback_cells(fn, args, 5);
        Cell name = words::tag_lexer_callback;
        interpreter::exec_function(&fn, interpreter::callback_context(fn, name.w1), &name, 1);
    }
    stack::raise_pending();
    bool answer = !logic::false_q(stack::arguments);
    if (given > 1) args[1] = stack::arguments[1];
    if (routine)
        stack::unwind();
    else
        stack::unwind_func();
    stack::top = saved_top;
    return answer;
}

}  // namespace

void install_lexer_callback() { lexer::callback_hook = call_lexer_callback; }

// transcode src [binary! string!] /next /one /prescan /scan
//           /part length [integer! binary!] /into dst [block!] /trace callback [function!]
void transcode_star(bool check, const int32_t* r) {
    Cell* args = stack::arguments;
    const Cell* limit = used(r, R_PART) ? args + r[R_PART] : nullptr;
    Cell* into = used(r, R_INTO) ? args + r[R_INTO] : nullptr;
    const Cell* callback = used(r, R_TRACE) ? args + r[R_TRACE] : nullptr;
    if (check) {
        check_type(args, {TYPE_BINARY, TYPE_STRING}, ARG_SRC);
        if (limit) check_type(limit, {TYPE_INTEGER, TYPE_BINARY}, ARG_LENGTH);
        if (into) check_type(into, {TYPE_BLOCK}, ARG_DST);
        if (callback) check_type(callback, {TYPE_FUNCTION}, ARG_CALLBACK);
    }

    bool next = used(r, R_NEXT), one = used(r, R_ONE);
    bool prescan = used(r, R_PRESCAN), scan_only = used(r, R_SCAN);
    bool load = !prescan && !scan_only;
    bool next_block = next && !(one && !scan_only);

    Cell src = *args;
    int32_t length = part_length(&src, limit);
    bool binary = type_of(&src) == TYPE_BINARY;
    if (binary) skip_byte_order_mark(&src, &length);

    // The lexer writes into a data stack cell: the stack never moves.
    Cell* result = stack::push_raw();
    cell::set_type(cell::begin(result), TYPE_UNSET);
    int32_t consumed = 0;
    int32_t type;
    if (binary) {
        // scan() copies the bytes before it allocates anything.
        const uint8_t* bytes = memory::head_of(memory::buffer_of(src.w2)) + int32_t(src.w1);
        type = lexer::scan(load ? result : nullptr, bytes, length, next || one || !load, load, load, false, &consumed,
                           callback, &src, into);
    } else {
        type = lexer::scan_string(load ? result : nullptr, &src, length, next || one || !load, load, load, false,
                                  &consumed, callback, into);
    }
    if (stack::pending()) return;  // a syntax error, raised as a status
    if (!load) {
        // The first token's type; error! stands for an invalid one.
        if (type > 0)
            datatype::make_at(result, type);
        else
            none::make_at(result);
    }

    if (next_block) {
        Cell* rest = stack::push(&src);
        rest->w1 += uint32_t(consumed);
        Cell* block = block::make_at(stack::push_raw(), 2);
        block::append_cell(block, result);
        block::append_cell(block, rest);
        stack::set_last(block);
    } else {
        stack::set_last(result);
    }
    stack::keep();
}

}  // namespace zuv::natives
