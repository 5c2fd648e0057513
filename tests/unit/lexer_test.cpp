// The lexer core: tables, the main loop, nesting, events and syntax errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fixture.hpp"
#include "lexer/lexer.hpp"
#include "lexer/tables.hpp"
#include "runtime/collector.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"
#include "value_helpers.hpp"

namespace zuv {
namespace {

// ---- helpers ---------------------------------------------------------------

// The terminal states the automaton reaches over a text, token by token, as
// the main loop walks it: a token ends before its look-ahead byte, which the
// token functions of the delimiter, string, char, binary, percent, point and
// tag classes consume.
std::vector<int> terminal_states(const std::string& text) {
    std::vector<int> out;
    size_t pos = 0;
    while (pos < text.size()) {
        int state = 0;
        size_t p = pos;
        for (; p < text.size(); p++) {
            state = lexer::transitions[state * lexer::CLASS_COUNT + lexer::class_of(uint8_t(text[p]))];
            if (state > lexer::TERMINAL_BASE) break;
        }
        if (state <= lexer::TERMINAL_BASE) state = lexer::transitions[state * lexer::CLASS_COUNT + lexer::C_EOF];
        out.push_back(state);
        int cls = state - lexer::TERMINAL_BASE;
        bool eats_look_ahead = (cls >= lexer::TK_BLOCK_OPEN && cls <= lexer::TK_CONSTRUCT) ||
                               cls == lexer::TK_STRING || cls == lexer::TK_CHAR || cls == lexer::TK_BINARY ||
                               cls == lexer::TK_PERCENT || cls == lexer::TK_POINT || cls == lexer::TK_TAG;
        pos = eats_look_ahead ? p + 1 : p;
        if (cls == lexer::TK_END) break;
    }
    return out;
}

// One event as a C++ callback sees it.
struct Seen {
    std::string event;
    Cell type;
    int32_t line;
    Cell token;
};

// The C++ callback that the tests install in place of the interpreter's.
std::function<bool(Cell* args)> on_event;

bool test_hook(const Cell*, Cell* args, int32_t) { return on_event ? on_event(args) : true; }

std::string event_name(const Cell* word) {
    for (const Cell* w : {&words::prescan, &words::scan, &words::load, &words::open, &words::close, &words::error})
        if (w->w2 == word->w2) return w == &words::prescan ? "prescan"
                                     : w == &words::scan  ? "scan"
                                     : w == &words::load  ? "load"
                                     : w == &words::open  ? "open"
                                     : w == &words::close ? "close"
                                                          : "error";
    return "?";
}

// The exit-states block as the system object will hold it; here the class numbers.
Cell exit_states;
void exit_states_for_test(Cell* out) { *out = exit_states; }

class Lexer : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_runtime();
        lexer::callback_hook = test_hook;
        lexer::exit_states_hook = exit_states_for_test;
        block::make_at(&exit_states, lexer::TOKEN_CLASSES);
        collector::add_root(&exit_states);
        for (int i = 1; i <= lexer::TOKEN_CLASSES; i++) integer::make_in(&exit_states, i);
        on_event = nullptr;
    }
    void TearDown() override {
        collector::enabled = false;
        on_event = nullptr;
        lexer::callback_hook = nullptr;
        lexer::exit_states_hook = nullptr;
    }

    // Scans text with a callback that records every event; answers the events.
    std::vector<Seen> trace(const std::string& text, bool load = true, std::function<bool(const Seen&)> answer = {}) {
        std::vector<Seen> seen;
        on_event = [&](Cell* args) {
            Seen s{event_name(&args[0]), args[2], cell::as_int(args[3].w2), args[4]};
            seen.push_back(s);
            return answer ? answer(s) : true;
        };
        Cell result, callback;
        integer::make_at(cell::begin(&callback), 0);  // any value: the C++ hook does the calling
        none::make_at(&result);
        lexer::scan(&result, bytes(text), int32_t(text.size()), false, load, load, false, nullptr, &callback,
                    nullptr, nullptr);
        on_event = nullptr;
        return seen;
    }

