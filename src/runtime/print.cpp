// Runtime printer and hook lists. Everything printed here goes to standard output first,
// then to the runtime hooks in registration order.
#include "runtime/print.h"

#include <bit>
#include <charconv>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/stdio.h"

namespace zuv::runtime {

HookList print_hooks;
HookList runtime_hooks;

PrintArg::PrintArg(float f) : kind(PrintKind::float32), value(std::bit_cast<uint32_t>(f)) {}
PrintArg::PrintArg(double d) : kind(PrintKind::float64), value(std::bit_cast<uint64_t>(d)) {}

namespace {

// Writes without flushing; every public entry flushes once at its end.
void emit(const char* text, size_t length) {
    stdio::write_bytes(text, length);
    call_runtime_hooks(text, length, 0);
}

void emit_arg(const PrintArg& a) {
    char b[48];
    switch (a.kind) {
        case PrintKind::logic: emit(a.value ? "true" : "false", a.value ? 4 : 5); break;
        case PrintKind::integer: emit(b, format_int(b, static_cast<int64_t>(a.value))); break;
        case PrintKind::byte: b[0] = static_cast<char>(a.value); emit(b, 1); break;
        case PrintKind::float32:
            emit(b, format_float(b, static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(a.value))), 7));
            break;
        case PrintKind::float64: emit(b, format_float(b, std::bit_cast<double>(a.value), 16)); break;
        case PrintKind::cstring: {
            const char* s = reinterpret_cast<const char*>(static_cast<uintptr_t>(a.value));
            emit(s, std::strlen(s));
            break;
        }
        default: emit(b, format_hex8(b, static_cast<uint32_t>(a.value))); break;
    }
}

void print_one(const PrintArg& a) {
    emit_arg(a);
    stdio::flush_pending();
}

void grow(HookList& list) {
    int32_t capacity = list.capacity + 5;
    auto** entries = static_cast<void**>(alloc_zeroed(sizeof(void*) * static_cast<size_t>(capacity)));
    if (list.count > 0) std::memcpy(entries, list.entries, sizeof(void*) * static_cast<size_t>(list.count));
    free(list.entries);
    list.entries = entries;
    list.capacity = capacity;
}

void append(HookList& list, void* hook) {
    if (list.count == list.capacity) grow(list);
    list.entries[list.count++] = hook;
}

void remove_first(HookList& list, void* hook) {
    for (int32_t i = 0; i < list.count; ++i) {
        if (list.entries[i] == hook) {
            std::memmove(&list.entries[i], &list.entries[i + 1], sizeof(void*) * static_cast<size_t>(list.count - i - 1));
            --list.count;
            return;
        }
    }
}

}  // namespace

size_t format_int(char* out, int64_t value) {
    auto r = std::to_chars(out, out + 24, value);
    return static_cast<size_t>(r.ptr - out);
}

static size_t format_hex(char* out, uint32_t value, int width) {
    static const char digits[] = "0123456789ABCDEF";
    char tmp[8];
    int n = 0;
    do {
        tmp[n++] = digits[value & 15];
        value >>= 4;
    } while (value);
    size_t len = 0;
    for (int i = n; i < width; ++i) out[len++] = '0';
    while (n) out[len++] = tmp[--n];
    return len;
}

size_t format_hex8(char* out, uint32_t value) { return format_hex(out, value, 8); }
size_t format_hex2(char* out, uint32_t value) { return format_hex(out, value, 2); }

size_t format_float(char* out, double value, int precision) {
    // "%.Ng" without the C locale's say in the decimal mark.
    auto r = std::to_chars(out, out + 40, value, std::chars_format::general, precision);
    return static_cast<size_t>(r.ptr - out);
}

void prin(std::initializer_list<PrintArg> args) {
    for (const PrintArg& a : args) emit_arg(a);
    stdio::flush_pending();
}

void print_line(std::initializer_list<PrintArg> args) {
    for (const PrintArg& a : args) emit_arg(a);
    emit("\n", 1);
    stdio::flush_pending();
}

const char* print_cstring(const char* text) {
    print_one(text);
    return text;
}

void print_hex2(uint32_t value) {
    char b[8];
    emit(b, format_hex2(b, value & 0xFF));
    stdio::flush_pending();
}
void print_float64(double value) { print_one(value); }
void init_output_hooks() {
    print_hooks = HookList{};
    runtime_hooks = HookList{};
    grow(print_hooks);
    grow(runtime_hooks);
}

void add_output_hooks(PrintHook print, RuntimeHook runtime) {
    if (print) append(print_hooks, reinterpret_cast<void*>(print));
    if (runtime) append(runtime_hooks, reinterpret_cast<void*>(runtime));
}

void remove_output_hooks(PrintHook print, RuntimeHook runtime) {
    if (print) remove_first(print_hooks, reinterpret_cast<void*>(print));
    if (runtime) remove_first(runtime_hooks, reinterpret_cast<void*>(runtime));
}

void call_print_hooks(Cell* text, int32_t line_feed) {
    for (int32_t i = 0; i < print_hooks.count; ++i)
        reinterpret_cast<PrintHook>(print_hooks.entries[i])(text, line_feed);
}

void call_runtime_hooks(const char* text, size_t length, int32_t reserved) {
    for (int32_t i = 0; i < runtime_hooks.count; ++i)
        reinterpret_cast<RuntimeHook>(runtime_hooks.entries[i])(text, length, reserved);
}

}  // namespace zuv::runtime
