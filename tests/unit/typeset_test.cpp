#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "evaluator/rt_support.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;

namespace {

Cell typeset_of(std::initializer_list<uint8_t> ids) {
    Cell c{};
    return *typeset::make_from_ids(&c, ids);
}

std::string mold_of(Cell ts, bool only = false, int32_t part = 1000, int32_t* left = nullptr) {
    Cell out = test::string_of("");
    int32_t rest = typeset::mold(&ts, &out, only, false, false, nullptr, part, 0);
    if (left) *left = rest;
    return test::text(out);
}

// make typeset! spec, through the slot as the make entry calls it.
std::string make_of(Cell spec, Cell* made) {
    test::Call call("make", {test::datatype_of(TYPE_TYPESET), spec});
    return call.run([&] { *made = *typeset::make(call.arg(0), call.arg(1), TYPE_TYPESET); });
}

// The global word's value.
Cell global(const char* name) {
    int32_t index = _context::find_word(_context::global, symbol::make(name), true);
    return *_context::value_slot(_context::global, index);
}

}  // namespace

TEST(Typeset, BitLayoutIsHighestBitFirst) {
    Cell ts = typeset_of({TYPE_DATATYPE, TYPE_INTEGER});
    uint8_t bytes[12];
    std::memcpy(bytes, &ts.w1, sizeof bytes);
    EXPECT_EQ(bytes[0], 0x40);  // datatype! (1)
    EXPECT_EQ(bytes[1], 0x10);  // integer! (11)
    for (uint32_t t = 0; t < typeset::BITS; t++)
        EXPECT_EQ(typeset::has_q(&ts, t), rt_support::typeset_has_q(&ts, t)) << t;  // the argument check agrees
    EXPECT_FALSE(typeset::has_q(&ts, 200));
}

TEST(Typeset, MakeAndItsText) {
    test::ensure_runtime();
    Cell made{};
    EXPECT_EQ(make_of(test::block_of({}), &made), "");
    EXPECT_EQ(mold_of(made), "make typeset! []");
    EXPECT_EQ(mold_of(made, true), "");

    EXPECT_EQ(make_of(test::words_of({"integer!", "integer!"}), &made), "");
    EXPECT_EQ(typeset::count(&made), 1);

    EXPECT_EQ(make_of(test::block_of({test::datatype_of(TYPE_FLOAT), test::word_of("integer!")}), &made), "");
    EXPECT_EQ(mold_of(made), "make typeset! [integer! float!]");  // ascending ids
    EXPECT_EQ(mold_of(made, true), "integer! float!");
    Cell out = test::string_of("");
    EXPECT_EQ(typeset::form(&made, &out, nullptr, 100), 100 - 31);
    EXPECT_EQ(test::text(out), "make typeset! [integer! float!]");

    Cell nested = typeset_of({TYPE_STRING});
    EXPECT_EQ(make_of(test::block_of({test::datatype_of(TYPE_INTEGER), nested}), &made), "");
    EXPECT_EQ(typeset::count(&made), 2);
    Cell same{};
    EXPECT_EQ(make_of(made, &same), "");  // a typeset spec is returned as it is
    EXPECT_EQ(same.w1, made.w1);

    EXPECT_EQ(make_of(test::block_of({test::ints({1})}), &made), "script/invalid-arg");
    EXPECT_EQ(make_of(test::block_of({test::integer_of(1)}), &made), "script/invalid-arg");
    EXPECT_EQ(make_of(test::integer_of(1), &made), "script/bad-to-arg");
}

TEST(Typeset, MoldStopsOnceThePartIsSpent) {
    test::ensure_runtime();
    int32_t left = 0;
    std::string text = mold_of(typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING}), false, 20, &left);
    EXPECT_EQ(text, "make typeset! [string! ");  // 15 + 8, then the budget is below 0
    EXPECT_LT(left, 0);
}

