// Growable arrays: a plain series buffer used as a vector of fixed-width
// elements (1, 2, 4, 8 or 16 bytes, the unit field of the buffer flags) by
// runtime code that needs lists the collector can see and move.
//
// An array is held by its node. Appending may move the buffer: the addresses
// the append functions return are valid only until the next allocation.
// Pick and poke positions are 1-based; search and removal use byte offsets.
// "Pointer" elements are 32-bit ids (nodes, table indexes), never addresses.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::dyn_array {

// A new array with room for count elements of unit bytes (at least 16 bytes).
Node make(int32_t count, int32_t unit);
int32_t get_length(Node array);
void clear(Node array);
// Keeps index - 1 elements (1 empties the array).
void set_tail_index(Node array, int32_t index);
// A new array with a copy of the buffer: flags and content.
Node copy(Node array);
uint32_t get_flags(Node array);

uint8_t* append_byte(Node array, uint8_t byte);
uint8_t pick_byte(Node array, int32_t index);
// source must not lie in series data: the append may collect and move it.
uint8_t* append_bytes(Node array, const uint8_t* source, int32_t n);

uint32_t* append_int(Node array, uint32_t value);
// Byte offset of the first element equal to value, or -1.
int32_t find_int(Node array, uint32_t value);
uint32_t pick_int(Node array, int32_t index);
// Makes room at the 0-based index (doubling the buffer when full) and stores value there.
void insert_int(Node array, uint32_t value, int32_t index);
void poke_int(Node array, int32_t index, uint32_t value);

uint32_t* append_pointer(Node array, uint32_t id);
int32_t find_pointer(Node array, uint32_t id);
uint32_t pick_pointer(Node array, int32_t index);
// Removes the first element equal to id, closing the gap; -1 when absent, else 0.
int32_t remove_pointer(Node array, uint32_t id);
// Removes n bytes at the byte offset, moving the rest down.
void remove_bytes_at(Node array, int32_t offset, int32_t n);

}  // namespace zuv::dyn_array
