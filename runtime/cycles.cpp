// Cycle guard: a fixed stack of the nodes that a deep walk is inside.
#include "runtime/cycles.hpp"

#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"

namespace zuv::cycles {

namespace {

// Fixed storage: the stack never grows, so it needs no heap of its own.
uint32_t entries[STACK_SIZE];
int32_t top = 0;  // next free entry

}  // namespace

void push(uint32_t key) {
    entries[top++] = key;
    if (top == STACK_SIZE) {
        top = 0;
        fire(ErrorCategory::internal, "too-deep");
    }
}

void pop() {
    if (top > 0) top--;
}

void drop(int32_t n) { top = n >= top ? 0 : (n > 0 ? top - n : top); }

void reset() { top = 0; }

bool visited_q(uint32_t key) {
    for (int32_t i = 0; i < top; i++)
        if (entries[i] == key) return true;
    return false;
}

void refuse_cycle(uint32_t key) {
    if (!visited_q(key)) return;
    top = 0;
    fire(ErrorCategory::internal, "no-cycle");
}

int32_t depth() { return top; }

void forward_entries(void (*forward)(uint32_t* first, uint32_t* end)) { forward(entries, entries + top); }

bool mold_cycle_marker(const Cell* value, Cell* buffer, int32_t& part, bool marker_flag) {
    if (!visited_q(key_of(value))) return false;
    const char* marker = "...";
    int32_t length = 3;
    if (marker_flag) {
        switch (type_of(value)) {
            case TYPE_BLOCK: case TYPE_HASH: marker = "[...]"; length = 5; break;
            case TYPE_PAREN: marker = "(...)"; length = 5; break;
            case TYPE_MAP: marker = "#[...]"; length = 6; break;
            case TYPE_OBJECT: marker = "make object! [...]"; length = 18; break;
            case TYPE_PORT: marker = "make port! [...]"; length = 16; break;
            case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: break;
            default: marker = ""; length = 0; break;
        }
    }
    string::concatenate_literal(buffer, marker);
    part -= length;
    return true;
}

}  // namespace zuv::cycles
