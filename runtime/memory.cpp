// Memory manager: node frames, series frames, big blocks, and the allocation,
// growth and copy of series buffers. Layouts are drawn in memory_frames.hpp.
//
// Sizes are computed in 64 bits and checked before anything is reserved: a
// data area must fit the 32-bit size field, so a request above INT32_MAX bytes
// (after rounding to 16) is refused with internal no-memory instead of
// wrapping to a small buffer that the caller would then overrun.
#include "runtime/memory.hpp"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>

#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory_frames.hpp"
#include "runtime/os.hpp"
#include "runtime/runtime.hpp"
#include "runtime/throw.hpp"

namespace zuv::memory {

NodeSlots node_slots;
Record record;

namespace {

constexpr int64_t FRAME_SIZE_WORD = 8;  // bytes before each frame holding its reservation size
constexpr int64_t PAGE = 4096;
constexpr uint32_t MAX_NODE_FRAME_NUMBER = UINT32_MAX >> NODE_SLOT_BITS;

// count x unit bytes rounded up to 16, or no-memory when that does not fit a
// buffer's 32-bit size.
int32_t data_size(int64_t count, int64_t unit) {
    int64_t bytes;
    if (count < 0 || unit <= 0 || __builtin_mul_overflow(count, unit, &bytes) || bytes > INT32_MAX) fire_no_memory();
    int64_t size = runtime::round_up(bytes, 16);
    if (size > INT32_MAX) fire_no_memory();
    return int32_t(size);
}

// Fills in a fresh buffer header; offset -1 places head and tail mid-buffer.
void init_buffer(SeriesBuffer* b, int32_t size, uint32_t flags, int32_t offset) {
    assert(offset >= -1 && offset <= size);
    flags |= SERIES_IN_USE | SERIES_ALLOCATED;
    if (offset == -1) {
        offset = size >> 1;
        flags |= SERIES_MIDDLE_HEAD;
    }
    b->flags = flags;
    b->node = 0;
    b->size = size;
    b->head = b->tail = offset;
}

void point_node(Node n, SeriesBuffer* b) {
    node_slots[n >> NODE_SLOT_BITS][n & NODE_SLOT_MASK] = b;
    b->node = n;
}

// A buffer from the tracked heap: never moved by the collector.
SeriesBuffer* alloc_fixed_buffer(int32_t size, uint32_t unit, int32_t offset) {
    auto* b = static_cast<SeriesBuffer*>(runtime::allocate_memory(sizeof(SeriesBuffer) + size_t(size) + 4));
    init_buffer(b, size, unit | SERIES_FIXED, offset);
    return b;
}

NodeFrame* make_node_frame() {
    uint32_t number = 1;
    while (number < node_slots.size() && node_slots[number]) ++number;
    if (number > MAX_NODE_FRAME_NUMBER) fire_no_memory();

    auto* f = static_cast<NodeFrame*>(alloc_frame(int64_t(sizeof(NodeFrame)) + NODE_FRAME_SLOTS * int64_t(sizeof(SeriesBuffer*))));
    f->next = nullptr;
    f->prev = record.node_last;
    f->slot_count = NODE_FRAME_SLOTS;
    f->free_first = 0;
    f->used = 0;
    f->number = number;
    f->creation_cycle = 0;
    f->used_at_last_collection = 0;
    f->stability = 0;
    f->evacuated = 0;
    SeriesBuffer** slots = f->slots();
    for (int32_t i = 0; i < NODE_FRAME_SLOTS; ++i)
        slots[i] = reinterpret_cast<SeriesBuffer*>(free_link(i + 1 < NODE_FRAME_SLOTS ? i + 1 : -1));

    if (number == node_slots.size()) node_slots.push_back(slots);
    else node_slots[number] = slots;
    if (record.node_last) record.node_last->next = f;
    else record.node_first = f;
    record.node_last = f;
    return f;
}

bool has_room(const SeriesFrame* f, int64_t need) { return f->end - f->heap > need; }

// The first free slot of node frame f (which has one), now in use.
inline Node take_slot(NodeFrame* f) {
    SeriesBuffer** slots = f->slots();
    int32_t slot = f->free_first;
    f->free_first = free_link_target(reinterpret_cast<uintptr_t>(slots[slot]));
    slots[slot] = nullptr;
    ++f->used;
    ++record.nodes_made;
    return node_id(f, slot);
}

// Counts up to this many units take the short way of alloc_series.
constexpr int64_t SMALL_COUNT = 1 << 16;

SeriesFrame* first_frame_with_room(int64_t need) {
    for (SeriesFrame* f = record.series_first; f; f = f->next)
        if (has_room(f, need)) return f;
    return nullptr;
}

// A new series frame that takes need bytes, counted against the growth
// allowance; with may_fail, null when the system gives no more memory.
// A frame taken on the allowance is filled before the next collection, so
// its pages are backed at once: one call instead of a fault per page.
SeriesFrame* grow_heap(int64_t need, bool may_fail) {
    if (need >= record.frame_next_size) record.frame_next_size = record.frame_max_size;
    bool on_allowance = record.growth_allowance > 0;
    SeriesFrame* f = make_series_frame(may_fail);
    if (!f) return nullptr;
    record.growth_allowance -= f->end - f->first();
    if (on_allowance && collector::enabled) platform::prefault(f->first(), size_t(f->end - f->first()));
    return f;
}

// The series frame that receives a buffer of need bytes (need < the maximum
// frame size). Allocation moves on to a frame worth filling: the tails of
// nearly full frames are passed over, else each of them would take a few
// buffers in turn. With none left the heap grows while the allowance lasts,
// and only then collects. Memory the system refuses (a limit on the address
// space) is looked for by a collection first, and then in any frame's tail,
// before the allocation fails.
SeriesFrame* frame_for(int64_t need) {
    SeriesFrame* f = record.series_active;
    if (f && has_room(f, need)) return f;
    int64_t worth = std::max<int64_t>(need, FRAME_WORTH_FILLING);
    f = first_frame_with_room(worth);
    if (!f && !collector::enabled) f = grow_heap(need, false);
    if (!f && record.growth_allowance > 0) f = grow_heap(need, true);
    if (!f) {
        collector::collect();
        f = first_frame_with_room(worth);
        if (!f) f = grow_heap(need, true);
        if (!f) f = first_frame_with_room(need);
        if (!f) fire_no_memory();
    }
    record.series_active = f;
    return f;
}

// Moves the series of node n to a new buffer of new_size bytes (0: twice the
// size) and hands back the old buffer too, which keeps its content until the
// next allocation.
SeriesBuffer* grow(Node n, int64_t new_size, SeriesBuffer** old_out) {
    SeriesBuffer* old = buffer_of(n);
    if (old->flags & SERIES_SLOTS_KEPT) ++relocations;
    if (new_size == 0) new_size = int64_t(old->size) * 2;
    if (new_size <= 0) fire_no_memory();

    SeriesBuffer* b;
    if (old->flags & SERIES_FIXED) {
        // A fixed series (root block, stacks) stays outside the frames, so
        // that the collector never moves it.
        b = alloc_fixed_buffer(data_size(new_size, 1), 1, 0);
    } else {
        b = alloc_buffer(new_size, 1, 0);  // may collect and move the old buffer
        old = buffer_of(n);
    }
    int32_t used = std::clamp(used_bytes(old), 0, b->size);
    b->flags = (old->flags & ~SERIES_BIG) | (b->flags & SERIES_BIG);
    b->head = 0;
    b->tail = used;
    point_node(n, b);
    old->node = 0;
    old->flags &= ~SERIES_IN_USE;
    *old_out = old;
    return b;
}

// Copies the old data area from its head to the new head, never past either end.
void copy_data(SeriesBuffer* from, SeriesBuffer* to) {
    int64_t bytes = std::min<int64_t>(int64_t(from->size) - from->head, to->size);
    if (bytes > 0) std::memcpy(to->data() + to->head, from->data() + from->head, size_t(bytes));
}

}  // namespace

// ---- frames ----

void* try_alloc_frame(int64_t size) {
    int64_t total = runtime::round_up(size + FRAME_SIZE_WORD, PAGE);
    void* base = nullptr;
    uint32_t code = runtime::catch_scope(THROW_MEMORY_LEVEL, [&] { base = platform::virtual_alloc(size_t(total)); });
    if (code != 0 || !base) {
        runtime::thrown_code = 0;
        return nullptr;
    }
    *static_cast<int64_t*>(base) = total;
    record.reserved += total;
    return static_cast<uint8_t*>(base) + FRAME_SIZE_WORD;
}

void* alloc_frame(int64_t size) {
    void* frame = try_alloc_frame(size);
    if (!frame) fire_no_memory();
    return frame;
}

void free_frame(void* frame) {
    uint8_t* base = static_cast<uint8_t*>(frame) - FRAME_SIZE_WORD;
    int64_t total = *reinterpret_cast<int64_t*>(base);
    record.reserved -= total;
    uint32_t code = runtime::catch_scope(THROW_MEMORY_LEVEL, [&] { platform::virtual_free(base, size_t(total)); });
    if (code != 0) {
        runtime::thrown_code = 0;
        fire(ErrorCategory::internal, "wrong-mem");
    }
}

uint32_t starts = 0;

void init() {
    record = Record{};
    node_slots.assign(1, nullptr);
    ++starts;
}

void new_node_frame() { record.node_active = make_node_frame(); }

NodeFrame* node_frame_of(Node n) {
    uint32_t number = n >> NODE_SLOT_BITS;
    if (number == 0 || number >= node_slots.size() || !node_slots[number]) return nullptr;
    return reinterpret_cast<NodeFrame*>(node_slots[number]) - 1;
}

void unlink_node_frame(NodeFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else record.node_first = f->next;
    if (f->next) f->next->prev = f->prev;
    else record.node_last = f->prev;
    if (record.node_active == f) record.node_active = record.node_last;
    node_slots[f->number] = nullptr;
    free_frame(f);
}

SeriesFrame* make_series_frame(bool may_fail) {
    int64_t size = record.frame_next_size;
    int64_t bytes = int64_t(sizeof(SeriesFrame)) + size;
    auto* f = static_cast<SeriesFrame*>(may_fail ? try_alloc_frame(bytes) : alloc_frame(bytes));
    if (!f) return nullptr;
    if (size < record.frame_max_size) record.frame_next_size = int32_t(std::min<int64_t>(size * 2, record.frame_max_size));
    f->size = int64_t(sizeof(SeriesFrame)) + size;
    f->heap = f->first();
    f->end = f->first() + size;

    // Keep the list in ascending address order.
    if (!record.series_first) {
        f->next = f->prev = nullptr;
        record.series_first = record.series_last = record.series_active = f;
    } else if (f < record.series_first) {
        f->prev = nullptr;
        f->next = record.series_first;
        record.series_first->prev = f;
        record.series_first = f;
    } else {
        SeriesFrame* p = record.series_last;
        while (p > f) p = p->prev;  // stops at the first frame, which lies below f
        f->prev = p;
        f->next = p->next;
        if (p->next) p->next->prev = f;
        else record.series_last = record.series_active = f;
        p->next = f;
    }
    return f;
}

void new_series_frame() { make_series_frame(); }

void unlink_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else record.series_first = f->next;
    if (f->next) f->next->prev = f->prev;
    else record.series_last = f->prev;
    if (record.series_active == f) record.series_active = record.series_last;
    free_frame(f);
}

