// Cycle guard for mold, form and other deep walks.
//
// Each series or context being entered is pushed (by its node) on one global
// stack and popped on leaving; a value whose node is already on the stack is
// not entered again but replaced by a short marker ("[...]"). The stack holds
// 1000 entries: the 1000th nested push empties it and raises internal
// too-deep, so a walk unwound by that error needs no pops of its own.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::cycles {

constexpr int32_t STACK_SIZE = 1000;

// The key of a value: its context node for an object!, error! or port!,
// its series node (word 2) otherwise.
inline uint32_t key_of(const Cell* value) {
    uint32_t type = type_of(value);
    return type == TYPE_OBJECT || type == TYPE_ERROR || type == TYPE_PORT ? value->w1 : value->w2;
}

void push(uint32_t key);  // raises internal too-deep on the 1000th nested entry
void pop();               // nothing when empty
void drop(int32_t n);     // never below the base
void reset();
bool visited_q(uint32_t key);
int32_t depth();

// Raises internal no-cycle when the key is on the stack already: for walks
// that cannot stand for a value met again inside itself by a marker (copies,
// conversions). The stack is emptied first, as a too-deep raise empties it.
void refuse_cycle(uint32_t key);

// After a collection that moved nodes, rewrites the entries through the
// collector's forwarding map (forward is the collector's range rewriter).
void forward_entries(void (*forward)(uint32_t* first, uint32_t* end));

// False when the value's key is not on the stack. Otherwise appends its marker
// to the string buffer (with the flag: "[...]", "(...)", "#[...]",
// "make object! [...]", "make port! [...]", "..." by type, nothing for others; without the flag
// "..." always), lowers part by the marker's length and answers true.
bool mold_cycle_marker(const Cell* value, Cell* buffer, int32_t& part, bool marker_flag);

// One entry on the stack for the life of a walk. On leaving, also when an
// error unwinds the walk, the stack goes back to its depth before the push,
// so that an abandoned walk leaves no stale entry behind.
class Entry {
public:
    explicit Entry(uint32_t key) : depth_(depth()) { push(key); }
    ~Entry() {
        int32_t extra = depth() - depth_;
        if (extra > 0) drop(extra);
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

private:
    int32_t depth_;
};

// An Entry for a walk that refuses cycles: raises internal no-cycle when the
// key is being walked already, internal too-deep past the stack's depth.
class AcyclicEntry : public Entry {
public:
    explicit AcyclicEntry(uint32_t key) : Entry((refuse_cycle(key), key)) {}
};

}  // namespace zuv::cycles
