// Ownership tracking: an object with an on-deep-change* handler owns the
// series in its fields and is told of every in-place change to them.
//
// Editing actions call check() on a series whose buffer carries the owned
// flag (SERIES_OWNED) before the change, with the action's word, and after
// it, with the past-tense word, when the first call answered true. check()
// runs user code: the collector may run inside it, so no pointer into a
// series may be held across the call.
//
// TODO: the owners table, binding and unbinding are not built yet; check()
// answers false (no owner) until they are.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::ownership {

// Tells the owner of value (when its node has an entry whose owner has event
// information) that action happened at index over part elements, with
// new_value (may be null); true when an owner was told.
inline bool check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part) {
    (void)value;
    (void)action;
    (void)new_value;
    (void)index;
    (void)part;
    return false;
}

}  // namespace zuv::ownership
