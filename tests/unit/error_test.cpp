#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"
#include "tests/unit/capture.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/source_eval.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

Cell w(const char* name, uint32_t type = TYPE_WORD) {
    return Cell{type, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
}
Cell num(int32_t n) { return Cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

class Error : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_runtime();
        stack::arguments = stack::top = stack::bottom;
        stack::frames_top = stack::frames_bottom;
        std::memset(stack::frames_bottom, 0, sizeof(stack::Frame));  // no try frame left in the bottom slot
        runtime::thrown_code = 0;
        collector::enabled = true;  // the GC-stress build collects and moves at every allocation
    }
    void TearDown() override { collector::enabled = false; }

    static Cell* block_of(std::initializer_list<Cell> cells) {
        Cell* b = block::make_at(stack::push_raw(), int32_t(cells.size()));
        for (const Cell& c : cells) block::append_cell(b, &c);
        return b;
    }
    static Cell str(const std::string& text) {
        return *string::load(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), 0);
    }
    // make error! spec; the error is on the data stack.
    static Cell* make(const Cell& spec) {
        Cell* e = datatype::make_at(stack::push_raw(), TYPE_ERROR);
        Cell* s = stack::push(&spec);
        error::make(e, s, TYPE_ERROR);
        stack::top = e + 1;
        return e;
    }
    // The error raised by fire under a try frame: the value the try receives.
    static Cell raise(ErrorCategory category, const char* id, const Cell* arg1 = nullptr) {
        Cell name = words::try_;
        stack::mark_try(&name);
        Cell error{};
        try {
            fire(category, id, arg1);
        } catch (const Throw& t) {
            EXPECT_EQ(t.code, THROW_ERROR);
            error = stack::top[-1];
        }
        runtime::thrown_code = 0;
        return error;
    }
    static std::string symbol_of(const Cell* word) {
        return reinterpret_cast<const char*>(symbol::name_of(int32_t(word->w2)));
    }
    static std::string type_and_id(const Cell* e) {
        return symbol_of(error::field(e, error::FIELD_TYPE)) + "/" + symbol_of(error::field(e, error::FIELD_ID));
    }
    static int32_t code(const Cell* e) { return integer::get_value(error::field(e, error::FIELD_CODE)); }
    static std::string form(Cell* v) {
        Cell* value = stack::push(v);
        Cell* buffer = string::zs_make_at(stack::push_raw(), 64);
        actions::call_form(value, buffer, nullptr, 0x7FFFFFFF);
        std::string text = test::text_of(buffer);
        stack::top = value;
        return text;
    }
    static std::string mold(Cell* v) {
        Cell* value = stack::push(v);
        Cell* buffer = string::zs_make_at(stack::push_raw(), 64);
        actions::call_mold(value, buffer, false, false, false, nullptr, 0x7FFFFFFF, 0);
        std::string text = test::text_of(buffer);
        stack::top = value;
        return text;
    }
};

// ---- the catalog ----

// The language copy of the catalog (boot/catalog.zuv) and the C++ table agree
// entry by entry: category order, codes, titles, ids and template texts.
TEST_F(Error, CatalogTableAgreesWithItsLanguageSource) {
    std::string path = __FILE__;
    path = path.substr(0, path.rfind("/tests/unit/")) + "/boot/catalog.zuv";
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    size_t at = 0;
    while (at < lines.size() && lines[at] != "]") at++;  // past the header
    at++;

    auto next = [&]() -> std::string {
        while (at < lines.size() && trim(lines[at]).empty()) at++;
        return at < lines.size() ? trim(lines[at++]) : "";
    };
    for (int32_t c = 0; c < error_catalog::CATEGORY_COUNT; c++) {
        const error_catalog::CategoryInfo& info = error_catalog::categories[c];
        SCOPED_TRACE(info.name);
        EXPECT_EQ(info.code, 100 * c);
        EXPECT_EQ(next(), std::string(info.name) + ": make object! [");
        EXPECT_EQ(next(), "code: " + std::to_string(info.code));
        EXPECT_EQ(next(), "type: \"" + std::string(info.title) + "\"");
        for (int32_t i = 0; i < info.count; i++) {
            const error_catalog::IdInfo& id = error_catalog::ids[info.first + i];
            EXPECT_EQ(next(), std::string(id.name) + ": " + id.template_text);
        }
        EXPECT_EQ(next(), "]");
    }
    EXPECT_EQ(next(), "") << "entries after the last category";
}

