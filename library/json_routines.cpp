// The C++ routine of the JSON decoder: unescape rewrites the escape
// sequences of a JSON string's text in place.
//
// The text is read and written by character index from the buffer's head:
// an escape is never shorter in its text than what it stands for, so the
// write index never passes the read index. A written character may widen
// the buffer (a new unit, perhaps a new place), so no address is kept across
// a write: every read goes through the buffer the last write handed back.
#include "library/routines.hpp"

#include "evaluator/routines.hpp"
#include "library/answers.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"

namespace zuv::library {

namespace {

using routines::Value;

class Unescaper {
public:
    explicit Unescaper(Cell* str) : str_(str), read_(series::head_index(str)), end_(string::total_length(str)) {
        if (read_ > end_) read_ = end_;
        write_ = read_;
    }

    void run() {
        while (read_ < end_) {
            uint32_t c = next();
            if (c != '\\' || read_ >= end_) {
                put(c);
                continue;
            }
            c = next();
            switch (c) {
            case '"': case '\\': case '/': put(c); break;
            case 'b': put(0x08); break;
            case 'f': put(0x0C); break;
            case 'n': put(0x0A); break;
            case 'r': put(0x0D); break;
            case 't': put(0x09); break;
            case 'u': put(code_point()); break;
            default: put('\\'); break;  // an unknown escape keeps the backslash, drops the letter
            }
        }
        string::truncate_to(string::buffer(str_), write_);
    }

private:
    Cell* str_;
    int32_t read_, write_, end_;

    uint32_t next() { return string::char_at(str_, read_++); }
    void put(uint32_t cp) { string::overwrite_char(string::buffer(str_), write_++, cp); }

    [[noreturn]] void fail() {
        Cell text = *str_;
        fire(ErrorCategory::script, "invalid-data", &text);
    }

    // Four hexadecimal digits after "\u".
    uint32_t unit() {
        if (end_ - read_ < 4) fail();
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) {
            int32_t d = string::hex_digit(next());
            if (d < 0) fail();
            v = v << 4 | uint32_t(d);
        }
        return v;
    }

    // The code point of a "\u" escape: a high surrogate must be followed by
    // the escape of a low one; a low one alone stands for itself.
    uint32_t code_point() {
        uint32_t high = unit();
        if (high < 0xD800 || high > 0xDBFF) return high;
        if (end_ - read_ < 6 || next() != '\\' || next() != 'u') fail();
        uint32_t low = unit();
        if (low < 0xDC00 || low > 0xDFFF) fail();
        return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
    }
};

// unescape str: the escapes of str rewritten in place; answers str.
Value unescape(const Value* args, int32_t) {
    Cell* str = args[0].cell;
    Unescaper(str).run();
    return answer(str);
}

}  // namespace

void register_json_routines() { routines::add("unescape", unescape); }

}  // namespace zuv::library