// ---- big blocks ----

SeriesBuffer* alloc_big(int64_t need) {
    auto* block = static_cast<BigBlock*>(alloc_frame(int64_t(sizeof(BigBlock)) + need));
    block->next = nullptr;
    block->zero = 0;
    block->size = need;
    BigBlock** link = &record.big_first;
    while (*link) link = &(*link)->next;
    *link = block;
    return block->buffer();
}

void free_big(SeriesBuffer* buffer) {
    BigBlock* block = reinterpret_cast<BigBlock*>(buffer) - 1;
    for (BigBlock** link = &record.big_first; *link; link = &(*link)->next) {
        if (*link == block) {
            *link = block->next;
            free_frame(block);
            return;
        }
    }
    assert(!"free_big: not a big block");
}

void sweep_big(void (*release_node)(Node)) {
    BigBlock** link = &record.big_first;
    while (BigBlock* block = *link) {
        SeriesBuffer* b = block->buffer();
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            link = &block->next;
            continue;
        }
        if (b->node) release_node(b->node);
        *link = block->next;
        free_frame(block);
    }
}

void update_node_frames() {
    // Emptied frames are kept while the free slots are fewer than the nodes in
    // use or the nodes made since the last collection (at least one frame's
    // worth), and one frame more, as the series frames keep free room: a
    // program that makes and drops many small series would otherwise map,
    // fill in and release node frames at every collection.
    int64_t used = 0, free = 0;
    for (NodeFrame* f = record.node_first; f; f = f->next) {
        if (f->evacuated || f->used == 0) continue;
        used += f->used;
        free += NODE_FRAME_SLOTS - f->used;
    }
    int64_t wanted = std::max<int64_t>({used, record.nodes_made, NODE_FRAME_SLOTS});
    record.nodes_made = 0;
    for (NodeFrame* f = record.node_first; f;) {
        NodeFrame* next = f->next;
        if (f->evacuated) unlink_node_frame(f);
        else if (f->used == 0 && free >= wanted + NODE_FRAME_SLOTS) unlink_node_frame(f);
        else if (f->used == 0) free += NODE_FRAME_SLOTS;
        f = next;
    }
    record.node_active = nullptr;
    for (NodeFrame* f = record.node_first; f; f = f->next) {
        if (!record.node_active && f->free_first >= 0) record.node_active = f;
        f->stability = (f->stability << 1) | (f->used == f->used_at_last_collection ? 1u : 0u);
        f->used_at_last_collection = f->used;
    }
}

