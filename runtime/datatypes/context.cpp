#include "runtime/datatypes/context.hpp"

#include <algorithm>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/hash.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::_context {

Node global = 0;
OnChange on_change = nullptr;
Rebound rebound_hook = nullptr;

namespace {

Node word_table(Node ctx) { return cell_of(ctx)->w1; }

uint32_t shapes_made = 0;

bool keeps_values_series(const Cell* c) { return !on_stack_q(c) && c->w2 != 0; }

// Appends one unset! value for a word just added.
void append_unset_value(Node ctx) {
    const Cell* c = cell_of(ctx);
    if (keeps_values_series(c)) cell::alloc_tail_cell(c->w2);
}

bool bindable_word_q(uint32_t type) {
    switch (type) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT: return true;
    default: return false;
    }
}

bool nested_block_q(uint32_t type) {
    switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH: return true;
    default: return false;
    }
}

// Cells from the head index to the tail of a block-like series, as (node, first, end) positions.
struct Span {
    Node node;
    int32_t first;
    int32_t end;
};
Span span_of(const Cell* block) {
    Node node = block->w2;
    int32_t end = node ? memory::length_of(memory::buffer_of(node)) : 0;
    int32_t first = int32_t(block->w1);
    if (first < 0) first = 0;
    if (first > end) first = end;
    return Span{node, first, end};
}
const Cell* cell_in(Node node, int32_t i) { return memory::cells_head(memory::buffer_of(node)) + i; }

// Gives the word at cell i of the series the binding (ctx, index), when it
// has another: a block already bound so is left as it is, and so is its
// compiled code. The new binding is first offered to the compiled forms of
// the series (rebound_hook), which may take it without being dropped.
void rebind_cell(Node node, int32_t i, Node ctx, int32_t index) {
    const Cell* c = cell_in(node, i);
    if (c->w1 == ctx && c->w3 == uint32_t(index)) return;
    SeriesBuffer* b = memory::buffer_of(node);
    bool kept = (b->flags & SERIES_CODE) && rebound_hook && rebound_hook(node, i, ctx, index);
    Cell* w = (kept ? memory::internal_cells(b) : memory::cells_for_write(b)) + i;
    w->w1 = ctx;
    w->w3 = uint32_t(index);
}

}  // namespace

Cell* value_slot_on_stack(Node ctx, int32_t index) {
    Cell* c = cell_of(ctx);
    // Words are only ever added to a context: the count seen here stays a
    // lower bound, kept in the cell so that the next read skips the table.
    int32_t count = word_count(ctx);
    c->w3 = uint32_t(count);
    if (index >= count) return nullptr;
    return stack::values_of(c->w2) + index;
}

uint32_t new_shape() {
    if (shapes_made == ~SHAPE_BIT) return 0;  // run out: no shape, never matched
    return SHAPE_BIT | ++shapes_made;
}

namespace {

// The word lists of shapes seen lately, by a hash of the list.
struct SeenShape {
    std::vector<int32_t> symbols;
    uint32_t shape = 0;
};
constexpr int32_t SHARED_WORDS = 32;  // longer lists are not worth comparing
SeenShape seen_shapes[64];

}  // namespace

void share_shape(Node ctx) {
    Cell* c = cell_of(ctx);
    if (on_stack_q(c) || !shape_of(c)) return;
    SeriesBuffer* words = get_words_buffer(ctx);
    int32_t n = memory::length_of(words);
    if (n == 0 || n > SHARED_WORDS) return;
    const Cell* entry = memory::internal_cells(words);
    uint32_t hash = uint32_t(n);
    for (int32_t i = 0; i < n; i++) hash = (hash ^ entry[i].w2) * 0x01000193u;
    SeenShape& seen = seen_shapes[(hash ^ hash >> 16) & 63];
    bool same = seen.symbols.size() == size_t(n);
    for (int32_t i = 0; same && i < n; i++) same = seen.symbols[size_t(i)] == int32_t(entry[i].w2);
    if (same) {
        c->w3 = seen.shape;
        return;
    }
    seen.symbols.resize(size_t(n));
    for (int32_t i = 0; i < n; i++) seen.symbols[size_t(i)] = int32_t(entry[i].w2);
    seen.shape = c->w3;
}

