#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

struct Series : ::testing::Test {
    void SetUp() override {
        test::ensure_runtime();
        cycles::reset();
    }
};

Cell integer_of(int32_t v) {
    Cell c{};
    return *integer::make_at(&c, v);
}

Cell block_of(std::initializer_list<int32_t> values) {
    Cell b{};
    block::make_at(&b, int32_t(values.size()));
    for (int32_t v : values) integer::make_in(&b, v);
    return b;
}

Cell string_of(const char* text) {
    Cell s{};
    string::zs_make_at(&s, 16);
    string::concatenate_literal(&s, text);
    return s;
}

// The integers of a block from its head.
std::vector<int32_t> ints(const Cell& b) {
    std::vector<int32_t> out;
    Cell v = b;
    for (int32_t i = int32_t(v.w1), n = series::total_length(&v); i < n; i++)
        out.push_back(integer::get_value(block::zs_abs_at(&v, i)));
    return out;
}

using Ints = std::vector<int32_t>;

// A call's cells as the action entries lay them out: the value (the result
// slot) first, then the refinements' arguments above it.
struct Call {
    Cell cells[4] = {};
    Cell* value() { return &cells[0]; }
    Cell* arg(int i) { return &cells[i]; }
};

}  // namespace

TEST_F(Series, AtAndSkipClampAtBothEnds) {
    Cell s = block_of({1, 2, 3, 4});
    struct { int32_t start; bool at; int32_t n; int32_t head; } cases[] = {
        {0, true, 0, 0},     {0, true, 1, 0},     {2, true, 0, 2},    {2, true, -1, 1},
        {0, true, 1000, 4},  {2, false, -100, 0}, {1, false, 2, 3},   {1, false, 100, 4},
        {3, true, INT_MIN, 0}, {3, false, INT_MAX, 4},
    };
    for (auto& c : cases) {
        Cell v = s;
        v.w1 = uint32_t(c.start);
        Cell n = integer_of(c.n);
        c.at ? series::at(&v, &n) : series::skip(&v, &n);
        EXPECT_EQ(int32_t(v.w1), c.head) << (c.at ? "at " : "skip ") << c.start << " " << c.n;
    }
    Cell v = s;
    Cell text = string_of("2");
    EXPECT_EQ(test::raised([&] { series::at(&v, &text); }), "script/invalid-arg");
}

TEST_F(Series, NavigationAndPositionTests) {
    Cell s = block_of({1, 2, 3});
    Cell v = s;
    series::tail(&v);
    EXPECT_EQ(int32_t(v.w1), 3);
    series::next(&v);
    EXPECT_EQ(int32_t(v.w1), 3);
    Cell i = v;
    EXPECT_EQ(integer::get_value(series::index_q(&i)), 4);  // index? tail s is the length + 1
    Cell q = v;
    EXPECT_EQ(series::tail_q(&q)->w1, 1u);
    series::head(&v);
    series::back(&v);
    EXPECT_EQ(int32_t(v.w1), 0);
    for (int32_t head = 0; head < 3; head++) {
        Cell h = s;
        h.w1 = uint32_t(head);
        EXPECT_EQ(series::head_q(&h)->w1, head == 0 ? 1u : 0u) << head;
    }
    // A head left past a shortened tail reads as the tail.
    Cell past = s;
    past.w1 = 10;
    EXPECT_EQ(series::length_q(&past), 0);
    EXPECT_EQ(int32_t(past.w1), 3);
}

TEST_F(Series, PickAndPoke) {
    Cell s = block_of({10, 20, 30});
    Cell v = s;
    EXPECT_EQ(type_of(series::pick(&v, 0, nullptr)), TYPE_NONE);
    v = s;
    EXPECT_EQ(type_of(series::pick(&v, 4, nullptr)), TYPE_NONE);
    v = s;
    series::next(&v);
    EXPECT_EQ(integer::get_value(series::pick(&v, -1, nullptr)), 10);  // pick next s -1
    v = s;
    series::next(&v);
    EXPECT_EQ(type_of(series::pick(&v, -2, nullptr)), TYPE_NONE);

    Cell x = integer_of(99);
    v = s;
    EXPECT_EQ(test::raised([&] { series::poke(&v, 0, &x, nullptr); }), "script/out-of-range");
    EXPECT_EQ(test::raised([&] { series::poke(&v, 4, &x, nullptr); }), "script/out-of-range");
    EXPECT_EQ(ints(s), (Ints{10, 20, 30}));
    EXPECT_EQ(series::poke(&v, 2, &x, nullptr), &x);  // poke answers the new value
    EXPECT_EQ(ints(s), (Ints{10, 99, 30}));

    // A string picks and pokes characters; a non-char is refused.
    Cell t = string_of("abc");
    Cell c = t;
    const Cell* picked = series::pick(&c, 2, nullptr);
    EXPECT_EQ(type_of(picked), TYPE_CHAR);
    EXPECT_EQ(picked->w2, uint32_t('b'));
    Cell e{TYPE_CHAR, 0, 233, 0};
    c = t;
    series::poke(&c, 1, &e, nullptr);
    EXPECT_EQ(string::char_at(&t, 0), 233u);
    EXPECT_EQ(test::raised([&] { series::poke(&c, 1, &x, nullptr); }), "script/invalid-arg");
}