// ---- nodes ----

Node alloc_node() {
    NodeFrame* f = record.node_active;
    if (!f || f->evacuated || f->free_first < 0) {
        f = record.node_first;
        while (f && (f->evacuated || f->free_first < 0)) f = f->next;
        if (!f) f = make_node_frame();
        record.node_active = f;
    }
    return take_slot(f);
}

void (*drop_code_hook)(Node n) = nullptr;
uint64_t relocations = 0;

void drop_code(SeriesBuffer* s) {
    s->flags &= ~SERIES_CODE;
    if (drop_code_hook && s->node) drop_code_hook(s->node);
}

void free_node(Node n) {
    NodeFrame* f = node_frame_of(n);
    uint32_t slot = n & NODE_SLOT_MASK;
    if (!f || slot >= uint32_t(f->slot_count) || slot_free_q(f->slots()[slot])) {
        assert(!"free_node: not a node in use");
        return;
    }
    release_slot(n);
}

// ---- buffers ----

SeriesBuffer* alloc_buffer(int64_t count, int32_t unit, int32_t offset) {
    int32_t size = data_size(count, unit);
    collector::stress_point();  // the GC-stress build collects and moves everything here
    int64_t need = int64_t(size) + BUFFER_OVERHEAD;
    uint8_t* place;
    uint32_t big = 0;
    if (need >= record.frame_max_size) {
        collector::collect_if_enabled();
        place = reinterpret_cast<uint8_t*>(alloc_big(need));
        big = SERIES_BIG;
    } else {
        SeriesFrame* f = frame_for(need);
        place = f->heap;
        f->heap += need;
    }
    auto* b = reinterpret_cast<SeriesBuffer*>(place);
    init_buffer(b, size, uint32_t(unit) | big, offset);
    return b;
}

