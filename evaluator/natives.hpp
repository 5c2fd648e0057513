// The natives table: the built-in functions written in the runtime, by slot.
//
// A native! value names its entry function by slot number (1-based), and so
// does a serialized native record, so a slot never moves: the list below is
// fixed. 120 slots exist; slots 1-107 are filled at start-up, 108-120 stay
// empty and no value may refer to them.
//
// Calling convention of an entry function. The caller pushes a native call
// frame, then the native's fixed arguments from `stack::arguments` in spec
// order, then the arguments of each used refinement (refinements take no
// cell), and calls the entry with:
//   check        false from the interpreter, which has checked the argument
//                types while fetching them; true from C++ callers that have
//                not, in which case the native checks its own arguments
//   refinements  one int32_t per refinement of the spec, in spec order: -1
//                when the refinement is not used; otherwise, for a refinement
//                with arguments, the cell offset of its first argument from
//                `stack::arguments`, and for one without, any other value
// The result is left in the first argument cell (`stack::arguments`). A
// non-local exit (break, return ...) is left pending in the runtime's
// thrown-code field for the caller to act upon (evaluator/stack.hpp).
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::natives {

using Entry = void (*)(bool check, const int32_t* refinements);

constexpr int32_t TABLE_SLOTS = 120;
constexpr int32_t NATIVE_COUNT = 107;
// Refinements a native or action spec may declare (the interpreter keeps one
// machine word per refinement of a call).
constexpr int32_t MAX_REFINEMENTS = 32;

// X(slot, entry function, word): the fixed slot order.
#define ZUV_NATIVES(X)                                                                                  \
    X(1, if_star, "if") X(2, unless_star, "unless") X(3, either_star, "either") X(4, any_star, "any")    \
    X(5, all_star, "all") X(6, while_star, "while") X(7, until_star, "until") X(8, loop_star, "loop")    \
    X(9, repeat_star, "repeat") X(10, forever_star, "forever") X(11, foreach_star, "foreach")          \
    X(12, forall_star, "forall") X(13, remove_each_star, "remove-each") X(14, func_star, "func")       \
    X(15, function_star, "function") X(16, does_star, "does") X(17, has_star, "has")                   \
    X(18, switch_star, "switch") X(19, case_star, "case") X(20, do_star, "do") X(21, get_star, "get")   \
    X(22, set_star, "set") X(23, print_star, "print") X(24, prin_star, "prin")                         \
    X(25, equal_q_star, "equal?") X(26, not_equal_q_star, "not-equal?")                                 \
    X(27, strict_equal_q_star, "strict-equal?") X(28, lesser_q_star, "lesser?")                         \
    X(29, greater_q_star, "greater?") X(30, lesser_or_equal_q_star, "lesser-or-equal?")                 \
    X(31, greater_or_equal_q_star, "greater-or-equal?") X(32, same_q_star, "same?")                     \
    X(33, not_star, "not") X(34, type_q_star, "type?") X(35, reduce_star, "reduce")                    \
    X(36, compose_star, "compose") X(37, stats_star, "stats") X(38, bind_star, "bind")                 \
    X(39, in_star, "in") X(40, parse_star, "parse") X(41, union_star, "union")                         \
    X(42, intersect_star, "intersect") X(43, unique_star, "unique") X(44, difference_star, "difference") \
    X(45, exclude_star, "exclude") X(46, complement_q_star, "complement?") X(47, dehex_star, "dehex")  \
    X(48, enhex_star, "enhex") X(49, negative_q_star, "negative?") X(50, positive_q_star, "positive?") \
    X(51, max_star, "max") X(52, min_star, "min") X(53, shift_star, "shift") X(54, to_hex_star, "to-hex") \
    X(55, sine_star, "sine") X(56, cosine_star, "cosine") X(57, tangent_star, "tangent")               \
    X(58, arcsine_star, "arcsine") X(59, arccosine_star, "arccosine") X(60, arctangent_star, "arctangent") \
    X(61, arctangent2_star, "arctangent2") X(62, NaN_q_star, "NaN?") X(63, log_2_star, "log-2")        \
    X(64, log_10_star, "log-10") X(65, log_e_star, "log-e") X(66, exp_star, "exp")                     \
    X(67, square_root_star, "square-root") X(68, construct_star, "construct")                           \
    X(69, value_q_star, "value?") X(70, try_star, "try") X(71, uppercase_star, "uppercase")            \
    X(72, lowercase_star, "lowercase") X(73, as_pair_star, "as-pair") X(74, as_point2D_star, "as-point2D") \
    X(75, as_point3D_star, "as-point3D") X(76, as_money_star, "as-money") X(77, break_star, "break")     \
    X(78, continue_star, "continue") X(79, exit_star, "exit") X(80, return_star, "return")             \
    X(81, throw_star, "throw") X(82, catch_star, "catch") X(83, extend_star, "extend")                 \
    X(84, debase_star, "debase") X(85, to_local_file_star, "to-local-file") X(86, wait_star, "wait")   \
    X(87, checksum_star, "checksum") X(88, unset_star, "unset") X(89, new_line_star, "new-line")       \
    X(90, new_line_q_star, "new-line?") X(91, enbase_star, "enbase") X(92, context_q_star, "context?")  \
    X(93, set_env_star, "set-env") X(94, get_env_star, "get-env") X(95, list_env_star, "list-env")      \
    X(96, now_star, "now") X(97, sign_q_star, "sign?") X(98, as_star, "as") X(99, call_star, "call")   \
    X(100, zero_q_star, "zero?") X(101, size_q_star, "size?") X(102, browse_star, "browse")            \
    X(103, compress_star, "compress") X(104, decompress_star, "decompress")                             \
    X(105, recycle_star, "recycle") X(106, transcode_star, "transcode") X(107, apply_star, "apply")

// The entry functions, each defined in the source of its family.
#define ZUV_DECLARE_NATIVE(slot, name, word) void name(bool check, const int32_t* refinements);
ZUV_NATIVES(ZUV_DECLARE_NATIVE)
#undef ZUV_DECLARE_NATIVE

// The slots by name, for code that recognises a native by its value's slot.
namespace slot {
#define ZUV_NATIVE_SLOT_NAME(slot, name, word) constexpr uint32_t name = slot;
ZUV_NATIVES(ZUV_NATIVE_SLOT_NAME)
#undef ZUV_NATIVE_SLOT_NAME
}  // namespace slot

// Slot k's entry is table[k]; entry 0 and the empty slots are null.
extern Entry table[TABLE_SLOTS + 1];
// The slot the next registration fills: 108 after start-up. A serialized
// native record is accepted only below it.
extern int32_t next_free;

// The entry of slot k, or null when k names no filled slot.
inline Entry entry_at(int32_t k) { return k >= 1 && k <= TABLE_SLOTS ? table[k] : nullptr; }

// The scratch block that print and prin reduce into (32 cells at the tail of
// the root block, made by init).
extern Cell* print_scratch;

// Stores the entries in turn from slot next_free on.
void register_entries(const Entry* list, int32_t count);
// Makes the print scratch block and registers the 107 entries in slot order.
void init();

// True when a catch running on the call stack receives throws of name (a
// word) by its /name.
bool catch_named_q(const Cell& name);

// For the unit tests only: fills an empty slot from 108 to 120 with an entry
// of the test's own (answers false for any other slot).
bool install_test_entry(int32_t slot, Entry entry);

}  // namespace zuv::natives
