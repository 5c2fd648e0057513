// triple!: three 32-bit signed integers.
//
//   word 0  header, type byte 31
//   words 1-3  the three integers
//
// The lexer uses cells of this type as its open-series markers; as a
// datatype it has only a text form, "make triple! [1 -2 3]", and every other
// action is unsupported.
#pragma once

namespace zuv::triple {

void register_type();

}  // namespace zuv::triple