Node create(int32_t count, bool on_stack, bool self, Node proto, int32_t kind) {
    int32_t n = count > 0 ? count : 1;
    Node table = proto ? hash::copy_symbol_table(word_table(proto)) : hash::make_table(n, nullptr, hash::KIND_SYMBOL, 0);
    collector::Root keep_table(table, collector::hash_table);  // nothing else holds it until the context cell does
    int32_t words = memory::length_of(memory::buffer_of(hash::table_of(table)->block));
    Node values = 0;
    if (!on_stack) {
        // One value per word: a copied word table brings its words with unset! values.
        values = memory::alloc_unset_cells(words > n ? words : n);
        SeriesBuffer* b = memory::buffer_of(values);
        b->tail = b->head + words * int32_t(sizeof(Cell));
    }
    collector::Root keep_values(values);
    Node ctx = memory::alloc_unset_cells(2);
    SeriesBuffer* s = memory::buffer_of(ctx);
    s->tail = s->head + 2 * int32_t(sizeof(Cell));
    Cell* c = memory::internal_cells(s);
    c->w1 = table;
    c->w2 = values;
    c->w3 = 0;  // on the stack: a lower bound of the word count (value_slot)
    if (!on_stack) {
        uint32_t shape = proto ? shape_of(cell_of(proto)) : 0;
        c->w3 = shape ? shape : new_shape();
    }
    c->header = TYPE_CONTEXT | (uint32_t(kind) << CONTEXT_KIND_SHIFT & CONTEXT_KIND_MASK) |
                (on_stack ? CONTEXT_ON_STACK : 0) | (self ? CONTEXT_SELF : 0);
    if (proto) {
        // The copied entries belong to the new context.
        Cell* entry = memory::internal_cells(get_words_buffer(ctx));
        for (int32_t i = 0; i < words; i++) entry[i].w1 = ctx;
    }
    return ctx;
}

// Contexts of at most this many words are searched entry by entry: cheaper
// than hashing for the small contexts of functions and most objects.
constexpr int32_t SCANNED_WORDS = 8;

int32_t find_word(Node ctx, int32_t symbol, bool by_canonical) {
    // The global context may hold one word in two spellings, where the
    // table's probe order decides which one a canonical look-up finds.
    const Cell* c = cell_of(ctx);
    if (kind_of(c) != KIND_GLOBAL) {
        SeriesBuffer* words = memory::buffer_of(hash::table_of(c->w1)->block);
        int32_t n = memory::length_of(words);
        if (n <= SCANNED_WORDS) {
            const Cell* entry = memory::internal_cells(words);
            if (!by_canonical) {
                for (int32_t i = 0; i < n; i++)
                    if (int32_t(entry[i].w2) == symbol) return int32_t(entry[i].w3);
                return -1;
            }
            // symbol::resolve, with the symbol cells found once; the same
            // spelling, the common case, needs no look at them.
            const Cell* symbols = symbol::cell_at(1);
            auto canonical_of = [symbols](int32_t id) {
                int32_t alias = int32_t(symbols[id - 1].w1);
                return alias > 0 ? alias : id;
            };
            int32_t wanted = canonical_of(symbol);
            for (int32_t i = 0; i < n; i++) {
                int32_t s = int32_t(entry[i].w2);
                if (s == symbol || canonical_of(s) == wanted) return int32_t(entry[i].w3);
            }
            return -1;
        }
    }
    return hash::find_or_add_word(word_table(ctx), symbol, by_canonical, 0, nullptr);
}

