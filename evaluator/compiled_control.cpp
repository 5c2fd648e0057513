// The control natives run in place by compiled code: their one template
// (natives_control_internal.hpp) with a policy that runs the literal blocks
// of the code from their forms, without the general entry of a block
// evaluation (no hold: the code that holds the literal runs).
#include "evaluator/compiled_internal.hpp"
#include "evaluator/natives_control_internal.hpp"

namespace zuv::interpreter::compiled {

namespace {

struct InPlace {
    static void block(const Cell* block) { run_block_value(*block, true); }
    static void branch(const Cell* block) { run_branch_value(*block); }
    static void again(Repeated& block) { block.run(false); }
    static int32_t truth(Repeated& block) { return block.truth(false); }
    static bool read(Repeated& block) { return block.read(false); }
    static Stepped steps(Repeated& body, const Steps& s) {
        return body.quiet() ? body.steps(s, false) : Stepped::general;
    }
    static int32_t one(const Cell* code, int32_t position, int32_t end) {
        return run_one_value(*code, position, end);
    }
};

}  // namespace

void run_control(Kind kind) {
    using namespace natives::control;
    switch (kind) {
        case K_IF: if_<InPlace>(true); break;
        case K_UNLESS: if_<InPlace>(false); break;
        case K_EITHER: either_<InPlace>(); break;
        case K_WHILE: while_<InPlace>(); break;
        case K_UNTIL: until_<InPlace>(); break;
        case K_LOOP: loop_<InPlace>(); break;
        case K_REPEAT: repeat_<InPlace>(); break;
        case K_FOREVER: forever_<InPlace>(); break;
        case K_FOREACH: foreach_<InPlace>(); break;
        case K_ANY: any_all<InPlace>(true); break;
        case K_ALL: any_all<InPlace>(false); break;
        case K_CATCH: catch_<InPlace>(-1); break;
        case K_TRY: try_<InPlace>(false, false); break;
        case K_SWITCH: switch_<InPlace>(-1); break;
        default: break;
    }
}

}  // namespace zuv::interpreter::compiled
