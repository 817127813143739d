// Loading source text into values: the lexer's scanner finds the tokens, the loaders here
// build each token's value into the innermost open block.
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/cell.h"
#include "reader/lexer-scan.h"

namespace zuv::lexer {

struct LoadResult {
    uint32_t consumed;  // bytes (characters for string input) scanned
    int32_t line;
};

// Loads UTF-8 text into values appended to the block. Syntax errors are raised.
LoadResult load_into(Cell* block, std::string_view text, bool one_value = false, bool string_input = false);
// The scan behind transcode: options as the scanner takes them (the loader is this module's,
// appending to the block). A syntax error that the scan must raise is raised here.
Result load_with(Cell* block, std::string_view text, Options options);
// The value the innermost running load appended last (what a callback's load event names),
// or null.
Cell* last_loaded();
// The values of a string! from its head, appended to the block; *consumed receives the
// count of characters scanned.
void scan_string(Cell* block, Cell* string, bool one_value, int32_t* consumed);
// One value from a string: the shared none cell when more text follows it, unset when the
// text holds no value.
Cell load_value(Cell* string);
// load_value for conversions: none for text that does not scan as a value.
Cell load_checked(Cell* string);

void init();

}  // namespace zuv::lexer