    static const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

    // Loads text into a block; answers "category/id" of the error raised, or "".
    std::string load(const std::string& text, Cell* result, int32_t* consumed = nullptr) {
        none::make_at(result);
        return test::raised([&] {
            lexer::scan(result, bytes(text), int32_t(text.size()), false, true, true, false, consumed, nullptr,
                        nullptr, nullptr);
        });
    }

    // The class number of a prescan's type argument (a datatype for the
    // classes that have one).
    static int class_of_type(const Cell& type) {
        if (type_of(&type) == TYPE_INTEGER) return integer::get_value(&type);
        switch (type.w1) {
        case TYPE_WORD: return lexer::TK_WORD;
        case TYPE_INTEGER: return lexer::TK_INTEGER;
        default: return -int(type.w1);
        }
    }
};

// ---- tables ------------------------------------------------------------------

TEST_F(Lexer, CharacterClassesAndFlags) {
    struct Case { uint8_t byte; int cls; uint32_t flags; };
    const Case cases[] = {
        {'\t', lexer::C_BLANK, 0}, {'\n', lexer::C_LINE, 0}, {'7', lexer::C_DIGIT, 0}, {'0', lexer::C_ZERO, 0},
        {'#', lexer::C_SHARP, lexer::C_FLAG_SHARP}, {'\'', lexer::C_QUOTE, lexer::C_FLAG_QUOTE},
        {'e', lexer::C_E_LOWER, lexer::C_FLAG_EXP}, {'E', lexer::C_E_UPPER, lexer::C_FLAG_EXP},
        {'f', lexer::C_ALPHA_LOWER, 0}, {'F', lexer::C_ALPHA_UPPER, 0}, {'t', lexer::C_WORD, 0},
        {'T', lexer::C_T, 0}, {'H', lexer::C_WORD, 0}, {'|', lexer::C_WORD, 0}, {'-', lexer::C_MINUS, lexer::C_FLAG_SIGN},
        {'^', lexer::C_CARET, lexer::C_FLAG_CARET}, {0x0B, lexer::C_CONTROL, 0}, {0x7F, lexer::C_HIGH, 0},
        {0xBF, lexer::C_HIGH, 0}, {0xC1, lexer::C_ILLEGAL, 0}, {0xC2, lexer::C_WORD, lexer::C_FLAG_UNICODE},
        {0xEF, lexer::C_WORD, lexer::C_FLAG_UNICODE}, {0xF0, lexer::C_WORD, lexer::C_FLAG_UNICODE4},
        {0xF8, lexer::C_ILLEGAL, 0}, {0, lexer::C_EOF, lexer::C_FLAG_EOF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.byte));
        EXPECT_EQ(lexer::char_descriptors[c.byte] & 0xFF, uint32_t(c.cls));
        EXPECT_EQ(lexer::char_descriptors[c.byte] & ~0xFFu, c.flags);
    }
    EXPECT_EQ(lexer::unit_of_flags(0), 1);
    EXPECT_EQ(lexer::unit_of_flags(lexer::C_FLAG_UNICODE), 2);
    EXPECT_EQ(lexer::unit_of_flags(lexer::C_FLAG_UNICODE | lexer::C_FLAG_UNICODE4), 4);
}

