// Natives that reach the system or the evaluator itself: new-line markers,
// context?, the environment, call, browse, wait, size?, stats and recycle,
// and apply.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_support.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/stats.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/os.hpp"
#include "runtime/words.hpp"
#include "services/process.hpp"

extern char** environ;

namespace zuv::natives {

using namespace support;

namespace {

inline Cell* arg(int32_t i) { return stack::arguments + i; }

constexpr uint8_t STRING_OR_WORD[] = {TYPE_STRING, TYPE_FILE,     TYPE_URL,      TYPE_TAG,      TYPE_EMAIL, TYPE_REF,
                                      TYPE_WORD,   TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD};
constexpr uint8_t STRING_OR_NONE[] = {TYPE_STRING, TYPE_NONE};
constexpr uint8_t ANY_WORD[] = {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD};
constexpr uint8_t WAIT_TYPES[] = {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_TIME, TYPE_BLOCK, TYPE_NONE};
constexpr uint8_t URL_OR_FILE[] = {TYPE_URL, TYPE_FILE};
constexpr uint8_t FILE_ONLY[] = {TYPE_FILE};
constexpr uint8_t STRING_OR_FILE[] = {TYPE_STRING, TYPE_FILE};
constexpr uint8_t APPLY_FUNC[] = {TYPE_WORD, TYPE_PATH, TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE};

bool callable_q(uint32_t type) {
    return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP || type == TYPE_FUNCTION ||
           type == TYPE_ROUTINE;
}

// A name or value handed to the environment cannot hold a NUL byte.
bool has_nul_q(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace

// ---- new-line markers ----

void new_line_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, ANY_LIST);
        check_argument(1, LOGIC);
        check_at(refinements[1], 4, INTEGER);
    }
    const bool on = arg(1)->w1 != 0;
    Cell list = *arg(0);
    SeriesBuffer* s = memory::buffer_of(list.w2);
    Cell* cells = memory::cells_for_write(s);
    const int32_t total = memory::length_of(s);
    const int32_t head = std::clamp(int32_t(list.w1), 0, total);
    auto mark = [&](int32_t i, bool value) {
        if (value) cells[i].header |= FLAG_NEW_LINE;
        else cells[i].header &= ~FLAG_NEW_LINE;
    };
    if (Cell* size = refinement_arg(refinements, 1)) {
        int32_t n = integer::get_value(size);
        if (n < 1) fire(ErrorCategory::script, "out-of-range", size);
        for (int32_t i = head; i < total; i++) mark(i, (i - head) % n == 0 ? on : !on);
    } else if (used(refinements, 0)) {
        for (int32_t i = head; i < total; i++) mark(i, on);
    } else if (head < total) {
        mark(head, on);
    }
    // The position is the result, already in the first cell.
}

void new_line_q_star(bool check, const int32_t*) {
    if (check) check_argument(0, ANY_LIST);
    Cell list = *arg(0);
    SeriesBuffer* s = memory::buffer_of(list.w2);
    int32_t head = int32_t(list.w1);
    bool marked = head >= 0 && head < memory::length_of(s) && cell::new_line_q(memory::cells_head(s) + head);
    logic::make_at(arg(0), marked);
}

// ---- words and contexts ----

void context_q_star(bool check, const int32_t*) {
    if (check) check_argument(0, ANY_WORD);
    Node ctx = arg(0)->w1;
    const Cell* own = ctx ? _context::own_value(ctx) : nullptr;
    if (!own || type_of(own) == TYPE_UNSET || type_of(own) == TYPE_NONE) none::make_at(arg(0));
    else copy_cell(own, arg(0));
}

// ---- the environment ----

void set_env_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, STRING_OR_WORD);
        check_argument(1, STRING_OR_NONE);
    }
    std::string name = name_of(arg(0));
    bool remove = type_of(arg(1)) == TYPE_NONE;
    std::string value = remove ? std::string() : utf8_of(arg(1));
    // An empty name, one with "=" or a NUL byte, or a value with a NUL byte
    // cannot be an environment entry: refused rather than silently dropped.
    if (name.empty() || name.find('=') != std::string::npos || has_nul_q(name))
        fire(ErrorCategory::script, "invalid-arg", arg(0));
    if (has_nul_q(value)) fire(ErrorCategory::script, "invalid-arg", arg(1));
    if (!platform::set_env(name.c_str(), remove ? nullptr : value.c_str()))
        fire(ErrorCategory::script, "invalid-arg", arg(0));
    copy_cell(arg(1), arg(0));
}