TEST_F(Series, ReverseWithPartAndSkip) {
    constexpr int32_t ABSENT = INT_MIN;
    struct { Ints in; int32_t part; int32_t skip; Ints out; const char* error; } cases[] = {
        {{1, 2, 3, 4}, ABSENT, ABSENT, {4, 3, 2, 1}, ""},
        {{1, 2, 3, 4}, 2, ABSENT, {2, 1, 3, 4}, ""},
        {{1, 2, 3, 4}, 100, ABSENT, {4, 3, 2, 1}, ""},  // a /part past the tail is capped
        {{1, 2, 3}, -1, ABSENT, {1, 2, 3}, ""},
        {{1, 2, 3, 4, 5, 6}, ABSENT, 2, {5, 6, 3, 4, 1, 2}, ""},
        {{1, 2, 3, 4}, ABSENT, 4, {1, 2, 3, 4}, ""},
        {{1, 2, 3}, ABSENT, 2, {1, 2, 3}, "script/invalid-refine-arg"},
        {{1, 2, 3}, ABSENT, 0, {1, 2, 3}, "script/out-of-range"},
        {{1, 2}, ABSENT, 3, {1, 2}, "script/invalid-refine-arg"},
    };
    for (auto& c : cases) {
        Cell b = block_of({});
        for (int32_t v : c.in) integer::make_in(&b, v);
        Call call;
        *call.value() = b;
        Cell* part = c.part == ABSENT ? nullptr : integer::make_at(call.arg(1), c.part);
        Cell* skip = c.skip == ABSENT ? nullptr : integer::make_at(call.arg(2), c.skip);
        EXPECT_EQ(test::raised([&] { series::reverse(call.value(), part, skip); }), c.error);
        EXPECT_EQ(ints(b), c.out) << "part " << c.part << " skip " << c.skip;
    }
    // /part as a position of the same series; another series is refused.
    Cell b = block_of({1, 2, 3, 4});
    Call call;
    *call.value() = b;
    *call.arg(1) = b;
    call.arg(1)->w1 = 3;
    series::reverse(call.value(), call.arg(1), nullptr);
    EXPECT_EQ(ints(b), (Ints{3, 2, 1, 4}));
    *call.arg(1) = block_of({1});
    EXPECT_EQ(test::raised([&] { series::reverse(call.value(), call.arg(1), nullptr); }), "script/invalid-refine-arg");
    EXPECT_EQ(type_of(&runtime::pending_error().args[0]), TYPE_REFINEMENT);  // naming /part
}

TEST_F(Series, TakeFromHeadOrTail) {
    Call call;
    *call.value() = block_of({});
    series::take(call.value(), nullptr, false, false);
    EXPECT_EQ(type_of(call.value()), TYPE_NONE);  // take [] is none

    Cell b = block_of({1, 2, 3});
    *call.value() = b;
    series::take(call.value(), nullptr, false, true);
    EXPECT_EQ(integer::get_value(call.value()), 3);
    EXPECT_EQ(ints(b), (Ints{1, 2}));  // take/last [1 2 3] leaves [1 2]

    struct { int32_t head; int32_t part; bool last; Ints taken; Ints left; } cases[] = {
        {0, 2, false, {1, 2}, {3, 4, 5}},
        {0, 2, true, {4, 5}, {1, 2, 3}},
        {0, 9, false, {1, 2, 3, 4, 5}, {}},
        {3, -2, false, {2, 3}, {1, 4, 5}},  // a negative count takes before the head
        {3, -9, false, {1, 2, 3}, {4, 5}},
        {1, 0, false, {}, {1, 2, 3, 4, 5}},
        {3, -1, true, {}, {1, 2, 3, 4, 5}},
    };
    for (auto& c : cases) {
        Cell s = block_of({1, 2, 3, 4, 5});
        *call.value() = s;
        call.value()->w1 = uint32_t(c.head);
        integer::make_at(call.arg(1), c.part);
        series::take(call.value(), call.arg(1), false, c.last);
        EXPECT_EQ(type_of(call.value()), TYPE_BLOCK);
        EXPECT_EQ(ints(*call.value()), c.taken) << c.head << " " << c.part;
        EXPECT_EQ(ints(s), c.left) << c.head << " " << c.part;
    }
    // take next [1] is none; a string gives a char.
    *call.value() = block_of({1});
    series::next(call.value());
    series::take(call.value(), nullptr, false, false);
    EXPECT_EQ(type_of(call.value()), TYPE_NONE);
    Cell t = string_of("xy");
    *call.value() = t;
    series::take(call.value(), nullptr, false, false);
    EXPECT_EQ(type_of(call.value()), TYPE_CHAR);
    EXPECT_EQ(call.value()->w2, uint32_t('x'));
    EXPECT_EQ(test::text_of(&t), "y");
}

