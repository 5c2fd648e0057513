#include <gtest/gtest.h>

#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/fire.hpp"
#include "runtime/init.hpp"
#include "runtime/memory.hpp"
#include "boot/boot_texts.hpp"
#include "tests/unit/builder.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

class Native : public ::testing::Test {
protected:
    void SetUp() override { ensure_evaluator(); }
    void TearDown() override { register_builtin_specs_again(); }

    // make <type> spec through the type's make slot, as the boot definitions
    // do unless after_boot; the made value, or "category/id" in error.
    static std::string make(uint32_t type, const Cell& spec, Cell* out = nullptr, bool after_boot = false) {
        runtime::boot_flag = !after_boot;
        struct Restore {
            ~Restore() { runtime::boot_flag = false; }
        } restore;
        return guarded([&] {
            Cell proto, s = spec;
            datatype::make_at(&proto, int32_t(type));
            Cell* made = get_slot<Act::make>(type)(&proto, &s, int32_t(type));
            if (out) *out = *made;
        });
    }
    static Cell make_ok(uint32_t type, const Cell& spec) {
        Cell out{};
        EXPECT_EQ(make(type, spec, &out), "");
        return out;
    }
    static Cell if_spec() {
        return block_of({word_of("cond"), block_of({word_of("any-type!")}), word_of("then-blk"),
                         block_of({word_of("block!")})});
    }
};

TEST_F(Native, TableHoldsTheNativesInSlotOrder) {
    EXPECT_EQ(natives::next_free, 108);
    EXPECT_EQ(natives::entry_at(1), &natives::if_star);
    EXPECT_EQ(natives::entry_at(107), &natives::apply_star);
    EXPECT_EQ(natives::entry_at(108), nullptr);
    EXPECT_EQ(natives::entry_at(0), nullptr);
    EXPECT_EQ(natives::entry_at(121), nullptr);
    ASSERT_NE(natives::print_scratch, nullptr);
    EXPECT_EQ(type_of(natives::print_scratch), TYPE_BLOCK);
}

TEST_F(Native, MakeRefusesAnythingButASpecAndAFilledSlot) {
    const struct {
        uint32_t type;
        Cell spec;
    } bad[] = {
        {TYPE_NATIVE, block_of({if_spec(), integer_value(0)})},
        {TYPE_NATIVE, block_of({if_spec(), integer_value(121)})},
        {TYPE_NATIVE, block_of({if_spec(), integer_value(108)})},  // an empty slot
        {TYPE_NATIVE, block_of({if_spec(), integer_value(1), integer_value(2)})},
        {TYPE_NATIVE, block_of({if_spec()})},
        {TYPE_NATIVE, block_of({integer_value(1), if_spec()})},
        {TYPE_NATIVE, integer_value(1)},
        {TYPE_ACTION, block_of({if_spec(), integer_value(63)})},
        {TYPE_ACTION, block_of({if_spec(), integer_value(8)})},  // there is no action 8
    };
    for (const auto& c : bad) EXPECT_EQ(make(c.type, c.spec), "script/bad-make-arg") << mold(c.spec);
    EXPECT_EQ(runtime::pending_error().arg_count, 2);
}

TEST_F(Native, MadeNativeFormsMoldsAndReflects) {
    Cell n = make_ok(TYPE_NATIVE, block_of({if_spec(), integer_value(1)}));
    ASSERT_EQ(type_of(&n), TYPE_NATIVE);
    EXPECT_EQ(form(n), "?native?");
    EXPECT_EQ(mold(n), "make native! [[cond [any-type!] then-blk [block!]]]");

    Cell body = n;
    native::reflect(&body, sym::body);
    EXPECT_EQ(mold(body), "1");
    Cell spec = n;
    native::reflect(&spec, sym::spec);
    EXPECT_EQ(mold(spec), "[cond [any-type!] then-blk [block!]]");
    Cell words = n;
    EXPECT_EQ(guarded([&] { native::reflect(&words, sym::words); }), "internal/not-done");

    // The more block: the spec's context, and no argument cache yet.
    SeriesBuffer* more = memory::buffer_of(n.w3);
    ASSERT_EQ(memory::length_of(more), 2);
    EXPECT_EQ(type_of(memory::cells_head(more)), TYPE_CONTEXT);
    EXPECT_EQ(type_of(memory::cells_head(more) + 1), TYPE_NONE);

    Cell a = make_ok(TYPE_ACTION, block_of({block_of({word_of("series")}), integer_value(29)}));
    EXPECT_EQ(form(a), "?action?");
    EXPECT_EQ(mold(a), "make action! [[series]]");
    native::reflect(&a, sym::body);
    EXPECT_EQ(mold(a), "29");
}

