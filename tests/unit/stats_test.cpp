// Memory statistics, `stats` and `recycle`.
#include <gtest/gtest.h>

#include "evaluator/natives.hpp"
#include "evaluator/stats.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/memory_frames.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

// Cell i of a block value (by value).
Cell item(const Cell& block, int32_t i) {
    Cell b = block;
    return *block::zs_abs_at(&b, i);
}

// Restores the collector switch a test changes.
struct CollectorSwitch {
    bool saved = collector::enabled;
    ~CollectorSwitch() { collector::enabled = saved; }
};

}  // namespace

TEST(MemoryStats, OneNodeFrameGivesFreeUsedAndCapacity) {
    ensure_evaluator();
    NodeFrame frame{};
    frame.slot_count = NODE_FRAME_SLOTS;
    frame.used = 1200;
    memory::Record frames;
    frames.node_first = &frame;
    Cell* out = stack::push_raw();
    double used = memory::collect_stats_of(frames, out, memory::STATS_DETAILED);
    EXPECT_EQ(used, 1200.0 * sizeof(SeriesBuffer*));

    ASSERT_EQ(block::zs_length_q(out), 5);
    Cell nodes = item(*out, 0);
    ASSERT_EQ(block::zs_length_q(&nodes), 1);
    Cell triple = item(nodes, 0);
    EXPECT_TRUE(cell::new_line_q(&triple));
    EXPECT_EQ(mold(triple), "[8800 1200 10000]");
    EXPECT_EQ(mold(item(*out, 1)), "[]") << "no series frame";
    EXPECT_EQ(mold(item(*out, 2)), "[]") << "no big block";
    Cell total = item(*out, 3), heap = item(*out, 4);
    ASSERT_EQ(type_of(&heap), TYPE_INTEGER);
    EXPECT_EQ(int32_t(total.w2), 10000 * int32_t(sizeof(SeriesBuffer*)) + int32_t(sizeof(NodeFrame)) + int32_t(heap.w2));
    stack::pop(1);
}

TEST(MemoryStats, TotalsAboveTheIntegerRangeAreFloats) {
    ensure_evaluator();
    BigBlock big{};
    big.size = 3000000000LL;
    memory::Record frames;
    frames.big_first = &big;
    Cell* out = stack::push_raw();
    EXPECT_EQ(memory::collect_stats_of(frames, out, memory::STATS_DETAILED), 3e9);
    Cell sizes = item(*out, 2);
    Cell size = item(sizes, 0);
    EXPECT_EQ(type_of(&size), TYPE_FLOAT);
    EXPECT_TRUE(cell::new_line_q(&size));
    Cell total = item(*out, 3);
    EXPECT_EQ(type_of(&total), TYPE_FLOAT);
    stack::pop(1);

    Cell n;
    EXPECT_EQ(type_of(memory::make_stat_number(&n, 2147483647.0)), TYPE_INTEGER);
    EXPECT_EQ(type_of(memory::make_stat_number(&n, 2147483648.0)), TYPE_FLOAT);
}

TEST(MemoryStats, StatsNeverCollects) {
    ensure_evaluator();
    CollectorSwitch restore;
    collector::enabled = true;
    uint32_t cycles = collector::series_cycles;
    int32_t words[natives::MAX_REFINEMENTS];
    for (int32_t& w : words) w = -1;
    std::string error = guarded([&] {
        Cell w = word_of("stats");
        stack::mark_native(&w);
        stack::push_raw();
        natives::stats_star(false, words);
        EXPECT_EQ(type_of(stack::arguments), TYPE_INTEGER);
        words[1] = 0;  // /info
        natives::stats_star(false, words);
        EXPECT_EQ(block::zs_length_q(stack::arguments), 5);
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(collector::series_cycles, cycles);
    EXPECT_TRUE(collector::enabled) << "the switch is restored";
}

TEST(MemoryStats, StatsNativeReportsTheMemoryInUse) {
    Evaluated r = eval_source("stats");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(type_of(&r.value), TYPE_INTEGER);
    EXPECT_GT(int32_t(r.value.w2), 0);
    EXPECT_EQ(run_source("length? stats/info"), "5");
    // /show hands the /info block to the library's printer and gives unset.
    EXPECT_EQ(run_source("show-memory-stats: func [data] [got: data 0] stats/show"), "unset");
    EXPECT_EQ(run_source("length? got"), "5");
}

TEST(Recycle, CollectsAndSwitchesTheCollector) {
    CollectorSwitch restore;
    ensure_evaluator();
    uint32_t cycles = collector::series_cycles;
    Evaluated r = eval_source("recycle");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(type_of(&r.value), TYPE_INTEGER);
    EXPECT_EQ(collector::series_cycles, cycles + 1);
    EXPECT_EQ(run_source("recycle/on"), "unset");
    EXPECT_TRUE(collector::enabled);
    EXPECT_EQ(run_source("recycle/off"), "unset");
    EXPECT_FALSE(collector::enabled);
}
