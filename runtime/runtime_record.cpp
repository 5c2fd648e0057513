#include "runtime/throw.hpp"

namespace zuv::runtime {
uint32_t thrown_code = 0;
}
