#include "evaluator/backtrace.hpp"

#include <algorithm>

#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/words.hpp"

namespace zuv::stack {

namespace {

// The context a frame's naming word was bound in; a frame named `self` holds
// a plain cell series there, and an unbound word has none: both read globally.
Node word_context_of(const Frame& f) {
    if (!f.word_context || (self_symbol && f.symbol() == self_symbol)) return _context::global;
    return f.word_context;
}

bool names_function_q(const Frame& f) {
    Node ctx = word_context_of(f);
    int32_t index = _context::find_word(ctx, int32_t(f.symbol()), true);
    if (index < 0) return false;
    const Cell* value = _context::value_slot(ctx, index);
    return value && type_of(value) == TYPE_FUNCTION;
}

// The console's object, rooted so that the collector keeps and renumbers it.
Cell report_base{};

// Visits the frames below upper, oldest first, from just above the innermost
// call of a function of the console (from the bottom when there is none).
template <class Visit>
void for_each_user_call(const Frame* upper, Visit&& visit) {
    int32_t n = std::min(int32_t(upper - frames_bottom), MAX_FRAMES);
    int32_t first = 0;
    if (type_of(&report_base) == TYPE_OBJECT)
        for (int32_t i = 0; i < n; ++i)
            if (frames_bottom[i].word_context == report_base.w1) first = i + 1;
    for (int32_t i = first; i < n; ++i)
        if (!hidden_q(frames_bottom + i)) visit(frames_bottom[i]);
}

}  // namespace

void set_report_base(const Cell* console) {
    static bool rooted = false;
    if (!rooted) collector::add_root(&report_base);
    rooted = true;
    report_base = *console;
}

Cell caller_word() {
    CallerWord w = get_caller_word();
    if (!w.symbol) return words::tag_not_found;
    Frame f{};
    f.header = w.symbol << 8;
    f.word_context = w.context;
    Node ctx = word_context_of(f);
    // Errors raised in a loop name one call again and again: the index last
    // found is kept while its context has the same words and no collection
    // (which may free the context and reuse its node) has run.
    static struct {
        Node ctx = 0;
        uint32_t symbol = 0, cycles = ~0u;
        int32_t words = -1, index = -1;
    } last;
    int32_t words = _context::word_count(ctx);
    if (last.ctx != ctx || last.symbol != w.symbol || last.cycles != collector::series_cycles || last.words != words)
        last = {ctx, w.symbol, collector::series_cycles, words, _context::find_word(ctx, int32_t(w.symbol), false)};
    if (last.index < 0) return word::make_global(int32_t(w.symbol));
    // As word_for_symbol gives it: the entry, with the spelling the frame names.
    Cell word = *_context::get_word_cell(ctx, last.index);
    word.w1 = ctx;  // the entry of a shared function word table names the first context
    word.w2 = w.symbol;
    return word;
}

void collect_calls(const Cell* block) {
    for_each_call_newest_first([&](const Frame& f) {
        Node ctx = f.func_context ? f.func_context : _context::global;
        Cell word = _context::word_for_symbol(ctx, int32_t(f.symbol()));
        block::append_cell(block, &word);
        Cell index;
        integer::make_at(cell::begin(&index), int32_t(f.saved_args));
        block::append_cell(block, &index);
    });
}

void collect_call_words(int32_t level, const Cell* block, const Frame* upper) {
    for_each_user_call(upper, [&](const Frame& f) {
        if (level > 1 || names_function_q(f)) {
            Cell word = word::make_global(int32_t(f.symbol()));
            block::append_cell(block, &word);
        }
    });
}

int32_t form_call_words(int32_t level, int32_t position, Cell* string, int32_t limit) {
    if (position < 0 || position > MAX_FRAMES) return limit;
    for_each_user_call(frame_at_position(position), [&](const Frame& f) {
        if (limit <= 0 || !(level > 1 || names_function_q(f))) return;
        Cell word{TYPE_WORD, _context::global, f.symbol(), uint32_t(-1)};  // forming reads the symbol only
        limit = word::form(&word, string, nullptr, limit);
        string::append_char(string, ' ');
        --limit;
    });
    return limit;
}

}  // namespace zuv::stack