TEST_F(Series, CopyWithPart) {
    Cell s = block_of({1, 2, 3, 4, 5});
    Call call;
    Cell result{};
    *call.value() = s;
    series::copy(call.value(), &result, nullptr, false, nullptr);
    EXPECT_EQ(ints(result), (Ints{1, 2, 3, 4, 5}));
    EXPECT_NE(result.w2, s.w2);

    call.value()->w1 = 2;  // copy/part s -2 at index 3: the two before the head
    integer::make_at(call.arg(1), -2);
    series::copy(call.value(), &result, call.arg(1), false, nullptr);
    EXPECT_EQ(ints(result), (Ints{1, 2}));

    call.value()->w1 = 0;  // copy/part s 2x4: elements 2 and 3
    *call.arg(1) = Cell{TYPE_PAIR, 0, 2, 4};
    series::copy(call.value(), &result, call.arg(1), false, nullptr);
    EXPECT_EQ(ints(result), (Ints{2, 3}));

    integer::make_at(call.arg(1), 99);  // cut at the tail
    call.value()->w1 = 3;
    series::copy(call.value(), &result, call.arg(1), false, nullptr);
    EXPECT_EQ(ints(result), (Ints{4, 5}));

    call.value()->w1 = 7;  // a head past the tail copies nothing
    series::copy(call.value(), &result, nullptr, false, nullptr);
    EXPECT_EQ(ints(result), Ints{});
}

TEST_F(Series, RemoveAndClear) {
    Cell s = block_of({1, 2, 3, 4, 5});
    Call call;
    *call.value() = s;
    call.value()->w1 = 1;
    series::remove(call.value(), nullptr, nullptr);
    EXPECT_EQ(ints(s), (Ints{1, 3, 4, 5}));
    integer::make_at(call.arg(1), 2);
    series::remove(call.value(), call.arg(1), nullptr);
    EXPECT_EQ(ints(s), (Ints{1, 5}));
    integer::make_at(call.arg(1), 0);
    series::remove(call.value(), call.arg(1), nullptr);
    EXPECT_EQ(ints(s), (Ints{1, 5}));
    series::clear(call.value());
    EXPECT_EQ(ints(s), (Ints{1}));
}

TEST_F(Series, MoveWithinAndBetweenSeries) {
    struct { int32_t origin; int32_t target; int32_t part; Ints out; } cases[] = {
        {0, 2, 1, {2, 3, 1, 4, 5}},  // just after the target's element
        {0, 5, 2, {3, 4, 5, 1, 2}},  // to the tail
        {3, 1, 2, {1, 4, 5, 2, 3}},  // just before the target's element
        {0, 0, 2, {1, 2, 3, 4, 5}},  // move/part s s 2 does nothing
        {0, 1, 2, {1, 2, 3, 4, 5}},  // into the moved stretch itself
    };
    for (auto& c : cases) {
        Cell s = block_of({1, 2, 3, 4, 5});
        Call call;
        *call.arg(0) = s;
        call.arg(0)->w1 = uint32_t(c.origin);
        *call.arg(1) = s;
        call.arg(1)->w1 = uint32_t(c.target);
        integer::make_at(call.arg(2), c.part);
        series::move(call.arg(0), call.arg(1), call.arg(2));
        EXPECT_EQ(ints(s), c.out) << c.origin << " -> " << c.target;
    }

    Cell from = block_of({1, 2, 3});
    Cell to = block_of({7});
    Call call;
    *call.arg(0) = from;
    *call.arg(1) = to;
    integer::make_at(call.arg(2), 2);
    series::move(call.arg(0), call.arg(1), call.arg(2));
    EXPECT_EQ(ints(from), (Ints{3}));
    EXPECT_EQ(ints(to), (Ints{1, 2, 7}));

    *call.arg(1) = string_of("ab");  // a block and a string cannot meet
    EXPECT_EQ(test::raised([&] { series::move(call.arg(0), call.arg(1), nullptr); }), "script/move-bad");
    *call.arg(1) = integer_of(1);
    EXPECT_EQ(test::raised([&] { series::move(call.arg(0), call.arg(1), nullptr); }), "script/expect-arg");
    EXPECT_EQ(ints(from), (Ints{3}));
}
