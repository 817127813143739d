// The one list of datatypes against what is derived from it: the generator must reproduce the
// committed header and typesets, every datatype registers under its listed name, and each family mask the runtime tests holds what the language's typeset holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "datatypes/typeset.h"
#include "datatypes/context.h"
#include "datatypes/word.h"
#include "memory/datatype.h"
#include "runtime_fixture.h"
#include "source_tree.h"

using namespace zuv;

namespace {

const std::string& root = zuv::testing::source_root();

std::string slurp(const std::string& path) { return zuv::testing::slurp_file(path); }

TEST(DatatypeList, GeneratorReproducesCommittedFiles) {
    if (std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
    char dir[] = "/tmp/datatype-list-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string header = std::string(dir) + "/datatype-list.h";
    const std::string natives = std::string(dir) + "/00-natives.zuv";
    const std::string cmd = "python3 " + root + "/tools/gen-datatypes.py --header " + header + " --natives-out " + natives;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(slurp(header), slurp(root + "/src/memory/datatype-list.h"));
    EXPECT_EQ(slurp(natives), slurp(root + "/src/library/00-natives.zuv"));
    std::remove(header.c_str());
    std::remove(natives.c_str());
    rmdir(dir);
}

class DatatypeListTest : public zuv::testing::RuntimeTest {};

TEST_F(DatatypeListTest, EveryDatatypeRegistersAsListed) {
#define ZUV_CHECK_TYPE(cpp, id, text, parent, at_start)  \
    EXPECT_STREQ(datatype::records[id].name, text);     \
    EXPECT_TRUE(!(at_start) || datatype::registered_q(Type::cpp)) << text;
    ZUV_DATATYPES(ZUV_CHECK_TYPE)
#undef ZUV_CHECK_TYPE
}

TEST_F(DatatypeListTest, FamiliesHoldWhatTheTypesetsHold) {
    zuv::testing::boot_language();
    struct Case {
        const char* name;
        uint64_t mask;
    };
#define ZUV_TYPESET_CASE(name, family_name) Case{name, family::family_name},
    const Case cases[] = {ZUV_TYPESETS(ZUV_TYPESET_CASE)};
#undef ZUV_TYPESET_CASE
    for (const Case& c : cases) {
        Cell word = *words::load(c.name);
        const Cell* ts = context::get(&word);
        ASSERT_TRUE(ts->is(Type::typeset)) << c.name;
        for (int id = 1; id <= type_count; ++id)
            EXPECT_EQ(typeset::has(ts, static_cast<uint32_t>(id)), in_family(c.mask, static_cast<Type>(id)))
                << c.name << " and datatype " << datatype::records[id].name;
    }
}

}  // namespace

namespace {

// A typeset's bits are laid out a byte at a time (0x80 >> t % 8 of byte t / 8), the layout
// saved files keep; the membership test reads them a word at a time. Every datatype id, alone
// and beside its neighbours, must read back as set.
TEST(TypesetBits, EachIdReadsBackAloneAndAmongOthers) {
    for (uint32_t id = 0; id < 96; ++id) {
        Cell ts;
        cell::make(&ts, Type::typeset, 0, 0, 0);
        typeset::set(&ts, id);
        const auto* bytes = reinterpret_cast<const uint8_t*>(typeset::words(&ts));
        ASSERT_EQ(bytes[id / 8], 0x80 >> (id % 8)) << id;
        for (uint32_t other = 0; other < 100; ++other) ASSERT_EQ(typeset::has(&ts, other), other == id) << id << " " << other;
        Cell all;
        cell::make(&all, Type::typeset, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
        bytes = reinterpret_cast<const uint8_t*>(typeset::words(&all));
        const_cast<uint8_t*>(bytes)[id / 8] &= static_cast<uint8_t>(~(0x80 >> (id % 8)));
        for (uint32_t other = 0; other < 96; ++other) ASSERT_EQ(typeset::has(&all, other), other != id) << id << " " << other;
    }
}

}  // namespace