TEST_F(Lexer, TransitionTableTraces) {
    // The automaton's own traces: token by token, the terminal state reached.
    EXPECT_EQ(terminal_states("append [1 2] 3"), (std::vector<int>{80, 68, 82, 82, 69, 82}));
    EXPECT_EQ(terminal_states("abc"), (std::vector<int>{80}));
    EXPECT_EQ(terminal_states("1.5 1.2.3 12:30 1x2 $1 <a> a@b http://x 10% FFh"),
              (std::vector<int>{88, 90, 94, 92, 95, 96, 98, 97, 87, 99}));
    EXPECT_EQ(terminal_states("\"s\" #\"c\" %f #{00} ;c\n"), (std::vector<int>{79, 84, 85, 86, 77, 66}));
    EXPECT_EQ(terminal_states("1-Feb-2020 /ref #iss 1.#INF %{r}% @r"), (std::vector<int>{91, 83, 81, 89, 100, 101}));
    // Skip and line tables, terminal type bytes.
    EXPECT_EQ(lexer::state_skip[0], 1);
    EXPECT_EQ(lexer::state_skip[52], 0);
    EXPECT_EQ(lexer::line_table[lexer::C_LINE], 1);
    EXPECT_EQ(lexer::line_table[lexer::C_BLANK], 0);
    EXPECT_EQ(lexer::state_type[80], TYPE_WORD);
    EXPECT_EQ(lexer::state_type[67], TYPE_ERROR);
    EXPECT_EQ(lexer::state_type[93], TYPE_POINT2D);
    EXPECT_EQ(lexer::state_type[2], TYPE_STRING);
    EXPECT_EQ(lexer::state_type[23], TYPE_INTEGER);
    EXPECT_STREQ(lexer::token_class_names[lexer::TK_WORD], "word");
}

// ---- the main loop -------------------------------------------------------------

TEST_F(Lexer, PrescanTraceOfAConsoleLine) {
    std::vector<int> classes;
    std::vector<std::pair<uint32_t, uint32_t>> positions;
    for (const Seen& s : trace("append [1 2] 3")) {
        if (s.event != "prescan") continue;
        classes.push_back(class_of_type(s.type));
        positions.push_back({s.token.w2, s.token.w3});
    }
    EXPECT_EQ(classes, (std::vector<int>{15, 3, 17, 17, 4, 17}));
    // 1-based start and end (the end is the look-ahead byte).
    EXPECT_EQ(positions[0], (std::pair<uint32_t, uint32_t>{1, 7}));
    EXPECT_EQ(positions[2], (std::pair<uint32_t, uint32_t>{9, 10}));
}

TEST_F(Lexer, EmptyInputGivesAnEmptyBlock) {
    Cell result;
    int32_t consumed = -1;
    EXPECT_EQ(load("", &result, &consumed), "");
    ASSERT_EQ(type_of(&result), TYPE_BLOCK);
    EXPECT_EQ(block::zs_length_q(&result), 0);
    EXPECT_EQ(consumed, 0);
}

TEST_F(Lexer, OneValueStopsAfterTheFirstValue) {
    const std::string text = "12 34 56";
    Cell result;
    none::make_at(&result);
    int32_t consumed = 0;
    lexer::scan(&result, bytes(text), int32_t(text.size()), true, true, true, false, &consumed, nullptr, nullptr,
                nullptr);
    EXPECT_EQ(consumed, 2);  // the blank after the first integer is not consumed
}

TEST_F(Lexer, NulEndsTheInput) {
    const std::string text("abc\0def ghi", 11);
    int words = 0;
    on_event = nullptr;
    std::vector<Seen> seen;
    Cell result, callback;
    integer::make_at(cell::begin(&callback), 0);
    on_event = [&](Cell* args) {
        if (event_name(&args[0]) == "prescan" && type_of(&args[2]) == TYPE_DATATYPE && args[2].w1 == TYPE_WORD) words++;
        return true;
    };
    int32_t consumed = 0;
    lexer::scan(&result, bytes(text), int32_t(text.size()), false, true, true, false, &consumed, &callback, nullptr,
                nullptr);
    EXPECT_EQ(words, 1);
    EXPECT_EQ(consumed, 11);  // the rest is skipped, not left
}

