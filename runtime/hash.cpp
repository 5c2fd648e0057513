#include "runtime/hash.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/array.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/memory.hpp"
#include "runtime/murmur.hpp"
#include "runtime/runtime.hpp"
#include "runtime/symbols.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"

namespace zuv::hash {

uint32_t seed = 0;

namespace {

// Internal key type: text keys that match any type byte in kinds 1-2 and
// hash only word-3 characters (when not negative).
constexpr uint32_t TYPE_KEY_TEXT = 56;
constexpr uint32_t MONEY_SIGN = 0x4000;
constexpr uint32_t TUPLE_LENGTH_SHIFT = 19;
// Shifting more positions than this is refused: the caller rebuilds the table.
constexpr int32_t SHIFT_LIMIT = 30000;

// --- the collector's state, as far as tables need it ---------------------
uint32_t collector_cycles() { return collector::series_cycles; }
bool collector_active_q() { return collector::active_q(); }

// A rebuild must not see nodes renumbered under it: the collector's
// evacuation is switched off for its duration and restored afterwards, even
// when an error passes through.
struct RebuildGuard {
    bool saved = collector::evacuation;
    RebuildGuard() { collector::evacuation = false; }
    ~RebuildGuard() { collector::evacuation = saved; }
};

// Words hash and compare by their canonical symbol id. An id outside the
// symbol table (none made yet, or a bad cell) stands for itself.
uint32_t canonical_symbol(uint32_t id) {
    if (symbol::cells == 0 || id == 0 || int32_t(id) > symbol::count()) return id;
    return uint32_t(symbol::resolve(int32_t(id)));
}

// True when the table's stored hashes may be out of date: a collection ran
// since they were made, and it may have renumbered the nodes they depend on.
bool stale_q(const Table* t) {
    return t->stamp != 0 && t->stamp != collector_cycles() + 1 && !collector_active_q();
}

Table* record(Node table) { return table_of(table); }

int32_t flag_bytes(int32_t buckets) { return buckets < 16 ? 4 : buckets / 4; }

Node new_flags(int32_t buckets) {
    int32_t n = flag_bytes(buckets);
    Node flags = memory::alloc_filled_bytes(n, FLAGS_ALL_EMPTY);
    SeriesBuffer* s = memory::buffer_of(flags);
    s->tail = s->head + n;
    return flags;
}

void preset_flags(const Table* t) {
    std::memset(flags_of(t), FLAGS_ALL_EMPTY, size_t(flag_bytes(t->buckets)));
}

Node new_keys(int32_t buckets) {
    Node keys = memory::alloc_bytes(int64_t(buckets) * 4);
    SeriesBuffer* s = memory::buffer_of(keys);
    s->tail = s->head + buckets * 4;
    return keys;
}

int32_t bucket_count_for(int32_t size) { return round_up_power_of_two(int32_t(size / LOAD_FACTOR)); }

// --- cell keys (kind 2) ---------------------------------------------------

bool word_type_q(uint32_t type) {
    switch (type) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE: return true;
    default: return false;
    }
}

// The UTF-8 name of a symbol! cell (word 3: a byte series, tail at the NUL).
const uint8_t* symbol_name(const Cell* symbol, int32_t* length) {
    SeriesBuffer* s = memory::buffer_of(symbol->w3);
    *length = memory::used_bytes(s);
    return memory::head_of(s);
}

bool ascii_fold_equal(const uint8_t* a, const uint8_t* b, int32_t n) {
    for (int32_t i = 0; i < n; i++) {
        uint8_t x = a[i], y = b[i];
        if (unsigned(x - 'A') < 26u) x += 32;
        if (unsigned(y - 'A') < 26u) y += 32;
        if (x != y) return false;
    }
    return true;
}

// Comparison of the keys of symbol and word tables: strict modes compare the
// spelling, the others ignore ASCII case (canonical ids for words).
bool symbol_keys_equal(const Cell* a, const Cell* b, int32_t mode) {
    bool strict = mode == COMP_STRICT_EQUAL || mode == COMP_SAME || mode == COMP_STRICT_EQUAL_WORD;
    uint32_t type = type_of(a);
    if (type == TYPE_SYMBOL) {
        int32_t la, lb;
        const uint8_t* na = symbol_name(a, &la);
        const uint8_t* nb = symbol_name(b, &lb);
        if (la != lb) return false;
        return strict ? std::memcmp(na, nb, size_t(la)) == 0 : ascii_fold_equal(na, nb, la);
    }
    if (word_type_q(type))
        return strict ? a->w2 == b->w2 : canonical_symbol(a->w2) == canonical_symbol(b->w2);
    // TODO(compare): other key types go through the compare action once kinds 0-1 exist.
    return std::memcmp(a, b, sizeof(Cell)) == 0;
}

Cell* cell_at(const Table* t, int32_t position) { return block_head(t) + position; }

int32_t block_length(const Table* t) { return memory::length_of(memory::buffer_of(t->block)); }

// --- cell keys of hash! and map! (kinds 0 and 1) ----------------------------

// Two keys compared by the first one's datatype under a comparison mode.
// Both are copies: a comparison may allocate.
bool cells_match(const Cell& a, const Cell& b, int32_t mode) {
    Cell x = a, y = b;
    auto compare = get_slot<Act::compare>(type_of(&x));
    return compare != nullptr && compare(&x, &y, mode) == 0;
}

// Two NaN keys of one float type: the same key to every lookup through a
// table (their buckets agree, as hash_value makes every NaN alike), as a
// search of the block finds a NaN where a NaN is, though no NaN is equal?
// to another.
bool nan_keys_q(const Cell& a, const Cell& b) {
    uint32_t type = type_of(&a);
    if (type != type_of(&b) || (type != TYPE_FLOAT && type != TYPE_PERCENT && type != TYPE_TIME)) return false;
    double x = cell::get_float(&a), y = cell::get_float(&b);
    return x != x && y != y;
}

// Two strings of one-byte text under equality, settled here without the
// compare action's dispatch when it can be (the everyday text key, and the
// other keys met while probing for it): 1 the same key, 0 not, -1 left to
// the action (another type or unit, or a difference above ASCII to fold).
// The answers are the action's: texts of different lengths differ; folded,
// ASCII letters equal their other case.
int32_t byte_text_match(const Cell& a, const Cell& b, int32_t mode) {
    if (type_of(&a) != TYPE_STRING || type_of(&b) != TYPE_STRING) return -1;
    if (mode != COMP_EQUAL && mode != COMP_STRICT_EQUAL) return -1;
    SeriesBuffer* s1 = memory::buffer_of(a.w2);
    SeriesBuffer* s2 = memory::buffer_of(b.w2);
    if (memory::unit_of(s1) != 1 || memory::unit_of(s2) != 1) return -1;
    const int32_t h1 = std::max(int32_t(a.w1), 0), h2 = std::max(int32_t(b.w1), 0);
    const int32_t n1 = memory::used_bytes(s1) - h1, n2 = memory::used_bytes(s2) - h2;
    if (n1 < 0 || n2 < 0) return -1;
    if (n1 != n2) return 0;
    const uint8_t* p1 = memory::head_of(s1) + h1;
    const uint8_t* p2 = memory::head_of(s2) + h2;
    if (std::memcmp(p1, p2, size_t(n1)) == 0) return 1;
    if (mode == COMP_STRICT_EQUAL) return 0;
    for (int32_t i = 0; i < n1; i++) {
        uint32_t c1 = p1[i], c2 = p2[i];
        if (c1 == c2) continue;
        if ((c1 | c2) >= 0x80) return -1;
        if (case_folding::to_upper(c1) != case_folding::to_upper(c2)) return 0;
    }
    return 1;
}

bool any_word_key_q(uint32_t type) {
    return type == TYPE_WORD || type == TYPE_SET_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD;
}

// Keys of one equality class (kind 0) or one map key (kind 1) under mode.
bool same_key_q(const Cell& a, const Cell& b, int32_t mode) {
    int32_t settled = byte_text_match(a, b, mode);
    if (settled >= 0) return settled == 1;
    // Two words of one type (a map's keys are all set-words) under equality
    // compare their symbols, as the word slot does: by spelling when strict,
    // else through their canonical ids.
    if (type_of(&a) == type_of(&b) && any_word_key_q(type_of(&a))) {
        if (mode == COMP_STRICT_EQUAL) return a.w2 == b.w2;
        if (mode == COMP_EQUAL) return symbol::resolve(int32_t(a.w2)) == symbol::resolve(int32_t(b.w2));
    }
    return cells_match(a, b, mode) || nan_keys_q(a, b);
}

// Kind 0: the index array holds, per block position, bucket + 1 (-1: no key).
int32_t* index_of(const Table* t) {
    return reinterpret_cast<int32_t*>(memory::head_of(memory::buffer_of(Node(t->indexes))));
}
int32_t index_slots(const Table* t) { return memory::used_bytes(memory::buffer_of(Node(t->indexes))) / 4; }

Node new_index(int32_t slots) {
    if (slots < 4) slots = 4;
    return memory::alloc_filled_bytes(int64_t(slots) * 4, 0xFF);
}

// Makes the index array hold at least slots positions (new room -1).
void reserve_index(Node table, int32_t slots) {
    const Table* t = record(table);
    int32_t have = index_slots(t);
    if (slots <= have) return;
    int32_t want = slots > (1 << 28) ? slots : 2 * slots;
    Node index = Node(t->indexes);
    SeriesBuffer* s = memory::expand_series(index, int64_t(want) * 4);
    std::memset(memory::head_of(s) + int64_t(have) * 4, 0xFF, size_t(want - have) * 4);
    s->tail = s->head + want * 4;
}

int32_t index_bucket(const Table* t, int32_t position) {
    if (position < 0 || position >= index_slots(t)) return -1;
    return index_of(t)[position] - 1;
}

void set_index(Node table, int32_t position, int32_t bucket) {
    reserve_index(table, position + 1);
    index_of(record(table))[position] = bucket + 1;
}

// A chain: the block positions of keys that are equal, in a growable array of
// 32-bit positions; key slot -c names chain c (1-based) of the chains array.
Node chain_node(const Table* t, int32_t slot) { return dyn_array::pick_pointer(t->chains, -slot); }

int32_t chain_length(Node chain) { return dyn_array::get_length(chain); }
int32_t* chain_positions(Node chain) {
    return reinterpret_cast<int32_t*>(memory::head_of(memory::buffer_of(chain)));
}

// The block position of the first key of a bucket's key slot.
int32_t first_position(const Table* t, int32_t slot) {
    if (slot >= 0) return slot;
    Node chain = chain_node(t, slot);
    return chain_length(chain) > 0 ? chain_positions(chain)[0] : -1;
}

// Adds position to the equality class held by a live bucket (the table is rooted).
void add_to_chain(Node table, uint32_t bucket, int32_t position) {
    int32_t slot = keys_of(record(table))[bucket];
    if (slot >= 0) {
        Node chain = dyn_array::make(4, 4);
        collector::Root keep(chain);
        dyn_array::append_int(chain, uint32_t(slot));
        Node chains = record(table)->chains;
        dyn_array::append_pointer(chains, 0);  // the slot first: its allocation may renumber chain
        int32_t number = dyn_array::get_length(chains);
        dyn_array::poke_int(chains, number, chain);
        keys_of(record(table))[bucket] = -number;
        slot = -number;
    }
    dyn_array::append_int(chain_node(record(table), slot), uint32_t(position));
}

// Takes position out of its bucket (kind 0); true when it had one.
bool remove_position(Table* t, int32_t position) {
    int32_t bucket = index_bucket(t, position);
    if (bucket < 0) return false;
    index_of(t)[position] = -1;
    int32_t* keys = keys_of(t);
    int32_t slot = keys[bucket];
    t->size--;
    if (slot < 0) {
        Node chain = chain_node(t, slot);
        int32_t offset = dyn_array::find_int(chain, uint32_t(position));
        if (offset >= 0) dyn_array::remove_bytes_at(chain, offset, 4);
        if (chain_length(chain) > 0) return true;
        dyn_array::poke_int(t->chains, -slot, 0);
    }
    set_bucket_state(flags_of(t), uint32_t(bucket), BUCKET_DELETED);
    return true;
}

// Empties a kind-0 or kind-1 table without touching its block.
void reset_buckets(Table* t) {
    t->size = 0;
    t->occupied = 0;
    preset_flags(t);
    if (t->kind == KIND_HASH) {
        SeriesBuffer* index = memory::buffer_of(Node(t->indexes));
        std::memset(memory::head_of(index), 0xFF, size_t(memory::used_bytes(index)));
        dyn_array::clear(t->chains);
    }
}

// The map! and hash! put: kind 1 keys are unique under strict-equal?; kind 0
// keys are never unique, equal keys of one datatype share a bucket's chain.
Cell* put_cell_key(Node table, int32_t position, int32_t* rebuilt) {
    collector::Root keep(table, collector::hash_table);
    int32_t kind = record(table)->kind;
    if (kind == KIND_HASH && stale_q(record(table))) {
        // The rebuild enters every cell of the block, this one included.
        rebuild_table(table, block_length(record(table)));
        if (rebuilt) *rebuilt = 2;
        return cell_at(record(table), position);
    }
    Table* t = record(table);
    if (t->occupied >= t->upper) {
        if (kind == KIND_HASH) {
            rebuild_table(table, 2 * t->size < t->buckets ? t->buckets - 1 : t->buckets + 1);
            if (rebuilt) *rebuilt = 2;
            return cell_at(record(table), position);
        }
        resize_table(table, t->buckets + 1);
        t = record(table);
    }
    Cell key = *cell_at(t, position);
    uint32_t type = type_of(&key);
    if (kind == KIND_HASH && t->stamp == 0 && address_hashed_q(type)) t->stamp = collector_cycles() + 1;
    Placement place = place_key(
        Probe(hash_value(&key, false), t->buckets), [&] { return flags_of(record(table)); },
        [&](uint32_t i) {
            Table* now = record(table);
            int32_t first = first_position(now, keys_of(now)[i]);
            if (first < 0) return false;
            Cell other = *cell_at(now, first);
            int32_t mode = kind == KIND_MAP ? COMP_STRICT_EQUAL : COMP_EQUAL;
            return type_of(&other) == type && same_key_q(other, key, mode);
        });
    if (place.found >= 0 && kind != KIND_MAP) {
        add_to_chain(table, uint32_t(place.found), position);
        record(table)->size++;
        set_index(table, position, place.found);
    }
    t = record(table);
    if (place.free < 0) return cell_at(t, position);  // found, or full (which the load bound rules out)
    uint32_t target = uint32_t(place.free);
    uint32_t* flags = flags_of(t);
    bool was_empty = bucket_state(flags, target) == BUCKET_EMPTY;
    keys_of(t)[target] = position;
    set_bucket_state(flags, target, BUCKET_LIVE);
    t->size++;
    if (was_empty) t->occupied++;
    if (kind == KIND_HASH) set_index(table, position, int32_t(target));
    return cell_at(record(table), position);
}

// Is p a candidate of a kind-0 search from start stepping by skip?
bool on_step_q(int32_t p, int32_t start, int32_t skip, bool reverse) {
    int64_t d = reverse ? int64_t(start) - p - 1 : int64_t(p) - start;
    int64_t r = d % skip;
    if (r < 0) r += skip;
    return r == 0;
}

// A map's look-up of a one-byte text key, the everyday one: the keys met
// are compared here, where nothing allocates, so no root is kept. -2, having
// done nothing, when a key met needs the compare action.
int32_t find_text_key(Node table, const Cell& key, int32_t mode) {
    const Table* t = record(table);
    Probe p(hash_string(&key, false), t->buckets);
    const uint32_t* flags = flags_of(t);
    do {
        uint32_t state = bucket_state(flags, p.index);
        if (state == BUCKET_EMPTY) return -1;
        if (state == BUCKET_DELETED) continue;
        int32_t slot = keys_of(t)[p.index];
        const Cell& other = *cell_at(t, slot);
        if (type_of(&other) != TYPE_STRING) continue;
        int32_t same = byte_text_match(other, key, mode);
        if (same < 0) return -2;
        if (same == 1) return slot;
    } while (p.next());
    return -1;
}

int32_t find_cell_position(Node table, const Cell& key_in, int32_t start, int32_t skip, int32_t mode, bool last,
                           bool reverse) {
    if (type_of(&key_in) == TYPE_STRING && record(table)->kind == KIND_MAP) {
        int32_t found = find_text_key(table, key_in, mode);
        if (found != -2) return found;
    }
    Cell key = key_in;
    collector::Root keep_key(key);
    collector::Root keep(table, collector::hash_table);
    Table* t = record(table);
    int32_t kind = t->kind;
    if (kind == KIND_MAP && any_word_key_q(type_of(&key))) key.header = (key.header & ~TYPE_MASK) | TYPE_SET_WORD;
    if (kind == KIND_HASH) check_stamp(table);
    if (skip < 1) skip = 1;
    uint32_t type = type_of(&key);
    Probe p(hash_value(&key, false), record(table)->buckets);
    do {
        t = record(table);
        uint32_t state = bucket_state(flags_of(t), p.index);
        if (state == BUCKET_EMPTY) return -1;
        if (state == BUCKET_DELETED) continue;
        int32_t slot = keys_of(t)[p.index];
        if (kind == KIND_MAP) {
            Cell other = *cell_at(t, slot);
            if ((type == TYPE_KEY_TEXT || type_of(&other) == type) && same_key_q(other, key, mode)) return slot;
            continue;
        }
        int32_t first = first_position(t, slot);
        if (first < 0) continue;
        Cell other = *cell_at(t, first);
        if (type_of(&other) != type || !same_key_q(other, key, COMP_EQUAL)) continue;
        // The equality class: pick the nearest candidate the flags ask for.
        // Members are read by index: a comparison may move the chain.
        Node chain = slot < 0 ? chain_node(t, slot) : 0;
        int32_t members = slot < 0 ? chain_length(chain) : 1;
        int32_t best = -1;
        for (int32_t m = 0; m < members; m++) {
            int32_t q = slot >= 0 ? slot : chain_positions(chain)[m];
            bool fits = reverse ? q < start : q >= start;
            if (!fits || !on_step_q(q, start, skip, reverse)) continue;
            bool better = best < 0 || (reverse || last ? q > best : q < best);
            if (!better) continue;
            if (q >= block_length(record(table))) continue;
            Cell candidate = *cell_at(record(table), q);
            if (cells_match(candidate, key, mode)) best = q;
        }
        if (best >= 0) return best;
    } while (p.next());
    return -1;
}

// Enters the key/value pairs of a map!'s block from first on: a key already
// present (strict-equal?) takes the later value and its pair is cut out; a
// new key is entered, then normalised by the map! key rule.
void add_map_entries(Node table, int32_t first) {
    collector::Root keep(table, collector::hash_table);
    int32_t position = first;
    while (position + 1 < block_length(record(table))) {
        Cell key = *cell_at(record(table), position);
        int32_t found = find_cell_position(table, key, 0, 1, COMP_STRICT_EQUAL, false, false);
        if (found >= 0) {
            Table* t = record(table);
            copy_cell(cell_at(t, position + 1), cell_at(t, found + 1));
            SeriesBuffer* b = memory::buffer_of(t->block);
            Cell* at = cell_at(t, position);
            std::memmove(at, at + 2, size_t(block_length(t) - position - 2) * sizeof(Cell));
            b->tail -= 2 * int32_t(sizeof(Cell));
            continue;
        }
        put_cell_key(table, position, nullptr);
        collector::Root keep_key(key);
        map::normalize_key(&key, nullptr);
        *cell_at(record(table), position) = key;
        position += 2;
    }
}

// --- integer keys (kinds 3-4) -----------------------------------------------

Cell* entry_at(const Table* t, int32_t offset) {
    return reinterpret_cast<Cell*>(memory::head_of(memory::buffer_of(t->block)) + offset);
}
int32_t cells_per_entry(const Table* t) { return t->indexes / int32_t(sizeof(Cell)); }

// The bucket holding key, or -1.
int32_t find_address_bucket(const Table* t, uint32_t key) {
    const uint32_t* flags = flags_of(t);
    const int32_t* keys = keys_of(t);
    Probe p(mix_integer(key), t->buckets);
    do {
        uint32_t state = bucket_state(flags, p.index);
        if (state == BUCKET_EMPTY) return -1;
        if (state == BUCKET_LIVE && entry_at(t, keys[p.index])->w1 == key) return int32_t(p.index);
    } while (p.next());
    return -1;
}

// Places an entry offset at the first empty bucket of its key's probe sequence.
void place_entry(Table* t, uint32_t key, int32_t offset) {
    uint32_t* flags = flags_of(t);
    Probe p(mix_integer(key), t->buckets);
    while (bucket_state(flags, p.index) != BUCKET_EMPTY && p.next()) {}
    set_bucket_state(flags, p.index, BUCKET_LIVE);
    keys_of(t)[p.index] = offset;
    t->size++;
    t->occupied++;
}

void reset_values(Cell* entry, int32_t cells) {
    for (int32_t i = 1; i < cells; i++) cell::begin(entry + i);
}

// Puts every live entry into a fresh table of round_up(wanted) buckets and an
// entries block of exactly the live entries; deleted entries' room is given back.
void rebuild_address_table(Node table, int32_t wanted) {
    RebuildGuard guard;
    Table* t = record(table);
    int32_t buckets = round_up_power_of_two(wanted < 4 ? 4 : wanted);
    int32_t upper = int32_t(buckets * LOAD_FACTOR + 0.5);
    int32_t width = t->indexes;
    int32_t live = 0;
    {
        SeriesBuffer* old = memory::buffer_of(t->block);
        for (int32_t off = 0; off + width <= memory::used_bytes(old); off += width)
            if (entry_at(t, off)->header == ENTRY_LIVE) live++;
    }
    Node flags = new_flags(buckets);
    record(table)->flags = flags;  // held by the record at once, so it stays reachable
    Node keys = new_keys(buckets);
    record(table)->keys = keys;
    Node old_block = record(table)->block;
    Node block = memory::alloc_cells(int64_t(live > 0 ? live : 1) * (width / int32_t(sizeof(Cell))));
    t = record(table);
    t->buckets = buckets;
    t->upper = upper;
    t->size = 0;
    t->occupied = 0;
    t->block = block;
    SeriesBuffer* from = memory::buffer_of(old_block);
    SeriesBuffer* to = memory::buffer_of(block);
    to->tail = to->head;
    for (int32_t off = 0; off + width <= memory::used_bytes(from); off += width) {
        const Cell* entry = reinterpret_cast<const Cell*>(memory::head_of(from) + off);
        if (entry->header != ENTRY_LIVE) continue;
        int32_t at = memory::used_bytes(to);
        std::memcpy(memory::tail_of(to), entry, size_t(width));
        to->tail += width;
        place_entry(t, entry->w1, at);
    }
    t->stamp = collector_cycles() + 1;
}

void grow_address_table(Node table) {
    const Table* t = record(table);
    if (t->occupied < t->upper) return;
    rebuild_address_table(table, 2 * t->size < t->buckets ? t->buckets - 1 : t->buckets + 1);
}

void check_address_kind(const Table* t) {
    if (t->kind != KIND_INTEGER && t->kind != KIND_OWNERSHIP) fire_not_done();
}

// A node id that names a slot in use of an existing node frame.
bool live_node_q(Node n) {
    uint32_t frame = n >> NODE_SLOT_BITS;
    uint32_t slot = n & NODE_SLOT_MASK;
    if (n == 0 || frame >= memory::node_slots.size() || memory::node_slots[frame] == nullptr) return false;
    if (slot >= uint32_t(NODE_FRAME_SLOTS)) return false;
    auto value = reinterpret_cast<uintptr_t>(memory::node_slots[frame][slot]);
    return value != 0 && (value & 1) == 0;
}

bool node_marked_q(Node n) { return live_node_q(n) && (memory::buffer_of(n)->flags & SERIES_MARK) != 0; }

}  // namespace

