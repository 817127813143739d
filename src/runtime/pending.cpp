// Initialisers of modules that are not built yet. Each leaves this file for its own
// module when that module is built; the start-up order itself lives in entry.cpp.
#include "runtime/init.h"

// Datatypes not registered yet.
namespace zuv {
namespace binary { void init() {} }
namespace object { void init() {} }
namespace bitset { void init() {} }
namespace error { void init() {} }
namespace vector { void init() {} }
namespace map { void init() {} }
namespace hash { void init() {} }
namespace port { void init() {} }
namespace image_codec { void init() {} }
namespace image { void init() {} }
}  // namespace zuv
namespace zuv::parse { void init() {} }
namespace zuv::ownership { void init() {} }
namespace zuv::checksum { void init() {} }
namespace zuv::compression { void init_words() {} }
namespace zuv::process { void init() {} }
namespace zuv::zuvbin { void boot_load() {} }
namespace zuv::slots { void init() {} }

// Natives not built yet.
#include "evaluator/natives-list.h"
namespace zuv::natives {
void foreach(bool c, const int32_t* r) { not_done(c, r); }
void forall(bool c, const int32_t* r) { not_done(c, r); }
void remove_each(bool c, const int32_t* r) { not_done(c, r); }
void get(bool c, const int32_t* r) { not_done(c, r); }
void set(bool c, const int32_t* r) { not_done(c, r); }
void stats(bool c, const int32_t* r) { not_done(c, r); }
void bind(bool c, const int32_t* r) { not_done(c, r); }
void in(bool c, const int32_t* r) { not_done(c, r); }
void parse(bool c, const int32_t* r) { not_done(c, r); }
void complement_q(bool c, const int32_t* r) { not_done(c, r); }
void dehex(bool c, const int32_t* r) { not_done(c, r); }
void enhex(bool c, const int32_t* r) { not_done(c, r); }
void negative_q(bool c, const int32_t* r) { not_done(c, r); }
void positive_q(bool c, const int32_t* r) { not_done(c, r); }
void max(bool c, const int32_t* r) { not_done(c, r); }
void min(bool c, const int32_t* r) { not_done(c, r); }
void shift(bool c, const int32_t* r) { not_done(c, r); }
void to_hex(bool c, const int32_t* r) { not_done(c, r); }
void sine(bool c, const int32_t* r) { not_done(c, r); }
void cosine(bool c, const int32_t* r) { not_done(c, r); }
void tangent(bool c, const int32_t* r) { not_done(c, r); }
void arcsine(bool c, const int32_t* r) { not_done(c, r); }
void arccosine(bool c, const int32_t* r) { not_done(c, r); }
void arctangent(bool c, const int32_t* r) { not_done(c, r); }
void arctangent2(bool c, const int32_t* r) { not_done(c, r); }
void nan_q(bool c, const int32_t* r) { not_done(c, r); }
void log_2(bool c, const int32_t* r) { not_done(c, r); }
void log_10(bool c, const int32_t* r) { not_done(c, r); }
void log_e(bool c, const int32_t* r) { not_done(c, r); }
void exp(bool c, const int32_t* r) { not_done(c, r); }
void square_root(bool c, const int32_t* r) { not_done(c, r); }
void construct(bool c, const int32_t* r) { not_done(c, r); }
void value_q(bool c, const int32_t* r) { not_done(c, r); }
void uppercase(bool c, const int32_t* r) { not_done(c, r); }
void lowercase(bool c, const int32_t* r) { not_done(c, r); }
void as_pair(bool c, const int32_t* r) { not_done(c, r); }
void as_point2D(bool c, const int32_t* r) { not_done(c, r); }
void as_point3D(bool c, const int32_t* r) { not_done(c, r); }
void as_money(bool c, const int32_t* r) { not_done(c, r); }
void extend(bool c, const int32_t* r) { not_done(c, r); }
void debase(bool c, const int32_t* r) { not_done(c, r); }
void to_local_file(bool c, const int32_t* r) { not_done(c, r); }
void wait(bool c, const int32_t* r) { not_done(c, r); }
void checksum(bool c, const int32_t* r) { not_done(c, r); }
void unset(bool c, const int32_t* r) { not_done(c, r); }
void new_line(bool c, const int32_t* r) { not_done(c, r); }
void new_line_q(bool c, const int32_t* r) { not_done(c, r); }
void enbase(bool c, const int32_t* r) { not_done(c, r); }
void context_q(bool c, const int32_t* r) { not_done(c, r); }
void set_env(bool c, const int32_t* r) { not_done(c, r); }
void get_env(bool c, const int32_t* r) { not_done(c, r); }
void list_env(bool c, const int32_t* r) { not_done(c, r); }
void now(bool c, const int32_t* r) { not_done(c, r); }
void sign_q(bool c, const int32_t* r) { not_done(c, r); }
void as(bool c, const int32_t* r) { not_done(c, r); }
void call(bool c, const int32_t* r) { not_done(c, r); }
void zero_q(bool c, const int32_t* r) { not_done(c, r); }
void size_q(bool c, const int32_t* r) { not_done(c, r); }
void browse(bool c, const int32_t* r) { not_done(c, r); }
void compress(bool c, const int32_t* r) { not_done(c, r); }
void decompress(bool c, const int32_t* r) { not_done(c, r); }
void recycle(bool c, const int32_t* r) { not_done(c, r); }
void transcode(bool c, const int32_t* r) { not_done(c, r); }
void apply(bool c, const int32_t* r) { not_done(c, r); }
}
