// Ownership tracking: binding, unbinding and the owner's notification of
// every in-place change to the series it owns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

// An owner whose handler logs the field word and the action word of each
// notification; its fields: a block a, a nested block b, a string s.
constexpr const char* OWNER =
    "log: copy [] "
    "o: make object! [a: [3 1 2] b: [x [y]] s: \"cab\" "
    "on-deep-change*: func [owner word target action new index part] [append log reduce [word action]]] ";

std::string logged(const std::string& source) { return run_source(std::string(OWNER) + source + " log"); }

// The hook that records what check() would hand to the owner's handler.
std::vector<std::string> hook_actions;
void record_action(const Cell*, const Cell*, const Cell*, const Cell* action, const Cell*, int32_t, int32_t) {
    hook_actions.push_back(reinterpret_cast<const char*>(symbol::to_utf8_copy(int32_t(action->w2))));
}
struct Hook {
    Hook() {
        hook_actions.clear();
        ownership::fire_deep_change = record_action;
    }
    ~Hook() { ownership::fire_deep_change = &object::fire_on_deep_change; }
};

bool owned_q(const Cell& series) { return (memory::buffer_of(series.w2)->flags & SERIES_OWNED) != 0; }

}  // namespace

TEST(Ownership, EveryEditingActionNotifiesBeforeAndAfter) {
    const struct {
        const char* source;
        const char* log;
    } cases[] = {
        {"append o/a 4", "[a append a appended]"},
        {"insert o/a 0", "[a insert a inserted]"},
        {"change o/a 0", "[a change a changed]"},
        {"clear next o/a", "[a clear a cleared]"},
        {"move o/a tail o/a", "[a move a moved]"},
        {"poke o/a 1 0", "[a poke a poked]"},
        {"put o/a 1 0", "[a put a put-ed]"},
        {"put o/a 9 0", "[a put a put-ed]"},
        {"remove o/a", "[a remove a removed]"},
        {"random o/a", "[a random a randomized]"},
        {"reverse o/a", "[a reverse a reversed]"},
        {"sort o/a", "[a sort a sorted]"},
        {"swap o/a [0]", "[a swap a swaped]"},
        {"take o/a", "[a take a taken]"},
        {"take/last o/a", "[a take a taken]"},
        {"append o/a none trim o/a", "[a append a appended a trim a trimmed]"},
        {"append o/s \"d\"", "[s append s appended]"},
        {"insert o/s \"d\"", "[s insert s inserted]"},
        {"change o/s \"d\"", "[s change s changed]"},
        {"clear o/s", "[s clear s cleared]"},
        {"poke o/s 1 #\"d\"", "[s poke s poked]"},
        {"remove o/s", "[s remove s removed]"},
        {"reverse o/s", "[s reverse s reversed]"},
        {"sort o/s", "[s sort s sorted]"},
        {"take o/s", "[s take s taken]"},
        {"trim o/s", "[s trim s trimmed]"},
        {"move o/s tail o/s", "[s move s moved]"},
        {"uppercase o/s", "[s uppercase]"},
        {"lowercase o/s", "[s lowercase]"},
        // A nested series reports under the field that holds it.
        {"append pick o/b 2 'z", "[b append b appended]"},
        // Both owned series of a swap report.
        {"swap o/a o/b", "[a swap b swap a swaped b swaped]"},
        // Reading changes nothing; nor does a copy, which starts unowned.
        {"pick o/a 1 find o/a 2 append copy o/a 5", "[]"},
        {"append log 1 length? log", "[1]"},
    };
    for (const auto& c : cases) EXPECT_EQ(logged(c.source), c.log) << c.source;
}

TEST(Ownership, MoveBetweenOwnedSeriesTellsBoth) {
    EXPECT_EQ(logged("move o/a o/b"), "[a move b move a moved b moved]");
    EXPECT_EQ(logged("move o/a [] o/a"), "[a move a moved]");
}

TEST(Ownership, UnboundSeriesTellNoOne) {
    EXPECT_EQ(logged("modify o/a 'owned none append o/a 4"), "[]");
    EXPECT_EQ(logged("modify o/b 'owned none append pick o/b 2 'z"), "[]") << "unbinding is deep";
    EXPECT_EQ(logged("x: [1] modify x 'owned reduce [o 'x] append x 2"), "[x append x appended]");
    EXPECT_EQ(run_source(std::string(OWNER) + "r: reflect o/a 'owned reduce [same? r/1 o r/2]"), "[true a]");
    EXPECT_EQ(run_source(std::string(OWNER) + "reflect [] 'owned"), "none");
}

