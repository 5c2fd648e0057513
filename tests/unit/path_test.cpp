#include <gtest/gtest.h>

#include <string>

#include "evaluator/actions.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/path.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

struct Path : ::testing::Test {
    void SetUp() override {
        ensure_runtime();
        cycles::reset();
    }
    void TearDown() override { EXPECT_EQ(cycles::depth(), 0) << "a walk left an entry on the cycle stack"; }
};

int32_t room(const Cell& v) { return memory::buffer_of(v.w2)->size / 16; }

// The text the form or mold entry gives for the value.
std::string text_by(bool mold, const Cell& value, int32_t limit = -1, bool only = false) {
    Call c(mold ? "mold" : "form", {value, integer_of(limit)});
    int32_t part = limit >= 0 ? 1 : -1;
    if (mold) actions::mold_star(only ? 0 : -1, -1, -1, part);
    else actions::form_star(part);
    return text(*c.result());
}

TEST_F(Path, MakeFromASizeOrABlockLikeSpec) {
    struct Case { Cell spec; int32_t room; };
    for (Case k : {Case{integer_of(0), 1}, Case{float_of(2.7), 2}, Case{integer_of(-5), 1}, Case{integer_of(6), 6}}) {
        Call c("make", {datatype_of(TYPE_GET_PATH), k.spec});
        actions::make_star();
        EXPECT_EQ(type_of(c.result()), TYPE_GET_PATH);
        EXPECT_EQ(block::zs_length_q(c.result()), 0);
        EXPECT_EQ(room(*c.result()), k.room);
    }
    Cell source = words_of({"a", "b"});
    Call c("make", {datatype_of(TYPE_PATH), source});
    actions::make_star();
    EXPECT_EQ(type_of(c.result()), TYPE_PATH);
    EXPECT_NE(c.result()->w2, source.w2) << "a copy";
    EXPECT_EQ(text_by(true, *c.result()), "a/b");

    Call bad("make", {datatype_of(TYPE_PATH), string_of("a/b")});
    EXPECT_EQ(bad.run([] { actions::make_star(); }), "script/bad-make-arg");
    EXPECT_EQ(error_arg(0).w1, uint32_t(TYPE_PATH));
    Call huge("make", {datatype_of(TYPE_PATH), float_of(1e20)});
    EXPECT_EQ(huge.run([] { actions::make_star(); }), "script/out-of-range");
}

TEST_F(Path, ToWrapsAnObjectAsOneSegment) {
    Cell object{TYPE_OBJECT, 0, 7, 0};
    Call c("to", {datatype_of(TYPE_SET_PATH), object});
    actions::to_star();
    EXPECT_EQ(type_of(c.result()), TYPE_SET_PATH);
    ASSERT_EQ(block::zs_length_q(c.result()), 1);
    EXPECT_EQ(type_of(block::zs_abs_at(c.result(), 0)), TYPE_OBJECT);

    Call b("to", {datatype_of(TYPE_PATH), words_of({"x", "y"})});
    actions::to_star();
    EXPECT_EQ(text_by(false, *b.result()), "x/y");
}

TEST_F(Path, EachPathTypeMoldsWithItsMarks) {
    struct Case { uint32_t type; const char* mold; };
    for (Case k : {Case{TYPE_PATH, "a/b/c"}, Case{TYPE_LIT_PATH, "'a/b/c"}, Case{TYPE_GET_PATH, ":a/b/c"},
                   Case{TYPE_SET_PATH, "a/b/c:"}}) {
        Cell p = words_of({"a", "b", "c"}, k.type);
        EXPECT_EQ(text_by(true, p), k.mold);
        EXPECT_EQ(text_by(false, p), "a/b/c");
    }
    Cell mixed = block_of({word_of("a"), integer_of(2), string_of("s")}, TYPE_PATH);
    EXPECT_EQ(text_by(true, mixed), "a/2/\"s\"");
    EXPECT_EQ(text_by(false, mixed), "a/2/s");
    EXPECT_EQ(text_by(false, words_of({"a", "b", "c"}, TYPE_PATH), 3), "a/b") << "the walk stops at the limit";
}

TEST_F(Path, SelfContainingPathAndParenDoNotLoop) {
    Cell p = words_of({"a"}, TYPE_PATH);
    block::append_cell(&p, &p);
    EXPECT_EQ(text_by(false, p), "a/...");
    EXPECT_EQ(text_by(true, p), "a/...");

    Cell paren = ints({1});
    cell::set_type(&paren, TYPE_PAREN);
    block::append_cell(&paren, &paren);
    EXPECT_EQ(text_by(true, paren), "(1 (...))");
}

TEST_F(Path, ParenMolds) {
    Cell paren = ints({1, 2});
    cell::set_type(&paren, TYPE_PAREN);
    EXPECT_EQ(text_by(true, paren), "(1 2)");
    EXPECT_EQ(text_by(true, paren, -1, true), "1 2");
    EXPECT_EQ(text_by(false, paren), "1 2");
}

TEST_F(Path, SeriesActionsComeFromBlockButNotSort) {
    Cell p = words_of({"a", "b"}, TYPE_SET_PATH);
    Call c("copy", {p});
    actions::copy_star(-1, -1, -1);
    EXPECT_EQ(type_of(c.result()), TYPE_SET_PATH) << "a copy keeps the path's type";
    EXPECT_NE(c.result()->w2, p.w2);

    Call l("length?", {p});
    actions::length_q_star();
    EXPECT_EQ(integer::get_value(l.result()), 2);

    Call s("sort", {p});
    EXPECT_EQ(s.run([] { actions::sort_star(-1, -1, -1, -1, -1, -1, -1); }), "script/expect-arg");
}

TEST_F(Path, PushRetypesAndPushes) {
    Cell b = words_of({"a"});
    b.header |= FLAG_NEW_LINE;
    Call c("push", {});
    Cell* pushed = lit_path::push(&b);
    EXPECT_EQ(b.header, uint32_t(TYPE_LIT_PATH)) << "flags cleared";
    EXPECT_EQ(pushed, c.arg(0));
    EXPECT_EQ(pushed->w2, b.w2);
}

}  // namespace