TEST_F(Lexer, SpecialSpacesAroundWords) {
    // U+00A0 before a word is trimmed from the token; a line of U+3000 is blank.
    std::vector<Seen> seen = trace("\xC2\xA0" "abc");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].event, "prescan");
    EXPECT_EQ(seen[0].token.w2, 3u);  // bytes: the word starts after the two-byte space
    int prescans = 0;
    for (const Seen& s : trace("\xE3\x80\x80\xE3\x80\x80"))
        if (s.event == "prescan" && class_of_type(s.type) != lexer::TK_END) prescans++;
    EXPECT_EQ(prescans, 0);
}

TEST_F(Lexer, FalsePrescanStillAdvances) {
    // Refusing every token must not leave the scan on a delimiter forever.
    int events = 0;
    trace("[ ] ( ) { } #[ a/b", true, [&](const Seen&) { return ++events > 1000; });
    EXPECT_LT(events, 100);
}

TEST_F(Lexer, CallbackMovingTheInputSkipsText) {
    // A string source: the callback moves the input two characters past the
    // first word's end, so "b" is never seen.
    Cell src;
    string::make_at_unit(&src, 8, 1);
    string::append_c_string(&src, "a b c");
    std::vector<uint32_t> starts;
    on_event = [&](Cell* args) {
        if (event_name(&args[0]) != "prescan") return true;
        starts.push_back(args[4].w2);
        if (args[4].w2 != 1) return true;
        args[1].w1 += 2;
        return false;  // nor load "a": its loader would set the position itself
    };
    Cell result, callback;
    integer::make_at(cell::begin(&callback), 0);
    lexer::scan_string(&result, &src, -1, false, true, true, false, nullptr, &callback, nullptr);
    EXPECT_EQ(starts, (std::vector<uint32_t>{1, 5}));
}

// ---- events ------------------------------------------------------------------

// A function!-shaped value: a spec block and a more block whose first cell is the body.
Cell fake_function(const std::vector<const Cell*>& spec_cells, const Cell* body_first) {
    Cell spec, more, body, fn;
    block::make_at(&spec, 4);
    for (const Cell* c : spec_cells) block::append_cell(&spec, c);
    block::make_at(&body, 2);
    if (body_first) block::append_cell(&body, body_first);
    block::make_at(&more, 5);
    block::append_cell(&more, &body);
    cell::begin(&fn);
    fn.w2 = spec.w2;
    fn.w3 = more.w2;
    cell::set_type(&fn, TYPE_FUNCTION);
    return fn;
}

TEST_F(Lexer, EventMaskFromTheBody) {
    Cell filter;
    block::make_at(&filter, 2);
    block::append_cell(&filter, &words::open);
    block::append_cell(&filter, &words::close);
    Cell filtered = fake_function({}, &filter);
    EXPECT_EQ(lexer::event_mask(&filtered), lexer::EVT_OPEN | lexer::EVT_CLOSE);
    Cell plain = fake_function({}, &words::append);
    EXPECT_EQ(lexer::event_mask(&plain), uint32_t(lexer::EVT_ALL));
    Cell local_spec = fake_function({&words::append, &refinements::local, &words::at, &words::back}, nullptr);
    EXPECT_EQ(lexer::callback_locals(&local_spec), 3);

    // Only the events in the mask are delivered.
    std::vector<std::string> seen;
    on_event = [&](Cell* args) {
        seen.push_back(event_name(&args[0]));
        return true;
    };
    const std::string text = "a [b (c)]";
    Cell result;
    lexer::scan(&result, bytes(text), int32_t(text.size()), false, true, true, false, nullptr, &filtered, nullptr,
                nullptr);
    for (const std::string& e : seen) EXPECT_TRUE(e == "open" || e == "close") << e;
}

