// The symbol table and the word tables of contexts.
//
// Every name the language knows is a symbol: a 1-based id into one global
// block of symbol! cells, interned once and never removed. Spellings that
// differ only in ASCII letter case are separate symbols, but each later
// spelling records the id of the first one met as its alias, so that words
// compare case-insensitively through their canonical ids (symbol::resolve)
// while each spelling keeps its own text for molding.
//
// The symbol table is a kind-2 hash table (hash.hpp) over that block: its
// keys are cell positions and the hash of a symbol is the hash of its name
// with ASCII letters folded to lower case. Contexts keep their words in a
// kind-2 table of the same family, keyed by canonical symbol id.
//
// A symbol! cell:
//   word 1  alias: -1 for a first spelling, else the id of the symbol it is a case variant of
//   word 2  node of the name as a string! (0 until first asked for)
//   word 3  node of a byte series holding the UTF-8 name, its tail at the
//           end of the name and a NUL byte right after it
//
// Addresses handed out here are valid only until the next allocation.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::symbol {

// The symbol table (its hash table node) and the block of symbol! cells it indexes.
extern Node table;
extern Node cells;

// Makes the block of symbol! cells (room for size symbols) at the tail of the parent block.
void make_table_block(const Cell* parent, int32_t size);
// Makes the symbol table's hash over that block (kind 2, size expected names).
void make_table(int32_t size);

// The 1-based id of a name given as UTF-8 bytes (which must not lie in a
// series buffer: interning may allocate). With case_insensitive_only a name
// equal to an interned one ignoring ASCII case gives that symbol's id and no
// new symbol is made; otherwise an exact match gives its id and a new case
// variant records the first case-insensitive match as its alias.
int32_t intern(Node table, const uint8_t* name, int32_t length, bool case_insensitive_only);

// 0 when the names of the same length are equal: byte for byte when exact,
// else ignoring ASCII letter case.
int32_t compare_names(const uint8_t* a, const uint8_t* b, int32_t length, bool exact);

// Number of symbols interned.
int32_t count();

// The symbol! cell of an id (no string made).
inline Cell* cell_at(int32_t id) {
    return memory::internal_cells(memory::buffer_of(cells)) + (id - 1);
}
// The name's UTF-8 bytes (NUL-terminated) and their count.
inline const uint8_t* name_of(int32_t id) { return memory::head_of(memory::buffer_of(cell_at(id)->w3)); }
inline int32_t name_length(int32_t id) { return memory::used_bytes(memory::buffer_of(cell_at(id)->w3)); }

// The canonical id: the alias when the symbol is a case variant, else the id itself.
inline int32_t resolve(int32_t id) {
    int32_t alias = int32_t(cell_at(id)->w1);
    return alias > 0 ? alias : id;
}

}  // namespace zuv::symbol

namespace zuv::hash {

// Looks a symbol up in a context's word table (by canonical id when canonical
// is set, else the exact id) and answers its 0-based index. When absent:
// with context 0 answers -1; with a context node appends a word! entry
// {context, symbol, n} as the n-th word, stores n in *out_index and answers -1.
// A match also stores its index in *out_index (when given).
int32_t find_or_add_word(Node table, int32_t symbol, bool canonical, Node context, int32_t* out_index);

}  // namespace zuv::hash
