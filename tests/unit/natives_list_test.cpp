// The one list of natives against the boot code: the word each entry names is bound, once the
// library has run, to a native! of that entry's index, whose table slot holds that entry. The
// generated refinement names must match the boot data, and the generator must refuse boot data
// whose indexes have drifted from the C++ lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "datatypes/context.h"
#include "evaluator/natives-list.h"
#include "evaluator/natives.h"
#include "datatypes/word.h"
#include "runtime_fixture.h"
#include "source_tree.h"

using namespace zuv;

namespace {

class NativesListTest : public zuv::testing::RuntimeTest {};

TEST_F(NativesListTest, EachWordIsBoundToItsEntry) {
    zuv::testing::boot_language();
    struct Case {
        natives::Entry entry;
        const char* name;
    };
#define ZUV_NATIVE_CASE(entry, name) Case{natives::entry, name},
    const Case cases[] = {ZUV_NATIVES(ZUV_NATIVE_CASE)};
#undef ZUV_NATIVE_CASE
    ASSERT_LE(std::size(cases), static_cast<size_t>(natives::capacity));
    for (size_t i = 0; i < std::size(cases); ++i) {
        Cell word = *words::load(cases[i].name);
        const Cell* value = context::get(&word);
        ASSERT_TRUE(value->is(Type::native)) << cases[i].name;
        EXPECT_EQ(value->data1, i + 1) << cases[i].name;
        EXPECT_EQ(natives::table[i], cases[i].entry) << cases[i].name;
    }
}

const std::string& root = zuv::testing::source_root();

bool have_python() { return std::system("python3 --version > /dev/null 2>&1") == 0; }

// Runs the generator with extra arguments, its header going into dir; gives its exit status.
int generate(const std::string& dir, const std::string& extra) {
    const std::string cmd = "python3 " + root + "/tools/gen-natives.py --out " + dir + "/refinements.h " + extra +
                            " 2> " + dir + "/errors.txt";
    return std::system(cmd.c_str());
}

// The text with its first occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST(NativesList, GeneratorReproducesCommittedHeader) {
    if (!have_python()) GTEST_SKIP() << "python3 is not installed";
    char dir[] = "/tmp/refinements-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(generate(dir, ""), 0) << zuv::testing::slurp_file(std::string(dir) + "/errors.txt");
    EXPECT_EQ(zuv::testing::slurp_file(std::string(dir) + "/refinements.h"),
              zuv::testing::slurp_file(root + "/src/evaluator/refinements.h"));
    std::remove((std::string(dir) + "/refinements.h").c_str());
    std::remove((std::string(dir) + "/errors.txt").c_str());
    rmdir(dir);
}

// Each case moves one index in the boot data or one entry of a C++ list; the generator must
// fail and name what disagrees.
TEST(NativesList, GeneratorRefusesIndexesThatDrift) {
    if (!have_python()) GTEST_SKIP() << "python3 is not installed";
    struct Case {
        const char* file;  // relative to the source root
        const char* option;
        const char* from;
        const char* to;
        const char* message;
    };
    const Case cases[] = {
        {"src/library/00-natives.zuv", "--natives", "then-blk [block!]] 2]", "then-blk [block!]] 3]",
         "do not run"},
        {"src/library/00-natives.zuv", "--natives", "unless: make native!", "unlesss: make native!",
         "unlesss in the boot data, unless in ZUV_NATIVES"},
        {"src/library/00-natives.zuv", "--natives", "\n] 31]", "\n] 32]", "action find has index 32"},
        {"src/library/00-natives.zuv", "--natives", "/case /same", "/case /case", "has /case twice"},
        {"src/evaluator/natives-list.h", "--natives-list", "X(if_, \"if\") X(unless, \"unless\")",
         "X(unless, \"unless\") X(if_, \"if\")", "native 1 is if"},
        {"src/evaluator/natives-list.h", "--natives-list", " X(apply, \"apply\")", "", "ZUV_NATIVES 106"},
        {"src/memory/datatype.h", "--slots", "X(find, Find) X(head, Series)", "X(head, Series) X(find, Find)",
         "slot 32 in ZUV_ACTION_SLOTS"},
    };
    for (const Case& c : cases) {
        char dir[] = "/tmp/refinements-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        const std::string input = std::string(dir) + "/input";
        {
            std::ofstream out(input, std::ios::binary);
            out << replaced(zuv::testing::slurp_file(root + "/" + c.file), c.from, c.to);
        }
        EXPECT_NE(generate(dir, std::string(c.option) + " " + input), 0) << c.from;
        std::string errors = zuv::testing::slurp_file(std::string(dir) + "/errors.txt");
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.from << ": " << errors;
        for (const char* name : {"/input", "/errors.txt", "/refinements.h"}) std::remove((std::string(dir) + name).c_str());
        rmdir(dir);
    }
}

}  // namespace
