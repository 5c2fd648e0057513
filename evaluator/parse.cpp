// The PARSE engine: an iterative state machine over a rule stack of frames.
//
// Rule stack frames are three cells each, pushed in this order:
//
//   block frame    none | triple {position in the enclosing block, input
//                  index, input length at entry} | the enclosing rule block
//   command frame  triple {min, max (-1: none), round} or the target word |
//                  triple {position of the command's last cell, input index,
//                  input length at the start} | pair {command code, argument}
//
// A pair! on top marks a command frame. The triple! and pair! cells are
// internal records of plain signed integers. The input stack holds the input
// of the outermost rules and every sub-series `into` descends into.
//
// Nothing here holds an address into a series across anything that may
// allocate or run code: the registers (current rules, current input, the
// value being dispatched ...) are cells guarded as collector roots, the rule
// position is an index re-read at each step, and parens may change both the
// rules and the input under the engine's feet. A nested run (a parse inside
// a paren) works above the outer run's frames; every exit of a run, an error
// included, cuts both stacks back to where that run found them.
#include "evaluator/parse.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/callbacks.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_support.hpp"
#include "evaluator/natives_transcode.hpp"
#include "evaluator/parse_internal.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/memory.hpp"
#include "runtime/root.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::parse {

namespace {

// The two stacks: cells of the root block (which never moves).
Cell* input_stack = nullptr;
Cell* rule_stack = nullptr;
constexpr int32_t STACK_LIMIT = 10000;

// The keywords, so that a word is told from a keyword, and the keyword
// named, with one look-up. KW_OTHER: only, pick and after, which mean
// something only inside the commands they belong to.
enum Keyword : uint8_t {
    KW_NOT_ONE, KW_BAR, KW_SKIP, KW_ANY, KW_SOME, KW_OPT, KW_TO, KW_THRU, KW_REMOVE, KW_BREAK, KW_FAIL,
    KW_REJECT, KW_KEEP, KW_AHEAD, KW_WHILE, KW_NOT, KW_INTO, KW_INSERT, KW_CHANGE, KW_END, KW_IF, KW_QUOTE,
    KW_CASE, KW_SET, KW_COPY, KW_NONE, KW_COLLECT, KW_OTHER
};
// Canonical symbol id -> its keyword.
std::vector<uint8_t> keyword_codes;
Keyword keyword_of_symbol(int32_t canonical_symbol) {
    return canonical_symbol >= 0 && size_t(canonical_symbol) < keyword_codes.size()
               ? Keyword(keyword_codes[size_t(canonical_symbol)])
               : KW_NOT_ONE;
}
bool keyword_q(int32_t canonical_symbol) { return keyword_of_symbol(canonical_symbol) != KW_NOT_ONE; }

enum Code : int32_t {
    C_REPEAT = -1, C_TO = -2, C_THRU = -3, C_COPY = -4, C_SET = -5, C_NOT = -6, C_INTO = -7, C_REMOVE = -9,
    C_WHILE = -11, C_COLLECT = -12, C_KEEP = -13, C_AHEAD = -16, C_CHANGE = -17, C_CHANGE_ONLY = -18, C_CASE = -19
};
constexpr int32_t KEEP_PICK = 1;       // keep pick: each element on its own
constexpr int32_t KEEP_OF_COPY = 2;    // the kept rule was a copy: keep the copied series

enum State {
    ENTER, LEAVE, PUSH_COMMAND, FINISH, AFTER_MATCH, NEXT, DISPATCH, LITERAL, ARGUMENT, FAILURE, KEYWORD, END
};

Cell triple(int32_t a, int32_t b, int32_t c) {
    Cell t;
    t.header = TYPE_TRIPLE;
    t.w1 = uint32_t(a);
    t.w2 = uint32_t(b);
    t.w3 = uint32_t(c);
    return t;
}
Cell pair(int32_t code, int32_t arg) {
    Cell p;
    p.header = TYPE_PAIR;
    p.w1 = 0;
    p.w2 = uint32_t(code);
    p.w3 = uint32_t(arg);
    return p;
}
inline int32_t a_of(const Cell& t) { return int32_t(t.w1); }
inline int32_t b_of(const Cell& t) { return int32_t(t.w2); }
inline int32_t c_of(const Cell& t) { return int32_t(t.w3); }

// Cells of a block from its buffer's first one (a shift: the hot path avoids
// dividing by a unit read at run time).
int32_t length_of(const Cell* block) { return memory::used_bytes(memory::buffer_of(block->w2)) >> 4; }
const Cell* cell_at(const Cell* block, int32_t i) { return memory::cells_head(memory::buffer_of(block->w2)) + i; }

bool same_series_q(const Cell* a, const Cell* b) { return type_of(a) == type_of(b) && a->w2 == b->w2; }

bool word_q(const Cell* c) { return type_of(c) == TYPE_WORD; }
int32_t canonical(const Cell* word) { return symbol::resolve(int32_t(word->w2)); }
bool word_is_q(const Cell* c, int32_t symbol) { return word_q(c) && canonical(c) == symbol::resolve(symbol); }

[[noreturn]] void fire_rule(const Cell* value) { fire(ErrorCategory::script, "parse-rule", value); }
[[noreturn]] void fire_end(const Cell* keyword) { fire(ErrorCategory::script, "parse-end", keyword); }

// The keyword word that names a command in errors.
const Cell* keyword_of(int32_t code) {
    switch (code) {
        case C_TO: return &words::to;
        case C_THRU: return &words::thru;
        case C_NOT: return &words::not_;
        case C_REMOVE: return &words::remove;
        case C_WHILE: return &words::while_;
        case C_COLLECT: return &words::collect;
        case C_KEEP: return &words::keep;
        case C_AHEAD: return &words::ahead;
        default: return nullptr;
    }
}

struct Collect {
    Cell* target;   // a data stack cell: the block collected into, or the into/after series
    int32_t kind;   // 0 a new block, 1 with set, 2 into, 3 after
};
enum CollectKind { COLLECT_PLAIN, COLLECT_SET, COLLECT_INTO, COLLECT_AFTER };

// Cuts both stacks back to where a run found them, however it ends.
struct StackGuard {
    int32_t rule_base, input_base;
    StackGuard() : rule_base(length_of(rule_stack)), input_base(length_of(input_stack)) {}
    ~StackGuard() {
        block::truncate_at(rule_stack, rule_base);
        block::truncate_at(input_stack, input_base);
    }
};

class Engine {
public:
    Engine(const Cell* input, const Cell* rules, int32_t mode, int32_t limit, const Cell* callback)
        : mode_(mode), limit_(limit) {
        for (Cell& c : regs_) none::make_at(&c);
        input_reg() = *input;
        value_reg() = *rules;
        outer_ = input->w2;
        if (callback) {
            callback_reg() = *callback;
            traced_ = true;
        }
        block::append_cell(input_stack, &input_reg());
    }

