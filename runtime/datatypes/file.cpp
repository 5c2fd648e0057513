// file! actions: the quoted text form, the local form of a name, and the
// I/O actions, which hand the name to the file service.
#include "runtime/datatypes/file.hpp"

#include <algorithm>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/fire.hpp"
#include "runtime/os.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "services/files.hpp"

namespace zuv::file {

namespace {

inline bool given(const Cell* arg) { return series::given(arg, stack::arguments); }

// read/as and write/allow wait for the codecs and the security policy.
// The integer of a /part or /seek argument, -1 when absent; another type
// raises invalid-refine-arg naming the refinement.
int64_t position_arg(const Cell* arg, const char* refinement) {
    if (!given(arg)) return -1;
    if (type_of(arg) != TYPE_INTEGER) {
        Cell word = word::from_c_string(refinement);
        Cell value = *arg;
        fire(ErrorCategory::script, "invalid-refine-arg", &word, &value);
    }
    return integer::get_value(arg);
}

}  // namespace

std::string to_local_path(const Cell* file, bool full) {
    std::string text = url::utf8_of(file);
    if (full && (text.empty() || text[0] != '/')) {
        std::string dir = platform::get_current_dir();
        if (dir.empty() || dir.back() != '/') dir += '/';
        text.insert(0, dir);
    }
    return text;
}

bool nul_in_name_q(const Cell* file) {
    Cell f = *file;
    return string::rs_length_q(&f) > 0 && string::index_of_char(&f, 0) >= 0;
}

// ---- action slots ----

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    const int32_t length = string::get_length(value);  // pulls a head past the tail back
    const int32_t head = int32_t(value->w1);
    int32_t n = length;
    if (series::given(arg, stack::arguments) && type_of(arg) == TYPE_INTEGER) n = std::clamp(part, 0, length);
    string::append_char(buffer, '%');
    if (n == 0) {
        string::concatenate_literal(buffer, "\"\"");
        return part - 1;
    }
    // Quoted when an ASCII character outside the URL set would end the
    // bare form. Inside the quotes, control characters and "^" take their
    // escapes and the quote its hexadecimal escape (a bare one would end
    // the text), so that the text loads back as the same name.
    bool quoted = false;
    for (int32_t i = head; i < head + n && !quoted; i++) {
        uint32_t c = string::char_at(value, i);
        quoted = c < 127 && !url::keeps_q(url::MODE_URL, uint8_t(c));
    }
    if (quoted) string::append_char(buffer, '"');
    for (int32_t i = head; i < head + n; i++) {
        uint32_t c = string::char_at(value, i);
        if (!quoted) string::append_char(buffer, c);
        else if (c == '"') string::concatenate_literal(buffer, "^(22)");
        else string::append_escaped_char(buffer, c, false);
    }
    if (quoted) string::append_char(buffer, '"');
    return part - n - 1;
}

Cell* delete_(Cell* value) {
    if (nul_in_name_q(value)) return logic::make_at(value, false);
    return logic::make_at(value, simple_io::delete_(value));
}

Cell* query(Cell* value) {
    if (nul_in_name_q(value)) return none::make_at(value);
    return simple_io::query(value);
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool, Cell* as) {
    if (given(as)) fire_not_done();
    if (nul_in_name_q(source)) fire(ErrorCategory::access, "cannot-open", source);
    return simple_io::read(source, position_arg(part, "part"), position_arg(seek, "seek"), binary, lines);
}

Cell* rename(Cell* from, Cell* to) {
    if (nul_in_name_q(from) || (string::any_string_q(type_of(to)) && nul_in_name_q(to)))
        return logic::make_at(from, false);
    if (type_of(to) != TYPE_FILE) fire(ErrorCategory::script, "invalid-arg", to);
    return logic::make_at(from, simple_io::rename(from, to));
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as) {
    if (given(allow) || given(as)) fire_not_done();
    if (nul_in_name_q(destination)) fire(ErrorCategory::access, "cannot-open", destination);
    simple_io::write(destination, data, given(part) ? part : nullptr, position_arg(seek, "seek"), binary, append,
                     lines);
    return unset::make_at(destination);
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    INHERIT,                                                     // make (string make)
    NONE, NONE,                                                  // random, reflect
    INHERIT,                                                     // to
    INHERIT,                                                     // form
    slot<Act::mold, &file::mold>,
    INHERIT,                                                     // eval-path (url!'s join)
    NONE,                                                        // (empty)
    INHERIT,                                                     // compare
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20 math
    NONE, NONE, NONE, NONE,                                      // 21-24 logic
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,        // append at back change clear copy
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,        // find head head? index? insert length?
    INHERIT, INHERIT, INHERIT, INHERIT,                          // move next pick poke
    NONE,                                                        // put
    INHERIT, INHERIT, INHERIT,                                   // remove reverse select
    NONE,                                                        // sort
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,                 // skip swap tail tail? take
    NONE, NONE, NONE,                                            // trim create close
    slot<Act::delete_, &file::delete_>,
    INHERIT,                                                     // modify
    NONE, NONE,                                                  // open open?
    slot<Act::query, &file::query>,
    slot<Act::read, &file::read>,
    slot<Act::rename, &file::rename>,
    NONE,                                                        // update
    slot<Act::write, &file::write>,
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_FILE, TYPE_URL, "file!", row); }

}  // namespace zuv::file
