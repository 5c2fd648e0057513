// The collector: mark from the roots with an explicit work list, then sweep
// and compact the series frames in address order.
//
// What may be held across a point where a collection can run (any series
// allocation or growth, any evaluation of user code):
//   - values in registered places: the root block, the data stack, the
//     call frames, registered C++ globals, guarded C++ locals (gc_root.hpp);
//   - nodes and (node, index) positions in those places;
//   - pointers into fixed series (the root block, the stacks), which never move.
// Everything else is dead after the collection: a series reachable only from
// an unregistered C++ local is freed, and a raw pointer into a buffer points
// at whatever the compaction slid there.
//
// Order of one collection: evacuate sparse stable node frames that no word of
// the machine stack names (renumbering their nodes through a forwarding map), mark, forward the cycle guard's
// entries, sweep the externals, prune the owners table (weak: its entries are
// ephemerons, marked last), compact the series
// frames (freeing the nodes of dead buffers), sweep the big blocks, release
// evacuated node frames and the empty ones not kept as room.
//
// Marking never recurses: a buffer of cells that becomes marked is pushed on
// a work list and its cells are scanned when it is popped, so nesting depth
// costs heap, not C stack.
#include "runtime/collector.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/externals.hpp"
#include "runtime/fire.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/hash.hpp"
#include "runtime/memory.hpp"
#include "runtime/memory_frames.hpp"
#include "runtime/root.hpp"
#include "runtime/runtime.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "runtime/datatypes/context.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define ZUV_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define ZUV_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define ZUV_POISON(address, size) ((void)(address), (void)(size))
#define ZUV_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace zuv::collector {

bool enabled = false;
bool evacuation = true;
uint32_t series_cycles = 0;
uint32_t nodes_cycles = 0;
void (*mark_image)(Node* image) = nullptr;

LocalRoot local_roots[LOCAL_ROOTS_MAX];
int32_t local_root_count = 0;
int32_t local_roots_limit = LOCAL_ROOTS_MAX - LOCAL_ROOTS_RESERVE;

void local_roots_overflow() {
    if (local_roots_limit == LOCAL_ROOTS_MAX)  // raising the error filled the reserve too
        runtime::quit_with_runtime_error(98, runtime::get_return_address());
    local_roots_limit = LOCAL_ROOTS_MAX;
    try {
        fire(ErrorCategory::internal, "stack-overflow");
    } catch (...) {
        local_roots_limit = LOCAL_ROOTS_MAX - LOCAL_ROOTS_RESERVE;
        throw;
    }
}

