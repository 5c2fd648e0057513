// The root block: the first value of the runtime. A fixed block (it never
// moves) from which the collector marks every value that must stay reachable
// without another owner: the boot image's values, the symbol table, and the
// names made while runtime::boot_flag is set.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::runtime {

constexpr int32_t ROOT_CELLS = 8749;

// The root block's value (a block! cell); its node is 0 until it is made.
extern Cell root;

// Makes the root block (start-up, after the first frames exist).
void make_root_block();

}  // namespace zuv::runtime
