// Well-known words: the symbol ids and word cells the runtime compares with
// and sends as events, made once at start-up (right after the symbol table
// and the global context) and kept for the life of the process.
//
// sym::NAME        a symbol id (symbol::make)
// words::NAME      a word! bound to the global context
// refinements::NAME a refinement! without a context
// well_known::ooo  the issue! #ooo
//
// C++ names follow the spelling: "-" becomes "_", a final "?" "_q", a final
// "*" "_star", a final "!" "_t"; C++ keywords take a final "_"; "<x>" becomes tag_x.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

// X(C++ name, spelling), in the order they are made.
#define ZUV_WELL_KNOWN_SYMBOLS(X)                                                                    \
    X(spec, "spec") X(body, "body") X(words, "words") X(class_, "class") X(logic_t, "logic!")          \
    X(integer_t, "integer!") X(char_t, "char!") X(float_t, "float!") X(percent_t, "percent!")          \
    X(any_type_t, "any-type!") X(exit, "exit") X(return_, "return") X(Windows, "Windows")              \
    X(Syllable, "Syllable") X(macOS, "macOS") X(Linux, "Linux") X(NetBSD, "NetBSD") X(repeat, "repeat") \
    X(foreach, "foreach") X(map_each, "map-each") X(remove_each, "remove-each") X(any, "any")          \
    X(break_, "break") X(copy, "copy") X(end, "end") X(fail, "fail") X(into, "into") X(opt, "opt")      \
    X(not_, "not") X(quote, "quote") X(case_, "case") X(reject, "reject") X(set, "set") X(skip, "skip") \
    X(some, "some") X(thru, "thru") X(to, "to") X(none, "none") X(bar, "|") X(dash, "-") X(if_, "if")   \
    X(remove, "remove") X(while_, "while") X(insert, "insert") X(only, "only") X(collect, "collect")    \
    X(keep, "keep") X(pick, "pick") X(ahead, "ahead") X(after, "after") X(x, "x") X(y, "y") X(z, "z")   \
    X(self, "self") X(values, "values") X(owner, "owner") X(owned, "owned") X(events_q, "events?")      \
    X(true_, "true") X(false_, "false") X(yes, "yes") X(no, "no") X(on, "on") X(off, "off")            \
    X(type, "type") X(face, "face") X(window, "window") X(offset, "offset") X(key, "key")              \
    X(flag, "flag") X(code, "code") X(picked, "picked") X(flags, "flags") X(away_q, "away?")           \
    X(ctrl_q, "ctrl?") X(shift_q, "shift?") X(down_q, "down?") X(mid_down_q, "mid-down?")              \
    X(alt_down_q, "alt-down?") X(aux_down_q, "aux-down?") X(orientation, "orientation") X(get, "get")  \
    X(put, "put") X(post, "post") X(head, "head") X(size, "size") X(rgb, "rgb") X(alpha, "alpha")      \
    X(argb, "argb") X(date, "date") X(year, "year") X(month, "month") X(day, "day") X(zone, "zone")    \
    X(isoweek, "isoweek") X(week, "week") X(weekday, "weekday") X(yearday, "yearday")                  \
    X(julian, "julian") X(time, "time") X(hour, "hour") X(minute, "minute") X(second, "second")        \
    X(timezone, "timezone") X(amount, "amount") X(user, "user") X(host, "host") X(system, "system")    \
    X(system_global, "system-global") X(stack, "stack") X(trace, "trace") X(no_trace, "no-trace")       \
    X(console, "console")

