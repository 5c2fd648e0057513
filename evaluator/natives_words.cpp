// The natives that read and write words and contexts: `get`, `set`, `unset`,
// `value?`, `bind`, `in`, `construct`, `extend`, and `type?`.
#include <algorithm>

#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/loop_support.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_eval.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/words.hpp"

namespace zuv::natives {

namespace {

#define ZUV_ANY_WORD TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE
#define ZUV_ANY_PATH TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH
#define ZUV_ANY_OBJECT TYPE_OBJECT, TYPE_ERROR, TYPE_PORT
#define ZUV_ANY_FUNCTION TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE

bool any_word_q(uint32_t type) { return word::any_word_q(type); }
bool any_path_q(uint32_t type) { return type >= TYPE_PATH && type <= TYPE_GET_PATH; }
// The four word types that name a value (not refinement! or issue!).
bool plain_word_q(uint32_t type) { return type >= TYPE_WORD && type <= TYPE_GET_WORD; }

// Evaluates a path on its own (no code follows it): set stores the current
// result slot through it.
void eval_lone_path(const Cell* path_value, bool set, bool get, bool sub) {
    Cell path = *path_value;
    int32_t tail = interpreter::detail::tail_of(path.w2);
    interpreter::eval_path(&path, tail, tail, &path, set, get, sub);
}

}  // namespace

// get word [any-word! any-path! object!] /any /case
void get_star(bool check, const int32_t* r) {
    enum { ANY, CASE };
    if (check) check_arg(0, {ZUV_ANY_WORD, ZUV_ANY_PATH, TYPE_OBJECT}, 0);
    Cell* target = stack::arguments;
    uint32_t type = type_of(target);
    if (any_path_q(type)) {
        // Keys are matched as the path's own evaluation matches them.
        eval_lone_path(target, false, true, false);
        return;
    }
    if (type == TYPE_OBJECT) {
        actions::call_reflect(target, sym::values);
        return;
    }
    Cell value = *word::value_cell(target);
    if (type_of(&value) == TYPE_UNSET && r[ANY] == -1) fire(ErrorCategory::script, "no-value", target);
    stack::set_last(&value);
}

// set word [any-word! block! object! any-path!] value /any /case /only /some
void set_star(bool check, const int32_t* r) {
    enum { ANY, CASE, ONLY, SOME };
    if (check) check_arg(0, {ZUV_ANY_WORD, TYPE_BLOCK, TYPE_OBJECT, ZUV_ANY_PATH}, 0);
    Cell* target = stack::arguments;
    Cell* value = stack::arguments + 1;
    bool any = r[ANY] != -1, only = r[ONLY] != -1, some = r[SOME] != -1;
    if (type_of(value) == TYPE_UNSET && !any) fire(ErrorCategory::script, "need-value", target);
    uint32_t type = type_of(target);
    if (type == TYPE_BLOCK) {
        int32_t count = block::zs_length_q(target);
        stack::mark_native(&words::tag_anon);
        set_words(target, value, std::max(count, 0), any, some, only);
        stack::unwind();
    } else if (any_path_q(type)) {
        // The path stores the first cell of the current call.
        stack::mark_native(&words::tag_anon);
        stack::push(value);
        eval_lone_path(target, true, false, true);
        if (stack::pending()) return;
        stack::unwind();
    } else if (type == TYPE_OBJECT) {
        object::set_many(target, value, any, only, some);
    } else {
        word::set(target, value);
    }
    stack::set_last(value);
}

// unset word [word! block!]
void unset_star(bool check, const int32_t*) {
    if (check) check_arg(0, {TYPE_WORD, TYPE_BLOCK}, 0);
    Cell nothing;
    unset::make_at(&nothing);
    Cell* target = stack::arguments;
    if (type_of(target) == TYPE_WORD) {
        word::set(target, &nothing);
    } else if (type_of(target) == TYPE_BLOCK) {
        // Each word is copied to the stack first: a change handler may move the block.
        Node node = target->w2;
        Cell* word = unset::make_at(stack::push_raw());
        Cell item;
        for (int32_t i = std::max(int32_t(target->w1), 0); interpreter::detail::read_cell(node, i, &item); i++) {
            if (type_of(&item) != TYPE_WORD) continue;
            *word = item;
            word::set(word, &nothing);
        }
    }
    stack::set_last(&nothing);
}

// value? value [word!]
void value_q_star(bool check, const int32_t*) {
    if (check) check_arg(0, {TYPE_WORD}, 0);
    const Cell* value = stack::arguments;
    bool has_value;
    if (plain_word_q(type_of(value))) {
        // A word with no context, or whose context holds no values now, has none.
        Node ctx = value->w1;
        int32_t index = int32_t(value->w3);
        const Cell* slot = nullptr;
        if (ctx && index == -1 && int32_t(value->w2) == sym::self) slot = _context::own_value(ctx);
        else if (ctx && index >= 0) slot = _context::value_slot(ctx, index);
        has_value = slot && type_of(slot) != TYPE_UNSET;
    } else {
        has_value = type_of(value) != TYPE_UNSET;
    }
    logic::make_at(stack::arguments, has_value);
}

// bind word [block! any-word!] context [any-word! any-object! function!] /copy
void bind_star(bool check, const int32_t* r) {
    if (check) {
        check_arg(0, {TYPE_BLOCK, ZUV_ANY_WORD}, 0);
        check_arg(1, {ZUV_ANY_WORD, ZUV_ANY_OBJECT, TYPE_FUNCTION}, 1);
    }
    Cell* target = stack::arguments;
    const Cell* context = stack::arguments + 1;
    Node ctx = context->w1;  // an object's or function's own context, or the one a word is bound to
    if (!ctx) fire(ErrorCategory::script, "not-in-context", context);
    if (any_word_q(type_of(target))) {
        _context::bind_word(ctx, target);
        return;
    }
    bool self = type_of(context) == TYPE_OBJECT;
    if (r[0] != -1) {
        Cell* copy = cell::begin(stack::push_raw());
        block::clone(target, copy, true, true);
        _context::bind_block(copy, ctx, self);
        stack::set_last(copy);
        return;
    }
    _context::bind_block(target, ctx, self);
}

// in object [any-object! any-function!] word [any-word! refinement!]
void in_star(bool check, const int32_t*) {
    if (check) {
        check_arg(0, {ZUV_ANY_OBJECT, ZUV_ANY_FUNCTION}, 0);
        check_arg(1, {ZUV_ANY_WORD}, 1);
    }
    const Cell* owner = stack::arguments;
    Cell word = stack::arguments[1];
    uint32_t type = type_of(owner);
    bool has_context = type == TYPE_OBJECT || type == TYPE_ERROR || type == TYPE_PORT || type == TYPE_FUNCTION ||
                       type == TYPE_ROUTINE;
    if (!has_context || !owner->w1 || _context::bind_word(owner->w1, &word) < 0) {
        none::make_at(stack::arguments);
        return;
    }
    if (type_of(&word) == TYPE_REFINEMENT) cell::set_type(&word, TYPE_WORD);
    stack::set_last(&word);
}

// construct block [block!] /with object [object!] /only
void construct_star(bool check, const int32_t* r) {
    enum { WITH, ONLY };
    if (check) {
        check_arg(0, {TYPE_BLOCK}, 0);
        check_arg(r[WITH], {TYPE_OBJECT}, 2);
    }
    const Cell* proto = r[WITH] >= 0 ? stack::arguments + r[WITH] : nullptr;
    object::construct(stack::arguments, proto, r[ONLY] != -1, stack::arguments);
}

// extend obj [object! map!] spec [block! hash! map!] /case
void extend_star(bool check, const int32_t* r) {
    if (check) {
        check_arg(0, {TYPE_OBJECT, TYPE_MAP}, 0);
        check_arg(1, {TYPE_BLOCK, TYPE_HASH, TYPE_MAP}, 1);
    }
    // Objects cannot grow in place.
    if (type_of(stack::arguments) != TYPE_MAP) fire(ErrorCategory::internal, "not-done");
    Cell* pairs = stack::arguments + 1;
    if (type_of(pairs) == TYPE_MAP) map::reflect(pairs, sym::body);  // its live pairs only
    map::extend(stack::arguments, pairs, r[0] != -1);
}

// type? value /word
void type_q_star(bool, const int32_t* r) {
    int32_t type = type_of(stack::arguments);
    if (r[0] == -1) datatype::make_at(stack::arguments, type);
    else if (datatype::known_q(type)) stack::set_last(&datatype::type_names[type].word);
    else none::make_at(stack::arguments);
}

}  // namespace zuv::natives
