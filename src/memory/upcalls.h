// Calls from the lower floors up: a sort running the user's comparator, a conversion loading
// text, an image read from a file, an object told of a change. The lower floor declares each
// call here and the floor that owns it fills the slot when it starts, as the datatypes give
// the collector their markers; a slot stays null until its floor is up.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "memory/cell.h"

namespace zuv::upcall {

// The kinds of runtime code calling into the language (the bits of
// system/state/callbacks/bits), which decide whether a tracer follows the call.
namespace callback {
constexpr uint32_t lexer = 1, parse = 2, sort = 4, change = 8, deep = 16, port = 32;
}

struct Calls {
    // The evaluator: calls a function value with count arguments into result; write_back,
    // when given, receives the arguments as the call left them (callback: a kind above).
    void (*apply)(const Cell* fn, const Cell* name, const Cell* args, int count, Cell* result,
                  Cell* write_back, uint32_t callback) = nullptr;
    // The evaluator: runs a bound body block (a `make object!` spec) as a native's body.
    // Afterwards the caller returns at once while *pending holds an exit code (break,
    // return, throw...) that must unwind.
    void (*run_body)(Cell* block) = nullptr;
    const uint32_t* pending = nullptr;
    // The evaluator: the block being evaluated (an error's near), and the tracer hearing of
    // an error value just made. pending and current_block point at idle values until then.
    const Cell* current_block = nullptr;
    void (*error_made)(Cell* error) = nullptr;
    // The evaluator: the value under system/<path...>, or null.
    Cell* (*system_field)(std::initializer_list<const char*> path) = nullptr;
    // The evaluator: an object's on-change* and on-deep-change* handlers.
    void (*fire_on_change)(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value) = nullptr;
    // The action is named by its symbol (the present form before the change, the past form
    // after it, as `append` and `appended`).
    void (*notify_deep_change)(const Cell* object, const Cell* word, const Cell* target, int32_t action_symbol,
                               const Cell* new_value, int32_t index, int32_t part) = nullptr;
    // The reader: the values of a string! from its head appended to the block (*consumed the
    // characters scanned, when given).
    void (*scan_string)(Cell* block, Cell* string, bool one_value, int32_t* consumed) = nullptr;
    // The reader: one value from a string (the shared none cell when more text follows it,
    // unset when it holds none), and the same that gives none for text that does not scan.
    Cell (*load_value)(Cell* string) = nullptr;
    Cell (*load_checked)(Cell* string) = nullptr;
    // The reader: the datatype id of the value at the head of UTF-8 text, scanned without
    // loading (nothing allocates), and its length in bytes; 0 or less when there is none.
    int32_t (*scan_type)(std::string_view text, uint32_t* length) = nullptr;
    // I/O: a file's whole contents, or nothing when it cannot be read.
    std::optional<std::string> (*read_file)(const std::string& os_path) = nullptr;
};

extern Calls calls;

}  // namespace zuv::upcall
