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
