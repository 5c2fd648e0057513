// The collector: stop-the-world mark and compact over the series frames.
//
// A collection runs only inside an allocation (a series allocation that finds
// no room, and before every big-block allocation) and when `recycle` asks.
// It marks every buffer reachable from the roots, frees the nodes of the
// others, slides the live buffers together (also into the free tail of the
// preceding frame), releases emptied frames, and may first evacuate sparse,
// stable node frames, renumbering their nodes.
//
// Roots: the root block, the symbol table, the global context, the data stack
// from bottom to top, the call frames, the pending error's argument cells,
// every C++ global registered with add_root / add_root_node, every C++ local
// held by a collector::Root guard (gc_root.hpp), the owners table, and the
// registered mark callbacks (the lexer marks its scans through one).
//
// Marking functions take the ADDRESS of a node reference: when a collection
// has evacuated node frames, they rewrite the reference to the new node
// before marking. A holder that the collector never visits keeps a stale
// node, unless it lies on the machine stack (those frames are not evacuated):
// so C++ code keeps nodes across an allocation only in registered places or
// in its own locals, never in heap memory of its own.
//
// Nothing may allocate while a collection runs (mark callbacks, release
// callbacks of externals).
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::collector {

extern bool enabled;     // collections run only while set; start-up and `recycle` set it
extern bool evacuation;  // evacuation allowed at all; cleared during table rebuilds

// Counters: collections run, and collections that evacuated a node frame.
extern uint32_t series_cycles;
extern uint32_t nodes_cycles;

// Counters 0, the root cells of the runtime's own globals registered.
void init();

// One full collection (a nested call during a collection does nothing).
//
// While the evacuation switch is on, sparse stable node frames are first
// emptied into other frames, their nodes renumbered, and released at the end.
// Registered holders are rewritten; a node that C++ code keeps in a plain
// local (see memory.hpp) is found on the machine stack instead, and its
// frame is left for a later collection.
void collect();
// A collection when the enabled flag is set.
void collect_if_enabled();
// True while a collection runs.
bool active_q();

// ---- roots ----

// A C++ global holding a value or a node, registered once for the life of
// the process (registering the same address again does nothing).
void add_root(Cell* cell);
void add_root_node(Node* node);
// A table whose integer keys are nodes held weakly (the owners table): only
// its own structure is marked; an entry's value cells are marked once its key
// is marked by other means, and after marking the entries whose key died are dropped.
void set_owners_table(Node* table);

// Extra marking run after the fixed roots, in registration order (room for 100).
void add_mark_callback(void (*callback)());
void remove_mark_callback(void (*callback)());

// ---- marking (for mark callbacks; each may rewrite the reference) ----

// Marks the buffer of *ref; true when it was not marked yet.
bool mark_node(Node* ref);
// Marks the buffer and, when newly marked, every cell from its head to its tail.
void mark_series_cells(Node* ref);
// A context node: its context! cell (word table, values) and its own value.
void mark_context(Node* ref);
// The series of a block-like cell (word 2).
void mark_block(Cell* block);
// Every cell of [first, end) by its datatype.
void mark_cells(Cell* first, Cell* end);
// One cell by its datatype. The cell must be writable: its node words are
// rewritten when their nodes moved (the const is for callers' signatures).
void mark_cell(const Cell* cell);
// Clears the mark of the node's buffer.
void clear_mark(Node n);
// Rewrites every 32-bit word of [first, end) that names an evacuated node to
// its new node; nothing outside a collection that evacuated.
void forward_range(uint32_t* first, uint32_t* end);

// An image! value's own marking of the node in its word 2 (installed by the
// image datatype; null until then).
extern void (*mark_image)(Node* image);

// ---- queries ----

// kind 1: the address lies in the data part of a series frame or big block;
// kind 0: in the slot area of a node frame.
bool in_frames_q(const void* address, int32_t kind);

// GC stress: called by the memory manager at every series allocation and
// growth. In the stress build it collects (when enabled) and then moves every
// live buffer of the series frames, poisoning the bytes it leaves (every n-th
// allocation only with the environment variable ZUV_GC_STRESS_PERIOD=n;
// with ZUV_GC_STRESS_EVACUATE=1 every collection also evacuates every node
// frame it may); elsewhere it does nothing.
void stress_collect();

// While one lives, the stress build collects as the ordinary collector does:
// start-up holds the stress off while it defines the library and the
// console, the same work in every process, so that each process pays the
// stress for its own work only. With the environment variable
// ZUV_GC_STRESS_BOOT=1 the stress goes on through start-up as well.
class StressHold {
public:
    StressHold();
    ~StressHold();
    StressHold(const StressHold&) = delete;
    StressHold& operator=(const StressHold&) = delete;

private:
    bool was_held_;
};
inline void stress_point() {
#ifdef ZUV_GC_STRESS
    stress_collect();
#endif
}

}  // namespace zuv::collector
