// The forms of blocks by node: when one is made, how it is found, and how it
// goes when its cells change or its node is freed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "evaluator/compiled_internal.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/context.hpp"

namespace zuv::interpreter::compiled {

Mode mode = Mode::second_run;

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
    return made;
}

Form*& entry_of(Node node) {
    Form**& page = pages[node >> NODE_SLOT_BITS];
    if (!page) page = new Form*[NODE_SLOT_MASK + 1]();
    return page[node & NODE_SLOT_MASK];
}

void note_dependency(Form* form, Node node) {
    form->depends.push_back(node);
    dependents[node].push_back(form);
    mark_dependent(node, true);
    memory::buffer_of(node)->flags |= SERIES_CODE;
}

// _context::rebound_hook: bind gives the set-word at index of node a new
// binding (ctx, word_index). A form that holds that set-word as one of its
// block's expressions, and runs no code now, takes the new binding in place
// of being dropped: its store finds its slot again from the new word, and
// nothing else in the form was decided by that binding. So a block bound
// afresh before each run (the spec of each object made) keeps its form.
// False, nothing done, where the form must go as for any change: the
// set-word read inside another expression or decoded by another form, or
// the form running.
bool rebound(Node node, int32_t index, Node ctx, int32_t word_index) {
    if (!pages[node >> NODE_SLOT_BITS]) return false;
    Form* f = entry_of(node);
    if (f != SEEN && (!f || f->busy > 0 || f->dead || index < f->head || index >= f->tail)) return false;
    if (dependent_q(node)) return false;
    if (f == SEEN) return true;  // run once so far, nothing made from it
    size_t k = size_t(index - f->head);
    auto* e = const_cast<Expr*>(f->at[k]);
    if (!e || e->kind != K_SET_WORD || e->start != index) return false;
    e->cell.w1 = ctx;
    e->cell.w3 = uint32_t(word_index);
    e->slot = WordSlot{};
    f->cells[k].w1 = ctx;
    f->cells[k].w3 = uint32_t(word_index);
    return true;
}

void init() {
    const char* plain = std::getenv("ZUV_PLAIN_WALKER");
    const char* all = std::getenv("ZUV_COMPILE_ALL");
    mode = plain && *plain ? Mode::walker : all && *all ? Mode::always : Mode::second_run;
    memory::drop_code_hook = drop;
    _context::rebound_hook = rebound;
}

void free_form(Form* f) { delete f; }

}  // namespace zuv::interpreter::compiled
