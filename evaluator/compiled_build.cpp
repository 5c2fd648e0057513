// Compiling a block: its cells decoded into expressions as the walker would
// read them with the values its words hold now.
//
// The decoder follows the walker's grammar: a value by its datatype, the
// arguments of a call by its callee's argument cache, the operators after a
// value. Where a word's value decides the shape (a callable's arity, an
// operator) the value it holds now is taken, and the run checks it again
// (a guard). Nothing here evaluates, binds or raises: a cell the decoder
// cannot read for sure (a callable whose argument cache is not built yet, a
// path whose head it cannot follow) ends the compiled part of the block, and
// the walker runs the rest from that expression on.
#include <algorithm>

#include "evaluator/compiled_internal.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::interpreter::compiled {

using detail::read_cell;

namespace {

bool callable_q(uint32_t type) {
    return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_FUNCTION || type == TYPE_ROUTINE;
}

// The value a bound word holds now, as the walker would read it (null: the
// decoder cannot tell).
const Cell* value_now(const Cell& word) {
    if (word.w1 == 0) return nullptr;
    if (int32_t(word.w3) == -1)
        return int32_t(word.w2) == sym::self ? _context::own_value(word.w1) : nullptr;
    return _context::value_slot(word.w1, int32_t(word.w3));
}

// The control natives run in place, by slot, and the argument of each that
// must be a literal block (the others are compiled as any argument).
struct Control {
    uint32_t slot;
    Kind kind;
    uint8_t blocks;  // bits: the arguments that must be literal blocks
};
constexpr Control CONTROLS[] = {
    {natives::slot::if_star, K_IF, 0b10},       {natives::slot::unless_star, K_UNLESS, 0b10},
    {natives::slot::either_star, K_EITHER, 0b110}, {natives::slot::while_star, K_WHILE, 0b11},
    {natives::slot::until_star, K_UNTIL, 0b1},  {natives::slot::loop_star, K_LOOP, 0b10},
    {natives::slot::repeat_star, K_REPEAT, 0b100}, {natives::slot::forever_star, K_FOREVER, 0b1},
    {natives::slot::foreach_star, K_FOREACH, 0b100}, {natives::slot::any_star, K_ANY, 0b1},
    {natives::slot::all_star, K_ALL, 0b1},      {natives::slot::catch_star, K_CATCH, 0b1},
    {natives::slot::try_star, K_TRY, 0b1},      {natives::slot::switch_star, K_SWITCH, 0b10},
};

// Expressions nest at most this deep in one form (deeper code is walked).
constexpr int32_t MAX_DEPTH = 200;

class Builder {
public:
    Builder(Form& form, Node node, int32_t depth = 0)
        : form_(form), node_(node), tail_(detail::tail_of(node)), depth_(depth) {}

    // The expression at position (an operator's right operand when prefix),
    // or null when it cannot be decoded.
    const Expr* expression(int32_t position, bool prefix) {
        Cell value;
        if (position >= tail_ || !read_cell(node_, position, &value)) return gave_up("no value at the end");
        if (++depth_ > MAX_DEPTH) return gave_up("nested too deep");
        struct Leave {
            int32_t& depth;
            ~Leave() { --depth; }
        } leave{depth_};
        Expr* e = make(position);
        e->prefix = prefix;
        if (!first_value(e, value)) return nullptr;
        bool path_head = (e->kind == K_PATH || e->kind == K_SET_PATH || e->kind == K_REFINED_CALL) && !e->items.empty();
        e->slot.local = local_word_q(path_head ? e->items[0] : e->cell);
        e->field_path = (e->kind == K_PATH || e->kind == K_SET_PATH) && e->items.size() >= 2 &&
                        std::all_of(e->items.begin() + 1, e->items.end(),
                                    [](const Cell& c) { return type_of(&c) == TYPE_WORD; });
        if (prefix) e->next = e->value_end;
        else if (!operators(e)) return nullptr;
        if (!prefix) after(e);
        e->pure = pure_q(e);
        flat(e);
        bool set = e->kind == K_SET_WORD || e->kind == K_SET_PATH;
        e->quiet = e->pure || (set && e->ops.empty() && e->args[0]->pure);
        e->run = runner_of(*e);
        e->in_line_args = e->kind == K_CALL && args_in_line_q(*e);
        return e;
    }

