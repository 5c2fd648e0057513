// libFuzzer target over the lexer: every input either loads or raises a
// syntax error, never anything else, and what it loads can be molded.
//
// The first byte chooses the mode, the rest is the text:
//   bit 0  scan a string! made from the text (invalid UTF-8 replaced) instead
//          of the bytes themselves
//   bit 1  one value only
//   bit 2  scan only: classify the first token without loading
//   bit 3  mold (and mold/all) what was loaded
// The collector is enabled, as in the program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/program.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/init.hpp"
#include "runtime/process.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"
#include "runtime/unicode.hpp"

using namespace zuv;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "lexer_fuzz: %s\n", what);
    std::abort();
}

void scan_input(uint8_t mode, const uint8_t* text, int32_t length) {
    bool one_value = mode & 2, load = !(mode & 4);
    Cell* result = none::make_at(stack::push_raw());
    if (mode & 1) {
        std::string valid = unicode::valid_utf8(reinterpret_cast<const char*>(text), size_t(length));
        Cell* str = string::load(reinterpret_cast<const uint8_t*>(valid.data()), int32_t(valid.size()), 0);
        lexer::scan_string(load ? result : nullptr, str, -1, one_value, load, load, false, nullptr, nullptr,
                           nullptr);
    } else {
        lexer::scan(load ? result : nullptr, text, length, one_value, load, load, false, nullptr, nullptr, nullptr,
                    nullptr);
    }
    if (load && (mode & 8)) {
        program::mold_text(result);
        program::mold_text(result, true);
    }
}

// A syntax error; or, until every datatype the lexer loads is built, the
// internal not-done that a loader of a missing datatype raises.
bool expected_error_q(const PendingError& e) {
    return e.category == ErrorCategory::syntax ||
           (e.category == ErrorCategory::internal && std::strcmp(e.id, "not-done") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    runtime::commit_stack();
    runtime::init();
    program::finish_start_up();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 20) return 0;
    Cell* saved_top = stack::top;
    Cell* saved_arguments = stack::arguments;
    int32_t depth = stack::depth();
    stack::mark_try(&words::try_);
    uint32_t thrown = runtime::catch_scope(THROW_ERROR, [&] { scan_input(data[0], data + 1, int32_t(size - 1)); });
    if (thrown != 0 && thrown != THROW_ERROR) fail("a throw other than an error left the lexer");
    if (thrown == THROW_ERROR && !expected_error_q(runtime::pending_error())) {
        std::fprintf(stderr, "lexer_fuzz: %s/%s raised\n", runtime::category_name(runtime::pending_error().category),
                     runtime::pending_error().id);
        fail("an error other than a syntax error");
    }
    if (lexer::chain) fail("a scan stayed linked");
    stack::top = saved_top;
    stack::arguments = saved_arguments;
    stack::set_call_top(stack::frames_bottom + depth);
    stack::clear_pending();
    return 0;
}
