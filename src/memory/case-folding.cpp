// Case folding: the two BMP tables built at start-up from the generated pair lists, and the
// sorted astral lists searched as they stand.
#include "memory/case-folding.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <span>

#include "memory/unicode-tables.h"

namespace zuv::case_folding {

namespace {

using Table = std::array<uint32_t, 0x10000>;

// An entry 0 means "unchanged". Static storage: zero-filled before init runs.
Table upper_table;
Table lower_table;
bool built = false;

void fill(Table& table, std::span<const unicode_tables::CasePair> pairs) {
    for (const auto& pair : pairs) table[pair.code_point] = pair.mapping;
}

uint32_t search(std::span<const unicode_tables::CasePair> pairs, uint32_t cp) {
    if (cp < pairs.front().code_point || cp > pairs.back().code_point) return cp;
    auto it = std::lower_bound(pairs.begin(), pairs.end(), cp,
                               [](const unicode_tables::CasePair& p, uint32_t c) { return p.code_point < c; });
    return it->code_point == cp ? it->mapping : cp;
}

}  // namespace

void init() {
    if (built) return;
    fill(upper_table, unicode_tables::upper_bmp);
    fill(lower_table, unicode_tables::lower_bmp);
    built = true;
}

uint32_t change_char(uint32_t code_point, int32_t mode) {
    assert(built);
    if (code_point < 0x10000) {
        const uint32_t mapped = (mode == upper ? upper_table : lower_table)[code_point];
        return mapped != 0 ? mapped : code_point;
    }
    return search(mode == upper ? unicode_tables::upper_astral : unicode_tables::lower_astral, code_point);
}

uint32_t to_upper(uint32_t code_point) { return change_char(code_point, upper); }

uint32_t swap_case(uint32_t code_point) {
    const uint32_t up = change_char(code_point, upper);
    return up != code_point ? up : change_char(code_point, lower);
}

}  // namespace zuv::case_folding
