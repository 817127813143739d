// zuv-encode: turns a boot source into the compact ZUVBIN blob that the program embeds.
// The runtime starts without boot data; the lexer loads the source into one block, which is
// the blob's root value. Every word the lexer makes is global, and a compact global word
// reads the same in the boot form. Usage: zuv-encode SOURCE.zuv OUT.zuvbin
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "datatypes/block.h"
#include "library/boot.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"
#include "reader/zuvbin-format.h"
#include "reader/zuvbin.h"
#include "runtime/entry.h"
#include "runtime/system.h"
#include "runtime/throw.h"

using namespace zuv;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zuv-encode SOURCE.zuv OUT.zuvbin\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zuv-encode: cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();

    static runtime::SystemRecord record;
    runtime::system_record = &record;
    runtime::stack_top = 0;  // the collector scans the whole machine stack
    rt::init_language();
    runtime::startup_mode = 0;
    runtime::collector_enabled = 1;

    std::vector<uint8_t> blob;
    try {
        Cell* code = block::push_new(16);
        lexer::load_into(code, text.str());
        blob = zuvbin::encode_bytes(code, true);
    } catch (const runtime::Throw& t) {
        std::string why = t.code == runtime::throw_error ? boot::describe_error(stack::top()) : "a throw";
        std::fprintf(stderr, "zuv-encode: %s: %s\n", argv[1], why.c_str());
        return 1;
    }
    blob[6] = zuvbin::format::boot_version;

    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(blob.data()), static_cast<std::streamsize>(blob.size()));
    if (!out) {
        std::fprintf(stderr, "zuv-encode: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
