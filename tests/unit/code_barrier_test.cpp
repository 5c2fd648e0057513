// Every change of a block's cells passes the one door of memory::changing:
// each of the language's ways to change a series, run on a block marked as
// compiled from, must tell the evaluator (whose compiled code would else go
// on from cells that are not there any more). Reading must not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/memory.hpp"
#include "tests/unit/builder.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

std::vector<Node> dropped;
void record_drop(Node n) { dropped.push_back(n); }

// Sets b to the value of setup, marks b's series as compiled from, runs
// change; answers whether the evaluator was told of b's series (and what
// the change gave, for the failure message).
bool drops(const std::string& setup, const std::string& change, std::string* got) {
    eval_source(setup);
    Cell b = global_value("b");
    memory::buffer_of(b.w2)->flags |= SERIES_CODE;
    auto* saved = memory::drop_code_hook;
    memory::drop_code_hook = record_drop;
    dropped.clear();
    *got = run_source(change);
    memory::drop_code_hook = saved;
    bool told = false;
    for (Node n : dropped) told = told || n == b.w2;
    memory::buffer_of(b.w2)->flags &= ~SERIES_CODE;
    return told;
}

}  // namespace

TEST(CodeBarrier, EveryChangeOfABlockTellsTheEvaluator) {
    ensure_evaluator();
    const char* setup = "o: make object! [x: 1] b: [x 2 3 none 4]";
    const char* changes[] = {
        "append b 5", "append/only b [6]", "insert b 0", "insert/dup b 0 3", "insert tail b [7 8]",
        "change b 9", "change/part b 9 2", "poke b 2 10", "b/2: 11", "put b 'x 12", "remove b",
        "remove/part next b 2", "clear next b", "take b", "take/last b", "trim b", "reverse b",
        "sort next b", "swap b next b", "random/seed 1 random b", "move b tail b", "bind b o",
        "new-line next b true", "remove-each v b [v = 2]", "parse b [remove word! to end]",
        "parse b [insert 0 to end]", "append clear b [1]",
    };
    for (const char* change : changes) {
        std::string got;
        EXPECT_TRUE(drops(setup, change, &got)) << change << " gave " << got;
    }
}

TEST(CodeBarrier, ReadingABlockTellsNothing) {
    ensure_evaluator();
    const char* setup = "b: [x 2 3 4]";
    const char* reads[] = {"pick b 2", "b/2", "first b", "find b 3", "select b 'x", "copy b", "length? b",
                           "mold b", "foreach v b [v]", "do [b]", "bind copy b make object! [x: 1]"};
    for (const char* read : reads) {
        std::string got;
        EXPECT_FALSE(drops(setup, read, &got)) << read << " gave " << got;
    }
}

// A block rebound to the context it is bound to already keeps its code:
// bind changes no cell.
TEST(CodeBarrier, BindingToTheSameContextAgainChangesNothing) {
    ensure_evaluator();
    std::string got;
    EXPECT_TRUE(drops("o: make object! [x: 1] b: [x x]", "bind b o", &got)) << got;
    EXPECT_FALSE(drops("o: make object! [x: 1] b: bind [x x] o", "bind b o", &got)) << got;
}
