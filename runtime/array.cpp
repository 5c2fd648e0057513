#include "runtime/array.hpp"

#include <cstring>

#include "runtime/memory.hpp"

namespace zuv::dyn_array {

namespace {

SeriesBuffer* buffer(Node array) { return memory::buffer_of(array); }

// Element index (0-based) to its address.
uint8_t* element(Node array, int32_t index0, int32_t unit) {
    return memory::head_of(buffer(array)) + int64_t(index0) * unit;
}

int32_t find_word(Node array, uint32_t value) {
    SeriesBuffer* s = buffer(array);
    const uint8_t* head = memory::head_of(s);
    for (int32_t offset = 0; offset + 4 <= memory::used_bytes(s); offset += 4) {
        uint32_t w;
        std::memcpy(&w, head + offset, 4);
        if (w == value) return offset;
    }
    return -1;
}

uint32_t* append_word(Node array, uint32_t value) {
    uint8_t* p = cell::reserve_tail_bytes(array, 4);
    std::memcpy(p, &value, 4);
    return reinterpret_cast<uint32_t*>(p);
}

uint32_t pick_word(Node array, int32_t index) {
    uint32_t w;
    std::memcpy(&w, element(array, index - 1, 4), 4);
    return w;
}

}  // namespace

Node make(int32_t count, int32_t unit) {
    Node n = memory::alloc_bytes(int64_t(count) * unit);
    SeriesBuffer* s = buffer(n);
    s->flags = (s->flags & ~SERIES_UNIT_MASK) | (uint32_t(unit) & SERIES_UNIT_MASK);
    return n;
}

int32_t get_length(Node array) { return memory::length_of(buffer(array)); }

void clear(Node array) {
    SeriesBuffer* s = buffer(array);
    s->tail = s->head;
}

void set_tail_index(Node array, int32_t index) {
    SeriesBuffer* s = buffer(array);
    s->tail = s->head + (index - 1) * int32_t(memory::unit_of(s));
}

Node copy(Node array) { return memory::copy_series_buffer(array); }

uint32_t get_flags(Node array) { return buffer(array)->flags; }

uint8_t* append_byte(Node array, uint8_t byte) {
    uint8_t* p = cell::reserve_tail_bytes(array, 1);
    *p = byte;
    return p;
}

uint8_t pick_byte(Node array, int32_t index) { return *element(array, index - 1, 1); }

uint8_t* append_bytes(Node array, const uint8_t* source, int32_t n) {
    uint8_t* p = cell::reserve_tail_bytes(array, n);
    if (n > 0) std::memmove(p, source, size_t(n));
    return p;
}

uint32_t* append_int(Node array, uint32_t value) { return append_word(array, value); }
int32_t find_int(Node array, uint32_t value) { return find_word(array, value); }
uint32_t pick_int(Node array, int32_t index) { return pick_word(array, index); }

void insert_int(Node array, uint32_t value, int32_t index) {
    cell::reserve_tail_bytes(array, 4);
    SeriesBuffer* s = buffer(array);
    uint8_t* at = memory::head_of(s) + int64_t(index) * 4;
    uint8_t* old_tail = memory::tail_of(s) - 4;
    std::memmove(at + 4, at, size_t(old_tail - at));
    std::memcpy(at, &value, 4);
}

void poke_int(Node array, int32_t index, uint32_t value) {
    std::memcpy(element(array, index - 1, 4), &value, 4);
}

uint32_t* append_pointer(Node array, uint32_t id) { return append_word(array, id); }
int32_t find_pointer(Node array, uint32_t id) { return find_word(array, id); }
uint32_t pick_pointer(Node array, int32_t index) { return pick_word(array, index); }

int32_t remove_pointer(Node array, uint32_t id) {
    int32_t offset = find_word(array, id);
    if (offset < 0) return -1;
    remove_bytes_at(array, offset, 4);
    return 0;
}

void remove_bytes_at(Node array, int32_t offset, int32_t n) {
    SeriesBuffer* s = buffer(array);
    uint8_t* at = memory::head_of(s) + offset;
    std::memmove(at, at + n, size_t(memory::tail_of(s) - (at + n)));
    s->tail -= n;
}

}  // namespace zuv::dyn_array