// ID(C++ name): the global word of the symbol sym::NAME;
// NAME(C++ name, spelling): the global word of a name. In the order they are made.
#define ZUV_WELL_KNOWN_WORDS(ID, NAME)                                                               \
    ID(Windows) ID(Syllable) ID(macOS) ID(Linux) ID(NetBSD) ID(to) ID(thru) ID(not_) ID(remove)        \
    ID(while_) ID(collect) ID(keep) ID(ahead) ID(bar) ID(any) ID(some) ID(copy) ID(opt) ID(into)       \
    ID(insert) ID(if_) ID(quote) ID(set) ID(case_)                                                     \
    NAME(at, "at") NAME(back, "back") NAME(find, "find") NAME(head, "head") NAME(head_q, "head?")       \
    NAME(index_q, "index?") NAME(length_q, "length?") NAME(next, "next") NAME(pick, "pick")            \
    NAME(skip, "skip") NAME(select, "select") NAME(tail, "tail") NAME(tail_q, "tail?")                 \
    NAME(change, "change") NAME(changed, "changed") NAME(clear, "clear") NAME(cleared, "cleared")       \
    NAME(set_path, "set-path") NAME(append, "append") NAME(appended, "appended") NAME(move, "move")    \
    NAME(moved, "moved") NAME(poke, "poke") NAME(poked, "poked") NAME(put, "put") NAME(put_ed, "put-ed") \
    NAME(removed, "removed") NAME(random, "random") NAME(randomized, "randomized")                     \
    NAME(reverse, "reverse") NAME(reversed, "reversed") NAME(sort, "sort") NAME(sorted, "sorted")      \
    NAME(swap, "swap") NAME(swaped, "swaped") NAME(take, "take") NAME(taken, "taken")                  \
    NAME(trim, "trim") NAME(trimmed, "trimmed") NAME(inserted, "inserted")                             \
    NAME(uppercase, "uppercase") NAME(lowercase, "lowercase") NAME(checksum, "checksum")               \
    NAME(push, "push") NAME(pop, "pop") NAME(fetch, "fetch") NAME(match, "match")                      \
    NAME(iterate, "iterate") NAME(paren, "paren") NAME(tag_anon, "<anon>") NAME(tag_body, "<body>")    \
    NAME(tag_not_found, "<not-found>")                                                                 \
    ID(end)                                                                                            \
    NAME(add, "add") NAME(subtract, "subtract") NAME(divide, "divide")                                 \
    NAME(on_parse_event, "on-parse-event") NAME(on_change_star, "on-change*")                          \
    NAME(on_deep_change_star, "on-deep-change*") NAME(type, "type") NAME(id, "id") NAME(try_, "try")    \
    NAME(catch_, "catch") NAME(name, "name") NAME(multiply, "multiply") NAME(browse, "browse")         \
    NAME(open, "open") NAME(create, "create") NAME(close, "close") NAME(delete_, "delete")             \
    NAME(modify, "modify") NAME(query, "query") NAME(read, "read") NAME(rename, "rename")              \
    NAME(update, "update") NAME(write, "write") NAME(prescan, "prescan") NAME(scan, "scan")            \
    NAME(load, "load") NAME(error, "error") NAME(comment, "comment") NAME(init, "init")                \
    NAME(exec, "exec") NAME(call, "call") NAME(return_, "return") NAME(enter, "enter")                 \
    NAME(exit, "exit") NAME(prolog, "prolog") NAME(epilog, "epilog") NAME(throw_, "throw")             \
    NAME(expr, "expr") NAME(tag_interp_callback, "<interp-callback>")                                  \
    NAME(tag_lexer_callback, "<lexer-callback>") NAME(tag_parse_callback, "<parse-callback>")          \
    NAME(tag_compare_callback, "<compare-callback>") NAME(note, "note") NAME(syntax, "syntax")         \
    NAME(script, "script") NAME(math, "math") NAME(access, "access") NAME(user, "user")                \
    NAME(internal, "internal") NAME(invalid_error, "invalid-error") NAME(local, "local")               \
    NAME(tag_applied, "<applied>")

// X(C++ name, spelling)
#define ZUV_WELL_KNOWN_REFINEMENTS(X) \
    X(local, "local") X(extern_, "extern") X(compare, "compare") X(part, "part") X(skip, "skip") X(with, "with")

namespace zuv::sym {
#define ZUV_DECLARE_SYMBOL(name, text) extern int32_t name;
ZUV_WELL_KNOWN_SYMBOLS(ZUV_DECLARE_SYMBOL)
#undef ZUV_DECLARE_SYMBOL
}  // namespace zuv::sym

namespace zuv::words {
#define ZUV_DECLARE_WORD_ID(name) extern Cell name;
#define ZUV_DECLARE_WORD_NAME(name, text) extern Cell name;
ZUV_WELL_KNOWN_WORDS(ZUV_DECLARE_WORD_ID, ZUV_DECLARE_WORD_NAME)
#undef ZUV_DECLARE_WORD_ID
#undef ZUV_DECLARE_WORD_NAME
}  // namespace zuv::words

namespace zuv::refinements {
#define ZUV_DECLARE_REFINEMENT(name, text) extern Cell name;
ZUV_WELL_KNOWN_REFINEMENTS(ZUV_DECLARE_REFINEMENT)
#undef ZUV_DECLARE_REFINEMENT
}  // namespace zuv::refinements

namespace zuv::well_known {

extern Cell ooo;  // the issue! #ooo

// The three start-up steps, in this order.
void init_words();
void init_refinements();
void init_issue();

}  // namespace zuv::well_known