TEST_F(Native, AfterBootASlotTakesOnlyItsOwnSpec) {
    // The entry reads its arguments by its own spec's shape: another spec
    // could hand it values of other types.
    Cell own_spec = if_spec();
    Cell own = make_ok(TYPE_NATIVE, block_of({own_spec, integer_value(1)}));  // a boot definition
    Cell out{};
    EXPECT_EQ(make(TYPE_NATIVE, block_of({own_spec, integer_value(1)}), &out, true), "");
    EXPECT_EQ(out.w2, own.w2);
    Cell copy;
    block::clone(&own_spec, &copy, true, false);
    EXPECT_EQ(make(TYPE_NATIVE, block_of({copy, integer_value(1)}), nullptr, true), "");
    Cell other = block_of({word_of("cond"), block_of({word_of("any-type!")}), word_of("then-blk"),
                           block_of({word_of("integer!")})});
    EXPECT_EQ(make(TYPE_NATIVE, block_of({other, integer_value(1)}), nullptr, true), "script/bad-make-arg");
    EXPECT_EQ(make(TYPE_ACTION, block_of({block_of({word_of("series")}), integer_value(25)}), nullptr, true),
              "script/bad-make-arg");
}

TEST_F(Native, SpecIsKeptFromItsHead) {
    Cell inner = block_of({word_of("skipped"), word_of("cond"), word_of("blk")});
    inner.w1 = 1;
    Cell n = make_ok(TYPE_NATIVE, block_of({inner, integer_value(1)}));
    native::reflect(&n, sym::spec);
    EXPECT_EQ(mold(n), "[cond blk]");
}

TEST_F(Native, OpNeedsATwoArgumentFunction) {
    Cell add = make_ok(TYPE_ACTION, block_of({block_of({word_of("a"), word_of("b")}), integer_value(11)}));
    Cell op = make_ok(TYPE_OP, add);
    ASSERT_EQ(type_of(&op), TYPE_OP);
    EXPECT_EQ(op::wrapped_type(&op), uint32_t(TYPE_ACTION));
    EXPECT_EQ(op.w1, add.w1);
    EXPECT_EQ(form(op), "?op?");
    EXPECT_EQ(mold(op), "make op! [[a b]]");

    const struct {
        Cell spec;
        bool two;
    } specs[] = {
        {block_of({word_of("a"), word_of("b"), refinement_of("local"), word_of("c")}), true},
        {block_of({word_of("a"), string_value("doc"), block_of({}), lit_word_of("b")}), true},
        {block_of({word_of("a"), word_of("b"), set_word_of("return"), block_of({})}), true},
        {block_of({word_of("a"), word_of("b"), word_of("c")}), false},
        {block_of({word_of("a"), refinement_of("x"), word_of("b")}), false},
        {block_of({get_word_of("a"), word_of("b")}), false},
        {block_of({word_of("a")}), false},
    };
    for (const auto& s : specs) {
        Cell f = make_ok(TYPE_NATIVE, block_of({s.spec, integer_value(25)}));
        EXPECT_EQ(op::two_arguments_q(f.w2), s.two) << mold(s.spec);
        EXPECT_EQ(make(TYPE_OP, f), s.two ? "" : "script/bad-op-spec") << mold(s.spec);
    }
    EXPECT_EQ(make(TYPE_OP, integer_value(1)), "script/invalid-type");
}

TEST_F(Native, ComparesByEntry) {
    Cell spec = block_of({word_of("a"), word_of("b")});
    Cell add1 = make_ok(TYPE_ACTION, block_of({spec, integer_value(11)}));
    Cell add2 = make_ok(TYPE_ACTION, block_of({spec, integer_value(11)}));
    Cell sub = make_ok(TYPE_ACTION, block_of({spec, integer_value(18)}));
    Cell op1 = make_ok(TYPE_OP, add1), op2 = make_ok(TYPE_OP, add2);
    EXPECT_EQ(native::compare(&add1, &add2, COMP_EQUAL), 0);
    EXPECT_EQ(native::compare(&add1, &sub, COMP_SORT), -1);
    EXPECT_EQ(native::compare(&sub, &add1, COMP_SORT), 1);
    EXPECT_EQ(native::compare(&op1, &op2, COMP_EQUAL), 0);
    EXPECT_EQ(native::compare(&op1, &add1, COMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(native::compare(&add1, &sub, COMP_LESSER), COMPARE_INCOMPARABLE);
}

}  // namespace

namespace {

TEST_F(Native, BootDefinitionsBindEveryNativeToItsSlot) {
    // Start-up has run the boot definitions.
    ASSERT_NE(boot_texts::find("natives.zuv"), nullptr);
    struct Row {
        int32_t slot;
        const char* word;
    };
    static const Row rows[] = {
#define ZUV_NATIVE_ROW(slot, name, word) {slot, word},
        ZUV_NATIVES(ZUV_NATIVE_ROW)
#undef ZUV_NATIVE_ROW
    };
    for (const Row& r : rows) {
        Cell v = global_value(r.word);
        EXPECT_EQ(type_of(&v), TYPE_NATIVE) << r.word;
        EXPECT_EQ(int32_t(v.w1), r.slot) << r.word;
    }
    Cell append = global_value("append");
    EXPECT_EQ(type_of(&append), TYPE_ACTION);
    EXPECT_EQ(append.w1, 25u);
    std::string text = mold(global_value("if"));
    EXPECT_EQ(text.rfind("make native! [[", 0), 0u) << text;
    EXPECT_NE(text.find("\ncond [any-type!] then-blk [block!]]]"), std::string::npos) << text;
}

}  // namespace
