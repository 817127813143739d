// The children of string!: file! molds and system paths, url! escapes, blocks and path
// joining, tag!, email! and ref! forms, email paths, and the slots each one fills.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "runtime/platform.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"
#include "string_fixture.h"

using namespace zuv;
using namespace zuv::testing;
namespace slot = zuv::datatype::slot;

namespace {

class FileUrlTest : public RuntimeTest {};

// A word of that name. While the symbol table's index is not built, the symbol's record is
// added to the table by hand.
Cell word(const char* name) {
    int32_t id = symbol::make(name);
    if (id == 0) {
        size_t n = std::strlen(name);
        Ref node = memory::alloc_bytes(static_cast<int64_t>(n) + 1);
        memory::SeriesBuffer* b = memory::buffer_of(node);
        std::memcpy(b->head_ptr(), name, n + 1);
        b->tail = b->head + static_cast<uint32_t>(n + 1);
        Cell record{static_cast<uint32_t>(Type::symbol), static_cast<uint32_t>(-1), 0, node};
        block::append(&symbol::table, &record);
        id = symbol::count();
    }
    return Cell{static_cast<uint32_t>(Type::word), 0, static_cast<uint32_t>(id), static_cast<uint32_t>(-1)};
}

Cell* path(Type t, Cell& value, Cell element, Cell* set = nullptr) {
    auto f = reinterpret_cast<slotfn::EvalPath>(datatype::action_of(t, slot::eval_path));
    return f(&value, &element, set, false, nullptr, nullptr, 0, true, false);
}

}  // namespace