int32_t add_symbol(Node ctx, int32_t symbol, bool by_canonical, int32_t* out_index) {
    int32_t found = hash::find_or_add_word(word_table(ctx), symbol, by_canonical, ctx, out_index);
    if (found < 0) {
        Cell* c = cell_of(ctx);  // adding may have moved it
        if (!on_stack_q(c)) c->w3 = new_shape();
    }
    return found;
}

int32_t add_word(Node ctx, const Cell* word) {
    int32_t index;
    if (add_symbol(ctx, int32_t(word->w2), true, &index) >= 0) return index;
    append_unset_value(ctx);
    return index;
}

void put_value(Node ctx, const Cell* word, const Cell* value) {
    Cell v = *value;  // the value may lie in a series that adding the word moves
    int32_t index = add_word(ctx, word);
    if (Cell* slot = value_slot(ctx, index)) *slot = v;
}

void add_if_absent(Node ctx, const Cell* word, const Cell* value) {
    if (find_word(ctx, int32_t(word->w2), true) >= 0) return;
    put_value(ctx, word, value);
}

Cell* find_value_cell(int32_t symbol, Node ctx) {
    if (on_stack_q(cell_of(ctx))) ctx = global;
    return value_slot(ctx, find_word(ctx, symbol, true));
}

void set_global_value(int32_t symbol, const Cell* value) {
    Cell v = *value;
    int32_t index = find_word(global, symbol, false);
    if (index < 0) index = int32_t(word::make_global(symbol).w3);
    if (Cell* slot = value_slot(global, index)) *slot = v;
}

Cell* global_value_cell(int32_t symbol) { return value_slot(global, find_word(global, symbol, true)); }

int32_t set_in(Cell* word, const Cell* value, Node ctx, bool events) {
    Cell v = *value;  // the value and the word may lie in a series that adding the word moves
    Cell w = *word;
    int32_t index = int32_t(w.w3);
    if (index == -1) {
        int32_t symbol = int32_t(w.w2);
        index = find_word(ctx, symbol, false);
        // A spelling added under another case is the same word (add_word finds it by canonical id).
        if (index < 0) index = find_word(ctx, symbol, true);
        if (index < 0) {
            // Contexts on the stack get no new value slots: a missing word there is not defined.
            if (on_stack_q(cell_of(ctx))) fire(ErrorCategory::script, "not-defined", &w);
            // The new word's index is the next one; the word is updated before
            // adding, since adding may move the series it lies in.
            index = word_count(ctx);
            word->w3 = uint32_t(index);
            add_word(ctx, &w);
        } else {
            word->w3 = uint32_t(index);
        }
        w.w3 = uint32_t(index);
    }
    Cell* slot = value_slot(ctx, index);
    if (!slot) fire(ErrorCategory::script, "not-defined", &w);

    if (kind_of(cell_of(ctx)) == KIND_OBJECT) {
        get_word_cell(ctx, index)->header |= WORD_CHANGED;
        const Cell* object = own_value(ctx);
        if (events && on_change && type_of(object) == TYPE_OBJECT && object->w3 != 0) {
            // The old value stays reachable on the data stack while the handler runs.
            Cell* saved_top = stack::top;
            Cell* old = stack::push(slot);
            Cell owner = *object;
            *slot = v;
            on_change(&owner, &w, old, &v);
            stack::top = saved_top;
            return index;
        }
    }
    *slot = v;
    return index;
}

int32_t bind_word(Node ctx, Cell* word) {
    int32_t index = find_word(ctx, int32_t(word->w2), true);
    if (index >= 0) {
        word->w1 = ctx;
        word->w3 = uint32_t(index);
    }
    return index;
}

