// Library functions computed in place by compiled code.
//
// `modulo` (and `//`, the op made from it) is a library function built on
// `mod`, `absolute` and `remainder`: a call walks three bodies for what is
// one remainder and a sign. When the function called is the boot library's
// own `modulo` (its identity noted once the library is loaded), compiled
// code computes its result in place on integers and floats, step by step as
// its body computes it, so results, types and the integer 0 of a negligible
// remainder are the same. Anything the steps cannot take in place (another
// type, a zero divisor, the smallest integer) is left to the call, which
// then raises what the library raises. A function the user defines, under
// any name, is never taken for it.
#pragma once

#include "runtime/cell.hpp"

namespace zuv::interpreter::library_calls {

// Notes the library's functions computed in place: called once, after the
// library is defined.
void note_library();

// True when fn is the library's own `modulo` (or a copy of it).
bool modulo_q(const Cell& fn);

// The library's `modulo` of left and right into left; false, with nothing
// done, where the call must run.
bool modulo(Cell* left, const Cell* right);

// The call frames the library's `modulo` may take beyond its own call frame
// (with their data-stack cells, as compiled code counts them): computed in
// place only where they fit, so that a stack overflow comes where the call
// would meet it. More than its body takes, never less.
constexpr int32_t MODULO_FRAMES = 16;

}  // namespace zuv::interpreter::library_calls
