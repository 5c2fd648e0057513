// Evaluating the boot texts.
#include "boot/boot_texts.hpp"

#include <cstring>

#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/runtime.hpp"

namespace zuv::boot_texts {

const Text* find(const char* name) {
    for (const Text* t = table; t->name; t++)
        if (std::strcmp(t->name, name) == 0) return t;
    return nullptr;
}

void run(const Text& text) {
    Cell* code = cell::begin(stack::push_raw());
    lexer::scan(code, text.bytes, text.size, false, true, true, false, nullptr, nullptr, nullptr, nullptr);
    interpreter::eval_block(code, false);
    stack::pop(2);  // the result and the code
}

namespace {

// A missing boot text is a fault of the build.
const Text& required(const char* name) {
    const Text* t = find(name);
    if (!t) runtime::quit_with_runtime_error(98, 0);
    return *t;
}

// The first `make`: the make action with a spec of its two arguments, which
// actions.zuv replaces with the documented one.
void bind_first_make() {
    Cell type = word::from_c_string("type");
    Cell spec_word = word::from_c_string("spec");
    Cell* spec = block::push_only_star(2);
    block::append_cell(spec, &type);
    block::append_cell(spec, &spec_word);
    Cell* definition = block::push_only_star(2);
    block::append_cell(definition, spec);
    integer::make_in(definition, 1);
    Cell proto;
    datatype::make_at(&proto, TYPE_ACTION);
    Cell* made = action::make(&proto, definition, TYPE_ACTION);
    _context::set_global_value(symbol::make("make"), made);
    stack::pop(3);
}

}  // namespace

void define_builtins() {
    // The datatype words, as the boot image will bring them.
    for (int32_t t = 1; t <= TYPE_EVENT; t++) {
        Cell d;
        _context::set_global_value(symbol::make(datatype::type_names[t].name), datatype::make_at(&d, t));
    }
    bind_first_make();
    run(required("actions.zuv"));
    run(required("natives.zuv"));
}

void define_base() { run(required("base.zuv")); }

}  // namespace zuv::boot_texts
