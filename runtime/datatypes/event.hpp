// event!: one user-interface event (a key press, a mouse action, a timer tick).
//
//   word 0  header, type byte 54; MADE (0x1000) for an event from `make event!`
//   word 1  the event type id (1-38; 0 when none was given)
//   word 2  made events: node of a 4-cell block [face window offset picked],
//           0 when none of them was given
//   word 3  the flag word; a made event keeps its key's code point in the
//           low 16 bits
//
// Events from the text-mode GUI backend will carry the backend's own words 1-3
// and read their fields through its getters; until that backend exists, the
// event type table and the flag getters live here.
//
// event! has no parent and is registered by the last steps of start-up,
// after every other datatype.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::event {

constexpr uint32_t MADE = EVENT_HAS_SERIES;
constexpr int32_t FIELD_COUNT = 15;
constexpr int32_t TYPE_COUNT = 38;

// The field index (1-15) of a field word, by canonical spelling; -1 for any
// other word or value, except that with an event given an unknown word raises
// script cannot-use.
int32_t field_index(const Cell* word, const Cell* event);
// Pushes the value of field 1-15 of the event on the data stack.
Cell* get_field(const Cell* event, int32_t index);
// The flag bit of a flag word (control shift alt command away down mid-down
// alt-down aux-down); 0 for any other word.
uint32_t flag_mask(const Cell* word);
// The event type id (1-38) of a type word; 0 for an unknown one.
int32_t type_id(const Cell* word);
// Pushes a copy of the event on the data stack.
Cell* push(const Cell* event);

void register_type();

}  // namespace zuv::event