namespace {

uint64_t symbol_bit(int32_t symbol) { return uint64_t(1) << (uint32_t(symbol::resolve(symbol)) & 63); }

// The index of the word's symbol in the object or function context ctx: the
// index the word holds when the entry there has its symbol (a block bound
// before to another context with the same word layout, as each object made
// from one prototype or one spec has), else looked up.
int32_t index_in(Node ctx, const Cell& word) {
    if (kind_of(cell_of(ctx)) == KIND_GLOBAL) return find_word(ctx, int32_t(word.w2), true);
    return find_word_hinted(ctx, word, int32_t(word.w3));
}

// A 64-bit filter of the canonical ids of a context's words: a word whose bit
// is clear is not in the context and needs no look-up. A context of more
// words than FILTERED_WORDS (the global one, large objects) would set most
// bits and cost a pass over its words at each binding: every bit is set.
constexpr int32_t FILTERED_WORDS = 24;
uint64_t word_filter(Node ctx) {
    const Cell* c = cell_of(ctx);
    if (kind_of(c) == KIND_GLOBAL) return ~uint64_t(0);
    // The filter of the shape last asked for: the objects made from one
    // prototype bind their specs and methods one after another. A function's
    // context never gains a word, and the copies of a method made for those
    // objects share its word table: its filter is kept by that table's node,
    // trusted while no collection has run (one may free the node and give it
    // to another table).
    static uint32_t last_shape = 0;
    static uint64_t last_filter = 0;
    static Node last_table = 0;
    static int32_t last_table_words = -1;
    static uint32_t last_table_cycles = 0;
    static uint64_t last_table_filter = 0;
    uint32_t shape = shape_of(c);
    if (shape && shape == last_shape) return last_filter;
    bool fixed_words = kind_of(c) == KIND_FUNCTION && on_stack_q(c);
    if (fixed_words && c->w1 == last_table && last_table_cycles == collector::series_cycles &&
        word_count(ctx) == last_table_words)
        return last_table_filter;
    SeriesBuffer* words = get_words_buffer(ctx);
    int32_t n = memory::length_of(words);
    uint64_t filter = ~uint64_t(0);
    if (n <= FILTERED_WORDS) {
        filter = 0;
        const Cell* entry = memory::internal_cells(words);
        for (int32_t i = 0; i < n; i++) filter |= symbol_bit(int32_t(entry[i].w2));
    }
    if (shape) {
        last_shape = shape;
        last_filter = filter;
    } else if (fixed_words) {
        last_table = c->w1;
        last_table_words = n;
        last_table_cycles = collector::series_cycles;
        last_table_filter = filter;
    }
    return filter;
}

// Calls on_word(node, index, cell) for each bindable word of block and of
// the blocks, parens and paths nested in it (each series once).
template <class OnWord>
void for_each_word(const Cell* block, const OnWord& on_word) {
    Span span = span_of(block);
    if (!span.node || cycles::visited_q(span.node)) return;
    cycles::push(span.node);
    for (int32_t i = span.first; i < span.end; i++) {
        Cell c = *cell_in(span.node, i);
        uint32_t type = type_of(&c);
        if (bindable_word_q(type)) on_word(span.node, i, c);
        else if (nested_block_q(type)) for_each_word(&c, on_word);
    }
    cycles::pop();
}

void bind_nested(const Cell* block, Node ctx, bool self, uint64_t filter) {
    for_each_word(block, [&](Node node, int32_t i, const Cell& c) {
        if (self && type_of(&c) == TYPE_WORD && int32_t(c.w2) == sym::self) {
            rebind_cell(node, i, ctx, -1);
        } else if (filter & symbol_bit(int32_t(c.w2))) {
            int32_t index = index_in(ctx, c);
            if (index >= 0) rebind_cell(node, i, ctx, index);
        }
    });
}

// The words and lit-words of block spelled as one of named take its binding.
void bind_named_nested(const Cell* block, const Cell* named, int32_t count) {
    for_each_word(block, [&](Node node, int32_t i, const Cell& c) {
        uint32_t type = type_of(&c);
        if (type != TYPE_WORD && type != TYPE_LIT_WORD) return;
        int32_t symbol = symbol::resolve(int32_t(c.w2));
        for (int32_t k = 0; k < count; k++) {
            if (symbol::resolve(int32_t(named[k].w2)) != symbol) continue;
            rebind_cell(node, i, named[k].w1, int32_t(named[k].w3));
            break;
        }
    });
}

}  // namespace

