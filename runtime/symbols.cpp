#include "runtime/symbols.hpp"

#include <cstring>
#include <string>

#include "runtime/datatypes/block.hpp"
#include "runtime/hash.hpp"
#include "runtime/runtime.hpp"

namespace zuv::symbol {

Node table = 0;
Node cells = 0;

namespace {

// The size asked for when a kind-2 table is full: the buckets grow 32 times
// (or 16 times while under-filled), rounded by the resize to a power of two.
int32_t grown_size(const hash::Table* t) {
    return (2 * t->size < t->buckets ? t->buckets - 1 : t->buckets + 1) * 16;
}

void grow_if_full(Node table) {
    const hash::Table* t = hash::table_of(table);
    if (t->occupied >= t->upper) hash::resize_table(table, grown_size(t));
}

const Cell* block_cell(const hash::Table* t, int32_t position) { return hash::block_head(t) + position; }

// The name of a symbol! cell of the table.
const uint8_t* cell_name(const Cell* c, int32_t* length) {
    SeriesBuffer* s = memory::buffer_of(c->w3);
    *length = memory::used_bytes(s);
    return memory::head_of(s);
}

bool ascii_equal_folded(uint8_t a, uint8_t b) {
    if (a == b) return true;
    uint8_t la = unsigned(a - 'A') < 26u ? uint8_t(a + 32) : a;
    uint8_t lb = unsigned(b - 'A') < 26u ? uint8_t(b + 32) : b;
    return la == lb;
}

// Walks the probe sequence of hash; answers the position of the first live
// symbol whose name matches (exactly or ignoring ASCII case), or -1. *empty
// receives the empty bucket that ended the walk (-1 after a full circle).
int32_t probe_names(Node table, uint32_t hash, const uint8_t* name, int32_t length, bool exact, int32_t* empty) {
    const hash::Table* t = hash::table_of(table);
    const uint32_t* flags = hash::flags_of(t);
    const int32_t* keys = hash::keys_of(t);
    hash::Probe p(hash, t->buckets);
    *empty = -1;
    do {
        uint32_t state = hash::bucket_state(flags, p.index);
        if (state == hash::BUCKET_EMPTY) {
            *empty = int32_t(p.index);
            return -1;
        }
        if (state != hash::BUCKET_LIVE) continue;
        int32_t position = keys[p.index];
        int32_t other_length;
        const uint8_t* other = cell_name(block_cell(t, position), &other_length);
        if (other_length == length && compare_names(other, name, length, exact) == 0) return position;
    } while (p.next());
    return -1;
}

// Appends a new symbol! cell with the name and alias, and makes bucket its key.
int32_t add_symbol(Node table, int32_t bucket, const uint8_t* name, int32_t length, int32_t alias) {
    // The name may lie in memory that the allocations below reuse: keep a copy.
    std::string spelling(reinterpret_cast<const char*>(name), size_t(length));
    Node block = hash::table_of(table)->block;
    cell::alloc_tail_cell(block);  // header unset!, payload filled below
    int32_t position = memory::length_of(memory::buffer_of(block)) - 1;

    Node bytes = memory::alloc_bytes(int64_t(length) + 1);
    SeriesBuffer* s = memory::buffer_of(bytes);
    if (length > 0) std::memcpy(memory::head_of(s), spelling.data(), size_t(length));
    memory::head_of(s)[length] = 0;
    s->tail = s->head + length;

    Cell* c = memory::internal_cells(memory::buffer_of(block)) + position;
    c->w3 = bytes;
    c->w2 = 0;
    c->w1 = uint32_t(alias);
    cell::set_type(c, TYPE_SYMBOL);

    hash::Table* t = hash::table_of(table);
    uint32_t* flags = hash::flags_of(t);
    if (hash::bucket_state(flags, uint32_t(bucket)) == hash::BUCKET_EMPTY) t->occupied++;
    hash::set_bucket_state(flags, uint32_t(bucket), hash::BUCKET_LIVE);
    hash::keys_of(t)[bucket] = position;
    t->size++;
    return position + 1;
}

}  // namespace

void make_table_block(const Cell* parent, int32_t size) {
    Cell* block = block::make_in(parent, size);
    cells = block->w2;
}

void make_table(int32_t size) {
    // The table indexes the existing block of symbols from its head.
    Cell source{TYPE_BLOCK, 0, cells, 0};
    table = hash::make_table(size, &source, hash::KIND_SYMBOL, 0);
}

int32_t intern(Node table, const uint8_t* name, int32_t length, bool case_insensitive_only) {
    grow_if_full(table);
    uint32_t h = hash::hash_symbol_name(name, length);
    int32_t empty;
    int32_t found = probe_names(table, h, name, length, !case_insensitive_only, &empty);
    if (found >= 0) return found + 1;
    if (empty < 0) runtime::quit_with_runtime_error(98, 0);  // a table grows before it can fill up
    if (case_insensitive_only) return add_symbol(table, empty, name, length, -1);

    // A new case variant: its alias is the canonical id of the spelling met,
    // which after a resize may itself be a variant met before its original.
    int32_t ignored;
    int32_t variant_of = probe_names(table, h, name, length, false, &ignored);
    return add_symbol(table, empty, name, length, variant_of >= 0 ? resolve(variant_of + 1) : -1);
}

int32_t compare_names(const uint8_t* a, const uint8_t* b, int32_t length, bool exact) {
    if (exact) return std::memcmp(a, b, size_t(length)) == 0 ? 0 : 1;
    for (int32_t i = 0; i < length; i++)
        if (!ascii_equal_folded(a[i], b[i])) return 1;
    return 0;
}

int32_t count() { return cells ? memory::length_of(memory::buffer_of(cells)) : 0; }

}  // namespace zuv::symbol

