// Running source text in unit tests: the lexer loads it, the interpreter
// evaluates it under a try frame (builder.hpp), so that an error comes back
// as its "category/id".
#pragma once

#include <string>

#include "lexer/lexer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "tests/unit/builder.hpp"

namespace zuv::test {

// Sets the words that the library and the boot image will define: true,
// false, none, and the words of datatypes not registered yet, which the
// native and action specs name.
inline void define_boot_words() {
    Cell v;
    set_global("true", *logic::make_at(&v, true));
    set_global("false", *logic::make_at(&v, false));
    set_global("none", *none::make_at(&v));
    const struct {
        const char* name;
        uint32_t type;
    } later[] = {{"binary!", TYPE_BINARY}, {"bitset!", TYPE_BITSET}, {"date!", TYPE_DATE},
                 {"hash!", TYPE_HASH},     {"map!", TYPE_MAP},       {"money!", TYPE_MONEY},
                 {"pair!", TYPE_PAIR},     {"port!", TYPE_PORT},     {"tuple!", TYPE_TUPLE},
                 {"vector!", TYPE_VECTOR}, {"issue!", TYPE_ISSUE},   {"url!", TYPE_URL},
                 {"file!", TYPE_FILE},     {"function!", TYPE_FUNCTION}};
    for (const auto& t : later) {
        Cell now = global_value(t.name);
        if (type_of(&now) == TYPE_UNSET) set_global(t.name, *datatype::make_at(&v, int32_t(t.type)));
    }
}

// The value of the last expression of the text, or the error it raised
// (a load error is "load:category/id").
inline Evaluated eval_source(const std::string& text) {
    ensure_evaluator();
    static const bool defined = (define_boot_words(), true);
    (void)defined;
    Cell code{};
    std::string error = raised([&] {
        lexer::scan(&code, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), false, true, true,
                    true, nullptr, nullptr, nullptr, nullptr);
    });
    if (!error.empty()) return {"load:" + error, {}};
    return evaluate(code);
}

// The molded value of the text, or "!category/id" for an error.
inline std::string run_source(const std::string& text) {
    Evaluated r = eval_source(text);
    return r.error.empty() ? mold(r.value) : "!" + r.error;
}

}  // namespace zuv::test