namespace {

constexpr int32_t MAX_CALLBACKS = 100;
constexpr uint32_t STABLE_HISTORY = 63;      // six collections in a row without a change
constexpr int32_t EVACUATE_BELOW = NODE_FRAME_SLOTS / 2;
constexpr int64_t EVACUATE_FREE_ABOVE = NODE_FRAME_SLOTS;
constexpr int32_t FORWARDING_EXPECTED = 20000;

std::atomic<bool> collecting{false};

// Sets the collecting flag (sequentially consistent stores: full fences) and
// clears it again even when a frame release raises on the way out.
struct Collecting {
    Collecting() { collecting.store(true); }
    ~Collecting() { collecting.store(false); }
};
int_map::Map* forwarding = nullptr;

std::vector<Cell*> root_cells;
std::vector<Node*> root_nodes;
Node* owners_table = nullptr;
void (*callbacks[MAX_CALLBACKS])() = {};
int32_t callback_count = 0;

std::vector<SeriesBuffer*> work;          // marked cell buffers whose cells are still to scan
std::vector<SeriesBuffer*> fixed_marked;  // marked buffers outside the frames, unmarked at the end

// The buffer of a node in use, or null for 0, a released frame or a free slot.
// Any frame number indexes the slot table, whose entries past the frames
// made are null, so the number needs no range check of its own.
[[gnu::always_inline]] inline SeriesBuffer* live_buffer(Node n) {
    static_assert(memory::NodeSlots::CAPACITY == (size_t(1) << (32 - NODE_SLOT_BITS)), "every frame number has an entry");
    SeriesBuffer** slots = memory::node_slots[n >> NODE_SLOT_BITS];
    uint32_t slot = n & NODE_SLOT_MASK;
    if (!slots || slot >= uint32_t(NODE_FRAME_SLOTS)) return nullptr;
    SeriesBuffer* b = slots[slot];
    return b && !memory::slot_free_q(b) ? b : nullptr;
}

void point_slot(Node n, SeriesBuffer* b) { memory::node_slots[n >> NODE_SLOT_BITS][n & NODE_SLOT_MASK] = b; }

void mark_node_only(Node* ref) { mark_node(ref); }

constexpr hash::Marker table_marker{mark_node_only, mark_series_cells};

void mark_table(Node* table) {
    if (*table && live_buffer(*table)) hash::mark_table(table, table_marker);
}

void mark_frame_context(Node* ref) { mark_context(ref); }

void forward_node(Node* ref) {
    if (!forwarding) return;
    if (uint32_t* to = int_map::get(forwarding, *ref)) *ref = *to;
}

// ---- the marking of one cell ----
//
// Every live cell of a collection passes here, most of them words (bound to
// a context already marked) and blocks: the steps are written in line, so
// that a cell costs a switch, a node's slot and its buffer's flags.

// Marks the buffer of *ref (first rewritten when its node was evacuated):
// the buffer when it was not marked yet, else null.
[[gnu::always_inline]] inline SeriesBuffer* mark_fresh(Node* ref) {
    Node n = *ref;
    if (n == 0) return nullptr;
    if (forwarding) [[unlikely]] {
        if (uint32_t* to = int_map::get(forwarding, n)) *ref = n = *to;
    }
    SeriesBuffer* b = live_buffer(n);
    if (!b || (b->flags & SERIES_MARK)) return nullptr;
    b->flags |= SERIES_MARK;
    if (b->flags & SERIES_FIXED) [[unlikely]]
        fixed_marked.push_back(b);
    return b;
}

// mark_fresh, and a newly marked buffer of cells goes on the work list.
[[gnu::always_inline]] inline void mark_fresh_cells(Node* ref) {
    SeriesBuffer* b = mark_fresh(ref);
    if (b && memory::unit_of(b) == sizeof(Cell)) work.push_back(b);
}

// The series of blocks and paths found by a scan are marked a few finds
// later: each buffer's header is fetched when its block is found, and the
// marks of several buffers are tested while those fetches run, rather than
// waiting on each in turn (a tree of small blocks spreads them over the
// heap). drain() takes up the ones still waiting before it returns.
constexpr uint32_t MARK_AHEAD = 8;
SeriesBuffer* mark_ahead[MARK_AHEAD] = {};
uint32_t mark_ahead_at = 0;

[[gnu::always_inline]] inline void mark_buffer_cells(SeriesBuffer* b) {
    if (b->flags & SERIES_MARK) return;
    b->flags |= SERIES_MARK;
    if (b->flags & SERIES_FIXED) [[unlikely]]
        fixed_marked.push_back(b);
    if (memory::unit_of(b) == sizeof(Cell)) work.push_back(b);
}

// mark_fresh_cells, a few finds later.
[[gnu::always_inline]] inline void mark_cells_ahead(Node* ref) {
    Node n = *ref;
    if (n == 0) return;
    if (forwarding) [[unlikely]] {
        if (uint32_t* to = int_map::get(forwarding, n)) *ref = n = *to;
    }
    SeriesBuffer* b = live_buffer(n);
    if (!b) return;
    __builtin_prefetch(b, 1, 3);
    SeriesBuffer*& waiting = mark_ahead[mark_ahead_at++ % MARK_AHEAD];
    if (waiting) mark_buffer_cells(waiting);
    waiting = b;
}

// Marks every buffer still waiting in mark_ahead.
void mark_waiting() {
    for (SeriesBuffer*& waiting : mark_ahead) {
        if (waiting) mark_buffer_cells(waiting);
        waiting = nullptr;
    }
}

// The contexts of the two words marked last with different contexts. Most
// cells of code are words bound to one of a few contexts (a body's own, the
// global one, interleaved): a word bound to one of these again has nothing
// to mark. Zero at the start of each collection, and kept at zero while one
// forwards evacuated nodes, since then every reference must be visited to
// be rewritten.
Node recent_context = 0;
Node other_context = 0;

[[gnu::always_inline]] inline void mark_value(Cell* c) {
    switch (type_of(c)) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT: {
            // A context, or for a `self` word the series of its own value:
            // either way a series of cells.
            Node n = c->w1;
            if (n == recent_context || n == other_context) break;
            mark_fresh_cells(&c->w1);
            if (!forwarding) other_context = recent_context, recent_context = n;
            break;
        }
        case TYPE_BLOCK: case TYPE_PAREN:
        case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
            mark_cells_ahead(&c->w2);
            break;
        case TYPE_SYMBOL:
            mark_fresh(&c->w3);
            mark_fresh(&c->w2);
            break;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
            mark_fresh(&c->w2);
            mark_fresh(&c->w3);
            break;
        case TYPE_BITSET: case TYPE_VECTOR: case TYPE_BINARY:
            mark_fresh(&c->w2);
            break;
        case TYPE_OBJECT: case TYPE_PORT: case TYPE_ERROR:
            mark_fresh_cells(&c->w1);
            mark_fresh(&c->w3);
            break;
        case TYPE_CONTEXT:
            if (c->w1) mark_table(&c->w1);
            if (!(c->header & CONTEXT_ON_STACK)) mark_fresh_cells(&c->w2);
            break;
        case TYPE_MAP: case TYPE_HASH:
            mark_fresh_cells(&c->w2);
            if (c->w3) mark_table(&c->w3);
            break;
        case TYPE_FUNCTION: case TYPE_ROUTINE:
            mark_fresh_cells(&c->w1);
            mark_fresh_cells(&c->w2);
            mark_fresh_cells(&c->w3);
            break;
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP: {
            mark_fresh_cells(&c->w2);
            mark_fresh_cells(&c->w3);
            uint32_t wrapped = (c->header >> OP_TYPE_SHIFT) & 0xFF;
            if (type_of(c) == TYPE_OP && (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE))
                mark_fresh_cells(&c->w1);
            break;
        }
        case TYPE_IMAGE:
            if (c->w2) {
                mark_fresh(&c->w2);
                if (mark_image) mark_image(&c->w2);
            }
            break;
        case TYPE_HANDLE:
            if (int32_t(c->w3) >= 0) externals::mark(int32_t(c->w3), nullptr);
            break;
        case TYPE_EVENT:
            if (c->header & EVENT_HAS_SERIES) mark_fresh_cells(&c->w2);
            break;
        default:
            break;
    }
}

