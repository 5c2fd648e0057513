// Calling action entries and slots from unit tests as the interpreter does:
// a try frame to receive errors, a native frame named by the action's word,
// the arguments pushed on the data stack; plus small value builders.
#pragma once

#include <initializer_list>
#include <string>

#include "evaluator/stack.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

namespace zuv::test {

inline Cell integer_of(int32_t v) {
    Cell c{};
    return *integer::make_at(&c, v);
}
inline Cell float_of(double d) {
    Cell c{};
    return *float_::make_at(&c, d);
}
inline Cell logic_of(bool b) { return Cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0}; }
inline Cell datatype_of(uint32_t type) { return Cell{TYPE_DATATYPE, type, 0, 0}; }
inline Cell word_of(const char* name) { return word::from_c_string(name); }

// A block of the cells; type retypes it (a path or a paren).
inline Cell block_of(std::initializer_list<Cell> values, uint32_t type = TYPE_BLOCK) {
    Cell b{};
    block::make_at(&b, int32_t(values.size()));
    for (const Cell& v : values) block::append_cell(&b, &v);
    return *cell::set_type(&b, type);
}
inline Cell ints(std::initializer_list<int32_t> values) {
    Cell b{};
    block::make_at(&b, int32_t(values.size()));
    for (int32_t v : values) integer::make_in(&b, v);
    return b;
}
inline Cell words_of(std::initializer_list<const char*> names, uint32_t type = TYPE_BLOCK) {
    Cell b{};
    block::make_at(&b, int32_t(names.size()));
    for (const char* n : names) {
        Cell w = word_of(n);
        block::append_cell(&b, &w);
    }
    return *cell::set_type(&b, type);
}
inline Cell string_of(const char* text) {
    Cell s{};
    string::zs_make_at(&s, 16);
    string::concatenate_literal(&s, text);
    return s;
}

// While it lives, the global word `name` holds the test's own value; then
// again what it held before, so that the tests of other suites run later in
// the same process see the built-in function of that name.
class GlobalDefinition {
public:
    GlobalDefinition(const char* name, const Cell& value)
        : symbol_(int32_t(word_of(name).w2)), saved_(*_context::global_value_cell(symbol_)), keep_(saved_) {
        _context::set_global_value(symbol_, &value);
    }
    ~GlobalDefinition() { _context::set_global_value(symbol_, &saved_); }
    GlobalDefinition(const GlobalDefinition&) = delete;
    GlobalDefinition& operator=(const GlobalDefinition&) = delete;

private:
    int32_t symbol_;
    Cell saved_;
    collector::Root keep_;
};

// Gives the global word `name` an action! value of the action number whose
// spec holds the given words ("/x" makes a refinement!), as the boot
// definitions do: errors then name the action's arguments. The definition
// lasts as long as the answer is kept.
[[nodiscard]] inline GlobalDefinition define_action(const char* name, int32_t number,
                                                   std::initializer_list<const char*> spec_words) {
    Cell spec{};
    block::make_at(&spec, int32_t(spec_words.size()));
    for (const char* w : spec_words) {
        Cell c = word_of(w[0] == '/' ? w + 1 : w);
        if (w[0] == '/') cell::set_type(&c, TYPE_REFINEMENT);
        block::append_cell(&spec, &c);
    }
    return GlobalDefinition(name, Cell{TYPE_ACTION, uint32_t(number), spec.w2, 0});
}

// One call: a fresh pair of stacks holding a try frame, a cell standing for
// the callable (as the interpreter keeps it below the frame), the native
// frame named by the word and the arguments.
struct Call {
    explicit Call(const char* name, std::initializer_list<Cell> args = {}) {
        ensure_runtime();
        stack::init();
        runtime::thrown_code = 0;
        stack::mark_try(&words::try_);
        Cell callable{};
        stack::push(&callable);
        Cell w = word_of(name);
        stack::mark_native(&w);
        for (const Cell& a : args) stack::push(&a);
    }
    ~Call() { stack::init(); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    Cell* arg(int32_t i) const { return stack::arguments + i; }
    Cell* result() const { return stack::arguments; }
    // Runs body, answering "category/id" of the error it raised or "".
    template <class Body>
    std::string run(Body&& body) {
        return raised(body);
    }
};

// The pending error's argument i.
inline const Cell& error_arg(int i) { return runtime::pending_error().args[i]; }

// Puts a slot function into a type's row for the life of the guard.
class SlotSwap {
public:
    SlotSwap(uint32_t type, Act action, AnyFn fn)
        : entry_(&datatype::action_table[type][int(action) - 1]), saved_(*entry_) {
        *entry_ = fn;
    }
    ~SlotSwap() { *entry_ = saved_; }
    SlotSwap(const SlotSwap&) = delete;
    SlotSwap& operator=(const SlotSwap&) = delete;

private:
    AnyFn* entry_;
    AnyFn saved_;
};

// Text of a string! from its head.
inline std::string text(const Cell& str) {
    Cell s = str;
    return text_of(&s);
}

}  // namespace zuv::test
