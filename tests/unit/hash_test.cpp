#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/hash.hpp"
#include "runtime/memory.hpp"
#include "runtime/murmur.hpp"
#include "runtime/symbols.hpp"
#include "runtime/datatypes/registry.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

namespace zuv {
namespace {

class HashTable : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }

    static Cell block_cell(Node node) { return Cell{TYPE_BLOCK, 0, node, 0}; }

    // A symbol! cell as the symbol table makes it: word 3 the UTF-8 name, tail at the NUL.
    static Cell symbol_cell(const std::string& name) {
        Node bytes = memory::alloc_bytes(int64_t(name.size()) + 1);
        SeriesBuffer* s = memory::buffer_of(bytes);
        std::memcpy(memory::head_of(s), name.c_str(), name.size() + 1);
        s->tail = s->head + int32_t(name.size());
        return Cell{TYPE_SYMBOL, uint32_t(-1), 0, bytes};
    }

    // Appends a cell to the table's block and puts it as a key; its position.
    static int32_t add_key(Node table, const Cell& key) {
        Node block = hash::table_of(table)->block;
        int32_t position = memory::length_of(memory::buffer_of(block));
        *cell::alloc_tail_cell(block) = key;
        hash::put_key(table, position);
        return position;
    }

    static int32_t position_of(Node table, const Cell* found) {
        return found == nullptr ? -1 : int32_t(found - hash::block_head(hash::table_of(table)));
    }

    static Cell string_cell(const std::vector<uint32_t>& chars, int32_t unit, uint32_t head = 0) {
        Node n = memory::alloc_codepoints(int64_t(chars.size()), unit);
        SeriesBuffer* s = memory::buffer_of(n);
        uint8_t* p = memory::head_of(s);
        for (uint32_t c : chars) {
            if (unit == 1) *p = uint8_t(c);
            else if (unit == 2) { uint16_t v = uint16_t(c); std::memcpy(p, &v, 2); }
            else std::memcpy(p, &c, 4);
            p += unit;
        }
        s->tail = s->head + int32_t(chars.size()) * unit;
        return Cell{TYPE_STRING, head, n, 0};
    }
};

TEST_F(HashTable, SizingFollowsTheLoadFactor) {
    struct Case { int32_t size, kind, buckets, upper; };
    const Case cases[] = {
        {0, hash::KIND_INTEGER, 8, 6},        // below 4 counts as 4: 4 / 0.77 rounds up to 8
        {3, hash::KIND_SYMBOL, 8, 6},
        {100, hash::KIND_INTEGER, 256, 197},
        {4000, hash::KIND_SYMBOL, 16384, 12615},  // the symbol table: doubled to 8000 first
        {4000, hash::KIND_INTEGER, 8192, 6307},
        {2, hash::KIND_HASH, 8, 6},
        {3, hash::KIND_MAP, 8, 6},
    };
    for (const auto& c : cases) {
        Node t = hash::make_table(c.size, nullptr, c.kind, 1);
        EXPECT_EQ(hash::table_of(t)->buckets, c.buckets) << c.size << " kind " << c.kind;
        EXPECT_EQ(hash::table_of(t)->upper, c.upper) << c.size << " kind " << c.kind;
        EXPECT_EQ(hash::table_of(t)->size, 0);
    }
    EXPECT_EQ(hash::round_up_power_of_two(1024), 1024);
    EXPECT_EQ(hash::round_up_power_of_two(1025), 2048);
}

// hash! tables (kind 0) over a block of integers.
class HashKeys : public HashTable {
protected:
    Cell block{};
    Node table = 0;

