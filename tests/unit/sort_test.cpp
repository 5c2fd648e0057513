#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "runtime/sort.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

// A record: a key to sort by and the position it started at.
struct Rec {
    int32_t key;
    int32_t origin;
};

struct Counter {
    int64_t compares = 0;
};

int32_t by_key(const uint8_t* a, const uint8_t* b, void* counter, void*) {
    static_cast<Counter*>(counter)->compares++;
    Rec x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x.key < y.key ? -1 : x.key > y.key ? 1 : 0;
}

using Sort = void (*)(uint8_t*, int32_t, int32_t, void*, void*, sorting::CompareFn);

std::vector<Rec> records(const std::vector<int32_t>& keys) {
    std::vector<Rec> r;
    for (size_t i = 0; i < keys.size(); i++) r.push_back({keys[i], int32_t(i)});
    return r;
}

int64_t run(Sort sort, std::vector<Rec>& r) {
    Counter c;
    sort(reinterpret_cast<uint8_t*>(r.data()), int32_t(r.size()), int32_t(sizeof(Rec)), &c, nullptr, by_key);
    return c.compares;
}

// Input shapes worth sorting, by name.
std::vector<int32_t> shape(const std::string& name, int32_t n) {
    std::mt19937 rng(uint32_t(n) * 31 + uint32_t(name.size()));
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) {
        if (name == "random") v[i] = int32_t(rng() % 1000000);
        else if (name == "ascending") v[i] = i;
        else if (name == "descending") v[i] = n - i;
        else if (name == "equal") v[i] = 7;
        else if (name == "three-values") v[i] = int32_t(rng() % 3);
        else if (name == "sawtooth") v[i] = i % 37;
        else if (name == "organ-pipe") v[i] = i < n / 2 ? i : n - i;
        else if (name == "nearly-sorted" || name == "nearly-reversed") v[i] = i;
    }
    if (name == "nearly-sorted" || name == "nearly-reversed") {
        for (int32_t k = 0; k < n / 50 + 1 && n > 1; k++) std::swap(v[rng() % n], v[rng() % n]);
        if (name == "nearly-reversed") std::reverse(v.begin(), v.end());
    }
    return v;
}

const char* const SHAPES[] = {"random", "ascending", "descending", "equal", "three-values",
                               "sawtooth", "organ-pipe", "nearly-sorted", "nearly-reversed"};
const int32_t SIZES[] = {0, 1, 2, 3, 7, 8, 9, 23, 24, 25, 63, 64, 100, 511, 512, 513, 1000, 4099, 20000};

void expect_sorted(const std::vector<Rec>& r, const std::vector<int32_t>& keys, bool stable, const std::string& what) {
    std::vector<int32_t> expected = keys;
    std::sort(expected.begin(), expected.end());
    std::vector<int32_t> got;
    std::vector<bool> seen(keys.size());
    for (const Rec& x : r) {
        got.push_back(x.key);
        ASSERT_FALSE(seen[x.origin]) << what << ": a record was duplicated";
        seen[x.origin] = true;
    }
    ASSERT_EQ(got, expected) << what;
    if (!stable) return;
    for (size_t i = 1; i < r.size(); i++) {
        if (r[i - 1].key == r[i].key) {
            ASSERT_LT(r[i - 1].origin, r[i].origin) << what << ": order of equals lost";
        }
    }
}

}  // namespace

TEST(Sorting, BothSortsOrderEveryShapeAndSize) {
    struct { const char* name; Sort sort; bool stable; } sorts[] = {
        {"quick_sort", sorting::quick_sort, false},
        {"merge_sort", sorting::merge_sort, true},
    };
    for (auto& s : sorts)
        for (const char* name : SHAPES)
            for (int32_t n : SIZES) {
                std::vector<int32_t> keys = shape(name, n);
                std::vector<Rec> r = records(keys);
                run(s.sort, r);
                expect_sorted(r, keys, s.stable, std::string(s.name) + " " + name + " " + std::to_string(n));
            }
}

