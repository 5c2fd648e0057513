// port!: an object that stands for an I/O channel, a child of object!.
//
// Cell: as object! (object.hpp), type byte 48, class id 2, w3 the event info
// of its fields. The context has the fields of the standard port, in this
// order: spec scheme actor awake state data extra. The self slot keeps the
// object! value the prototype copy made.
//
// A port has no I/O of its own. Each series and port action applied to it
// calls the function of the same name in its actor object (the scheme's
// actor), with a call frame named by the action word, the port, then the
// action's arguments in its own order: each refinement as a logic! followed
// by its argument (none when the refinement is off). read and write are
// composed of the actor's open, copy or insert, and close. A port whose
// actor is a handle! is served by a native action table instead (the action
// dispatcher does that; see actions.hpp).
//
// Until start-up builds the `system` object, the runtime keeps its own
// standard port, URL-parts prototype and (empty) scheme list, made by init.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::port {

constexpr int32_t CLASS_ID = 2;
enum Field : int32_t { FIELD_SPEC = 0, FIELD_SCHEME, FIELD_ACTOR, FIELD_AWAKE, FIELD_STATE, FIELD_DATA, FIELD_EXTRA };

// Makes the standard port, the URL-parts prototype and the scheme list.
void init();
// `system/standard/port`, `system/standard/url-parts`, `system/schemes`.
const Cell* standard_port();
const Cell* url_parts();
const Cell* schemes();
// Start-up puts the objects of `system` in their place.
void set_standard_port(const Cell* object);
void set_url_parts(const Cell* object);
void set_schemes(const Cell* object);

// The port's actor when it is an object!; else access invalid-port.
Cell get_actor(const Cell* port);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);

// Registers port! (after object!).
void register_type();

}  // namespace zuv::port
