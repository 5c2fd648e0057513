// The compiler of blocks: which positions of a block start a simple
// expression, and the unit's table by node id.
#include <algorithm>
#include <cstring>
#include <vector>

#include "evaluator/compiled.hpp"
#include "evaluator/compiled_internal.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/rt_support.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/native.hpp"

namespace zuv::interpreter::compiled {

using namespace detail;
using namespace interpreter::detail;

namespace detail {

Unit** pages[memory::NodeSlots::CAPACITY];

namespace {

size_t pages_used = 0;  // pages [0, pages_used) may be made

void drop(Unit*& slot) {
    Unit* unit = slot;
    slot = nullptr;
    if (!unit || unit == SEEN) return;
    if (unit->busy) unit->orphan = true;  // the run that uses it deletes it
    else delete unit;
}

void release(Node node) {
    Unit** page = pages[node >> NODE_SLOT_BITS];
    if (!page) return;
    drop(page[node & NODE_SLOT_MASK]);
}

// The value of a bound word as it stands, or null.
const Cell* bound_value(const Cell& word) {
    if (type_of(&word) != TYPE_WORD || word.w1 == 0) return nullptr;
    return _context::value_slot(word.w1, int32_t(word.w3));
}

// An operand: a constant, or a bound word or an object field path whose
// value is a plain value now (checked again at each run).
bool operand_q(const Cell& c) {
    if (constant_q(type_of(&c))) return true;
    const Cell* value = type_of(&c) == TYPE_PATH ? object_field(c) : bound_value(c);
    if (!value) return false;
    switch (type_of(value)) {
        case TYPE_UNSET: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_OP:
            return false;
        default: return true;
    }
}

class Compiler {
public:
    Compiler(Unit& unit, int32_t n, int32_t depth) : u_(unit), cells_(unit.cells.data()), n_(n), depth_(depth) {}