    // A node the walker runs from position (the builder cannot decode the
    // expression there): its extent is set by the caller.
    Expr* hole(int32_t position) {
        Expr* e = make(position);
        e->kind = K_WALK;
        e->run = runner_of(*e);
        return e;
    }

private:
    Expr* make(int32_t position) {
        form_.exprs.push_back(std::make_unique<Expr>());
        Expr* e = form_.exprs.back().get();
        e->start = position;
        return e;
    }

    // ---- the first value ----

    bool first_value(Expr* e, const Cell& value) {
        int32_t position = e->start;
        e->value_end = position + 1;
        e->cell = value;
        switch (type_of(&value)) {
            case TYPE_PAREN: paren(e, value); return true;
            case TYPE_WORD: return word(e, value);
            case TYPE_SET_WORD: {
                if (value.w1 == 0) return walked(e);  // the walker raises the error of an unbound word
                const Expr* v = expression(position + 1, false);
                if (!v) return false;
                e->kind = K_SET_WORD;
                e->args.push_back(v);
                e->value_end = v->next;
                return true;
            }
            case TYPE_LIT_WORD:
                cell::set_type(&e->cell, TYPE_WORD);
                e->kind = K_CONST;
                return true;
            case TYPE_GET_WORD:
                e->kind = value.w1 != 0 && int32_t(value.w3) >= 0 ? K_GET_WORD : K_WALK;
                return true;
            case TYPE_ISSUE: {
                // #system [...] is the low-level dialect's, which the walker refuses.
                Cell after;
                e->kind = read_cell(node_, position + 1, &after) && type_of(&after) == TYPE_BLOCK ? K_WALK : K_CONST;
                return true;
            }
            case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
                return give_up("a callable in the code");  // a callable in the code itself: the walker calls it
            case TYPE_OP: return walked(e);  // an error
            case TYPE_LIT_PATH:
                cell::set_type(&e->cell, TYPE_PATH);
                e->cell.w3 = 0;
                e->kind = K_CONST;
                return true;
            case TYPE_PATH: return path(e, value);
            case TYPE_SET_PATH: return set_path(e, value);
            case TYPE_GET_PATH: return walked(e);  // a value read, no call: the walker's walk
            default: e->kind = K_CONST; return true;
        }
    }

    // Decodable once the walker has made the callable's argument cache.
    bool wait_for(const Cell& fn) {
        give_up("a callee's cache not built yet");
        if (!form_.waiting) {
            form_.waiting = true;
            form_.waiting_for = fn;
            form_.waiting_at = collector::series_cycles;
        }
        return false;
    }

    // The decoder stops here: why, kept in the form (the first reason met,
    // the innermost) for the report of builds that make one.
    bool give_up(const char* why) {
        if (!form_.gap) form_.gap = why;
        return false;
    }
    std::nullptr_t gave_up(const char* why) {
        give_up(why);
        return nullptr;
    }

    bool walked(Expr* e) {
        e->kind = K_WALK;
        return true;
    }

    bool word(Expr* e, const Cell& w) {
        if (w.w1 == 0) return walked(e);  // unbound: an error
        const Cell* v = value_now(w);
        uint32_t t = v ? type_of(v) : uint32_t(TYPE_UNSET);
        if (t == TYPE_OP) return walked(e);  // an error
        if (!callable_q(t)) {
            e->kind = K_WORD;
            return true;
        }
        return call(e, *v);
    }

    // A call of fn through the word at e->start: its fixed arguments.
    bool call(Expr* e, const Cell& fn) {
        const Callee* c = callee_of(fn);
        if (!c) return type_of(&fn) == TYPE_FUNCTION ? uncached_call(e, fn) : wait_for(fn);
        if (c->shape.count == 0xFF) return give_up("a callee of too many arguments");
        e->kind = K_CALL;
        e->site.fn = fn;
        e->site.callee = c;
        e->shape = c->shape;
        e->fast = c->fast;
        e->compute = c->compute;
        if (c->type_test >= 0) {
            // Computed in place by the type it tests; the call itself stays the routine's.
            e->fast = in_place::TYPE_TEST;
            e->compute = in_place::computer_of(e->fast);
            e->operand.w1 = uint32_t(c->type_test);
        } else if (c->typeset_test) {
            // Computed in place by the typeset its word holds now.
            e->fast = in_place::TYPESET_TEST;
            e->compute = in_place::computer_of(e->fast);
            e->operand.w1 = uint32_t(c->typeset_test);
        }
        if (in_place::one_operand_q(e->fast) && c->args.size() == 1) e->arg_types = c->args[0].types;
        e->callable = fn;
        int32_t position = fixed_arguments(e, c);
        if (position < 0) return give_up("an argument");
        e->value_end = position;
        if (type_of(&fn) == TYPE_NATIVE) control(e, fn);
        return true;
    }

