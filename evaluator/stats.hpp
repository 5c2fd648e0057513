// Memory statistics: how much memory the runtime uses, for `stats` and
// `recycle`.
//
// The walk covers the memory manager's three kinds of frames (node frames,
// series frames, big blocks) and, for the detailed report, the tracked heap.
// Sizes are this platform's: a node slot is one pointer, and each frame's
// header is counted at its real size.
//
// The detailed report (`stats/info`) is a block of five values:
//   [ [[free used capacity] ...]  node frames, in nodes
//     [[free used total] ...]     series frames, in bytes
//     [size ...]                  big blocks, in bytes
//     total                       bytes reserved, tracked heap included
//     heap ]                      bytes of the tracked heap
// Each inner triple or size starts a new line. A number above 2147483647
// is a float!.
//
// Statistics never collect: the collector is held off for the walk, so that
// the report's own allocations move nothing while frames are read.
#pragma once

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::memory {

enum StatsLevel : int32_t { STATS_SUMMARY = 1, STATS_DETAILED = 2 };

// The bytes in use. At STATS_DETAILED out receives a new block of the
// report's five values (out must not lie in a series buffer that can move).
double collect_stats(Cell* out, int32_t level);
// The same over a given frame record (the process-wide one is memory::record).
double collect_stats_of(const Record& frames, Cell* out, int32_t level);

// Appends the number as an integer! when it is not above 2147483647, else as
// a float!.
void append_stat_number(const Cell* block, double number);
// The same into a cell.
Cell* make_stat_number(Cell* cell, double number);

}  // namespace zuv::memory
