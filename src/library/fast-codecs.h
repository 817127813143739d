// The JSON and CSV codecs' C++ fast paths, handed to 05-codecs.zuv through its private
// context. The section's PARSE rules stay the definition: each routine answers what they
// would, and gives up (none) on anything it does not take, so the rules run and report
// exactly as before.
#pragma once
#include "memory/cell.h"

namespace zuv::library {

// decode: text [string!] key [function!]. A one-value block holding what the decoding rules
// make of the text from its index (maps for objects, blocks for arrays, strings, integers,
// floats, logic values and none), or none when the text is not valid JSON, nests deeper
// than the rules allow, or holds a number they would not load. An object's name goes
// through the key function once per distinct name (the word or string it answers); a
// string answer is copied afresh for each later use.
Cell* json_decode(Cell** args);

// encode: value indent [string! none!] ascii. The JSON text the encoding rules write for the
// value (compact, or pretty with the indent; \u escapes for all but ASCII when ascii is
// set), or none when the value holds anything but none, logic values, integers, finite
// floats and percents, strings, blocks and maps with string or word keys, or holds a block
// or map inside itself.
Cell* json_encode(Cell** args);

// rows: data [string!] delimiter [char!] quote [char!] header. The records of CSV text from
// its index, each a new block of new strings (the header's first when header is set), as
// the reading rules of load-csv make them without /trim. None when the rules would stop
// early or answer an error: an empty text, a quoted field not closed or not followed by the
// delimiter or a line end, records of different lengths, or with header, a text with no line
// end after the header or nothing after it.
Cell* csv_rows(Cell** args);

}  // namespace zuv::library
