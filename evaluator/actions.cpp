// Action dispatch: the entry table, the slot lookups with their errors, the
// port redirection, and the comparison entry.
#include "evaluator/actions.hpp"

#include <vector>

#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/fire.hpp"
#include "runtime/runtime.hpp"

namespace zuv::actions {

EntryRecord entry_table[ACTION_SLOT_COUNT];

namespace {

// The port actor tables, by 1-based index (a handle's word 2).
std::vector<const AnyFn*>& port_actor_tables() {
    static std::vector<const AnyFn*> tables;
    return tables;
}

// The row of a type id read from a value: ids outside the table name no row.
inline AnyFn slot_of(uint32_t type, int32_t k) {
    return type < TYPE_TOTAL ? datatype::action_table[type][k - 1] : nullptr;
}

// A port's actor field (its third value) when it is a handle! naming a
// registered table: that table, else null.
const AnyFn* port_actor_table(const Cell* port) {
    Node ctx = port->w1;
    if (!ctx) return nullptr;
    const Cell* actor = _context::value_slot(ctx, 2);
    if (!actor || type_of(actor) != TYPE_HANDLE) return nullptr;
    uint32_t index = actor->w2;
    auto& tables = port_actor_tables();
    return index >= 1 && index <= tables.size() ? tables[index - 1] : nullptr;
}

}  // namespace

// ---- the entry table ----

void register_entries(const EntryRecord* list, int32_t count) {
    for (int32_t i = 0; i < count && i < ACTION_SLOT_COUNT; i++) entry_table[i] = list[i];
}

void init() {
    // In action-number order; number 8 has no entry and compare (9) is not
    // a stack entry.
    const EntryRecord list[] = {
        entry<&make_star>(),       entry<&random_star>(),   entry<&reflect_star>(),   entry<&to_star>(),
        entry<&form_star>(),       entry<&mold_star>(),     entry<&eval_path_star>(), {nullptr, 0},
        {reinterpret_cast<AnyFn>(&compare_star), -1},
        entry<&absolute_star>(),   entry<&add_star>(),      entry<&divide_star>(),    entry<&multiply_star>(),
        entry<&negate_star>(),     entry<&power_star>(),    entry<&remainder_star>(), entry<&round_star>(),
        entry<&subtract_star>(),   entry<&even_q_star>(),   entry<&odd_q_star>(),     entry<&and_t_star>(),
        entry<&complement_star>(), entry<&or_t_star>(),     entry<&xor_t_star>(),     entry<&append_star>(),
        entry<&at_star>(),         entry<&back_star>(),     entry<&change_star>(),    entry<&clear_star>(),
        entry<&copy_star>(),       entry<&find_star>(),     entry<&head_star>(),      entry<&head_q_star>(),
        entry<&index_q_star>(),    entry<&insert_star>(),   entry<&length_q_star>(),  entry<&move_star>(),
        entry<&next_star>(),       entry<&pick_star>(),     entry<&poke_star>(),      entry<&put_star>(),
        entry<&remove_star>(),     entry<&reverse_star>(),  entry<&select_star>(),    entry<&sort_star>(),
        entry<&skip_star>(),       entry<&swap_star>(),     entry<&tail_star>(),      entry<&tail_q_star>(),
        entry<&take_star>(),       entry<&trim_star>(),     entry<&create_star>(),    entry<&close_star>(),
        entry<&delete_star>(),     entry<&modify_star>(),   entry<&open_star>(),      entry<&open_q_star>(),
        entry<&query_star>(),      entry<&read_star>(),     entry<&rename_star>(),    entry<&update_star>(),
        entry<&write_star>(),
    };
    static_assert(sizeof list / sizeof list[0] == ACTION_SLOT_COUNT, "one entry per action number");
    register_entries(list, ACTION_SLOT_COUNT);
}

int32_t register_port_actor_table(const AnyFn* table) {
    port_actor_tables().push_back(table);
    return int32_t(port_actor_tables().size());
}

// ---- lookups ----

AnyFn get_action(uint32_t type, const Cell* value, int32_t k) {
    if (value && type_of(value) == TYPE_PORT && k >= 25) {
        if (const AnyFn* table = port_actor_table(value)) {
            AnyFn fn = table[k - 25];
            if (!fn) fire(ErrorCategory::access, "no-port-action");
            return fn;
        }
    }
    AnyFn fn = slot_of(type, k);
    if (!fn) rt_support::fire_expect_arg(type, 0);
    return fn;
}

AnyFn get_action_of_first(int32_t k) { return get_action(type_of(stack::arguments), stack::arguments, k); }

slot_fn<Act::eval_path> get_path_action(const Cell* parent, const Cell* path, const Cell* element, int32_t index) {
    uint32_t type = type_of(parent);
    if (AnyFn fn = slot_of(type, int32_t(Act::eval_path))) return reinterpret_cast<slot_fn<Act::eval_path>>(fn);
    Cell datatype;
    datatype::make_at(&datatype, int32_t(type));
    if (!path) return raised(ErrorCategory::script, "bad-path-type2", element, &datatype);
    // The error shows the path up to and including the failing element.
    Cell cut;
    block::clone(path, &cut, false, false);
    block::truncate_at(&cut, index + 1);
    return raised(ErrorCategory::script, "bad-path-type", path, &datatype, &cut);
}

const Cell* call_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                     int32_t index, bool case_q, bool get_q, bool tail_q, bool evalp_q) {
    auto fn = get_path_action(parent, path, element, index);
    if (!fn) return nullptr;  // raised as a status
    return fn(parent, element, value, path, gparent, p_item, index, case_q, get_q, tail_q, evalp_q);
}

