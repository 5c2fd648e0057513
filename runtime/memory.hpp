// Memory manager: nodes, series buffers, frames and big blocks.
//
// All series data (blocks, strings, binaries, context values, hash arrays,
// the stacks) lives in series buffers carved out of large frames of virtual
// memory. Values never hold a buffer's address, they hold a node: a 32-bit id
// of a slot in a node frame, and the slot points at the buffer. The collector
// moves buffers while compacting and only rewrites the node slot.
//
// What may be held across an allocation (the one rule of the collector):
//   - nodes, and positions as (node, index), in registered places or in
//     C++ locals                                      -- always valid (a
//     collection may renumber nodes: it rewrites registered holders and
//     leaves the nodes named on the machine stack as they are)
//   - nodes inside C++ heap memory (a std::vector of cells) -- register them
//   - cells on the data stack, the root block, fixed series -- never move
//   - a raw pointer into a series buffer (SeriesBuffer*, Cell*, uint8_t*)
//     obtained before an allocation, a growth or any evaluation of user
//     code                                              -- NEVER: re-derive it
//     through the node after the call (memory::buffer_of).
//
// Node ids: frame number in bits 14 and up (frames are numbered from 1, so
// id 0 means "no node"), slot index (0..9,999) in bits 0-13.
//
// Buffer layout: a 20-byte header (flags, node back-reference, data size in
// bytes, head and tail as byte offsets into the data area), the data area, and
// 4 spare bytes, so the next buffer of a frame starts at +20 + size + 4.
// Head and tail are offsets, not addresses, so moving a buffer is a memmove.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"

namespace zuv {

struct SeriesBuffer {
    uint32_t flags;
    Node node;       // back-reference; 0 once the buffer is abandoned
    int32_t size;    // bytes in the data area, a multiple of 16
    int32_t head;    // byte offset of the first used element
    int32_t tail;    // byte offset just past the last used element

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this) + sizeof(SeriesBuffer); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this) + sizeof(SeriesBuffer); }
};
static_assert(sizeof(SeriesBuffer) == 20, "the series buffer header is five words");

// Series buffer flags.
constexpr uint32_t SERIES_UNIT_MASK = 0x1F;         // element size: 1, 2, 4 or 16
constexpr uint32_t SERIES_OWNED = 0x20000;          // tracked for reactivity
constexpr uint32_t SERIES_SLOTS_KEPT = 0x40000;     // addresses of its cells are kept (see relocations)
constexpr uint32_t SERIES_COMPLEMENT = 0x80000;     // complemented bitset
constexpr uint32_t SERIES_FIXED = 0x100000;         // outside the frames, never moves
constexpr uint32_t SERIES_BIG = 0x1000000;          // lives in a big block
constexpr uint32_t SERIES_MARK = 0x8000000;         // collector mark
constexpr uint32_t SERIES_MIDDLE_HEAD = 0x10000000; // head placed mid-buffer at allocation
constexpr uint32_t SERIES_ALLOCATED = 0x20000000;   // set on every buffer at allocation
constexpr uint32_t SERIES_CODE = 0x40000000;        // compiled code was made from its cells (see changing())
constexpr uint32_t SERIES_IN_USE = 0x80000000;      // cleared on an abandoned buffer

constexpr int32_t NODE_FRAME_SLOTS = 10000;
constexpr uint32_t NODE_SLOT_BITS = 14;
constexpr uint32_t NODE_SLOT_MASK = (1u << NODE_SLOT_BITS) - 1;
constexpr int32_t SERIES_FRAME_BASE_SIZE = 1 << 20;  // 1 MB
constexpr int32_t SERIES_FRAME_MAX_SIZE = 2 << 20;   // 2 MB; needs this large go to big blocks
constexpr int32_t BUFFER_OVERHEAD = 24;              // 20-byte header + 4 spare bytes
constexpr int32_t FRAME_WORTH_FILLING = 0xCCCC;      // a frame with less free space is passed over
constexpr int64_t MIN_ROOM_AFTER_COLLECTION = SERIES_FRAME_MAX_SIZE;  // see Record::growth_allowance

struct NodeFrame;
struct SeriesFrame;
struct BigBlock;