    // False when a non-local exit out of a paren or the callback is pending.
    bool go();
    const Cell& result() { return result_reg(); }

private:
    // ---- registers (collector roots) ----
    Cell regs_[9];
    collector::Root root_{regs_, 9};
    Cell& rules_reg() { return regs_[0]; }
    Cell& input_reg() { return regs_[1]; }
    Cell& value_reg() { return regs_[2]; }
    Cell& callback_reg() { return regs_[3]; }
    Cell& result_reg() { return regs_[4]; }
    Cell& tmp_reg() { return regs_[5]; }
    Cell& word_reg() { return regs_[6]; }
    Cell& first_reg() { return regs_[7]; }  // a frame's first cell while the frame is made
    Cell& third_reg() { return regs_[8]; }  // and its third

    StackGuard guard_;
    std::vector<Collect> collects_;
    int32_t pos_ = -1;
    int32_t mode_;
    int32_t limit_;
    Node outer_;
    bool match_ = true;
    bool break_ = false;
    bool from_command_ = false;
    bool traced_ = false;
    bool stopped_ = false;   // the callback answered false
    bool aborted_ = false;   // a non-local exit is pending
    State state_ = ENTER;

    // Command being pushed (PUSH_COMMAND).
    int32_t push_code_ = 0, push_arg_ = 0, push_min_ = 0, push_max_ = 0;
    bool push_word_ = false;  // the frame's first cell is the word at the position

    // ---- input ----
    int32_t index() const { return int32_t(regs_[1].w1); }
    void set_index(int32_t i) { input_reg().w1 = uint32_t(i); }
    int32_t end_of_input() {
        int32_t total = series_length(&input_reg());
        if (limit_ >= 0 && input_reg().w2 == outer_ && limit_ < total) return limit_;
        return total;
    }
    bool at_end() { return index() >= end_of_input(); }
    Kind kind() const { return kind_of(type_of(&regs_[1])); }

    // ---- rules ----
    int32_t tail() { return length_of(&rules_reg()); }
    bool rule_at(int32_t i, Cell* out) {
        const SeriesBuffer* b = memory::buffer_of(rules_reg().w2);  // one look-up for the tail and the cell
        if (i < 0 || i >= memory::used_bytes(b) >> 4) return false;
        *out = memory::cells_head(b)[i];
        return true;
    }

    // ---- rule stack ----
    int32_t depth() { return length_of(rule_stack); }
    // The rule stack's buffer is looked up once per read of its top.
    Cell* stack_top() {
        SeriesBuffer* b = memory::buffer_of(rule_stack->w2);
        return memory::internal_cells(b) + (memory::used_bytes(b) >> 4);
    }
    Cell frame(int32_t k) { return stack_top()[k - 3]; }
    void write_frame(int32_t k, const Cell& c) { stack_top()[k - 3] = c; }
    bool command_on_top() {
        SeriesBuffer* b = memory::buffer_of(rule_stack->w2);
        int32_t n = memory::used_bytes(b) >> 4;
        return n > guard_.rule_base && type_of(memory::internal_cells(b) + n - 1) == TYPE_PAIR;
    }
    int32_t top_code() { return b_of(frame(2)); }
    void check_stacks() {
        if (depth() > STACK_LIMIT || length_of(input_stack) > STACK_LIMIT)
            fire(ErrorCategory::script, "parse-stack");
    }
    // A new frame of three cells on the rule stack. The cells are made
    // before the stack grows, kept in registers across the growth (a word's
    // context node must survive it), and written once nothing more allocates.
    void push_frame(const Cell& first, const Cell& where, const Cell& third) {
        check_stacks();
        first_reg() = first;
        third_reg() = third;
        Cell* cells = reinterpret_cast<Cell*>(cell::reserve_tail_bytes(rule_stack->w2, 3 * int32_t(sizeof(Cell))));
        cells[0] = first_reg();
        cells[1] = where;
        cells[2] = third_reg();
    }
    void drop_frame() {
        SeriesBuffer* b = memory::buffer_of(rule_stack->w2);
        memory::changing(b);
        b->tail -= 3 * int32_t(sizeof(Cell));
    }
    void push_command(int32_t code, int32_t arg, const Cell& first) {
        push_frame(first, triple(pos_, index(), series_length(&input_reg())), pair(code, arg));
    }

    // ---- events and code ----
    void event(const Cell& word);
    bool eval_paren(const Cell& paren, Cell* out);
    bool rule_value(int32_t at, Cell* out);
    void set_word(const Cell& word, const Cell& value) {
        word_reg() = word;
        tmp_reg() = value;
        word::set(&word_reg(), &tmp_reg());
    }

    // ---- states ----
    void enter();
    void leave();
    void push_state();
    void finish();
    void after_match() {
        if (command_on_top()) state_ = FINISH;
        else if (break_) {
            pos_ = tail();
            state_ = LEAVE;
        } else {
            state_ = match_ ? NEXT : FAILURE;
        }
    }
    void next_rule();
    void dispatch();
    void literal();
    void argument();
    void command_value();
    void failure();
    void keyword();
    void other_word(const Cell& w);
    bool literal_argument(const Cell& argument, Cell* out);
    void finish_end();

