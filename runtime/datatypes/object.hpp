// object!: a context of words and values with an identity, a class id and an
// optional cache of change handlers.
//
// The object! cell (error! and port! share the layout):
//   word 1  node of the object's context (kind 2, see context.hpp)
//   word 2  class id (signed)
//   word 3  node of the event info block, or 0 when the object has neither
//           `on-change*` nor `on-deep-change*`
//
// The context's own value (the cell after its context! cell, the "self
// slot") holds a copy of the object value: every operation here that makes
// or changes an object value writes the finished value there last, so that a
// `self` word bound in the object's body yields the object. Two object values
// are the same object when their contexts are the same node.
//
// Class ids: objects of the compiled library have small fixed ids; ids made
// at run time come from one counter that starts at 1,000,000 and is
// incremented before use (the first is 1,000,001). A copy keeps its class id,
// and so does a make from a prototype that adds no word.
//
// Event info block: a series of two cells, entry 0 for `on-change*` and entry
// 1 for `on-deep-change*`, typed pair! so that the collector sees plain
// numbers:
//   word 1  the handler field's index in the context (-1: no such handler),
//           kept as a full 32-bit number
//   word 2  the handler's locals count (/local and the words after it)
//   word 3  node of the handler's spec block when the count was taken, or 0;
//           never followed, only compared to notice a reassigned handler
// The serialized form packs an entry as index << 16 | count (packed_entry).
//
// The context header's bit 16 marks an object that owns its own values (an
// object with `on-deep-change*`); reflecting `owner` reads it.
//
// Cell* results point into series buffers and are valid only until the next
// allocation; functions that run handlers (user code) say so.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::object {

constexpr int32_t FIRST_RUNTIME_CLASS_ID = 1000000;  // the counter's start; the first id is one more
constexpr uint32_t CONTEXT_OWNER = 0x10000;           // context! header: the object owns its values

// ---- helpers for compiled code, start-up and other datatypes ----

// The next run-time class id.
int32_t new_class_id();

// The library's own objects: while start-up defines the library and the
// console, each object made from a block takes the next number of a
// sequence of its own, from FIRST_LIBRARY_CLASS_ID, taken when its body
// begins, so that an outer object has a smaller number than the objects
// made inside it. Some numbers are fixed: the first object of a boot source
// named by a FixedClass gets that class (the sequence moves on to it); one
// without a source is skipped by the sequence and given to its object
// (set_class) once the library is defined.
constexpr int32_t FIRST_LIBRARY_CLASS_ID = 122;
struct FixedClass {
    const char* path;    // a global word, or word/field
    int32_t id;
    const char* source;  // the boot source it begins, or null
};
constexpr FixedClass FIXED_LIBRARY_CLASSES[] = {
    {"system", 174, "library/system.zuv"}, {"system/build", 176, nullptr}, {"cli-console-ctx", 619, "console/launch.zuv"}};
// A boot source of the library begins (its path ends with a FixedClass source).
void library_source_begins(const char* source);
void number_library_classes(bool on);
// Gives the object value (and the object's own value cell) the class id.
void set_class(Cell* object, int32_t class_id);

// Pushes {context, class id, no events} on the data stack, sizing the
// context's values to its words when the values series is empty, copies it
// into the self slot and returns the pushed cell.
Cell* push(Node ctx, int32_t class_id);
// The same with the event info block given, without sizing the values.
Cell* push_full(Node ctx, Node event_info, int32_t class_id);
// For the object on top of the data stack: builds its event info block from
// the handler indexes (-1: none) and locals counts, makes it the owner of its
// values when it has `on-deep-change*`, and refreshes the self slot.
void init_events(Node ctx, int32_t on_change_index, int32_t on_change_locals, int32_t deep_index,
                 int32_t deep_locals);
// The cell becomes an empty object with a new context (room for size words),
// class id 0 and no events; the self slot is filled.
Cell* make_at(Cell* cell, int32_t size);

// The i-th word cell (0-based) of a context's word table.
Cell* get_word(Node ctx, int32_t i);
// The first value cell of the object's context.
Cell* get_values(const Cell* object);
Cell* first_word(const Cell* object);
int32_t words_count(const Cell* object);
// The 0-based index of the word's symbol among the object's words (canonical ids), or -1.
int32_t find_word_index(const Cell* object, const Cell* word);
// The field's value cell, or the constant none cell when the word is absent.
const Cell* get_field(const Cell* object, const Cell* word);
// True when the word's value is an object! of that class.
bool word_of_class_q(const Cell* word, int32_t class_id);
// True when value index of the context is an object! of that class.
bool slot_of_class_q(Node ctx, int32_t index, int32_t class_id);

// Copies the object value into its context's self slot.
void refresh_self(const Cell* object);

// ---- making and copying ----

// destination := a copy of source with a new context holding the same words
// and values. deep without types copies the block-like and string-like values
// deeply; types (a typeset!, or null/none) copies the values of those types;
// function! values are rebound to the copy. With rescan the handlers are
// scanned again from the copy's fields, else the event info is shared.
// destination must not lie in a series buffer that can move.
void clone(const Cell* source, Cell* destination, bool deep, const Cell* types, bool rescan);
// The native `construct`: result := an object made from the spec block
// without evaluating it (prototype: an object!, or null/none).
Cell* construct(const Cell* spec, const Cell* proto, bool only, Cell* result);

// ---- change notification ----

// The event info block for the context's handler fields, or 0 when it has
// neither; a handler field that holds no function! or routine! raises script
// bad-field-set.
Node scan_events(Node ctx);
bool on_deep_change_q(const Cell* object);
// object's word 3 := scan_events(ctx); an object with `on-deep-change*` owns
// its values; the value is copied into the self slot.
void setup_events(Cell* object, Node ctx);
// A new 2-cell event info block.
Node make_event_info(int32_t on_change_index, int32_t on_change_locals, int32_t deep_index, int32_t deep_locals,
                     Node on_change_spec, Node deep_spec);
// An entry of an event info block: which 0 `on-change*`, 1 `on-deep-change*`.
struct EventEntry {
    int32_t index;   // -1: no such handler
    int32_t locals;
};
EventEntry event_entry(Node event_info, int32_t which);
// The serialized form of an entry: index << 16 | locals count.
int32_t packed_entry(Node event_info, int32_t which);

// Calls the object's `on-change*` with the word, the old and the new value
// (the field is already assigned). Runs user code: re-derive pointers after.
void fire_on_change(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value);
// The same with old = the last pushed cell and new = the cell below it.
void fire_on_change_stacked(const Cell* object, const Cell* word);
// The same for the object that is the value of the first word.
void fire_on_change_via_word(const Cell* object_word, const Cell* word);
// Calls the owner's `on-deep-change*` with the owner, the word, the target
// series, the action word, the new value (null: none), the index and the part.
void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part);

// The native `set` on an object target (refinements /any, /only, /some).
void set_many(const Cell* target, const Cell* source, bool any, bool only, bool some);

// ---- text ----

// Writes the fields (word, ": ", molded value) separated by line feeds (or
// spaces when flat); returns the part left. error! and port! mold through it.
int32_t serialize(const Cell* object, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                  bool indent, int32_t level, bool mold);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* reflect(Cell* value, int32_t field);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
// eval_path and put: a field the object does not have raises its error as a
// status (null answered, see raised).
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* put(Cell* object, Cell* key, Cell* value, bool case_q);
Cell* select(Cell* object, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_q);

void register_type();

}  // namespace zuv::object
