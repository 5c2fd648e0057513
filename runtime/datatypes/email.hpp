// email!: a user part, "@" and a host part, a child of string! (cell as
// string!, type byte 45). It molds as its plain text, and the path words
// `user` and `host` read and change the text before and after the first "@".
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::email {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);

void register_type();

}  // namespace zuv::email