TEST(Ownership, ASelfContainingBlockIsBoundOnce) {
    EXPECT_EQ(run_source("log: copy [] b: [1] append/only b b "
                         "o: make object! [x: b on-deep-change*: func [o w t a n i p] [append log a]] "
                         "append b 2 log"),
              "[append appended]");

    ensure_evaluator();
    Hook hook;
    Cell block = block_of({integer_value(1)});
    block::append_cell(&block, &block);
    Cell* owner = object::make_at(stack::push_raw(), 4);
    owner->w3 = object::make_event_info(-1, 0, 0, 0, 0, 0);  // event information to tell
    Cell word = word_of("x");
    ownership::set_owner(&block, owner, &word);
    EXPECT_TRUE(owned_q(block));
    ownership::Record r;
    ASSERT_TRUE(ownership::find_owner(block.w2, &r));
    EXPECT_EQ(r.value.w2, block.w2);
    EXPECT_EQ(r.owner.w1, owner->w1);
    EXPECT_EQ(r.word.w2, word.w2);

    EXPECT_TRUE(ownership::check(&block, &words::append, nullptr, 0, 1));
    ownership::unbind(&block);  // terminates too
    EXPECT_FALSE(owned_q(block));
    EXPECT_FALSE(ownership::find_owner(block.w2, &r));
    EXPECT_FALSE(ownership::check(&block, &words::append, nullptr, 0, 1));
    EXPECT_EQ(hook_actions, std::vector<std::string>{"append"}) << "nothing is called after unbinding";
    stack::pop(1);
}

TEST(Ownership, AnObjectHoldingItsOwnerIsNotWalkedAgain) {
    // The owner's own field and a nested object pointing back at it.
    EXPECT_EQ(run_source("log: copy [] q: make object! [back: none list: [1]] "
                         "o: make object! [me: self inner: q on-deep-change*: func [o w t a n i p] [append log w]] "
                         "q/back: o "
                         "p: make object! [k: q on-deep-change*: func [o w t a n i p] [append log w]] "
                         "append q/list 2 log"),
              "[list list]")
        << "q's series is owned under q's own field word";
    EXPECT_EQ(run_source("o: make object! [me: self on-deep-change*: func [o w t a n i p] []] reflect o 'owner"),
              "true");
}

TEST(Ownership, OwnersWithoutEventInformationAreNotTold) {
    ensure_evaluator();
    Hook hook;
    Cell series = string_value("abc");
    Cell* plain = object::make_at(stack::push_raw(), 4);
    ASSERT_EQ(plain->w3, 0u);
    Cell word = word_of("s");
    ownership::set_owner(&series, plain, &word);
    EXPECT_TRUE(owned_q(series));
    EXPECT_FALSE(ownership::check(&series, &words::append, nullptr, 0, 1));
    EXPECT_TRUE(hook_actions.empty());
    stack::pop(1);
}

TEST(Ownership, TheOwnersTableKeepsNothingAliveByItself) {
    // The owner object is held by no word: only its entry keeps it, while s lives.
    EXPECT_EQ(run_source("log: copy [] s: copy \"ab\" "
                         "do [make object! [x: s on-deep-change*: func [o w t a n i p] [append log reduce [w a]]]] "
                         "recycle append s \"c\" log"),
              "[x append x appended]");

    Hook hook;
    Cell word = word_of("s");
    collector::Root keep_word(word);
    Cell kept = string_value("kept");
    collector::Root keep(kept);
    Cell dropped = string_value("dropped");
    Node dropped_node = dropped.w2;
    {
        collector::Root keep_dropped(dropped);
        // Each owner is held by the data stack only while it is bound.
        Cell* owner = object::make_at(stack::push_raw(), 4);
        owner->w3 = object::make_event_info(-1, 0, 0, 0, 0, 0);
        ownership::set_owner(&kept, owner, &word);
        owner = object::make_at(stack::push_raw(), 4);
        owner->w3 = object::make_event_info(-1, 0, 0, 0, 0, 0);
        ownership::set_owner(&dropped, owner, &word);
        stack::pop(2);
    }
    collector::collect();
    collector::collect();  // a second pass frees what a surviving entry would still name

    ownership::Record r;
    EXPECT_FALSE(ownership::find_owner(dropped_node, &r)) << "a dead series and its owner leave the table";
    ASSERT_TRUE(ownership::find_owner(kept.w2, &r)) << "a live series keeps its entry and its owner";
    EXPECT_EQ(r.value.w2, kept.w2);
    EXPECT_TRUE(ownership::check(&kept, &words::append, nullptr, 0, 1));
    EXPECT_EQ(hook_actions, std::vector<std::string>{"append"});
}
