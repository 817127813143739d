// The error catalogue against the C++ ids generated from it: the catalogue file, loaded by
// the runtime's own lexer and walked as data, must hold every id the C++ code names at the
// same category and index, and the generator must reproduce the committed header.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "datatypes/block.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "reader/lexer-load.h"
#include "runtime_fixture.h"
#include "source_tree.h"

using namespace zuv;

namespace {

const std::string& root = zuv::testing::source_root();

std::string slurp(const std::string& path) { return zuv::testing::slurp_file(path); }

std::string spelling(const Cell& word) { return symbol::name(static_cast<int32_t>(word.data2)); }

// A category of the catalogue: its word and the words of its object in order (code, type,
// then the ids), each with the value that follows it.
struct Category {
    std::string name;
    std::vector<std::pair<std::string, Cell>> fields;
};

// The cells after the first set-word of that name, searched depth first; null when absent.
const Cell* after_set_word(const Cell* at, const Cell* end, const std::string& name, const Cell** found_end) {
    for (; at < end; ++at) {
        if (at->is(Type::set_word) && spelling(*at) == name) {
            *found_end = end;
            return at + 1;
        }
        if (at->is(Type::block)) {
            if (const Cell* r = after_set_word(block::head(at), block::tail(at), name, found_end)) return r;
        }
    }
    return nullptr;
}

// The first block at or after a position: the body in `name: make object! [...]`.
const Cell* next_block(const Cell* at, const Cell* end) {
    while (at < end && !at->is(Type::block)) ++at;
    return at < end ? at : nullptr;
}

class ErrorCatalogueTest : public zuv::testing::RuntimeTest {
protected:
    // Loads the catalogue file and walks it. The loaded block stays on the argument stack
    // and nothing here allocates, so the cell pointers stay valid through the walk.
    std::vector<Category> read_catalogue() {
        Cell* code = block::push_new(16);
        lexer::load_into(code, slurp(root + "/src/library/01-catalog.zuv"));
        const Cell* end = nullptr;
        const Cell* at = after_set_word(block::head(code), block::tail(code), "catalog-errors", &end);
        EXPECT_NE(at, nullptr) << "no catalog-errors: in the catalogue";
        const Cell* body = at ? next_block(at, end) : nullptr;
        std::vector<Category> out;
        if (!body) return out;
        for (const Cell* c = block::head(body); c < block::tail(body); ++c) {
            if (!c->is(Type::set_word)) continue;
            const Cell* fields = next_block(c + 1, block::tail(body));
            EXPECT_NE(fields, nullptr) << spelling(*c);
            if (!fields) break;
            Category category{spelling(*c), {}};
            for (const Cell* f = block::head(fields); f < block::tail(fields); f += 2) {
                EXPECT_TRUE(f->is(Type::set_word) && f + 1 < block::tail(fields)) << category.name;
                category.fields.emplace_back(spelling(*f), f[1]);
            }
            out.push_back(category);
            c = fields;
        }
        return out;
    }
};

struct Entry {
    const char* category;
    uint8_t category_index, id_index;
    const char* name;
};
const Entry entries[] = {
#define ZUV_ERROR_ENTRY(cat, nm, c, i, text) {#cat, c, i, text},
    ZUV_ERROR_IDS(ZUV_ERROR_ENTRY)
#undef ZUV_ERROR_ENTRY
};

TEST_F(ErrorCatalogueTest, EveryCppIdSitsAtItsPlaceInTheCatalogue) {
    const std::vector<Category> catalogue = read_catalogue();
    ASSERT_EQ(catalogue.size(), 10u);
    size_t ids = 0;
    for (const Category& c : catalogue) ids += c.fields.size() - 2;
    EXPECT_EQ(std::size(entries), ids) << "the catalogue and the C++ list hold different ids";
    for (const Entry& e : entries) {
        ASSERT_LT(e.category_index, catalogue.size()) << e.name;
        const Category& c = catalogue[e.category_index];
        EXPECT_EQ(c.name, e.category) << e.name;
        ASSERT_LT(e.id_index, c.fields.size()) << e.category << "/" << e.name;
        EXPECT_EQ(c.fields[e.id_index].first, e.name) << e.category << " index " << int(e.id_index);
    }
    // the category constants and names the runtime uses by hand
    struct Named {
        uint8_t index;
        const char* name;
    } named[] = {{error::category::throw_, "throw"}, {error::category::note, "note"},
                 {error::category::syntax, "syntax"}, {error::category::script, "script"},
                 {error::category::math, "math"},     {error::category::access, "access"},
                 {error::category::user, "user"},     {error::category::internal, "internal"}};
    for (const Named& n : named) {
        EXPECT_EQ(catalogue[n.index].name, n.name);
        EXPECT_STREQ(error::category_name(n.index), n.name);
    }
}

// What the error! form action relies on: each category opens with its code and title, and
// a message is a string! or a block of strings and the argument get-words.
TEST_F(ErrorCatalogueTest, CategoriesHoldCodeTitleAndMessages) {
    const std::vector<Category> catalogue = read_catalogue();
    for (size_t c = 0; c < catalogue.size(); ++c) {
        const Category& cat = catalogue[c];
        ASSERT_GE(cat.fields.size(), 2u) << cat.name;
        EXPECT_EQ(cat.fields[0].first, "code");
        EXPECT_TRUE(cat.fields[0].second.is(Type::integer) && cat.fields[0].second.data2 == c * 100) << cat.name;
        EXPECT_EQ(cat.fields[1].first, "type");
        EXPECT_TRUE(cat.fields[1].second.is(Type::string)) << cat.name;
        for (size_t i = 2; i < cat.fields.size(); ++i) {
            const auto& [id, message] = cat.fields[i];
            if (message.is(Type::string)) continue;
            ASSERT_TRUE(message.is(Type::block)) << cat.name << "/" << id;
            EXPECT_LT(block::head(&message), block::tail(&message)) << cat.name << "/" << id << " is empty";
            for (const Cell* item = block::head(&message); item < block::tail(&message); ++item) {
                const bool argument = item->is(Type::get_word) &&
                                      (spelling(*item) == "arg1" || spelling(*item) == "arg2" || spelling(*item) == "arg3");
                EXPECT_TRUE(item->is(Type::string) || argument) << cat.name << "/" << id;
            }
            for (size_t j = 0; j < i; ++j) EXPECT_NE(cat.fields[j].first, id) << cat.name << " repeats " << id;
        }
    }
}

TEST(ErrorCatalogue, GeneratorReproducesCommittedHeader) {
    if (std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
    char dir[] = "/tmp/error-ids-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fresh = std::string(dir) + "/error-ids.h";
    const std::string cmd = "python3 " + root + "/tools/gen-error-ids.py --out " + fresh;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(slurp(fresh), slurp(root + "/src/memory/error-ids.h"));
    std::remove(fresh.c_str());
    rmdir(dir);
}

}  // namespace
