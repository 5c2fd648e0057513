// Memory statistics over the frames of the memory manager.
#include "evaluator/stats.hpp"

#include <vector>

#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/memory_frames.hpp"
#include "runtime/runtime.hpp"

namespace zuv::memory {

namespace {

constexpr double INT32_LIMIT = 2147483647.0;

// Holds the collector off for the life of the walk, also when an error
// (an allocation refused) unwinds it.
class CollectorOff {
public:
    CollectorOff() : saved_(collector::enabled) { collector::enabled = false; }
    ~CollectorOff() { collector::enabled = saved_; }
    CollectorOff(const CollectorOff&) = delete;
    CollectorOff& operator=(const CollectorOff&) = delete;

private:
    bool saved_;
};

struct Triple {
    double free;
    double used;
    double total;
};

// What the walk found, read before the report allocates anything.
struct Walk {
    double used = 0;
    double total = 0;
    std::vector<Triple> node_frames;
    std::vector<Triple> series_frames;
    std::vector<double> big_blocks;
};

Walk walk_frames(const Record& frames, bool detailed) {
    Walk w;
    constexpr double slot_bytes = sizeof(SeriesBuffer*);
    for (const NodeFrame* f = frames.node_first; f; f = f->next) {
        w.used += f->used * slot_bytes;
        w.total += f->slot_count * slot_bytes + double(sizeof(NodeFrame));
        if (detailed) w.node_frames.push_back({double(f->slot_count - f->used), double(f->used), double(f->slot_count)});
    }
    for (SeriesFrame* f = frames.series_first; f; f = f->next) {
        double used = double(f->heap - f->first());
        w.used += used;
        w.total += double(f->size);
        if (detailed) w.series_frames.push_back({double(f->end - f->heap), used, double(f->end - f->first())});
    }
    for (const BigBlock* b = frames.big_first; b; b = b->next) {
        w.used += double(b->size);
        w.total += double(b->size) + double(sizeof(BigBlock));
        if (detailed) w.big_blocks.push_back(double(b->size));
    }
    return w;
}

// A new-line-marked block appended to parent; returned by value (its node
// stays reachable through parent).
Cell append_line_block(const Cell* parent, int32_t room) {
    Cell* b = block::make_in(parent, room);
    b->header |= FLAG_NEW_LINE;
    return *b;
}

void append_triples(const Cell* out, const std::vector<Triple>& triples) {
    Cell group = *block::make_in(out, 8);
    for (const Triple& t : triples) {
        Cell line = append_line_block(&group, 3);
        append_stat_number(&line, t.free);
        append_stat_number(&line, t.used);
        append_stat_number(&line, t.total);
    }
}

}  // namespace

Cell* make_stat_number(Cell* cell, double number) {
    if (number <= INT32_LIMIT) return integer::make_at(cell::begin(cell), int32_t(number));
    return float_::make_at(cell::begin(cell), number);
}

void append_stat_number(const Cell* block, double number) {
    Cell n;
    make_stat_number(&n, number);
    block::append_cell(block, &n);
}

double collect_stats_of(const Record& frames, Cell* out, int32_t level) {
    CollectorOff off;
    bool detailed = level == STATS_DETAILED && out != nullptr;
    Walk w = walk_frames(frames, detailed);
    if (detailed) {
        block::make_at(cell::begin(out), 8);
        double heap = double(runtime::tracked_heap_bytes());
        append_triples(out, w.node_frames);
        append_triples(out, w.series_frames);
        Cell big = *block::make_in(out, 8);
        for (double size : w.big_blocks) {
            Cell n;
            make_stat_number(&n, size)->header |= FLAG_NEW_LINE;
            block::append_cell(&big, &n);
        }
        append_stat_number(out, w.total + heap);
        append_stat_number(out, heap);
    }
    return w.used;
}

double collect_stats(Cell* out, int32_t level) { return collect_stats_of(record, out, level); }

}  // namespace zuv::memory