void get_env_star(bool check, const int32_t*) {
    if (check) check_argument(0, STRING_OR_WORD);
    std::string name = name_of(arg(0));
    std::string value;
    if (has_nul_q(name) || !platform::get_env(name.c_str(), value) || value.empty()) {
        none::make_at(arg(0));
        return;
    }
    string::load_at(reinterpret_cast<const uint8_t*>(value.data()), int32_t(value.size()), arg(0), 0);
}

// Every NAME=value entry of the environment as a string! key and value; an
// entry without "=" has an empty value, and a repeated name keeps the last.
void list_env_star(bool, const int32_t*) {
    int32_t n = 0;
    for (char** e = environ; e && *e; e++) n++;
    Cell* pairs = block::make_at(cell::begin(stack::push_raw()), 2 * std::max(n, 1));
    Cell* text = cell::begin(stack::push_raw());
    for (int32_t i = 0; i < n && environ[i]; i++) {
        std::string entry = environ[i];
        size_t eq = entry.find('=');
        std::string name = entry.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
        string::load_at(reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()), text, 0);
        block::append_cell(pairs, text);
        string::load_at(reinterpret_cast<const uint8_t*>(value.data()), int32_t(value.size()), text, 0);
        block::append_cell(pairs, text);
    }
    map::make_at(arg(0), pairs, 2 * std::max(n, 1));
    stack::top = pairs;
}

// ---- time ----

void now_star(bool, const int32_t* refinements) {
    // /year /month /day /time /zone /date /weekday /yearday /precise /utc:
    // one field at most; /precise counts as none beside /time.
    enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
    int32_t fields = 0;
    for (int32_t i = YEAR; i <= PRECISE; i++) fields += used(refinements, i) ? 1 : 0;
    if (used(refinements, TIME) && used(refinements, PRECISE)) fields--;
    if (fields > 1) fire(ErrorCategory::script, "bad-refines");

    int32_t zone_minutes;
    double seconds = platform::get_epoch(used(refinements, PRECISE), &zone_minutes);
    Cell* result = date::make_at_epoch(cell::begin(stack::arguments), seconds);
    if (!used(refinements, UTC)) {
        // The local date and zone; an offset that is no whole quarter hour
        // is cut to one (the zone byte holds quarters).
        int32_t quarters = std::clamp(zone_minutes - zone_minutes % 15, -(15 * 60 + 45), 15 * 60 + 45);
        auto zone = uint32_t(date::zone_from_minutes(quarters));
        double t = date::get_time(result);
        int64_t n = date::normalize(date::to_days(date::packed(result)), &t, zone);
        date::make_at(result, date::from_days(n, zone, true), t);
    }
    if (used(refinements, DATE)) {
        uint32_t d = date::packed(result);
        date::make_at(result, date::pack(date::year_of(d), date::month_of(d), date::day_of(d), 0, false), 0.0);
        return;
    }
    static constexpr int32_t FIELD_OF[] = {2, 3, 4, 6, 5, 0, 10, 11};  // by refinement, YEAR to YEARDAY
    for (int32_t i = YEAR; i <= YEARDAY; i++) {
        if (i == DATE || !used(refinements, i)) continue;
        Cell value = *date::get_field(result, FIELD_OF[i]);
        stack::pop(1);
        stack::set_last(&value);
        return;
    }
}

void wait_star(bool check, const int32_t*) {
    if (check) check_argument(0, WAIT_TYPES);
    const Cell* value = arg(0);
    double seconds;
    switch (type_of(value)) {
        case TYPE_INTEGER: seconds = integer::get_value(value); break;
        case TYPE_FLOAT: case TYPE_TIME: seconds = float_::get(value); break;
        default: fire(ErrorCategory::script, "invalid-arg", value);
    }
    platform::wait(seconds);
    // The value stays as the result.
}

// ---- processes, files and the desktop ----

void call_star(bool check, const int32_t* refinements) {
    if (check) check_argument(0, STRING_OR_FILE);
    enum { WAIT, SHOW, CONSOLE, SHELL, INPUT, OUTPUT, ERROR };
    // /show has no effect here: a child has no window to show.
    int32_t result = call::run(arg(0), used(refinements, WAIT), used(refinements, CONSOLE),
                               used(refinements, SHELL), refinement_arg(refinements, INPUT),
                               refinement_arg(refinements, OUTPUT), refinement_arg(refinements, ERROR));
    integer::make_at(arg(0), result);
}