// Loaded by the lexer, catalog.zuv gives the same templates as the catalog
// object the runtime builds from its table.
TEST_F(Error, CatalogSourceLoadsToTheRuntimesTemplates) {
    std::string path = __FILE__;
    path = path.substr(0, path.rfind("/tests/unit/")) + "/boot/catalog.zuv";
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string source = text.str();
    lexer::init();
    Cell* loaded = stack::push_raw();
    ASSERT_EQ(test::raised([&] {
                  lexer::scan(loaded, reinterpret_cast<const uint8_t*>(source.data()), int32_t(source.size()), false,
                              true, true, false, nullptr, nullptr, nullptr, nullptr);
              }),
              "");
    ASSERT_EQ(type_of(loaded), TYPE_BLOCK);
    // Zuv [header] then, per category: name: make object! [body]
    ASSERT_EQ(block::zs_length_q(loaded), 2 + 4 * error_catalog::CATEGORY_COUNT);
    const Cell* errors = error_catalog::errors();
    for (int32_t c = 0; c < error_catalog::CATEGORY_COUNT; c++) {
        SCOPED_TRACE(error_catalog::categories[c].name);
        Cell body = block::zs_head(loaded)[2 + 4 * c + 3];
        ASSERT_EQ(type_of(&body), TYPE_BLOCK);
        Cell category = *_context::value_slot(errors->w1, c);
        int32_t fields = object::words_count(&category);
        ASSERT_EQ(block::zs_length_q(&body), 2 * fields);
        for (int32_t i = 0; i < fields; i++) {
            Cell name = block::zs_head(&body)[2 * i];
            Cell value = block::zs_head(&body)[2 * i + 1];
            EXPECT_EQ(symbol::resolve(int32_t(name.w2)),
                      symbol::resolve(int32_t(object::get_word(category.w1, i)->w2)));
            if (type_of(&value) == TYPE_LIT_WORD) cell::set_type(&value, TYPE_WORD);  // what make evaluates it to
            Cell expected = *_context::value_slot(category.w1, i);
            EXPECT_EQ(mold(&value), mold(&expected));
        }
    }
}

TEST_F(Error, CatalogObjectCountsCodeAndTypeBeforeTheIds) {
    const Cell* errors = error_catalog::errors();
    ASSERT_EQ(type_of(errors), TYPE_OBJECT);
    ASSERT_EQ(object::words_count(errors), 10);
    int32_t total = 0;
    for (int32_t c = 0; c < 10; c++) {
        const Cell* category = _context::value_slot(errors->w1, c);
        ASSERT_EQ(type_of(category), TYPE_OBJECT);
        total += object::words_count(category) - 2;
        EXPECT_EQ(integer::get_value(object::get_values(category)), 100 * c);
    }
    EXPECT_EQ(total, 140);
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::script, "no-value"), 0);
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::script, "bad-make-arg"), 53);
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::script, "zb-invalid-record"), 93);
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::internal, "bad-path"), 0);
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::math, "no-value"), -1);
    // The answer kept for an id's address belongs to its text: another text
    // at the same address, or the same text in another category, is looked up.
    char id[32] = "bad-make-arg";
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::script, id), 53);
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::script, id), 53);
    std::strcpy(id, "no-value");
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::script, id), 0);
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::math, id), -1);
    std::strcpy(id, "no-such-id");
    EXPECT_EQ(error_catalog::id_position(ErrorCategory::script, id), -1);
}

// ---- make ----

TEST_F(Error, MakeFromAnIntegerCode) {
    Cell* e = make(num(0));
    EXPECT_EQ(type_and_id(e), "throw/break");
    EXPECT_EQ(code(e), 0);
    EXPECT_EQ(int32_t(e->w2), error::CLASS_ID);
    EXPECT_EQ(e->w3, 0u);
    EXPECT_EQ(type_and_id(make(num(341))), "script/out-of-range");
    EXPECT_EQ(type_and_id(make(num(913))), "internal/deprecated");
    for (int32_t bad : {399, 1000, -1, 601, 801}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(test::raised([&] { make(num(bad)); }), "script/out-of-range");
    }
}

