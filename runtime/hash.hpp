// Hash tables: one open-addressing table for every keyed lookup of the runtime.
//
// A table is a record in a byte series held by its node (the node is the
// table's identity). It never owns the values it indexes: cell-keyed kinds
// (0 hash!, 1 map!, 2 symbol or word keys) keep 0-based positions into a
// block of cells; integer-keyed kinds (3, 4 ownership) keep byte offsets of
// fixed-width entries in their own block. Buckets carry 2 state bits, 16 to a
// 32-bit word: 2 empty, 1 deleted, 0 live. The bucket count is a power of
// two and the table grows once occupied (live + deleted) reaches 77%.
//
// Probing: start at hash & (buckets - 1), then step +1, +2, +3 ... (mod
// buckets) until an empty bucket or back at the start. A new key goes to the
// first deleted bucket of its walk, else to the empty bucket that ended it:
// keys removed and added again in the same order get their old buckets (and,
// in kinds 3-4, their old entries) back.
//
// Every address handed out here (records, arrays, key cells, entry cells)
// is valid only until the next allocation: hold the table node instead.
//
// Tables whose hashes depend on node numbers carry a stamp: the collector's
// cycle count + 1 at which the hashes were valid. A stale table is rehashed
// at its next use (check_stamp).
//
// Kind 0 (hash!) keys are never unique: the first key of an equality class
// (same datatype, equal?) owns the bucket and later equal keys join a chain,
// a growable array of positions that the bucket's key slot names as -c.
// An index array maps each block position back to its bucket (+1; -1 for
// none), so that removing a cell, or shifting the positions after an edit,
// needs no hashing. Kind 1 (map!) keys are unique under strict-equal?; a
// removed pair keeps its key and bucket, its value header set to 0.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::hash {

enum Kind : int32_t {
    KIND_HASH = 0,       // hash!: positions, equal keys chained
    KIND_MAP = 1,        // map!: key/value pairs, unique keys
    KIND_SYMBOL = 2,     // symbol table and context word tables
    KIND_INTEGER = 3,    // 32-bit keys with entries of value cells
    KIND_OWNERSHIP = 4,  // 32-bit keys, owners in the value cells
};

// The table record, at the head of the table's byte series.
struct Table {
    int32_t size;        // live keys
    int32_t indexes;     // kind 0: node of the index array; kinds 3-4: entry width in bytes;
                         // kind 2: SHARED_INDEX when keys and flags may be another table's too, else 0
    Node chains;         // kind 0: growable array of chain nodes
    Node flags;          // bucket states, 2 bits each
    Node keys;           // one signed 32-bit slot per bucket
    Node block;          // the indexed block (kinds 0-2) or the entries block (kinds 3-4)
    int32_t occupied;    // live + deleted buckets
    int32_t buckets;     // a power of two, at least 4
    int32_t upper;       // occupied count at which the table grows
    int32_t kind;
    uint32_t stamp;      // 0, or collector cycle count + 1 when the hashes were valid
};
static_assert(sizeof(Table) == 44);

constexpr double LOAD_FACTOR = 0.77;
constexpr uint32_t BUCKET_LIVE = 0;
constexpr uint32_t BUCKET_DELETED = 1;
constexpr uint32_t BUCKET_EMPTY = 2;
constexpr uint8_t FLAGS_ALL_EMPTY = 0xAA;  // byte preset of a fresh flag array
constexpr uint32_t ENTRY_LIVE = 2;         // word 0 of a live entry's key cell (kinds 3-4)
constexpr int32_t COPY_TABLE = 2;          // make_table kind 2: copy the source context's table

// Addresses of the record and its arrays (valid until the next allocation).
inline Table* table_of(Node table) { return reinterpret_cast<Table*>(memory::head_of(memory::buffer_of(table))); }
uint32_t* flags_of(const Table* t);
int32_t* keys_of(const Table* t);
Cell* block_head(const Table* t);

inline uint32_t bucket_state(const uint32_t* flags, uint32_t i) {
    return (flags[i >> 4] >> ((i & 15) * 2)) & 3;
}
inline void set_bucket_state(uint32_t* flags, uint32_t i, uint32_t state) {
    uint32_t shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (state << shift);
}