// Scans every buffer on the work list, including those its cells push, and
// those waiting to be marked.
void drain() {
    do {
        while (!work.empty()) {
            SeriesBuffer* b = work.back();
            work.pop_back();
            int32_t tail = std::min(b->tail, b->size);
            if (b->head < 0 || tail <= b->head) continue;
            auto* c = reinterpret_cast<Cell*>(b->data() + b->head);
            auto* end = reinterpret_cast<Cell*>(b->data() + tail);
            for (; c < end; ++c) mark_value(c);
        }
        mark_waiting();
    } while (!work.empty());
}

// ---- the roots ----

void mark_local_roots() {
    for (int32_t i = 0; i < local_root_count; i++) {
        LocalRoot& r = local_roots[i];
        if (r.cells) mark_cells(r.cells, r.cells + r.count);
        else if (r.count == ROOT_HASH_TABLE) mark_table(r.node);
        else mark_series_cells(r.node);
        drain();
    }
}

void mark_roots() {
    if (runtime::root.w2) mark_block(&runtime::root);
    drain();
    mark_table(&symbol::table);
    if (owners_table && *owners_table && live_buffer(*owners_table))
        hash::mark_table_weak(owners_table, table_marker, forward_node);
    drain();
    if (stack::data_node) {
        stack::Roots r = stack::roots();
        mark_node(&stack::data_node);
        mark_node(&stack::call_node);
        mark_cells(r.first, r.end);
        drain();
        stack::mark_frames({mark_frame_context, mark_series_cells});
        drain();
    }
    if (_context::global) mark_context(&_context::global);
    drain();
    PendingError& e = runtime::pending_error();
    mark_cells(e.args, e.args + 3);
    for (Cell* c : root_cells) mark_cell(c);
    for (Node* n : root_nodes) mark_series_cells(n);
    drain();
    mark_local_roots();
    for (int32_t i = 0; i < callback_count; i++) {
        if (callbacks[i]) callbacks[i]();
        drain();
    }
}