// --- addresses ----------------------------------------------------------------

uint32_t* flags_of(const Table* t) {
    return reinterpret_cast<uint32_t*>(memory::head_of(memory::buffer_of(t->flags)));
}
int32_t* keys_of(const Table* t) { return reinterpret_cast<int32_t*>(memory::head_of(memory::buffer_of(t->keys))); }
// The table's block. A hash! value's block changes only by the block!
// functions (which tell its compiled code); the writes here are to the
// blocks of maps and word tables, which no code runs.
Cell* block_head(const Table* t) { return memory::internal_cells(memory::buffer_of(t->block)); }

// --- hash functions -------------------------------------------------------------

uint32_t hash_bytes(const void* data, int32_t n) { return murmur::hash3_x86_32(data, size_t(n), seed); }

uint32_t mix_integer(uint32_t value) { return murmur::fmix32(value); }

uint32_t hash_symbol_name(const uint8_t* name, int32_t length) {
    // Short names are folded on the C stack; longer ones in a buffer of their own.
    uint8_t local[256];
    std::vector<uint8_t> long_name;
    uint8_t* folded = local;
    if (length > int32_t(sizeof local)) {
        long_name.resize(size_t(length));
        folded = long_name.data();
    }
    for (int32_t i = 0; i < length; i++) {
        uint8_t c = name[i];
        folded[i] = unsigned(c - 'A') < 26u ? uint8_t(c + 32) : c;
    }
    return hash_bytes(folded, length);
}

