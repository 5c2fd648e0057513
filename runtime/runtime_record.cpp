// The process-wide runtime record and the code of the throw in flight.
#include "runtime/runtime.hpp"
#include "runtime/throw.hpp"

namespace zuv::runtime {
Record record;
uint32_t thrown_code = 0;
}  // namespace zuv::runtime
