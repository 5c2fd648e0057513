// A scoped root for the rare C++ local that must survive a collection.
//
//     Cell block{};
//     collector::Root keep(block);      // block's series now survives collections
//     block::make_at(&block, 10);       // allocates
//     block::append_cell(&block, &x);   // may collect: block is marked, and its
//                                       // node rewritten if the collector renumbers it
//
// The guard registers the ADDRESS of the local; the local itself may change
// while guarded. Guards nest strictly (the destructor pops the newest
// entry), which C++ scoping and exception unwinding both respect. Prefer the
// data stack for temporaries of interpreted values; use a guard for a
// value or node that C++ code builds across several allocations.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::collector {

// One guarded local: count cells from cells, or one node (count 0: a series,
// marked with its cells when it holds cells; ROOT_HASH_TABLE: a hash table's node).
struct LocalRoot {
    Cell* cells;
    Node* node;
    int32_t count;
};
constexpr int32_t ROOT_HASH_TABLE = -1;
struct HashTableTag {};
constexpr HashTableTag hash_table{};

// The guarded locals, oldest first (a fixed array: a guard is pushed on the
// hot path of C++ code that builds values). The last LOCAL_ROOTS_RESERVE
// entries are opened only while the error of a full table is raised: C++
// code nested that deep gets internal stack-overflow, which try catches.
constexpr int32_t LOCAL_ROOTS_MAX = 4096;
constexpr int32_t LOCAL_ROOTS_RESERVE = 256;
extern LocalRoot local_roots[LOCAL_ROOTS_MAX];
extern int32_t local_root_count;
extern int32_t local_roots_limit;  // LOCAL_ROOTS_MAX less the reserve, or all while it is open
[[noreturn]] void local_roots_overflow();

class Root {
public:
    explicit Root(Cell& cell) { push({&cell, nullptr, 1}); }
    Root(Cell* cells, int32_t count) { push({cells, nullptr, count}); }
    explicit Root(Node& node) { push({nullptr, &node, 0}); }
    // A hash table under construction: its record and every array it names.
    Root(Node& table, HashTableTag) { push({nullptr, &table, ROOT_HASH_TABLE}); }
    ~Root() { --local_root_count; }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

private:
    static void push(LocalRoot r) {
        if (local_root_count >= local_roots_limit) [[unlikely]]
            local_roots_overflow();
        local_roots[local_root_count++] = r;
    }
};

}  // namespace zuv::collector
