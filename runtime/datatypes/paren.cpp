// paren!: a block that the evaluator evaluates in place. Everything but mold
// is block!'s.
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/path.hpp"
#include "runtime/datatypes/registry.hpp"

namespace zuv::paren {

Cell* push(Cell* value) {
    value->header = TYPE_PAREN;  // the whole header: flags cleared
    return stack::push(value);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return block::mold_enclosed("(", ")", value, buffer, only, all, flat, arg, part, indent);
}

void register_type() {
    ZUV_CHECK_ROW(mold_only_row<&paren::mold>.entries);
    datatype::register_type(TYPE_PAREN, TYPE_BLOCK, "paren!", mold_only_row<&paren::mold>.entries);
}

}  // namespace zuv::paren
