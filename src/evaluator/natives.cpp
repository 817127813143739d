// The natives table, filled at start-up in the fixed index order that native! values and
// the boot data refer to, and the work block of print.
#include "evaluator/natives.h"

#include "datatypes/block.h"
#include "memory/error.h"
#include "evaluator/natives-list.h"

namespace zuv::natives {

Entry table[capacity];
int32_t next_index = 1;
Cell work_block;

void register_list(std::initializer_list<Entry> entries) {
    for (Entry e : entries) {
        if (next_index > capacity) break;
        table[next_index - 1] = e;
        ++next_index;
    }
}

void not_done(bool, const int32_t*) { error::raise(error::id::internal_not_done); }

void init() {
    for (Entry& e : table) e = nullptr;
    next_index = 1;
    Cell* work = block::make_in(&block::root, 32);
    work_block = *work;
    register_list({
        if_, unless, either, any, all, while_, until, loop, repeat, forever,
        foreach, forall, remove_each, func, function, does, has, switch_, case_, do_,
        get, set, print, prin, equal_q, not_equal_q, strict_equal_q, lesser_q, greater_q, lesser_or_equal_q,
        greater_or_equal_q, same_q, not_, type_q, reduce, compose, stats, bind, in, parse,
        union_, intersect, unique, difference, exclude, complement_q, dehex, enhex, negative_q, positive_q,
        max, min, shift, to_hex, sine, cosine, tangent, arcsine, arccosine, arctangent,
        arctangent2, nan_q, log_2, log_10, log_e, exp, square_root, construct, value_q, try_,
        uppercase, lowercase, as_pair, as_point2D, as_point3D, as_money, break_, continue_, exit, return_,
        throw_, catch_, extend, debase, to_local_file, wait, checksum, unset, new_line, new_line_q,
        enbase, context_q, set_env, get_env, list_env, now, sign_q, as, call, zero_q,
        size_q, browse, compress, decompress, recycle, transcode, apply,
    });
}

}  // namespace zuv::natives