    // The expression at p (relative to the head), or -1; allow_sets: at
    // the top of a block (set-words are compiled there only).
    int32_t expression(int32_t p, bool allow_sets, int32_t depth, bool prefix = false) {
        Expr e;
        e.start = p + u_.head;
        e.prefix = prefix;
        int32_t i = p;
        if (allow_sets) {
            while (i < n_ && type_of(&cells_[i]) == TYPE_SET_WORD && cells_[i].w1 != 0 && e.sets < 255) {
                i++;
                e.sets++;
            }
            if (e.sets == 0 && i < n_ && type_of(&cells_[i]) == TYPE_SET_PATH) {
                Cell path = cells_[i];
                cell::set_type(&path, TYPE_PATH);
                if (!object_field(path)) return -1;
                e.set_path = true;
                e.sets = 1;
                i++;
            }
        }
        if (i >= n_) return -1;
        std::vector<Argument> arguments;
        if (operand_q(cells_[i])) {
            e.kind = type_of(&cells_[i]) == TYPE_WORD ? K_WORD : K_CONST;
            i++;
        } else if (type_of(&cells_[i]) == TYPE_PAREN) {
            e.kind = K_PAREN;
            e.calls = true;
            i++;
        } else if (const Cell* value = type_of(&cells_[i]) == TYPE_PATH ? object_field(cells_[i])
                                                                         : bound_value(cells_[i]);
                   value && depth < MAX_NESTING &&
                   (type_of(value) == TYPE_FUNCTION ||
                    (type_of(&cells_[i]) == TYPE_WORD &&
                     (type_of(value) == TYPE_NATIVE || type_of(value) == TYPE_ACTION)))) {
            bool function = type_of(value) == TYPE_FUNCTION;
            e.kind = type_of(&cells_[i]) == TYPE_PATH ? K_METHOD : function ? K_FUNCTION : K_CALL;
            e.calls = true;
            e.callee = *value;
            e.cache = function ? function_cache(e.callee) : builtin_cache(e.callee);
            std::vector<int32_t> entries;
            if (!e.cache) missing_cache_ = true;
            if (!e.cache || !plain_arguments(e.cache, &entries, &e.rest) || entries.size() >= 256) return -1;
            if (function) link_function(e);
            if (type_of(value) == TYPE_NATIVE && fast_op_of(e.callee) == FAST_NONE)
                e.entry = natives::entry_at(int32_t(e.callee.w1));
            if (e.kind == K_CALL && entries.size() == 2) e.fast = uint8_t(fast_op_of(e.callee));
            i++;
            bool known = true;
            for (int32_t entry : entries) {
                int32_t a = -1;
                if (known && i < n_) {
                    a = expression(i, false, depth + 1);
                    if (a >= 0 && u_.exprs[size_t(a)].next >= 0) i = u_.exprs[size_t(a)].next - u_.head;
                    else known = false;
                } else {
                    known = false;
                }
                Argument argument{entry, a, Cell{}};
                read_cell(e.cache, entry, &argument.typeset);
                static_assert(TYPE_TOTAL <= 64);
                for (uint32_t t = 0; t < TYPE_TOTAL; t++)
                    if (rt_support::typeset_has_q(&argument.typeset, t)) argument.types |= uint64_t(1) << t;
                if (a >= 0) {
                    const Expr& x = u_.exprs[size_t(a)];
                    argument.operand = x.kind <= K_WORD && x.sets == 0 && x.operators == 0;
                }
                arguments.push_back(argument);
            }
            e.arguments = uint8_t(arguments.size());
            if (!known) i = -1;
            // Few arguments, each compiled: they may be computed before the call.
            e.plain_arguments = known && e.arguments <= MAX_PLAIN_ARGUMENTS;
        } else {
            return -1;
        }
        std::vector<Operator> operators;
        while (!prefix && i >= 0 && i + 1 < n_ && e.operators < MAX_OPERATORS) {
            const Cell* value = bound_value(cells_[i]);
            if (!value || type_of(value) != TYPE_OP) break;
            Cell fn = op::unwrap(value);
            std::vector<int32_t> entries;
            Operator o{*value, uint8_t(fast_op_of(fn)), operand_q(cells_[i + 1]), -1, builtin_cache(fn), 0, 0,
                       Cell{}, Cell{}};
            // Computed in place, an operator needs no argument cache (it
            // may never have been called); called, it does.
            bool in_place = o.plain && o.fast != FAST_NONE;
            if (!in_place && !o.cache) missing_cache_ = true;
            if (!in_place && (!o.cache || !plain_arguments(o.cache, &entries) || entries.size() != 2)) break;
            if (!in_place) {
                o.left_entry = entries[0];
                o.right_entry = entries[1];
                read_cell(o.cache, o.left_entry, &o.left_types);
                read_cell(o.cache, o.right_entry, &o.right_types);
            }
            if (e.operators == 0) e.operators_at = i + u_.head;
            if (in_place) {
                i += 2;
            } else {
                o.plain = false;
                e.calls = true;
                o.right = depth < MAX_NESTING ? expression(i + 1, false, depth + 1, true) : -1;
                if (o.right < 0 || u_.exprs[size_t(o.right)].next < 0) i = -1;
                else i = u_.exprs[size_t(o.right)].next - u_.head;
            }
            operators.push_back(o);
            e.operators++;
            if (i < 0) break;
        }
        e.next = i >= 0 ? i + u_.head : -1;
        // Set-words of an object are stored in place while the object has
        // no change handler (looked at each time); else the walker stores them.
        e.simple = !e.calls && e.next >= 0;
        if (e.next >= 0 && e.next - u_.head < n_) {
            const Cell& after = cells_[e.next - u_.head];
            e.word_after = type_of(&after) == TYPE_WORD && after.w1 != 0;
        }
        if (e.set_path && !e.simple) return -1;  // a set-path is compiled in simple expressions only
        if (allow_sets && e.kind == K_CALL && e.sets == 0 && e.operators == 0 && e.next >= 0) {
            if (e.arguments == 0 && (e.entry == natives::continue_star || e.entry == natives::break_star))
                e.exit = true;
            else if (e.plain_arguments) branch(e, arguments);
        }
        e.first_operator = int32_t(u_.operators.size());
        u_.operators.insert(u_.operators.end(), operators.begin(), operators.end());
        e.first_argument = int32_t(u_.arguments.size());
        u_.arguments.insert(u_.arguments.end(), arguments.begin(), arguments.end());
        u_.exprs.push_back(e);
        return int32_t(u_.exprs.size()) - 1;
    }

