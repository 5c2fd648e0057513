// The action entry functions: one per action, run by `action!` values.
//
// Each reads the call's cells from `stack::arguments` (cell 0 is the first
// argument and the result), turns its refinement words into the slot
// function's arguments, finds the slot of the first argument's datatype and
// calls it. A refinement with an argument becomes the address of that
// argument, or the cell just below `arguments` when absent (slots test
// presence by comparing with the first argument's address); one without
// becomes a flag.
//
// The slot is looked up before anything else, so that an unsupported
// datatype raises expect-arg before a value is changed or read as a series.
#include <climits>

#include "evaluator/actions.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"

namespace zuv::actions {

namespace {

constexpr int32_t ABSENT = -1;

inline Cell* args() { return stack::arguments; }
// The argument cell of a refinement word (the cell below `arguments` when absent).
inline Cell* ref_cell(int32_t position) { return stack::arguments + position; }
inline bool flag(int32_t word) { return word != ABSENT; }
// A slot that leaves an exit pending (a callback's throw, an error raised as
// pending) has no result: the stacks are the receiver's already.
inline void result(const Cell* value) {
    if (!stack::pending()) [[likely]]
        stack::set_last(value);
}

// script invalid-refine-arg for a /part argument, raised as pending: the
// entry returns at once.
void raise_invalid_part_arg(const Cell* part) {
    Cell word = word::from_c_string("part");
    raise(ErrorCategory::script, "invalid-refine-arg", &word, part);
}

// Index of a series value clipped to its tail.
int32_t clipped_index(Cell* v) {
    int32_t total = series::total_length(v);
    if (int32_t(v->w1) > total) v->w1 = uint32_t(total);
    return int32_t(v->w1);
}

bool insertable_series_q(uint32_t type) {
    switch (type) {
        case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_LIT_PATH: case TYPE_BLOCK:
        case TYPE_PAREN: case TYPE_HASH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG:
        case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR: case TYPE_IMAGE: case TYPE_MAP:
            return true;
        default: return false;
    }
}

// The /part of append and insert, applied to the value being inserted:
// false when the call ends with nothing inserted (or an error was raised as
// pending), else the count. A negative
// count takes the elements before the value, whose cell is moved back to them.
bool normalize_insert_part(Cell* value, const Cell* part, int32_t& count) {
    uint32_t type = type_of(value);
    if (!insertable_series_q(type) || value->w2 == 0) return raise(ErrorCategory::script, "invalid-part", part), false;
    int32_t index = clipped_index(value);
    if (type_of(part) == TYPE_INTEGER) {
        count = integer::get_value(part);
    } else {
        if (type_of(part) != type || part->w2 != value->w2) return raise_invalid_part_arg(part), false;
        Cell end = *part;
        count = clipped_index(&end) - index;
    }
    if (count > 0) return true;
    if (count == 0 || index == 0) return false;
    int32_t start = index + count < 0 ? 0 : index + count;  // no overflow: index >= 0
    count = index - start;
    value->w1 = uint32_t(start);
    return true;
}

// The /dup count, 1 without it; false when it is 0 or less.
bool dup_count(int32_t dup, int32_t& count) {
    count = flag(dup) ? integer::get_value(ref_cell(dup)) : 1;
    return count > 0;
}

void insert_or_append(int32_t part, int32_t only, int32_t dup, bool append) {
    auto slot = append ? get_action_of_first<Act::append>() : get_action_of_first<Act::insert>();
    Cell* series = args();
    // insert adds at the position: past the tail it adds at the tail.
    if (!append && type_of(series) != TYPE_PORT && series::series_type_q(type_of(series))) clipped_index(series);
    int32_t count = -1, dups;
    if (flag(part) && !normalize_insert_part(series + 1, ref_cell(part), count)) return;
    if (!dup_count(dup, dups)) return;
    slot(series, series + 1, count, flag(only), dups, append);
}

// form and mold: the output string is pushed above the arguments (so that
// the /part argument the slot receives still holds the limit), filled by the
// slot, cut to the limit and copied into the result cell.
template <class Fill>
void form_or_mold(int32_t part, Fill&& fill) {
    int32_t limit = INT_MAX;
    if (flag(part)) {
        limit = integer::get_value(ref_cell(part));
        if (limit <= 0) {
            string::zs_make_at(cell::begin(args()), 1);
            return;
        }
    }
    Cell* out = string::zs_make_at(cell::begin(stack::push_raw()), 16);
    fill(out, ref_cell(part), limit);
    if (flag(part)) string::truncate_to(string::buffer(out), limit);
    result(out);
}

// make and to: a datatype! names the type made; any other value is a
// prototype of its own type.
template <Act A>
void make_or_to() {
    Cell* proto = args();
    uint32_t type = type_of(proto) == TYPE_DATATYPE ? proto->w1 : type_of(proto);
    auto slot = get_action<A>(type, proto);
    result(slot(proto, proto + 1, int32_t(type)));
}

template <Act A>
inline void stack_action() {
    get_action_of_first<A>()();
}

}  // namespace

// ---- 1-7 ----

void make_star() { make_or_to<Act::make>(); }

void random_star(int32_t seed, int32_t secure, int32_t only) {
    get_action_of_first<Act::random>()(args(), flag(seed), flag(secure), flag(only));
}

void reflect_star() {
    auto slot = get_action_of_first<Act::reflect>();
    slot(args(), int32_t(args()[1].w2));  // the field word's symbol
}

void to_star() { make_or_to<Act::to>(); }

void form_star(int32_t part) {
    auto slot = get_action_of_first<Act::form>();
    form_or_mold(part, [&](Cell* out, Cell* arg, int32_t limit) { slot(args(), out, arg, limit); });
}

void mold_star(int32_t only, int32_t all, int32_t flat, int32_t part) {
    auto slot = get_action_of_first<Act::mold>();
    form_or_mold(part, [&](Cell* out, Cell* arg, int32_t limit) {
        slot(args(), out, flag(only), flag(all), flag(flat), arg, limit, 0);
    });
}

void eval_path_star(int32_t set) {
    // A set flag of 0 (or an absent refinement word) reads.
    Cell* value = (set != 0 && set != ABSENT) ? args() + 2 : nullptr;
    result(call_eval_path(args(), args() + 1, value, nullptr, nullptr, nullptr, -1, false, false, true, false));
}

// ---- 10-24: math and logic ----

void absolute_star() { stack_action<Act::absolute>(); }
void add_star() { stack_action<Act::add>(); }
void divide_star() { stack_action<Act::divide>(); }
void multiply_star() { stack_action<Act::multiply>(); }
void negate_star() { get_action_of_first<Act::negate>()(args()); }
void power_star() { stack_action<Act::power>(); }
void remainder_star() { stack_action<Act::remainder>(); }

void round_star(int32_t to, int32_t even, int32_t down, int32_t half_down, int32_t floor, int32_t ceiling,
                int32_t half_ceiling) {
    get_action_of_first<Act::round>()(args(), ref_cell(to), flag(even), flag(down), flag(half_down), flag(floor),
                                      flag(ceiling), flag(half_ceiling));
}

void subtract_star() { stack_action<Act::subtract>(); }
void even_q_star() { logic::box(get_action_of_first<Act::even_q>()(args())); }
void odd_q_star() { logic::box(get_action_of_first<Act::odd_q>()(args())); }
void and_t_star() { stack_action<Act::and_t>(); }
void complement_star() { result(get_action_of_first<Act::complement>()(args())); }
void or_t_star() { stack_action<Act::or_t>(); }
void xor_t_star() { stack_action<Act::xor_t>(); }

// ---- 25-51: series ----

void append_star(int32_t part, int32_t only, int32_t dup) { insert_or_append(part, only, dup, true); }
void at_star() { stack_action<Act::at>(); }
void back_star() { stack_action<Act::back>(); }

void change_star(int32_t part, int32_t only, int32_t dup) {
    auto slot = get_action_of_first<Act::change>();
    Cell* series = args();
    Cell original = *series;
    uint32_t type = type_of(series);
    bool positional = type != TYPE_PORT && type != TYPE_IMAGE;  // ports and images keep their index
    if (positional && series::series_type_q(type)) clipped_index(series);
    int32_t count = -1;
    if (flag(part)) {
        const Cell* arg = ref_cell(part);
        if (type_of(arg) == TYPE_INTEGER) {
            count = integer::get_value(arg);
        } else {
            if (!positional || type_of(arg) != type || arg->w2 != series->w2) return raise_invalid_part_arg(arg);
            Cell end = *arg;
            count = clipped_index(&end) - int32_t(series->w1);
        }
        if (count < 0) {
            if (!positional) {
                count = 0;
            } else {
                int32_t index = int32_t(series->w1);
                int32_t start = index + count < 0 ? 0 : index + count;
                count = index - start;
                series->w1 = uint32_t(start);
            }
        }
    }
    int32_t dups;
    if (!dup_count(dup, dups)) {
        *series = original;  // the series is the result, unchanged
        return;
    }
    slot(series, series + 1, count, flag(only), dups);
}

void clear_star() { get_action_of_first<Act::clear>()(args()); }

void copy_star(int32_t part, int32_t deep, int32_t types) {
    auto slot = get_action_of_first<Act::copy>();
    if (flag(types)) {
        uint32_t kind = type_of(ref_cell(types));
        // `kind` is word 5 of copy's spec: value /part length /deep /types kind.
        if (kind != TYPE_DATATYPE && kind != TYPE_TYPESET) rt_support::fire_expect_arg(kind, 5);
    }
    Cell* destination = cell::begin(stack::push_raw());
    result(slot(args(), destination, ref_cell(part), flag(deep), ref_cell(types)));
}

void find_star(int32_t part, int32_t only, int32_t case_q, int32_t same, int32_t any, int32_t with, int32_t skip,
               int32_t last, int32_t reverse, int32_t tail, int32_t match) {
    auto slot = get_action_of_first<Act::find>();
    result(slot(args(), args() + 1, ref_cell(part), flag(only), flag(case_q), flag(same), flag(any), ref_cell(with),
                ref_cell(skip), flag(last), flag(reverse), flag(tail), flag(match)));
}

void head_star() { stack_action<Act::head>(); }
void head_q_star() { stack_action<Act::head_q>(); }
void index_q_star() { stack_action<Act::index_q>(); }
void insert_star(int32_t part, int32_t only, int32_t dup) { insert_or_append(part, only, dup, false); }

void length_q_star() {
    int32_t n = get_action_of_first<Act::length_q>()(args());
    if (n == -1) none::box();
    else integer::box(n);
}

void move_star(int32_t part) { result(get_action_of_first<Act::move>()(args(), args() + 1, ref_cell(part))); }
void next_star() { stack_action<Act::next>(); }

void pick_star() {
    auto slot = get_action_of_first<Act::pick>();
    result(slot(args(), index_argument(), args() + 1));
}

void poke_star() {
    auto slot = get_action_of_first<Act::poke>();
    slot(args(), index_argument(), args() + 2, args() + 1);
    result(args() + 2);  // poke answers the new value
}

void put_star(int32_t case_q) {
    result(get_action_of_first<Act::put>()(args(), args() + 1, args() + 2, flag(case_q)));
}

void remove_star(int32_t part, int32_t key) {
    get_action_of_first<Act::remove>()(args(), flag(part) ? ref_cell(part) : nullptr, ref_cell(key));
}

void reverse_star(int32_t part, int32_t skip) {
    get_action_of_first<Act::reverse>()(args(), ref_cell(part), ref_cell(skip));
}

void select_star(int32_t part, int32_t only, int32_t case_q, int32_t same, int32_t any, int32_t with, int32_t skip,
                 int32_t last, int32_t reverse) {
    auto slot = get_action_of_first<Act::select>();
    result(slot(args(), args() + 1, ref_cell(part), flag(only), flag(case_q), flag(same), flag(any), ref_cell(with),
                ref_cell(skip), flag(last), flag(reverse)));
}

void sort_star(int32_t case_q, int32_t skip, int32_t compare, int32_t part, int32_t all, int32_t reverse,
               int32_t stable) {
    auto slot = get_action_of_first<Act::sort>();
    result(slot(args(), flag(case_q), ref_cell(skip), ref_cell(compare), ref_cell(part), flag(all), flag(reverse),
                flag(stable)));
}

void skip_star() { stack_action<Act::skip>(); }
void swap_star() { get_action_of_first<Act::swap>()(args(), args() + 1); }
void tail_star() { stack_action<Act::tail>(); }
void tail_q_star() { stack_action<Act::tail_q>(); }

void take_star(int32_t part, int32_t deep, int32_t last) {
    result(get_action_of_first<Act::take>()(args(), ref_cell(part), flag(deep), flag(last)));
}

void trim_star(int32_t head, int32_t tail, int32_t auto_, int32_t lines, int32_t all, int32_t with) {
    get_action_of_first<Act::trim>()(args(), flag(head), flag(tail), flag(auto_), flag(lines), flag(all),
                                     ref_cell(with));
}

// ---- 52-62: ports and files ----

void create_star() { result(get_action_of_first<Act::create>()(args())); }
void close_star() { result(get_action_of_first<Act::close>()(args())); }
void delete_star() { result(get_action_of_first<Act::delete_>()(args())); }

void modify_star(int32_t case_q) {
    auto slot = get_action_of_first<Act::modify>();
    Cell target = *args();
    slot(args(), args() + 1, args() + 2, flag(case_q));
    result(&target);  // modify answers its target
}

void open_star(int32_t new_, int32_t read, int32_t write, int32_t seek, int32_t allow) {
    result(get_action_of_first<Act::open>()(args(), flag(new_), flag(read), flag(write), flag(seek), ref_cell(allow)));
}

void open_q_star() { result(get_action_of_first<Act::open_q>()(args())); }
void query_star() { result(get_action_of_first<Act::query>()(args())); }

void read_star(int32_t part, int32_t seek, int32_t binary, int32_t lines, int32_t info, int32_t as) {
    result(get_action_of_first<Act::read>()(args(), ref_cell(part), ref_cell(seek), flag(binary), flag(lines),
                                            flag(info), ref_cell(as)));
}

void rename_star() { result(get_action_of_first<Act::rename>()(args(), args() + 1)); }
void update_star() { result(get_action_of_first<Act::update>()(args())); }

void write_star(int32_t binary, int32_t lines, int32_t info, int32_t append, int32_t part, int32_t seek,
                int32_t allow, int32_t as) {
    result(get_action_of_first<Act::write>()(args(), args() + 1, flag(binary), flag(lines), flag(info), flag(append),
                                             ref_cell(part), ref_cell(seek), ref_cell(allow), ref_cell(as)));
}

}  // namespace zuv::actions