int32_t index_argument() {
    const Cell* index = stack::arguments + 1;
    switch (type_of(index)) {
        case TYPE_INTEGER:
        case TYPE_CHAR: return int32_t(index->w2);
        case TYPE_LOGIC: return index->w1 ? 1 : 2;
        default: return 0;
    }
}

// ---- comparison ----

namespace {

// The compare slot's answer for value1 against value2.
inline int32_t order_of(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value1) == TYPE_INTEGER && type_of(value2) == TYPE_INTEGER) {
        // Two integers (the keys of most searches and sorts) order by value
        // under every mode, as the integer slot orders them.
        int32_t a = int32_t(value1->w2), b = int32_t(value2->w2);
        return (a > b) - (a < b);
    }
    return get_action_of<Act::compare>(value1)(value1, value2, op);
}

// The truth (1 or 0) of op for the slot's answer r; -1 when op orders
// values that do not compare (-2 from the slot), which is an error.
inline int32_t truth_of(int32_t r, int32_t op) {
    switch (op) {
        case COMP_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_STRICT_EQUAL_WORD:
        case COMP_EQUAL_WORD: case COMP_FIND:
            return r == 0;
        case COMP_NOT_EQUAL: return r != 0;
        default: break;
    }
    if (r == COMPARE_INCOMPARABLE) return -1;
    switch (op) {
        case COMP_LESSER: return r < 0;
        case COMP_LESSER_EQUAL: return r <= 0;
        case COMP_GREATER: return r > 0;
        case COMP_GREATER_EQUAL: return r >= 0;
        default:
            // The sorting codes go to the slot directly; anything else is a
            // fault of the caller.
            runtime::quit_with_runtime_error(101, uintptr_t(__builtin_return_address(0)));
    }
}

}  // namespace

bool compare_star(Cell* value1, Cell* value2, int32_t op) {
    int32_t truth = truth_of(order_of(value1, value2, op), op);
    if (truth < 0) fire(ErrorCategory::script, "invalid-compare", value1, value2);
    return truth != 0;
}

int32_t compare_values(Cell* value1, Cell* value2, int32_t op) {
    auto compare = get_action_of<Act::compare>(value1);
    uint32_t t1 = type_of(value1);
    // The shortcuts compare two values of one type; a pair of different
    // types is the slot's to judge (it answers -2 when they do not compare).
    if (t1 == type_of(value2)) {
        auto signed_order = [](uint32_t a, uint32_t b) {
            int32_t x = int32_t(a), y = int32_t(b);
            return (x > y) - (x < y);
        };
        switch (t1) {
            case TYPE_LOGIC: return int32_t(value1->w1 != 0) - int32_t(value2->w1 != 0);
            case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP: return signed_order(value1->w1, value2->w1);
            case TYPE_FUNCTION: case TYPE_ROUTINE: return signed_order(value1->w3, value2->w3);
            default: break;
        }
    }
    return compare(value1, value2, op);
}

bool compare_to_result(int32_t op) {
    Cell* a = stack::arguments;
    int32_t truth = truth_of(order_of(a, a + 1, op), op);
    if (truth < 0) {
        // Raised as a status: the stacks belong to the receiver now.
        raise(ErrorCategory::script, "invalid-compare", a, a + 1);
        return false;
    }
    logic::make_at(a, truth != 0);
    return truth != 0;
}

}  // namespace zuv::actions