// The owners table's entries are ephemerons: an entry's values (the owner
// among them) live only while its key series lives by other means. Marking
// the values of newly live keys may make more keys live, so passes repeat
// until one marks nothing.
void mark_owners_ephemerons() {
    if (!owners_table || !*owners_table || !live_buffer(*owners_table)) return;
    std::vector<uint8_t> done;
    while (hash::mark_values_of_live_keys(*owners_table, done, mark_cells) > 0) drain();
}

// ---- node evacuation ----

// Moves every node in use of frame f into free slots of other frames.
void evacuate_frame(NodeFrame* f) {
    if (!forwarding) forwarding = int_map::make(FORWARDING_EXPECTED);
    SeriesBuffer** slots = f->slots();
    for (int32_t i = 0; i < NODE_FRAME_SLOTS; i++) {
        SeriesBuffer* b = slots[i];
        if (!b || memory::slot_free_q(b)) continue;
        NodeFrame* t = memory::record.node_active;
        while (t && (t == f || t->evacuated || t->free_first < 0)) t = t->next;
        if (!t) {
            t = memory::record.node_first;
            while (t && (t == f || t->evacuated || t->free_first < 0)) t = t->next;
        }
        memory::record.node_active = t;  // never null: the caller counted the room
        SeriesBuffer** to = t->slots();
        int32_t slot = t->free_first;
        t->free_first = memory::free_link_target(reinterpret_cast<uintptr_t>(to[slot]));
        to[slot] = b;
        t->used++;
        f->used--;
        Node moved = memory::node_id(t, slot);
        Node old = memory::node_id(f, i);
        int_map::put(forwarding, old, moved);
        // Compiled code kept under the old number is dropped (while the
        // buffer still names it): the number may name another block once the
        // frame is reused.
        if (b->flags & SERIES_CODE) memory::drop_code(b);
        b->node = moved;
        // The old slot keeps the buffer's address until the frame is released,
        // so that references not yet forwarded still reach the buffer.
    }
    f->evacuated = 1;
}

// ---- nodes named on the machine stack ----
//
// C++ code may keep a node in a plain local (or a callee-saved register)
// across an allocation, and a collection inside that allocation cannot
// rewrite it. So before a frame is evacuated, the running thread's stack is
// read word by word: a frame one of whose nodes in use is named there keeps
// its nodes this time. A word that only looks like such a node postpones the
// frame's evacuation and does nothing else.

// One past the highest address of the calling thread's stack, or 0 unknown.
uintptr_t stack_high_end() {
    static thread_local uintptr_t high = 0;
    if (!high) {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* low = nullptr;
            size_t size = 0;
            if (pthread_attr_getstack(&attr, &low, &size) == 0) high = reinterpret_cast<uintptr_t>(low) + size;
            pthread_attr_destroy(&attr);
        }
    }
    return high;
}

// Sets held[k] for each candidate frame number k (candidate[k] set) that has
// a node in use named by an aligned 32-bit word of the stack below this
// call's caller. The stack holds poisoned zones under the address
// sanitizer: they are read as plain memory.
__attribute__((noinline, no_sanitize_address)) void find_held_frames(const std::vector<uint8_t>& candidate,
                                                                     std::vector<uint8_t>& held) {
    volatile uint32_t marker = 0;  // lies below every frame of the callers
    uintptr_t from = reinterpret_cast<uintptr_t>(&marker) & ~uintptr_t(3);
    uintptr_t to = stack_high_end();
    bool fake_frames = false;  // locals moved off the stack by the address sanitizer's return checks
#if defined(__SANITIZE_ADDRESS__)
    fake_frames = __asan_get_current_fake_stack() != nullptr;
#endif
    if (!to || to <= from || fake_frames) {
        std::fill(held.begin(), held.end(), uint8_t(1));  // unknown: nothing may move
        return;
    }
    size_t frames = candidate.size();
    for (auto* w = reinterpret_cast<const uint32_t*>(from); reinterpret_cast<uintptr_t>(w) + 4 <= to; ++w) {
        uint32_t n = *w;
        uint32_t frame = n >> NODE_SLOT_BITS;
        if (frame >= frames || !candidate[frame] || (n & NODE_SLOT_MASK) >= uint32_t(NODE_FRAME_SLOTS)) continue;
        if (live_buffer(n)) held[frame] = 1;
    }
}

