#include <gtest/gtest.h>

#include <cstring>

#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/word.hpp"
#include "tests/unit/fixture.hpp"

using namespace zuv;

namespace {

// Test-only slot functions, told apart by their addresses.
int32_t form_a(Cell*, Cell*, Cell*, int32_t part) { return part; }
int32_t form_b(Cell*, Cell*, Cell*, int32_t part) { return part - 1; }
int32_t compare_a(Cell*, Cell*, int32_t) { return 0; }
Cell* clear_a(Cell* v) { return v; }

// Builds a 62-entry row of fill, with three slots set.
struct Row {
    SlotEntry e[62];
};
constexpr Row make_row(SlotEntry fill, SlotEntry form, SlotEntry compare, SlotEntry clear) {
    Row r{};
    for (auto& x : r.e) x = fill;
    r.e[int(Act::form) - 1] = form;
    r.e[int(Act::compare) - 1] = compare;
    r.e[int(Act::clear) - 1] = clear;
    return r;
}

constexpr Row grand = make_row(NONE, slot<Act::form, &form_a>, slot<Act::compare, &compare_a>, INHERIT);
constexpr Row parent = make_row(INHERIT, INHERIT, INHERIT, slot<Act::clear, &clear_a>);
constexpr Row child = make_row(INHERIT, INHERIT, NONE, INHERIT);
constexpr Row parent_again = make_row(NONE, slot<Act::form, &form_b>, NONE, NONE);
static_assert(valid_row(grand.e) && valid_row(parent.e) && valid_row(child.e));

// Registers rows at the unused ids 54-56 and puts the tables back afterwards.
class TestRows : public ::testing::Test {
protected:
    void SetUp() override {
        saved_highest = datatype::highest_type;
        std::memcpy(saved_rows, &datatype::action_table[54], sizeof saved_rows);
        std::memcpy(saved_names, &datatype::type_names[54], sizeof saved_names);
    }
    void TearDown() override {
        datatype::highest_type = saved_highest;
        std::memcpy(&datatype::action_table[54], saved_rows, sizeof saved_rows);
        std::memcpy(&datatype::type_names[54], saved_names, sizeof saved_names);
    }
    int32_t saved_highest = 0;
    AnyFn saved_rows[3][ACTION_ROW_SIZE];
    datatype::TypeName saved_names[3];
};

}  // namespace

TEST_F(TestRows, ALateRegistrationMakesItsWordAtOnce) {
    test::ensure_runtime();
    datatype::register_type(56, 0, "late!", grand.e);
    const Cell& word = datatype::type_names[56].word;
    EXPECT_EQ(type_of(&word), TYPE_WORD);
    EXPECT_EQ(word.w2, word::from_c_string("late!").w2);
}

TEST_F(TestRows, ChildSeesWhatItsParentHeldAtRegistration) {
    datatype::register_type(54, 0, "grand!", grand.e);
    datatype::register_type(55, 54, "parent!", parent.e);
    datatype::register_type(56, 55, "child!", child.e);

    // An inherit marker without a parent means unsupported.
    EXPECT_EQ(get_slot<Act::clear>(54), nullptr);
    EXPECT_EQ(get_slot<Act::make>(54), nullptr);
    // The parent's own inherited slots reach the grandchild.
    EXPECT_EQ(get_slot<Act::form>(56), &form_a);
    EXPECT_EQ(get_slot<Act::clear>(56), &clear_a);
    EXPECT_EQ(get_slot<Act::compare>(55), &compare_a);
    EXPECT_EQ(get_slot<Act::compare>(56), nullptr);  // NONE overrides the parent

    // A later change of the parent's row does not reach the child.
    datatype::register_type(55, 54, "parent!", parent_again.e);
    EXPECT_EQ(get_slot<Act::form>(55), &form_b);
    EXPECT_EQ(get_slot<Act::form>(56), &form_a);

    EXPECT_EQ(datatype::highest_type, 56);
    EXPECT_STREQ(datatype::type_names[56].name, "child!");
    EXPECT_EQ(datatype::type_names[56].length, 5);
}

TEST(Registry, StartUpRegistersTheSimpleTypesFirst) {
    test::ensure_runtime();
    struct { int32_t type; const char* name; int32_t length; } cases[] = {
        {TYPE_DATATYPE, "datatype!", 8}, {TYPE_UNSET, "unset!", 5}, {TYPE_NONE, "none!", 4},
        {TYPE_LOGIC, "logic!", 5}, {TYPE_INTEGER, "integer!", 7},
    };
    for (auto& c : cases) {
        ASSERT_TRUE(datatype::known_q(c.type)) << c.name;
        EXPECT_STREQ(datatype::type_names[c.type].name, c.name);
        EXPECT_EQ(datatype::type_names[c.type].length, c.length);
    }
    // Each registered name has its word in the global context.
    const Cell& word = datatype::type_names[TYPE_INTEGER].word;
    EXPECT_EQ(type_of(&word), TYPE_WORD);
    EXPECT_EQ(word.w2, word::from_c_string("integer!").w2);

    EXPECT_EQ(get_slot<Act::form>(TYPE_INTEGER), &integer::form);
    EXPECT_EQ(get_slot<Act::complement>(TYPE_LOGIC), &logic::complement);
    EXPECT_EQ(get_slot<Act::add>(TYPE_LOGIC), nullptr);
}

TEST(Registry, CoreTypesInheritFromTheirParents) {
    test::ensure_runtime();
    ASSERT_TRUE(datatype::known_q(TYPE_SERIES) && datatype::known_q(TYPE_BLOCK));
    ASSERT_NE(get_slot<Act::random>(TYPE_SERIES), nullptr);
    EXPECT_EQ(get_slot<Act::random>(TYPE_BLOCK), get_slot<Act::random>(TYPE_SERIES));
    EXPECT_EQ(get_slot<Act::reflect>(TYPE_BLOCK), get_slot<Act::reflect>(TYPE_SERIES));
    if (!datatype::known_q(TYPE_PAREN)) GTEST_SKIP() << "paren! not registered yet";
    ASSERT_NE(get_slot<Act::find>(TYPE_BLOCK), nullptr);
    EXPECT_EQ(get_slot<Act::find>(TYPE_PAREN), get_slot<Act::find>(TYPE_BLOCK));
}
