// Micro-benchmarks of runtime internals, beside the plain C++ a user would compare them
// with: symbol lookup against std::unordered_map, UTF-8 loading of ASCII text against a
// plain byte loop. Run by bench/run.sh; prints nanoseconds or MB/s and the ratios.
#include <chrono>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/string.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "memory/unicode.h"
#include "runtime/entry.h"
#include "runtime/system.h"

using namespace zuv;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void symbol_lookup() {
    constexpr int names = 10000, rounds = 200;
    std::vector<std::string> words;
    for (int i = 0; i < names; ++i) words.push_back("word-" + std::to_string(i * 7919));
    std::unordered_map<std::string, int> map;
    for (int i = 0; i < names; ++i) {
        symbol::make(words[i]);
        map.emplace(words[i], i);
    }
    long sum = 0;
    auto start = Clock::now();
    for (int r = 0; r < rounds; ++r)
        for (const std::string& w : words) sum += symbol::make(w);
    double ours = seconds_since(start);
    start = Clock::now();
    for (int r = 0; r < rounds; ++r)
        for (const std::string& w : words) sum += map.find(w)->second;
    double theirs = seconds_since(start);
    double n = double(names) * rounds;
    std::printf("%-28s %9.1f ns %9.1f ns %7.2f  (%ld)\n", "symbol lookup vs map", ours / n * 1e9, theirs / n * 1e9,
                ours / theirs, sum % 10);
}

void utf8_ascii() {
    constexpr size_t size = 64 << 20;
    std::vector<uint8_t> text(size);
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<uint8_t>("the quick brown fox jumps [1 2]\n"[i % 32]);
    std::vector<uint8_t> out(size);
    auto start = Clock::now();
    size_t k = 0;
    unicode::load_utf8(text.data(), size, false, [&](uint32_t c) { out[k++] = static_cast<uint8_t>(c); });
    double ours = seconds_since(start);
    start = Clock::now();
    uint8_t* o = out.data();
    for (size_t i = 0; i < size; ++i) {
        uint8_t b = text[i];
        if (b >= 0x80) break;
        o[i] = b;
    }
    asm volatile("" : : "r"(o) : "memory");
    double theirs = seconds_since(start);
    std::printf("%-28s %9.0f MB/s %6.0f MB/s %7.2f\n", "UTF-8 ASCII load vs bytes", size / ours / 1e6,
                size / theirs / 1e6, ours / theirs);
    start = Clock::now();
    Cell* s = string::load_push(text.data(), size);
    double whole = seconds_since(start);
    std::printf("%-28s %9.0f MB/s\n", "  as a string! value", size / whole / 1e6);
    stack::pop(1);
    (void)s;
}

}  // namespace

int main() {
    static runtime::SystemRecord record;
    runtime::system_record = &record;
    rt::init_language();
    runtime::startup_mode = 0;
    std::printf("%-28s %12s %12s %7s\n", "", "zuv", "plain C++", "ratio");
    symbol_lookup();
    utf8_ascii();
    return 0;
}