TEST_F(Lexer, MarkBuffersReachesEveryActiveScan) {
    // During an event of a nested scan, both scans' callbacks and sources are marked.
    std::vector<Cell> marked;
    static std::vector<Cell>* sink;
    sink = &marked;
    bool nested = false;
    Cell outer_cb, inner_cb, result;
    integer::make_at(cell::begin(&outer_cb), 111);
    integer::make_at(cell::begin(&inner_cb), 222);
    on_event = [&](Cell*) {
        if (!nested) {
            nested = true;
            const std::string inner = "x";
            Cell r;
            lexer::scan(&r, bytes(inner), 1, false, true, true, false, nullptr, &inner_cb, nullptr, nullptr);
        } else if (marked.empty()) {
            lexer::mark_buffers([](const Cell* c) { sink->push_back(*c); });
        }
        return true;
    };
    const std::string text = "a";
    lexer::scan(&result, bytes(text), 1, false, true, true, false, nullptr, &outer_cb, nullptr, nullptr);
    int callbacks = 0;
    for (const Cell& c : marked)
        if (type_of(&c) == TYPE_INTEGER && (c.w2 == 111 || c.w2 == 222)) callbacks++;
    EXPECT_EQ(callbacks, 2);
    EXPECT_EQ(lexer::chain, nullptr);  // both states unlinked
}

// ---- syntax errors -------------------------------------------------------------

TEST_F(Lexer, InvalidUtf8InAWordIsASyntaxError) {
    Cell result;
    EXPECT_EQ(load("a\nb\n\xC2" "A rest", &result), "syntax/invalid");
    const PendingError& e = runtime::pending_error();
    EXPECT_EQ(test::text_of(const_cast<Cell*>(&e.args[0])), "(line 3)");
    EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_WORD));
    Cell text = e.args[2];
    EXPECT_EQ(string::total_length(&text), 7);  // U+FFFD "A rest"
    EXPECT_EQ(string::char_at(&text, 0), 0xFFFDu);
    EXPECT_EQ(lexer::chain, nullptr);
}

TEST_F(Lexer, CharactersTheTextDecoderRefusesAreSyntaxErrors) {
    // U+FFFE and the low surrogates U+DC00-U+DCFF pass a plain UTF-8 check but
    // not the decoder that makes the value: the scan itself must refuse them.
    Cell result;
    for (const char* text : {"a\xEF\xBF\xBE" "b", "\"\xEF\xBF\xBE\"", "x\xED\xB0\x80"})
        EXPECT_EQ(load(text, &result), "syntax/invalid") << text;
}

TEST_F(Lexer, ErrorTextIsCutAtThirtyBytesOrALineFeed) {
    Cell result;
    // 31 bytes of word: the two-byte character crossing the mark is taken whole.
    std::string word = "\xC2" "A" + std::string(27, 'b') + "\xC3\xA9" + "zzz";
    EXPECT_EQ(load(word, &result), "syntax/invalid");
    Cell text = runtime::pending_error().args[2];
    EXPECT_EQ(string::total_length(&text), 30);
    EXPECT_EQ(string::char_at(&text, 29), 0xE9u);

    EXPECT_EQ(load("\xC2" "A [1]\nnext line", &result), "syntax/invalid");
    text = runtime::pending_error().args[2];
    EXPECT_EQ(test::text_of(&text).substr(1), "A [1]");
}

TEST_F(Lexer, QuietScanReportsErrorType) {
    // Nothing built: the error stops the scan quietly with error! as its type.
    const std::string text = "\xC2" "A";
    int32_t type = 0;
    EXPECT_EQ(test::raised([&] {
                  type = lexer::scan(nullptr, bytes(text), int32_t(text.size()), true, true, false, false, nullptr,
                                     nullptr, nullptr, nullptr);
              }),
              "");
    EXPECT_EQ(type, TYPE_ERROR);
}

TEST_F(Lexer, ErrorEventAnsweredFalseStopsQuietly) {
    int errors = 0;
    std::string raised = test::raised([&] {
        trace("a \xC2" "A b", true, [&](const Seen& s) {
            if (s.event == "error") errors++;
            return s.event != "error";
        });
    });
    EXPECT_EQ(raised, "");
    EXPECT_EQ(errors, 1);
}