// The probe sequence of one hash over a power-of-two bucket count.
struct Probe {
    uint32_t mask;
    uint32_t start;
    uint32_t index;
    uint32_t step = 0;
    Probe(uint32_t hash, int32_t buckets)
        : mask(uint32_t(buckets) - 1), start(hash & mask), index(start) {}
    // Moves to the next bucket; false once the walk is back at its start.
    bool next() {
        index = (index + ++step) & mask;
        return index != start;
    }
};

// The walk that places a key: from the key's home bucket, match(i) is asked
// of each live bucket passed whether it holds the key. The answer is either
// the bucket that matched (found), or the bucket a new entry takes (free): the
// first deleted bucket passed, else the empty one that ended the walk. Both
// are -1 when every bucket is live and none matched, which the load bound
// rules out. flags() gives the flag words afresh at each step, for a match
// that may move the table.
struct Placement {
    int32_t found = -1;
    int32_t free = -1;
};
template <class Flags, class Match>
Placement place_key(Probe p, Flags flags, Match match) {
    int32_t deleted = -1;
    do {
        uint32_t state = bucket_state(flags(), p.index);
        if (state == BUCKET_EMPTY) return {-1, deleted >= 0 ? deleted : int32_t(p.index)};
        if (state == BUCKET_DELETED) {
            if (deleted < 0) deleted = int32_t(p.index);
            continue;
        }
        if (match(p.index)) return {int32_t(p.index), -1};
    } while (p.next());
    return {-1, deleted};
}

// Hash functions.
extern uint32_t seed;  // fixed once at start-up by the random generator; never stored outside a run
uint32_t hash_bytes(const void* data, int32_t n);
uint32_t mix_integer(uint32_t value);
// The symbol hash: the name with ASCII A-Z folded to a-z, hashed as bytes.
uint32_t hash_symbol_name(const uint8_t* name, int32_t length);
// Characters of a string value from head to tail (upper-cased unless case_sensitive).
uint32_t hash_string(const Cell* string, bool case_sensitive);
uint32_t hash_value(const Cell* value, bool case_sensitive);
// A hash of what a value holds, the same in every run and for equal values
// whatever their nodes: an any-block's values from its head in turn (a block
// met again inside itself, and a value that has only an identity, by its
// datatype), text by its characters (case kept), other values as
// hash_value gives them. Nesting past the cycle guard's depth raises
// internal too-deep.
uint32_t hash_content(const Cell* value);
bool address_hashed_q(uint32_t type);
int32_t round_up_power_of_two(int32_t n);

// Making, copying, clearing.
// source: a block cell to index (kinds 0-2), null for a new block of size
// cells; kind 2 with value_cells == COPY_TABLE: a context cell whose table is copied.
Node make_table(int32_t size, const Cell* source, int32_t kind, int32_t value_cells);
// A copy of a word table: its own record and entries; the keys and flags
// (the lookup index) stay shared with the source until either table changes
// them, as a copy is most often only read (an error made from its
// prototype). Every writer of a kind 2 table's index calls own_index first.
Node copy_symbol_table(Node table);
constexpr int32_t SHARED_INDEX = 1;
void own_index(Node table);
Node copy_table(Node table, Node block);
void clear_table(Node table);
void free_table(Node table);
// Kinds 1-2: re-places every key into round_up(wanted) buckets in place.
void resize_table(Node table, int32_t wanted);

// The table of a hash! value; 0 for a value of any other type.
inline Node table_of_value(const Cell* value) { return type_of(value) == TYPE_HASH ? value->w3 : 0; }

// Cell keys (kinds 0-2). The key is the cell at position in the table's
// block. Returns that cell; *rebuilt is 2 when the table was rebuilt instead.
Cell* put_key(Node table, int32_t position, int32_t* rebuilt = nullptr);
void insert_key(Node table, int32_t position);
// Adds the block's cells from first on, stepping by skip.
void add_block_entries(Node table, int32_t first, int32_t skip);
// The cell of the block matching key under the compare mode, or null. In a
// hash! table the match is the nearest position on the step from start:
// forward the first at or after it (last: the last), reverse the nearest
// before it. A map! table looks any-word keys up as set-words.
Cell* find_key(Node table, const Cell* key, int32_t start, int32_t skip, int32_t mode, bool last, bool reverse);
// The same as a block position, or -1.
int32_t find_position(Node table, const Cell* key, int32_t start, int32_t skip, int32_t mode, bool last,
                      bool reverse);
