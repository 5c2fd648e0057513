// The program's entry: start-up (program.hpp), then the console, which runs
// a script named on the command line or starts the prompt loop.
#include "boot/program.hpp"

int main(int argc, char** argv) {
    return zuv::program::start(argc, argv, [](int, char**) { return zuv::program::run(); });
}
