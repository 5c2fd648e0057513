#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/memory_frames.hpp"
#include "runtime/throw.hpp"

using namespace zuv;

namespace {

constexpr int64_t MB = 1 << 20;

// Brings the memory manager up as the runtime initialisation does, unless
// something already did.
void ensure_memory() {
    if (memory::record.node_first || memory::record.series_first) return;
    memory::init();
    memory::new_node_frame();
    memory::new_series_frame();
}

class Memory : public ::testing::Test {
protected:
    void SetUp() override { ensure_memory(); }
};
using CellHelpers = Memory;

template <class Body>
void expect_internal_error(const char* id, Body&& body) {
    try {
        body();
        ADD_FAILURE() << "expected internal " << id;
    } catch (const Throw& t) {
        EXPECT_EQ(t.code, THROW_ERROR);
        EXPECT_EQ(runtime::pending_error().category, ErrorCategory::internal);
        EXPECT_STREQ(runtime::pending_error().id, id);
    }
    runtime::thrown_code = 0;  // handled: no code stays pending for the tests that follow
}

SeriesFrame* frame_holding(const void* p) {
    for (SeriesFrame* f = memory::record.series_first; f; f = f->next)
        if (p >= static_cast<const void*>(f->first()) && p < static_cast<const void*>(f->heap)) return f;
    return nullptr;
}

bool in_big_list(const SeriesBuffer* b) {
    for (BigBlock* k = memory::record.big_first; k; k = k->next)
        if (k->buffer() == b) return true;
    return false;
}

int64_t frame_area(const SeriesFrame* f) { return f->end - const_cast<SeriesFrame*>(f)->first(); }

// A byte series holding text, in an area of at least room bytes.
Node bytes_with(const char* text, int32_t offset = 0, int64_t room = 0) {
    Node n = memory::alloc_series(std::max<int64_t>(room, int64_t(std::strlen(text))), 1, offset);
    SeriesBuffer* b = memory::buffer_of(n);
    std::memcpy(memory::tail_of(b), text, std::strlen(text));
    b->tail += int32_t(std::strlen(text));
    return n;
}

std::string text_of(Node n) {
    SeriesBuffer* b = memory::buffer_of(n);
    return std::string(reinterpret_cast<char*>(memory::head_of(b)), size_t(memory::used_bytes(b)));
}

}  // namespace

