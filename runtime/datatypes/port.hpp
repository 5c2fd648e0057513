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
// Ports are made from system/standard/port, a spec made from a block from
// system/standard/url-parts, and the scheme is found in system/schemes (a
// block of name and scheme pairs, a scheme an object whose fourth field is
// its actor), each read at every make. Until start-up has built the system
// object (and in programs without it), the runtime's own standard port,
// URL-parts prototype and scheme list stand in, made by init.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::port {

constexpr int32_t CLASS_ID = 2;
enum Field : int32_t { FIELD_SPEC = 0, FIELD_SCHEME, FIELD_ACTOR, FIELD_AWAKE, FIELD_STATE, FIELD_DATA, FIELD_EXTRA };

// Makes the standard port, the URL-parts prototype and the scheme list.
void init();
// `system/standard/port`, `system/standard/url-parts`, `system/schemes`.
Cell standard_port();
Cell url_parts();
Cell schemes();
// The scheme registered under the word's name (compared ignoring case, at
// the starts of the pairs), or none.
Cell find_scheme(const Cell* word);

// The port's actor when it is an object!; else access invalid-port.
Cell get_actor(const Cell* port);

// proto := a port made from spec (an object used as it is, or a block that
// sets the fields of a copy of the URL parts). The errors of a spec without
// a scheme word, of an unknown scheme or of an actor that is neither object
// nor handle name reported. Allocates; spec and reported must not lie in a
// series buffer.
Cell* make_from_spec(Cell* proto, const Cell* spec, const Cell* reported);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);

// Registers port! (after object!).
void register_type();

}  // namespace zuv::port
