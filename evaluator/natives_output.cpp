// `print` and `prin`: text to the output hooks.
//
// A block is reduced into the print scratch block rather than into a new
// block per call. The scratch's head marks where the current print's values
// begin: a print that runs while another one's block is being reduced moves
// the head to the tail, appends its own values behind the outer ones, and
// puts tail and head back when it is done.
#include <climits>

#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_eval.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/memory.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/throw.hpp"

namespace zuv::natives {

int32_t last_newline = 0;

namespace {

// The scratch loses what this print appended and gets back the head it had.
void cut_back_scratch(int32_t saved_head) {
    block::truncate_at(print_scratch, int32_t(print_scratch->w1));
    print_scratch->w1 = uint32_t(saved_head);
}

// A new string on the data stack holding the value formed.
Cell* form_pushed(const Cell* value) {
    Cell v = *value;
    Cell* text = string::zs_make_at(cell::begin(stack::push_raw()), 16);
    actions::call_form(&v, text, nullptr, INT_MAX);
    return text;
}

// The routine the library reads the flag through.
routines::Value last_lf_q(const routines::Value*, int32_t) {
    routines::Value v;
    v.i = last_newline;
    return v;
}

void print_line(bool new_line) {
    Cell* value = stack::arguments;
    switch (type_of(value)) {
        case TYPE_BLOCK: {
            int32_t saved_head = int32_t(print_scratch->w1);
            print_scratch->w1 = uint32_t(memory::length_of(memory::buffer_of(print_scratch->w2)));
            Cell* reduced = stack::push(print_scratch);
            bool done;
            try {
                done = reduce_into(value, Target{reduced, true, false});
                if (done) output_hooks::print_value(form_pushed(reduced), new_line);
            } catch (const Throw&) {
                cut_back_scratch(saved_head);
                throw;
            }
            cut_back_scratch(saved_head);
            if (!done) return;  // a non-local exit travels on
            break;
        }
        case TYPE_STRING: {
            int32_t length = memory::length_of(memory::buffer_of(value->w2));
            if (int32_t(value->w1) > length) value->w1 = uint32_t(length);
            output_hooks::print_value(value, new_line);
            break;
        }
        default: output_hooks::print_value(form_pushed(value), new_line); break;
    }
    last_newline = new_line ? 1 : 0;
    unset::make_at(stack::arguments);
}

}  // namespace

// print value
void print_star(bool, const int32_t*) { print_line(true); }

// prin value
void prin_star(bool, const int32_t*) { print_line(false); }

void register_output_routines() { routines::add("last-lf?", last_lf_q); }

}  // namespace zuv::natives