TEST(Typeset, ComplementFindAndCompare) {
    test::ensure_runtime();
    Cell all = typeset_of({});
    typeset::complement(&all);
    EXPECT_EQ(all.w1 & all.w2 & all.w3, ~0u);  // every bit, id 0 and unregistered ids too
    std::string listed = mold_of(all, true);
    EXPECT_NE(listed.find("unset!"), std::string::npos);
    int32_t registered = 0;
    for (int32_t t = 1; t <= datatype::highest_type; t++) registered += datatype::type_names[t].name != nullptr;
    EXPECT_EQ(typeset::count(&all), registered);

    Cell ints = typeset_of({TYPE_INTEGER});
    Cell integer_type = test::datatype_of(TYPE_INTEGER), float_type = test::datatype_of(TYPE_FLOAT);
    auto find = [&](Cell value) {
        test::Call call("find", {ints, value});
        std::string error = call.run([&] {
            typeset::find(call.arg(0), call.arg(1), nullptr, false, false, false, false, nullptr, nullptr, false,
                          false, false, false);
        });
        return error.empty() ? std::string(call.result()->w1 ? "true" : "false") : error;
    };
    EXPECT_EQ(find(integer_type), "true");
    EXPECT_EQ(find(float_type), "false");
    EXPECT_EQ(find(test::word_of("integer!")), "script/invalid-arg");
    EXPECT_EQ(find(test::integer_of(11)), "script/invalid-arg");

    Cell a = typeset_of({TYPE_INTEGER, TYPE_FLOAT}), b = typeset_of({TYPE_FLOAT, TYPE_INTEGER});
    for (int32_t op : {COMP_EQUAL, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_SAME, COMP_FIND})
        EXPECT_EQ(typeset::compare(&a, &b, op), 0) << op;
    EXPECT_EQ(typeset::compare(&a, &ints, COMP_EQUAL), 1);
    EXPECT_EQ(typeset::compare(&a, &b, COMP_LESSER), COMPARE_INCOMPARABLE);
    EXPECT_EQ(typeset::compare(&ints, &a, COMP_SORT), -1);  // by member count
    EXPECT_EQ(typeset::compare(&a, &integer_type, COMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST(Typeset, SetOperations) {
    test::ensure_runtime();
    Cell ab = typeset_of({TYPE_INTEGER, TYPE_FLOAT}), bc = typeset_of({TYPE_FLOAT, TYPE_STRING});
    struct { int32_t op; Cell second; const char* expected; } cases[] = {
        {OP_OR, bc, "string! integer! float!"},
        {block::SET_UNION, test::datatype_of(TYPE_STRING), "string! integer! float!"},
        {OP_AND, bc, "float!"},
        {block::SET_INTERSECT, bc, "float!"},
        {OP_XOR, bc, "string! integer!"},
        {block::SET_DIFFERENCE, bc, "string! integer!"},
        {block::SET_EXCLUDE, bc, "integer!"},
        {block::SET_UNIQUE, Cell{TYPE_NONE, 0, 0, 0}, "integer! float!"},
        {OP_OR, test::integer_of(1), "script/invalid-arg"},
    };
    for (auto& c : cases) {
        test::Call call("union", {ab, c.second});
        std::string got = call.run([&] { typeset::combine(c.op); });
        if (got.empty()) got = mold_of(*call.result(), true);
        EXPECT_EQ(got, c.expected) << c.op;
    }
}

TEST(Typeset, ToBlockGivesTheTypeWords) {
    test::ensure_runtime();
    Cell ts = typeset_of({TYPE_FLOAT, TYPE_INTEGER});
    Cell block{};
    typeset::to_block(&ts, &block);
    ASSERT_EQ(block::zs_length_q(&block), 2);
    const Cell* head = block::zs_head(&block);
    EXPECT_EQ(type_of(&head[0]), TYPE_WORD);
    EXPECT_EQ(head[0].w2, test::word_of("integer!").w2);
    EXPECT_EQ(head[1].w2, test::word_of("float!").w2);
}

TEST(Typeset, ArgumentTypeBlocks) {
    test::ensure_runtime();
    Cell holder = test::ints({});
    // A word naming a word adds object!; a nested block is skipped.
    Cell alias = test::word_of("integer!");
    _context::set_global_value(symbol::make("typeset-test-alias"), &alias);
    Cell spec = test::block_of({test::word_of("string!"), test::datatype_of(TYPE_FLOAT), typeset_of({TYPE_CHAR}),
                                test::word_of("typeset-test-alias"), test::ints({1})});
    Cell* made = typeset::make_in_from_block(&holder, &spec);
    EXPECT_EQ(mold_of(*made, true), "string! char! float! object!");

    Cell bad = test::block_of({test::integer_of(1)});
    EXPECT_EQ(test::raised([&] { typeset::make_in_from_block(&holder, &bad); }), "script/invalid-type-spec");

    Cell* any = typeset::make_in_any(&holder);
    EXPECT_FALSE(typeset::has_q(any, TYPE_UNSET));
    EXPECT_TRUE(typeset::has_q(any, TYPE_NONE));
    EXPECT_TRUE(typeset::has_q(any, 95));

    Cell* raw = typeset::make_in(&holder, 1, 2, 3);
    EXPECT_EQ(raw->w1 + raw->w2 + raw->w3, 6u);
}

TEST(Typeset, WellKnownTypesetWords) {
    test::ensure_runtime();
    struct { const char* name; std::initializer_list<uint8_t> in, out; } cases[] = {
        {"number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}, {TYPE_CHAR, TYPE_MONEY}},
        {"scalar!", {TYPE_INTEGER, TYPE_POINT3D, TYPE_MONEY, TYPE_DATE}, {TYPE_STRING}},
        {"any-word!", {TYPE_WORD, TYPE_GET_WORD}, {TYPE_REFINEMENT}},
        {"all-word!", {TYPE_WORD, TYPE_REFINEMENT, TYPE_ISSUE}, {TYPE_STRING}},
        {"any-block!", {TYPE_BLOCK, TYPE_HASH, TYPE_SET_PATH}, {TYPE_STRING}},
        {"any-string!", {TYPE_STRING, TYPE_REF, TYPE_TAG}, {TYPE_BINARY}},
        {"any-function!", {TYPE_NATIVE, TYPE_ROUTINE}, {TYPE_OBJECT}},
        {"any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}, {TYPE_MAP}},
        {"series!", {TYPE_BINARY, TYPE_IMAGE, TYPE_BLOCK, TYPE_PATH, TYPE_FILE}, {TYPE_MAP, TYPE_BITSET}},
        {"immediate!", {TYPE_CHAR, TYPE_ISSUE, TYPE_TYPESET, TYPE_NONE}, {TYPE_BLOCK, TYPE_OBJECT}},
        {"any-type!", {TYPE_UNSET, TYPE_EVENT, TYPE_NONE}, {}},
    };
    for (auto& c : cases) {
        Cell ts = global(c.name);
        ASSERT_EQ(type_of(&ts), TYPE_TYPESET) << c.name;
        for (uint8_t t : c.in) EXPECT_TRUE(typeset::has_q(&ts, t)) << c.name << " " << int(t);
        for (uint8_t t : c.out) EXPECT_FALSE(typeset::has_q(&ts, t)) << c.name << " " << int(t);
    }
}
