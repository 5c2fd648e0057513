// The word family: word!, set-word!, lit-word!, get-word! and refinement!.
//
// Payload:
//   word 1  node of the context the word is bound to (0: no context)
//   word 2  symbol id
//   word 3  index in that context (0-based); -1 when unknown, and for a self
//           word bound to its context's own value
//
// The global context holds one word table entry per global name. A case
// variant of an earlier name has its own entry whose index is the earlier
// spelling's, so both spellings read and write one value slot.
//
// While runtime::boot_flag is set, words made from names (and global words
// made for a symbol) are also copied to the tail of the root block, and the
// copy is what the caller receives, so that they stay reachable.
//
// Cell* results point into series buffers and are valid only until the next
// allocation, except cells of the root block, which never moves.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::word {

// True for the five word types and issue!.
inline bool any_word_q(uint32_t type) {
    uint32_t t = type & TYPE_MASK;
    return t >= TYPE_WORD && t <= TYPE_ISSUE;
}

// Fills a cell as a word of the given type {context, symbol, index}.
inline Cell* make_bound(Cell* c, uint32_t type, Node context, int32_t symbol, int32_t index) {
    cell::begin(c);
    c->w1 = context;
    c->w2 = uint32_t(symbol);
    c->w3 = uint32_t(index);
    return cell::set_type(c, type);
}

// ---- making words in the global context ----

// The global word for a symbol, adding it when absent (by canonical id when
// by_canonical). A symbol found through a case variant with variant_copy
// gives a root-block copy carrying the symbol itself.
Cell find_or_add_global(int32_t symbol, bool by_canonical, bool variant_copy);
// Exact lookup with the variant copy; under the boot flag a root-block copy.
Cell make_global(int32_t symbol);
// The name interned, then its global word by canonical id; under the boot flag a root-block copy.
Cell from_c_string(const char* name);
// The cell becomes a word! of the global context for the symbol (type byte
// replaced, flag bits kept). cell must not lie in a series buffer that can move.
Cell* make_at(int32_t symbol, Cell* cell);
// make_at on a new cell at the block's tail.
Cell* append_new(int32_t symbol, const Cell* block);
Cell* append_from_c_string(const char* name, const Cell* block);
// A copy of the cell at the tail of the root block.
Cell* copy_to_root(const Cell* cell);

// ---- values through words ----

// The word's value cell in ctx. Index -1 with the symbol exactly self gives
// the context's own value; index -1 otherwise raises script no-value; a
// context without values raises script not-in-context.
Cell* value_cell_in(const Cell* word, Node ctx);
Cell* value_cell(const Cell* word);
// Copies the word's value into out; an unset! value raises script no-value.
Cell* get(const Cell* word, Cell* out);
// Copies the word's value into out, unset! accepted.
Cell* get_any(const Cell* word, Cell* out);
// Stores value in the word's slot of its own context, events on; answers the
// slot's index (re-derive the slot after it: a change handler may have run).
int32_t set(Cell* word, const Cell* value);
// Stores an integer! in the word's slot (index looked up exactly when -1); the word must be present.
int32_t set_integer(Cell* word, int32_t value);
// Value i of the context's values series.
Cell* get_in(Node ctx, int32_t index);

// The symbol table cell of the word's symbol, its string made when missing.
Cell* symbol_cell(const Cell* word);
// Fills out as a string! sharing the symbol's cached name string (head 0).
Cell* name_string(const Cell* word, Cell* out);
// out := none! for an index of -1, else integer! index + 1.
Cell* index_of(const Cell* word, Cell* out);
void index_q();  // the slot: the call's first argument

// Scanning text as one value belongs to the lexer, which installs these at start-up.
struct ScanHooks {
    // The datatype id that UTF-8 text scans as (one value, nothing built), or -1.
    int32_t (*load_name)(const uint8_t* text, int32_t length);
    // out := the one value the string's text loads as: none when not wholly
    // consumed, unset! when empty. A syntax error is left pending (out
    // untouched) for the caller to hand on.
    void (*scan_one_value)(const Cell* str, Cell* out);
};
extern ScanHooks scan_hooks;
// The datatype id that the word's name scans as.
int32_t load_name(const Cell* word);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);  // make and to; errors raised as a status (null)
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::word

// The other members of the family: their molds and the words retyped from
// names (only made while the boot flag is set, so the retyped cell is the
// root-block copy, never the global word table entry).
namespace zuv::lit_word {
Cell from_c_string(const char* name);
Cell* append_from_c_string(const char* name, const Cell* block);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
void register_type();
}  // namespace zuv::lit_word

namespace zuv::set_word {
Cell from_c_string(const char* name);
Cell* append_from_c_string(const char* name, const Cell* block);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
void register_type();
}  // namespace zuv::set_word

namespace zuv::get_word {
Cell from_c_string(const char* name);
Cell* append_from_c_string(const char* name, const Cell* block);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
void register_type();
}  // namespace zuv::get_word

namespace zuv::refinement {
// A new root-block cell: refinement! with no context and the interned symbol.
Cell make_from_name(const char* name);
Cell* append_from_c_string(const char* name, const Cell* block);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
void register_type();
}  // namespace zuv::refinement

// Context slots by index.
namespace zuv::_context {
// The word table entry at the index.
Cell* node_word_at(Node ctx, int32_t index);
// The symbol's entry in ctx (exact lookup); when absent its global word.
Cell word_for_symbol(Node ctx, int32_t symbol);
// out := a copy of value i (stack or series); a context without values raises
// script not-defined naming the entry.
Cell* copy_value(Node ctx, int32_t index, Cell* out);
// Copies value into value i of the values series; an object's entry is marked changed first.
void set_value(Node ctx, int32_t index, const Cell* value);
// As set_value, first copying the old value into old.
void swap_value(Node ctx, int32_t index, const Cell* value, Cell* old);
}  // namespace zuv::_context
