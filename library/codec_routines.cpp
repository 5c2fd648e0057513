// The routines of the codec objects and of system/state/GC: the ZUVBIN
// codec's encoder and decoder, and the collector's state.
// Start-up binds each by name (boot-routine); they take and answer cells.
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "lexer/serialize/zuvbin.hpp"
#include "library/answers.hpp"
#include "library/routines.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/fire.hpp"

namespace zuv::library {

namespace {

using routines::Value;

// Shorter ZUVBIN data cannot hold a header and one record.
constexpr int32_t SHORTEST_ZUVBIN = 11;

// encode* data compact?: a new binary! in the compact or the standard layout.
Value zuvbin_encode(const Value* args, int32_t) {
    bool compact = !logic::false_q(args[1].cell);
    Cell out{};
    if (compact) zuvbin::encode_cp(args[0].cell, &out);
    else zuvbin::encode(args[0].cell, &out);
    return answer(stack::push(&out));
}

// decode payload: the values of ZUVBIN data given as bytes, or as a file or
// URL to read them from; one value comes back as itself, more as a block.
Value zuvbin_decode(const Value* args, int32_t) {
    Cell* payload = stack::push(args[0].cell);
    Cell* data = stack::push(payload);
    uint8_t type = type_of(payload);
    if (type == TYPE_FILE || type == TYPE_URL) {
        Cell bytes = *actions::call_read(data, nullptr, nullptr, true, false, false, nullptr);
        *data = bytes;
        stack::top = data + 1;
    }
    if (type_of(data) != TYPE_BINARY) fire(ErrorCategory::script, "invalid-data", payload);
    std::vector<uint8_t> bytes = binary::bytes_of(data);
    if (bytes.size() < size_t(SHORTEST_ZUVBIN)) fire(ErrorCategory::script, "invalid-data", payload);
    Cell* out = block::make_at(stack::push_raw(), 4);
    zuvbin::decode(bytes.data(), bytes.size(), out, true, payload);
    if (block::zs_length_q(out) == 1) *out = *block::zs_head(out);
    return answer(out);
}

// ---- system/state/GC ----

Value gc_active_q(const Value*, int32_t) { return answer_logic(collector::enabled); }

Value gc_series_cycles(const Value*, int32_t) {
    return answer(integer::make_at(cell::begin(stack::push_raw()), int32_t(collector::series_cycles)));
}

Value gc_nodes_cycles(const Value*, int32_t) {
    return answer(integer::make_at(cell::begin(stack::push_raw()), int32_t(collector::nodes_cycles)));
}

}  // namespace

void register_codec_routines() {
    routines::add("zuvbin-encode", zuvbin_encode);
    routines::add("zuvbin-decode", zuvbin_decode);
    routines::add("GC-active?", gc_active_q);
    routines::add("GC-series-cycles", gc_series_cycles);
    routines::add("GC-nodes-cycles", gc_nodes_cycles);
}

}  // namespace zuv::library
