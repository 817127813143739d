// PARSE: matches a series against grammar rules written as blocks and, when the rules say
// so, changes it in place. The engine is a loop over two work blocks (rule frames and
// nested inputs) rather than recursion, so rule nesting is bounded by those blocks.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::parse {

// Makes the two work blocks in the root block (start-up, after the natives table).
void init();

// Runs the rules over the input. mode: 0 ignores letter case, 2 is strict. limit: an absolute
// end index into the input (0 for none). callback: a function! that receives the trace events,
// or null. Gives the result pushed on the argument stack: logic! true when the rules matched
// and consumed the whole input (up to the limit), or the block that a top-level collect made.
// Errors are raised, and throws passed on, after the work blocks are put back as they were.
Cell* match_rules(const Cell* input, const Cell* rules, int32_t mode, int32_t limit, const Cell* callback);

}  // namespace zuv::parse
