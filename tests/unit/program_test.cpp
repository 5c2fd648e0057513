// The program's line mode: printing results.
#include <gtest/gtest.h>

#include <string>

#include "boot/program.hpp"
#include "evaluator/stack.hpp"
#include "tests/unit/capture.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;

// A value that cannot be molded is reported as
// the error its printing raised, and printing goes on with the next result.
TEST(PrintResult, AnErrorWhilePrintingIsReportedInItsPlace) {
    test::ensure_evaluator();
    Cell* top = stack::top;
    Cell* unmoldable = stack::push_raw();
    *unmoldable = Cell{TYPE_SERIES, 0, 0, 0};  // the abstract parent of the series types has no text form
    Cell* fine = stack::push_raw();
    *fine = Cell{TYPE_INTEGER, 0, 5, 0};
    test::StdoutCapture capture;
    program::print_result(unmoldable);
    program::print_result(fine);
    std::string out = capture.finish();
    EXPECT_EQ(out.rfind("*** ", 0), 0u) << out;
    EXPECT_NE(out.find(" Error: "), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - 5), "== 5\n") << out;
    stack::top = top;
}
