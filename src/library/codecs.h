// The C++ side of the codecs section (05-codecs.zuv): the JSON decoder's unescape routine
// and the private context through which that section's code reaches it without a global word.
#pragma once
#include <string>

#include "memory/arena.h"
#include "memory/cell.h"

namespace zuv::library {

// unescape: rewrites a string! in place, from its head to its tail, turning each backslash
// escape of JSON text into its character; gives the string. A bad escape (an unknown letter,
// fewer than four hexadecimal digits after \u, a surrogate that is not half of a high-low
// pair, a backslash at the tail) raises script/invalid-data with the string.
Cell* json_unescape(Cell** args);

// The escape-free text of JSON string contents, as unescape makes it; false at the first
// bad escape.
bool json_decode_escapes(const std::u32string& text, std::u32string& out);

// The private context of 05-codecs.zuv: the word json-unescape, holding the routine! over
// json_unescape, kept alive by the root block. The start-up code makes it once and binds
// the section's code to it before running it.
Ref codecs_context();

}  // namespace zuv::library
