// What the interpreter's sources share: reading code by (node, index), the
// block that keeps running code alive, the depth guard, typeset bits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/cell.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime.hpp"

namespace zuv::interpreter::detail {

// ---- code by (node, index) ----

inline int32_t tail_of(Node node) { return memory::used_bytes(memory::buffer_of(node)) >> 4; }
// The end of the code as it stands: the smaller of the caller's end and the
// block's current tail.
inline int32_t limit_of(Node node, int32_t end) { return std::min(end, tail_of(node)); }
// A copy of cell i of the series behind node, or false past the tail.
inline bool read_cell(Node node, int32_t i, Cell* out) {
    SeriesBuffer* s = memory::buffer_of(node);
    if (i < 0 || i >= (memory::used_bytes(s) >> 4)) return false;
    *out = memory::cells_head(s)[i];
    return true;
}

// ---- holding running code ----

// A fixed block in the root block whose cells, up to its tail, are the
// blocks and paths being evaluated: the collector keeps them alive even when
// nothing else refers to them any more. Holds nest with the C++ calls that
// make them; leaving a call (normally or by a throw) releases its hold.
extern SeriesBuffer* held;

[[noreturn]] void held_overflow();

class Hold {
public:
    explicit Hold(const Cell& value) : saved_tail_(held->tail) {
        if (held->tail + int32_t(sizeof(Cell)) > held->size) [[unlikely]]
            held_overflow();
        std::memcpy(held->data() + held->tail, &value, sizeof(Cell));
        held->tail += int32_t(sizeof(Cell));
    }
    ~Hold() { held->tail = saved_tail_; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    int32_t saved_tail_;
};

// ---- depth guard ----

// Raised this far above the recorded stack limit, so that the error's own
// unwinding has room.
constexpr uintptr_t STACK_MARGIN = 256 * 1024;

[[noreturn]] void stack_overflow();

inline void check_depth() {
    auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (here < runtime::record.stack_limit + STACK_MARGIN) [[unlikely]]
        stack_overflow();
}

// ---- building typesets (rt_support::typeset_has_q reads them) ----

inline void typeset_add(Cell* ts, uint32_t type) {
    uint8_t bytes[12];
    std::memcpy(bytes, &ts->w1, sizeof bytes);
    bytes[type >> 3] |= uint8_t(128u >> (type & 7));
    std::memcpy(&ts->w1, bytes, sizeof bytes);
}
inline void typeset_union(Cell* ts, const Cell* other) {
    ts->w1 |= other->w1;
    ts->w2 |= other->w2;
    ts->w3 |= other->w3;
}

}  // namespace zuv::interpreter::detail