TEST(Sorting, PresortedInputCostsOneComparePerPair) {
    // The default sort finds an ordered or reverse-ordered input in one pass;
    // the stable sort sees one run (a descending one reversed, with no merge).
    struct { Sort sort; const char* name; int32_t n; int64_t compares; } cases[] = {
        {sorting::quick_sort, "ascending", 10000, 9999},
        {sorting::quick_sort, "descending", 10000, 9999},
        {sorting::merge_sort, "ascending", 1000, 999},
        {sorting::merge_sort, "descending", 1000, 999},
        {sorting::quick_sort, "random", 0, 0},
        {sorting::quick_sort, "random", 1, 0},
        {sorting::merge_sort, "random", 0, 0},
        {sorting::merge_sort, "random", 1, 0},
    };
    for (auto& c : cases) {
        std::vector<int32_t> keys = shape(c.name, c.n);
        std::vector<Rec> r = records(keys);
        EXPECT_EQ(run(c.sort, r), c.compares) << c.name << " " << c.n;
        expect_sorted(r, keys, false, c.name);
    }
}

TEST(Sorting, DefaultSortStaysNearNLogN) {
    // Random input and inputs the pivot choice could trip over.
    for (const char* name : {"random", "organ-pipe", "sawtooth", "nearly-sorted", "three-values"}) {
        std::vector<int32_t> keys = shape(name, 100000);
        std::vector<Rec> r = records(keys);
        int64_t compares = run(sorting::quick_sort, r);
        EXPECT_LT(compares, 100000LL * 17 * 3 / 2) << name;  // n log2 n is about 1.7 million
    }
}

TEST(Sorting, OddWidthsAndBytes) {
    // Three-byte records swap byte by byte; the key is the first byte.
    std::mt19937 rng(5);
    std::vector<uint8_t> bytes(3 * 300);
    for (auto& b : bytes) b = uint8_t(rng());
    auto first_byte = [](const uint8_t* a, const uint8_t* b, void*, void*) { return int32_t(a[0]) - int32_t(b[0]); };
    for (Sort sort : {sorting::quick_sort, sorting::merge_sort}) {
        std::vector<uint8_t> r = bytes;
        sort(r.data(), 300, 3, nullptr, nullptr, first_byte);
        for (int i = 1; i < 300; i++) ASSERT_LE(r[3 * (i - 1)], r[3 * i]);
        // Every record kept its three bytes together.
        std::vector<std::array<uint8_t, 3>> a, b;
        for (int i = 0; i < 300; i++) {
            a.push_back({bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]});
            b.push_back({r[3 * i], r[3 * i + 1], r[3 * i + 2]});
        }
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
    }
}

TEST(Sorting, PartitionUsesSortedSamplesAtEitherEnd) {
    for (int32_t hint : {100, -100, 2000, -2000, 3, -3}) {
        std::vector<int32_t> keys = shape("random", 20000);
        int32_t m = hint < 0 ? -hint : hint;
        if (hint > 0) std::sort(keys.begin(), keys.begin() + m);
        else std::sort(keys.end() - m, keys.end());
        std::vector<Rec> r = records(keys);
        Counter c;
        sorting::partition_sort(reinterpret_cast<uint8_t*>(r.data()), hint, int32_t(r.size()), int32_t(sizeof(Rec)),
                                &c, nullptr, by_key);
        expect_sorted(r, keys, false, "hint " + std::to_string(hint));
    }
}

TEST(Sorting, MergeBufferTooLongIsRefusedBeforeAnythingMoves) {
    test::ensure_runtime();
    uint8_t untouched[4] = {};
    auto never = [](const uint8_t*, const uint8_t*, void*, void*) -> int32_t { ADD_FAILURE(); return 0; };
    // 2^20-byte records, 2^13 of them: a 2^32-byte buffer.
    EXPECT_EQ(test::raised([&] { sorting::merge_sort(untouched, 1 << 13, 1 << 20, nullptr, nullptr, never); }),
              "script/too-long");
}

TEST(Sorting, CountRunReversesAStrictlyDescendingRun) {
    std::vector<Rec> r = records({5, 4, 3, 3, 1});
    Counter c;
    auto* base = reinterpret_cast<uint8_t*>(r.data());
    uint8_t* end = sorting::count_run(base, base + 5 * sizeof(Rec), sizeof(Rec), &c, nullptr, by_key);
    EXPECT_EQ((end - base) / int32_t(sizeof(Rec)), 3);  // 5 4 3, stopped by the equal pair
    EXPECT_EQ(r[0].key, 3);
    EXPECT_EQ(r[2].key, 5);
    r = records({1, 2, 2, 0});
    base = reinterpret_cast<uint8_t*>(r.data());
    end = sorting::count_run(base, base + 4 * sizeof(Rec), sizeof(Rec), &c, nullptr, by_key);
    EXPECT_EQ((end - base) / int32_t(sizeof(Rec)), 3);  // an ordered run takes equal neighbours
}