// GC stress with the environment variable ZUV_GC_STRESS_EVACUATE=1: every
// collection evacuates every node frame it can (any that is not full and has
// room elsewhere), so that renumbered nodes are met everywhere.
bool evacuate_all_q() {
#ifdef ZUV_GC_STRESS
    static const bool all = [] {
        const char* text = std::getenv("ZUV_GC_STRESS_EVACUATE");
        return text && std::strcmp(text, "1") == 0;
    }();
    return all;
#else
    return false;
#endif
}

void evacuate_node_frames() {
    // The callee-saved registers go to this frame, where the stack scan sees them.
    __builtin_unwind_init();
    memory::Record& m = memory::record;
    NodeFrame* active = m.node_first;
    while (active && (active->evacuated || active->free_first < 0)) active = active->next;
    if (!active) return;
    m.node_active = active;
    auto sparse_q = [&m](const NodeFrame* f) {
        // An empty frame has nothing to move: it is kept as room, or released.
        if (f == m.node_active || f->evacuated || f->used == 0) return false;
        if (evacuate_all_q()) return f->used < NODE_FRAME_SLOTS;
        return (f->stability & STABLE_HISTORY) == STABLE_HISTORY && f->used < EVACUATE_BELOW;
    };
    std::vector<uint8_t> candidate(memory::node_slots.size(), 0);
    bool any_candidate = false;
    for (NodeFrame* f = m.node_first; f; f = f->next)
        if (sparse_q(f)) candidate[f->number] = 1, any_candidate = true;
    if (!any_candidate) return;
    std::vector<uint8_t> held(candidate.size(), 0);
    find_held_frames(candidate, held);

    int64_t free = 0;
    for (NodeFrame* f = m.node_first; f; f = f->next)
        if (!f->evacuated && f->free_first >= 0) free += NODE_FRAME_SLOTS - f->used;
    bool any = false;
    for (NodeFrame* f = m.node_last; f; f = f->prev) {
        if (!sparse_q(f) || held[f->number] || (free <= EVACUATE_FREE_ABOVE && !evacuate_all_q())) continue;
        int64_t elsewhere = 0;
        for (NodeFrame* g = m.node_first; g; g = g->next)
            if (g != f && !g->evacuated) elsewhere += NODE_FRAME_SLOTS - g->used;
        if (elsewhere < f->used) continue;
        free -= NODE_FRAME_SLOTS;
        evacuate_frame(f);
        any = true;
    }
    if (!any) return;
    nodes_cycles++;
    // Compiled code names the nodes it was made from: renumbered, they no
    // longer name them. All of it goes (node 0 stands for every series).
    if (memory::drop_code_hook) memory::drop_code_hook(0);
}

// ---- compaction ----

int64_t buffer_span(const SeriesBuffer* b) { return int64_t(sizeof(SeriesBuffer)) + b->size + 4; }
bool marked_q(const uint8_t* p) { return (reinterpret_cast<const SeriesBuffer*>(p)->flags & SERIES_MARK) != 0; }

// A dead buffer gives its node back, when the node still names it, and the
// compiled code made from its cells goes with it.
void release_dead(SeriesBuffer* b) {
    Node n = b->node;
    if (!n || live_buffer(n) != b) return;
    if (b->flags & SERIES_CODE) memory::drop_code(b);
    memory::release_slot(n);
}

// Moves bytes [from, from + length) of whole buffers to to, repointing each
// buffer's node and clearing its mark.
void move_run(uint8_t* from, int64_t length, uint8_t* to) {
    if (from != to) std::memmove(to, from, size_t(length));
    for (int64_t at = 0; at < length;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(to + at);
        auto* was = reinterpret_cast<SeriesBuffer*>(from + at);
        b->flags &= ~SERIES_MARK;
        if (from != to && b->node && live_buffer(b->node) == was) point_slot(b->node, b);
        at += buffer_span(b);
    }
}