Cell* bind_block(Cell* block, Node ctx, bool self) {
    bind_nested(block, ctx, self, word_filter(ctx));
    return block;
}

Cell* bind_named(Cell* block, const Cell* named, int32_t count) {
    bind_named_nested(block, named, count);
    return block;
}

namespace {

// What copy_rebound needs: the two pairs of contexts and the word filter of
// each new one.
struct Rebinding {
    Node ctx, ctx_was, inner, inner_was;
    uint64_t ctx_filter, inner_filter;
};

// The binding bind_block(.., ctx, true) then bind_block(.., inner, false)
// give the word: inner's word first, then self, then ctx's word. The filters
// only spare look-ups: a word they pass is still looked up.
void rebind_word(const Rebinding& r, Node node, int32_t i, const Cell& c) {
    int32_t symbol = int32_t(c.w2);
    if (r.inner_was && c.w1 == r.inner_was && int32_t(c.w3) >= 0) return rebind_cell(node, i, r.inner, int32_t(c.w3));
    uint64_t bit = symbol_bit(symbol);
    if (r.inner_filter & bit) {
        int32_t index = find_word(r.inner, symbol, true);
        if (index >= 0) return rebind_cell(node, i, r.inner, index);
    }
    if (type_of(&c) == TYPE_WORD && symbol == sym::self) return rebind_cell(node, i, r.ctx, -1);
    if (!(r.ctx_filter & bit)) return;
    if (r.ctx_was && c.w1 == r.ctx_was && int32_t(c.w3) >= 0) return rebind_cell(node, i, r.ctx, int32_t(c.w3));
    int32_t index = find_word(r.ctx, symbol, true);
    if (index >= 0) rebind_cell(node, i, r.ctx, index);
}

void rebind_nested(const Rebinding& r, const Cell* block) {
    for_each_word(block, [&r](Node node, int32_t i, const Cell& c) { rebind_word(r, node, i, c); });
}

// The block-like values a deep copy of code replaces by copies of their own.
bool copied_code_q(uint32_t type) {
    switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
        return true;
    default: return false;
    }
}

// A fresh node holding the cells of the block-like value from its head (room
// for one cell when there are none). No compiled code was made from it.
Node fresh_copy(const Cell& value) {
    int32_t total = memory::length_of(memory::buffer_of(value.w2));
    int32_t head = std::clamp(int32_t(value.w1), 0, total);
    Node copy = total == head ? memory::alloc_cells(1) : cell::copy_part(value.w2, head, total - head);
    memory::buffer_of(copy)->flags &= ~SERIES_CODE;
    return copy;
}

// Binds the words of node, a fresh copy, as copy_rebound binds them, and
// replaces its block-like values by bound copies of their own, each placed
// in its cell at once so that it is reachable before the next allocation.
// The cycle stack holds the source nodes being copied. True when a hash! was
// met: its cells are shared with the original, bound by a walk of their own.
bool copy_and_rebind_cells(const Rebinding& r, Node node) {
    bool hash_met = false;
    for (int32_t i = 0; i < memory::length_of(memory::buffer_of(node)); i++) {
        Cell c = *cell_in(node, i);
        uint32_t type = type_of(&c);
        if (bindable_word_q(type)) {
            rebind_word(r, node, i, c);
        } else if (copied_code_q(type)) {
            cycles::refuse_cycle(c.w2);
            Node copy = fresh_copy(c);
            Cell* slot = memory::cells_for_write(memory::buffer_of(node)) + i;
            slot->w1 = 0;
            slot->w2 = copy;  // header kept: type and new-line marker
            cycles::Entry entry(c.w2);
            hash_met |= copy_and_rebind_cells(r, copy);
        } else if (type == TYPE_HASH) {
            hash_met = true;
        }
    }
    return hash_met;
}

}  // namespace