    // A call of a function whose argument cache the walker has not built
    // yet (one made afresh at each run of the code that makes it, such as a
    // helper defined in a function's body): its fixed arguments are read
    // from its spec as the cache will hold them, and the call finds its
    // decoding at the run (the first is the walker's, which builds the cache).
    bool uncached_call(Expr* e, const Cell& fn) {
        Shape shape;
        if (!spec_shape(fn.w2, &shape)) return give_up("a function's spec");
        e->kind = K_CALL;
        e->site.fn = fn;
        e->shape = shape;
        e->callable = fn;
        int32_t position = e->start + 1;
        for (int32_t k = 0; k < shape.count; k++) {
            const Expr* arg = argument(uint32_t(shape.kinds >> (2 * k)) & 3, position);
            if (!arg) return give_up("an argument");
            e->args.push_back(arg);
            position = arg->next;
        }
        e->value_end = position;
        return true;
    }

    // The shape of the fixed arguments that the argument cache made from
    // the function spec will hold (the argument words before the first
    // refinement other than /local), read without making the cache: false
    // where the spec is one the cache's maker refuses, or of too many.
    static bool spec_shape(Node spec, Shape* shape) {
        int32_t local_symbol = symbol::resolve(int32_t(refinements::local.w2));
        int32_t return_symbol = symbol::resolve(sym::return_);
        bool in_locals = false;
        Cell item;
        for (int32_t i = 0; read_cell(spec, i, &item); i++) {
            uint32_t t = type_of(&item);
            if (in_locals) {
                if (t != TYPE_SET_WORD && t != TYPE_REFINEMENT) continue;
                in_locals = false;
            }
            if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) {
                if (shape->count == MAX_ARGUMENTS) return false;
                uint32_t kind = t == TYPE_WORD ? ARG_NORMAL : t == TYPE_GET_WORD ? ARG_GET : ARG_LIT;
                shape->kinds |= uint64_t(kind) << (2 * shape->count++);
            } else if (t == TYPE_SET_WORD) {
                if (symbol::resolve(int32_t(item.w2)) != return_symbol) return false;
            } else if (t == TYPE_REFINEMENT) {
                if (symbol::resolve(int32_t(item.w2)) != local_symbol) return true;
                in_locals = true;
            }
        }
        return true;
    }

    // The fixed arguments of a call of c into e->args: the position after
    // them, or -1 when one cannot be decoded.
    int32_t fixed_arguments(Expr* e, const Callee* c) {
        int32_t position = e->start + 1;
        for (const ArgSpec& a : c->args) {
            const Expr* arg = argument(a.kind, position);
            if (!arg) return -1;
            e->args.push_back(arg);
            position = arg->next;
        }
        return position;
    }

    // One argument by its kind, as fetch_argument fetches it.
    const Expr* argument(uint32_t kind, int32_t position) {
        if (kind == ARG_NORMAL) return expression(position, false);
        Cell v;
        if (position >= tail_ || !read_cell(node_, position, &v))  // a filler or no-arg: the walker's
            return gave_up("an argument missing");
        Expr* e = make(position);
        e->prefix = true;
        e->value_end = e->next = position + 1;
        e->cell = v;
        e->kind = K_CONST;
        e->run = runner_of(*e);
        if (kind == ARG_LIT) {
            switch (type_of(&v)) {
                case TYPE_PAREN: case TYPE_GET_WORD: case TYPE_GET_PATH: return gave_up("a literal argument evaluated");
                default: break;
            }
        }
        e->pure = type_of(&v) != TYPE_UNSET;  // an unset cell is placed by the general run
        return e;
    }