    // A callable had no argument cache yet (it was never called): the
    // block is worth compiling again later.
    bool missing_cache() const { return missing_cache_; }

private:
    Unit& u_;
    const Cell* cells_;
    int32_t n_;
    int32_t depth_;  // the branch blocks the unit's block lies in
    bool missing_cache_ = false;

    // An if, unless or either whose branches are literal blocks that are
    // lean themselves (their units made here) takes them in place.
    void branch(Expr& e, const std::vector<Argument>& arguments) {
        Branch kind = e.entry == natives::if_star       ? B_IF
                      : e.entry == natives::unless_star ? B_UNLESS
                      : e.entry == natives::either_star ? B_EITHER
                                                        : B_NONE;
        if (kind == B_NONE || depth_ >= MAX_BRANCH_DEPTH || arguments.empty() || arguments[0].expr < 0) return;
        std::vector<std::unique_ptr<Unit>> units;
        for (size_t k = 1; k < arguments.size(); k++) {
            const Argument& a = arguments[k];
            if (!a.operand || u_.exprs[size_t(a.expr)].kind != K_CONST) return;
            const Cell& block = cells_[u_.exprs[size_t(a.expr)].start - u_.head];
            if (type_of(&block) != TYPE_BLOCK || !rt_support::typeset_has_q(&a.typeset, TYPE_BLOCK)) return;
            int32_t head = std::max(int32_t(block.w1), 0);
            int32_t n = (memory::used_bytes(memory::buffer_of(block.w2)) >> 4) - head;
            if (n <= 0 || n > MAX_CELLS) return;
            auto unit = std::make_unique<Unit>();
            build(unit.get(), block.w2, head, depth_ + 1);
            if (!unit->lean || unit->walker_only) return;
            units.push_back(std::move(unit));
        }
        e.branch = kind;
        e.first_branch = int32_t(u_.branches.size());
        for (auto& unit : units) u_.branches.push_back(std::move(unit));
    }
};

// The steps of values in a lean chain, made from its compiled expressions
// as Pure reads them, into the unit's program; false when a value is of
// another shape.
class Steps {
public:
    explicit Steps(Unit& unit) : u_(unit) {}

    // The value of x at p, operators included; top: x's own value, after
    // its set-words.
    bool value(const Expr& x, int32_t p, bool top = false) {
        if (!top && (p != x.start || x.sets)) return false;
        if (x.next < 0) return false;
        int32_t at = p + 1;
        if (x.kind <= K_WORD ? !operand(p) : !call(x, p, &at)) return false;
        for (int32_t k = 0; k < x.operators; k++) {
            const Operator& o = u_.operators[size_t(x.first_operator + k)];
            if (o.fast == FAST_NONE) return false;
            if (o.plain) {
                if (!operand(at + 1)) return false;
                at += 2;
            } else {
                if (o.right < 0) return false;
                const Expr& y = u_.exprs[size_t(o.right)];
                if (y.start != at + 1 || y.sets || y.next < 0) return false;
                if (y.kind <= K_WORD) {
                    if (!operand(at + 1)) return false;
                    at += 2;
                } else if (!call(y, at + 1, &at)) {
                    return false;
                }
            }
            if (!apply(o.fast)) return false;
        }
        return at == x.next;
    }

    // The one operand at p.
    bool operand(int32_t p) {
        const Cell& c = u_.cells[size_t(p - u_.head)];
        StepKind kind = type_of(&c) == TYPE_WORD ? P_WORD : type_of(&c) == TYPE_PATH ? P_OPERAND : P_CONST;
        if (++depth_ > MAX_STEP_DEPTH) return false;
        u_.program.push_back(Step{kind, 0, p});
        return true;
    }

private:
    Unit& u_;
    int32_t depth_ = 0;

