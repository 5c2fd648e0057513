// Building values in C++ for tests that need code without the lexer: blocks,
// parens, paths, the word types, integers and strings; molding a value; and
// evaluating a block under a try frame so that an error comes back as its
// "category/id" instead of ending the process.
//
// Values made here are held only by the test's C++ locals: the collector
// stays off in unit tests.
#pragma once

#include <climits>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>

#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/init.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

namespace zuv::test {

// ---- values ----

inline Cell integer_value(int32_t v) {
    Cell c;
    return *integer::make_at(cell::begin(&c), v);
}

inline Cell string_value(const char* text) {
    Cell s;
    string::zs_make_at(cell::begin(&s), 16);
    string::concatenate_literal(&s, text);
    return s;
}

// A word of the given type bound to the global context.
inline Cell word_of(const char* name, uint32_t type = TYPE_WORD) {
    Cell w = word::make_global(symbol::make(name));
    return *cell::set_type(&w, type);
}
inline Cell set_word_of(const char* name) { return word_of(name, TYPE_SET_WORD); }
inline Cell lit_word_of(const char* name) { return word_of(name, TYPE_LIT_WORD); }
inline Cell get_word_of(const char* name) { return word_of(name, TYPE_GET_WORD); }
inline Cell refinement_of(const char* name) { return word_of(name, TYPE_REFINEMENT); }

// A series of cells of the given type (block!, paren! or a path type).
inline Cell cells_of(uint32_t type, std::initializer_list<Cell> values) {
    Cell b;
    block::make_at(cell::begin(&b), int32_t(values.size()));
    for (const Cell& v : values) block::append_cell(&b, &v);
    return *cell::set_type(&b, type);
}
inline Cell block_of(std::initializer_list<Cell> values) { return cells_of(TYPE_BLOCK, values); }
inline Cell paren_of(std::initializer_list<Cell> values) { return cells_of(TYPE_PAREN, values); }
inline Cell path_of(std::initializer_list<Cell> values) { return cells_of(TYPE_PATH, values); }

// ---- the global context ----

inline void set_global(const char* name, const Cell& value) { _context::set_global_value(symbol::make(name), &value); }
inline Cell global_value(const char* name) { return *_context::global_value_cell(symbol::make(name)); }

// Registers again the specs of the built-in natives and actions as the boot
// definitions registered them: a test that made built-ins of its own under
// the boot flag (which gives their slots its specs) puts the built-in specs
// back, for the tests that follow. The built-ins are the values of the first
// global words of each slot: the boot definitions made those words before
// any test made its own.
inline void register_builtin_specs_again() {
    const bool was = runtime::boot_flag;
    runtime::boot_flag = true;
    std::set<std::pair<uint32_t, uint32_t>> done;
    for (int32_t i = 0, n = _context::word_count(_context::global); i < n; i++) {
        const Cell* v = _context::value_slot(_context::global, i);
        uint32_t type = v ? type_of(v) : uint32_t(TYPE_UNSET);
        if ((type != TYPE_NATIVE && type != TYPE_ACTION) || !done.insert({type, v->w1}).second) continue;
        Cell spec{TYPE_BLOCK, 0, v->w2, 0};
        native::builtin_parts_q(type, int32_t(v->w1), &spec);  // under the boot flag: registers spec
    }
    runtime::boot_flag = was;
}

// ---- text ----

inline std::string mold(const Cell& v) {
    Cell value = v;
    Cell* out = string::zs_make_at(cell::begin(stack::push_raw()), 16);
    actions::call_mold(&value, out, false, false, false, nullptr, INT_MAX, 0);
    std::string text = text_of(out);
    stack::pop(1);
    return text;
}

inline std::string form(const Cell& v) {
    Cell value = v;
    Cell* out = string::zs_make_at(cell::begin(stack::push_raw()), 16);
    actions::call_form(&value, out, nullptr, INT_MAX);
    std::string text = text_of(out);
    stack::pop(1);
    return text;
}

// ---- evaluating ----

struct Evaluated {
    std::string error;  // "category/id" of a raised error, else empty
    Cell value{};       // the block's value when no error was raised
};

// Runs body under a try frame (an error that no try receives would end the
// process); answers "category/id" of the error it raised, or "". The stacks
// are as before afterwards. body receives the try frame's first cell.
template <class Body>
std::string guarded(Body&& body) {
    Cell* saved_top = stack::top;
    Cell* saved_arguments = stack::arguments;
    int32_t depth = stack::depth();
    stack::mark_try(&words::try_);
    std::string error = raised([&] { body(); });
    stack::top = saved_top;
    stack::arguments = saved_arguments;
    stack::set_call_top(stack::frames_bottom + depth);
    runtime::thrown_code = 0;
    return error;
}

// Evaluates the block under a try frame.
inline Evaluated evaluate(const Cell& code) {
    Evaluated r;
    r.error = guarded([&] {
        interpreter::eval_block(&code, false);
        stack::raise_pending();  // a C++ caller: an error comes back as the low-level throw
        r.value = *(stack::top - 1);
    });
    return r;
}

// The molded value of the block, or "!category/id" for an error.
inline std::string run(const Cell& code) {
    Evaluated r = evaluate(code);
    return r.error.empty() ? mold(r.value) : "!" + r.error;
}

// Brings the runtime up (the boot definitions bind the datatype, action and
// native words) with the boot flag off, as after start-up.
inline void ensure_evaluator() {
    ensure_runtime();
    runtime::boot_flag = false;
}

}  // namespace zuv::test
