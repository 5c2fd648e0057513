#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/hash.hpp"
#include "runtime/words.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

std::string name(int32_t id) {
    return std::string(reinterpret_cast<const char*>(symbol::name_of(id)), size_t(symbol::name_length(id)));
}

class Symbols : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }
};

}  // namespace

TEST_F(Symbols, CaseVariantGetsAliasOfFirstSpelling) {
    int32_t print = symbol::make("sym-print");
    int32_t upper = symbol::make("Sym-Print");
    EXPECT_NE(print, upper);
    EXPECT_EQ(symbol::alias_of(print), -1);
    EXPECT_EQ(symbol::alias_of(upper), print);
    EXPECT_EQ(symbol::resolve(upper), print);
    EXPECT_EQ(symbol::resolve(print), print);
    // Interning either spelling again gives its own id back.
    EXPECT_EQ(symbol::make("sym-print"), print);
    EXPECT_EQ(symbol::make("Sym-Print"), upper);
    EXPECT_EQ(name(upper), "Sym-Print");
    // A third spelling aliases the first one too.
    EXPECT_EQ(symbol::resolve(symbol::make("SYM-PRINT")), print);
}

TEST_F(Symbols, ExactModeFindsAnExistingVariantAndMakesNone) {
    int32_t a = symbol::make("sym-top");
    int32_t b = symbol::make("Sym-Top");
    int32_t before = symbol::count();
    int32_t c = symbol::make_exact("SYM-TOP");
    EXPECT_TRUE(c == a || c == b);
    EXPECT_EQ(symbol::count(), before);
    // A name never seen is made as usual.
    int32_t fresh = symbol::make_exact("sym-pen-unseen");
    EXPECT_EQ(symbol::count(), before + 1);
    EXPECT_EQ(symbol::alias_of(fresh), -1);
}

TEST_F(Symbols, FoldingIsAsciiOnly) {
    int32_t upper = symbol::make("sym-\xC3\x89t\xC3\xA9");  // "sym-Été"
    int32_t lower = symbol::make("sym-\xC3\xA9t\xC3\xA9");  // "sym-été"
    EXPECT_NE(symbol::resolve(upper), symbol::resolve(lower));
    EXPECT_EQ(symbol::alias_of(lower), -1);
}

TEST_F(Symbols, ManyNamesSurviveGrowthOfTheTable) {
    // Enough names to push the table past its load bound at least once.
    // A name whose probe walk wraps past the last bucket between the first
    // two empty buckets it meets: the name takes the first, its case variant
    // the second, lower one, so the resize re-places the variant ahead of the
    // original. A third spelling must still resolve to the first.
    const hash::Table* t = hash::table_of(symbol::table);
    std::string wrap;
    for (int32_t i = 0; wrap.empty(); i++) {
        std::string candidate = "wrap-" + std::to_string(i);
        uint32_t h = hash::hash_symbol_name(reinterpret_cast<const uint8_t*>(candidate.data()), int32_t(candidate.size()));
        const uint32_t* flags = hash::flags_of(t);
        hash::Probe p(h, t->buckets);
        uint32_t empty[2];
        int32_t found = 0;
        do {
            if (hash::bucket_state(flags, p.index) == hash::BUCKET_EMPTY) empty[found++] = p.index;
        } while (found < 2 && p.next());
        if (found == 2 && empty[1] < empty[0]) wrap = candidate;
    }
    int32_t original = symbol::make(wrap.c_str());
    wrap[0] = 'W';
    symbol::make(wrap.c_str());
    t = hash::table_of(symbol::table);
    int32_t needed = t->upper - t->occupied + 100;
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < needed; i++) ids.push_back(symbol::make(("grow-" + std::to_string(i)).c_str()));
    EXPECT_GT(hash::table_of(symbol::table)->buckets, 16384);
    for (int32_t i = 0; i < needed; i += 97) {
        std::string spelling = "grow-" + std::to_string(i);
        EXPECT_EQ(symbol::make(spelling.c_str()), ids[size_t(i)]);
        EXPECT_EQ(name(ids[size_t(i)]), spelling);
    }
    EXPECT_EQ(symbol::resolve(symbol::make("GROW-5")), ids[5]);
    wrap[1] = 'R';
    EXPECT_EQ(symbol::resolve(symbol::make(wrap.c_str())), original);
}

TEST_F(Symbols, NameStringIsBuiltOnceAndNulTerminated) {
    int32_t id = symbol::make("sym-cached");
    EXPECT_EQ(symbol::cell_at(id)->w2, 0u);
    Node first = symbol::get_cell(id)->w2;
    EXPECT_NE(first, 0u);
    EXPECT_EQ(symbol::get_cell(id)->w2, first);
    Cell str;
    symbol::name_string_at(id, &str);
    EXPECT_EQ(test::text_of(&str), "sym-cached");
    EXPECT_STREQ(reinterpret_cast<const char*>(symbol::to_utf8_copy(id)), "sym-cached");
}

TEST_F(Symbols, MakeFromStringInternsItsText) {
    Cell str;
    string::zs_make_at(&str, 8);
    string::append_c_string(&str, "sym-from-text");
    EXPECT_EQ(symbol::make_from_string(&str), symbol::make("sym-from-text"));
    const uint8_t bytes[] = {'s', 'y', 'm', '-', 'x'};
    EXPECT_EQ(symbol::make_from_utf8(bytes, 5), symbol::make("sym-x"));
}

TEST_F(Symbols, CompareIgnoresCaseOnlyForEquality) {
    Cell a = *symbol::cell_at(symbol::make("sym-cmp"));
    Cell b = *symbol::cell_at(symbol::make("SYM-CMP"));
    EXPECT_EQ(symbol::compare(&a, &b, COMP_EQUAL), 0);
    EXPECT_NE(symbol::compare(&a, &b, COMP_STRICT_EQUAL), 0);
    Cell c = *symbol::cell_at(symbol::make("sym-cmq"));
    EXPECT_EQ(symbol::compare(&a, &c, COMP_LESSER), -1);
}

TEST_F(Symbols, AnyTypeIsRecognisedIgnoringCase) {
    Cell w{TYPE_WORD, 0, uint32_t(symbol::make("Any-Type!")), uint32_t(-1)};
    EXPECT_TRUE(symbol::any_type_q(&w));
    w.w2 = uint32_t(sym::integer_t);
    EXPECT_FALSE(symbol::any_type_q(&w));
}