    // ---- helpers of keywords and commands ----
    void set_matched(bool m, State next = AFTER_MATCH) {
        match_ = m;
        event(words::match);
        if (next == AFTER_MATCH) after_match();
        else state_ = next;
    }
    void begin_command(int32_t code, int32_t arg, int32_t min, int32_t max, bool word_first = false) {
        push_code_ = code;
        push_arg_ = arg;
        push_min_ = min;
        push_max_ = max;
        push_word_ = word_first;
        state_ = PUSH_COMMAND;
    }
    void keep_value(const Cell& value, bool pick);
    void kw_collect();
    void kw_insert();
    bool kw_change();
    bool kw_remove();
    void kw_into();
    void kw_keep();
    void replace_range(int32_t start, int32_t end, const Cell& value, bool only);
    void remove_range(int32_t start, int32_t end);
    void datatype_rule();
    void integer_rule();
};

// ---- events, parens and values ----

void Engine::event(const Cell& word) {
    if (!traced_ || stopped_ || aborted_) return;
    Cell fn = callback_reg();
    Cell* saved_top = stack::top;
    stack::push(&fn);  // keeps the callback alive while it runs
    Cell* args = stack::top;
    stack::push(&word);
    logic::make_at(stack::push_raw(), match_);
    Cell* rules = stack::push(&rules_reg());
    rules->w1 = uint32_t(std::clamp(pos_, 0, tail()));
    stack::push(&input_reg());
    Cell* rs = stack::push(rule_stack);
    rs->w1 = uint32_t(guard_.rule_base);
    Cell copies[5];
    std::copy(args, args + 5, copies);  // pushing the call's cells below reads them
    stack::mark_func(&words::tag_parse_callback, fn.w1);
    interpreter::push_callback_cells(fn, copies, 5);
    Cell name = words::tag_parse_callback;
    interpreter::exec_function(&fn, interpreter::callback_context(fn, words::tag_lexer_callback.w1), &name, 2);
    stack::raise_pending();
    bool answer = !logic::false_q(stack::arguments);
    stack::unwind_func();
    stack::top = saved_top;
    if (!answer) stopped_ = true;
}

// Evaluates a paren; its value goes to out (when given). False when a
// non-local exit is pending.
bool Engine::eval_paren(const Cell& paren, Cell* out) {
    Cell* saved_top = stack::top;
    Cell* code = stack::push(&paren);
    interpreter::eval_block(code, false);
    if (stack::pending()) {
        aborted_ = true;
        return false;
    }
    if (out) *out = *(stack::top - 1);
    stack::top = saved_top;
    return true;
}

// The value of the rule cell at `at` for insert, change and keep: a paren's
// result, a word's value (unset raises no-value), the cell itself otherwise;
// a path raises parse-rule.
bool Engine::rule_value(int32_t at, Cell* out) {
    Cell c;
    rule_at(at, &c);
    switch (type_of(&c)) {
        case TYPE_PAREN: return eval_paren(c, out);
        case TYPE_WORD: case TYPE_GET_WORD: word::get(&c, out); return true;
        case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: fire_rule(&c);
        default: *out = c; return true;
    }
}

// ---- the machine ----

bool Engine::go() {
    for (;;) {
        if (stopped_) {
            logic::make_at(&result_reg(), match_);
            return true;
        }
        if (aborted_) return false;
        switch (int(state_)) {
            case ENTER: enter(); break;
            case LEAVE: leave(); break;
            case PUSH_COMMAND: push_state(); break;
            case FINISH: finish(); break;
            case AFTER_MATCH: after_match(); break;
            case DISPATCH: dispatch(); break;
            case LITERAL: literal(); break;
            case ARGUMENT: argument(); break;
            case FAILURE: failure(); break;
            case KEYWORD: keyword(); break;
            case END:
                finish_end();
                return !aborted_;
            case NEXT: next_rule(); break;
        }
    }
}

void Engine::enter() {
    Cell nothing;
    none::make_at(&nothing);
    push_frame(nothing, triple(pos_, index(), series_length(&input_reg())), rules_reg());
    rules_reg() = value_reg();
    pos_ = std::min(std::max(int32_t(rules_reg().w1), 0), tail()) - 1;
    match_ = true;
    event(words::push);
    state_ = NEXT;
}

void Engine::leave() {
    event(words::pop);
    if (depth() - guard_.rule_base <= 3) {
        state_ = END;
        return;
    }
    Cell where = frame(1);
    if (!match_) set_index(b_of(where));
    rules_reg() = frame(2);
    pos_ = a_of(where);
    drop_frame();
    after_match();
}

void Engine::push_state() {
    Cell first;
    if (push_word_) rule_at(pos_, &first);
    else first = triple(push_min_, push_max_, 1);
    push_command(push_code_, push_arg_, first);
    pos_++;
    event(words::push);
    state_ = ARGUMENT;
    if (!traced_) argument();
}

void Engine::next_rule() {
    from_command_ = false;
    int32_t t = tail();
    pos_ = std::min(pos_ + 1, t);
    if (pos_ >= t) {
        state_ = command_on_top() ? FINISH : LEAVE;
        return;
    }
    event(words::fetch);
    rule_at(pos_, &value_reg());
    state_ = DISPATCH;
    // Without a callback nothing can stop the run between a rule's fetch and
    // its dispatch, nor between a command's push and its argument: those
    // steps follow at once rather than through the machine's loop (each
    // ends by setting the next state, so the calls never nest deeper).
    if (!traced_) dispatch();
}

void Engine::failure() {
    if (depth() - guard_.rule_base >= 3) set_index(b_of(frame(1)));
    Cell c;
    for (int32_t i = pos_ + 1; rule_at(i, &c); i++) {
        if (word_is_q(&c, sym::bar)) {
            pos_ = i;
            match_ = true;
            state_ = NEXT;
            return;
        }
    }
    state_ = LEAVE;
}

void Engine::literal() {
    int32_t length = 0;
    bool m = match_literal(&input_reg(), &value_reg(), mode_, end_of_input(), &length);
    if (m) set_index(index() + length);
    set_matched(m);
}

// The cell after a command: its argument.
void Engine::argument() {
    int32_t code = top_code();
    if (!rule_at(pos_, &value_reg())) {
        if (const Cell* kw = keyword_of(code)) fire_end(kw);
        match_ = true;
        after_match();
        return;
    }
    if (word_q(&value_reg())) {
        from_command_ = true;
        state_ = KEYWORD;
        if (!traced_) keyword();
        return;
    }
    command_value();
}

// A command's argument value (not a word): sub-rules and rules with their own
// meaning run as rules; a literal under a repetition or to/thru runs in one loop.
void Engine::command_value() {
    int32_t code = top_code();
    switch (type_of(&value_reg())) {
        case TYPE_BLOCK: state_ = ENTER; return;
        case TYPE_INTEGER: case TYPE_PAREN: case TYPE_TYPESET: case TYPE_DATATYPE: state_ = DISPATCH; return;
        case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_SET_WORD: case TYPE_GET_WORD:
            state_ = DISPATCH;
            return;
        default: break;
    }
    if (code == C_REPEAT || code == C_WHILE) {
        Cell limits = frame(0);
        int32_t count = 0;
        bool m = repeat_literal(&input_reg(), &value_reg(), a_of(limits), b_of(limits), mode_, end_of_input(), &count);
        if (!m && a_of(limits) == 0) m = true;
        match_ = m;
        event(words::match);
        drop_frame();
        event(words::pop);
        after_match();
        return;
    }
    if (code == C_TO || code == C_THRU) {
        int32_t length = 0;
        int32_t found = search(&input_reg(), &value_reg(), mode_, end_of_input(), &length);
        if (found >= 0) set_index(code == C_THRU ? found + length : found);
        match_ = found >= 0;
        event(words::match);
        drop_frame();
        event(words::pop);
        after_match();
        return;
    }
    state_ = DISPATCH;
}

void Engine::dispatch() {
    Cell& v = value_reg();
    switch (type_of(&v)) {
        case TYPE_BLOCK: state_ = ENTER; return;
        case TYPE_WORD:
            from_command_ = false;
            state_ = KEYWORD;
            if (!traced_) keyword();
            return;
        case TYPE_DATATYPE: case TYPE_TYPESET: datatype_rule(); return;
        case TYPE_SET_WORD: {
            Cell here = input_reg();
            set_word(v, here);
            state_ = NEXT;
            return;
        }
        case TYPE_GET_WORD: {
            word::get(&v, &tmp_reg());
            if (!same_series_q(&tmp_reg(), &input_reg())) fire(ErrorCategory::script, "parse-invalid-ref", &v);
            set_index(std::clamp(int32_t(tmp_reg().w1), 0, series_length(&input_reg())));
            match_ = true;
            after_match();
            return;
        }
        case TYPE_INTEGER: integer_rule(); return;
        case TYPE_PAREN: {
            Cell paren = v;
            if (!eval_paren(paren, nullptr)) return;
            event(words::paren);
            int32_t t = tail();
            if (pos_ >= t) pos_ = t - 1;
            set_index(std::min(index(), series_length(&input_reg())));
            after_match();
            return;
        }
        case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: fire_rule(&v);
        default:
            state_ = LITERAL;
            if (!traced_) literal();
            return;
    }
}

void Engine::datatype_rule() {
    Kind k = kind();
    if (k == STRING_KIND) fire(ErrorCategory::script, "parse-unsupported");
    bool m = false;
    if (k == BINARY_KIND) {
        // On bytes the text at the index is scanned as source for one value:
        // its type is tested, and a match advances past the scanned text.
        if (!at_end()) {
            Cell input = input_reg();
            int32_t at = index();
            const uint8_t* bytes = memory::head_of(memory::buffer_of(input.w2)) + at;
            int32_t consumed = 0;
            // Scanning without loading copies the bytes first and allocates no series.
            int32_t type = lexer::scan(nullptr, bytes, end_of_input() - at, true, false, false, false, &consumed,
                                       nullptr, &input, nullptr);
            const Cell& v = value_reg();
            if (type > 0 && consumed > 0)
                m = type_of(&v) == TYPE_DATATYPE ? uint32_t(type) == v.w1 : typeset::has_q(&v, uint32_t(type));
            if (m) set_index(at + consumed);
        }
        set_matched(m);
        return;
    }
    if (!at_end()) {
        Cell element;
        element_at(&input_reg(), index(), &element);
        const Cell& v = value_reg();
        uint32_t t = type_of(&element);
        m = type_of(&v) == TYPE_DATATYPE ? t == v.w1 : typeset::has_q(&v, t);
        if (m) set_index(index() + 1);
    }
    set_matched(m);
}

void Engine::integer_rule() {
    Cell n = value_reg();
    int32_t low = integer::get_value(&n);
    if (low < 0) fire(ErrorCategory::script, "out-of-range", &n);
    Cell next;
    if (!rule_at(pos_ + 1, &next)) fire_rule(&n);
    bool range = false;
    int32_t high = low;
    Cell m = next;
    if (type_of(&m) == TYPE_WORD) {
        Cell got;
        word::get_any(&m, &got);
        if (type_of(&got) == TYPE_INTEGER) m = got;
    }
    if (type_of(&m) == TYPE_INTEGER) {
        range = true;
        high = integer::get_value(&m);
        Cell after;
        if (!rule_at(pos_ + 2, &after) || high < low) fire_rule(&n);
    }
    if (low == 0 && high == 0) {
        pos_ += range ? 2 : 1;  // the following rule is skipped without running
        match_ = true;
        after_match();
        return;
    }
    if (range) pos_++;
    Cell argument, value;
    if (rule_at(pos_ + 1, &argument) && literal_argument(argument, &value)) {
        int32_t count = 0;
        bool m = repeat_literal(&input_reg(), &value, low, high, mode_, end_of_input(), &count);
        pos_++;
        match_ = m || low == 0;
        after_match();
        return;
    }
    begin_command(C_REPEAT, 0, low, high);
}

// ---- keywords ----

void Engine::keyword() {
    Cell w = value_reg();
    const Keyword k = keyword_of_symbol(canonical(&w));
    Cell next;
    bool has_next = rule_at(pos_ + 1, &next);
    auto need_next = [&] {
        if (!has_next) fire_end(&w);
    };
    switch (k) {
        case KW_NOT_ONE:
        case KW_OTHER:  // only, pick and after outside the commands they belong to
            other_word(w);
            return;
        case KW_BAR:
            pos_ = tail();
            state_ = command_on_top() ? FINISH : LEAVE;
            return;
        case KW_SKIP: {
            bool m = !at_end();
            if (m) set_index(index() + 1);
            set_matched(m);
            return;
        }
        case KW_ANY: case KW_SOME: case KW_OPT: {
            need_next();
            const int32_t min = k == KW_SOME ? 1 : 0, max = k == KW_OPT ? 1 : -1;
            Cell value;
            if (literal_argument(next, &value)) {
                int32_t count = 0;
                bool m = repeat_literal(&input_reg(), &value, min, max, mode_, end_of_input(), &count);
                pos_++;
                match_ = m || min == 0;
                after_match();
            } else {
                begin_command(C_REPEAT, 0, min, max);
            }
            return;
        }
        case KW_TO: case KW_THRU: {
            Cell value;
            if (has_next && word_is_q(&next, sym::end)) {
                pos_++;
                set_index(end_of_input());
                set_matched(true);
            } else if (has_next && literal_argument(next, &value)) {
                int32_t length = 0;
                int32_t found = search(&input_reg(), &value, mode_, end_of_input(), &length);
                if (found >= 0) set_index(k == KW_THRU ? found + length : found);
                pos_++;
                match_ = found >= 0;
                after_match();
            } else {
                begin_command(k == KW_TO ? C_TO : C_THRU, 0, 0, 0);
            }
            return;
        }
        case KW_REMOVE:
            if (!kw_remove()) begin_command(C_REMOVE, 0, 0, 0);
            return;
        case KW_BREAK:
            break_ = true;
            set_matched(true, FINISH);
            return;
        case KW_FAIL: set_matched(false, FINISH); return;
        case KW_REJECT:
            break_ = true;
            set_matched(false, FINISH);
            return;
        case KW_KEEP: kw_keep(); return;
        case KW_AHEAD: begin_command(C_AHEAD, 0, 0, 0); return;
        case KW_WHILE: begin_command(C_WHILE, 0, 0, -1); return;
        case KW_NOT: begin_command(C_NOT, 0, 0, 0); return;
        case KW_INTO: kw_into(); return;
        case KW_INSERT: kw_insert(); return;
        case KW_CHANGE: kw_change(); return;
        case KW_END: set_matched(at_end()); return;
        case KW_IF: {
            if (!has_next || type_of(&next) != TYPE_PAREN) fire_end(&w);
            pos_++;
            Cell result;
            if (!eval_paren(next, &result)) return;
            set_matched(!logic::false_q(&result));
            return;
        }
        case KW_QUOTE:
            need_next();
            pos_++;
            value_reg() = next;
            state_ = LITERAL;
            return;
        case KW_CASE: {
            if (!has_next || !word_q(&next)) fire_end(&w);
            pos_++;
            Cell flag;
            word::get(&next, &flag);
            int32_t saved = mode_;
            mode_ = logic::false_q(&flag) ? COMP_EQUAL : COMP_STRICT_EQUAL;
            begin_command(C_CASE, 0, saved, 0);
            return;
        }
        case KW_SET: case KW_COPY: {
            Cell rule;
            if (!has_next || !word_q(&next) || !rule_at(pos_ + 2, &rule)) fire_end(&w);
            pos_++;
            begin_command(k == KW_SET ? C_SET : C_COPY, 0, 0, 0, true);
            return;
        }
        case KW_NONE: set_matched(true); return;
        case KW_COLLECT: kw_collect(); return;
    }
}

// A repetition's or to's argument that the command would match in one
// loop (text, a character or a bitset, given or named by a word that is
// not a keyword): its value goes to out, and the command runs at once
// without a frame of its own. Not while a callback follows the steps,
// which reports the frame's push and pop.
bool Engine::literal_argument(const Cell& argument, Cell* out) {
    if (traced_) return false;
    Cell value = argument;
    if (word_q(&value)) {
        if (keyword_q(canonical(&value))) return false;
        word::get_any(&argument, &value);
    }
    uint32_t t = type_of(&value);
    if (!(string::any_string_q(t) || t == TYPE_BINARY || t == TYPE_CHAR || t == TYPE_BITSET)) return false;
    *out = value;
    return true;
}

// Any other word stands for its value.
void Engine::other_word(const Cell& w) {
    Cell got;
    word::get_any(&w, &got);
    if (type_of(&got) == TYPE_UNSET) fire_rule(&w);
    bool after_command = from_command_ && command_on_top() && top_code() != C_COLLECT && top_code() != C_KEEP;
    value_reg() = got;
    if (after_command) {
        if (word::any_word_q(type_of(&got))) state_ = LITERAL;
        else command_value();
    } else if (from_command_) {
        if (type_of(&got) == TYPE_WORD) fire_rule(&got);
        command_value();
    } else {
        if (type_of(&got) == TYPE_WORD) fire_rule(&got);
        state_ = DISPATCH;
    }
}

// remove with a position word: the input from that position to the index
// goes at once. False when remove applies to the next rule instead.
bool Engine::kw_remove() {
    Cell next;
    if (!rule_at(pos_ + 1, &next)) fire_end(&words::remove);
    uint32_t t = type_of(&next);
    if (t == TYPE_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH) fire_rule(&next);
    if (t != TYPE_WORD && t != TYPE_GET_WORD) return false;
    Cell got;
    word::get_any(&next, &got);
    if (!same_series_q(&got, &input_reg())) return false;
    pos_++;
    int32_t from = std::clamp(int32_t(got.w1), 0, series_length(&input_reg()));
    int32_t at = index();
    if (from < at) {
        remove_range(from, at);
        set_index(from);
    }
    match_ = true;
    after_match();
    return true;
}

// change with a position word replaces at once; otherwise a command.
// False when a non-local exit is pending.
bool Engine::kw_change() {
    Cell w = value_reg();
    bool only = false;
    int32_t p = pos_ + 1;
    Cell c;
    if (rule_at(p, &c) && word_is_q(&c, sym::only)) {
        only = true;
        p++;
    }
    if (!rule_at(p, &c)) fire_rule(&w);
    if (type_of(&c) == TYPE_WORD) {
        Cell got;
        word::get_any(&c, &got);
        if (same_series_q(&got, &input_reg())) {
            if (!rule_at(p + 1, &c)) fire_rule(&w);
            Cell value;
            collector::Root keep(value);
            if (!rule_value(p + 1, &value)) return false;
            int32_t from = std::clamp(int32_t(got.w1), 0, series_length(&input_reg()));
            replace_range(from, index(), value, only);
            pos_ = p + 1;
            match_ = true;
            after_match();
            return true;
        }
    }
    pos_ = p - 1;
    begin_command(only ? C_CHANGE_ONLY : C_CHANGE, 0, 0, 0);
    return true;
}

void Engine::kw_insert() {
    Cell w = value_reg();
    bool only = false;
    int32_t p = pos_ + 1;
    Cell c;
    if (rule_at(p, &c) && word_is_q(&c, sym::only)) {
        only = true;
        p++;
    }
    if (!rule_at(p, &c)) fire_end(&w);
    int32_t at = index();
    if (type_of(&c) == TYPE_WORD || type_of(&c) == TYPE_GET_WORD) {
        Cell got;
        word::get_any(&c, &got);
        if (same_series_q(&got, &input_reg())) {
            if (!rule_at(p + 1, &c)) fire_rule(&w);
            at = std::clamp(int32_t(got.w1), 0, series_length(&input_reg()));
            p++;
        }
    }
    Cell value;
    collector::Root keep(value);
    if (!rule_value(p, &value)) return;
    int32_t before = series_length(&input_reg());
    Cell* series = stack::push(&input_reg());
    series->w1 = uint32_t(at);
    Cell* v = stack::push(&value);
    actions::call_insert(series, v, -1, only, 1, false);
    stack::top = series;
    int32_t added = series_length(&input_reg()) - before;
    if (at <= index()) set_index(index() + added);
    pos_ = p;
    state_ = NEXT;
}

void Engine::kw_into() {
    Cell w = value_reg();
    if (kind() != BLOCK_KIND) fire(ErrorCategory::script, "parse-block", &input_reg());
    Cell rule;
    if (!rule_at(pos_ + 1, &rule)) fire_end(&w);
    if (type_of(&rule) == TYPE_WORD) {
        Cell got;
        word::get_any(&rule, &got);
        rule = got;
    }
    if (type_of(&rule) != TYPE_BLOCK) fire_end(&w);
    pos_++;
    if (at_end()) {
        set_matched(false);
        return;
    }
    Cell element;
    element_at(&input_reg(), index(), &element);
    uint32_t t = type_of(&element);
    if (!series::any_block_q(t) && !string::any_string_q(t) && t != TYPE_BINARY) {
        set_matched(false);
        return;
    }
    value_reg() = rule;
    tmp_reg() = element;
    Cell first = triple(0, 0, 1);
    push_command(C_INTO, 0, first);
    check_stacks();
    block::append_cell(input_stack, &tmp_reg());
    input_reg() = tmp_reg();
    set_index(std::clamp(int32_t(input_reg().w1), 0, series_length(&input_reg())));
    event(words::push);
    state_ = ENTER;
}

void Engine::kw_keep() {
    if (collects_.empty()) fire(ErrorCategory::script, "parse-keep", &words::keep);
    Cell next;
    if (!rule_at(pos_ + 1, &next)) fire_end(&words::keep);
    int32_t arg = 0;
    if (word_is_q(&next, sym::pick)) {
        pos_++;
        arg = KEEP_PICK;
        if (!rule_at(pos_ + 1, &next)) fire_end(&words::keep);
    }
    if (type_of(&next) == TYPE_PAREN) {
        // The paren's value is kept.
        pos_++;
        Cell value;
        collector::Root keep(value);
        if (!eval_paren(next, &value)) return;
        keep_value(value, arg & KEEP_PICK);
        match_ = true;
        after_match();
        return;
    }
    begin_command(C_KEEP, arg, 0, 0);
}

void Engine::kw_collect() {
    Cell a, b;
    int32_t kind = COLLECT_PLAIN;
    bool has_a = rule_at(pos_ + 1, &a), has_b = rule_at(pos_ + 2, &b);
    if (has_a && has_b && word_q(&b) && (word_is_q(&a, sym::into) || word_is_q(&a, sym::after)))
        kind = word_is_q(&a, sym::into) ? COLLECT_INTO : COLLECT_AFTER;
    else if (has_a && has_b && word_q(&b) && word_is_q(&a, sym::set))
        kind = COLLECT_SET;
    Cell rule;
    if (!rule_at(pos_ + (kind == COLLECT_PLAIN ? 1 : 3), &rule)) fire_end(&words::collect);
    Collect entry{nullptr, kind};
    if (kind == COLLECT_INTO || kind == COLLECT_AFTER) {
        Cell target;
        word::get(&b, &target);
        uint32_t tt = type_of(&target);
        bool text_target = string::any_string_q(tt) || tt == TYPE_BINARY;
        bool fits = text_target ? this->kind() != BLOCK_KIND : series::any_block_q(tt) && this->kind() == BLOCK_KIND;
        if (!fits) fire(ErrorCategory::script, "parse-into-type");
        if (target.w2 == input_reg().w2) fire(ErrorCategory::script, "parse-into-bad");
        entry.target = stack::push(&target);
    } else {
        entry.target = block::push_only_star(8);
    }
    if (kind != COLLECT_PLAIN) pos_ += 2;
    collects_.push_back(entry);
    // With set, the frame's first cell is the word to set (the cell at the position).
    begin_command(C_COLLECT, kind, 0, 0, kind == COLLECT_SET);
}

// Appends a kept value to the innermost collect: into its block, or through
// the target series' insert (collect into, at its index, which moves on) or
// append (collect after).
void Engine::keep_value(const Cell& value, bool pick) {
    const Collect& c = collects_.back();
    Cell* target = c.target;
    Cell* v = stack::push(&value);
    auto one = [&](const Cell* item) {
        if (c.kind == COLLECT_INTO || c.kind == COLLECT_AFTER) {
            uint32_t tt = type_of(target);
            bool text_target = string::any_string_q(tt) || tt == TYPE_BINARY;
            if (text_target && series::any_block_q(type_of(item)))
                fire(ErrorCategory::script, "parse-into-type");
            Cell* series = stack::push(target);
            Cell* copy = stack::push(item);
            int32_t before = series_length(target);
            actions::call_insert(series, copy, -1, true, 1, c.kind == COLLECT_AFTER);
            stack::top = series;
            if (c.kind == COLLECT_INTO) target->w1 += uint32_t(series_length(target) - before);
        } else {
            block::append_cell(target, item);
        }
    };
    if (pick && series::series_type_q(type_of(v))) {
        int32_t n = series_length(v);
        for (int32_t i = std::max(int32_t(v->w1), 0); i < n; i++) {
            Cell* item = stack::push_raw();
            element_at(v, i, item);
            one(item);
            stack::top = item;
        }
    } else {
        one(v);
    }
    stack::top = v;
}

void Engine::remove_range(int32_t start, int32_t end) {
    if (end <= start) return;
    series::remove_range(&input_reg(), start, end - start);
}

// Replaces the input from start to end with the value (the change action);
// the index moves past the replacement.
void Engine::replace_range(int32_t start, int32_t end, const Cell& value, bool only) {
    int32_t before = series_length(&input_reg());
    Cell* series = stack::push(&input_reg());
    series->w1 = uint32_t(start);
    Cell* v = stack::push(&value);
    int32_t count = std::max(end - start, 0);
    actions::call_change(series, v, count, only, 1);
    stack::top = series;
    int32_t after = series_length(&input_reg());
    set_index(start + count + (after - before));
}

// ---- command completion ----

void Engine::finish() {
    if (!command_on_top()) {
        // break, fail or reject straight inside a block.
        if (break_) {
            pos_ = tail();
            state_ = LEAVE;
        } else {
            state_ = match_ ? NEXT : FAILURE;
        }
        return;
    }
    Cell first = frame(0);
    Cell where = frame(1);
    Cell cmd = frame(2);
    int32_t code = b_of(cmd), arg = c_of(cmd);
    int32_t start = b_of(where);
    int32_t i = index();
    switch (code) {
        case C_REPEAT: case C_WHILE: {
            int32_t min = a_of(first), max = b_of(first), count = c_of(first);
            int32_t length = series_length(&input_reg());
            if (break_) {
                // break ends the loop like a last matching round; reject makes
                // the whole repetition fail, whatever its minimum.
                break_ = false;
                if (match_) match_ = count >= min;
                break;
            }
            // A round that consumed nothing stops a repetition (it would
            // loop for ever); while goes on, as its rule may have changed
            // the input in place and moved back to look again.
            bool moved = code == C_WHILE || i != start || length < c_of(where);
            if (match_ && (max < 0 || count < max) && moved) {
                write_frame(0, triple(min, max, count + 1));
                write_frame(1, triple(a_of(where), i, length));
                pos_ = a_of(where);
                event(words::iterate);
                state_ = NEXT;
                return;
            }
            if (match_) match_ = count >= min;
            else match_ = count - 1 >= min || min == 0;
            break;
        }
        case C_TO: case C_THRU:
            if (!match_) {
                if (start >= end_of_input()) break;
                set_index(start + 1);
                write_frame(1, triple(a_of(where), start + 1, series_length(&input_reg())));
                pos_ = a_of(where);
                match_ = true;
                state_ = NEXT;
                return;
            }
            if (code == C_TO) set_index(start);
            break;
        case C_COPY:
            if (match_) {
                Cell* copy = stack::push_raw();
                series::copy_range(&input_reg(), start, std::max(i - start, 0), copy);
                set_word(frame(0), *copy);  // read again: copying may have collected
                stack::top = copy;
            }
            break;
        case C_SET:
            if (match_) {
                Cell* value = stack::push_raw();
                if (i > start) element_at(&input_reg(), start, value);
                else none::make_at(value);
                set_word(first, *value);
                stack::top = value;
            }
            break;
        case C_NOT: match_ = !match_; break;
        case C_INTO: {
            bool ok = match_ && i >= series_length(&input_reg());
            block::truncate_at(input_stack, length_of(input_stack) - 1);
            input_reg() = *cell_at(input_stack, length_of(input_stack) - 1);
            set_index(start + (ok ? 1 : 0));
            match_ = ok;
            break;
        }
        case C_REMOVE:
            if (match_) {
                remove_range(start, i);
                set_index(std::min(start, i));
            }
            break;
        case C_COLLECT: {
            Collect c = collects_.back();
            collects_.pop_back();
            if (c.kind == COLLECT_SET) {
                set_word(first, *c.target);
            } else if (c.kind == COLLECT_PLAIN) {
                if (collects_.empty()) result_reg() = *c.target;
                else keep_value(*c.target, false);
            }
            (void)arg;
            stack::top = c.target;
            break;
        }
        case C_KEEP:
            if (match_) {
                Cell* value = stack::push_raw();
                int32_t n = std::max(i - start, 0);
                if (n == 1 && !(arg & KEEP_OF_COPY)) element_at(&input_reg(), start, value);
                else series::copy_range(&input_reg(), start, n, value);
                keep_value(*value, arg & KEEP_PICK);
                stack::top = value;
            }
            break;
        case C_AHEAD: set_index(start); break;
        case C_CHANGE: case C_CHANGE_ONLY: {
            if (!rule_at(pos_ + 1, &tmp_reg())) fire_rule(&words::change);
            if (match_) {
                Cell value;
                collector::Root keep(value);
                if (!rule_value(pos_ + 1, &value)) return;
                replace_range(start, i, value, code == C_CHANGE_ONLY);
            }
            pos_++;
            break;
        }
        case C_CASE: mode_ = a_of(first); break;
        default: break;
    }
    drop_frame();
    event(words::pop);
    // A keep applied to a copy keeps the copied series.
    if (code == C_COPY && command_on_top() && top_code() == C_KEEP) {
        Cell below = frame(2);
        write_frame(2, pair(b_of(below), c_of(below) | KEEP_OF_COPY));
    }
    after_match();
}

void Engine::finish_end() {
    if (pos_ < tail() && !break_) match_ = false;
    break_ = false;
    if (match_ && !at_end()) match_ = false;
    event(words::end);
    if (type_of(&result_reg()) != TYPE_BLOCK) logic::make_at(&result_reg(), match_);
}

}  // namespace