    bool call(const Expr& x, int32_t p, int32_t* at) {
        if (x.kind != K_CALL || x.fast == FAST_NONE || !x.plain_arguments) return false;
        int32_t q = p + 1;
        for (int32_t k = 0; k < 2; k++) {
            const Argument& a = u_.arguments[size_t(x.first_argument + k)];
            if (a.operand) {
                if (!operand(q++)) return false;
            } else {
                if (a.expr < 0) return false;
                const Expr& y = u_.exprs[size_t(a.expr)];
                if (!value(y, q)) return false;
                q = y.next;
            }
        }
        *at = q;
        return apply(FastOp(x.fast));
    }

    bool apply(uint8_t fast) {
        depth_--;
        u_.program.push_back(Step{P_OP, fast, 0});
        return true;
    }
};

// Makes the program of a lean unit's chain.
void make_program(Unit* unit) {
    std::vector<Step>& program = unit->program;
    for (int32_t index : unit->chain) {
        const Expr& e = unit->exprs[size_t(index)];
        program.push_back(Step{P_START, 0, e.start});
        size_t first = program.size();
        Steps steps(*unit);
        if (e.exit) {
            program.push_back(Step{P_EXIT, 0, index});
        } else if (e.simple) {
            if (e.kind <= K_WORD && e.sets <= 1 && !e.set_path && steps.value(e, e.start + e.sets, true)) {
                program.push_back(e.sets ? Step{P_SET, 0, e.start} : Step{P_PLACE, 0, 0});
            } else {
                program.resize(first);
                program.push_back(Step{P_SIMPLE, 0, index});
            }
        } else {
            const Argument& a = unit->arguments[size_t(e.first_argument)];
            bool made = a.operand ? steps.operand(e.start + 1) : steps.value(unit->exprs[size_t(a.expr)], e.start + 1);
            if (!made) program.resize(first);
            program.push_back(Step{P_BRANCH, uint8_t(made), index});
        }
    }
    program.push_back(Step{P_END, 0, 0});
    // A word and a constant the operator after them takes, the most
    // frequent shape, as one step.
    size_t to = 0;
    for (size_t from = 0; from < program.size(); from++) {
        if (from + 2 < program.size() && program[from].kind == P_WORD && program[from + 1].kind == P_CONST &&
            program[from + 2].kind == P_OP) {
            program[to++] = Step{P_WORD_OP, program[from + 2].fast, program[from].p, program[from + 1].p};
            from += 2;
        } else {
            program[to++] = program[from];
        }
    }
    program.resize(to);
}

}  // namespace

void link_function(Expr& e) {
    const Cell* found = function::more_cell(&e.callee, function::MORE_BODY);
    const Cell* code = function::more_cell(&e.callee, function::MORE_CODE);
    e.direct = found && type_of(found) == TYPE_BLOCK &&
               !(code && type_of(code) == TYPE_INTEGER && integer::get_value(code) != 0) &&
               !(e.callee.header & (function::FLAG_TRACE | function::FLAG_NO_TRACE));
    if (e.direct) e.body = *found;
    Cell entry;
    e.more = false;
    for (int32_t k = e.rest; read_cell(e.cache, k, &entry); k++)
        e.more |= type_of(&entry) == TYPE_REFINEMENT || type_of(&entry) == TYPE_INTEGER ||
                  (type_of(&entry) == TYPE_TYPESET && arg_kind_of(entry) != ARG_RETURN);
}

Unit*& new_page_entry(Node node) {
    size_t frame = node >> NODE_SLOT_BITS;
    pages[frame] = new Unit*[NODE_FRAME_SLOTS]();
    if (frame >= pages_used) pages_used = frame + 1;
    return pages[frame][node & NODE_SLOT_MASK];
}

void drop_all() {
    for (size_t f = 0; f < pages_used; f++)
        if (Unit** page = pages[f])
            for (int32_t i = 0; i < NODE_FRAME_SLOTS; i++) drop(page[i]);
}

void build(Unit* unit, Node node, int32_t head, int32_t depth) {
    SeriesBuffer* s = memory::buffer_of(node);
    int32_t tail = memory::used_bytes(s) >> 4;
    const Cell* cells = memory::cells_head(s) + head;
    int32_t n = tail - head;
    unit->head = head;
    unit->cycles = collector::series_cycles;
    unit->cells.assign(cells, cells + n);
    // A set-word bound before its word was added to the context finds its
    // index by name at every store (words are never removed: the index
    // found stays right); a plain store takes it from here.
    unit->resolved = unit->cells;
    for (Cell& c : unit->resolved) {
        if (type_of(&c) != TYPE_SET_WORD || c.w1 == 0 || int32_t(c.w3) != -1) continue;
        int32_t index = _context::find_word(c.w1, int32_t(c.w2), false);
        if (index < 0) index = _context::find_word(c.w1, int32_t(c.w2), true);
        if (index >= 0) c.w3 = uint32_t(index);
    }
    unit->at.assign(size_t(n), -1);
    unit->slots.assign(size_t(n), nullptr);
    unit->exprs.clear();
    unit->arguments.clear();
    unit->operators.clear();
    unit->branches.clear();
    unit->misses = 0;
    // Compiling reads values of words and argument caches, which allocates
    // nothing; the copy is what the unit stands for.
    Compiler compiler(*unit, n, depth);
    for (int32_t p = 0; p < n; p++) unit->at[size_t(p)] = compiler.expression(p, true, 0);
    // The compiled form gains where it calls: an operator on the result of
    // a call, a native, action or function with its arguments read
    // directly, a method; where it reaches object fields, which the walker
    // finds by a walk of the path; and in blocks made only of simple
    // expressions, checked once per evaluation. Elsewhere it takes as many
    // steps as the walker, which then runs the block without a detour.
    bool worth = false;
    for (const Operator& o : unit->operators)
        if (!o.plain && o.right >= 0) {
            Kind k = unit->exprs[size_t(o.right)].kind;
            worth |= k == K_CALL || k == K_FUNCTION || k == K_METHOD;
        }
    for (int32_t p = 0; p < n && !worth; p++) {
        int32_t index = unit->at[size_t(p)];
        if (index < 0) continue;
        const Expr& e = unit->exprs[size_t(index)];
        worth = e.set_path || e.kind == K_METHOD || e.kind == K_FUNCTION || e.kind == K_CALL ||
                (e.kind == K_WORD && type_of(&unit->cells[size_t(e.start + e.sets - head)]) == TYPE_PATH);
    }
    unit->round.clear();
    {
        std::vector<int32_t> round;
        bool calls = false;
        int32_t p = 0;
        while (p < n) {
            int32_t index = unit->at[size_t(p)];
            if (index < 0) break;
            const Expr& e = unit->exprs[size_t(index)];
            // A word after a call may name an operator once the call ran,
            // which then takes the call's value: such a call is the general
            // loop's.
            bool call = (e.kind == K_FUNCTION || e.kind == K_METHOD) && e.direct && e.plain_arguments &&
                        e.operators == 0 && e.sets <= 1 && !e.set_path && e.next >= 0 && !e.word_after;
            if (!call && !(e.simple && e.next >= 0)) break;
            calls |= call;
            round.push_back(index);
            p = e.next - head;
        }
        if (p == n && calls) unit->round = std::move(round);
    }
    unit->chain.clear();
    int32_t p = 0;
    while (p < n) {
        int32_t index = unit->at[size_t(p)];
        if (index < 0) break;
        const Expr& e = unit->exprs[size_t(index)];
        bool last = e.next - head == n;
        if (!e.simple && e.branch == B_NONE && !(e.exit && last)) break;
        unit->chain.push_back(index);
        p = e.next - head;
    }
    unit->lean = p == n && n > 0;
    unit->program.clear();
    if (unit->lean) make_program(unit);
    worth |= unit->lean;
    unit->walker_only = !worth;
    unit->retry = compiler.missing_cache();
}

}  // namespace detail

void init() { memory::node_release_hook = release; }

}  // namespace zuv::interpreter::compiled
