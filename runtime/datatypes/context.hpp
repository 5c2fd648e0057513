// context!: the binding environment of the language.
//
// A context is an ordered set of words, each with one value slot. A context
// is one node whose series holds exactly two cells:
//   cell 0  the context! cell
//   cell 1  the context's own value: unset! when made; an object stores its
//           object! value there, and self words bound with index -1 reach it
//
// The context! cell:
//   bits 11-12  kind: 0 the global context, 1 a function, native, action or
//               routine, 2 an object
//   bit 22      values on the data stack (no values series)
//   bit 24      self flag
//   word 1      node of the word table: a kind-2 hash table whose block holds
//               one word! entry {context, symbol, index} per word, in the
//               order the words were added; in an object context bit 13 of an
//               entry marks the word as changed
//   word 2      without bit 22: node of the values series (one cell per word,
//               in word order); with bit 22: the data stack index + 1 of the
//               first argument while a call runs, 0 otherwise
//   word 3      without bit 22: the shape (shape_of); with bit 22: a lower
//               bound of the word count (value_slot)
//
// Contexts are passed by node, never by the address of their cell: the
// buffers move when the collector compacts. Every Cell* handed out here is
// valid only until the next allocation. Functions that may run user code
// (set_in, through on-change*) answer a slot index; re-derive the slot with
// value_slot after the call.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/hash.hpp"
#include "runtime/memory.hpp"
#include "evaluator/stack.hpp"

