// libFuzzer target over the ZUVBIN decoder: every input either decodes or
// raises a language error, never anything else; what decodes can be molded
// and encoded again.
//
// The first byte chooses the mode, the rest is the buffer:
//   bit 0  compress everything after the flags byte with the runtime's block
//          compressor and set the compressed flag, so that the records behind
//          the decompressor are reached as well
//   bit 1  mold what was decoded and encode it again in both layouts
// Both layouts come from the flags byte of the buffer itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "boot/program.hpp"
#include "evaluator/stack.hpp"
#include "lexer/serialize/zuvbin.hpp"
#include "runtime/compressor.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/fire.hpp"
#include "runtime/init.hpp"
#include "runtime/process.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"

using namespace zuv;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "zuvbin_fuzz: %s\n", what);
    std::abort();
}

void decode_input(uint8_t mode, const uint8_t* data, size_t size) {
    std::vector<uint8_t> buffer(data, data + size);
    if ((mode & 1) && size >= 8) {
        std::vector<uint8_t> packed = compressor::compress(data + 8, size - 8);
        buffer.resize(8);
        buffer[7] |= zuvbin::FLAG_COMPRESSED;
        buffer.insert(buffer.end(), packed.begin(), packed.end());
    }
    Cell* result = block::make_at(cell::begin(stack::push_raw()), 4);
    zuvbin::decode(buffer.data(), buffer.size(), result, true);
    if (mode & 2) {
        program::mold_text(result);
        Cell* out = stack::push_raw();
        zuvbin::encode_cp(result, cell::begin(out));
        zuvbin::encode(result, cell::begin(out));
    }
}

// The decoder's own errors, a function spec that does not hold, a value
// without a serialized form met when encoding again; or, until every
// datatype is built, the internal not-done of a text form not there yet.
bool expected_error_q(const PendingError& e) {
    return e.category == ErrorCategory::script ||
           (e.category == ErrorCategory::access && !std::strcmp(e.id, "no-codec")) ||
           (e.category == ErrorCategory::internal &&
            (!std::strcmp(e.id, "no-memory") || !std::strcmp(e.id, "not-done")));
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
    uint32_t thrown = runtime::catch_scope(THROW_ERROR, [&] { decode_input(data[0], data + 1, size - 1); });
    if (thrown != 0 && thrown != THROW_ERROR) fail("a throw other than an error left the decoder");
    if (thrown == THROW_ERROR && !expected_error_q(runtime::pending_error())) {
        std::fprintf(stderr, "zuvbin_fuzz: %s/%s raised\n", runtime::category_name(runtime::pending_error().category),
                     runtime::pending_error().id);
        fail("an unexpected error");
    }
    stack::top = saved_top;
    stack::arguments = saved_arguments;
    stack::set_call_top(stack::frames_bottom + depth);
    stack::clear_pending();
    return 0;
}