TEST_F(FileUrlTest, FileMold) {
    struct Case {
        const char* text;
        const char* mold;
    } cases[] = {
        {"dir/f.txt", "%dir/f.txt"},
        {"a b", "%\"a b\""},
        {"", "%\"\""},
        {"\u00E9t\u00E9", "%\u00E9t\u00E9"},
        {"50%", "%\"50%\""},
        {"/c/x~!$&'()*+,=?@_#:", "%/c/x~!$&'()*+,=?@_#:"},
        {"a;b", "%\"a;b\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(str(c.text, Type::file)), c.mold);
        EXPECT_EQ(form(str(c.text, Type::file)), c.text);
    }
    Cell f = str("abcdef", Type::file), out = str(""), limit = integer(3);
    EXPECT_EQ(file::mold(&f, &out, false, false, false, &limit, 3, 0), -1);
    EXPECT_EQ(utf8(out), "%abc");
}

TEST_F(FileUrlTest, SystemPaths) {
    struct Case {
        const char* file;
        bool full;
        std::string local;
    } cases[] = {
        {"/home/u/f", false, "/home/u/f"},
        {"//srv/share", false, "/srv/share"},
        {"dir/f", false, "dir/f"},
        {"dir/f", true, platform::get_current_dir() + "/dir/f"},
        {"/c/dir", true, "/c/dir"},
    };
    for (const Case& c : cases) {
        Cell f = str(c.file, Type::file), out = str("");
        file::to_local(&f, &out, c.full);
        EXPECT_EQ(utf8(out), c.local) << c.file;
    }
    Cell f = str("a\u00E9/b", Type::file);
    EXPECT_EQ(file::to_os_path(&f), "a\u00E9/b");
    std::string dir = utf8(*file::current_dir());
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    const char* loaded = "x/\u00E9";
    Cell* l = file::load(reinterpret_cast<const uint8_t*>(loaded), std::strlen(loaded));
    EXPECT_TRUE(l->is(Type::file));
    EXPECT_EQ(utf8(*l), loaded);
}

TEST_F(FileUrlTest, FileActionsGoToTheFileLayer) {
    Cell f = str("x", Type::file), as = str("utf-8");
    auto read = reinterpret_cast<slotfn::Read>(datatype::action_of(Type::file, slot::read));
    auto write = reinterpret_cast<slotfn::Write>(datatype::action_of(Type::file, slot::write));
    EXPECT_EQ(raised([&] { read(&f, {.as = &as}); }), error::id::internal_not_done);
    EXPECT_EQ(raised([&] { write(&f, &as, {.allow = &as}); }),
              error::id::internal_not_done);
    EXPECT_EQ(raised([&] { write(&f, &as, {.as = &as}); }),
              error::id::internal_not_done);
}

TEST_F(FileUrlTest, UrlEncoding) {
    struct Case {
        const char* text;
        const char* mold;
    } cases[] = {
        {"http://a/b c", "http://a/b%20c"},
        {"x[y]", "x%5By%5D"},
        {"!$'()*+,:=?@#&~_.-/", "!$'()*+,:=?@#&~_.-/"},
        {"\u00E9", "%C3%A9"},
        {"a%b\"<>{}|\\^`", "a%25b%22%3C%3E%7B%7D%7C%5C%5E%60"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(str(c.text, Type::url)), c.mold) << c.text;
    EXPECT_EQ(form(str("a b", Type::url)), "a b");

    char out[3];
    EXPECT_EQ(url::encode_byte(url::mode_strict, '/', out), 3);
    EXPECT_EQ(std::string(out, 3), "%2F");
    EXPECT_EQ(url::encode_byte(url::mode_strict, '~', out), 1);
    EXPECT_EQ(url::encode_byte(url::mode_url, '/', out), 1);
    EXPECT_EQ(url::encode_byte(url::mode_url, 0x80, out), 3);
    std::string encoded;
    Cell s = str("a b/\u00E9");
    url::encode(&s, encoded, url::mode_strict);
    EXPECT_EQ(encoded, "a%20b%2F%C3%A9");

    Cell u = str("", Type::url), limit = integer(4), full = str("a b", Type::url);
    EXPECT_EQ(url::mold(&full, &u, false, false, false, &limit, 4, 0), -1);
    EXPECT_EQ(utf8(u), "a%20");
}

TEST_F(FileUrlTest, UrlDecoding) {
    struct Case {
        const char* bytes;
        const char* text;
    } cases[] = {
        {"http://x/caf%C3%A9", "http://x/caf\u00E9"},
        {"%c3%a9", "\u00E9"},           // lower-case digits decode too
        {"%E9", "\u00E9"},              // a lone escape is its byte's code point
        {"%C3%41", "\u00C3A"},          // an escape that does not complete the sequence
        {"%E2%82%AC!", "\u20AC!"},
        {"%zz%4", "%zz%4"},             // not escapes
        {"\u20AC%20", "\u20AC "},
    };
    for (const Case& c : cases) {
        Cell* u = url::load(reinterpret_cast<const uint8_t*>(c.bytes), std::strlen(c.bytes));
        EXPECT_TRUE(u->is(Type::url));
        EXPECT_EQ(utf8(*u), c.text) << c.bytes;
    }
    const char* in = "http://x/caf%C3%A9";
    EXPECT_EQ(mold(*url::load(reinterpret_cast<const uint8_t*>(in), std::strlen(in))), in);
    Cell s = str("a%20b"), target = str("<");
    url::decode(&s, &target);
    EXPECT_EQ(utf8(target), "<a b");
    uint8_t byte = 0;
    const uint8_t esc[] = {'%', '4', 'f'};
    EXPECT_TRUE(url::decode_escape(esc, esc + 3, byte));
    EXPECT_EQ(byte, 0x4F);
    EXPECT_FALSE(url::decode_escape(esc, esc + 2, byte));
}

TEST_F(FileUrlTest, UrlFromBlock) {
    Cell proto{};
    int32_t type = static_cast<int32_t>(Type::url);
    Cell spec = block_of({str("http"), str("h"), integer(8080), str("a"), str("b")});
    Cell* u = url::make(&proto, &spec, type);
    EXPECT_TRUE(u->is(Type::url));
    EXPECT_EQ(utf8(*u), "http://h:8080/a/b");
    Cell short_spec = block_of({str("ftp"), str("h"), str("p")});
    EXPECT_EQ(utf8(*url::to(&proto, &short_spec, type)), "ftp://h/p");
    Cell empty = block_of({});
    EXPECT_EQ(raised([&] { url::to(&proto, &empty, type); }), error::id::script_bad_to_arg);
    // Other specs are made as strings are.
    Cell s = str("x y");
    EXPECT_EQ(utf8(*url::to(&proto, &s, type)), "x y");
    Cell file_spec = block_of({str("a"), str("b")});
    Cell* f = url::make(&proto, &file_spec, static_cast<int32_t>(Type::file));
    EXPECT_TRUE(f->is(Type::file));
}

TEST_F(FileUrlTest, PathJoining) {
    struct Case {
        const char* base;
        Type type;
        const char* element;
        const char* joined;
    } cases[] = {
        {"http://a/", Type::url, "b", "http://a/b"},
        {"http://a", Type::url, "b", "http://a/b"},
        {"http://a/", Type::url, "/b", "http://a/b"},
        {"http://a", Type::url, "/b", "http://a/b"},
        {"dir", Type::file, "f.txt", "dir/f.txt"},
    };
    for (const Case& c : cases) {
        Cell base = str(c.base, c.type);
        Cell* r = path(c.type, base, str(c.element));
        EXPECT_EQ(r->type(), c.type);
        EXPECT_EQ(utf8(*r), c.joined);
        EXPECT_EQ(utf8(base), c.base);  // the URL itself is unchanged
    }
    Cell base = str("http://a", Type::url), v = str("x");
    EXPECT_EQ(raised([&] { path(Type::url, base, str("b"), &v); }), error::id::script_bad_path_set);
}

TEST_F(FileUrlTest, UrlReadAndWrite) {
    auto read = reinterpret_cast<slotfn::Read>(datatype::action_of(Type::url, slot::read));
    auto write = reinterpret_cast<slotfn::Write>(datatype::action_of(Type::url, slot::write));
    Cell http = str("http://example.org", Type::url), ftp = str("ftp://x", Type::url), n = integer(1);
    // Other schemes go through a port, which needs the library's URL parser (not loaded here).
    EXPECT_EQ(raised([&] { read(&ftp, {}); }), error::id::script_no_value);
    EXPECT_EQ(raised([&] { read(&http, {.part = &n}); }), error::id::internal_not_done);
    Cell bad_method = block_of({str("get"), block_of({}), str("data")});
    EXPECT_EQ(raised([&] { write(&http, &bad_method, {}); }),
              error::id::script_invalid_arg);
    Cell bad_headers = block_of({word("post"), str("h"), str("data")});
    EXPECT_EQ(raised([&] { write(&http, &bad_headers, {}); }),
              error::id::script_invalid_arg);
}

TEST_F(FileUrlTest, TagEmailRefForms) {
    struct Case {
        Cell value;
        const char* form;
        const char* mold;
    } cases[] = {
        {str("a href=\"x\"", Type::tag), "<a href=\"x\">", "<a href=\"x\">"},
        {str("u@h", Type::email), "u@h", "u@h"},
        {str("foo", Type::ref), "foo", "@foo"},
        {str("a\nb", Type::email), "a\nb", "a\nb"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.form);
        EXPECT_EQ(mold(c.value), c.mold);
    }
    // A tag appended to a string brings its brackets.
    Cell s = str("x"), t = str("b", Type::tag);
    string::append(&s, &t, -1, false, 1);
    EXPECT_EQ(utf8(s), "x<b>");
    // The budget counts the brackets.
    auto tag_form = reinterpret_cast<slotfn::Form>(datatype::action_of(Type::tag, slot::form));
    Cell out = str("");
    EXPECT_EQ(tag_form(&t, &out, nullptr, 10), 7);
}

TEST_F(FileUrlTest, EmailPaths) {
    Cell e = str("u@h", Type::email);
    EXPECT_EQ(utf8(*path(Type::email, e, word("user"))), "u");
    Cell* host = path(Type::email, e, word("HOST"));
    EXPECT_TRUE(host->is(Type::string));
    EXPECT_EQ(utf8(*host), "h");
    Cell k = str("k"), who = str("me");
    path(Type::email, e, word("host"), &k);
    EXPECT_EQ(utf8(e), "u@k");
    path(Type::email, e, word("user"), &who);
    EXPECT_EQ(utf8(e), "me@k");

    Cell bare = str("nobody", Type::email);
    EXPECT_EQ(utf8(*path(Type::email, bare, word("user"))), "nobody");
    EXPECT_EQ(utf8(*path(Type::email, bare, word("host"))), "");
    EXPECT_EQ(raised([&] { path(Type::email, e, word("domain")); }), error::id::script_invalid_path);
    EXPECT_EQ(raised([&] { path(Type::email, e, str("x")); }), error::id::script_invalid_path);
}

TEST_F(FileUrlTest, ActionSlots) {
    auto of = [](Type t, int s) { return datatype::action_of(t, s); };
    // Own, inherited and empty slots of the family.
    EXPECT_NE(of(Type::string, slot::find), nullptr);
    EXPECT_EQ(of(Type::url, slot::find), of(Type::string, slot::find));
    EXPECT_EQ(of(Type::file, slot::make), of(Type::url, slot::make));
    EXPECT_EQ(of(Type::file, slot::eval_path), of(Type::url, slot::eval_path));
    EXPECT_EQ(of(Type::file, slot::form), of(Type::string, slot::form));
    EXPECT_NE(of(Type::file, slot::mold), of(Type::url, slot::mold));
    EXPECT_NE(of(Type::url, slot::open), nullptr);
    EXPECT_EQ(of(Type::file, slot::open), nullptr);
    EXPECT_EQ(of(Type::url, slot::sort), nullptr);
    EXPECT_EQ(of(Type::url, slot::trim), nullptr);
    EXPECT_NE(of(Type::tag, slot::form), of(Type::string, slot::form));
    EXPECT_EQ(of(Type::tag, slot::eval_path), of(Type::string, slot::eval_path));
    EXPECT_NE(of(Type::email, slot::eval_path), of(Type::string, slot::eval_path));
    EXPECT_EQ(of(Type::ref, slot::eval_path), nullptr);
    EXPECT_EQ(of(Type::ref, slot::append), nullptr);
    EXPECT_EQ(of(Type::ref, slot::insert), of(Type::string, slot::insert));
    EXPECT_EQ(of(Type::string, slot::put), nullptr);
    EXPECT_EQ(of(Type::string, slot::add), nullptr);
}
