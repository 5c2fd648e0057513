// Externals: objects that live outside the series memory (the image
// backend's bitmaps, held by image! and handle! values).
//
// A value refers to its external by index into one table. The collector
// marks the entries that live values name and, after marking, releases every
// unmarked entry through the release callback of its kind. Two lists run
// through the table's entries by index: the free list and the used list
// (new entries go to the head of the used list).
#pragma once

#include <cstdint>

namespace zuv::externals {

constexpr int32_t MAX_KINDS = 20;
constexpr int32_t INITIAL_ENTRIES = 1000;
constexpr uint32_t ENTRY_KIND_MASK = 0xFF;
constexpr uint32_t ENTRY_MARK = 0x80000000;
constexpr uint32_t ENTRY_FREE = 0x40000000;  // the whole flags word of a free entry

using Release = void (*)(void* object);

struct Entry {
    uint32_t flags;  // kind in bits 0-7, collector mark in bit 31; exactly ENTRY_FREE when free
    void* object;    // null when free
    int32_t next;    // next entry of the entry's list, -1 at its end
};

// The kinds table and the entry table, both empty; links every entry into the free list.
void init();
// A new kind (1-based number); 0 when the table of MAX_KINDS kinds is full.
int32_t register_kind(uint32_t tag, Release release);
// Enters object under kind; answers its index. The table doubles when its
// last free entry is taken.
int32_t store(void* object, int32_t kind);
// Frees the entry (releasing its object first when release is set); -1.
// An index that names no used entry changes nothing.
int32_t remove(int32_t index, bool release);
// Sets the entry's mark (and, when object is not null, replaces its object);
// true when it was not marked yet. False for an index that names no used entry.
bool mark(int32_t index, void* object);
// Calls the release callback of the kind in bits 0-7 of flags, when it has one.
void release(uint32_t flags, void* object);
// Stores a new object; the old one, when different, is released through the kind.
void replace_object(int32_t index, void* object);
// Calls fn with the object of every used entry of the kind.
void for_each(int32_t kind, void (*fn)(void* object));
// Collector step: releases and frees every unmarked used entry, clears the others' marks.
void sweep();

// The entry at index, or null when index is outside the table.
const Entry* entry_at(int32_t index);
// Entries in the table (used and free).
int32_t capacity();

}  // namespace zuv::externals