    // A call of a control native whose block arguments are literal blocks
    // runs in place.
    void control(Expr* e, const Cell& fn) {
        for (const Control& c : CONTROLS) {
            if (c.slot != fn.w1) continue;
            for (size_t i = 0; i < e->args.size(); i++) {
                bool literal = e->args[i]->kind == K_CONST && type_of(&e->args[i]->cell) == TYPE_BLOCK &&
                               e->args[i]->ops.empty();
                if ((c.blocks >> i) & 1) {
                    if (!literal) return;
                    e->items.push_back(e->args[i]->cell);
                }
            }
            e->kind = c.kind;
            if (c.kind == K_ANY || c.kind == K_ALL) conditions(e, e->items[0]);
            return;
        }
    }

    // The expressions of the block of an any or all, decoded in the form
    // from the block's own series (a change of which drops the form): when
    // each is pure, so is the call, read without frames. The native runs
    // the block by its own form otherwise.
    void conditions(Expr* e, const Cell& block) {
        Builder inner(form_, block.w2, depth_);
        std::vector<const Expr*> exprs;
        // A callee met there whose cache is not built yet may never be
        // called (the native stops early): the form does not wait for it.
        bool waiting = form_.waiting;
        const char* gap = form_.gap;
        for (int32_t position = std::max(int32_t(block.w1), 0); position < inner.tail_;) {
            const Expr* x = inner.expression(position, false);
            if (!x || !x->pure) {
                form_.waiting = waiting;
                form_.gap = gap;
                return;
            }
            exprs.push_back(x);
            position = x->next;
        }
        e->inner = std::move(exprs);
        e->inner_pure = true;
        note_dependency(&form_, block.w2);
    }

    // A paren's expressions are decoded in its form too, from the paren's own
    // series (a change of which drops the form); one it cannot decode whole
    // runs by its own form.
    void paren(Expr* e, const Cell& p) {
        e->kind = K_PAREN;
        Builder inner(form_, p.w2, depth_);
        int32_t tail = inner.tail_;
        std::vector<const Expr*> exprs;
        const char* gap = form_.gap;
        for (int32_t position = std::max(int32_t(p.w1), 0); position < tail;) {
            const Expr* x = inner.expression(position, false);
            if (!x) {
                form_.gap = gap;
                return;
            }
            exprs.push_back(x);
            position = x->next;
        }
        if (exprs.empty()) return;
        e->args = std::move(exprs);
        e->inner_end = tail;
        note_dependency(&form_, p.w2);
    }

    // ---- paths ----

    // A path read for its value: a word at its head, then fields of objects
    // (words) and picks of blocks (integers), as the walk finds them now.
    // A callable met on the way is called (path_call). Where the walk cannot
    // be followed now (a local that holds none yet, a field the object lacks
    // now), the rest of the elements are taken as they stand: the run walks
    // the path in the values it meets then, and leaves any other walk (a
    // call among them, an error) to the walker.
    bool path(Expr* e, const Cell& p) {
        int32_t head = std::max(int32_t(p.w1), 0);
        Cell item;
        if (!read_cell(p.w2, head, &item) || type_of(&item) != TYPE_WORD) return walked(e);  // an error
        const Cell* v = value_now(item);
        if (!v) return give_up("a path's head of no value");
        if (callable_q(type_of(v))) return path_call(e, *v, p, head + 1);
        e->items.push_back(item);
        Cell current = *v;
        bool followed = true;
        for (int32_t i = head + 1; read_cell(p.w2, i, &item); i++) {
            bool found = false;
            if (!followed) {
            } else if (type_of(&item) == TYPE_WORD && type_of(&current) == TYPE_OBJECT) {
                // The field is found by its name in the object met now; the
                // run finds it again in the object it meets (find_field).
                int32_t index = _context::find_word_hinted(current.w1, item, int32_t(item.w3));
                const Cell* field = index >= 0 ? _context::value_slot(current.w1, index) : nullptr;
                if (field) {
                    item.w3 = uint32_t(index);
                    if (callable_q(type_of(field))) return path_call(e, *field, p, i + 1);
                    current = *field;
                    found = true;
                }
            } else if ((type_of(&item) == TYPE_INTEGER || type_of(&item) == TYPE_GET_WORD) &&
                       type_of(&current) == TYPE_BLOCK) {
                // A get-word's index is read at each run (an integer, or the walker walks the path).
                const Cell* by = type_of(&item) == TYPE_GET_WORD ? value_now(item) : &item;
                if (by && type_of(by) == TYPE_INTEGER) {
                    int32_t index = int32_t(by->w2);
                    int32_t at = std::max(int32_t(current.w1), 0) + index - (index > 0 ? 1 : 0);
                    if (index == 0 || !read_cell(current.w2, at, &current)) none::make_at(&current);
                    if (callable_q(type_of(&current))) return path_call(e, current, p, i + 1);
                    found = true;
                }
            }
            if (!found) {
                followed = false;
                if (type_of(&item) == TYPE_WORD) {  // its field found at the first run (field_of)
                    item.w1 = 0;
                    item.w3 = ~0u;
                }
            }
            e->items.push_back(item);
        }
        if (e->items.size() < 2) return walked(e);
        e->kind = K_PATH;
        note_dependency(&form_, p.w2);
        return true;
    }