    void make(const std::vector<int32_t>& values) {
        block = Cell{TYPE_BLOCK, 0, memory::alloc_cells(int64_t(values.size()) + 1), 0};
        for (int32_t v : values) *cell::alloc_tail_cell(block.w2) = Cell{TYPE_INTEGER, 0, uint32_t(v), 0};
        table = hash::make_table(int32_t(values.size()), &block, hash::KIND_HASH, 0);
    }
    int32_t find(int32_t v, int32_t start = 0, int32_t skip = 1, bool last = false, bool reverse = false) {
        Cell key{TYPE_INTEGER, 0, uint32_t(v), 0};
        return hash::find_position(table, &key, start, skip, COMP_EQUAL, last, reverse);
    }
    int32_t length() { return memory::length_of(memory::buffer_of(block.w2)); }
    // Inserts value at position in the block, then tells the table.
    void insert(int32_t position, int32_t value) {
        int32_t total = length();
        cell::alloc_tail_cell(block.w2);
        Cell* head = memory::cells_for_write(memory::buffer_of(block.w2));
        std::memmove(head + position + 1, head + position, size_t(total - position) * sizeof(Cell));
        head[position] = Cell{TYPE_INTEGER, 0, uint32_t(value), 0};
        hash::cells_inserted(table, position, 1, total);
    }
    void remove(int32_t position, int32_t count) {
        int32_t total = length();
        SeriesBuffer* s = memory::buffer_of(block.w2);
        Cell* head = memory::cells_for_write(s);
        std::memmove(head + position, head + position + count, size_t(total - position - count) * sizeof(Cell));
        s->tail -= count * int32_t(sizeof(Cell));
        hash::cells_removed(table, position, count, total);
    }
    // Every cell is found at its own position, or at an earlier equal one.
    void expect_in_step() {
        const Cell* head = memory::cells_head(memory::buffer_of(block.w2));
        for (int32_t i = 0; i < length(); i++) {
            int32_t v = int32_t(head[i].w2);
            EXPECT_EQ(find(v, i), i) << "position " << i;
        }
    }
};

