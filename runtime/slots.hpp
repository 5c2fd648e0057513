// The slot table: values held by small 1-based integers.
//
// Code outside the value model can keep a stable integer reference to a
// value that the collector keeps alive: the table is a block! held by a
// registered root, so every stored value is marked. Allocation and release
// are constant time through a free list threaded through the free slots: a
// free slot is an integer! cell whose word 2 is the 0-based index of the next
// free slot (-1 for the last).
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::slots {

constexpr int32_t INITIAL_CAPACITY = 100;

extern Cell table;         // the block! of slots
extern int32_t capacity;   // slots in the block
extern int32_t free_head;  // 0-based index of the first free slot, -1 when none

// Makes the table (start-up).
void init();
// Chains slots first .. capacity - 1 as free slots in increasing order, makes
// first the free-list head and sets the block's tail at the capacity.
void init_free(int32_t first);
// Stores a copy of value in the first free slot; answers its 1-based number.
// A full table first doubles its capacity.
int32_t alloc(const Cell* value);
// Frees slot number (1-based); 0 and numbers outside the table do nothing.
void free(int32_t number);
// The slot's cell (valid until the next allocation), or null outside the table.
Cell* get(int32_t number);

}  // namespace zuv::slots
