// libFuzzer target over the JSON and CSV decoders, through the interpreter:
// every input either decodes, gives an error! value or raises one of the
// decoders' own errors; what decodes is written again, and the text written
// reads back.
//
// The first byte chooses the mode, the rest is the text (invalid UTF-8
// replaced):
//   bit 0  CSV instead of JSON
//   JSON: bit 1 /ascii, bit 2 /pretty; to-json's text must be JSON again
//   CSV:  bit 1 /trim, bit 2 /with ";", bit 3 /with "<>", bit 4 /quote #"'",
//         bit 5 /header, bit 6 /as-records, bit 7 /flat; lines read without
//         the last four are written by to-csv (same delimiter and quote) and
//         must read back the same
// The collector is enabled, as in the program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "boot/program.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/init.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"

using namespace zuv;

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "codecs_fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

// The program that checks one input held by the word fuzz-input; its value
// is true when every property held.
std::string program_for(uint8_t mode) {
    if (!(mode & 1)) {
        std::string writer = "to-json";
        if (mode & 2) writer += "/ascii";
        if (mode & 4) writer += "/pretty";
        std::string args = (mode & 4) ? " :v \"  \"" : " :v";
        return "v: load-json fuzz-input either error? :v [true] [mold :v not error? load-json " + writer + args +
               "]";
    }
    std::string refinements, options, arguments;
    if (mode & 2) refinements += "/trim";
    if (mode & 12) {
        options += "/with";
        arguments += (mode & 8) ? " \"<>\"" : " \";\"";
    }
    if (mode & 16) {
        options += "/quote";
        arguments += " #\"'\"";
    }
    if (mode & 32) refinements += "/header";
    if (mode & 64) refinements += "/as-records";
    if (mode & 128) refinements += "/flat";
    std::string read = "load-csv" + refinements + options + " fuzz-input" + arguments;
    if (mode & (2 | 32 | 64 | 128)) return "r: " + read + " mold :r true";
    // Read again what to-csv wrote: the same lines, value for value.
    std::string again = "load-csv" + options + " to-csv" + options + " r" + arguments + arguments;
    return "r: " + read + " either error? :r [true] [r == " + again + "]";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    runtime::commit_stack();
    runtime::init();
    program::finish_start_up();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16) return 0;
    Cell* saved_top = stack::top;
    std::string text = unicode::valid_utf8(reinterpret_cast<const char*>(data + 1), size - 1);
    Cell* input = string::load(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), 0);
    _context::set_global_value(symbol::make("fuzz-input"), input);
    std::string code = program_for(data[0]);
    Cell* result = none::make_at(stack::push_raw());
    if (!program::try_do(reinterpret_cast<const uint8_t*>(code.data()), int32_t(code.size()), result)) {
        // The decoders' own raised errors: a lone high surrogate, a CSV
        // text too small for its header line.
        std::string name = program::error_name(result);
        if (name != "script/invalid-data" && name != "user/message") fail("raised", name);
    } else if (type_of(result) != TYPE_LOGIC || !logic::get_value(result)) {
        fail("a property did not hold for", code);
    }
    stack::top = saved_top;
    return 0;
}