int64_t room_worth_filling(const SeriesFrame* f) {
    int64_t room = f ? f->end - f->heap : 0;
    return room > FRAME_WORTH_FILLING ? room : 0;
}

void compact_frame(SeriesFrame* f) {
    SeriesFrame* prev = f->prev;
    int64_t room = room_worth_filling(prev);
    uint8_t* dest = nullptr;  // where the next live run of this frame goes
    uint8_t* p = f->first();
    while (p < f->heap) {
        if (!marked_q(p)) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            release_dead(b);
            if (!dest) dest = p;
            p += buffer_span(b);
            continue;
        }
        uint8_t* run = p;
        int64_t length = 0, last = 0;
        while (p < f->heap && marked_q(p)) {
            last = buffer_span(reinterpret_cast<SeriesBuffer*>(p));
            length += last;
            p += last;
            if (room > 0 && length >= room) break;
        }
        if (room > 0) {
            int64_t moved = length < room ? length : (length - last > 0 ? length - last : 0);
            if (moved > 0) {
                move_run(run, moved, prev->heap);
                prev->heap += moved;
                if (!dest) dest = run;
                if (moved < length) p = run + moved;  // the last buffer stays marked and is taken up again
                room = room_worth_filling(prev);
                continue;
            }
        }
        if (dest) {
            move_run(run, length, dest);
            dest += length;
        } else {
            move_run(run, length, run);  // stays in place
            room = 0;                    // and nothing of this frame goes back any more
        }
    }
    if (dest) f->heap = dest;
}

// Compacts every frame, then applies the heap's growth rule (memory::Record):
// emptied frames are kept while the free room is below the live data's size,
// and what is still missing becomes the allowance of new frames before the
// next collection. The rule is hysteretic: an emptied frame goes back to the
// system only when the room without it exceeds what is wanted by an eighth,
// and new frames are taken only when the room falls short by more than an
// eighth. Else live data that moves about the wanted room (a tree built and
// dropped at each round) would release a frame at one collection and map
// and fault in a fresh one before the next.
void compact_series_frames() {
    memory::Record& m = memory::record;
    int64_t live = 0, room = 0;
    auto emptied = [&m](SeriesFrame* f) {
        return f != m.series_first && f != m.series_last && f->heap == f->first();
    };
    for (SeriesFrame* f = m.series_first; f; f = f->next) compact_frame(f);
    for (SeriesFrame* f = m.series_first; f; f = f->next) {  // a frame's room fills as the next one compacts
        live += f->heap - f->first();
        if (!emptied(f)) room += f->end - f->heap;
    }
    int64_t wanted = std::max(live, MIN_ROOM_AFTER_COLLECTION);
    int64_t margin = wanted / 8;
    for (SeriesFrame* f = m.series_first; f;) {
        SeriesFrame* next = f->next;
        if (emptied(f)) {
            if (room < wanted + margin) room += f->end - f->heap;
            else memory::unlink_series_frame(f);
        }
        f = next;
    }
    m.growth_allowance = room < wanted - margin ? wanted - room : 0;
}

void free_node_callback(Node n) {
    SeriesBuffer* b = memory::buffer_of(n);
    if (b->flags & SERIES_CODE) memory::drop_code(b);
    memory::free_node(n);
}

// ---- GC stress ----

#ifdef ZUV_GC_STRESS
constexpr uint8_t POISON_BYTE = 0xDB;
constexpr size_t QUARANTINE = 4;  // collections a vacated frame stays poisoned and unused
constexpr size_t SPARE_MAX = 16;  // frames kept for reuse (their pages are already mapped in)

std::vector<std::vector<SeriesFrame*>> quarantine;
std::vector<SeriesFrame*> spare;

void detach_series_frame(SeriesFrame* f) {
    memory::Record& m = memory::record;
    if (f->prev) f->prev->next = f->next;
    else m.series_first = f->next;
    if (f->next) f->next->prev = f->prev;
    else m.series_last = f->prev;
    if (m.series_active == f) m.series_active = m.series_last;
}

