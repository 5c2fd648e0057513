// The holder of a scalar hears of a change made through a path.
//
// A path such as obj/size/x: or blk/1/2: changes a field of a scalar value
// (a component of a pair, a byte of a tuple, the hour of a time) in place;
// the value's holder, one step up the path, is then told as if the value had
// been set: an object through its change handler, an owned series through
// its owner.
#pragma once

#include "runtime/cell.hpp"

namespace zuv::scalar_path {

// gparent and p_item are the holder and the path item that selected the
// scalar (both null when the path started at the scalar); old is the value
// before the change, value the changed one.
void notify_set(const Cell* gparent, const Cell* p_item, const Cell* old, Cell* value);

}  // namespace zuv::scalar_path
