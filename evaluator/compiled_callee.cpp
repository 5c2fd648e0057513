// Callables decoded for compiled calls: the fixed arguments of an argument
// cache, the cells a function's call gets after them, the entry to run.
#include <unordered_map>

#include "evaluator/actions.hpp"
#include "evaluator/compiled_internal.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/rt_support.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"

namespace zuv::interpreter::compiled {

namespace {

// The decodings by the node of the argument cache they were made from.
std::unordered_map<Node, std::unique_ptr<Callee>> callees;

TypeMask mask_of(const Cell& typeset) {
    TypeMask m;
    for (uint32_t t = 0; t < TYPE_TOTAL && t < 128; t++)
        if (rt_support::typeset_has_q(&typeset, t)) (t < 64 ? m.low : m.high) |= uint64_t(1) << (t & 63);
    return m;
}

// The argument cache of a callable, or 0 when it is not built yet.
Node cache_of(const Cell& fn) {
    if (!fn.w3) return 0;
    SeriesBuffer* more = memory::buffer_of(fn.w3);
    if (memory::length_of(more) <= native::MORE_ARG_CACHE) return 0;
    const Cell* cached = memory::cells_head(more) + native::MORE_ARG_CACHE;
    return type_of(cached) == TYPE_BLOCK ? cached->w2 : 0;
}

std::unique_ptr<Callee> decode(const Cell& fn, Node cache) {
    auto c = std::make_unique<Callee>();
    c->type = type_of(&fn);
    c->cache = cache;
    bool function = c->type == TYPE_FUNCTION;
    bool fixed = true;
    int32_t local_count = 0;
    Cell entry;
    int32_t i = 0;
    for (; detail::read_cell(cache, i, &entry); i++) {
        switch (type_of(&entry)) {
            case TYPE_TYPESET: {
                uint32_t kind = (entry.header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
                if (kind == ARG_RETURN) break;
                if (fixed) {
                    c->args.push_back({kind, i, mask_of(entry)});
                } else {
                    c->refined_args.push_back({kind, i, mask_of(entry)});
                    if (function) none::make_at(&c->rest_cells.emplace_back());
                }
                break;
            }
            case TYPE_REFINEMENT:
                if (fixed) c->rest = i;
                fixed = false;
                if (function) logic::make_at(&c->rest_cells.emplace_back(), false);
                break;
            case TYPE_INTEGER:
                if (fixed) c->rest = i;
                fixed = false;
                if (local_count == 0) local_count = int32_t(entry.w2);
                break;
            default: break;
        }
    }
    if (fixed) c->rest = i;
    if (function && local_count > 0) {
        c->local_cells = local_count;
        logic::make_at(&c->rest_cells.emplace_back(), false);
        for (int32_t k = 1; k < local_count; k++) none::make_at(&c->rest_cells.emplace_back());
    }
    if (function) keep_body(fn, c.get());
    if (c->type == TYPE_NATIVE) c->native = natives::entry_at(int32_t(fn.w1));
    if (c->type == TYPE_ACTION && actions::stack_entry_q(int32_t(fn.w1))) {
        c->action = actions::entry_table[fn.w1 - 1].plain;
    }
    c->fast = in_place::kind_of(fn);
    c->compute = in_place::computer_of(c->fast);
    if (c->type == TYPE_ROUTINE) {
        const Cell* code = function::more_cell(&fn, function::MORE_CODE);
        if (code && type_of(code) == TYPE_INTEGER) {
            int32_t index = integer::get_value(code);
            c->type_test = routines::type_test_of(index);
            if (routines::typeset_test_of(index)) c->typeset_test = index;
        }
    }
    if (c->args.size() <= size_t(MAX_ARGUMENTS)) {
        c->shape.count = uint8_t(c->args.size());
        for (size_t k = 0; k < c->args.size(); k++) c->shape.kinds |= uint64_t(c->args[k].kind) << (2 * k);
    } else {
        c->shape.count = 0xFF;  // never compiled
    }
    return c;
}

}  // namespace

const Callee* callee_of(const Cell& fn) {
    Node cache = cache_of(fn);
    if (!cache) return nullptr;
    auto found = callees.find(cache);
    if (found != callees.end()) return found->second.get();
    auto c = decode(fn, cache);
    memory::buffer_of(cache)->flags |= SERIES_CODE;  // its decoding goes with the node
    return callees.emplace(cache, std::move(c)).first->second.get();
}

bool cache_built_q(const Cell& fn) { return cache_of(fn) != 0; }

namespace {

// The decodings by the more block of the function whose body they keep.
// The block is marked SERIES_CODE, so that a change of it or its node's
// freeing (and reuse by another function) makes the decoding forget it.
std::unordered_map<Node, const Callee*> kept_bodies;

void unkeep(const Callee* c) {
    if (!c->more) return;
    auto found = kept_bodies.find(c->more);
    if (found != kept_bodies.end() && found->second == c) kept_bodies.erase(found);
    c->more = 0;
}

// A decoding that a call in progress reads is left to that call's Pin.
void release(std::unique_ptr<Callee>& c) {
    unkeep(c.get());
    if (c && c->pins > 0) {
        c->retired = true;
        (void)c.release();
    }
}

}  // namespace

const Cell* keep_body(const Cell& fn, const Callee* c) {
    // A decoding keeps the body of one function: others sharing its cache
    // read theirs where it lies (valid until the next allocation).
    if (c->more || c->retired) return interpreted_body(fn);
    const Cell* body = interpreted_body(fn);
    c->interpreted = body != nullptr;
    if (body) c->body = *body;
    else none::make_at(&c->body);
    c->more = fn.w3;
    c->quiet_at = ~uint64_t(0);
    c->body_at = ~uint64_t(0);
    memory::buffer_of(fn.w3)->flags |= SERIES_CODE;
    kept_bodies[fn.w3] = c;
    return body ? &c->body : nullptr;
}

uint32_t callees_forgotten = 0;

void free_callee(const Callee* c) { delete c; }

void forget_callee(Node node) {
    auto kept = kept_bodies.find(node);
    if (kept != kept_bodies.end()) {
        kept->second->more = 0;
        kept_bodies.erase(kept);
    }
    auto found = callees.find(node);
    if (found == callees.end()) return;
    release(found->second);
    callees.erase(found);
    callees_forgotten++;
}

void forget_callees() {
    for (auto& entry : callees) release(entry.second);
    callees.clear();
    kept_bodies.clear();
    callees_forgotten++;
}

}  // namespace zuv::interpreter::compiled