// Links a spare frame back into the list, in address order.
void attach_series_frame(SeriesFrame* f) {
    memory::Record& m = memory::record;
    SeriesFrame* p = m.series_last;
    while (p && p > f) p = p->prev;
    f->prev = p;
    f->next = p ? p->next : m.series_first;
    if (f->next) f->next->prev = f;
    else m.series_last = f;
    if (p) p->next = f;
    else m.series_first = f;
}

// An empty frame with room for span bytes: a spare one, or a new one.
SeriesFrame* target_frame(int64_t span) {
    for (size_t i = 0; i < spare.size(); i++) {
        SeriesFrame* f = spare[i];
        if (f->end - f->first() <= span) continue;
        spare.erase(spare.begin() + int64_t(i));
        f->heap = f->first();
        attach_series_frame(f);
        return f;
    }
    memory::Record& m = memory::record;
    if (span >= m.frame_next_size) m.frame_next_size = m.frame_max_size;
    return memory::make_series_frame();
}

// Moves every live buffer of the series frames into other, empty frames;
// the bytes left behind are overwritten with the poison byte (and, under
// ASan, poisoned) and their frames stay unused for a few collections, so
// that a stale pointer reads garbage or faults.
void move_everything() {
    memory::Record& m = memory::record;
    std::vector<SeriesFrame*> old;
    for (SeriesFrame* f = m.series_first; f; f = f->next) old.push_back(f);
    SeriesFrame* target = nullptr;
    for (SeriesFrame* f : old) {
        for (uint8_t* p = f->first(); p < f->heap;) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            int64_t span = buffer_span(b);
            if (!target || target->end - target->heap <= span) target = target_frame(span);
            std::memcpy(target->heap, p, size_t(span));
            auto* moved = reinterpret_cast<SeriesBuffer*>(target->heap);
            target->heap += span;
            if (moved->node && live_buffer(moved->node) == b) point_slot(moved->node, moved);
            p += span;
        }
    }
    if (!target) return;  // nothing lived in the frames: keep them as they are
    for (SeriesFrame* f : old) {
        detach_series_frame(f);
        std::memset(f->first(), POISON_BYTE, size_t(f->heap - f->first()));
        ZUV_POISON(f->first(), size_t(f->end - f->first()));
    }
    m.series_active = target;
    quarantine.push_back(std::move(old));
    if (quarantine.size() > QUARANTINE) {
        for (SeriesFrame* f : quarantine.front()) {
            ZUV_UNPOISON(f->first(), size_t(f->end - f->first()));
            if (spare.size() < SPARE_MAX) spare.push_back(f);
            else memory::free_frame(f);
        }
        quarantine.erase(quarantine.begin());
    }
}
#endif

}  // namespace

// ---- state ----

void init() {
    series_cycles = 0;
    nodes_cycles = 0;
    evacuation = true;
    // The runtime's own globals that hold values: the symbol block (also
    // reached through the symbol table, but its global must be rewritten too)
    // and the well-known words and refinements.
    add_root_node(&symbol::cells);
#define ZUV_ROOT_WORD_ID(name) add_root(&words::name);
#define ZUV_ROOT_WORD_NAME(name, text) add_root(&words::name);
    ZUV_WELL_KNOWN_WORDS(ZUV_ROOT_WORD_ID, ZUV_ROOT_WORD_NAME)
#undef ZUV_ROOT_WORD_ID
#undef ZUV_ROOT_WORD_NAME
#define ZUV_ROOT_REFINEMENT(name, text) add_root(&refinements::name);
    ZUV_WELL_KNOWN_REFINEMENTS(ZUV_ROOT_REFINEMENT)
#undef ZUV_ROOT_REFINEMENT
    add_root(&well_known::ooo);
}

bool active_q() { return collecting.load(); }

void add_root(Cell* cell) {
    if (std::find(root_cells.begin(), root_cells.end(), cell) == root_cells.end()) root_cells.push_back(cell);
}

void add_root_node(Node* node) {
    if (std::find(root_nodes.begin(), root_nodes.end(), node) == root_nodes.end()) root_nodes.push_back(node);
}

void set_owners_table(Node* table) { owners_table = table; }

void add_mark_callback(void (*callback)()) {
    for (int32_t i = 0; i < callback_count; i++) {
        if (!callbacks[i]) {
            callbacks[i] = callback;
            return;
        }
    }
    if (callback_count < MAX_CALLBACKS) callbacks[callback_count++] = callback;
}

