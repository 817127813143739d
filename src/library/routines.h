// The library's C++ side: the routine! values bound to global words at start-up (the
// runtime services the library reaches and the type predicates), and the binding that
// makes the library's own calls go straight to the functions it was defined with.
#pragma once
#include <string>
#include <vector>

#include "datatypes/logic.h"
#include "datatypes/function.h"

namespace zuv::library {

// One routine! to define: its word, its C++ entry (it takes the argument cells) and the
// texts of its spec block and of its body block (kept for reflection only).
struct Definition {
    std::string name;
    routine::CellEntry entry;
    std::string spec;
    std::string body;
};

// A routine's logic! answer: one of the shared cells, which the call copies.
inline Cell* answer(bool b) { return const_cast<Cell*>(b ? &logic::shared_true : &logic::shared_false); }

// Raises script/expect-arg naming the running routine, the value's datatype and the argument.
[[noreturn]] void raise_expect(const Cell* value, const char* argument);

// Makes each routine from its texts and sets its global word to it, or, given a context
// (a boot section's private one), adds its word there.
void define_routines(const std::vector<Definition>& list, Ref context = 0);

// The routines bound to words (quit-return ... write-stdout), and the type predicates.
// Run at start-up before the boot sources: a spec's type words are read at the first call.
void bind_routines();
void bind_predicates();

// Run once the boot sources are evaluated: every word of a library function's body that
// refers, through the global context, to a function value is bound instead to a private
// copy of that value, so that redefining a global word later changes no library call.
// Blocks handed to `do` as literals keep calling through the global words.
void bind_direct_calls();

}  // namespace zuv::library