namespace zuv::hash {

int32_t find_or_add_word(Node table, int32_t symbol, bool canonical, Node context, int32_t* out_index) {
    if (context) {
        own_index(table);  // a word may be added: the index must be this table's own
        const Table* t = table_of(table);
        if (t->occupied >= t->upper)
            resize_table(table, (2 * t->size < t->buckets ? t->buckets - 1 : t->buckets + 1) * 16);
    }
    int32_t c = symbol::resolve(symbol);
    const Table* t = table_of(table);
    const uint32_t* flags = flags_of(t);
    const int32_t* keys = keys_of(t);
    const Cell* words = block_head(t);
    Probe p(mix_integer(uint32_t(c)), t->buckets);
    int32_t empty = -1;
    do {
        uint32_t state = bucket_state(flags, p.index);
        if (state == BUCKET_EMPTY) {
            empty = int32_t(p.index);
            break;
        }
        if (state != BUCKET_LIVE) continue;
        const Cell* w = words + keys[p.index];
        int32_t s = int32_t(w->w2);
        if (canonical ? symbol::resolve(s) == c : s == symbol) {
            int32_t index = int32_t(w->w3);
            if (out_index) *out_index = index;
            return index;
        }
    } while (p.next());
    if (!context || empty < 0) return -1;

    Node block = t->block;
    cell::alloc_tail_cell(block);
    SeriesBuffer* b = memory::buffer_of(block);
    int32_t n = memory::length_of(b) - 1;
    Cell* w = memory::internal_cells(b) + n;
    w->w1 = context;
    w->w2 = uint32_t(symbol);
    w->w3 = uint32_t(n);
    cell::set_type(w, TYPE_WORD);

    Table* rt = table_of(table);
    uint32_t* rflags = flags_of(rt);
    rt->occupied++;
    rt->size++;
    set_bucket_state(rflags, uint32_t(empty), BUCKET_LIVE);
    keys_of(rt)[empty] = n;
    if (out_index) *out_index = n;
    return -1;
}

}  // namespace zuv::hash
