// The program's entry: platform start, then the runtime on a thread with a
// large stack, under the top-level catch; the collector runs from the end of
// start-up on.
#include <cstdlib>

#include "boot/program.hpp"
#include "runtime/init.hpp"
#include "runtime/process.hpp"

int main(int argc, char** argv) {
    using namespace zuv;
    runtime::init_process(argc, argv);
    int status = 0;
    runtime::run_on_big_stack([&] {
        runtime::run_top_level([&] {
            runtime::init();
            program::finish_start_up();
            status = program::run();
        });
    });
    return status;
}