namespace {

// Four one-byte characters (little-endian in one word) with every ASCII
// lower-case letter made upper case, when none is above ASCII.
inline uint32_t ascii_upper4(uint32_t x) {
    uint32_t from_a = x + 0x1F1F1F1Fu;  // a byte's top bit set from 'a' (0x61) up
    uint32_t past_z = x + 0x05050505u;  // and from past 'z' (0x7B) up
    return x - (((from_a & ~past_z) & 0x80808080u) >> 2);
}

}  // namespace

// The hash of a text: its characters (folded when not case-sensitive), four
// code points at a time mixed as one block (c0 + c1 << 8 + c2 << 16 +
// c3 << 24), the rest one by one, then its length. A function of the code
// points alone: the same text in any unit hashes alike.
uint32_t hash_string(const Cell* string, bool case_sensitive) {
    SeriesBuffer* s = memory::buffer_of(string->w2);
    uint32_t unit = memory::unit_of(s);
    if (unit != 1 && unit != 2 && unit != 4) runtime::quit_with_runtime_error(101, 0);
    int32_t available = memory::length_of(s) - int32_t(string->w1);
    int32_t count = available > 0 ? available : 0;
    if ((string->header & TYPE_MASK) == TYPE_KEY_TEXT && int32_t(string->w3) >= 0 && int32_t(string->w3) < count)
        count = int32_t(string->w3);
    const uint8_t* p = memory::head_of(s) + int64_t(string->w1) * unit;
    auto at = [p, unit, case_sensitive](int32_t i) {
        uint32_t c;
        if (unit == 1) {
            c = p[i];
        } else if (unit == 2) {
            uint16_t v;
            std::memcpy(&v, p + 2 * int64_t(i), 2);
            c = v;
        } else {
            std::memcpy(&c, p + 4 * int64_t(i), 4);
        }
        if (case_sensitive) return c;
        return c < 0x80 ? (c - 'a' < 26u ? c - 32 : c) : case_folding::to_upper(c);
    };
    uint32_t h = seed;
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t k;
        if (unit == 1) {
            std::memcpy(&k, p + i, 4);  // little-endian: c0 in the low byte
            if (k & 0x80808080u) k = at(i) + (at(i + 1) << 8) + (at(i + 2) << 16) + (at(i + 3) << 24);
            else if (!case_sensitive) k = ascii_upper4(k);
        } else {
            k = at(i) + (at(i + 1) << 8) + (at(i + 2) << 16) + (at(i + 3) << 24);
        }
        h = murmur::mix_block(h, k);
    }
    for (; i < count; i++) h = murmur::mix_block(h, at(i));
    return murmur::fmix32(h ^ uint32_t(count) * 4);
}

