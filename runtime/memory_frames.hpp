// Frame layouts of the memory manager, for the collector and the memory
// statistics. Ordinary code needs only runtime/memory.hpp.
//
// Every frame comes from one virtual-memory reservation: an 8-byte size word
// (the bytes reserved, a multiple of the page size) followed by the frame.
//
//   node frame    NodeFrame header, then 10,000 slots of one pointer each.
//                 A slot in use holds its buffer's address (0 right after
//                 alloc_node); a free slot holds an odd link word naming the
//                 next free slot, so the two can always be told apart.
//   series frame  SeriesFrame header, then buffers back to back from first()
//                 up to heap, each 20 + size + 4 bytes; the room after heap
//                 up to end is free.
//   big block     BigBlock header, then one buffer of a request of 2 MB or more.
#pragma once

#include <cstdint>

#include "runtime/memory.hpp"

namespace zuv {

struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    int32_t slot_count;        // always NODE_FRAME_SLOTS
    int32_t free_first;        // slot index of the first free slot, -1 when full
    int32_t used;              // slots in use
    uint32_t number;           // frame number: bits 14 and up of its node ids
    uint32_t creation_cycle;   // collector cycle count when the frame was made
    int32_t used_at_last_collection;
    uint32_t stability;        // shifted left per collection, low bit set when used did not change
    uint32_t evacuated;        // nodes moved out: never allocated from, released after the sweep

    SeriesBuffer** slots() { return reinterpret_cast<SeriesBuffer**>(this + 1); }
};
static_assert(sizeof(NodeFrame) % alignof(SeriesBuffer*) == 0, "slots follow the header aligned");

struct SeriesFrame {
    SeriesFrame* next;
    SeriesFrame* prev;
    int64_t size;    // bytes, header included
    uint8_t* heap;   // first free byte
    uint8_t* end;    // one past the frame

    uint8_t* first() { return reinterpret_cast<uint8_t*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) % 8 == 0, "buffers start 8-byte aligned");

struct BigBlock {
    BigBlock* next;
    uint32_t zero;
    int64_t size;    // bytes of the request: the buffer's 20 + size + 4

    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigBlock) % 8 == 0, "the buffer starts 8-byte aligned");

namespace memory {

// Free-slot link words: odd, so that no buffer address looks like one.
constexpr uintptr_t free_link(int32_t next_free) { return (uintptr_t(uint32_t(next_free + 1)) << 1) | 1; }
constexpr int32_t free_link_target(uintptr_t word) { return int32_t(word >> 1) - 1; }
inline bool slot_free_q(const SeriesBuffer* slot) { return (reinterpret_cast<uintptr_t>(slot) & 1) != 0; }

// Gives node n back to its frame's free list. n must be a node in use (its
// frame and slot checked by the caller): the collector's sweep has checked
// that the node still names its dead buffer.
inline void release_slot(Node n) {
    SeriesBuffer** slots = node_slots[n >> NODE_SLOT_BITS];
    NodeFrame* f = reinterpret_cast<NodeFrame*>(slots) - 1;
    int32_t slot = int32_t(n & NODE_SLOT_MASK);
    slots[slot] = reinterpret_cast<SeriesBuffer*>(free_link(f->free_first));
    f->free_first = slot;
    --f->used;
}

// The node frame that holds node n (null for a released or unknown frame number).
NodeFrame* node_frame_of(Node n);
inline Node node_id(const NodeFrame* f, int32_t slot) { return (f->number << NODE_SLOT_BITS) | uint32_t(slot); }

// Frame reservation: size bytes of frame (plus the size word), read-write.
// A refusal of the platform raises internal no-memory (try_alloc_frame answers
// null instead); of a release, internal wrong-mem.
void* alloc_frame(int64_t size);
void* try_alloc_frame(int64_t size);
void free_frame(void* frame);

// A new series frame of the next frame size, linked in address order; with
// may_fail, null when the platform refuses the memory (else no-memory).
SeriesFrame* make_series_frame(bool may_fail = false);
// Unlinks a series frame and releases it.
void unlink_series_frame(SeriesFrame* f);
// Unlinks a node frame and releases it; the last frame becomes active when it was the active one.
void unlink_node_frame(NodeFrame* f);

// Big blocks: reserve one for a buffer of need bytes (20 + size + 4), release one.
SeriesBuffer* alloc_big(int64_t need);
void free_big(SeriesBuffer* buffer);
// Releases every big block whose buffer is not marked, handing its node to
// release_node; clears the mark of every other one.
void sweep_big(void (*release_node)(Node));
// After a sweep: releases evacuated node frames and the empty ones beyond the
// free slots kept for the next allocations, makes the first
// frame with a free slot the active one, and updates the stability histories.
void update_node_frames();

}  // namespace memory
}  // namespace zuv
