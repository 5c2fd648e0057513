// The slot table: a block of cells with a free list threaded through it.
#include "runtime/slots.hpp"

#include "runtime/collector.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/memory.hpp"
#include "runtime/datatypes/block.hpp"

namespace zuv::slots {

Cell table{};
int32_t capacity = INITIAL_CAPACITY;
int32_t free_head = -1;

namespace {

Cell* slot_at(int32_t index) { return memory::internal_cells(memory::buffer_of(table.w2)) + index; }

// A free slot: an integer! linking to the next free slot.
void make_free(Cell* slot, int32_t next) {
    cell::begin(slot)->w2 = uint32_t(next);
    cell::set_type(slot, TYPE_INTEGER);
}

}  // namespace

void init() {
    capacity = INITIAL_CAPACITY;
    collector::add_root(&table);
    block::make_at(&table, capacity);
    init_free(0);
}

void init_free(int32_t first) {
    for (int32_t i = first; i < capacity; i++) make_free(slot_at(i), i + 1 < capacity ? i + 1 : -1);
    free_head = first;
    SeriesBuffer* b = memory::buffer_of(table.w2);
    b->tail = b->head + capacity * int32_t(sizeof(Cell));
}

int32_t alloc(const Cell* value) {
    Cell copy = *value;  // the value may lie in a series that the growth moves
    collector::Root keep(copy);
    if (free_head < 0) {
        int32_t old_capacity = capacity;
        memory::expand_series(table.w2, int64_t(old_capacity) * 2 * int64_t(sizeof(Cell)));
        capacity = old_capacity * 2;
        init_free(old_capacity);
    }
    int32_t index = free_head;
    Cell* slot = slot_at(index);
    free_head = int32_t(slot->w2);
    copy_cell(&copy, slot);
    return index + 1;
}

void free(int32_t number) {
    if (number < 1 || number > capacity) return;
    make_free(slot_at(number - 1), free_head);
    free_head = number - 1;
}

Cell* get(int32_t number) { return number < 1 || number > capacity ? nullptr : slot_at(number - 1); }

}  // namespace zuv::slots