namespace memory {

// Slot arrays of the node frames by frame number (entry 0 and released frames: null).
// A slot in use holds its buffer's address; a free slot holds an odd link word.
// A fixed table (never reallocated) so that finding a buffer takes one load
// less than through a growing array; its untouched pages cost no memory.
class NodeSlots {
public:
    static constexpr size_t CAPACITY = size_t(1) << (32 - NODE_SLOT_BITS);
    SeriesBuffer**& operator[](size_t i) { return table_[i]; }
    size_t size() const { return size_; }
    void push_back(SeriesBuffer** slots) { table_[size_++] = slots; }
    void assign(size_t n, SeriesBuffer** slots) {
        for (size_t i = 0; i < size_; i++) table_[i] = nullptr;
        for (size_t i = 0; i < n; i++) table_[i] = slots;
        size_ = n;
    }

private:
    SeriesBuffer** table_[CAPACITY];
    size_t size_ = 1;  // entry 0 is never a frame
};
extern NodeSlots node_slots;

// The buffer behind a node. Only valid until the next allocation.
inline SeriesBuffer* buffer_of(Node n) { return node_slots[n >> NODE_SLOT_BITS][n & NODE_SLOT_MASK]; }

// Counts the times a buffer whose cells' addresses are kept may have moved:
// every growth of a series marked SERIES_SLOTS_KEPT and every collection. A
// Cell* kept from a buffer stays valid while the count stays the same, when
// the buffer was marked as the address was taken (the evaluator keeps the
// slots of words so, in the values of contexts). The growth of any other
// series (a block being filled, a string appended to) leaves the count
// alone, and with it every slot kept.
extern uint64_t relocations;

// Marks the buffer of node n as one whose cells' addresses are kept.
inline void keep_slots(Node n) { buffer_of(n)->flags |= SERIES_SLOTS_KEPT; }

inline uint32_t unit_of(const SeriesBuffer* s) { return s->flags & SERIES_UNIT_MASK; }
inline uint8_t* head_of(SeriesBuffer* s) { return s->data() + s->head; }
inline const uint8_t* head_of(const SeriesBuffer* s) { return s->data() + s->head; }
inline uint8_t* tail_of(SeriesBuffer* s) { return s->data() + s->tail; }
inline uint8_t* end_of(SeriesBuffer* s) { return s->data() + s->size; }

// ---- the cells of a series: read freely, changed through one door ----
//
// The evaluator compiles blocks (and the paths and parens in them) it runs
// again and again, and marks the series it compiled with SERIES_CODE. A
// compiled form stays true only while its cells stay as they were: every
// change of a cell series that a value can reach (a cell's type, payload or
// binding, an insertion, a removal, a new tail) goes through
// cells_for_write(), or calls changing() first when it edits the series'
// bytes or tail without a Cell*. cells_head() and cells_tail() only read
// (their cells are const), so the compiler finds every writer. The look is
// one flag test; a series with compiled code gives it up on its first
// change (drop_code), and the flag comes back only when code is made again.
//
// internal_cells() is for series that no value of the language reaches and
// that are never compiled: a context's cells and values, word tables, the
// stacks, the slots and tables of the runtime.
inline const Cell* cells_head(const SeriesBuffer* s) { return reinterpret_cast<const Cell*>(head_of(s)); }
inline const Cell* cells_tail(const SeriesBuffer* s) { return reinterpret_cast<const Cell*>(s->data() + s->tail); }
// Called with the node of a series whose compiled code must go (its cells
// change, or the node is freed; the flag is already cleared), or with 0 when
// all compiled code must go (the collector renumbered nodes). Null: none.
extern void (*drop_code_hook)(Node n);
void drop_code(SeriesBuffer* s);
inline void changing(SeriesBuffer* s) {
    if (s->flags & SERIES_CODE) [[unlikely]]
        drop_code(s);
}
inline Cell* cells_for_write(SeriesBuffer* s) {
    changing(s);
    return reinterpret_cast<Cell*>(head_of(s));
}
inline Cell* internal_cells(SeriesBuffer* s) { return reinterpret_cast<Cell*>(head_of(s)); }
inline int32_t used_bytes(const SeriesBuffer* s) { return s->tail - s->head; }
// Elements from head to tail.
// Units are powers of two: the length is a shift, not a division.
inline int32_t length_of(const SeriesBuffer* s) {
    return (s->tail - s->head) >> __builtin_ctz(s->flags & SERIES_UNIT_MASK);
}

// The process-wide memory record.
struct Record {
    int64_t reserved = 0;  // bytes reserved for frames of all kinds
    NodeFrame* node_first = nullptr;
    NodeFrame* node_last = nullptr;
    NodeFrame* node_active = nullptr;
    SeriesFrame* series_first = nullptr;  // ascending address order
    SeriesFrame* series_active = nullptr;
    SeriesFrame* series_last = nullptr;
    int32_t frame_base_size = SERIES_FRAME_BASE_SIZE;
    int32_t frame_next_size = SERIES_FRAME_BASE_SIZE;
    int32_t frame_max_size = SERIES_FRAME_MAX_SIZE;
    BigBlock* big_first = nullptr;
    // The heap's growth rule: after a collection the series frames keep free
    // room at least equal to the data that survived it (and at least
    // MIN_ROOM_AFTER_COLLECTION), so that the next collection comes after as
    // many bytes of allocation as there are live bytes. The collector keeps
    // emptied frames towards that room; what they do not cover is this
    // allowance of new frames, taken before collecting again. The heap stays
    // within about twice the live data, and a program whose live data grows
    // collects at each doubling rather than at each new frame.
    int64_t growth_allowance = 0;
    // Nodes made since the last collection: the emptied node frames kept
    // after a collection give room for about as many again.
    int64_t nodes_made = 0;
};
extern Record record;

void init();
// Counts the starts of the memory manager (init): node ids, symbols and
// indexes kept by C++ code from an earlier start name nothing now.
extern uint32_t starts;
Node alloc_node();
void free_node(Node n);

// count x unit bytes rounded up to 16; offset in bytes, or -1 for the middle.
// A size above INT32_MAX bytes raises internal no-memory.
SeriesBuffer* alloc_buffer(int64_t count, int32_t unit, int32_t offset);
Node alloc_series(int64_t count, int32_t unit, int32_t offset);
Node alloc_fixed_series(int64_t count, int32_t unit, int32_t offset);
Node alloc_cells(int64_t n);
Node alloc_unset_cells(int64_t n);
Node alloc_bytes(int64_t n);                      // 0 allocates 16 bytes
Node alloc_codepoints(int64_t n, int32_t unit);   // 0 allocates 16 bytes' worth
Node alloc_filled_bytes(int64_t n, uint8_t byte);
void set_series_flags(Node n, uint32_t bits);

// Moves the series to a larger buffer (new_size 0: twice the size) without
// copying content; the old buffer loses its node and in-use bit.
SeriesBuffer* grow_series_buffer(Node n, int64_t new_size);
// Grows, then copies the old data area from the head.
SeriesBuffer* expand_series(Node n, int64_t new_size);
SeriesBuffer* expand_series_filled(Node n, int64_t new_size, uint8_t byte);
// A new byte series with the same size, flags and used length.
Node copy_series_buffer(Node n);
void fill_bytes(uint8_t* start, uint8_t* end, uint8_t byte);

void new_node_frame();
void new_series_frame();
void release_all();

}  // namespace memory

namespace cell {

// Allocates a cell at the tail of a cell series (doubling it when full) and
// returns it with header unset!. The buffer may move: re-derive pointers.
// In line: most blocks are built by appending to a buffer with room.
Cell* alloc_tail_cell_grown(Node n);  // the series full: grows it first
inline Cell* alloc_tail_cell(Node n) {
    SeriesBuffer* b = memory::buffer_of(n);
    if (int64_t(b->tail) + int64_t(sizeof(Cell)) > b->size) [[unlikely]]
        return alloc_tail_cell_grown(n);
    memory::changing(b);
    auto* c = reinterpret_cast<Cell*>(memory::tail_of(b));
    c->header = TYPE_UNSET;
    b->tail += int32_t(sizeof(Cell));
    return c;
}
// The same on the series behind a block value's node (word 2).
Cell* append_new_cell(const Cell* block);
// Advances the tail by n bytes (growing to 2n when n is larger than the
// size, else doubling) and returns the old tail.
uint8_t* reserve_tail_bytes(Node node, int32_t n);
// A new series holding count units from unit offset; the copy drops the owned flag.
Node copy_part(Node n, int32_t offset, int32_t count);

}  // namespace cell

}  // namespace zuv