// A resumable walk over the keys equal? to key (same datatype): bucket is -1
// on the first call; bucket, start and step carry the walk between calls.
// The next matching cell of the block (kind 0: the first of its bucket's
// chain), or null when the walk ends.
Cell* find_next_key(Node table, const Cell* key, int32_t* bucket, int32_t* start, int32_t* step);
// Forgets the key at position: kind 0 takes it out of its bucket; kind 1
// marks the pair removed (value header 0) and keeps its place.
void remove_entry(Node table, int32_t position);
// Kind 0: forgets the keys of count cells from position (positions not moved).
void remove_range(Node table, int32_t position, int32_t count);
// Kind 0: after delta cells were inserted (> 0) or removed (< 0) at position,
// moves the stored positions of the count cells that follow. close with
// delta < 0 first forgets the -delta positions before position. Returns 1
// without doing anything when count is too large: the caller rebuilds.
int32_t shift_indexes(Node table, int32_t delta, int32_t position, int32_t count, bool close);
// Kind 0: rebuilds from the whole block, for at least new_size keys. Nodes
// are not renumbered while it runs, whatever it allocates.
void rebuild_table(Node table, int32_t new_size);
void rebuild_all(Node table);

// Keeping a hash! table in step with edits of its block, each called after
// the block changed (old_total: the block's length before).
void cells_inserted(Node table, int32_t position, int32_t count, int32_t old_total);
void cells_removed(Node table, int32_t position, int32_t count, int32_t old_total);
// count cells from position were overwritten in place.
void cells_changed(Node table, int32_t position, int32_t count);

// Integer keys (kinds 3-4): each call returns the entry's first value cell.
Cell* put_address_key(Node table, uint32_t key);  // the entry's cells reset to unset headers
Cell* get_address_key(Node table, uint32_t key);
Cell* remove_address_key(Node table, uint32_t key);
void rehash_address_table(Node table);
// Rehashes a table whose stamp is stale.
void check_stamp(Node table);

// Collector support. mark_node marks one buffer, mark_cells a buffer and the
// cells from its head to its tail; both may rewrite the reference they get.
struct Marker {
    void (*mark_node)(Node* ref);
    void (*mark_cells)(Node* ref);
};
void mark_table(Node* table, const Marker& marker);
// A weak integer-keyed table (ephemeron entries): marks the record, the flag
// and key arrays and the entries block's buffer, not the key nodes nor the
// value cells; forward rewrites each live entry's key node in place.
void mark_table_weak(Node* table, const Marker& marker, void (*forward)(Node* ref));
// One ephemeron pass: calls mark_values on the value cells of each live
// entry whose key node is marked and whose byte in done (one per entry,
// grown here) is still clear, and sets it. Returns how many entries it marked.
int32_t mark_values_of_live_keys(Node table, std::vector<uint8_t>& done, void (*mark_values)(Cell* first, Cell* end));
// After marking: forgets every entry whose key node (kind 4: or owner node) was not marked.
void prune_dead_keys(Node table);

void dump_table(Node table);

}  // namespace zuv::hash

// The collector's map of 32-bit keys to 32-bit values, in tracked heap memory
// (usable while the series heap is being rearranged).
namespace zuv::int_map {

struct Map {
    int32_t size;
    uint32_t* flags;
    uint32_t* pairs;  // key word, value word per bucket
    int32_t occupied;
    int32_t buckets;
    int32_t upper;
};

Map* make(int32_t expected);
void put(Map* map, uint32_t key, uint32_t value);
int32_t find(const Map* map, uint32_t key);    // bucket, or -1
uint32_t* get(Map* map, uint32_t key);         // address of the value word, or null
void remove(Map* map, uint32_t key);
int32_t count(const Map* map);
// The next live pair after pair (null: the first), or null.
uint32_t* next(Map* map, uint32_t* pair);
void clear(Map* map);
void free(Map* map);
// 0, or -1 when the bigger pairs array could not be had (the map is unchanged).
int32_t resize(Map* map, int32_t wanted);

}  // namespace zuv::int_map