Node alloc_series(int64_t count, int32_t unit, int32_t offset) {
    // Most series are small, fit the active frame and find a free slot in the
    // active node frame: their buffer is placed at the frame's heap and their
    // header written in a few steps. Anything else takes the general way.
    collector::stress_point();
    SeriesFrame* f = record.series_active;
    NodeFrame* nodes = record.node_active;
    if (uint64_t(count) <= uint64_t(SMALL_COUNT) && unit > 0 && unit <= 16 && offset >= 0 && f && nodes &&
        nodes->free_first >= 0 && !nodes->evacuated) [[likely]] {
        int32_t size = (int32_t(count) * unit + 15) & ~15;
        int64_t need = int64_t(size) + BUFFER_OVERHEAD;
        if (has_room(f, need) && offset <= size) [[likely]] {
            auto* b = reinterpret_cast<SeriesBuffer*>(f->heap);
            f->heap += need;
            // The heap's next bytes are seldom in the cache (a collection
            // left them long ago): fetching them early hides the wait of
            // the next few buffers' first writes.
            __builtin_prefetch(f->heap + 512, 1, 3);
            b->flags = uint32_t(unit) | SERIES_IN_USE | SERIES_ALLOCATED;
            b->size = size;
            b->head = b->tail = offset;
            Node n = take_slot(nodes);
            point_node(n, b);
            return n;
        }
    }
    SeriesBuffer* b = alloc_buffer(count, unit, offset);
    Node n = alloc_node();  // may make a node frame, never collects
    point_node(n, b);
    return n;
}