bool address_hashed_q(uint32_t type) {
    switch (type & TYPE_MASK) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP: case TYPE_FUNCTION:
    case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_OBJECT:
    case TYPE_ERROR: case TYPE_HASH: case TYPE_MAP: case TYPE_PORT: case TYPE_IMAGE: case TYPE_EVENT:
        return true;
    default: return false;
    }
}

uint32_t hash_value(const Cell* value, bool case_sensitive) {
    uint32_t type = value->header & TYPE_MASK;
    switch (type) {
    case TYPE_UNSET: return uint32_t(-2);
    case TYPE_NONE: return uint32_t(-1);
    case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
        return mix_integer(value->w1);
    case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT:
        return mix_integer(value->w2);
    case TYPE_NATIVE: case TYPE_ACTION:
        return mix_integer(value->w3);
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE:
        return mix_integer(canonical_symbol(value->w2));
    case TYPE_SYMBOL: {
        int32_t length;
        const uint8_t* name = symbol_name(value, &length);
        return hash_symbol_name(name, length);
    }
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_KEY_TEXT:
        return hash_string(value, case_sensitive);
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
    case TYPE_GET_PATH: case TYPE_HASH: case TYPE_IMAGE: case TYPE_POINT2D:
        return hash_bytes(&value->w1, 8);
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
        // Keys that lookups match hash alike: 0.0 and -0.0, and every NaN.
        double d = cell::get_float(value);
        if (d == 0.0) d = 0.0;
        else if (d != d) d = __builtin_nan("");
        return hash_bytes(&d, 8);
    }
    case TYPE_PAIR:
        return hash_bytes(&value->w2, 8);
    case TYPE_POINT3D: case TYPE_OP: case TYPE_FUNCTION: case TYPE_TRIPLE: case TYPE_TYPESET: case TYPE_DATE:
        return hash_bytes(&value->w1, 12);
    case TYPE_TUPLE: {
        // The tuple's bytes start at word 1; a length beyond the cell is cut to its 12 bytes.
        int32_t length = int32_t((value->header >> TUPLE_LENGTH_SHIFT) & 15);
        return hash_bytes(&value->w1, length > 12 ? 12 : length);
    }
    case TYPE_BINARY: {
        SeriesBuffer* s = memory::buffer_of(value->w2);
        int32_t n = memory::used_bytes(s) - int32_t(value->w1);
        return hash_bytes(memory::head_of(s) + (n > 0 ? value->w1 : 0), n > 0 ? n : 0);
    }
    case TYPE_MONEY: {
        Cell copy = *value;
        copy.header &= TYPE_MASK | MONEY_SIGN;
        return hash_bytes(&copy, sizeof copy);
    }
    default: return 0;
    }
}

uint32_t hash_content(const Cell* value) {
    uint32_t type = type_of(value);
    if (!series::any_block_q(type))
        return address_hashed_q(type) ? mix_integer(type) : hash_value(value, true);
    if (cycles::visited_q(value->w2)) return mix_integer(type);
    cycles::Entry entry(value->w2);
    uint32_t h = mix_integer(type);
    // Hashing allocates nothing, so the cells stay where they are.
    SeriesBuffer* s = memory::buffer_of(value->w2);
    for (int32_t i = std::max(int32_t(value->w1), 0); i < memory::length_of(s); i++)
        h = murmur::mix_block(h, hash_content(memory::cells_head(s) + i));
    return murmur::fmix32(h);
}

int32_t round_up_power_of_two(int32_t n) {
    if (n <= 1) return 1;
    if (n > (1 << 30)) return 1 << 30;  // the largest count a signed 32-bit field holds
    uint32_t v = uint32_t(n) - 1;
    return int32_t(1u << (32 - __builtin_clz(v)));
}

// --- making, copying, clearing -----------------------------------------------

