// Collector: provisional stub until the compacting collector exists. The
// memory manager calls collect_if_enabled before reserving a big block and
// when no series frame has room; for now nothing is ever collected.
#pragma once

namespace zuv::collector {

extern bool enabled;  // collections run only while set; start-up sets it
void collect_if_enabled();

}  // namespace zuv::collector
