// The forms of blocks by node: when one is made, how it is found, and how it
// goes when its cells change or its node is freed.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>

#include "evaluator/compiled_internal.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/symbols.hpp"

namespace zuv::interpreter::compiled {

Mode mode = Mode::second_run;

uint64_t forms_made = 0;

Form** pages[memory::NodeSlots::CAPACITY];

namespace {

// The forms made from a series other than the block they run (the paths
// and parens they decoded), by that series' node.
std::unordered_map<Node, std::vector<Form*>> dependents;

// One bit per node: whether dependents holds it, asked without a look-up
// in the map.
uint64_t* dependent_pages[memory::NodeSlots::CAPACITY];

void mark_dependent(Node node, bool on) {
    uint64_t*& page = dependent_pages[node >> NODE_SLOT_BITS];
    if (!page) {
        if (!on) return;
        page = new uint64_t[(NODE_SLOT_MASK + 1) / 64]();
    }
    uint32_t slot = node & NODE_SLOT_MASK;
    uint64_t bit = uint64_t(1) << (slot & 63);
    if (on) page[slot >> 6] |= bit;
    else page[slot >> 6] &= ~bit;
}

bool dependent_q(Node node) {
    const uint64_t* page = dependent_pages[node >> NODE_SLOT_BITS];
    uint32_t slot = node & NODE_SLOT_MASK;
    return page && (page[slot >> 6] >> (slot & 63) & 1) != 0;
}

constexpr int32_t MAX_REBUILDS = 32;

// The form waits for a callee's argument cache that the walker has built
// since (or that a collection may have taken away, and another built).
bool ready_to_rebuild_q(const Form* f) {
    if (!f->waiting || f->rebuilds >= MAX_REBUILDS) return false;
    return f->waiting_at != collector::series_cycles || cache_built_q(f->waiting_for);
}

// The form goes: out of the table and the lists of the series it was made
// from, freed now or, when a run still uses it, marked dead and freed when
// the last run ends.
void kill(Form* f) {
    forms_made++;
    Form*& slot = entry_of(f->node);
    if (slot == f) slot = nullptr;
    for (Node d : f->depends) {
        auto found = dependents.find(d);
        if (found == dependents.end()) continue;
        auto& list = found->second;
        for (size_t i = 0; i < list.size(); i++)
            if (list[i] == f) {
                list[i] = list.back();
                list.pop_back();
                break;
            }
        if (list.empty()) {
            dependents.erase(found);
            mark_dependent(d, false);
        }
    }
    f->depends.clear();
    if (f->busy > 0) f->dead = true;
    else delete f;
}

void drop_all() {
    for (Form**& page : pages) {
        if (!page) continue;
        for (uint32_t i = 0; i <= NODE_SLOT_MASK; i++) {
            Form* f = page[i];
            if (f && f != SEEN) kill(f);
            page[i] = nullptr;
        }
    }
    dependents.clear();
    for (uint64_t* page : dependent_pages)
        if (page) std::memset(page, 0, (NODE_SLOT_MASK + 1) / 64 * sizeof(uint64_t));
    forget_callees();
}

// memory::drop_code_hook: the series of node changed or went.
void drop(Node node) {
    if (node == 0) {
        drop_all();
        return;
    }
    if (pages[node >> NODE_SLOT_BITS]) {
        Form*& slot = entry_of(node);
        if (slot == SEEN) slot = nullptr;
        else if (slot) kill(slot);
    }
    auto found = dependents.find(node);
    if (found != dependents.end()) {
        std::vector<Form*> list = std::move(found->second);
        dependents.erase(found);
        mark_dependent(node, false);
        for (Form* f : list) kill(f);
    }
    forget_callee(node);
}

}  // namespace

#ifndef __OPTIMIZE__
void verify(const Form* f) {
    const SeriesBuffer* s = memory::buffer_of(f->node);
    bool same = (memory::used_bytes(s) >> 4) == f->tail &&
                std::memcmp(memory::cells_head(s) + f->head, f->cells.data(), f->cells.size() * sizeof(Cell)) == 0;
    if (!same) {
        std::fprintf(stderr, "*** compiled code outlived a change of its block (node %u)\n", f->node);
        std::abort();
    }
}
#endif

Form* form_for(Node node, int32_t head, int32_t end) {
    Form*& slot = entry_of(node);
    Form* f = slot;
    if (f > SEEN) {
        if (f->head == head && f->tail == end && !ready_to_rebuild_q(f)) return f;
    } else if (!f && mode == Mode::second_run) {
        // The mark goes with the series: a change of its cells or its
        // node's reuse by another series must not find it seen.
        slot = SEEN;
        memory::buffer_of(node)->flags |= SERIES_CODE;
        return nullptr;
    }
    if (detail::tail_of(node) != end) return nullptr;  // a block changed under its caller: walked
    int32_t rebuilds = 0;
    if (f > SEEN) {
        rebuilds = f->rebuilds + 1;
        kill(f);
    }
    Form* made = build(node, head).release();
    made->rebuilds = rebuilds;
    memory::buffer_of(node)->flags |= SERIES_CODE;
    entry_of(node) = made;
    forms_made++;
    return made;
}

Form*& entry_of(Node node) {
    Form**& page = pages[node >> NODE_SLOT_BITS];
    if (!page) page = new Form*[NODE_SLOT_MASK + 1]();
    return page[node & NODE_SLOT_MASK];
}

void note_dependency(Form* form, Node node) {
    // Once for each node: a cell may be decoded more than once (an
    // expression tried again from a later cell).
    if (std::find(form->depends.begin(), form->depends.end(), node) != form->depends.end()) return;
    form->depends.push_back(node);
    dependents[node].push_back(form);
    mark_dependent(node, true);
    memory::buffer_of(node)->flags |= SERIES_CODE;
}

namespace {

// The uses of the form's bound words by position (Form::uses), made once.
void index_uses(Form* f) {
    auto bound_word_q = [](const Cell& c) {
        switch (type_of(&c)) {
            case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT:
                return c.w1 != 0;
            default: return false;
        }
    };
    std::vector<Form::Use>& uses = f->uses;
    uses.clear();
    for (const auto& owned : f->exprs) {
        Expr* x = owned.get();
        if (bound_word_q(x->cell)) uses.push_back({x->start, &x->cell, &x->slot});
        for (Op& op : x->ops) uses.push_back({op.at, &op.word, &op.slot});
        if (x->check_after) uses.push_back({x->next, &x->after, &x->after_slot});
    }
    std::sort(uses.begin(), uses.end(), [](const Form::Use& a, const Form::Use& b) { return a.at < b.at; });
    size_t span = size_t(f->tail - f->head);
    f->uses_from.assign(span + 1, 0);
    size_t u = 0;
    for (size_t k = 0; k <= span; k++) {
        while (u < uses.size() && uses[u].at < f->head + int32_t(k)) u++;
        f->uses_from[k] = int32_t(u);
    }
}

}  // namespace

// _context::rebound_hook: bind gives the word at index of node a new
// binding (ctx, word_index). A form that runs no code now takes the new
// binding in place of being dropped: every copy of the word its expressions
// hold takes it, and the slots they kept are forgotten. Nothing else in the
// form was decided by the binding: what the word's value decided (a value
// read, a call of that shape, an operator) is checked again at each run, as
// for a value that changed. So a block bound afresh before each run (the
// spec of each object made) keeps its form. False, nothing done, where the
// form must go as for any change: it runs, another form decoded the block,
// or the word was unbound when the form was made (the walker took that
// expression, and the expression before it did not look at the word). A
// form that decoded parens or blocks in place takes a new binding only for a
// set-word that is one of its own expressions.
bool rebound(Node node, int32_t index, Node ctx, int32_t word_index) {
    Form* f = form_at(node);
    if (f != SEEN && (!f || f->busy > 0 || f->dead || index < f->head || index >= f->tail)) return false;
    if (dependent_q(node)) return false;
    if (f == SEEN) return true;  // run once so far, nothing made from it
    forms_made++;  // what callers decided from its set-words' bindings goes
    size_t k = size_t(index - f->head);
    Cell& copy = f->cells[k];
    if (copy.w1 == 0) return false;
    auto* e = const_cast<Expr*>(f->at[k]);
    if (e && e->kind == K_SET_WORD && e->start == index) {
        // A set-word of the block's own: the one copy of its cell.
        e->cell.w1 = ctx;
        e->cell.w3 = uint32_t(word_index);
        e->slot = WordSlot{};
    } else {
        if (!f->depends.empty()) return false;
        if (f->uses_from.empty()) index_uses(f);
        for (int32_t u = f->uses_from[k]; u < f->uses_from[k + 1]; u++) {
            Form::Use& use = f->uses[size_t(u)];
            use.cell->w1 = ctx;
            use.cell->w3 = uint32_t(word_index);
            *use.slot = WordSlot{};
        }
    }
    copy.w1 = ctx;
    copy.w3 = uint32_t(word_index);
    return true;
}

#ifdef ZUV_FORM_GAPS
namespace {

// A cell spelled for the report: a word by its name, an integer by its
// value, a block or paren as brackets, anything else by its type number.
std::string spelled(const Cell& c) {
    switch (type_of(&c)) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT: {
            std::string name(reinterpret_cast<const char*>(symbol::name_of(int32_t(c.w2))));
            uint32_t t = type_of(&c);
            return t == TYPE_SET_WORD ? name + ":" : t == TYPE_GET_WORD ? ":" + name
                 : t == TYPE_LIT_WORD ? "'" + name : t == TYPE_REFINEMENT ? "/" + name : name;
        }
        case TYPE_INTEGER: return std::to_string(int32_t(c.w2));
        case TYPE_BLOCK: return "[..]";
        case TYPE_PAREN: return "(..)";
        case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_LIT_PATH: {
            std::string text;
            Cell item;
            for (int32_t i = std::max(int32_t(c.w1), 0); detail::read_cell(c.w2, i, &item); i++)
                text += (text.empty() ? "" : "/") + spelled(item);
            return type_of(&c) == TYPE_SET_PATH ? text + ":" : text;
        }
        default: return "<type " + std::to_string(type_of(&c)) + ">";
    }
}

// The cells of the block from position (a few), and the first of the block.
std::string place_of(const Cell* code, int32_t position) {
    std::string text;
    Cell c;
    for (int32_t i = position; i < position + 6 && detail::read_cell(code->w2, i, &c); i++)
        text += (text.empty() ? "" : " ") + spelled(c);
    std::string first;
    for (int32_t i = 0; i < 4 && detail::read_cell(code->w2, i, &c); i++)
        first += (first.empty() ? "" : " ") + spelled(c);
    return "at " + std::to_string(position) + ": " + text + "   in [" + first + " ...]";
}

std::unordered_map<std::string, uint64_t>* walked_counts;

void report_gaps() {
    std::vector<std::pair<uint64_t, std::string>> rows;
    for (auto& [place, count] : *walked_counts) rows.push_back({count, place});
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::fprintf(stderr, "--- the walker took the rest of a block (runs, why, where) ---\n");
    for (size_t i = 0; i < rows.size() && i < 40; i++)
        std::fprintf(stderr, "%10llu  %s\n", (unsigned long long)rows[i].first, rows[i].second.c_str());
}

}  // namespace

void note_walked(const Cell* code, int32_t position, const char* what) {
    static bool on = std::getenv("ZUV_FORM_GAPS") != nullptr;
    if (!on) return;
    if (!walked_counts) {
        walked_counts = new std::unordered_map<std::string, uint64_t>;
        std::atexit(report_gaps);
    }
    Form* f = form_at(code->w2);
    const char* why = what ? what : f <= SEEN ? "no form" : "a run on";
    if (f > SEEN)
        for (const auto& [at, gap] : f->gaps)
            if (at == position) why = gap ? gap : "a cell not decoded";
    ++(*walked_counts)[std::string(why) + "  " + place_of(code, position)];
}
#endif

void init() {
    const char* plain = std::getenv("ZUV_PLAIN_WALKER");
    const char* all = std::getenv("ZUV_COMPILE_ALL");
    mode = plain && *plain ? Mode::walker : all && *all ? Mode::always : Mode::second_run;
    memory::drop_code_hook = drop;
    _context::rebound_hook = rebound;
}

void free_form(Form* f) { delete f; }

}  // namespace zuv::interpreter::compiled
