// The program's entry: platform start, then the runtime on a thread with a
// large stack, under the top-level catch.
#include "runtime/init.hpp"
#include "runtime/process.hpp"

int main(int argc, char** argv) {
    using namespace zuv;
    runtime::init_process(argc, argv);
    runtime::run_on_big_stack([] { runtime::run_top_level([] { runtime::init(); }); });
    return 0;
}