Node make_table(int32_t size, const Cell* source, int32_t kind, int32_t value_cells) {
    if (kind == KIND_SYMBOL && value_cells == COPY_TABLE) return copy_symbol_table(source->w1);
    Cell from{};
    bool cell_keyed = kind == KIND_HASH || kind == KIND_MAP || kind == KIND_SYMBOL;
    bool indexed = source != nullptr && cell_keyed;
    if (indexed) from = *source;  // the source may lie in a series that the allocations below move

    if (size < 4) size = 4;
    if (kind == KIND_SYMBOL && size >= 4000) size *= 2;
    int32_t buckets = bucket_count_for(size);
    int32_t entry_cells = cell_keyed ? 1 : value_cells + 1;

    // The record comes first and takes each array as soon as it exists, so
    // that rooting the record keeps the whole table alive.
    collector::Root keep_from(from);
    Node table = memory::alloc_bytes(sizeof(Table));
    collector::Root keep(table, collector::hash_table);
    {
        SeriesBuffer* s = memory::buffer_of(table);
        std::memset(memory::head_of(s), 0, sizeof(Table));
        s->tail = s->head + int32_t(sizeof(Table));
        Table* t = record(table);
        t->kind = kind;
        t->buckets = buckets;
        t->upper = int32_t(buckets * LOAD_FACTOR);
        if (!cell_keyed) t->indexes = entry_cells * int32_t(sizeof(Cell));
    }
    if (kind == KIND_HASH) {
        Node index = new_index(size);
        record(table)->indexes = int32_t(index);
        Node chains = dyn_array::make(4, 4);
        record(table)->chains = chains;
    }
    Node flags = new_flags(buckets);
    record(table)->flags = flags;
    Node keys = new_keys(buckets);
    record(table)->keys = keys;
    Node block = indexed ? from.w2 : memory::alloc_cells(int64_t(size) * entry_cells);
    Table* t = record(table);
    t->block = block;
    if (kind == KIND_INTEGER || kind == KIND_OWNERSHIP) t->stamp = collector_cycles() + 1;
    if (indexed) add_block_entries(table, int32_t(from.w1), kind == KIND_MAP ? 2 : 1);
    return table;
}

Node copy_symbol_table(Node table) {
    record(table)->indexes = SHARED_INDEX;  // the copy of the record says so too
    Node copy = memory::copy_series_buffer(table);
    collector::Root keep(copy, collector::hash_table);
    Node block = memory::copy_series_buffer(record(table)->block);
    record(copy)->block = block;
    return copy;
}

void own_index(Node table) {
    if (record(table)->kind != KIND_SYMBOL || record(table)->indexes != SHARED_INDEX) return;
    collector::Root keep(table, collector::hash_table);
    Node keys = memory::copy_series_buffer(record(table)->keys);
    record(table)->keys = keys;  // held by the record at once, so it stays reachable
    Node flags = memory::copy_series_buffer(record(table)->flags);
    record(table)->flags = flags;
    record(table)->indexes = 0;
}

Node copy_table(Node table, Node block) {
    collector::Root keep_table(table, collector::hash_table);
    collector::Root keep_block(block);
    Node copy = memory::copy_series_buffer(table);
    collector::Root keep(copy, collector::hash_table);
    record(copy)->block = block;
    if (record(table)->kind == KIND_HASH) {
        // Each chain is copied too, so that editing one hash! never reaches the other's chains.
        Node index = memory::copy_series_buffer(Node(record(table)->indexes));
        record(copy)->indexes = int32_t(index);
        Node chains = memory::copy_series_buffer(record(table)->chains);
        record(copy)->chains = chains;
        for (int32_t c = 1; c <= dyn_array::get_length(chains); c++) {
            Node chain = dyn_array::pick_pointer(record(copy)->chains, c);
            if (chain == 0) continue;
            Node chain_copy = memory::copy_series_buffer(chain);
            dyn_array::poke_int(record(copy)->chains, c, chain_copy);
        }
    }
    Node keys = memory::copy_series_buffer(record(table)->keys);
    record(copy)->keys = keys;
    Node flags = memory::copy_series_buffer(record(table)->flags);
    record(copy)->flags = flags;
    return copy;
}

void clear_table(Node table) {
    own_index(table);
    Table* t = record(table);
    SeriesBuffer* block = memory::buffer_of(t->block);
    memory::changing(block);  // a hash! value's block
    block->tail = block->head;
    if (t->kind == KIND_HASH || t->kind == KIND_MAP) {
        reset_buckets(t);
        return;
    }
    t->size = 0;
    t->occupied = 0;
    preset_flags(t);
}

void free_table(Node) {}

void resize_table(Node table, int32_t wanted) {
    own_index(table);
    Table* t = record(table);
    if (t->kind != KIND_MAP && t->kind != KIND_SYMBOL) fire_not_done();
    int32_t buckets = round_up_power_of_two(wanted < 4 ? 4 : wanted);
    int32_t upper = int32_t(buckets * LOAD_FACTOR + 0.5);
    if (t->size >= upper) return;
    int32_t old_buckets = t->buckets;
    if (buckets > old_buckets) {
        SeriesBuffer* keys = memory::expand_series(t->keys, int64_t(buckets) * 4);
        keys->tail = keys->head + buckets * 4;
    }
    Node flags = new_flags(buckets);  // the last allocation: nothing can collect it before the record holds it
    // No allocation from here on: the addresses below stay valid.
    t = record(table);
    uint32_t* old_flags = flags_of(t);
    uint32_t* fresh = reinterpret_cast<uint32_t*>(memory::head_of(memory::buffer_of(flags)));
    int32_t* keys = keys_of(t);
    const Cell* cells = block_head(t);
    for (int32_t j = 0; j < old_buckets; j++) {
        if (bucket_state(old_flags, uint32_t(j)) != BUCKET_LIVE) continue;
        set_bucket_state(old_flags, uint32_t(j), BUCKET_DELETED);
        int32_t key = keys[j];
        for (;;) {
            // Kick-out placement: a bucket still holding an unmoved old key
            // takes the travelling key, and its own key travels on.
            Probe p(hash_value(cells + key, false), buckets);
            while (bucket_state(fresh, p.index) != BUCKET_EMPTY && p.next()) {}
            uint32_t i = p.index;
            set_bucket_state(fresh, i, BUCKET_LIVE);
            if (i < uint32_t(old_buckets) && bucket_state(old_flags, i) == BUCKET_LIVE) {
                int32_t out = keys[i];
                keys[i] = key;
                set_bucket_state(old_flags, i, BUCKET_DELETED);
                key = out;
                continue;
            }
            keys[i] = key;
            break;
        }
    }
    t->flags = flags;
    t->buckets = buckets;
    t->upper = upper;
    if (t->kind != KIND_MAP) t->occupied = t->size;
}

// --- cell keys -----------------------------------------------------------------

Cell* put_key(Node table, int32_t position, int32_t* rebuilt) {
    if (rebuilt) *rebuilt = 0;
    Table* t = record(table);
    if (t->kind == KIND_HASH || t->kind == KIND_MAP) return put_cell_key(table, position, rebuilt);
    if (t->kind != KIND_SYMBOL) fire_not_done();
    own_index(table);
    t = record(table);
    if (t->occupied >= t->upper) {
        resize_table(table, 2 * t->size < t->buckets ? t->buckets - 1 : t->buckets + 1);
        t = record(table);
    }
    uint32_t* flags = flags_of(t);
    int32_t* keys = keys_of(t);
    const Cell* key = cell_at(t, position);
    Placement place = place_key(Probe(hash_value(key, false), t->buckets), [&] { return flags; }, [&](uint32_t i) {
        const Cell* other = cell_at(t, keys[i]);
        return type_of(other) == type_of(key) && symbol_keys_equal(other, key, COMP_STRICT_EQUAL);
    });
    if (place.free < 0) return cell_at(t, position);  // found, or full (which the load bound rules out)
    uint32_t target = uint32_t(place.free);
    bool was_empty = bucket_state(flags, target) == BUCKET_EMPTY;
    keys[target] = position;
    set_bucket_state(flags, target, BUCKET_LIVE);
    t->size++;
    if (was_empty) t->occupied++;
    return cell_at(t, position);
}