void init() {
    input_stack = block::make_in(&runtime::root, 8);
    rule_stack = block::make_in(&runtime::root, 100);
    const std::pair<int32_t, Keyword> keywords[] = {
        {sym::any, KW_ANY},         {sym::break_, KW_BREAK},   {sym::copy, KW_COPY},     {sym::end, KW_END},
        {sym::fail, KW_FAIL},       {sym::into, KW_INTO},      {sym::opt, KW_OPT},       {sym::not_, KW_NOT},
        {sym::quote, KW_QUOTE},     {sym::case_, KW_CASE},     {sym::reject, KW_REJECT}, {sym::set, KW_SET},
        {sym::skip, KW_SKIP},       {sym::some, KW_SOME},      {sym::thru, KW_THRU},     {sym::to, KW_TO},
        {sym::none, KW_NONE},       {sym::bar, KW_BAR},        {sym::if_, KW_IF},        {sym::remove, KW_REMOVE},
        {sym::while_, KW_WHILE},    {sym::insert, KW_INSERT},  {sym::only, KW_OTHER},    {sym::collect, KW_COLLECT},
        {sym::keep, KW_KEEP},       {sym::pick, KW_OTHER},     {sym::ahead, KW_AHEAD},   {sym::after, KW_OTHER},
        {canonical(&words::change), KW_CHANGE}};
    keyword_codes.assign(keyword_codes.size(), KW_NOT_ONE);
    for (const auto& [symbol_id, code] : keywords) {
        size_t id = size_t(symbol::resolve(symbol_id));
        if (keyword_codes.size() <= id) keyword_codes.resize(id + 1, KW_NOT_ONE);
        keyword_codes[id] = code;
    }
}

