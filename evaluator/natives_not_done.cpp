// Entry functions of the natives whose families are not built yet: each
// raises internal not-done. The source that defines a native's real entry
// removes its line here.
#include "evaluator/natives.hpp"
#include "runtime/fire.hpp"

namespace zuv::natives {

#define ZUV_NOT_DONE(name) \
    void name(bool, const int32_t*) { fire(ErrorCategory::internal, "not-done"); }


}  // namespace zuv::natives
