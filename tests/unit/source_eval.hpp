// Running source text in unit tests: the lexer loads it, the interpreter
// evaluates it under a try frame (builder.hpp), so that an error comes back
// as its "category/id".
#pragma once

#include <string>

#include "lexer/lexer.hpp"
#include "tests/unit/builder.hpp"

namespace zuv::test {

// The value of the last expression of the text, or the error it raised
// (a load error is "load:category/id").
inline Evaluated eval_source(const std::string& text) {
    ensure_evaluator();
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