// Started without a shell and not waited for: the text is one argument,
// never a command line, and an opener that is missing or fails does nothing.
void browse_star(bool check, const int32_t*) {
    if (check) check_argument(0, URL_OR_FILE);
    std::string target = utf8_of(arg(0));
    // A file name that starts like an option is given as a relative path.
    if (type_of(arg(0)) == TYPE_FILE && !target.empty() && target[0] == '-') target.insert(0, "./");
    call::Launch launch;
    launch.argv = {"xdg-open", target};
    call::create_process(launch);
    unset::make_at(arg(0));
}

void size_q_star(bool check, const int32_t*) {
    if (check) check_argument(0, FILE_ONLY);
    std::string path = utf8_of(arg(0));
    Cell* result = arg(0);
    // A name ending in a slash names a folder; a name with NUL names no file.
    if (path.empty() || path.back() == '/' || has_nul_q(path)) {
        none::make_at(result);
        return;
    }
    // Non-blocking: opening a FIFO must not wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        none::make_at(result);
        return;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    if (!ok) none::make_at(result);
    else memory::make_stat_number(result, double(st.st_size));  // above 2147483647 bytes: a float!
}

// ---- memory ----

void stats_star(bool, const int32_t* refinements) {
    if (used(refinements, 0)) {
        // The library's show-memory-stats prints the detailed statistics:
        // the call [show-memory-stats <block>] is evaluated.
        Cell* call = block::make_at(stack::push_raw(), 2);
        Cell name = word::from_c_string("show-memory-stats");
        block::append_cell(call, &name);
        Cell* data = stack::push_raw();
        memory::collect_stats(data, memory::STATS_DETAILED);
        block::append_cell(call, data);
        interpreter::eval_block(call, false);
        if (stack::pending()) return;
        unset::make_at(arg(0));
        return;
    }
    Cell* result = arg(0);
    if (used(refinements, 1)) {
        memory::collect_stats(result, memory::STATS_DETAILED);
        return;
    }
    memory::make_stat_number(result, memory::collect_stats(nullptr, memory::STATS_SUMMARY));
}

void recycle_star(bool, const int32_t* refinements) {
    if (used(refinements, 0) || used(refinements, 1)) {
        if (used(refinements, 0)) collector::enabled = true;
        if (used(refinements, 1)) collector::enabled = false;
        unset::make_at(arg(0));
        return;
    }
    collector::collect();
    memory::make_stat_number(arg(0), memory::collect_stats(nullptr, memory::STATS_SUMMARY));
}

// ---- apply ----

void apply_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, APPLY_FUNC);
        check_argument(1, BLOCK);
    }
    Cell func = *arg(0);
    Cell args = *arg(1);
    Cell name = words::tag_applied;
    Cell fn = func;
    const Cell* path = nullptr;
    if (type_of(&func) == TYPE_WORD || type_of(&func) == TYPE_PATH) {
        Cell head = func;
        if (type_of(&func) == TYPE_PATH) {
            path = arg(0);
            SeriesBuffer* s = memory::buffer_of(func.w2);
            int32_t at = std::max(int32_t(func.w1), 0);
            if (at >= memory::length_of(s)) fire(ErrorCategory::script, "invalid-arg", &func);
            head = memory::cells_head(s)[at];
            if (type_of(&head) != TYPE_WORD) fire(ErrorCategory::script, "invalid-arg", &func);
        }
        word::get_any(&head, &fn);
        name = head;
    }
    if (!callable_q(type_of(&fn))) fire(ErrorCategory::script, "invalid-arg", &func);
    if (type_of(&fn) == TYPE_OP) {
        uint32_t wrapped = (fn.header >> OP_TYPE_SHIFT) & TYPE_MASK;
        fn.header &= ~(TYPE_MASK << OP_TYPE_SHIFT);
        cell::set_type(&fn, wrapped);
    }

    int32_t mode = used(refinements, 0) ? interpreter::APPLY_ALL : interpreter::APPLY_NAMED;
    if (used(refinements, 1)) mode += interpreter::APPLY_SAFER;
    // Codes thrown by the applied function travel on as from an interpreted call.
    stack::set_eval_flag();
    int32_t head = std::max(int32_t(args.w1), 0);
    int32_t end = memory::length_of(memory::buffer_of(args.w2));
    interpreter::eval_code(&fn, head, end, arg(1), false, path, &name, nullptr, mode, false);
}

}  // namespace zuv::natives