void insert_key(Node table, int32_t position) {
    int32_t ignored;
    put_key(table, position, &ignored);
}

void add_block_entries(Node table, int32_t first, int32_t skip) {
    int32_t kind = record(table)->kind;
    if (kind == KIND_INTEGER || kind == KIND_OWNERSHIP) fire_not_done();
    if (first < 0) first = 0;
    if (kind == KIND_MAP) {
        add_map_entries(table, first);
        return;
    }
    collector::Root keep(table, collector::hash_table);
    for (int32_t position = first; position < memory::length_of(memory::buffer_of(record(table)->block));
         position += skip) {
        int32_t rebuilt = 0;
        put_key(table, position, &rebuilt);
        if (rebuilt == 2) break;
    }
}

void remove_entry(Node table, int32_t position) {
    Table* t = record(table);
    if (t->kind == KIND_HASH) {
        remove_position(t, position);
    } else if (t->kind == KIND_MAP) {
        if (position + 1 >= block_length(t)) return;
        Cell* value = cell_at(t, position + 1);
        if (value->header == 0) return;
        value->header = 0;
        t->size--;
    }
}

void remove_range(Node table, int32_t position, int32_t count) {
    Table* t = record(table);
    if (t->kind != KIND_HASH) return;
    int32_t slots = index_slots(t);
    if (position < 0) position = 0;
    if (count > slots - position) count = slots - position;
    if (count <= 0) return;
    if (position == 0 && count >= block_length(t)) {
        reset_buckets(t);
        return;
    }
    for (int32_t i = position; i < position + count; i++) remove_position(t, i);
}

int32_t shift_indexes(Node table, int32_t delta, int32_t position, int32_t count, bool close) {
    if (count > SHIFT_LIMIT) return 1;
    if (record(table)->kind != KIND_HASH || delta == 0) return 0;
    if (close && delta < 0)
        for (int32_t i = position + delta; i < position; i++) remove_position(record(table), i);
    if (delta > 0) reserve_index(table, position + count + delta);
    Table* t = record(table);
    int32_t slots = index_slots(t);
    if (count > slots - position) count = slots - position;
    if (count <= 0 || position + delta < 0) return 0;
    int32_t* index = index_of(t);
    int32_t* keys = keys_of(t);
    std::vector<uint8_t> done(size_t(dyn_array::get_length(t->chains)) + 1, 0);
    for (int32_t i = position; i < position + count; i++) {
        int32_t bucket = index[i] - 1;
        if (bucket < 0) continue;
        int32_t slot = keys[bucket];
        if (slot >= 0) {
            keys[bucket] = slot + delta;
            continue;
        }
        if (done[size_t(-slot)]) continue;
        done[size_t(-slot)] = 1;  // a chain moves once, whichever of its members comes first
        Node chain = chain_node(t, slot);
        int32_t* members = chain_positions(chain);
        for (int32_t m = 0; m < chain_length(chain); m++)
            if (members[m] >= position) members[m] += delta;
    }
    std::memmove(index + position + delta, index + position, size_t(count) * 4);
    if (delta > 0)
        std::memset(index + position, 0xFF, size_t(std::min(delta, count)) * 4);
    else {
        int32_t from = std::max(position + count + delta, position);
        std::memset(index + from, 0xFF, size_t(position + count - from) * 4);
    }
    return 0;
}

void rebuild_table(Node table, int32_t new_size) {
    RebuildGuard guard;
    collector::Root keep(table, collector::hash_table);
    if (record(table)->kind != KIND_HASH) fire_not_done();
    int32_t length = block_length(record(table));
    if (new_size < length) new_size = length;
    int64_t wanted = int64_t(new_size) * 3 / 2;
    int32_t buckets = round_up_power_of_two(int32_t(std::min<int64_t>(wanted, 1 << 30)));
    if (buckets < 4) buckets = 4;
    Node flags = new_flags(buckets);
    record(table)->flags = flags;
    Node keys = new_keys(buckets);
    record(table)->keys = keys;
    Node index = new_index(length);
    record(table)->indexes = int32_t(index);
    Table* t = record(table);
    t->buckets = buckets;
    t->upper = int32_t(buckets * LOAD_FACTOR);
    t->size = 0;
    t->occupied = 0;
    t->stamp = 0;
    dyn_array::clear(t->chains);
    uint32_t cycles = collector_cycles();
    for (int32_t position = 0; position < block_length(record(table)); position++)
        put_cell_key(table, position, nullptr);
    t = record(table);
    if (t->stamp != 0) t->stamp = cycles + 1;
}

void cells_inserted(Node table, int32_t position, int32_t count, int32_t old_total) {
    if (count <= 0) return;
    collector::Root keep(table, collector::hash_table);
    if (position < old_total && shift_indexes(table, count, position, old_total - position, false) != 0) {
        rebuild_table(table, block_length(record(table)));
        return;
    }
    for (int32_t i = position; i < position + count; i++) {
        int32_t rebuilt = 0;
        put_key(table, i, &rebuilt);
        if (rebuilt == 2) return;
    }
}

void cells_removed(Node table, int32_t position, int32_t count, int32_t old_total) {
    if (count <= 0) return;
    collector::Root keep(table, collector::hash_table);
    if (position == 0 && count >= old_total) {
        reset_buckets(record(table));
        return;
    }
    for (int32_t i = position; i < position + count; i++) remove_position(record(table), i);
    int32_t after = old_total - position - count;
    if (after > 0 && shift_indexes(table, -count, position + count, after, false) != 0)
        rebuild_table(table, block_length(record(table)));
}

void cells_changed(Node table, int32_t position, int32_t count) {
    collector::Root keep(table, collector::hash_table);
    int32_t length = block_length(record(table));
    if (position < 0) position = 0;
    if (count > length - position) count = length - position;
    for (int32_t i = position; i < position + count; i++) remove_position(record(table), i);
    for (int32_t i = position; i < position + count; i++) {
        int32_t rebuilt = 0;
        put_key(table, i, &rebuilt);
        if (rebuilt == 2) return;
    }
}

void rebuild_all(Node table) { rebuild_table(table, block_length(record(table))); }

int32_t find_position(Node table, const Cell* key, int32_t start, int32_t skip, int32_t mode, bool last,
                      bool reverse) {
    int32_t kind = record(table)->kind;
    if (kind == KIND_HASH || kind == KIND_MAP) return find_cell_position(table, *key, start, skip, mode, last, reverse);
    const Cell* found = find_key(table, key, start, skip, mode, last, reverse);
    return found ? int32_t(found - block_head(record(table))) : -1;
}

Cell* find_key(Node table, const Cell* key, int32_t start, int32_t skip, int32_t mode, bool last, bool reverse) {
    Table* t = record(table);
    if (t->kind == KIND_HASH || t->kind == KIND_MAP) {
        int32_t position = find_cell_position(table, *key, start, skip, mode, last, reverse);
        return position < 0 ? nullptr : cell_at(record(table), position);
    }
    if (t->kind != KIND_SYMBOL) fire_not_done();
    check_stamp(table);
    t = record(table);
    const uint32_t* flags = flags_of(t);
    const int32_t* keys = keys_of(t);
    uint32_t type = type_of(key);
    Probe p(hash_value(key, false), t->buckets);
    do {
        uint32_t state = bucket_state(flags, p.index);
        if (state == BUCKET_EMPTY) return nullptr;
        if (state == BUCKET_DELETED) continue;
        Cell* other = cell_at(t, keys[p.index]);
        if ((type == TYPE_KEY_TEXT || type_of(other) == type) && symbol_keys_equal(other, key, mode)) return other;
    } while (p.next());
    return nullptr;
}

