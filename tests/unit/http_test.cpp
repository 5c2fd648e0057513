// The header text of an HTTP answer turned into the headers map: the lines a
// server may send that the loopback tests cannot make Python's server send.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/url.hpp"
#include "services/http.hpp"
#include "tests/unit/builder.hpp"

namespace zuv {
namespace {

// The map made of the text, molded flat, as UTF-8.
std::string headers_of(const std::string& text) {
    test::ensure_evaluator();
    Cell* saved = stack::top;
    Cell* map = http::parse_headers(text);
    Cell* out = string::zs_make_at(cell::begin(stack::push_raw()), 16);
    actions::call_mold(map, out, false, false, true, nullptr, INT_MAX, 0);
    std::string molded = url::utf8_of(out);
    stack::top = saved;
    return molded;
}

TEST(HttpHeaders, NamesAndValuesFromEachLine) {
    const struct {
        const char* text;
        const char* map;
    } cases[] = {
        // blanks after the colon, any number (none too); trailing blanks go
        {"A: 1\r\nB:2\r\nC: \t 3 \r\n", R"(#[A: "1" B: "2" C: "3"])"},
        // a last line without a line end is kept; LF alone ends a line
        {"A: 1\nLast:  kept", R"(#[A: "1" Last: "kept"])"},
        // a name seen again (in any case) gathers its values in a block
        {"Set-Cookie: a=1\r\nX: y\r\nset-cookie: b=2\r\nSet-Cookie: c=3\r\n",
         R"(#[Set-Cookie: ["a=1" "b=2" "c=3"] X: "y"])"},
        // lines without a name, continuation lines and empty values
        {"no colon\r\n: no name\r\n  folded: line\r\nName with blank: v\r\nEmpty:\r\n\r\n", R"(#[Empty: ""])"},
        // a value that is not UTF-8 keeps its other characters
        {"V: a\xff" "b\r\n", "#[V: \"a\xef\xbf\xbd" "b\"]"},
        {"", "#[]"},
    };
    for (const auto& c : cases) EXPECT_EQ(headers_of(c.text), c.map) << c.text;
}

}  // namespace
}  // namespace zuv
