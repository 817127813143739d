// Program entry and start-up sequence. The whole initialisation order lives here, one
// call per step, because later steps use what earlier ones made: the type records exist
// before the root block, the root block before the stacks and the symbol table, the
// symbol table before any word is interned.
#include "runtime/entry.h"

#include <cfenv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <pthread.h>

#include "runtime/alloc.h"
#include "runtime/fatal.h"
#include "runtime/init.h"
#include "runtime/platform.h"
#include "runtime/print.h"
#include "runtime/system.h"
#include "runtime/throw.h"

namespace zuv::runtime {

namespace {

SystemRecord the_system_record;

struct EntryArgs {
    int argc;
    char** argv;
};

// Masks every floating-point exception and rounds to nearest; NaN and infinities are
// values of the language, never traps.
void reset_floating_point() {
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetround(FE_TONEAREST);
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
#endif
}

}  // namespace

void record_machine_stack() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0 && size > 2 * machine_stack_reserve) {
        auto l = reinterpret_cast<uintptr_t>(low);
        stack_limit = l + machine_stack_reserve;
        set_stack_bounds(l, l + size);
    }
    pthread_attr_destroy(&attr);
}

void run_on_machine_stack(void* (*fn)(void*), void* arg) {
    for (size_t size = machine_stack_size; size >= (size_t(16) << 20); size /= 2) {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) break;
        pthread_t thread;
        bool made = pthread_attr_setstacksize(&attr, size) == 0 && pthread_create(&thread, &attr, fn, arg) == 0;
        pthread_attr_destroy(&attr);
        if (made) {
            pthread_join(thread, nullptr);
            return;
        }
    }
    fn(arg);
}

void start_here(uintptr_t top) {
    record_machine_stack();
    static SystemRecord record;
    system_record = &record;
    stack_top = top;
    rt::init_language();
    startup_mode = 0;
    collector_enabled = 1;
}

namespace {

[[noreturn]] void run(int argc, char** argv) {
    record_machine_stack();
    boot(argc, argv);
    reset_floating_point();
    // The top-level catch: any throw that nothing else takes ends here.
    try {
        system_record->boot_data = nullptr;
        system_record->boot_size = 0;
        stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        rt::init_language();
        boot::link();
        collector_enabled = 1;
        startup_mode = 0;
        boot::run_script();
        boot::launch_console();
    } catch (const Throw&) {
        top_catch();
    } catch (const std::bad_alloc&) {
        quit(out_of_memory, 0);
    } catch (...) {
        quit(unknown_error, 0);
    }
    quit(0, 0);
}

void* run_thread(void* p) {
    auto* a = static_cast<EntryArgs*>(p);
    run(a->argc, a->argv);
}

// The rest of the program runs on the interpreter's big stack, ending through quit.
[[noreturn]] void commit_stack_and_run(int argc, char** argv) {
    static EntryArgs args;
    args = {argc, argv};
    run_on_machine_stack(run_thread, &args);
    std::exit(0);  // not reached: the program ends through quit
}

}  // namespace

SystemRecord* system_record = nullptr;
int32_t startup_mode = 0;
int32_t collector_enabled = 0;
uintptr_t stack_limit = 0;
uintptr_t stack_top = 0;

[[noreturn]] void entry(int argc, char** argv) {
    reset_floating_point();
    system_record = &the_system_record;
    tracked_list = TrackedList{};
    system_record->tracked = &tracked_list;
    commit_stack_and_run(argc, argv);
}

void boot(int argc, char** argv) {
    install_fault_handlers();
    load_args(argc, argv);
}

void load_args(int argc, char** argv) {
    if (argc < 0 || !argv) argc = 0;
    auto** list = static_cast<char**>(alloc_zeroed(sizeof(char*) * (static_cast<size_t>(argc) + 1)));
    int32_t count = 0;
    std::string line;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (!a) break;
        size_t n = std::strlen(a) + 1;
        list[count] = static_cast<char*>(alloc(n));
        std::memcpy(list[count], a, n);
        if (count) line += ' ';
        line += platform::quote_argument(a);
        ++count;
    }
    list[count] = nullptr;
    auto* raw = static_cast<char*>(alloc(line.size() + 1));
    std::memcpy(raw, line.c_str(), line.size() + 1);
    if (!system_record) system_record = &the_system_record;
    system_record->argument_list = list;
    system_record->argument_count = count;
    system_record->thrown_code = 0;
    system_record->command_line = raw;
}

void exit_cleanup() { free_all(); }

}  // namespace zuv::runtime

namespace zuv::rt {

void init_language() {
    runtime::startup_mode = 1;
    runtime::init_output_hooks();          // both hook lists, 5 entries each
    platform::init();                      // output writer
    random::init();                        // generator state and seed
    memory::init();                        // memory root and collector
    external::init();                      // 20 kinds, 1000 records
    datatype::init_registry();             // type records and action table
    datatype::register_all();              // every datatype but event!, in registration order
    file::init_io();                       // the I/O actions of file! and url!
    url::init_io();
    actions::init();                       // the 62 actions
    memory::init_first_frames();           // node frame of 10,000 nodes, first series frame
    block::make_root();                    // 9695 cells
    stack::make_series();                  // 20,000 argument cells, 15,000 call cells
    symbol::make_table();                  // 4,000 cells
    context::make_global();                // 4,000 words
    case_folding::init();
    symbol::init_table_index();            // hash index of the symbol table
    words::init_type_words();
    words::init_builtins();                // built-in words, refinements, issues
    natives::init();                       // 120 entries
    parse::init();
    ownership::init();                     // 1000 entries
    process::init();
    stack::init();                         // stack globals over the two stack series
    lexer::init();
    boot::load_sections();                 // boot data into the root block; sets the literal base
    interpreter::init();
    slots::init();                         // 100 slots
    collector::init_state();
}

}  // namespace zuv::rt