Cell* copy_rebound(const Cell* block, Cell* result, Node ctx, Node ctx_was, Node inner, Node inner_was) {
    Cell source = *block;
    Node copy = fresh_copy(source);
    cell::begin(result)->w2 = copy;
    cell::set_type(result, type_of(&source));
    Rebinding r{ctx, ctx_was, inner, inner_was, word_filter(ctx), word_filter(inner)};
    bool hash_met;
    {
        cycles::AcyclicEntry entry(source.w2);
        hash_met = copy_and_rebind_cells(r, copy);
    }
    // A hash! is not copied: its words are bound in place, as a second
    // binding of the copy binds them (the words bound already stay so).
    if (hash_met) rebind_nested(r, result);
    return result;
}

Node make_from_spec(const Cell* spec, bool on_stack, bool self, int32_t kind) {
    Span span = span_of(spec);
    Node ctx = create(span.end - span.first, on_stack, self, 0, kind);
    collector::Root keep(ctx);
    for (int32_t i = span.first; i < span.end; i++) {
        const Cell* c = cell_in(span.node, i);
        switch (type_of(c)) {
        case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT: {
            int32_t index;
            if (add_symbol(ctx, int32_t(c->w2), true, &index) < 0) append_unset_value(ctx);
            break;
        }
        default: break;  // type blocks, strings, set-words
        }
    }
    return ctx;
}

bool add_set_words(Node ctx, Cell* block) {
    Node node = block->w2;
    int32_t end = node ? memory::length_of(memory::buffer_of(node)) : 0;
    if (int32_t(block->w1) > end) block->w1 = uint32_t(end);
    Span span = span_of(block);
    int32_t before = word_count(ctx);
    for (int32_t i = span.first; i < span.end; i++) {
        Cell c = *cell_in(span.node, i);
        // Most set-words of a spec given to a prototype name its fields: a
        // scan of a small context finds them more cheaply than the table.
        // A context that started empty holds only the spec's own words,
        // which the table's look-up in add_word finds again.
        if (type_of(&c) == TYPE_SET_WORD && (before == 0 || index_in(ctx, c) < 0))
            add_word(ctx, &c);
    }
    return word_count(ctx) > before;
}

Node renew_for(Cell* value, int32_t kind) {
    Node old = value->w1;
    const Cell* c = cell_of(old);
    bool on_stack = on_stack_q(c);
    bool self = (c->header & CONTEXT_SELF) != 0;
    Node fresh;
    if (on_stack && kind_of(c) == KIND_FUNCTION && kind == KIND_FUNCTION) {
        // A function's context never gains words (set_in refuses new ones
        // on the stack) and its entries carry no per-context marks: the
        // copy reads the same word table, and only the context cell, whose
        // values word follows the copy's own calls, is new.
        Node table = c->w1;
        fresh = memory::alloc_unset_cells(2);
        SeriesBuffer* s = memory::buffer_of(fresh);
        s->tail = s->head + 2 * int32_t(sizeof(Cell));
        Cell* made = memory::internal_cells(s);
        made->w1 = table;
        made->w2 = 0;
        made->w3 = 0;
        made->header = TYPE_CONTEXT | (uint32_t(KIND_FUNCTION) << CONTEXT_KIND_SHIFT) | CONTEXT_ON_STACK |
                       (self ? CONTEXT_SELF : 0);
    } else {
        fresh = create(word_count(old), on_stack, self, old, kind);
    }
    value->w1 = fresh;
    return fresh;
}

void init_global(int32_t count) { global = create(count, false, false, 0, KIND_GLOBAL); }

void register_type() {
    // A context is never a value that scripts handle: no action at all.
    static constexpr SlotEntry row[62] = {
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE,
    };
    ZUV_CHECK_ROW(row);
    datatype::register_type(TYPE_CONTEXT, 0, "context!", row);
}

}  // namespace zuv::_context
