// The built-in vocabulary's globals: symbol ids, global word cells, refinements and the
// issue, zero until evaluator/words-intern.cpp interns them at start-up.
#include "memory/words-builtin.h"

namespace zuv::words {

namespace sym {
#define ZUV_DEFINE_SYMBOL(name, text) int32_t name = 0;
ZUV_BUILTIN_SYMBOLS(ZUV_DEFINE_SYMBOL)
#undef ZUV_DEFINE_SYMBOL
}  // namespace sym

namespace global {
#define ZUV_DEFINE_WORD(name, text) Cell* name = nullptr;
ZUV_BUILTIN_GLOBAL_WORDS(ZUV_DEFINE_WORD)
#undef ZUV_DEFINE_WORD
}  // namespace global

namespace refine {
#define ZUV_DEFINE_WORD(name, text) Cell* name = nullptr;
ZUV_BUILTIN_REFINEMENTS(ZUV_DEFINE_WORD)
#undef ZUV_DEFINE_WORD
}  // namespace refine

Cell* issue_ooo = nullptr;

}  // namespace zuv::words
