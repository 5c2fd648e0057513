#include "runtime/datatypes/scalar_path.hpp"

#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"
#include "runtime/words.hpp"

namespace zuv::scalar_path {

void notify_set(const Cell* gparent, const Cell* p_item, const Cell* old, Cell* value) {
    if (gparent == nullptr || p_item == nullptr) return;
    if (type_of(gparent) == TYPE_OBJECT) {
        object::fire_on_change(gparent, p_item, old, value);
    } else if (series::series_type_q(type_of(gparent)) && (memory::buffer_of(gparent->w2)->flags & SERIES_OWNED)) {
        int32_t index = type_of(p_item) == TYPE_INTEGER ? integer::get_value(p_item) - 1 : 0;
        ownership::check(gparent, &words::set_path, value, index, 1);
    }
}

}  // namespace zuv::scalar_path
