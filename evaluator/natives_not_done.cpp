// Entry functions of the natives whose families are not built yet: each
// raises internal not-done. The source that defines a native's real entry
// removes its line here.
#include "evaluator/natives.hpp"
#include "runtime/fire.hpp"

namespace zuv::natives {

#define ZUV_NOT_DONE(name) \
    void name(bool, const int32_t*) { fire(ErrorCategory::internal, "not-done"); }

ZUV_NOT_DONE(stats_star)
ZUV_NOT_DONE(parse_star)
ZUV_NOT_DONE(union_star)
ZUV_NOT_DONE(intersect_star)
ZUV_NOT_DONE(unique_star)
ZUV_NOT_DONE(difference_star)
ZUV_NOT_DONE(exclude_star)
ZUV_NOT_DONE(dehex_star)
ZUV_NOT_DONE(enhex_star)
ZUV_NOT_DONE(to_hex_star)
ZUV_NOT_DONE(uppercase_star)
ZUV_NOT_DONE(lowercase_star)
ZUV_NOT_DONE(as_pair_star)
ZUV_NOT_DONE(as_point2D_star)
ZUV_NOT_DONE(as_point3D_star)
ZUV_NOT_DONE(as_money_star)
ZUV_NOT_DONE(debase_star)
ZUV_NOT_DONE(to_local_file_star)
ZUV_NOT_DONE(wait_star)
ZUV_NOT_DONE(checksum_star)
ZUV_NOT_DONE(new_line_star)
ZUV_NOT_DONE(new_line_q_star)
ZUV_NOT_DONE(enbase_star)
ZUV_NOT_DONE(context_q_star)
ZUV_NOT_DONE(set_env_star)
ZUV_NOT_DONE(get_env_star)
ZUV_NOT_DONE(list_env_star)
ZUV_NOT_DONE(now_star)
ZUV_NOT_DONE(as_star)
ZUV_NOT_DONE(call_star)
ZUV_NOT_DONE(size_q_star)
ZUV_NOT_DONE(browse_star)
ZUV_NOT_DONE(compress_star)
ZUV_NOT_DONE(decompress_star)
ZUV_NOT_DONE(recycle_star)
ZUV_NOT_DONE(apply_star)

}  // namespace zuv::natives