Cell* find_next_key(Node table, const Cell* key_in, int32_t* bucket, int32_t* start, int32_t* step) {
    Cell key = key_in ? *key_in : Cell{};
    collector::Root keep_key(key);
    collector::Root keep(table, collector::hash_table);
    Table* t = record(table);
    if (t->kind == KIND_INTEGER || t->kind == KIND_OWNERSHIP) fire_not_done();
    if (t->kind == KIND_MAP && any_word_key_q(type_of(&key))) key.header = (key.header & ~TYPE_MASK) | TYPE_SET_WORD;
    uint32_t mask = uint32_t(t->buckets) - 1;
    uint32_t i;
    if (*bucket < 0) {
        i = hash_value(&key, false) & mask;
        *start = int32_t(i);
        *step = 0;
    } else {
        i = (uint32_t(*bucket) + uint32_t(++*step)) & mask;
        if (i == uint32_t(*start)) return nullptr;
    }
    for (;;) {
        *bucket = int32_t(i);
        t = record(table);
        uint32_t state = bucket_state(flags_of(t), i);
        if (state == BUCKET_EMPTY) return nullptr;
        if (state == BUCKET_LIVE) {
            int32_t first = t->kind == KIND_HASH ? first_position(t, keys_of(t)[i]) : keys_of(t)[i];
            if (first >= 0) {
                Cell other = *cell_at(t, first);
                if (type_of(&other) == type_of(&key) && same_key_q(other, key, COMP_EQUAL))
                    return cell_at(record(table), first);
            }
        }
        i = (i + uint32_t(++*step)) & mask;
        if (i == uint32_t(*start)) return nullptr;
    }
}

// --- integer keys ------------------------------------------------------------------

Cell* put_address_key(Node table, uint32_t key) {
    check_address_kind(record(table));
    check_stamp(table);
    grow_address_table(table);
    Table* t = record(table);
    uint32_t* flags = flags_of(t);
    int32_t* keys = keys_of(t);
    int32_t cells = cells_per_entry(t);
    Placement place = place_key(Probe(mix_integer(key), t->buckets), [&] { return flags; },
                                [&](uint32_t i) { return entry_at(t, keys[i])->w1 == key; });
    if (place.found >= 0) {
        Cell* entry = entry_at(t, keys[place.found]);
        reset_values(entry, cells);
        return entry + 1;
    }
    if (place.free < 0) return nullptr;  // cannot happen below the load bound
    uint32_t target = uint32_t(place.free);
    bool was_empty = bucket_state(flags, target) == BUCKET_EMPTY;
    int32_t offset;
    if (was_empty) {
        // A new entry at the tail of the entries block, which may move or grow.
        Node block = t->block;
        uint8_t* at = cell::reserve_tail_bytes(block, t->indexes);
        offset = int32_t(at - memory::head_of(memory::buffer_of(block)));
        t = record(table);
        flags = flags_of(t);
        keys = keys_of(t);
        keys[target] = offset;
    } else {
        offset = keys[target];  // a deleted bucket still points at its old entry
    }
    Cell* entry = entry_at(t, offset);
    entry->header = ENTRY_LIVE;
    entry->w1 = key;
    entry->w2 = entry->w3 = 0;
    reset_values(entry, cells);
    set_bucket_state(flags, target, BUCKET_LIVE);
    t->size++;
    if (was_empty) t->occupied++;
    return entry + 1;
}

Cell* get_address_key(Node table, uint32_t key) {
    check_address_kind(record(table));
    check_stamp(table);
    const Table* t = record(table);
    int32_t bucket = find_address_bucket(t, key);
    return bucket < 0 ? nullptr : entry_at(t, keys_of(t)[bucket]) + 1;
}

Cell* remove_address_key(Node table, uint32_t key) {
    check_address_kind(record(table));
    check_stamp(table);
    Table* t = record(table);
    int32_t bucket = find_address_bucket(t, key);
    if (bucket < 0) return nullptr;
    set_bucket_state(flags_of(t), uint32_t(bucket), BUCKET_DELETED);
    t->size--;
    Cell* entry = entry_at(t, keys_of(t)[bucket]);
    entry->header = 0;
    return entry + 1;
}

void rehash_address_table(Node table) {
    Table* t = record(table);
    preset_flags(t);
    t->size = 0;
    t->occupied = 0;
    SeriesBuffer* block = memory::buffer_of(t->block);
    for (int32_t off = 0; off + t->indexes <= memory::used_bytes(block); off += t->indexes) {
        const Cell* entry = entry_at(t, off);
        if (entry->header == ENTRY_LIVE) place_entry(t, entry->w1, off);
    }
    t->stamp = collector_cycles() + 1;
}

void check_stamp(Node table) {
    const Table* t = record(table);
    if (!stale_q(t)) return;
    if (t->kind == KIND_INTEGER || t->kind == KIND_OWNERSHIP)
        rehash_address_table(table);
    else if (t->kind == KIND_HASH)
        rebuild_table(table, block_length(t));
}

// --- collector support ---------------------------------------------------------------

void mark_table(Node* table, const Marker& marker) {
    marker.mark_node(table);
    Table* t = record(*table);
    if (t->kind == KIND_HASH && t->indexes) marker.mark_node(reinterpret_cast<Node*>(&t->indexes));
    if (t->kind == KIND_HASH && t->chains) {  // a table being made may not have its arrays yet
        marker.mark_node(&t->chains);
        SeriesBuffer* chains = memory::buffer_of(t->chains);
        auto* chain = reinterpret_cast<Node*>(memory::head_of(chains));
        for (int32_t i = 0; i < memory::used_bytes(chains) / 4; i++)
            if (chain[i]) marker.mark_node(&chain[i]);
    }
    marker.mark_node(&t->flags);
    marker.mark_node(&t->keys);
    if ((t->kind == KIND_INTEGER || t->kind == KIND_OWNERSHIP) && t->block) {
        SeriesBuffer* block = memory::buffer_of(t->block);
        for (int32_t off = 0; off + t->indexes <= memory::used_bytes(block); off += t->indexes) {
            Cell* entry = entry_at(t, off);
            if (entry->header != ENTRY_LIVE || !live_node_q(entry->w1)) continue;
            if (memory::unit_of(memory::buffer_of(entry->w1)) == sizeof(Cell))
                marker.mark_cells(&entry->w1);
            else
                marker.mark_node(&entry->w1);
        }
    }
    marker.mark_cells(&t->block);
}

void mark_table_weak(Node* table, const Marker& marker, void (*forward)(Node* ref)) {
    marker.mark_node(table);
    Table* t = record(*table);
    marker.mark_node(&t->flags);
    marker.mark_node(&t->keys);
    if (!t->block) return;
    marker.mark_node(&t->block);  // the buffer only: its cells are reached through live keys
    SeriesBuffer* block = memory::buffer_of(t->block);
    for (int32_t off = 0; off + t->indexes <= memory::used_bytes(block); off += t->indexes) {
        Cell* entry = entry_at(t, off);
        if (entry->header == ENTRY_LIVE) forward(&entry->w1);
    }
}

int32_t mark_values_of_live_keys(Node table, std::vector<uint8_t>& done, void (*mark_values)(Cell* first, Cell* end)) {
    const Table* t = record(table);
    if (!t->block) return 0;
    SeriesBuffer* block = memory::buffer_of(t->block);
    int32_t cells = cells_per_entry(t);
    int32_t count = memory::used_bytes(block) / t->indexes;
    if (done.size() < size_t(count)) done.resize(size_t(count), 0);
    int32_t marked = 0;
    for (int32_t i = 0; i < count; i++) {
        Cell* entry = entry_at(t, i * t->indexes);
        if (done[size_t(i)] || entry->header != ENTRY_LIVE || !node_marked_q(entry->w1)) continue;
        done[size_t(i)] = 1;
        mark_values(entry + 1, entry + cells);
        marked++;
    }
    return marked;
}

void prune_dead_keys(Node table) {
    Table* t = record(table);
    if (t->kind != KIND_INTEGER && t->kind != KIND_OWNERSHIP) return;
    uint32_t* flags = flags_of(t);
    const int32_t* keys = keys_of(t);
    for (uint32_t i = 0; i < uint32_t(t->buckets); i++) {
        if (bucket_state(flags, i) != BUCKET_LIVE) continue;
        Cell* entry = entry_at(t, keys[i]);
        bool dead = !node_marked_q(entry->w1);
        // A live key had its values marked, owner included: this is a safeguard
        // that no entry outlives its owner's context.
        if (!dead && t->kind == KIND_OWNERSHIP && cells_per_entry(t) > 2 && type_of(&entry[2]) == TYPE_OBJECT)
            dead = !node_marked_q(entry[2].w1);
        if (!dead) continue;
        set_bucket_state(flags, i, BUCKET_DELETED);
        t->size--;
        entry->header = 0;
        entry->w1 = 0;
    }
}

