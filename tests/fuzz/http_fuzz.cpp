// libFuzzer target over the header text of HTTP answers (http::parse_headers):
// whatever bytes a server sends, the headers map is made without an error, its
// keys are words, each value a string! or a block! of two strings or more, and
// the map molds. The collector is enabled, as in the program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/program.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/init.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"
#include "services/http.hpp"

using namespace zuv;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "http_fuzz: %s\n", what);
    std::abort();
}

void check_entries(const Cell* map) {
    Cell pairs{TYPE_BLOCK, 0, map->w2, 0};
    int32_t n = block::zs_length_q(&pairs);
    for (int32_t i = 0; i + 1 < n; i += 2) {
        const Cell* key = block::zs_abs_at(&pairs, i);
        const Cell* value = block::zs_abs_at(&pairs, i + 1);
        if (value->header == 0) continue;  // a removed entry
        if (type_of(key) != TYPE_SET_WORD) fail("a key that is not a word");
        if (type_of(value) == TYPE_STRING) continue;
        if (type_of(value) != TYPE_BLOCK || block::zs_length_q(value) < 2) fail("a value of the wrong shape");
        for (int32_t k = 0; k < block::zs_length_q(value); k++)
            if (type_of(block::zs_abs_at(value, k)) != TYPE_STRING) fail("a block value holding a non-string");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    runtime::commit_stack();
    runtime::init();
    collector::enabled = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    Cell* saved_top = stack::top;
    Cell* saved_arguments = stack::arguments;
    int32_t depth = stack::depth();
    stack::mark_try(&words::try_);
    uint32_t thrown = runtime::catch_scope(THROW_ERROR, [&] {
        Cell* map = http::parse_headers(std::string(reinterpret_cast<const char*>(data), size));
        check_entries(map);
        program::mold_text(map);
    });
    if (thrown) fail("an error was raised");
    stack::top = saved_top;
    stack::arguments = saved_arguments;
    stack::set_call_top(stack::frames_bottom + depth);
    return 0;
}
