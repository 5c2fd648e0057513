// string!: find and select, sort, append, insert, change, swap, take, trim,
// the set operations and path access by a text key, run through the action
// entries with the collector on (a GC-stress build moves every buffer at
// every allocation meanwhile).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;

namespace {

constexpr int32_t NO = -1;  // an absent refinement
constexpr int32_t YES = 0;  // a used refinement without an argument

// A string! from UTF-8 text, its head at index head.
Cell S(const char* utf8, int32_t head = 0, uint32_t type = TYPE_STRING) {
    Cell s{};
    string::load_at(reinterpret_cast<const uint8_t*>(utf8), int32_t(std::strlen(utf8)), &s, 0);
    s.w1 = uint32_t(head);
    return *cell::set_type(&s, type);
}
Cell C(uint32_t cp) {
    Cell c{};
    return *char_::make_at(&c, cp);
}
Cell I(int32_t v) { return test::integer_of(v); }

std::string utf8_of(Cell s) {
    int32_t length = -1;
    const uint8_t* p = unicode::to_utf8(&s, &length);
    return std::string(reinterpret_cast<const char*>(p), size_t(length));
}

// A value as the tests compare it: text as its whole series "@" its head,
// a char! as #"x", an integer!, none.
std::string show(Cell v) {
    switch (type_of(&v)) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_BINARY: {
        int32_t head = int32_t(v.w1);
        v.w1 = 0;
        return utf8_of(v) + "@" + std::to_string(head);
    }
    case TYPE_CHAR: {
        Cell s = S("");
        string::append_char(&s, v.w2);
        return "#\"" + utf8_of(s) + "\"";
    }
    case TYPE_INTEGER: return std::to_string(integer::get_value(&v));
    case TYPE_NONE: return "none";
    default: return "type " + std::to_string(type_of(&v));
    }
}
// The whole series of a text value, without its head.
std::string whole(Cell v) {
    v.w1 = 0;
    return utf8_of(v);
}
uint32_t unit_of(const Cell& s) { return memory::unit_of(string::buffer(&s)); }

// Runs an action entry on the arguments (pushed in order from the call's
// first argument) with the collector on; the result shown, or "!" and the
// error's "category/id".
template <class Entry>
std::string run(const char* name, const std::vector<Cell>& args, Entry entry) {
    test::Call call(name);
    for (const Cell& a : args) stack::push(&a);
    collector::enabled = true;
    std::string error = call.run([&] { entry(); });
    collector::enabled = false;
    return error.empty() ? show(*call.result()) : "!" + error;
}

// Adds a refinement's argument after the others; answers its offset.
int32_t ref(std::vector<Cell>& args, const Cell& arg) {
    args.push_back(arg);
    return int32_t(args.size() - 1);
}

class StringEdit : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }
    void TearDown() override { collector::enabled = false; }
};

// ---- find and select ----

struct Find {
    const Cell* part = nullptr;
    const Cell* skip = nullptr;
    const Cell* with = nullptr;
    bool case_ = false, same = false, any = false, last = false, reverse = false, tail = false, match = false;
};

std::string find(Cell series, Cell key, Find f = {}) {
    std::vector<Cell> args{series, key};
    int32_t part = f.part ? ref(args, *f.part) : NO;
    int32_t with = f.with ? ref(args, *f.with) : NO;
    int32_t skip = f.skip ? ref(args, *f.skip) : NO;
    auto flag = [](bool b) { return b ? YES : NO; };
    return run("find", args, [&] {
        actions::find_star(part, NO, flag(f.case_), flag(f.same), flag(f.any), with, skip, flag(f.last),
                           flag(f.reverse), flag(f.tail), flag(f.match));
    });
}

std::string select(Cell series, Cell key, Find f = {}) {
    std::vector<Cell> args{series, key};
    int32_t part = f.part ? ref(args, *f.part) : NO;
    int32_t skip = f.skip ? ref(args, *f.skip) : NO;
    auto flag = [](bool b) { return b ? YES : NO; };
    return run("select", args, [&] {
        actions::select_star(part, NO, flag(f.case_), NO, NO, NO, skip, flag(f.last), flag(f.reverse));
    });
}

