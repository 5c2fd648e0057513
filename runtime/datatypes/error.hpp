// error!: the value of a language error.
//
// An error! is an object! (same cell layout, type byte 34, class id 1, no
// event info) whose context has the ten fields of the standard error
// prototype, in this order:
//   0 code   integer!: 100 x category position + id position
//   1 type   word!: the category's name, bound to the catalog object
//   2 id     word!: the id's name, bound to the category object
//   3-5 arg1 arg2 arg3   the message's arguments (none when absent)
//   6 near   the interpreter's position when the error was made
//   7 where  the word of the call that raised it (set by the throw), or a string
//   8 stack  the call-stack position (integer!) recorded by the throw, turned
//            into a block of called words when the error is caught
//   9 files  a block of source files, copied when the stack is filled
// The self slot keeps the copied prototype's object! value.
//
// The catalog (error_catalog.hpp) gives the categories, ids and message
// templates; form writes the report users see:
//   *** Script Error: foo has no value
//   *** Where: ???
//   *** Near : [foo]
// with "*** Stack: " and "*** Files: " lines when present, and no final line feed.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::error {

enum Field : int32_t {
    FIELD_CODE = 0, FIELD_TYPE, FIELD_ID, FIELD_ARG1, FIELD_ARG2, FIELD_ARG3,
    FIELD_NEAR, FIELD_WHERE, FIELD_STACK, FIELD_FILES, FIELD_COUNT
};
constexpr int32_t CLASS_ID = 1;
constexpr int32_t ARG_LIMIT = 80;   // characters of one message argument in a report
constexpr int32_t NEAR_LIMIT = 40;  // characters of the Near line

// The standard error prototype (`system/standard/error`): made by init until
// start-up puts the one of `system` in its place.
void init();
const Cell* prototype();
void set_prototype(const Cell* object);

// Pushes a new error! made from the category and id words (each bound to the
// catalog, as object::get_word gives them) with the arguments (null: none);
// returns the pushed cell.
Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// The same when the caller knows the error's code too (fire, from its
// catalog positions): no lookup of the words is made.
Cell* create_with_code(const Cell* category, const Cell* id, int32_t code, const Cell* arg1, const Cell* arg2,
                       const Cell* arg3);
// Copies value into `where` when `where` is still none.
void set_where(const Cell* error, const Cell* value);
// Records the call-stack position in `stack` unless it already holds a block!.
void set_stack_position(const Cell* error, int32_t position);
// The symbol ids of the `type` and `id` words (0 when not words).
int32_t get_type(const Cell* error);
int32_t get_id(const Cell* error);
// The index of the `stack` field among the values.
constexpr int32_t stack_field() { return FIELD_STACK; }
// The value cell of a field (valid until the next allocation).
Cell* field(const Cell* error, int32_t index);
// When value is an error! whose `stack` holds a call-stack position: `stack`
// becomes a block of the called words and `files` a copy of the source files.
void fill_stack(const Cell* value);

// The report of an error that no try receives: printed, then the process
// ends with status -2. An error value without a context, or an error raised
// while the report is formed, is reported by its category title and id.
[[noreturn]] void report_uncaught(const Cell* error);

// system/state/stack-trace: the depth of the Stack line and of the words
// fill_stack collects (0 when it is not an integer!, so no Stack line);
// until `system` exists, 1.
int32_t stack_trace_setting();

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void register_type();

}  // namespace zuv::error
