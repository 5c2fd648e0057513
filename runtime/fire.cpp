#include "runtime/fire.hpp"

#include <cassert>
#include <cstdio>
#include <initializer_list>

#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/throw.hpp"

namespace zuv {

namespace runtime {

PendingError& pending_error() {
    static PendingError record;
    return record;
}

const char* category_name(ErrorCategory c) { return error_catalog::category(c).name; }

bool uncaught_errors_exit = true;

}  // namespace runtime

namespace {

// Nonzero while fire builds an error value: an error raised meanwhile (a
// stack overflow while building the value) is raised as the bare record, so
// that raising can never recurse.
int building = 0;

struct Building {
    Building() { ++building; }
    ~Building() { --building; }
};

// True when a frame on the call stack would receive an error raised now.
bool received_q() {
    for (const stack::Frame* f = stack::frames_bottom; f < stack::frames_top; ++f)
        if (f->kind() == stack::FRAME_TRY || f->kind() == stack::FRAME_TRY_ALL) return true;
    return false;
}

[[noreturn]] void fire_unknown_id(ErrorCategory category, const char* id) {
    std::fprintf(stderr, "*** fire: the error catalog has no id %s/%s\n", runtime::category_name(category), id);
    std::fflush(stderr);
    assert(!"fire was given an id that its category does not have");
    if (!error_catalog::ready_q() || building) {
        runtime::pending_error() = PendingError{ErrorCategory::internal, "invalid-error", 0, {}};
        runtime::throw_bare_error();
    }
    Cell* name = string::load(reinterpret_cast<const uint8_t*>(id), int32_t(__builtin_strlen(id)), 0);
    fire(ErrorCategory::internal, "invalid-error", name);
}

// The error raised by fire and raise: recorded, built and traced, then
// unrolled to its try (raise_error). False when it is a bare error instead
// (see Throw), for the caller to throw.
bool raise_error_record(ErrorCategory category, const char* id, const Cell* arg1, const Cell* arg2,
                        const Cell* arg3) {
    int32_t position = error_catalog::id_position(category, id);
    if (position < 0) fire_unknown_id(category, id);

    PendingError& e = runtime::pending_error();
    e.category = category;
    e.id = error_catalog::id_at(category, position).name;
    e.arg_count = 0;
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        e.args[e.arg_count++] = *a;
    }
    if (!error_catalog::ready_q() || building || !stack::bottom ||
        (!runtime::uncaught_errors_exit && !received_q()))
        return false;

    Cell error;
    {
        Building guard;
        // The catalog's words, by position: the category among the categories,
        // the id after the category's code and type.
        Node errors = error_catalog::errors()->w1;
        Cell category_word = *object::get_word(errors, int32_t(category));
        Node category_ctx = _context::value_slot(errors, int32_t(category))->w1;
        Cell id_word = *object::get_word(category_ctx, position + 2);
        const Cell* args[3] = {};
        for (int i = 0; i < e.arg_count; i++) args[i] = &e.args[i];
        int32_t code = 100 * int32_t(category) + position;
        error = *error::create_with_code(&category_word, &id_word, code, args[0], args[1], args[2]);
    }
    if (interpreter::tracing_q) interpreter::fire_error(&error);
    stack::raise_error(&error);
    return true;
}

}  // namespace

void fire(ErrorCategory category, const char* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    if (!raise_error_record(category, id, arg1, arg2, arg3)) runtime::throw_bare_error();
    runtime::unwind_to_handler();
}

void raise(ErrorCategory category, const char* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    if (!raise_error_record(category, id, arg1, arg2, arg3)) runtime::throw_bare_error();
}

std::nullptr_t raise_with_datatype(const char* id, int32_t type, const Cell* arg2) {
    Cell datatype;
    datatype::make_at(&datatype, type);
    return raised(ErrorCategory::script, id, &datatype, arg2);
}

void fire_with_datatype(const char* id, int32_t type, const Cell* arg2) {
    raise_with_datatype(id, type, arg2);
    runtime::unwind_to_handler();
}

void raise_not_related(const Cell* action, int32_t type) {
    Cell datatype;
    datatype::make_at(&datatype, type);
    raise(ErrorCategory::script, "not-related", action, &datatype);
}

void fire_not_related(const Cell* action, int32_t type) {
    raise_not_related(action, type);
    runtime::unwind_to_handler();
}

}  // namespace zuv