    // A call of fn met on the walk of path p, the elements from index
    // refinements: the walker makes the call (the path, its refinements and
    // its method's object are its to apply); the form decodes the arguments
    // only to know where the call ends, so that the rest of the block stays
    // compiled. Should the walker stop elsewhere, it takes the rest of the
    // block, as after any guard that fails. A refinement the callable lacks
    // is an error the walker raises: it ends the compiled part.
    bool path_call(Expr* e, const Cell& fn, const Cell& p, int32_t index) {
        const Callee* c = callee_of(fn);
        if (!c) return wait_for(fn);
        // A function at the path's head, or a method: an object's field
        // after the head word and fields of objects.
        int32_t head = std::max(int32_t(p.w1), 0);
        bool method = index >= head + 2;
        for (size_t k = 1; k < e->items.size(); k++) method = method && type_of(&e->items[k]) == TYPE_WORD;
        const char* gap = form_.gap;
        if ((index == head + 1 || method) && refined_call(e, fn, c, p, index, method)) return true;
        form_.gap = gap;
        e->args.clear();
        e->flags.clear();
        e->refined.clear();
        int32_t position = e->start + 1;
        for (const ArgSpec& a : c->args) {
            const Expr* arg = argument(a.kind, position);
            if (!arg) return false;
            position = arg->next;
        }
        Cell item, entry;
        for (int32_t i = index; read_cell(p.w2, i, &item); i++) {
            if (type_of(&item) != TYPE_WORD && type_of(&item) != TYPE_GET_WORD) return give_up("a path call's step");
            int32_t wanted = symbol::resolve(int32_t(item.w2));
            int32_t found = -1;
            for (int32_t k = 0; found < 0 && read_cell(c->cache, k, &entry); k++)
                if (type_of(&entry) == TYPE_REFINEMENT && symbol::resolve(int32_t(entry.w2)) == wanted) found = k;
            if (found < 0) return give_up("a refinement the callee lacks");
            for (int32_t k = found + 1; read_cell(c->cache, k, &entry) && type_of(&entry) == TYPE_TYPESET; k++) {
                uint32_t kind = (entry.header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
                if (kind == ARG_RETURN) continue;
                const Expr* arg = argument(kind, position);
                if (!arg) return false;
                position = arg->next;
            }
        }
        e->kind = K_PATH_CALL;
        e->value_end = position;
        note_dependency(&form_, p.w2);
        return true;
    }

    // A function, native or action called through its word or as a method
    // (o/f), with refinements (f/a/b, o/f/:a): called in place as a call
    // through a word is. A function's refinements set their logic cells and
    // their arguments go to their cells; a native's or action's arguments
    // follow the fixed ones in the path's order, each refinement's word
    // saying where its own begin. Each element must name a refinement of
    // the callable, once, by a word or a bound get-word; any other such path
    // is the walker's call.
    bool refined_call(Expr* e, const Cell& fn, const Callee* c, const Cell& p, int32_t index, bool method) {
        if (c->shape.count == 0xFF) return false;
        bool builtin = c->type != TYPE_FUNCTION;
        if (builtin ? !builtin_entry_q(fn, c) : method && !interpreted_body(fn)) return false;
        int32_t position = fixed_arguments(e, c);
        if (position < 0) return false;
        Cell item, entry;
        for (int32_t i = index; read_cell(p.w2, i, &item); i++) {
            // A get-word names a refinement used when its word's value is
            // neither false nor none (read as the walker reads it, just
            // before the refinement's arguments).
            bool named = type_of(&item) == TYPE_WORD;
            if (!named && (type_of(&item) != TYPE_GET_WORD || item.w1 == 0)) return false;
            int32_t wanted = symbol::resolve(int32_t(item.w2));
            // The refinement's cell: its place among the spec's arguments and
            // refinements (a function's), or its word's number (a builtin's).
            int32_t found = -1, offset = 0;
            for (int32_t k = 0; found < 0 && read_cell(c->cache, k, &entry); k++) {
                uint32_t t = type_of(&entry);
                if (t == TYPE_REFINEMENT && symbol::resolve(int32_t(entry.w2)) == wanted) found = k;
                else if (t == TYPE_REFINEMENT ||
                         (t == TYPE_TYPESET && ((entry.header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) != ARG_RETURN))
                    offset++;
            }
            if (found < 0) return false;
            if (builtin) {
                offset = int32_t(entry.w3) - 1;
                if (offset < 0 || offset >= natives::MAX_REFINEMENTS) return false;
            }
            if (std::find(e->flags.begin(), e->flags.end(), offset) != e->flags.end()) return false;
            e->flags.push_back(offset);
            e->flag_args.push_back(int32_t(e->args.size()));
            e->flag_words.push_back(named ? Cell{} : item);
            int32_t n = 0;
            for (int32_t k = found + 1; read_cell(c->cache, k, &entry) && type_of(&entry) == TYPE_TYPESET; k++) {
                auto a = std::find_if(c->refined_args.begin(), c->refined_args.end(),
                                      [k](const ArgSpec& s) { return s.entry == k; });
                if (a == c->refined_args.end()) continue;  // a return: never fetched
                const Expr* arg = argument(a->kind, position);
                if (!arg) return false;
                e->args.push_back(arg);
                e->refined.push_back({*a, offset + 1 + n++});
                position = arg->next;
            }
        }
        e->kind = K_REFINED_CALL;
        if (!e->flags.empty())
            for (int32_t k = 0; read_cell(c->cache, k, &entry); k++) e->layout.push_back(entry);
        if (e->items.empty()) e->items.push_back(item_at(p, std::max(int32_t(p.w1), 0)));
        if (method) e->items.push_back(item_at(p, index - 1));
        e->site.fn = fn;
        e->site.callee = c;
        e->shape = c->shape;
        e->callable = fn;
        e->value_end = position;
        note_dependency(&form_, p.w2);
        return true;
    }

    static Cell item_at(const Cell& p, int32_t i) {
        Cell item{};
        read_cell(p.w2, i, &item);
        return item;
    }

    // A set-path of one object's field (word/word:), its value the
    // expression after it; any other set-path is the walker's to store.
    bool set_path(Expr* e, const Cell& p) {
        const Expr* v = expression(e->start + 1, false);
        if (!v) return false;
        e->kind = K_SET_PATH;
        e->args.push_back(v);
        e->value_end = v->next;
        Cell item;
        for (int32_t i = std::max(int32_t(p.w1), 0); read_cell(p.w2, i, &item); i++) e->items.push_back(item);
        note_dependency(&form_, p.w2);
        return true;
    }

    // ---- operators ----

    bool operators(Expr* e) {
        int32_t position = e->value_end;
        Cell w;
        while (position < tail_ && read_cell(node_, position, &w) && type_of(&w) == TYPE_WORD && w.w1 != 0) {
            const Cell* v = value_now(w);
            if (!v || type_of(v) != TYPE_OP) break;
            Op op;
            op.word = w;
            op.op = *v;
            op.fn = zuv::op::unwrap(v);
            op.at = position;
            const Callee* c = callee_of(op.fn);
            if (!c) return wait_for(op.fn);
            if (!(c->shape == OPERATOR_SHAPE)) return give_up("an operator of another shape");
            op.site.fn = op.fn;
            op.site.callee = c;
            op.fast = c->fast;
            op.compute = c->compute;
            op.right = expression(position + 1, true);
            if (!op.right) return false;
            position = op.right->next;
            e->ops.push_back(op);
        }
        e->next = position;
        return true;
    }

    // A bound word right after the expression may name an operator when it
    // runs: the run looks.
    void after(Expr* e) {
        Cell w;
        e->check_after = read_cell(node_, e->next, &w) && type_of(&w) == TYPE_WORD && w.w1 != 0;
        if (e->check_after) {
            e->after = w;
            e->after_slot.local = local_word_q(w);
        }
    }

    // A word bound to a function's context: read from the running call's
    // cells (compiled_run.cpp's slot_of looks there first).
    static bool local_word_q(const Cell& w) {
        uint32_t t = type_of(&w);
        if ((t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD) || w.w1 == 0 || int32_t(w.w3) < 0)
            return false;
        return _context::kind_of(_context::cell_of(w.w1)) == _context::KIND_FUNCTION;
    }

    static bool leaf_q(const Expr* e) { return e->kind == K_WORD || e->kind == K_CONST; }
    static void flat(Expr* e) {
        e->flat = e->pure && leaf_q(e) &&
                  std::all_of(e->ops.begin(), e->ops.end(), [](const Op& op) { return leaf_q(op.right); });
        e->flat_paren = e->pure && e->kind == K_PAREN && e->args.size() == 1 && e->args[0]->flat;
    }

    static bool pure_q(Expr* e) {
        // A call computed in place of pure arguments (two, or one).
        size_t operands = in_place::one_operand_q(e->fast) ? 1 : 2;
        bool call = e->kind == K_CALL && e->fast != in_place::NONE && e->args.size() == operands &&
                    std::all_of(e->args.begin(), e->args.end(), [](const Expr* a) { return a->pure; });
        bool value = (e->kind == K_CONST && type_of(&e->cell) != TYPE_UNSET) || e->kind == K_WORD ||
                     e->kind == K_PATH || call || e->inner_pure ||
                     (e->kind == K_PAREN && e->args.size() == 1 && e->args[0]->pure);
        if (!value) return false;
        // The walker pushes one frame for a paren (its block's), one for a
        // call and for an operator called, and for any and all one more for
        // each expression of their block; a path walk's cells on the data
        // stack are counted as two frames' worth.
        int32_t frames = e->kind == K_PAREN ? 1 + e->args[0]->frames : e->kind == K_PATH ? 2 : 0;
        if (call)
            frames = 1 + std::max({e->args[0]->frames, e->args.back()->frames, in_place::body_frames(e->fast)});
        if (e->inner_pure) {
            frames = 2;
            for (const Expr* x : e->inner) frames = std::max(frames, 2 + x->frames);
        }
        for (const Op& op : e->ops) {
            if (op.fast == in_place::NONE || !op.right->pure) return false;
            frames = std::max(frames, 1 + std::max(op.right->frames, in_place::body_frames(op.fast)));
        }
        e->frames = frames;
        return true;
    }

    Form& form_;
    Node node_;
    int32_t tail_;
    int32_t depth_;
};

}  // namespace

std::unique_ptr<Form> build(Node node, int32_t head) {
    auto form = std::make_unique<Form>();
    Form& f = *form;
    f.node = node;
    f.head = head;
    f.tail = detail::tail_of(node);
    f.cells.assign(memory::cells_head(memory::buffer_of(node)) + head,
                   memory::cells_head(memory::buffer_of(node)) + f.tail);
    f.at.assign(size_t(f.tail - head), nullptr);
    Builder b(f, node);
    // Where an expression cannot be decoded, the form holds one node the
    // walker runs from there (a hole), and its decoding goes on from the
    // next cell that starts an expression (a few tried): should the walker
    // stop at any expression of the form, the run goes on with it.
    constexpr int32_t MAX_TRIES = 16;
    Expr* hole = nullptr;
    for (int32_t position = head; position < f.tail;) {
        f.gap = nullptr;
        const Expr* e = hole && hole->next - hole->start >= MAX_TRIES ? nullptr : b.expression(position, false);
        if (!e) {
            if (!hole) {
                if (f.walk_from < 0) f.walk_from = position;
                f.gaps.push_back({position, f.gap});
                hole = b.hole(position);
                f.top.push_back(hole);
                f.at[size_t(position - head)] = hole;
            }
            hole->value_end = hole->next = ++position;
            continue;
        }
        hole = nullptr;
        f.top.push_back(e);
        f.at[size_t(position - head)] = e;
        position = e->next;
    }
    f.quiet = f.walk_from < 0 && !f.top.empty() &&
              std::all_of(f.top.begin(), f.top.end(), [](const Expr* e) { return e->quiet; });
    // A set-word's frame holds its value's.
    for (const Expr* e : f.top)
        if (e->quiet) f.quiet_frames = std::max(f.quiet_frames, e->pure ? e->frames : 1 + e->args[0]->frames);
    return form;
}

}  // namespace zuv::interpreter::compiled