void dump_table(Node table) {
    const Table* t = record(table);
    const uint32_t* flags = flags_of(t);
    const int32_t* keys = keys_of(t);
    bool entries = t->kind == KIND_INTEGER || t->kind == KIND_OWNERSHIP;
    auto print_keys = [&](uint32_t wanted) {
        for (uint32_t i = 0; i < uint32_t(t->buckets); i++) {
            if (bucket_state(flags, i) != wanted) continue;
            if (entries) {
                const Cell* entry = entry_at(t, keys[i]);
                runtime::PrintItem items[1 + 3];
                int32_t n = 0;
                items[n].tag = runtime::PrintItem::integer;
                items[n++].i = int32_t(entry->w1);
                for (int32_t c = 1; c < cells_per_entry(t) && n < 4; c++) {
                    items[n].tag = runtime::PrintItem::integer;
                    items[n++].i = int32_t(type_of(entry + c));
                }
                runtime::print_typed(size_t(n), items, true);
            } else {
                runtime::PrintItem items[2];
                int32_t position = t->kind == KIND_HASH ? first_position(t, keys[i]) : keys[i];
                items[0].tag = runtime::PrintItem::integer;
                items[0].i = position;
                items[1].tag = runtime::PrintItem::integer;
                items[1].i = position >= 0 ? int32_t(type_of(cell_at(t, position))) : 0;
                runtime::print_typed(2, items, true);
            }
            runtime::print(" ");
        }
    };
    runtime::print_line("");
    runtime::print_line("== Deleted keys ==");
    print_keys(BUCKET_DELETED);
    runtime::print_line("");
    runtime::print_line("== Alive keys ==");
    print_keys(BUCKET_LIVE);
    runtime::print_line("");
}

}  // namespace zuv::hash

// --- the collector's integer map --------------------------------------------------------

namespace zuv::int_map {

namespace {

uint32_t* new_flag_words(int32_t buckets) {
    size_t bytes = size_t(buckets < 16 ? 4 : buckets / 4);
    auto* flags = static_cast<uint32_t*>(runtime::allocate_memory(bytes));
    std::memset(flags, hash::FLAGS_ALL_EMPTY, bytes);
    return flags;
}

}  // namespace

Map* make(int32_t expected) {
    auto* map = static_cast<Map*>(runtime::allocate_zeroed(sizeof(Map)));
    map->buckets = hash::round_up_power_of_two(int32_t((expected < 4 ? 4 : expected) / hash::LOAD_FACTOR));
    map->upper = int32_t(map->buckets * hash::LOAD_FACTOR);
    map->flags = new_flag_words(map->buckets);
    map->pairs = static_cast<uint32_t*>(runtime::allocate_memory(size_t(map->buckets) * 8));
    return map;
}

void put(Map* map, uint32_t key, uint32_t value) {
    if (map->occupied >= map->upper)
        resize(map, 2 * map->size < map->buckets ? map->buckets - 1 : map->buckets + 1);
    hash::Placement place = hash::place_key(hash::Probe(hash::mix_integer(key), map->buckets),
                                            [&] { return map->flags; },
                                            [&](uint32_t i) { return map->pairs[2 * i] == key; });
    if (place.found >= 0) {
        map->pairs[2 * place.found + 1] = value;
        return;
    }
    if (place.free < 0) return;  // cannot happen below the load bound
    uint32_t target = uint32_t(place.free);
    bool was_empty = hash::bucket_state(map->flags, target) == hash::BUCKET_EMPTY;
    map->pairs[2 * target] = key;
    map->pairs[2 * target + 1] = value;
    hash::set_bucket_state(map->flags, target, hash::BUCKET_LIVE);
    map->size++;
    if (was_empty) map->occupied++;
}

int32_t find(const Map* map, uint32_t key) {
    hash::Probe p(hash::mix_integer(key), map->buckets);
    do {
        uint32_t state = hash::bucket_state(map->flags, p.index);
        if (state == hash::BUCKET_EMPTY) return -1;
        if (state == hash::BUCKET_LIVE && map->pairs[2 * p.index] == key) return int32_t(p.index);
    } while (p.next());
    return -1;
}

uint32_t* get(Map* map, uint32_t key) {
    int32_t bucket = find(map, key);
    return bucket < 0 ? nullptr : &map->pairs[2 * bucket + 1];
}

void remove(Map* map, uint32_t key) {
    int32_t bucket = find(map, key);
    if (bucket < 0) return;
    hash::set_bucket_state(map->flags, uint32_t(bucket), hash::BUCKET_DELETED);
    map->size--;
}

int32_t count(const Map* map) { return map->size; }

uint32_t* next(Map* map, uint32_t* pair) {
    uint32_t i = pair == nullptr ? 0 : uint32_t((pair - map->pairs) / 2 + 1);
    for (; i < uint32_t(map->buckets); i++)
        if (hash::bucket_state(map->flags, i) == hash::BUCKET_LIVE) return &map->pairs[2 * i];
    return nullptr;
}

void clear(Map* map) {
    std::memset(map->flags, hash::FLAGS_ALL_EMPTY, size_t(map->buckets < 16 ? 4 : map->buckets / 4));
    map->size = 0;
    map->occupied = 0;
}

void free(Map* map) {
    if (map == nullptr) return;
    runtime::free_memory(map->pairs);
    runtime::free_memory(map->flags);
    runtime::free_memory(map);
}

int32_t resize(Map* map, int32_t wanted) {
    int32_t buckets = hash::round_up_power_of_two(wanted < 4 ? 4 : wanted);
    int32_t upper = int32_t(buckets * hash::LOAD_FACTOR + 0.5);
    if (map->size >= upper) return 0;
    int32_t old_buckets = map->buckets;
    if (buckets > old_buckets) {
        void* grown = runtime::reallocate_memory(map->pairs, size_t(buckets) * 8);
        if (grown == nullptr) return -1;
        map->pairs = static_cast<uint32_t*>(grown);
    }
    uint32_t* old_flags = map->flags;
    uint32_t* fresh = new_flag_words(buckets);
    uint32_t* pairs = map->pairs;
    for (int32_t j = 0; j < old_buckets; j++) {
        if (hash::bucket_state(old_flags, uint32_t(j)) != hash::BUCKET_LIVE) continue;
        hash::set_bucket_state(old_flags, uint32_t(j), hash::BUCKET_DELETED);
        uint32_t key = pairs[2 * j], value = pairs[2 * j + 1];
        for (;;) {
            hash::Probe p(hash::mix_integer(key), buckets);
            while (hash::bucket_state(fresh, p.index) != hash::BUCKET_EMPTY && p.next()) {}
            uint32_t i = p.index;
            hash::set_bucket_state(fresh, i, hash::BUCKET_LIVE);
            if (i < uint32_t(old_buckets) && hash::bucket_state(old_flags, i) == hash::BUCKET_LIVE) {
                uint32_t out_key = pairs[2 * i], out_value = pairs[2 * i + 1];
                pairs[2 * i] = key;
                pairs[2 * i + 1] = value;
                hash::set_bucket_state(old_flags, i, hash::BUCKET_DELETED);
                key = out_key;
                value = out_value;
                continue;
            }
            pairs[2 * i] = key;
            pairs[2 * i + 1] = value;
            break;
        }
    }
    runtime::free_memory(old_flags);
    map->flags = fresh;
    if (buckets < old_buckets) {
        void* shrunk = runtime::reallocate_memory(map->pairs, size_t(buckets) * 8);
        if (shrunk != nullptr) map->pairs = static_cast<uint32_t*>(shrunk);
    }
    map->buckets = buckets;
    map->upper = upper;
    map->occupied = map->size;
    return 0;
}

}  // namespace zuv::int_map