TEST_F(Error, MakeFromABlockOfWords) {
    Cell* e = make(*block_of({w("script"), w("no-value")}));
    EXPECT_EQ(code(e), 300);
    EXPECT_EQ(type_and_id(e), "script/no-value");
    EXPECT_EQ(code(make(*block_of({w("SCRIPT"), w("No-Value")}))), 300) << "names compare ignoring case";

    struct Case {
        std::vector<Cell> spec;
        const char* error;
    } cases[] = {
        {{w("script")}, "script/invalid-spec-field"},
        {{w("nonsense"), w("no-value")}, "script/invalid-spec-field"},
        {{w("math"), w("no-value")}, "script/invalid-spec-field"},
        {{w("math"), w("code")}, "script/invalid-spec-field"},
        {{w("math"), num(1)}, "script/invalid-arg"},
        {{num(1), num(2)}, "internal/invalid-error"},
        {{}, "internal/invalid-error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        Cell* spec = block::make_at(stack::push_raw(), 2);
        for (const Cell& v : c.spec) block::append_cell(spec, &v);
        EXPECT_EQ(test::raised([&] { make(*spec); }), c.error);
    }
}

TEST_F(Error, MakeFromASpecOfFields) {
    Cell* e = make(*block_of({w("type", TYPE_SET_WORD), w("math", TYPE_LIT_WORD), w("id", TYPE_SET_WORD),
                              w("zero-divide", TYPE_LIT_WORD), w("arg1", TYPE_SET_WORD), num(5)}));
    EXPECT_EQ(code(e), 400);
    EXPECT_EQ(integer::get_value(error::field(e, error::FIELD_ARG1)), 5);
    EXPECT_EQ(test::raised([&] { make(*block_of({w("type", TYPE_SET_WORD), w("nonsense", TYPE_LIT_WORD)})); }),
              "script/invalid-spec-field");
}

TEST_F(Error, MakeFromAStringIsAUserError) {
    Cell* e = make(str("boom"));
    EXPECT_EQ(code(e), 800);
    EXPECT_EQ(type_and_id(e), "user/message");
    EXPECT_EQ(test::text_of(error::field(e, error::FIELD_ARG1)), "boom");
    EXPECT_EQ(form(e), "*** User Error: boom\n*** Where: ???\n*** Near : none");

    Cell logic{TYPE_LOGIC, 1, 0, 0};
    EXPECT_EQ(test::raised([&] { make(logic); }), "script/bad-make-arg");
}

// ---- text ----

TEST_F(Error, TheReportFillsTheTemplate) {
    Cell foo = w("foo");
    Cell* e = error::create(object::get_word(error_catalog::errors()->w1, 3),
                            object::get_word(_context::value_slot(error_catalog::errors()->w1, 3)->w1, 2), &foo,
                            nullptr, nullptr);
    EXPECT_EQ(form(e), "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none");

    Cell where = w("my-func");
    error::set_where(e, &where);
    Cell other = w("other");
    error::set_where(e, &other);  // only while still none
    *error::field(e, error::FIELD_NEAR) = *block_of({w("foo"), num(1)});
    EXPECT_EQ(form(e), "*** Script Error: foo has no value\n*** Where: my-func\n*** Near : foo 1");

    // A message argument shows at most 80 characters, the Near line 40.
    Cell long_text = str(std::string(200, 'x'));
    Cell three = num(3);
    Cell* h = make(*block_of({w("script"), w("invalid-arg")}));
    *error::field(h, error::FIELD_ARG1) = long_text;
    Cell* near = block_of({});
    for (int i = 0; i < 30; i++) block::append_cell(near, &three);
    *error::field(h, error::FIELD_NEAR) = *near;
    std::string report = form(h);
    EXPECT_EQ(report.substr(0, report.find('\n')), "*** Script Error: invalid argument: {" + std::string(79, 'x'));
    std::string threes;
    for (int i = 0; i < 30; i++) threes += i ? " 3" : "3";
    EXPECT_EQ(report.substr(report.rfind('\n') + 1), "*** Near : " + threes.substr(0, 40));
}

TEST_F(Error, AnUnknownTypeFormsAsInvalidError) {
    Cell* e = make(*block_of({w("script"), w("no-value")}));
    *error::field(e, error::FIELD_TYPE) = w("bogus");
    EXPECT_EQ(form(e).substr(0, 58), "*** Internal Error: invalid error object field value: bogu");
    EXPECT_EQ(type_and_id(e), "internal/invalid-error");

    Cell* f = make(*block_of({w("math"), w("overflow")}));
    *error::field(f, error::FIELD_ID) = w("no-such-id");
    EXPECT_EQ(form(f).substr(0, form(f).find('\n')),
              "*** Internal Error: invalid error object field value: no-such-id");
}

TEST_F(Error, MoldListsAllTenFields) {
    Cell foo = w("foo");
    Cell* e = make(*block_of({w("script"), w("no-value")}));
    *error::field(e, error::FIELD_ARG1) = foo;
    EXPECT_EQ(mold(e),
              "make error! [\n"
              "    code: 300\n"
              "    type: 'script\n"
              "    id: 'no-value\n"
              "    arg1: 'foo\n"
              "    arg2: none\n"
              "    arg3: none\n"
              "    near: none\n"
              "    where: none\n"
              "    stack: none\n"
              "    files: none\n"
              "]");
}

TEST_F(Error, ComparesAsObjects) {
    Cell* a = make(*block_of({w("math"), w("overflow")}));
    Cell* b = make(*block_of({w("math"), w("overflow")}));
    Cell* c = make(*block_of({w("math"), w("positive")}));
    EXPECT_EQ(error::compare(a, b, COMP_EQUAL), 0);
    EXPECT_NE(error::compare(a, c, COMP_EQUAL), 0);
    EXPECT_EQ(type_of(b), TYPE_ERROR) << "the other error keeps its type";
    Cell* o = object::make_at(stack::push_raw(), 1);
    EXPECT_EQ(error::compare(a, o, COMP_EQUAL), COMPARE_INCOMPARABLE);
}

// ---- raising ----

TEST_F(Error, FireUnderATryGivesTheErrorValue) {
    Cell arg = num(7);
    Cell e = raise(ErrorCategory::script, "out-of-range", &arg);
    ASSERT_EQ(type_of(&e), TYPE_ERROR);
    EXPECT_EQ(code(&e), 341);
    EXPECT_EQ(integer::get_value(error::field(&e, error::FIELD_ARG1)), 7);
    EXPECT_EQ(type_of(error::field(&e, error::FIELD_STACK)), TYPE_INTEGER) << "the throw records its position";
    EXPECT_EQ(stack::depth(), 0) << "the try frame received it";
    EXPECT_EQ(runtime::pending_error().category, ErrorCategory::script);
    EXPECT_STREQ(runtime::pending_error().id, "out-of-range");

    Cell* caught = stack::push(&e);
    error::fill_stack(caught);
    EXPECT_EQ(type_of(error::field(caught, error::FIELD_STACK)), TYPE_BLOCK);
}

// Each raised error is a copy of the prototype: its own context, its self
// the copy, the prototype untouched; a function the prototype holds is
// bound to the copy, as make binds one.
TEST_F(Error, ARaisedErrorIsACopyOfThePrototype) {
    Cell arg = num(7);
    Cell first = raise(ErrorCategory::script, "out-of-range", &arg);
    Cell* kept = stack::push(&first);
    Cell second = raise(ErrorCategory::math, "zero-divide");
    first = *kept;
    Node proto = error::prototype()->w1;
    EXPECT_NE(first.w1, proto);
    EXPECT_NE(first.w1, second.w1);
    const Cell* self = _context::own_value(second.w1);
    EXPECT_EQ(type_of(self), TYPE_OBJECT);
    EXPECT_EQ(self->w1, second.w1);
    EXPECT_EQ(code(&first), 341);
    EXPECT_EQ(type_and_id(&second), "math/zero-divide");
    EXPECT_EQ(type_of(_context::value_slot(proto, error::FIELD_ARG1)), TYPE_NONE) << "the prototype keeps its values";

    // While another object stands in for it, the prototype is held by this
    // test alone: rooted, so that the collections below keep it.
    Cell saved = *error::prototype();
    collector::Root keep_saved(saved);
    test::Evaluated made = test::eval_source(
        "make object! [code: 0 type: none id: none arg1: none arg2: none arg3: none near: none where: none "
        "stack: none files: func [] [code]]");
    ASSERT_EQ(made.error, "");
    error::set_prototype(&made.value);
    Cell third = raise(ErrorCategory::math, "zero-divide");
    error::set_prototype(&saved);
    const Cell* files = error::field(&third, error::FIELD_FILES);
    ASSERT_EQ(type_of(files), TYPE_FUNCTION);
    const Cell* original = _context::value_slot(made.value.w1, error::FIELD_FILES);
    EXPECT_FALSE(files->w1 == original->w1 && files->w2 == original->w2) << "a copy of the function, bound anew";
}

TEST_F(Error, AnErrorThatNoTryReceivesIsReportedAndEndsTheProcess) {
    Cell foo = w("foo");
    EXPECT_EXIT(
        {
            test::stdout_to_stderr();
            runtime::uncaught_errors_exit = true;
            fire(ErrorCategory::script, "no-value", &foo);
        },
        ::testing::ExitedWithCode(254), "^\\*\\*\\* Script Error: foo has no value\n\\*\\*\\* Where: \\?\\?\\?\n"
                                        "\\*\\*\\* Near : none\n$");
}

TEST_F(Error, EvaluatingAWordWithoutValueOutsideATryEndsTheProcess) {
    Cell foo = word::from_c_string("foo-without-value");
    Cell* code = block_of({foo});
    EXPECT_EXIT(
        {
            test::stdout_to_stderr();
            runtime::uncaught_errors_exit = true;
            interpreter::eval_block(code, false);
        },
        ::testing::ExitedWithCode(254),
        "^\\*\\*\\* Script Error: foo-without-value has no value\n\\*\\*\\* Where: .*\n"
        "\\*\\*\\* Near : foo-without-value\n");
}

#ifndef NDEBUG
TEST_F(Error, AnIdOutsideTheCatalogIsReportedAsOurFault) {
    EXPECT_DEATH(fire(ErrorCategory::math, "no-value"), "the error catalog has no id math/no-value");
}
#endif

}  // namespace