TEST_F(StringEdit, FindModes) {
    const Cell two = I(2), three = I(3), zero = I(0), one = I(1);
    struct Case {
        const char* what;
        std::string got;
        const char* expected;
    };
    const Case cases[] = {
        {"folded text", find(S("abc"), S("B")), "abc@1"},
        {"/case", find(S("abc"), S("B"), {.case_ = true}), "none"},
        {"/same", find(S("abc"), S("B"), {.same = true}), "none"},
        {"/tail", find(S("abc"), S("B"), {.tail = true}), "abc@2"},
        {"from the head on", find(S("abcabc", 2), C('b')), "abcabc@4"},
        {"/last", find(S("abcabc"), S("b"), {.last = true}), "abcabc@4"},
        {"/last text", find(S("abcabc"), S("abc"), {.last = true}), "abcabc@3"},
        {"/last /part", find(S("abcabc"), C('b'), {.part = &three, .last = true}), "abcabc@1"},
        {"/reverse from the tail", find(S("abcabc", 6), S("b"), {.reverse = true}), "abcabc@4"},
        {"/reverse before the head", find(S("abcabc", 4), S("b"), {.reverse = true}), "abcabc@1"},
        {"/reverse text", find(S("abcabc", 6), S("bc"), {.reverse = true}), "abcabc@4"},
        {"/reverse /part", find(S("abcabc", 4), C('a'), {.part = &one, .reverse = true}), "abcabc@3"},
        {"/reverse /part too short", find(S("abcabc", 4), C('b'), {.part = &one, .reverse = true}), "none"},
        {"/reverse at the head", find(S("abc"), C('a'), {.reverse = true}), "none"},
        {"/match", find(S("abc"), S("ab"), {.match = true}), "abc@0"},
        {"/match /tail", find(S("abc"), S("ab"), {.tail = true, .match = true}), "abc@2"},
        {"/match elsewhere", find(S("abc"), S("b"), {.match = true}), "none"},
        {"/reverse /match", find(S("abc", 3), S("c"), {.reverse = true, .match = true}), "none"},
        {"/skip aligned", find(S("a1b2c3"), C('b'), {.skip = &two}), "a1b2c3@2"},
        {"/skip unaligned", find(S("a1b2c3"), C('2'), {.skip = &two}), "none"},
        {"/skip /last", find(S("a1b2b3"), C('b'), {.skip = &two, .last = true}), "a1b2b3@4"},
        {"/part short", find(S("abcd"), S("cd"), {.part = &three}), "none"},
        {"/part long enough", find(S("abcd"), C('c'), {.part = &three}), "abcd@2"},
        {"/part 0", find(S("abcd"), C('a'), {.part = &zero}), "none"},
        {"wide text folded", find(S("xÉy"), C(0xE9)), "xÉy@1"},
        {"wide text /case", find(S("xÉy"), C(0xE9), {.case_ = true}), "none"},
        {"word spelling", find(S("say Hello"), test::word_of("hello")), "say Hello@4"},
        {"formed integer", find(S("a12b"), I(12)), "a12b@1"},
        {"empty key", find(S("abc"), S("")), "none"},
        {"empty series", find(S(""), C('a')), "none"},
        {"head at the tail", find(S("abc", 3), C('a')), "none"},
        {"a file! key in a string", find(S("a/b"), S("/b", 0, TYPE_FILE)), "a/b@1"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST_F(StringEdit, FindPartPositionAndBitsets) {
    // /part as a position of the same series.
    Cell s = S("abcd");
    Cell end = s;
    end.w1 = 2;
    EXPECT_EQ(find(s, C('c'), {.part = &end}), "none");
    end.w1 = 3;
    EXPECT_EQ(find(s, C('c'), {.part = &end}), "abcd@2");
    EXPECT_EQ(find(s, C('c'), {.part = &(end = S("abcd", 3))}), "!script/invalid-refine-arg");

    // A bitset tests membership of the stored character; beyond its bits
    // the complement flag answers.
    Cell bits{};
    bits.w2 = memory::alloc_bytes(16);
    SeriesBuffer* b = memory::buffer_of(bits.w2);
    b->tail = b->head + 16;
    std::memset(memory::head_of(b), 0, 16);
    memory::head_of(b)['c' >> 3] |= uint8_t(0x80 >> ('c' & 7));
    cell::set_type(&bits, TYPE_BITSET);
    EXPECT_EQ(find(S("abcC"), bits), "abcC@2");
    EXPECT_EQ(find(S("ab€"), bits), "none");
    memory::buffer_of(bits.w2)->flags |= SERIES_COMPLEMENT;
    EXPECT_EQ(find(S("ab€"), bits), "ab€@2");
}

TEST_F(StringEdit, FindErrors) {
    const Cell zero = I(0), with = S("*?");
    Cell binary = S("b");
    cell::set_type(&binary, TYPE_BINARY);
    EXPECT_EQ(find(S("abc"), C('a'), {.skip = &zero}), "!script/out-of-range");
    EXPECT_EQ(find(S("abc"), binary), "!script/invalid-arg");
    EXPECT_EQ(find(S("abc"), S("a*"), {.any = true}), "!internal/not-done");
    EXPECT_EQ(find(S("abc"), S("a*"), {.with = &with}), "!internal/not-done");
    // An empty series answers none before the refinements are looked at.
    EXPECT_EQ(find(S(""), S("a*"), {.any = true}), "none");
}

TEST_F(StringEdit, SelectGivesTheCharacterAfterTheMatch) {
    const Cell two = I(2);
    EXPECT_EQ(select(S("abc"), S("b")), "#\"c\"");
    EXPECT_EQ(select(S("abc"), S("ab")), "#\"c\"");
    EXPECT_EQ(select(S("abc"), C('c')), "none");
    EXPECT_EQ(select(S("abcabd"), S("ab"), {.last = true}), "#\"d\"");
    EXPECT_EQ(select(S("a1b2"), C('b'), {.skip = &two}), "#\"2\"");
    // A formed key counts its formed length: the character after "12".
    EXPECT_EQ(select(S("a12b"), I(12)), "#\"b\"");
    EXPECT_EQ(select(S("aBc"), C('b'), {.case_ = true}), "none");
}

// ---- append, insert, change ----

struct Edit {
    const Cell* part = nullptr;
    const Cell* dup = nullptr;
    bool only = false;
};

std::string edit(const char* action, Cell series, Cell value, Edit e = {}) {
    std::vector<Cell> args{series, value};
    int32_t part = e.part ? ref(args, *e.part) : NO;
    int32_t dup = e.dup ? ref(args, *e.dup) : NO;
    int32_t only = e.only ? YES : NO;
    std::string name = action;
    return run(action, args, [&] {
        if (name == "append") actions::append_star(part, only, dup);
        else if (name == "insert") actions::insert_star(part, only, dup);
        else actions::change_star(part, only, dup);
    });
}

TEST_F(StringEdit, Append) {
    const Cell two = I(2), three = I(3);
    EXPECT_EQ(edit("append", S("abc", 1), S("de")), "abcde@0");
    EXPECT_EQ(edit("append", S("a"), S("xy"), {.dup = &three}), "axyxyxy@0");
    EXPECT_EQ(edit("append", S("a"), S("xyz"), {.part = &two, .dup = &three}), "axyxyxy@0");
    EXPECT_EQ(edit("append", S("a"), C('-'), {.dup = &three}), "a---@0");
    EXPECT_EQ(edit("append", S("a"), I(12)), "a12@0");
    // A block's elements are formed one after another, the part shared.
    Cell block = test::block_of({test::word_of("b"), S("cd"), I(1)});
    EXPECT_EQ(edit("append", S("a"), block), "abcd1@0");
    EXPECT_EQ(edit("append", S("a"), block, {.part = &three}), "abcd@0");
    EXPECT_EQ(edit("append", S("a"), block, {.part = &two, .dup = &two}), "abcbc@0");
    // /only makes no difference in text.
    EXPECT_EQ(edit("append", S("a"), block, {.only = true}), "abcd1@0");
    EXPECT_EQ(edit("insert", S("a"), block, {.only = true}), "bcd1a@4");
    EXPECT_EQ(edit("change", S("a"), block, {.only = true}), "bcd1@4");
}

TEST_F(StringEdit, AppendWidensOnlyWhenNeeded) {
    Cell s = S("a");
    EXPECT_EQ(edit("append", s, C('e')), "ae@0");
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(edit("append", s, C(233)), "aeé@0");
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(edit("append", s, S("😀")), "aeé😀@0");
    EXPECT_EQ(unit_of(s), 4u);
    // A wide source widens the series before its characters are copied.
    Cell t = S("x");
    EXPECT_EQ(edit("append", t, S("€€", 1)), "x€@0");
    EXPECT_EQ(unit_of(t), 2u);
}

TEST_F(StringEdit, AppendTooLargeIsRefusedBeforeAnyChange) {
    const Cell many = I(1000000000);
    Cell s = S("ab");
    EXPECT_EQ(edit("append", s, S("xyz"), {.dup = &many}), "!internal/no-memory");
    EXPECT_EQ(whole(s), "ab");
}

TEST_F(StringEdit, AppendInsertAndChangeWithItself) {
    // Sixteen characters fill the buffer: each edit below must grow it.
    const std::string x = "0123456789abcdef";
    const std::string tail1 = x.substr(1);
    const uint32_t collections = collector::series_cycles;
    Cell s = S(x.c_str());
    EXPECT_EQ(edit("append", s, s), x + x + "@0");
#ifdef ZUV_GC_STRESS
    EXPECT_GT(collector::series_cycles, collections);  // the buffers did move meanwhile
#else
    (void)collections;
#endif
    Cell t = S(x.c_str(), 1);
    EXPECT_EQ(edit("insert", t, t), "0" + tail1 + tail1 + "@16");
    Cell u = S(x.c_str());
    Cell from = u;
    from.w1 = 1;
    const Cell dup = I(3);
    EXPECT_EQ(edit("insert", u, from, {.dup = &dup}), tail1 + tail1 + tail1 + x + "@45");
    Cell w = S(x.c_str(), 2);
    Cell all = w;
    all.w1 = 0;
    EXPECT_EQ(edit("change", w, all), "01" + x + "@18");
}

TEST_F(StringEdit, Insert) {
    const Cell two = I(2);
    EXPECT_EQ(edit("insert", S("abc"), S("xy")), "xyabc@2");
    EXPECT_EQ(edit("insert", S("abc", 1), S("xyz"), {.part = &two, .dup = &two}), "axyxybc@5");
    EXPECT_EQ(edit("insert", S("abc", 3), S("xy")), "abcxy@5");
    EXPECT_EQ(edit("insert", S("abc", 9), C('!')), "abc!@4");
    EXPECT_EQ(edit("insert", S("ab", 1), I(-7)), "a-7b@3");
    Cell s = S("ab", 1);
    EXPECT_EQ(edit("insert", s, C(0x20AC)), "a€b@2");
    EXPECT_EQ(unit_of(s), 2u);
}

TEST_F(StringEdit, Change) {
    const Cell one = I(1), three = I(3), ten = I(10);
    EXPECT_EQ(edit("change", S("abcdef"), S("XY")), "XYcdef@2");
    EXPECT_EQ(edit("change", S("abcdef"), S("XY"), {.part = &three}), "XYdef@2");
    EXPECT_EQ(edit("change", S("abcdef"), S("XYZ"), {.part = &one}), "XYZbcdef@3");
    EXPECT_EQ(edit("change", S("abcdef", 4), S("XYZ"), {.part = &ten}), "abcdXYZ@7");
    EXPECT_EQ(edit("change", S("abcdef"), C('-'), {.dup = &three}), "---def@3");
    EXPECT_EQ(edit("change", S("ab", 1), S("XYZ")), "aXYZ@4");
    EXPECT_EQ(edit("change", S("ab", 2), S("XY")), "abXY@4");
    EXPECT_EQ(edit("change", S("abc"), I(42)), "42c@2");
    // A /part position of the same series.
    Cell s = S("abcdef", 1);
    Cell end = s;
    end.w1 = 4;
    EXPECT_EQ(edit("change", s, S("-"), {.part = &end}), "a-ef@2");
}

// ---- swap, take ----

TEST_F(StringEdit, Swap) {
    Cell a = S("abc"), b = S("xyz", 1);
    EXPECT_EQ(run("swap", {a, b}, [] { actions::swap_star(); }), "ybc@0");
    EXPECT_EQ(whole(b), "xaz");
    Cell wide = S("€");
    EXPECT_EQ(run("swap", {a, wide}, [] { actions::swap_star(); }), "€bc@0");
    EXPECT_EQ(unit_of(a), 2u);
    EXPECT_EQ(whole(wide), "y");
    EXPECT_EQ(run("swap", {a, S("", 0)}, [] { actions::swap_star(); }), "€bc@0");
    EXPECT_EQ(run("swap", {a, test::ints({1})}, [] { actions::swap_star(); }), "!script/invalid-arg");
}

std::string take(Cell series, const Cell* part = nullptr, bool last = false) {
    std::vector<Cell> args{series};
    int32_t p = part ? ref(args, *part) : NO;
    return run("take", args, [&] { actions::take_star(p, NO, last ? YES : NO); });
}

TEST_F(StringEdit, Take) {
    const Cell two = I(2), minus = I(-1);
    Cell s = S("abcd");
    EXPECT_EQ(take(s), "#\"a\"");
    EXPECT_EQ(whole(s), "bcd");
    EXPECT_EQ(take(s, nullptr, true), "#\"d\"");
    EXPECT_EQ(take(s, &two), "bc@0");
    EXPECT_EQ(whole(s), "");
    EXPECT_EQ(take(s), "none");
    Cell t = S("abcd", 2);
    EXPECT_EQ(take(t, &minus), "b@0");
    EXPECT_EQ(whole(t), "acd");
    Cell u = S("ab€");
    EXPECT_EQ(take(u, &two, true), "b€@0");
}

// ---- trim ----

struct Trim {
    bool head = false, tail = false, auto_ = false, lines = false, all = false;
    const Cell* with = nullptr;
};

std::string trim(Cell series, Trim t = {}) {
    std::vector<Cell> args{series};
    int32_t with = t.with ? ref(args, *t.with) : NO;
    auto flag = [](bool b) { return b ? YES : NO; };
    return run("trim", args, [&] {
        actions::trim_star(flag(t.head), flag(t.tail), flag(t.auto_), flag(t.lines), flag(t.all), with);
    });
}

TEST_F(StringEdit, TrimModes) {
    const Cell xy = S("xy"), a = C('a'), nothing = S(""), ten = I(10);
    struct Case {
        const char* what;
        std::string got;
        const char* expected;
    };
    const Case cases[] = {
        {"plain", trim(S("  a  \n")), "a\n@0"},
        {"/tail", trim(S("  a  \n"), {.tail = true}), "  a@0"},
        {"/head", trim(S("  a  \n"), {.head = true}), "a  \n@0"},
        {"/head /tail", trim(S("\t a \n"), {.head = true, .tail = true}), "a@0"},
        {"plain over lines", trim(S("  a  \n  b  \n c ")), "a\nb\nc@0"},
        {"plain keeps inner empty lines", trim(S("a \n\n b")), "a\n\nb@0"},
        {"plain, only blanks", trim(S("   \n ")), "@0"},
        {"plain, Unicode spaces", trim(S("\u3000a\u00A0")), "a@0"},
        {"/lines", trim(S("\ta\n\nb"), {.lines = true}), "a b@0"},
        {"/lines trailing", trim(S(" a  b \n"), {.lines = true}), "a b@0"},
        {"/all", trim(S(" a b\tc\r\nd "), {.all = true}), "abcd@0"},
        {"/with text", trim(S("axbyc"), {.with = &xy}), "abc@0"},
        {"/with char", trim(S("banana"), {.with = &a}), "bnn@0"},
        {"/with integer", trim(S("a\nb"), {.with = &ten}), "ab@0"},
        {"/with empty text", trim(S("a b"), {.with = &nothing}), "a b@0"},
        {"from the head on", trim(S("x   y  ", 1)), "xy@1"},
        {"/auto", trim(S(" a"), {.auto_ = true}), "!internal/not-done"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

// ---- sort ----

struct Sort {
    bool case_ = false, all = false, reverse = false, stable = false;
    const Cell* skip = nullptr;
    const Cell* compare = nullptr;
    const Cell* part = nullptr;
};

std::string sort(Cell series, Sort o = {}) {
    std::vector<Cell> args{series};
    int32_t skip = o.skip ? ref(args, *o.skip) : NO;
    int32_t compare = o.compare ? ref(args, *o.compare) : NO;
    int32_t part = o.part ? ref(args, *o.part) : NO;
    auto flag = [](bool b) { return b ? YES : NO; };
    return run("sort", args, [&] {
        actions::sort_star(flag(o.case_), skip, compare, part, flag(o.all), flag(o.reverse), flag(o.stable));
    });
}

TEST_F(StringEdit, SortModes) {
    const Cell two = I(2), three = I(3), minus2 = I(-2), minus9 = I(-9);
    struct Case {
        const char* what;
        std::string got;
        const char* expected;
    };
    const Case cases[] = {
        {"folded", sort(S("cBa")), "aBc@0"},
        {"/case", sort(S("cBa"), {.case_ = true}), "Bac@0"},
        {"/reverse", sort(S("cBa"), {.reverse = true}), "cBa@0"},
        {"/skip", sort(S("b1a2"), {.skip = &two}), "a2b1@0"},
        {"/skip /compare", sort(S("a2b1"), {.skip = &two, .compare = &two}), "b1a2@0"},
        {"/skip /all", sort(S("b2a3b1"), {.all = true, .skip = &two}), "a3b1b2@0"},
        {"/part", sort(S("dcba"), {.part = &three}), "bcda@0"},
        {"/part before the head", sort(S("dcba", 3), {.part = &minus2}), "dbca@1"},
        {"/part before the first character", sort(S("dcba", 1), {.part = &minus9}), "dcba@0"},
        {"from the head on", sort(S("zcba", 1)), "zabc@1"},
        {"wide text folds through the tables", sort(S("ŒaœA")), "aAŒœ@0"},
        {"/stable /case keeps equal records in order",
         sort(S("b2a1b1a2"), {.case_ = true, .stable = true, .skip = &two}), "a1a2b2b1@0"},
        {"/stable", sort(S("bBaA"), {.stable = true}), "aAbB@0"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST_F(StringEdit, SortRefinementErrors) {
    const Cell two = I(2), three = I(3), zero = I(0);
    EXPECT_EQ(sort(S("abc"), {.all = true}), "!script/bad-refines");
    EXPECT_EQ(sort(S("abcd"), {.skip = &three}), "!script/invalid-refine-arg");
    EXPECT_EQ(sort(S("abcd"), {.skip = &zero}), "!script/invalid-refine-arg");
    EXPECT_EQ(sort(S("a"), {.skip = &two}), "!script/invalid-refine-arg");
    EXPECT_EQ(sort(S("abcd"), {.skip = &two, .compare = &three}), "!script/out-of-range");
    EXPECT_EQ(sort(S("abcd"), {.compare = &two}), "!script/bad-refines");
    EXPECT_EQ(sort(S("abcd"), {.all = true, .skip = &two, .compare = &two}), "!script/bad-refines");
    const Cell text = S("x");
    EXPECT_EQ(sort(S("abcd"), {.compare = &text}), "!script/invalid-refine-arg");
    EXPECT_EQ(sort(S("abcd"), {.part = &text}), "!script/invalid-refine-arg");
}

// A function! comparator stands in as a C++ call: the function receives the
// second record first and answers whether its first argument sorts after
// its second (a "greater than" function).
void greater_than(const Cell*, Cell* first, Cell* second, Cell* result) {
    if (type_of(first) == TYPE_STRING) {
        logic::make_at(result, string::compare_text(first, second, COMP_CASE_SORT, false) > 0);
        return;
    }
    logic::make_at(result, first->w2 > second->w2);
}

TEST_F(StringEdit, SortWithAComparatorFunction) {
    block::detail::ComparatorCall saved = block::detail::call_comparator;
    block::detail::call_comparator = greater_than;
    Cell function{TYPE_FUNCTION, 0, 0, 0};
    const Cell two = I(2);
    EXPECT_EQ(sort(S("cab"), {.compare = &function}), "cba@0");
    EXPECT_EQ(sort(S("cab"), {.reverse = true, .compare = &function}), "abc@0");
    EXPECT_EQ(sort(S("a1c3b2"), {.all = true, .skip = &two, .compare = &function}), "c3b2a1@0");
    block::detail::call_comparator = saved;
}

// ---- set operations ----

std::string set_op(int32_t op, Cell a, Cell b, bool case_q = false, const Cell* skip = nullptr) {
    std::vector<Cell> args{a, b};
    int32_t s = skip ? ref(args, *skip) : NO;
    return run("union", args, [&] {
        string::do_set_op(case_q, s == NO ? stack::arguments - 1 : stack::arguments + s, op);
    });
}

TEST_F(StringEdit, SetOperations) {
    const Cell two = I(2), zero = I(0);
    EXPECT_EQ(set_op(9, S("abc"), S("bcd")), "abcd@0");
    EXPECT_EQ(set_op(9, S("ab"), S("ac"), false, &two), "ab@0");
    EXPECT_EQ(set_op(10, S("abc"), S("BCx")), "bc@0");
    EXPECT_EQ(set_op(11, S("abc"), S("b")), "ac@0");
    EXPECT_EQ(set_op(12, S("abc"), S("bcd")), "ad@0");
    EXPECT_EQ(set_op(8, S("aAbBa"), S("")), "ab@0");
    EXPECT_EQ(set_op(8, S("aAbBa"), S(""), true), "aAbB@0");
    EXPECT_EQ(set_op(8, S("a€a😀"), S("")), "a€😀@0");
    EXPECT_EQ(set_op(9, S("a/b", 0, TYPE_FILE), S("c")), "a/bc@0");
    EXPECT_EQ(set_op(9, S("ab"), S("c"), false, &zero), "!script/invalid-refine-arg");
}

// ---- paths with a text key ----

TEST_F(StringEdit, PathSelectsAndSetsAfterATextKey) {
    test::Call call("path");
    const Cell values[] = {S("a=1;b=2"), S("b="), C('9'), S("z")};
    Cell* s = stack::push(&values[0]);
    Cell* key = stack::push(&values[1]);
    Cell* value = stack::push(&values[2]);
    Cell* missing = stack::push(&values[3]);
    auto path = [&](Cell* k, Cell* v) {
        return string::eval_path(s, k, v, nullptr, nullptr, nullptr, 0, false, false, false, false);
    };
    EXPECT_EQ(show(*path(key, nullptr)), "#\"2\"");
    EXPECT_EQ(call.run([&] { path(key, value); }), "");
    EXPECT_EQ(whole(*s), "a=1;b=9");
    EXPECT_EQ(call.run([&] { path(missing, value); }), "script/bad-path-set");
    EXPECT_EQ(show(*path(missing, nullptr)), "none");
}

}  // namespace