void remove_mark_callback(void (*callback)()) {
    for (int32_t i = 0; i < callback_count; i++) {
        if (callbacks[i] == callback) {
            callbacks[i] = nullptr;
            return;
        }
    }
}

// ---- marking ----

bool mark_node(Node* ref) { return mark_fresh(ref) != nullptr; }

void mark_series_cells(Node* ref) { mark_fresh_cells(ref); }

// A context's node holds its context! cell and its own value: marking its
// cells marks the word table, the values (unless they live on the data
// stack) and the own value.
void mark_context(Node* ref) { mark_fresh_cells(ref); }

void mark_block(Cell* block) { mark_fresh_cells(&block->w2); }

void mark_cells(Cell* first, Cell* end) {
    for (Cell* c = first; c < end; ++c) mark_value(c);
}

void mark_cell(const Cell* cell) { mark_value(const_cast<Cell*>(cell)); }

void clear_mark(Node n) {
    if (SeriesBuffer* b = live_buffer(n)) b->flags &= ~SERIES_MARK;
}

void forward_range(uint32_t* first, uint32_t* end) {
    if (!forwarding) return;
    for (uint32_t* w = first; w < end; ++w)
        if (uint32_t* to = int_map::get(forwarding, *w)) *w = *to;
}

bool in_frames_q(const void* address, int32_t kind) {
    auto* a = static_cast<const uint8_t*>(address);
    if (kind == 0) {
        for (NodeFrame* f = memory::record.node_first; f; f = f->next) {
            auto* slots = reinterpret_cast<const uint8_t*>(f->slots());
            if (a >= slots && a < slots + NODE_FRAME_SLOTS * sizeof(SeriesBuffer*)) return true;
        }
        return false;
    }
    for (SeriesFrame* f = memory::record.series_first; f; f = f->next)
        if (a >= f->first() && a < f->end) return true;
    for (BigBlock* b = memory::record.big_first; b; b = b->next) {
        auto* start = reinterpret_cast<const uint8_t*>(b->buffer());
        if (a >= start && a < start + b->size) return true;
    }
    return false;
}

// ---- a collection ----

void collect() {
    if (collecting.load()) return;
    Collecting running;
    recent_context = other_context = 0;

    if (evacuation) evacuate_node_frames();
    mark_roots();
    mark_owners_ephemerons();
    if (forwarding) cycles::forward_entries(forward_range);
    externals::sweep();
    if (owners_table && live_buffer(*owners_table)) hash::prune_dead_keys(*owners_table);
    compact_series_frames();
    memory::sweep_big(free_node_callback);
    memory::update_node_frames();
    if (forwarding) {
        int_map::free(forwarding);
        forwarding = nullptr;
    }
    for (SeriesBuffer* b : fixed_marked) b->flags &= ~SERIES_MARK;
    fixed_marked.clear();

    series_cycles++;
    memory::relocations++;
}

void collect_if_enabled() {
    if (enabled) collect();
}

namespace {

bool stress_held = false;

}  // namespace

StressHold::StressHold() : was_held_(stress_held) {
    static const bool boot_stress = [] {
        const char* text = std::getenv("ZUV_GC_STRESS_BOOT");
        return text && std::strcmp(text, "1") == 0;
    }();
    if (!boot_stress) stress_held = true;
}

StressHold::~StressHold() { stress_held = was_held_; }

void stress_collect() {
#ifdef ZUV_GC_STRESS
    // ZUV_GC_STRESS_PERIOD=n stresses every n-th allocation only (default 1:
    // each one), for suites that would otherwise run too long.
    static const uint32_t period = [] {
        const char* text = std::getenv("ZUV_GC_STRESS_PERIOD");
        long n = text ? std::strtol(text, nullptr, 10) : 1;
        return n >= 1 && n <= 1000000 ? uint32_t(n) : 1u;
    }();
    static uint32_t countdown = 0;
    if (!enabled || stress_held || collecting.load()) return;
    if (++countdown < period) return;
    countdown = 0;
    collect();
    Collecting running;
    move_everything();
#endif
}

}  // namespace zuv::collector
