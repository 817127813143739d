// The process-wide system record and the start-up flags every module reads.
// One thread runs the whole runtime, so none of this is locked.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zuv::runtime {

// Machine registers seen at a fault, written by the fault handler.
struct FaultRecord {
    uintptr_t stack_pointer = 0;
    uintptr_t frame_pointer = 0;
};

struct TrackedList;

struct SystemRecord {
    int32_t argument_count = 0;          // 0 when the arguments could not be taken
    char** argument_list = nullptr;      // UTF-8, null-terminated list of tracked blocks
    uint32_t thrown_code = 0;            // the throw code in flight
    const uint8_t* boot_data = nullptr;  // embedded boot data
    size_t boot_size = 0;
    FaultRecord* fault_record = nullptr;
    TrackedList* tracked = nullptr;
    const char* command_line = nullptr;  // the raw command line rebuilt from the arguments
};

extern SystemRecord* system_record;

// 1 while the runtime initialises and compiled code links: new global words are also
// copied into root-block cells, so the collector reaches them.
extern int32_t startup_mode;
// 0 until the literal handles are taken; cleared while boot data decodes.
extern int32_t collector_enabled;
// Lowest address the interpreter's machine stack may reach before it reports a stack
// overflow, and the stack's top as seen just before the runtime initialised.
extern uintptr_t stack_limit;
extern uintptr_t stack_top;

}  // namespace zuv::runtime
