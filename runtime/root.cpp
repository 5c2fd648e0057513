#include "runtime/root.hpp"

#include "runtime/datatypes/block.hpp"

namespace zuv::runtime {

Cell root{};

void make_root_block() { root = *block::make_fixed_in(nullptr, ROOT_CELLS); }

}  // namespace zuv::runtime