TEST_F(Lexer, MissingDelimiters) {
    struct Case { const char* text; const char* where; uint32_t missing; const char* at; };
    const Case cases[] = {
        {"[1 2", "(line 1)", ']', "[1 2"},
        {")", "(line 1)", '(', ")"},
        {"a [b (c]", "(line 1)", '[', "]"},
        {"x\n[1\n2 3", "(line 2)", ']', "[1"},  // the line of the "[", not of the end
        {"a\nb\nc ]", "(line 3)", '[', "]"},
    };
    collector::enabled = true;  // the error's texts are built across allocations
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Cell result;
        ASSERT_EQ(load(c.text, &result), "syntax/missing");
        const PendingError& e = runtime::pending_error();
        Cell where = e.args[0], text = e.args[2];
        EXPECT_EQ(test::text_of(&where), c.where);
        EXPECT_EQ(type_of(&e.args[1]), TYPE_CHAR);
        EXPECT_EQ(e.args[1].w2, c.missing);
        EXPECT_EQ(test::text_of(&text), c.at);
        EXPECT_EQ(lexer::chain, nullptr);
    }
}

TEST_F(Lexer, InvalidTokensNameTheirDatatype) {
    // The datatype of the state the automaton failed in.
    struct Case { const char* text; int32_t type; };
    const Case cases[] = {
        {"\"abc", TYPE_STRING}, {"#\"ab", TYPE_CHAR}, {"%\"abc", TYPE_FILE}, {"1.2.a", TYPE_TUPLE},
        {"$1x", TYPE_MONEY},    {"12:3a", TYPE_TIME}, {"a@b#", TYPE_EMAIL},  {"<a", TYPE_TAG},
        {"abc%", TYPE_WORD},    {"#{0", TYPE_BINARY}, {"1a", TYPE_INTEGER},  {"1e5x", TYPE_FLOAT},
        {"/,", TYPE_REFINEMENT}, {"{abc", TYPE_STRING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Cell result;
        ASSERT_EQ(load(c.text, &result), "syntax/invalid");
        EXPECT_EQ(runtime::pending_error().args[1].w1, uint32_t(c.type));
    }
    Cell result;
    EXPECT_EQ(load("a }", &result), "syntax/bad-char");
    Cell where = runtime::pending_error().args[0];
    EXPECT_EQ(test::text_of(&where), "(line 1)");
    EXPECT_EQ(load("a\n\nb \"open", &result), "syntax/invalid");
    where = runtime::pending_error().args[0];
    EXPECT_EQ(test::text_of(&where), "(line 3)");
}

TEST_F(Lexer, LoadsAConsoleLine) {
    Cell result;
    int32_t consumed = 0;
    ASSERT_EQ(load("append [1 2]\n3", &result, &consumed), "");
    EXPECT_EQ(consumed, 14);
    ASSERT_EQ(type_of(&result), TYPE_BLOCK);
    ASSERT_EQ(block::zs_length_q(&result), 3);
    const Cell* v = block::zs_head(&result);
    EXPECT_EQ(type_of(&v[0]), TYPE_WORD);
    EXPECT_FALSE(cell::new_line_q(&v[0]));  // the first value of the input
    ASSERT_EQ(type_of(&v[1]), TYPE_BLOCK);
    EXPECT_FALSE(cell::new_line_q(&v[1]));
    EXPECT_EQ(type_of(&v[2]), TYPE_INTEGER);
    EXPECT_TRUE(cell::new_line_q(&v[2]));  // after a line break
    EXPECT_EQ(integer::get_value(&v[2]), 3);
    Cell inner = v[1];
    ASSERT_EQ(block::zs_length_q(&inner), 2);
    EXPECT_EQ(integer::get_value(block::zs_head(&inner) + 1), 2);
}

TEST_F(Lexer, PathsNestInsideBlocks) {
    Cell result;
    ASSERT_EQ(load("[a/b/(c) x:]", &result), "");
    Cell outer = *block::zs_head(&result);
    ASSERT_EQ(type_of(&outer), TYPE_BLOCK);
    ASSERT_EQ(block::zs_length_q(&outer), 2);
    Cell path = *block::zs_head(&outer);
    EXPECT_EQ(type_of(&path), TYPE_PATH);
    ASSERT_EQ(block::zs_length_q(&path), 3);
    EXPECT_EQ(type_of(block::zs_head(&path) + 2), TYPE_PAREN);
    EXPECT_EQ(type_of(block::zs_head(&outer) + 1), TYPE_SET_WORD);
    EXPECT_EQ(load("a/b:", &result), "");
    EXPECT_EQ(type_of(block::zs_head(&result)), TYPE_SET_PATH);
    EXPECT_EQ(load("a/b/", &result), "syntax/invalid");
    EXPECT_EQ(runtime::pending_error().args[1].w1, uint32_t(TYPE_PATH));
    EXPECT_EQ(load("a/", &result), "syntax/bad-char");  // a path left open
}

TEST_F(Lexer, ScanStringCountsCharacters) {
    Cell src, result;
    string::make_at_unit(&src, 8, 1);
    string::append_c_string(&src, "x ");
    string::append_char(&src, 0xE9);  // a two-byte character in UTF-8
    string::append_c_string(&src, " [1] y");
    int32_t consumed = 0;
    lexer::scan_string(&result, &src, -1, false, true, true, false, &consumed, nullptr, nullptr);
    EXPECT_EQ(consumed, 9);
    EXPECT_EQ(block::zs_length_q(&result), 4);
    // One value: the first value itself, and the characters up to its end.
    lexer::scan_string(&result, &src, -1, true, true, true, false, &consumed, nullptr, nullptr);
    EXPECT_EQ(type_of(&result), TYPE_WORD);
    EXPECT_EQ(consumed, 1);
}

TEST_F(Lexer, OpenAndCloseEventsOfAnUnclosedLine) {
    // What the console's bracket check relies on: open events, then the error.
    std::vector<std::string> seen;
    std::string raised = test::raised([&] {
        for (const Seen& s : trace("a [b (c", true, [](const Seen& s) { return s.event != "error"; }))
            if (s.event == "open" || s.event == "close" || s.event == "error")
                seen.push_back(s.event + " " + std::to_string(s.type.w1));
    });
    EXPECT_EQ(raised, "");
    EXPECT_EQ(seen, (std::vector<std::string>{"open 5", "open 6", "error 6"}));
}

TEST_F(Lexer, ValuesSurviveCollectionsDuringAScan) {
    // More values than the value buffer first holds, with collections run
    // from the callback in the middle of the scan.
    std::string text;
    for (int i = 0; i < 1500; i++) text += "[\"s" + std::to_string(i) + "\" " + std::to_string(i) + "]\n";
    Cell result, callback;
    none::make_at(&result);
    collector::Root keep(result);
    integer::make_at(cell::begin(&callback), 0);
    int events = 0;
    on_event = [&](Cell*) {
        if (++events % 997 == 0) collector::collect();
        return true;
    };
    collector::enabled = true;
    lexer::scan(&result, bytes(text), int32_t(text.size()), false, true, true, false, nullptr, &callback, nullptr,
                nullptr);
    collector::collect();
    collector::enabled = false;
    ASSERT_EQ(block::zs_length_q(&result), 1500);
    for (int i = 0; i < 1500; i += 149) {
        Cell item = block::zs_head(&result)[i];
        ASSERT_EQ(type_of(&item), TYPE_BLOCK);
        EXPECT_EQ(cell::new_line_q(&item), i > 0);
        Cell str = *block::zs_head(&item);
        EXPECT_EQ(test::text_of(&str), "s" + std::to_string(i));
        EXPECT_EQ(integer::get_value(block::zs_head(&item) + 1), i);
    }
}

}  // namespace
}  // namespace zuv