// The need is the rounded size + 24, so it is never exactly 2 MB: the largest
// size kept in a frame is 2 MB - 32 (need 2 MB - 8), the next one up goes to a big block.
TEST_F(Memory, BigBlockBoundaryLiesAtTheRoundedNeed) {
    struct Case { int64_t bytes; bool big; } cases[] = {
        {2 * MB - 32, false},
        {2 * MB - 31, true},
        {2 * MB, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        Node n = memory::alloc_bytes(c.bytes);
        SeriesBuffer* b = memory::buffer_of(n);
        EXPECT_EQ(b->size, (c.bytes + 15) / 16 * 16);
        EXPECT_EQ((b->flags & SERIES_BIG) != 0, c.big);
        EXPECT_EQ(in_big_list(b), c.big);
        EXPECT_EQ(frame_holding(b) != nullptr, !c.big);
        EXPECT_EQ(b->node, n);
    }
}

TEST_F(Memory, EmptyRequestsGetSixteenBytes) {
    struct Case { Node node; int32_t unit; } cases[] = {
        {memory::alloc_bytes(0), 1},
        {memory::alloc_codepoints(0, 1), 1},
        {memory::alloc_codepoints(0, 2), 2},
        {memory::alloc_codepoints(0, 4), 4},
    };
    for (const Case& c : cases) {
        SeriesBuffer* b = memory::buffer_of(c.node);
        EXPECT_EQ(b->size, 16);
        EXPECT_EQ(int32_t(memory::unit_of(b)), c.unit);
        EXPECT_EQ(memory::used_bytes(b), 0);
    }
    EXPECT_EQ(memory::buffer_of(memory::alloc_codepoints(0, 4))->size / 4, 4);
}

TEST_F(Memory, OffsetMinusOnePlacesTheHeadMidBuffer) {
    SeriesBuffer* mid = memory::buffer_of(memory::alloc_series(32, 1, -1));
    EXPECT_EQ(mid->head, 16);
    EXPECT_EQ(mid->tail, 16);
    EXPECT_EQ(mid->flags & (SERIES_MIDDLE_HEAD | SERIES_ALLOCATED | SERIES_IN_USE),
              SERIES_MIDDLE_HEAD | SERIES_ALLOCATED | SERIES_IN_USE);

    SeriesBuffer* plain = memory::buffer_of(memory::alloc_series(2, 16, 16));
    EXPECT_EQ(plain->head, 16);
    EXPECT_EQ(plain->flags, 16u | SERIES_ALLOCATED | SERIES_IN_USE);
}

TEST_F(Memory, GrowthDoublesKeepsContentAndFlagsAndAbandonsTheOldBuffer) {
    Node n = bytes_with("0123456789", -1, 32);  // head at 16
    memory::set_series_flags(n, SERIES_OWNED | SERIES_COMPLEMENT);
    SeriesBuffer* old = memory::buffer_of(n);
    uint32_t flags = old->flags;
    ASSERT_EQ(old->head, 16);
    ASSERT_EQ(memory::used_bytes(old), 10);

    SeriesBuffer* grown = memory::expand_series(n, 0);
    EXPECT_EQ(grown, memory::buffer_of(n));
    EXPECT_EQ(grown->size, 64);
    EXPECT_EQ(grown->flags, flags);
    EXPECT_EQ(grown->node, n);
    EXPECT_EQ(text_of(n), "0123456789");
    EXPECT_EQ(old->node, 0u);
    EXPECT_EQ(old->flags & SERIES_IN_USE, 0u);

    // Without copying, the used length is kept all the same.
    SeriesBuffer* moved = memory::grow_series_buffer(n, 100);
    EXPECT_EQ(moved->size, 112);
    EXPECT_EQ(memory::used_bytes(moved), 10);
}

TEST_F(Memory, GrowthToANonPositiveOrOversizedSizeRaisesNoMemory) {
    Node n = bytes_with("abc");
    SeriesBuffer* before = memory::buffer_of(n);
    for (int64_t size : {int64_t(-16), int64_t(INT32_MAX) + 1, int64_t(1) << 40}) {
        SCOPED_TRACE(size);
        expect_internal_error("no-memory", [&] { memory::expand_series(n, size); });
    }
    // The series is left as it was.
    EXPECT_EQ(memory::buffer_of(n), before);
    EXPECT_NE(before->flags & SERIES_IN_USE, 0u);
    EXPECT_EQ(text_of(n), "abc");
}

// count x unit used to be computed in 32 bits: 2^28 cells wrapped to a
// zero-byte buffer that the caller then wrote 4 GB into.
TEST_F(Memory, OversizedRequestsRaiseNoMemoryAndTouchNothing) {
    SeriesFrame* active = memory::record.series_active;
    uint8_t* heap = active->heap;
    int64_t reserved = memory::record.reserved;
    struct Case { int64_t count; int32_t unit; } cases[] = {
        {int64_t(1) << 28, 16},   // 4 GB: wraps to 0 in 32 bits
        {int64_t(1) << 27, 16},   // 2 GB: one past INT32_MAX
        {INT32_MAX, 1},           // rounds up past INT32_MAX
        {INT64_MAX, 16},          // overflows even 64 bits
        {-1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        expect_internal_error("no-memory", [&] { memory::alloc_series(c.count, c.unit, 0); });
    }
    expect_internal_error("no-memory", [] { memory::alloc_fixed_series(int64_t(1) << 28, 16, 0); });
    EXPECT_EQ(memory::record.series_active, active);
    EXPECT_EQ(active->heap, heap);
    EXPECT_EQ(memory::record.reserved, reserved);
}

TEST_F(Memory, PlatformRefusalsBecomeInternalErrors) {
    int64_t reserved = memory::record.reserved;
    expect_internal_error("no-memory", [] { memory::alloc_frame(int64_t(1) << 50); });
    EXPECT_EQ(memory::record.reserved, reserved);

    // A release the platform refuses: a size word placed off any page boundary.
    alignas(4096) static uint8_t fake[8192];
    *reinterpret_cast<int64_t*>(fake + 8) = 4096;
    expect_internal_error("wrong-mem", [] { memory::free_frame(fake + 16); });
    memory::record.reserved = reserved;
}

TEST_F(Memory, SeriesFramesAreOneMegabyteThenTwo) {
    bool one_mb_frame = false;
    for (SeriesFrame* f = memory::record.series_first; f; f = f->next) one_mb_frame |= frame_area(f) == MB;
    // A stress collection (of an earlier test in the same process) moves
    // every buffer out of the start-up frame and retires it.
    bool start_up_frame_kept = true;
#ifdef ZUV_GC_STRESS
    start_up_frame_kept = collector::series_cycles == 0;
#endif
    if (start_up_frame_kept) {
        EXPECT_TRUE(one_mb_frame);
    }
    EXPECT_EQ(memory::record.frame_next_size, 2 * MB);

    for (int i = 0; i < 2; ++i) {
        std::set<SeriesFrame*> before;
        for (SeriesFrame* f = memory::record.series_first; f; f = f->next) before.insert(f);
        memory::new_series_frame();
        for (SeriesFrame* f = memory::record.series_first; f; f = f->next) {
            if (!before.count(f)) {
                EXPECT_EQ(frame_area(f), 2 * MB);
            }
        }
    }
    for (SeriesFrame* f = memory::record.series_first; f && f->next; f = f->next) {
        EXPECT_LT(f, f->next);
        EXPECT_EQ(f->next->prev, f);
    }
}

TEST_F(Memory, ANeedAsLargeAsTheNextFrameGetsAMaximumFrame) {
    // Start from an empty frame list whose next frame would be 1 MB.
    memory::Record saved = memory::record;
    memory::record.series_first = memory::record.series_active = memory::record.series_last = nullptr;
    memory::record.frame_next_size = SERIES_FRAME_BASE_SIZE;
    auto restore_frames = [&] {
        memory::record.series_first = saved.series_first;
        memory::record.series_active = saved.series_active;
        memory::record.series_last = saved.series_last;
        memory::record.frame_next_size = saved.frame_next_size;
    };

    Node n = memory::alloc_bytes(MB + MB / 2);
    SeriesFrame* f = memory::record.series_first;
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(frame_area(f), 2 * MB);
    EXPECT_EQ(frame_holding(memory::buffer_of(n)), f);

    memory::free_node(n);
    memory::unlink_series_frame(f);
    restore_frames();
}

TEST_F(Memory, NodeIdsAreNeverZeroAndFreedNodesAreReused) {
    auto nodes_in_use = [] {
        int64_t used = 0;
        for (NodeFrame* f = memory::record.node_first; f; f = f->next) used += f->used;
        return used;
    };
    int64_t used_before = nodes_in_use();
    std::vector<Node> nodes;
    std::set<Node> distinct;
    for (int i = 0; i < NODE_FRAME_SLOTS + 10; ++i) {  // spills into another frame
        Node n = memory::alloc_node();
        EXPECT_NE(n, 0u);
        EXPECT_GE(n >> NODE_SLOT_BITS, 1u);
        EXPECT_LT(int32_t(n & NODE_SLOT_MASK), NODE_FRAME_SLOTS);
        nodes.push_back(n);
        distinct.insert(n);
    }
    EXPECT_EQ(distinct.size(), nodes.size());

    Node last = nodes.back();
    NodeFrame* frame = memory::node_frame_of(last);
    int32_t used = frame->used;
    memory::free_node(last);
    EXPECT_EQ(frame->used, used - 1);
    EXPECT_TRUE(memory::slot_free_q(memory::node_slots[last >> NODE_SLOT_BITS][last & NODE_SLOT_MASK]));
    EXPECT_EQ(memory::alloc_node(), last);

    for (Node n : nodes) memory::free_node(n);
    EXPECT_EQ(nodes_in_use(), used_before);
}

TEST_F(Memory, FilledCopiedAndUnsetBuffers) {
    SeriesBuffer* filled = memory::buffer_of(memory::alloc_filled_bytes(5, 0xAB));
    EXPECT_EQ(filled->size, 16);
    EXPECT_EQ(memory::used_bytes(filled), 5);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(filled->data()[i], 0xAB);

    Node n = bytes_with("hello", -1);
    memory::set_series_flags(n, SERIES_OWNED | SERIES_COMPLEMENT);
    Node copy = memory::copy_series_buffer(n);
    SeriesBuffer* c = memory::buffer_of(copy);
    EXPECT_EQ(c->size, memory::buffer_of(n)->size);
    EXPECT_EQ(text_of(copy), "hello");
    EXPECT_EQ(c->flags, memory::buffer_of(n)->flags & ~SERIES_OWNED);

    SeriesBuffer* wide = memory::expand_series_filled(copy, 64, 0x5A);
    EXPECT_EQ(text_of(copy), "hello");
    for (int i = 16; i < 64; ++i) EXPECT_EQ(wide->data()[i], 0x5A);

    SeriesBuffer* cells = memory::buffer_of(memory::alloc_unset_cells(3));
    for (int i = 0; i < 3; ++i) {
        const Cell* k = reinterpret_cast<Cell*>(cells->data()) + i;
        EXPECT_EQ(k->header, uint32_t(TYPE_UNSET));
        EXPECT_EQ(k->w1 | k->w2 | k->w3, 0u);
    }
}

TEST_F(Memory, FixedSeriesStayOutsideTheFramesWhenGrown) {
    Node n = memory::alloc_fixed_series(4, 16, 0);
    SeriesBuffer* b = memory::buffer_of(n);
    EXPECT_EQ(b->flags, 16u | SERIES_FIXED | SERIES_ALLOCATED | SERIES_IN_USE);
    EXPECT_EQ(b->size, 64);
    EXPECT_EQ(frame_holding(b), nullptr);

    SeriesBuffer* grown = memory::expand_series(n, 0);
    EXPECT_EQ(grown->size, 128);
    EXPECT_NE(grown->flags & SERIES_FIXED, 0u);
    EXPECT_EQ(frame_holding(grown), nullptr);
    EXPECT_FALSE(in_big_list(grown));
}

namespace {
std::vector<Node> released_nodes;
void record_release(Node n) { released_nodes.push_back(n); }
}  // namespace

TEST_F(Memory, SweepReleasesUnmarkedBigBlocksOnly) {
    Node keep = memory::alloc_bytes(3 * MB);
    Node drop = memory::alloc_bytes(3 * MB);
    SeriesBuffer* kept = memory::buffer_of(keep);
    kept->flags |= SERIES_MARK;
    // Every other big block of this process is kept as well.
    for (BigBlock* k = memory::record.big_first; k; k = k->next)
        if (k->buffer()->node != drop) k->buffer()->flags |= SERIES_MARK;
    int64_t reserved = memory::record.reserved;

    released_nodes.clear();
    memory::sweep_big(record_release);
    EXPECT_EQ(released_nodes, std::vector<Node>{drop});
    EXPECT_TRUE(in_big_list(kept));
    EXPECT_EQ(kept->flags & SERIES_MARK, 0u);
    EXPECT_LT(memory::record.reserved, reserved - 3 * MB);
    memory::free_node(drop);

    memory::free_big(kept);
    EXPECT_FALSE(in_big_list(kept));
    memory::free_node(keep);
}

TEST_F(CellHelpers, AppendingToAFullBlockDoublesIt) {
    Node n = memory::alloc_cells(4);
    for (uint32_t i = 1; i <= 4; ++i) {
        Cell* c = cell::alloc_tail_cell(n);
        c->w1 = i;
        cell::set_type(c, TYPE_INTEGER);
    }
    ASSERT_EQ(memory::buffer_of(n)->size, 64);

    Cell block{TYPE_BLOCK, 0, n, 0};
    Cell* fifth = cell::append_new_cell(&block);
    SeriesBuffer* b = memory::buffer_of(n);
    EXPECT_EQ(b->size, 128);
    EXPECT_EQ(memory::length_of(b), 5);
    const Cell* cells = memory::cells_head(b);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(type_of(cells + i), TYPE_INTEGER);
        EXPECT_EQ(cells[i].w1, i + 1);
    }
    EXPECT_EQ(fifth, cells + 4);
    EXPECT_EQ(type_of(fifth), TYPE_UNSET);
}

TEST_F(CellHelpers, AppendingToAnEmptyCellAreaGrowsIt) {
    Node n = memory::alloc_cells(0);
    Cell* c = cell::alloc_tail_cell(n);
    EXPECT_EQ(memory::buffer_of(n)->size, 16);
    EXPECT_EQ(c, memory::cells_head(memory::buffer_of(n)));
}

TEST_F(CellHelpers, ReservingTailBytesGrowsToTwiceTheRequestOrTheSize) {
    // The request becomes the new size, rounded up to 16: 200 bytes give 208.
    struct Case { int32_t n; int32_t size; } cases[] = {{100, 208}, {8, 32}, {16, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        Node node = bytes_with("0123456789abcdef");
        ASSERT_EQ(memory::buffer_of(node)->size, 16);
        uint8_t* at = cell::reserve_tail_bytes(node, c.n);
        SeriesBuffer* b = memory::buffer_of(node);
        EXPECT_EQ(b->size, c.size);
        EXPECT_EQ(at, b->data() + 16);
        EXPECT_EQ(memory::used_bytes(b), 16 + c.n);
        EXPECT_EQ(text_of(node).substr(0, 16), "0123456789abcdef");
    }
    Node roomy = memory::alloc_bytes(32);
    SeriesBuffer* before = memory::buffer_of(roomy);
    EXPECT_EQ(cell::reserve_tail_bytes(roomy, 32), before->data());
    EXPECT_EQ(memory::buffer_of(roomy), before);
}

TEST_F(CellHelpers, CopyPartDropsTheOwnedFlagAndStaysInsideTheSeries) {
    Node n = bytes_with("abcdefgh");
    memory::set_series_flags(n, SERIES_OWNED | SERIES_COMPLEMENT);
    struct Case { int32_t offset, count; const char* text; } cases[] = {
        {2, 3, "cde"}, {6, 10, "gh"}, {9, 2, ""}, {-3, 2, "ab"}, {1, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Node part = cell::copy_part(n, c.offset, c.count);
        EXPECT_EQ(text_of(part), c.text);
        uint32_t flags = memory::buffer_of(part)->flags;
        EXPECT_EQ(flags & SERIES_OWNED, 0u);
        EXPECT_NE(flags & SERIES_COMPLEMENT, 0u);
    }

    // Offsets and counts are in units of the source.
    Node wide = memory::alloc_codepoints(4, 4);
    SeriesBuffer* w = memory::buffer_of(wide);
    const uint32_t chars[4] = {0x10000, 0x41, 0x42, 0x1F600};
    std::memcpy(w->data(), chars, sizeof chars);
    w->tail = 16;
    SeriesBuffer* part = memory::buffer_of(cell::copy_part(wide, 1, 2));
    EXPECT_EQ(memory::unit_of(part), 4u);
    ASSERT_EQ(memory::length_of(part), 2);
    EXPECT_EQ(std::memcmp(memory::head_of(part), chars + 1, 8), 0);
}
