// Calls of language-level functions from C++: the cells such a call gets
// after its frame, and the comparator of sort/compare.
#include "evaluator/callbacks.hpp"

#include "evaluator/compiled_internal.hpp"

#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/memory.hpp"
#include "runtime/words.hpp"

namespace zuv::interpreter {

Node callback_context(const Cell& fn, Node fallback) {
    const Cell* owner = function::more_cell(&fn, function::MORE_OWNER);
    if (owner && type_of(owner) == TYPE_INTEGER && owner->w2) return owner->w2;
    return fallback;
}

int32_t push_callback_cells(const Cell& fn, const Cell* args, int32_t count) {
    int32_t given = 0;
    bool refinements = false;
    // Pushing never allocates: the spec's buffer stays where it is.
    SeriesBuffer* spec = memory::buffer_of(fn.w2);
    const Cell* c = memory::cells_head(spec);
    for (int32_t i = 0, n = memory::length_of(spec); i < n; i++, c++) {
        switch (type_of(c)) {
        case TYPE_REFINEMENT:
            refinements = true;
            logic::make_at(stack::push_raw(), false);
            break;
        case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD:
            if (!refinements && given < count)
                stack::push(&args[given++]);
            else
                none::make_at(stack::push_raw());
            break;
        default: break;
        }
    }
    return given;
}

Cell call_library(const Cell& fn, const Cell& name, const Cell* args, int32_t count) {
    Cell* saved_top = stack::push(&fn);  // keeps the function alive while it runs
    stack::mark_func(&name, fn.w1);
    push_callback_cells(fn, args, count);
    exec_function(&fn, callback_context(fn, name.w1), &name, 0);
    stack::raise_pending();
    Cell result = *stack::arguments;
    stack::unwind_func();
    stack::top = saved_top;
    return result;
}

namespace {

// The comparator of sort/compare: called with the two values under a frame
// named <compare-callback>; its result is copied out. A break, throw, error
// or other exit it leaves pending stays pending, the stacks already its
// receiver's and result untouched: the sort sees it and ends without
// touching the stacks (or turns it into the low-level throw where it cannot).
void call_comparator(const Cell* function, Cell* first, Cell* second, Cell* result) {
    Cell fn = *function;
    Cell* saved_top = stack::push(&fn);  // keeps the comparator alive while it runs
    Cell args[2] = {*first, *second};
    stack::mark_func(&words::tag_compare_callback, fn.w1);
    Cell name = words::tag_compare_callback;
    if (!compiled::call_function(fn, name, args, 2)) {
        push_callback_cells(fn, args, 2);
        exec_function(&fn, callback_context(fn, name.w1), &name, 4);
    }
    if (stack::pending()) return;
    *result = *stack::arguments;
    stack::unwind_func();
    stack::top = saved_top;
}

}  // namespace

void install_comparator() { block::detail::call_comparator = call_comparator; }

}  // namespace zuv::interpreter