Node alloc_fixed_series(int64_t count, int32_t unit, int32_t offset) {
    SeriesBuffer* b = alloc_fixed_buffer(data_size(count, unit), uint32_t(unit), offset);
    Node n = alloc_node();
    point_node(n, b);
    return n;
}

Node alloc_cells(int64_t n) { return alloc_series(n, 16, 0); }

Node alloc_unset_cells(int64_t n) {
    Node node = alloc_cells(n);
    SeriesBuffer* b = buffer_of(node);
    Cell* c = reinterpret_cast<Cell*>(b->data());
    for (int32_t i = 0; i < b->size / 16; ++i) cell::begin(c + i);
    return node;
}

Node alloc_bytes(int64_t n) { return alloc_series(n == 0 ? 16 : n, 1, 0); }

Node alloc_codepoints(int64_t n, int32_t unit) {
    assert(unit == 1 || unit == 2 || unit == 4);
    return alloc_series(n == 0 ? 16 / unit : n, unit, 0);
}

Node alloc_filled_bytes(int64_t n, uint8_t byte) {
    Node node = alloc_bytes(n);
    SeriesBuffer* b = buffer_of(node);
    fill_bytes(b->data(), end_of(b), byte);
    b->tail = int32_t(n);
    return node;
}

void set_series_flags(Node n, uint32_t bits) { buffer_of(n)->flags |= bits; }

SeriesBuffer* grow_series_buffer(Node n, int64_t new_size) {
    SeriesBuffer* old;
    return grow(n, new_size, &old);
}

SeriesBuffer* expand_series(Node n, int64_t new_size) {
    SeriesBuffer* old;
    SeriesBuffer* b = grow(n, new_size, &old);
    copy_data(old, b);
    return b;
}

SeriesBuffer* expand_series_filled(Node n, int64_t new_size, uint8_t byte) {
    int32_t old_size = buffer_of(n)->size;
    SeriesBuffer* b = expand_series(n, new_size);
    if (old_size < b->size) fill_bytes(b->data() + old_size, end_of(b), byte);
    return b;
}

Node copy_series_buffer(Node n) {
    Node copy = alloc_series(buffer_of(n)->size, 1, 0);  // may collect
    SeriesBuffer* from = buffer_of(n);
    SeriesBuffer* to = buffer_of(copy);
    to->flags = (from->flags & ~(SERIES_OWNED | SERIES_FIXED | SERIES_BIG | SERIES_MARK | SERIES_CODE |
                                 SERIES_SLOTS_KEPT)) |
                (to->flags & SERIES_BIG);
    to->tail = std::clamp(used_bytes(from), 0, to->size);
    copy_data(from, to);
    return copy;
}

void fill_bytes(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, size_t(end - start));
}

void release_all() {
    for (NodeFrame* f = record.node_first; f;) {
        NodeFrame* next = f->next;
        free_frame(f);
        f = next;
    }
    for (SeriesFrame* f = record.series_first; f;) {
        SeriesFrame* next = f->next;
        free_frame(f);
        f = next;
    }
    for (BigBlock* b = record.big_first; b;) {
        BigBlock* next = b->next;
        free_frame(b);
        b = next;
    }
    record = Record{};
    node_slots.assign(1, nullptr);
}

}  // namespace zuv::memory
