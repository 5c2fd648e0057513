// The answers of the library's routines: a routine that runs by address
// answers its result cell on the data stack (null: unset).
#pragma once

#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/logic.hpp"

namespace zuv::library {

inline routines::Value answer(Cell* cell) {
    routines::Value v;
    v.cell = cell;
    return v;
}

inline routines::Value answer_logic(bool b) { return answer(logic::make_at(stack::push_raw(), b)); }

}  // namespace zuv::library
