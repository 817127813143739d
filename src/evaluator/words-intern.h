// Start-up of the built-in vocabulary (memory/words-builtin.h), after the symbol table, the
// global context and the root block exist.
#pragma once

namespace zuv::words {

// Interns the vocabulary, then makes the refinements and the issue.
void init_builtins();
void init_refinements();
void init_issues();

}  // namespace zuv::words
