// The natives table, filled at start-up from the list of natives in its fixed index order,
// and the work block of print.
#include "evaluator/natives.h"

#include "datatypes/block.h"
#include "evaluator/natives-list.h"

namespace zuv::natives {

Entry table[capacity];
int32_t next_index = 1;
Cell work_block;

void register_list(std::initializer_list<Entry> entries) {
    for (Entry e : entries) {
        if (next_index > capacity) break;
        table[next_index - 1] = e;
        ++next_index;
    }
}

void init() {
    for (Entry& e : table) e = nullptr;
    next_index = 1;
    Cell* work = block::make_in(&block::root, 32);
    work_block = *work;
    register_list({
#define ZUV_NATIVE_ENTRY(entry, name) entry,
        ZUV_NATIVES(ZUV_NATIVE_ENTRY)
#undef ZUV_NATIVE_ENTRY
    });
}

}  // namespace zuv::natives
