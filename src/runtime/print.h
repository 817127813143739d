// The runtime's own printer (below the language's print): typed argument lists written to
// standard output, then handed to the runtime hooks; and the two hook lists through which
// the GUI console receives everything printed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace zuv {
struct Cell;
}

namespace zuv::runtime {

enum class PrintKind : uint32_t { logic = 1, integer = 2, byte = 3, float32 = 4, float64 = 5, cstring = 6, hex = 7 };

// One entry of a typed argument list: a kind and its value.
struct PrintArg {
    PrintKind kind;
    uint64_t value;

    constexpr PrintArg(PrintKind k, uint64_t v) : kind(k), value(v) {}
    PrintArg(bool b) : kind(PrintKind::logic), value(b ? 1 : 0) {}
    PrintArg(int32_t i) : kind(PrintKind::integer), value(static_cast<uint64_t>(static_cast<int64_t>(i))) {}
    PrintArg(int64_t i) : kind(PrintKind::integer), value(static_cast<uint64_t>(i)) {}
    PrintArg(char c) : kind(PrintKind::byte), value(static_cast<unsigned char>(c)) {}
    PrintArg(float f);
    PrintArg(double d);
    PrintArg(const char* s) : kind(PrintKind::cstring), value(reinterpret_cast<uintptr_t>(s)) {}
    PrintArg(uint32_t x) : kind(PrintKind::hex), value(x) {}
};

inline PrintArg hex(uint32_t x) { return PrintArg(PrintKind::hex, x); }

void prin(std::initializer_list<PrintArg> args);
void print_line(std::initializer_list<PrintArg> args);
const char* print_cstring(const char* text);
void print_hex2(uint32_t value);
void print_float64(double value);

// Formatting of the number kinds, without printing: "%i", "%08X", "%02X", "%.16g", "%.7g".
// Locale-independent, so the decimal mark is always ".".
size_t format_int(char* out, int64_t value);
size_t format_hex8(char* out, uint32_t value);
size_t format_hex2(char* out, uint32_t value);
size_t format_float(char* out, double value, int precision);

// Hook lists. Print hooks get the language's formed text and a line-feed flag; runtime
// hooks get what the runtime printer wrote (UTF-8 bytes and their count).
using PrintHook = void (*)(Cell* text, int32_t line_feed);
using RuntimeHook = void (*)(const char* text, size_t length, int32_t reserved);

struct HookList {
    void** entries = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
};

extern HookList print_hooks;
extern HookList runtime_hooks;

void init_output_hooks();
void add_output_hooks(PrintHook print, RuntimeHook runtime);
void remove_output_hooks(PrintHook print, RuntimeHook runtime);
void call_print_hooks(Cell* text, int32_t line_feed);
void call_runtime_hooks(const char* text, size_t length, int32_t reserved);

}  // namespace zuv::runtime