TEST_F(HashKeys, EqualKeysShareABucketAndTheFlagsPickAmongThem) {
    make({7, 1, 7, 2, 7});
    EXPECT_EQ(hash::table_of(table)->size, 5);
    struct Case { int32_t start, skip; bool last, reverse; int32_t expected; };
    const Case cases[] = {
        {0, 1, false, false, 0}, {1, 1, false, false, 2}, {0, 1, true, false, 4}, {3, 1, true, false, 4},
        {4, 1, false, true, 2},  {2, 1, false, true, 0},  {0, 1, false, true, -1}, {1, 2, false, false, -1},
        {0, 2, false, false, 0}, {1, 3, false, false, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(find(7, c.start, c.skip, c.last, c.reverse), c.expected)
            << c.start << " " << c.skip << " " << c.last << " " << c.reverse;
    hash::remove_entry(table, 0);
    hash::remove_entry(table, 4);
    EXPECT_EQ(find(7), 2);  // the third one still answers
    hash::remove_entry(table, 2);
    EXPECT_EQ(find(7), -1);
    EXPECT_EQ(find(2), 3);
}

TEST_F(HashKeys, InsertionsAndRemovalsShiftTheStoredPositions) {
    make({10, 11, 12, 11, 13});
    insert(0, 99);   // everything moves up
    insert(3, 11);   // into the middle, joining an equality class
    expect_in_step();
    remove(1, 2);    // 10 and 11 go
    expect_in_step();
    EXPECT_EQ(find(10), -1);
    EXPECT_EQ(find(11), 1);
    remove(0, length());  // the whole block
    EXPECT_EQ(hash::table_of(table)->size, 0);
    EXPECT_EQ(find(99), -1);
}

TEST_F(HashKeys, GrowthRebuildsAndCopiesStayApart) {
    make({});
    for (int32_t i = 0; i < 2000; i++) insert(length(), i % 1500);
    expect_in_step();
    EXPECT_LT(hash::table_of(table)->occupied, hash::table_of(table)->upper);
    Node copied_block = cell::copy_part(block.w2, 0, length());
    Node copy = hash::copy_table(table, copied_block);
    remove(0, 1600);  // the original loses most keys; its copy keeps them all
    Cell key{TYPE_INTEGER, 0, 5, 0};
    EXPECT_EQ(hash::find_position(copy, &key, 0, 1, COMP_EQUAL, true, false), 1505);
    EXPECT_EQ(find(5), -1);
}

TEST_F(HashKeys, AStaleTableIsRebuiltBeforeAnyPut) {
    // Keys of blocks hash by node: after a collection the stamp is stale and
    // the next put rebuilds the whole table, which must not enter a cell twice.
    block = Cell{TYPE_BLOCK, 0, memory::alloc_cells(4), 0};
    collector::Root keep(block);
    for (int i = 0; i < 3; i++) *cell::alloc_tail_cell(block.w2) = Cell{TYPE_BLOCK, 0, memory::alloc_cells(1), 0};
    table = hash::make_table(3, &block, hash::KIND_HASH, 0);
    collector::Root keep_table(table, collector::hash_table);
    EXPECT_NE(hash::table_of(table)->stamp, 0u);
    collector::series_cycles++;  // as a collection would
    Cell again = memory::cells_head(memory::buffer_of(block.w2))[1];
    *cell::alloc_tail_cell(block.w2) = again;
    hash::cells_inserted(table, 3, 1, 3);
    EXPECT_EQ(hash::table_of(table)->size, 4);
    EXPECT_EQ(hash::table_of(table)->stamp, collector::series_cycles + 1);
    EXPECT_EQ(hash::find_position(table, &again, 0, 1, COMP_SAME, false, false), 1);
    EXPECT_EQ(hash::find_position(table, &again, 2, 1, COMP_SAME, false, false), 3);
    hash::remove_entry(table, 1);
    EXPECT_EQ(hash::find_position(table, &again, 0, 1, COMP_SAME, false, false), 3);
}

TEST_F(HashTable, MapTablesKeepOnePairPerKey) {
    // [a 1 b 2 a 3]: the repeated key's value lands in the first pair, whose place stays.
    if (symbol::table == 0) {
        symbol::cells = memory::alloc_cells(16);
        symbol::make_table(16);
    }
    auto intern = [](const char* name) {
        return uint32_t(symbol::intern(symbol::table, reinterpret_cast<const uint8_t*>(name),
                                       int32_t(std::strlen(name)), false));
    };
    const uint32_t a = intern("map-test-a"), b = intern("map-test-b");
    Node node = memory::alloc_cells(6);
    const Cell cells[] = {{TYPE_WORD, 0, a, 0}, {TYPE_INTEGER, 0, 1, 0}, {TYPE_WORD, 0, b, 0},
                          {TYPE_INTEGER, 0, 2, 0}, {TYPE_WORD, 0, a, 0}, {TYPE_INTEGER, 0, 3, 0}};
    for (const Cell& c : cells) *cell::alloc_tail_cell(node) = c;
    Cell source = block_cell(node);
    Node t = hash::make_table(6, &source, hash::KIND_MAP, 0);
    const Cell* head = hash::block_head(hash::table_of(t));
    ASSERT_EQ(memory::length_of(memory::buffer_of(node)), 4);
    EXPECT_EQ(type_of(head), TYPE_SET_WORD);  // word keys are stored as set-words
    EXPECT_EQ(head[1].w2, 3u);
    Cell key{TYPE_GET_WORD, 0, b, 0};  // any word finds its set-word
    EXPECT_EQ(hash::find_position(t, &key, 0, 1, COMP_EQUAL, false, false), 2);
    hash::remove_entry(t, 2);
    EXPECT_EQ(hash::table_of(t)->size, 1);
    EXPECT_EQ(head[3].header, 0u);  // a removed pair keeps its key and place
}

TEST_F(HashTable, IntegerKeysPutGetRemove) {
    Node t = hash::make_table(4, nullptr, hash::KIND_INTEGER, 2);
    EXPECT_EQ(hash::table_of(t)->indexes, 48);  // key cell + 2 value cells
    for (uint32_t k = 1; k <= 2000; k++) {
        Cell* v = hash::put_address_key(t, k * 0x10001u);
        EXPECT_EQ(type_of(v), TYPE_UNSET);
        EXPECT_EQ(type_of(v + 1), TYPE_UNSET);
        v[0] = Cell{TYPE_INTEGER, 0, k, 0};
    }
    EXPECT_EQ(hash::table_of(t)->size, 2000);
    for (uint32_t k = 1; k <= 2000; k++) {
        const Cell* v = hash::get_address_key(t, k * 0x10001u);
        ASSERT_NE(v, nullptr) << k;
        EXPECT_EQ(v->w2, k);  // the value cells survived every growth
    }
    EXPECT_EQ(hash::get_address_key(t, 7), nullptr);
    EXPECT_NE(hash::remove_address_key(t, 0x10001u), nullptr);
    EXPECT_EQ(hash::remove_address_key(t, 0x10001u), nullptr);
    EXPECT_EQ(hash::get_address_key(t, 0x10001u), nullptr);
    EXPECT_EQ(hash::table_of(t)->size, 1999);
    // Putting a present key again resets its value cells.
    EXPECT_EQ(type_of(hash::put_address_key(t, 2 * 0x10001u)), TYPE_UNSET);
    EXPECT_EQ(hash::table_of(t)->size, 1999);
}

TEST_F(HashTable, DeletedEntriesAreReused) {
    Node t = hash::make_table(64, nullptr, hash::KIND_INTEGER, 1);
    std::vector<uint32_t> keys;
    for (uint32_t k = 0; k < 40; k++) keys.push_back(k * 977 + 3);
    for (uint32_t k : keys) hash::put_address_key(t, k);
    const int32_t used = memory::used_bytes(memory::buffer_of(hash::table_of(t)->block));
    EXPECT_EQ(used, 40 * 32);
    for (uint32_t k : keys) hash::remove_address_key(t, k);
    EXPECT_EQ(hash::table_of(t)->size, 0);
    for (uint32_t k : keys) hash::put_address_key(t, k);
    EXPECT_EQ(hash::table_of(t)->size, 40);
    EXPECT_EQ(memory::used_bytes(memory::buffer_of(hash::table_of(t)->block)), used);
    for (uint32_t k : keys) EXPECT_NE(hash::get_address_key(t, k), nullptr);
}

TEST_F(HashTable, RehashKeepsLiveEntriesAndDropsDeletedOnes) {
    Node t = hash::make_table(16, nullptr, hash::KIND_OWNERSHIP, 2);
    for (uint32_t k = 1; k <= 12; k++) hash::put_address_key(t, k)->w1 = k;
    for (uint32_t k = 1; k <= 12; k += 3) hash::remove_address_key(t, k);
    hash::rehash_address_table(t);
    EXPECT_EQ(hash::table_of(t)->size, 8);
    EXPECT_EQ(hash::table_of(t)->occupied, 8);
    for (uint32_t k = 1; k <= 12; k++) {
        const Cell* v = hash::get_address_key(t, k);
        if (k % 3 == 1) {
            EXPECT_EQ(v, nullptr) << k;
        } else {
            ASSERT_NE(v, nullptr) << k;
            EXPECT_EQ(v->w1, k);
        }
    }
}

TEST_F(HashTable, WordKeysAreUniqueAndSurviveResizing) {
    const uint32_t base = 1000000;  // ids beyond the symbol table stand for themselves
    Node block = memory::alloc_cells(4);
    Cell source = block_cell(block);
    *cell::alloc_tail_cell(block) = Cell{TYPE_WORD, 0, base, 0};
    Node t = hash::make_table(4, &source, hash::KIND_SYMBOL, 0);
    EXPECT_EQ(hash::table_of(t)->size, 1);  // the block's cells are indexed at once
    for (uint32_t i = 1; i < 300; i++) add_key(t, Cell{TYPE_WORD, 0, base + i, i});
    add_key(t, Cell{TYPE_WORD, 0, base + 7, 0});  // already in: strict-equal, not added again
    EXPECT_EQ(hash::table_of(t)->size, 300);
    EXPECT_GE(hash::table_of(t)->buckets, 512);
    EXPECT_LT(hash::table_of(t)->occupied, hash::table_of(t)->upper);
    for (uint32_t i = 0; i < 300; i++) {
        Cell key{TYPE_WORD, 0, base + i, 0};
        EXPECT_EQ(position_of(t, hash::find_key(t, &key, 0, 1, COMP_STRICT_EQUAL, false, false)), int32_t(i));
    }
    Cell absent{TYPE_WORD, 0, base + 300, 0};
    EXPECT_EQ(hash::find_key(t, &absent, 0, 1, COMP_EQUAL, false, false), nullptr);
    Cell other_type{TYPE_SET_WORD, 0, base + 5, 0};
    EXPECT_EQ(hash::find_key(t, &other_type, 0, 1, COMP_EQUAL, false, false), nullptr);
}

TEST_F(HashTable, WordsOfOneNameInOtherCaseAreEqualButNotStrictlyEqual) {
    if (symbol::table == 0) {  // no symbol table from the start-up: make a small one
        symbol::cells = memory::alloc_cells(16);
        symbol::make_table(16);
    }
    auto intern = [](const char* name) {
        return uint32_t(symbol::intern(symbol::table, reinterpret_cast<const uint8_t*>(name),
                                       int32_t(std::strlen(name)), false));
    };
    uint32_t first = intern("hash-test-name"), variant = intern("Hash-Test-NAME");
    ASSERT_NE(first, variant);
    Cell a{TYPE_WORD, 0, first, 0}, b{TYPE_WORD, 0, variant, 0};
    EXPECT_EQ(hash::hash_value(&a, false), hash::hash_value(&b, false));
    Node t = hash::make_table(4, nullptr, hash::KIND_SYMBOL, 0);
    hash::clear_table(t);
    add_key(t, a);
    EXPECT_EQ(position_of(t, hash::find_key(t, &b, 0, 1, COMP_EQUAL, false, false)), 0);
    EXPECT_EQ(hash::find_key(t, &b, 0, 1, COMP_STRICT_EQUAL, false, false), nullptr);
    add_key(t, b);  // another spelling is another key
    EXPECT_EQ(hash::table_of(t)->size, 2);
}

TEST_F(HashTable, SymbolKeysMatchIgnoringAsciiCaseUnlessStrict) {
    Node t = hash::make_table(4, nullptr, hash::KIND_SYMBOL, 0);
    // make_table made a block of its own; the spellings go there.
    hash::clear_table(t);
    const char* names[] = {"print", "Append", "x", "très", "TRÈS"};
    for (const char* n : names) add_key(t, symbol_cell(n));
    EXPECT_EQ(hash::table_of(t)->size, 5);
    struct Case { const char* name; int32_t mode; int32_t expected; };
    const Case cases[] = {
        {"print", COMP_STRICT_EQUAL, 0}, {"PRINT", COMP_EQUAL, 0}, {"PRINT", COMP_STRICT_EQUAL, -1},
        {"append", COMP_EQUAL, 1},       {"X", COMP_EQUAL, 2},     {"TRèS", COMP_EQUAL, 3},
        {"TRÈS", COMP_STRICT_EQUAL, 4},  {"prin", COMP_EQUAL, -1},
    };
    for (const auto& c : cases) {
        Cell key = symbol_cell(c.name);
        EXPECT_EQ(position_of(t, hash::find_key(t, &key, 0, 1, c.mode, false, false)), c.expected) << c.name;
    }
    // The symbol row of hash-value is the symbol hash of the name.
    Cell print = symbol_cell("PrInT");
    EXPECT_EQ(hash::hash_value(&print, false), hash::hash_symbol_name(reinterpret_cast<const uint8_t*>("print"), 5));
}

TEST_F(HashTable, CopiedSymbolTableIsIndependent) {
    Node t = hash::make_table(4, nullptr, hash::KIND_SYMBOL, 0);
    hash::clear_table(t);
    for (uint32_t id = 1; id <= 5; id++) add_key(t, Cell{TYPE_WORD, 0, id, id - 1});
    Cell context{TYPE_CONTEXT, t, 0, 0};
    Node copy = hash::make_table(0, &context, hash::KIND_SYMBOL, hash::COPY_TABLE);
    EXPECT_NE(hash::table_of(copy)->block, hash::table_of(t)->block);
    add_key(copy, Cell{TYPE_WORD, 0, 6, 5});
    Cell six{TYPE_WORD, 0, 6, 0}, three{TYPE_WORD, 0, 3, 0};
    EXPECT_NE(hash::find_key(copy, &six, 0, 1, COMP_EQUAL, false, false), nullptr);
    EXPECT_NE(hash::find_key(copy, &three, 0, 1, COMP_EQUAL, false, false), nullptr);
    EXPECT_EQ(hash::find_key(t, &six, 0, 1, COMP_EQUAL, false, false), nullptr);
    EXPECT_EQ(hash::table_of(t)->size, 5);
}

TEST_F(HashTable, HashValueRows) {
    Cell unset{TYPE_UNSET, 0, 0, 0}, none{TYPE_NONE, 0, 0, 0}, routine{TYPE_ROUTINE, 1, 2, 3};
    EXPECT_EQ(hash::hash_value(&unset, false), uint32_t(-2));
    EXPECT_EQ(hash::hash_value(&none, false), uint32_t(-1));
    EXPECT_EQ(hash::hash_value(&routine, false), 0u);
    Cell integer{TYPE_INTEGER, 0, 42, 0};
    EXPECT_EQ(hash::hash_value(&integer, false), murmur::fmix32(42));
    // money!: only the type byte and the sign bit of the header count.
    Cell money{TYPE_MONEY | 0x4000 | FLAG_NEW_LINE, 5, 6, 7}, plain{TYPE_MONEY | 0x4000, 5, 6, 7};
    EXPECT_EQ(hash::hash_value(&money, false), hash::hash_value(&plain, false));
    plain.header = TYPE_MONEY;
    EXPECT_NE(hash::hash_value(&money, false), hash::hash_value(&plain, false));
    // A tuple length beyond the cell's 12 bytes is cut, not read past the cell.
    Cell tuple{TYPE_TUPLE | (15u << 19), 0x04030201, 0x08070605, 0x0C0B0A09};
    Cell tuple12{TYPE_TUPLE | (12u << 19), 0x04030201, 0x08070605, 0x0C0B0A09};
    EXPECT_EQ(hash::hash_value(&tuple, false), hash::hash_value(&tuple12, false));
}

TEST_F(HashTable, StringHashFoldsCaseAcrossUnits) {
    Cell lower = string_cell({'a', 'b', 0xE9}, 1);
    Cell upper = string_cell({'A', 'B', 0xC9}, 2);
    Cell wide = string_cell({'x', 'a', 'B', 0xC9}, 4, 1);  // from head 1
    EXPECT_EQ(hash::hash_string(&lower, false), hash::hash_string(&upper, false));
    EXPECT_EQ(hash::hash_string(&lower, false), hash::hash_string(&wide, false));
    EXPECT_NE(hash::hash_string(&lower, true), hash::hash_string(&upper, true));
    // The length mixed in is 4 x the characters: the same as hashing the 32-bit code points.
    const uint32_t upper_points[] = {'A', 'B', 0xC9};
    EXPECT_EQ(hash::hash_string(&upper, true), hash::hash_bytes(upper_points, 12));
    // A head past the tail hashes as the empty string.
    Cell past = string_cell({'a'}, 1, 5);
    EXPECT_EQ(hash::hash_string(&past, false), hash::hash_bytes("", 0));
    // The internal key type hashes only word-3 characters from its head.
    Cell key = string_cell({'a', 'b', 0xE9, 'z'}, 1);
    key.header = 56;
    key.w3 = 3;
    EXPECT_EQ(hash::hash_value(&key, false), hash::hash_string(&lower, false));
}

TEST_F(HashTable, MarkingVisitsTheTableAndPruningDropsUnmarkedKeys) {
    Node t = hash::make_table(8, nullptr, hash::KIND_OWNERSHIP, 2);
    Node alive = memory::alloc_cells(2), dead = memory::alloc_bytes(4), owner = memory::alloc_cells(1);
    for (Node key : {alive, dead}) hash::put_address_key(t, key)[1] = Cell{TYPE_OBJECT, owner, 0, 0};

    static std::set<Node> nodes, cell_nodes;
    nodes.clear();
    cell_nodes.clear();
    hash::Marker marker{[](Node* n) { nodes.insert(*n); }, [](Node* n) { cell_nodes.insert(*n); }};
    Node ref = t;
    hash::mark_table(&ref, marker);
    const hash::Table* rec = hash::table_of(t);
    EXPECT_EQ(nodes, (std::set<Node>{t, rec->flags, rec->keys, dead}));
    EXPECT_EQ(cell_nodes, (std::set<Node>{alive, rec->block}));

    for (Node n : {t, alive, owner}) memory::buffer_of(n)->flags |= SERIES_MARK;
    hash::prune_dead_keys(t);
    EXPECT_EQ(hash::table_of(t)->size, 1);
    EXPECT_NE(hash::get_address_key(t, alive), nullptr);
    EXPECT_EQ(hash::get_address_key(t, dead), nullptr);
    memory::buffer_of(owner)->flags &= ~SERIES_MARK;  // a dead owner also drops its entry
    hash::prune_dead_keys(t);
    EXPECT_EQ(hash::table_of(t)->size, 0);
    for (Node n : {t, alive}) memory::buffer_of(n)->flags &= ~SERIES_MARK;
}

TEST(IntMap, PutGetRemoveAndGrow) {
    test::ensure_runtime();
    int_map::Map* map = int_map::make(4);
    EXPECT_EQ(map->buckets, 8);
    for (uint32_t k = 0; k < 5000; k++) int_map::put(map, k * 16411u, k);
    EXPECT_EQ(int_map::count(map), 5000);
    EXPECT_LT(map->occupied, map->upper);
    for (uint32_t k = 0; k < 5000; k++) {
        uint32_t* v = int_map::get(map, k * 16411u);
        ASSERT_NE(v, nullptr) << k;
        EXPECT_EQ(*v, k);
    }
    int_map::put(map, 16411u, 77);  // a present key takes the new value
    EXPECT_EQ(*int_map::get(map, 16411u), 77u);
    EXPECT_EQ(int_map::count(map), 5000);
    for (uint32_t k = 0; k < 5000; k += 2) int_map::remove(map, k * 16411u);
    int_map::remove(map, 3);  // absent: nothing happens
    EXPECT_EQ(int_map::count(map), 2500);
    EXPECT_EQ(int_map::find(map, 0), -1);
    EXPECT_EQ(int_map::get(map, 2 * 16411u), nullptr);
    int32_t walked = 0;
    for (uint32_t* pair = int_map::next(map, nullptr); pair; pair = int_map::next(map, pair)) {
        EXPECT_EQ(pair[0] % 16411u, 0u);
        EXPECT_EQ(pair[0] / 16411u % 2, 1u);
        walked++;
    }
    EXPECT_EQ(walked, 2500);
    // Shrinking keeps every live pair.
    EXPECT_EQ(int_map::resize(map, 4096), 0);
    EXPECT_EQ(map->buckets, 4096);
    EXPECT_EQ(map->occupied, 2500);
    for (uint32_t k = 1; k < 5000; k += 2) ASSERT_NE(int_map::get(map, k * 16411u), nullptr) << k;
    int_map::clear(map);
    EXPECT_EQ(int_map::count(map), 0);
    EXPECT_EQ(int_map::next(map, nullptr), nullptr);
    int_map::free(map);
}

TEST(IntMap, DeletedBucketsAreReusedWithoutGrowing) {
    test::ensure_runtime();
    int_map::Map* map = int_map::make(100);
    const int32_t buckets = map->buckets;
    for (int round = 0; round < 50; round++) {
        for (uint32_t k = 0; k < 60; k++) int_map::put(map, k, k + uint32_t(round));
        for (uint32_t k = 0; k < 60; k++) int_map::remove(map, k);
    }
    EXPECT_EQ(map->buckets, buckets);
    EXPECT_EQ(int_map::count(map), 0);
    int_map::free(map);
}

}  // namespace
}  // namespace zuv
