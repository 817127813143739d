// The natives, one list: each native's entry and the word the boot code binds to it, in the
// fixed index order (from 1) that native! values and the boot data refer to. Each native family
// defines its entries in its own file.
#pragma once
#include <cstdint>

#define ZUV_NATIVES(X) \
    X(if_, "if") X(unless, "unless") X(either, "either") X(any, "any") X(all, "all") X(while_, "while") \
    X(until, "until") X(loop, "loop") X(repeat, "repeat") X(forever, "forever") X(foreach, "foreach") \
    X(forall, "forall") X(remove_each, "remove-each") X(func, "func") X(function, "function") X(does, "does") \
    X(has, "has") X(switch_, "switch") X(case_, "case") X(do_, "do") X(get, "get") X(set, "set") X(print, "print") \
    X(prin, "prin") X(equal_q, "equal?") X(not_equal_q, "not-equal?") X(strict_equal_q, "strict-equal?") \
    X(lesser_q, "lesser?") X(greater_q, "greater?") X(lesser_or_equal_q, "lesser-or-equal?") \
    X(greater_or_equal_q, "greater-or-equal?") X(same_q, "same?") X(not_, "not") X(type_q, "type?") \
    X(reduce, "reduce") X(compose, "compose") X(stats, "stats") X(bind, "bind") X(in, "in") X(parse, "parse") \
    X(union_, "union") X(intersect, "intersect") X(unique, "unique") X(difference, "difference") \
    X(exclude, "exclude") X(complement_q, "complement?") X(dehex, "dehex") X(enhex, "enhex") \
    X(negative_q, "negative?") X(positive_q, "positive?") X(max, "max") X(min, "min") X(shift, "shift") \
    X(to_hex, "to-hex") X(sine, "sine") X(cosine, "cosine") X(tangent, "tangent") X(arcsine, "arcsine") \
    X(arccosine, "arccosine") X(arctangent, "arctangent") X(arctangent2, "arctangent2") X(nan_q, "NaN?") \
    X(log_2, "log-2") X(log_10, "log-10") X(log_e, "log-e") X(exp, "exp") X(square_root, "square-root") \
    X(construct, "construct") X(value_q, "value?") X(try_, "try") X(uppercase, "uppercase") \
    X(lowercase, "lowercase") X(as_pair, "as-pair") X(as_point2D, "as-point2D") X(as_point3D, "as-point3D") \
    X(as_money, "as-money") X(break_, "break") X(continue_, "continue") X(exit, "exit") X(return_, "return") \
    X(throw_, "throw") X(catch_, "catch") X(extend, "extend") X(debase, "debase") X(to_local_file, "to-local-file") \
    X(wait, "wait") X(checksum, "checksum") X(unset, "unset") X(new_line, "new-line") X(new_line_q, "new-line?") \
    X(enbase, "enbase") X(context_q, "context?") X(set_env, "set-env") X(get_env, "get-env") X(list_env, "list-env") \
    X(now, "now") X(sign_q, "sign?") X(as, "as") X(call, "call") X(zero_q, "zero?") X(size_q, "size?") \
    X(browse, "browse") X(compress, "compress") X(decompress, "decompress") X(recycle, "recycle") \
    X(transcode, "transcode") X(apply, "apply")

namespace zuv::natives {

#define ZUV_DECLARE_NATIVE(entry, name) void entry(bool check, const int32_t* refinements);
ZUV_NATIVES(ZUV_DECLARE_NATIVE)
#undef ZUV_DECLARE_NATIVE

}  // namespace zuv::natives