Cell* run(const Cell* input, const Cell* rules, int32_t mode, int32_t limit, const Cell* callback) {
    Cell* out = stack::push_raw();
    none::make_at(out);
    Engine engine(input, rules, mode, limit, callback);
    if (!engine.go()) return out;
    *out = engine.result();
    return out;
}

}  // namespace zuv::parse

// ---- the native ----

namespace zuv::natives {

using namespace support;

// parse input [binary! any-block! any-string!] rules [block!] /case
//       /part length [number! series!] /trace callback [function!]
void parse_star(bool check, const int32_t* r) {
    Cell* input = stack::arguments;
    Cell* rules = input + 1;
    if (check) {
        constexpr uint8_t INPUT[] = {TYPE_BINARY, TYPE_BLOCK, TYPE_PAREN, TYPE_HASH, TYPE_PATH, TYPE_LIT_PATH,
                                     TYPE_SET_PATH, TYPE_GET_PATH, TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG,
                                     TYPE_EMAIL, TYPE_REF};
        constexpr uint8_t RULES[] = {TYPE_BLOCK};
        constexpr uint8_t FUNCTION[] = {TYPE_FUNCTION};
        check_argument(0, INPUT);
        check_argument(1, RULES);
        check_at(r[2], 6, FUNCTION);
    }
    int32_t mode = used(r, 0) ? COMP_STRICT_EQUAL : COMP_EQUAL;
    int32_t total = parse::series_length(input);
    int32_t head = std::clamp(int32_t(input->w1), 0, total);
    input->w1 = uint32_t(head);
    int32_t limit = -1;
    if (used(r, 1)) {
        Cell* part = refinement_arg(r, 1);
        int64_t at;
        if (type_of(part) == TYPE_INTEGER || type_of(part) == TYPE_FLOAT) {
            at = int64_t(head) + rt_support::float_to_integer(part);
        } else {
            if (type_of(part) != type_of(input) || part->w2 != input->w2) {
                Cell word = word::from_c_string("part");
                fire(ErrorCategory::script, "invalid-refine-arg", &word, part);
            }
            at = int32_t(part->w1);
        }
        if (at < 1) {
            logic::make_at(input, total - head == 0);
            return;
        }
        limit = int32_t(std::min<int64_t>(at, total));
    }
    if (block::zs_length_q(rules) <= 0) {
        logic::make_at(input, head >= (limit >= 0 ? limit : total));
        return;
    }
    Cell* callback = used(r, 2) ? refinement_arg(r, 2) : nullptr;
    Cell* result = parse::run(input, rules, mode, limit, callback);
    if (stack::pending()) return;
    copy_cell(result, stack::arguments);
    stack::top = stack::arguments + 1;
}

}  // namespace zuv::natives