namespace zuv::_context {

enum Kind : int32_t { KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2 };
constexpr uint32_t WORD_CHANGED = 0x2000;  // word table entry of an object: value stored since made

// The global context (4000 words, kind 0), made at start-up.
extern Node global;

inline Cell* cell_of(Node ctx) { return memory::internal_cells(memory::buffer_of(ctx)); }
inline Cell* own_value(Node ctx) { return cell_of(ctx) + 1; }
inline int32_t kind_of(const Cell* c) { return int32_t((c->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT); }
inline bool on_stack_q(const Cell* c) { return (c->header & CONTEXT_ON_STACK) != 0; }

// The shape of a context whose values are off the stack: contexts of one
// shape hold the same words at the same indices, so that code meeting many
// objects of one prototype finds a field's index once. A context made from
// a prototype's word table takes the prototype's shape; one made empty, and
// one that gains a word, a new one. Shapes have the top bit set (no word
// count kept in an on-stack context's word 3 looks like one); 0, no shape,
// once the numbers run out.
constexpr uint32_t SHAPE_BIT = 0x80000000u;
uint32_t new_shape();
inline uint32_t shape_of(const Cell* c) { return c->w3 & SHAPE_BIT ? c->w3 : 0; }
// Gives the object context the shape of the last one seen with the same
// words in the same order (objects made apart from one spec block), else
// keeps its own for the next one.
void share_shape(Node ctx);

// An on-stack context's values word: the data stack index of the running
// call's first argument + 1, or 0 outside a call (stack::values_word_of and
// stack::values_of convert it).
inline uint32_t values_word(Node ctx) { return cell_of(ctx)->w2; }
inline void set_values_word(Node ctx, uint32_t word) { cell_of(ctx)->w2 = word; }

// Word table accessors.
inline Node get_words_node(Node ctx) { return hash::table_of(cell_of(ctx)->w1)->block; }  // the word! entries
inline SeriesBuffer* get_words_buffer(Node ctx) { return memory::buffer_of(get_words_node(ctx)); }
inline Cell* get_word_cell(Node ctx, int32_t index) { return memory::internal_cells(get_words_buffer(ctx)) + index; }
inline int32_t word_count(Node ctx) { return memory::length_of(get_words_buffer(ctx)); }

// Value i of the context (on the stack or in the values series), or null when
// the context has no values (word 2 is 0). Word reads take this path: the
// common cases are inline.
Cell* value_slot_on_stack(Node ctx, int32_t index);
[[gnu::always_inline]] inline Cell* value_slot(Node ctx, int32_t index) {
    Cell* c = cell_of(ctx);
    if (c->w2 == 0 || index < 0) return nullptr;
    if (on_stack_q(c)) {
        if (uint32_t(index) >= c->w3) return value_slot_on_stack(ctx, index);
        return stack::values_of(c->w2) + index;
    }
    SeriesBuffer* values = memory::buffer_of(c->w2);
    if (index >= memory::length_of(values)) return nullptr;
    return memory::internal_cells(values) + index;
}

// A new context: room for count words (0 taken as 1), a values series of
// count unset! cells unless on_stack, kind in bits 11-12, bit 24 with self.
// With a prototype (0 for none) its word table is copied and the copied
// entries are bound to the new context.
Node create(int32_t count, bool on_stack, bool self, Node proto, int32_t kind);

// 0-based index of the symbol among the context's words, or -1.
int32_t find_word(Node ctx, int32_t symbol, bool by_canonical);
// The index of the word's symbol (by canonical id) in ctx, or -1: index hint
// first, taken when the entry there is the word's own symbol, else the
// table's lookup. For object and function contexts, which hold one entry per
// canonical id (the global context may hold two spellings of one word). Callers keep
// the answer as the next hint, for code that meets objects of one shape.
inline int32_t find_word_hinted(Node ctx, const Cell& word, int32_t hint) {
    if (hint >= 0) {
        SeriesBuffer* words = get_words_buffer(ctx);
        if (hint < memory::length_of(words) && memory::internal_cells(words)[hint].w2 == word.w2) return hint;
    }
    return find_word(ctx, int32_t(word.w2), true);
}
// The symbol's index when present; else appends an entry, stores its index
// in *out_index and answers -1. Does not touch the values.
int32_t add_symbol(Node ctx, int32_t symbol, bool by_canonical, int32_t* out_index);
// Adds the word's symbol (by canonical id) when absent, with an unset! value
// when the context keeps a values series; answers the word's index.
int32_t add_word(Node ctx, const Cell* word);
// Stores a copy of value in the slot of the word's symbol (by canonical id),
// adding the word when absent.
void put_value(Node ctx, const Cell* word, const Cell* value);
// Adds the word with a copy of value when its symbol is absent; else nothing.
void add_if_absent(Node ctx, const Cell* word, const Cell* value);

// The value cell of a symbol that is present (by canonical id); a context
// keeping its values on the stack is searched in the global context instead.
Cell* find_value_cell(int32_t symbol, Node ctx);
// Stores a copy of value in the symbol's global slot (exact lookup), adding the word when absent.
void set_global_value(int32_t symbol, const Cell* value);
// The symbol's value cell in the global context (by canonical id); the symbol must be present.
Cell* global_value_cell(int32_t symbol);

// Stores value in the word's slot of ctx and answers the slot's index. A word
// of unknown index (-1) is looked up exactly and added when missing, and its
// index field updated. A context without values raises script not-defined.
// In an object context the entry is marked changed and, with events, the
// object's change handler runs (user code: re-derive the slot afterwards).
int32_t set_in(Cell* word, const Cell* value, Node ctx, bool events);

// Binds one word when its symbol (by canonical id) is in ctx: context node
// into word 1, index into word 3. Answers the index, or -1 leaving the word.
int32_t bind_word(Node ctx, Cell* word);
// Binds a block deeply (nested blocks, parens, paths and hash! values too). A
// block already being bound is not entered again. With self, a word! spelled
// exactly self is bound to the context's own value (index -1).
Cell* bind_block(Cell* block, Node ctx, bool self);
// Binds a block deeply as bind_block walks it, but only its word! and
// lit-word! cells spelled (canonically) as one of the count words of named:
// each takes the binding of the word it names. A cell bound so already is
// left as it is, and so is the compiled code of its block.
Cell* bind_named(Cell* block, const Cell* named, int32_t count);

// result := a deep copy of code (its blocks, parens and paths copied, as a
// deep clone of code copies them; a cycle raises internal no-cycle) with the
// binding bind_block(copy, ctx, true) then bind_block(copy, inner, false)
// give, made in one walk, for code that was bound to ctx_was and inner_was
// and whose contexts ctx and inner copy their word tables (same words at the
// same indices; 0 for an unknown old context): a word bound to an old
// context keeps its index, and a word whose symbol is in neither new context
// is passed over without a look-up. result must stay reachable (a cell of
// the data stack).
Cell* copy_rebound(const Cell* block, Cell* result, Node ctx, Node ctx_was, Node inner, Node inner_was);
// A context made from a function spec: its word!, get-word!, lit-word! and
// refinement! entries in spec order, a repeated spelling adding nothing.
Node make_from_spec(const Cell* spec, bool on_stack, bool self, int32_t kind);
// Adds every set-word! of the block from its head (a head past the tail is
// first clamped and written back); true when the word table grew.
bool add_set_words(Node ctx, Cell* block);
// Gives the value (word 1 a context node) a fresh context of the given kind
// with the old words, flags and word count; answers the new node. A
// function's context made again shares the old one's word table (it never
// changes), so its entries name the first context: read the context from
// the node asked for, never from an entry. value must not lie in a series
// buffer that can move.
Node renew_for(Cell* value, int32_t kind);

// Change handler of object contexts: called by set_in with the object value,
// the word, the old and the new value. Installed by object!; until then
// objects have no handlers.
using OnChange = void (*)(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value);
extern OnChange on_change;

// Set by the compiled form: offered a set-word's new binding (ctx,
// word_index) at index of node before bind writes it; true when the forms
// made from node took it, so that the write need not drop them.
using Rebound = bool (*)(Node node, int32_t index, Node ctx, int32_t word_index);
extern Rebound rebound_hook;

// Makes the global context (start-up).
void init_global(int32_t count);

void register_type();

}  // namespace zuv::_context
