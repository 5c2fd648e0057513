// The program's entry: start-up (program.hpp), then the script or the console
// as the arguments say.
#include "boot/program.hpp"

int main(int argc, char** argv) { return zuv::program::start(argc, argv, zuv::program::run); }
