// File services: reading text, lines and bytes with part and seek, folder listings, writing
// with its conversions, delete, rename without replacing, query, and the helpers of size?,
// exists? and create-dir. Every test works in a temporary folder of its own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "datatypes/date.h"
#include "datatypes/file.h"
#include "memory/error.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "io/file-io.h"
#include "runtime/throw.h"
#include "io_fixture.h"
#include "string_fixture.h"

using namespace zuv;
using namespace zuv::testing;
using namespace std::string_literals;
namespace slot = zuv::datatype::slot;

namespace {

class FileIoTest : public RuntimeTest {
protected:
    TempDir dir;
    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_TRUE(dir.made());
    }
    Cell path(const std::string& name) { return str(dir / name, Type::file); }
};

Cell none_cell() { return Cell{static_cast<uint32_t>(Type::none), 0, 0, 0}; }

}  // namespace

TEST_F(FileIoTest, ReadTextLinesAndBytes) {
    struct Case {
        std::string bytes, text, lines, binary;
    } cases[] = {
        {"a\r\nb\n\nc", "\"a\nb\n\nc\"", "[\"a\" \"b\" \"\" \"c\"]", "#{610D0A620A0A63}"},
        {"a\rb\n", "\"a\nb\n\"", "[\"a\rb\"]", "#{610D620A}"},
        {"\xEF\xBB\xBFx\xC3\xA9", "\"x\xC3\xA9\"", "[\"x\xC3\xA9\"]", "#{EFBBBF78C3A9}"},
        {"", "\"\"", "[]", "#{}"},
        {"\n", "\"\n\"", "[\"\"]", "#{0A}"},
        {"a\0b"s, "\"a\0b\""s, "[\"a\0b\"]"s, "#{610062}"},
    };
    for (const Case& c : cases) {
        spit(dir / "f", c.bytes);
        Cell f = path("f");
        EXPECT_EQ(describe(*file_io::read(&f, nullptr, nullptr, false, false, false)), c.text) << c.bytes;
        EXPECT_EQ(describe(*file_io::read(&f, nullptr, nullptr, false, true, false)), c.lines) << c.bytes;
        EXPECT_EQ(describe(*file_io::read(&f, nullptr, nullptr, true, false, false)), c.binary) << c.bytes;
    }
}

TEST_F(FileIoTest, ReadPartAndSeek) {
    spit(dir / "ten", "0123456789");
    struct Case {
        int part, seek;  // -1: not given
        const char* text;
    } cases[] = {
        {5, 8, "89"}, {3, -1, "012"}, {0, -1, ""}, {-1, 3, "3456789"}, {-1, 10, ""},
        {-1, 20, ""}, {20, -1, "0123456789"}, {-4, -1, "0123456789"}, {-1, -4, "0123456789"},
    };
    for (const Case& c : cases) {
        Cell f = path("ten"), part = integer(c.part), seek = integer(c.seek);
        Cell* r = file_io::read(&f, c.part == -1 ? nullptr : &part, c.seek == -1 ? nullptr : &seek, false, false, false);
        EXPECT_EQ(utf8(*r), c.text) << c.part << " " << c.seek;
    }
    // A number! count: a float is truncated.
    Cell f = path("ten"), part;
    part.header = static_cast<uint32_t>(Type::float_);
    part.set_float23(2.9);
    EXPECT_EQ(utf8(*file_io::read(&f, &part, nullptr, false, false, false)), "01");
}

TEST_F(FileIoTest, StreamsOfUnknownSizeAreReadToTheirEnd) {
    // /proc files report a size of 0 and cannot be measured before reading.
    std::string whole = slurp("/proc/self/cmdline");
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(file_io::read_file("/proc/self/cmdline", -1, -1), whole);
    EXPECT_EQ(file_io::read_file("/proc/self/cmdline", 2, 1), whole.substr(1, 2));
    EXPECT_EQ(file_io::read_file("/proc/self/cmdline", -1, 1 << 30), "");
}

TEST_F(FileIoTest, ReadFailures) {
    spit(dir / "bad", "ok\xFF");
    ::mkdir((dir / "sub").c_str(), 0755);
    struct Case {
        const char* name;
        error::Id id;
    } cases[] = {
        {"missing", error::id::access_cannot_open},
        {"sub", error::id::access_cannot_open},  // a folder named without its slash
        {"missing/", error::id::access_cannot_open},
        {"bad", error::id::access_invalid_utf8},
    };
    for (const Case& c : cases) {
        Cell f = path(c.name);
        EXPECT_EQ(raised([&] { file_io::read(&f, nullptr, nullptr, false, false, false); }), c.id) << c.name;
        if (c.id == error::id::access_cannot_open) {
            EXPECT_EQ(utf8(error::last.args[0]), dir / c.name);
        }
    }
    Cell bad = path("bad");
    EXPECT_EQ(describe(*file_io::read(&bad, nullptr, nullptr, true, false, false)), "#{6F6BFF}");
}

TEST_F(FileIoTest, FolderListings) {
    ::mkdir((dir / "sub").c_str(), 0755);
    ::mkdir((dir / "sub/inner").c_str(), 0755);
    spit(dir / "b.txt", "b");
    spit(dir / "a b.txt", "a");
    spit(dir / "sub/x", "x");
    ASSERT_EQ(::symlink((dir / "sub").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    struct Case {
        std::string path;
        const char* listing;
    } cases[] = {
        {dir.path() + "/", "[%a b.txt %b.txt %dangling %link/ %sub/]"},
        {dir / "sub/", "[%inner/ %x]"},
        {dir / "sub/.", "[%inner/ %x]"},
        {dir / "sub/inner/..", "[%inner/ %x]"},
        {dir / "sub/inner/", "[]"},
    };
    for (const Case& c : cases) {
        Cell f = str(c.path, Type::file);
        EXPECT_EQ(describe(*file_io::read(&f, nullptr, nullptr, false, false, false)), c.listing) << c.path;
    }
    Cell missing = path("none/");
    EXPECT_EQ(raised([&] { file_io::read(&missing, nullptr, nullptr, false, false, false); }),
              error::id::access_cannot_open);
    // The root is a folder like any other here.
    Cell root = str("/", Type::file);
    EXPECT_NE(describe(*file_io::read(&root, nullptr, nullptr, false, false, false)).find("%tmp/"), std::string::npos);
}

TEST_F(FileIoTest, FolderPathsByTheirText) {
    struct Case {
        const char32_t* text;
        bool folder;
    } cases[] = {
        {U"a/", true},  {U"a\\", true},  {U".", true},     {U"..", true},   {U"a/.", true},  {U"a\\..", true},
        {U"a", false},  {U"a.", false},  {U"a/b..", false}, {U"", false},    {U".a", false},  {U"a/..b", false},
    };
    for (const Case& c : cases) EXPECT_EQ(file_io::dir_path_q(c.text), c.folder);
}

TEST_F(FileIoTest, WriteConverts) {
    Cell two = integer(2), minus = integer(-1);
    Cell items = block_of({str("a"), integer(3), str("b\nc"), str("x", Type::file)});
    struct Case {
        Cell data;
        bool binary, lines;
        Cell* part;
        std::string bytes;
    } cases[] = {
        {str("a\nb"), false, false, nullptr, "a\nb"},
        {str("a\nb"), true, false, nullptr, "a\nb"},
        {str("h\xC3\xA9llo"), false, false, &two, "h\xC3\xA9"},
        {str("x"), false, true, nullptr, "x\n"},
        {items, false, true, nullptr, "a\n3\nb\nc\nx\n"},
        {integer(42), false, false, nullptr, "42"},
        {*file_io::binary_from_bytes("\0\xFF\n"s), false, false, nullptr, "\0\xFF\n"s},
        {*file_io::binary_from_bytes("\0\xFF\n"s), false, false, &two, "\0\xFF"s},
    };
    for (const Case& c : cases) {
        Cell f = path("out"), data = c.data;
        Cell* r = file_io::write(&f, &data, c.binary, c.lines, false, false, c.part, nullptr);
        ASSERT_TRUE(r->is(Type::integer));
        EXPECT_EQ(r->int2(), static_cast<int>(c.bytes.size())) << c.bytes;
        EXPECT_EQ(slurp(dir / "out"), c.bytes);
    }
    // A negative part writes nothing: the file is not even emptied.
    Cell f = path("out"), data = str("zzz");
    EXPECT_EQ(file_io::write(&f, &data, false, false, false, false, &minus, nullptr)->int2(), -1);
    EXPECT_EQ(slurp(dir / "out"), "\0\xFF"s);
}

TEST_F(FileIoTest, WriteAppendAndSeek) {
    spit(dir / "f", "abcdef");
    Cell f = path("f"), xy = str("XY"), two = integer(2), zero = integer(0), big = integer(8);
    file_io::write(&f, &xy, false, false, false, false, nullptr, &two);
    EXPECT_EQ(slurp(dir / "f"), "abXYef");
    file_io::write(&f, &xy, false, false, false, false, nullptr, &zero);
    EXPECT_EQ(slurp(dir / "f"), "XYXYef");
    file_io::write(&f, &xy, false, false, false, true, nullptr, nullptr);
    EXPECT_EQ(slurp(dir / "f"), "XYXYefXY");
    file_io::write(&f, &xy, false, true, false, true, nullptr, nullptr);
    EXPECT_EQ(slurp(dir / "f"), "XYXYefXYXY\n");
    file_io::write(&f, &xy, false, false, false, false, nullptr, nullptr);
    EXPECT_EQ(slurp(dir / "f"), "XY");
    file_io::write(&f, &xy, false, false, false, false, nullptr, &big);
    EXPECT_EQ(slurp(dir / "f"), std::string("XY\0\0\0\0\0\0XY", 10));
    Cell fresh = path("new");
    file_io::write(&fresh, &xy, false, false, false, true, nullptr, nullptr);
    EXPECT_EQ(slurp(dir / "new"), "XY");
}

TEST_F(FileIoTest, WriteFailures) {
    Cell f = path("no/such/folder/f"), data = str("x"), part = str("2");
    EXPECT_EQ(raised([&] { file_io::write(&f, &data, false, false, false, false, nullptr, nullptr); }),
              error::id::access_cannot_open);
    EXPECT_EQ(utf8(error::last.args[0]), dir / "no/such/folder/f");
    Cell ok = path("ok");
    EXPECT_EQ(raised([&] { file_io::write(&ok, &data, false, false, false, false, &part, nullptr); }),
              error::id::script_invalid_refine_arg);
    EXPECT_FALSE(file_io::exists_q(&ok));
}

TEST_F(FileIoTest, WriteWithoutAFileGoesToStandardOutput) {
    spit(dir / "stdout", "");
    fflush(stdout);
    int saved = dup(1);
    int fd = ::open((dir / "stdout").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    dup2(fd, 1);
    Cell none = none_cell(), data = str("hello\n");
    Cell* r = file_io::write(&none, &data, false, true, false, false, nullptr, nullptr);
    dup2(saved, 1);
    ::close(saved);
    ::close(fd);
    EXPECT_EQ(r->int2(), 7);
    EXPECT_EQ(slurp(dir / "stdout"), "hello\n\n");
}

TEST_F(FileIoTest, DeleteRenameAndTheirActions) {
    auto del = reinterpret_cast<slotfn::Port>(datatype::action_of(Type::file, slot::delete_));
    auto ren = reinterpret_cast<slotfn::Rename>(datatype::action_of(Type::file, slot::rename));
    spit(dir / "a", "A");
    spit(dir / "b", "B");
    ::mkdir((dir / "empty").c_str(), 0755);
    ::mkdir((dir / "full").c_str(), 0755);
    spit(dir / "full/x", "x");
    Cell a = path("a"), b = path("b"), c = path("c"), missing = path("missing");
    // Renaming never replaces what is there.
    EXPECT_EQ(describe(*ren(&a, &b)), "false");
    EXPECT_EQ(slurp(dir / "a"), "A");
    EXPECT_EQ(slurp(dir / "b"), "B");
    EXPECT_EQ(describe(*ren(&a, &c)), "true");
    EXPECT_EQ(slurp(dir / "c"), "A");
    EXPECT_FALSE(file_io::exists_q(&a));
    EXPECT_EQ(file_io::rename(&missing, &a), -1);

    struct Case {
        const char* path;
        const char* result;
        const char* name;
        bool remains;
    } cases[] = {
        {"c", "true", "c", false},        {"missing", "false", "missing", false}, {"empty/", "true", "empty", false},
        {"full/", "false", "full", true}, {"full", "false", "full", true},        {"b/", "false", "b", true},
    };
    for (const Case& k : cases) {
        Cell f = path(k.path);
        EXPECT_EQ(describe(*del(&f)), k.result) << k.path;
        EXPECT_EQ(file_io::get_attributes(dir / k.name), k.remains) << k.path;
    }
}

TEST_F(FileIoTest, QueryGivesTheLastWriteTimeInUtc) {
    spit(dir / "f", "x");
    ::mkdir((dir / "sub").c_str(), 0755);
    std::tm t{};
    t.tm_year = 2021 - 1900, t.tm_mon = 2, t.tm_mday = 4, t.tm_hour = 5, t.tm_min = 6, t.tm_sec = 7;
    timespec times[2] = {{timegm(&t), 0}, {timegm(&t), 890123456}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "f").c_str(), times, 0), 0);
    Cell f = path("f");
    Cell* d = file_io::query(&f);
    ASSERT_TRUE(d->is(Type::date));
    EXPECT_EQ(date::year(d->data1), 2021);
    EXPECT_EQ(date::month(d->data1), 3);
    EXPECT_EQ(date::day(d->data1), 4);
    EXPECT_EQ(date::zone_bits(d->data1), 0u);
    EXPECT_NEAR(date::time_of(d), 5 * 3600 + 6 * 60 + 7.890, 1e-6);  // to the millisecond
    for (const char* name : {"missing", "f/"}) {
        Cell g = path(name);
        EXPECT_TRUE(file_io::query(&g)->is(Type::none)) << name;
    }
    for (const char* name : {"sub", "sub/"}) {
        Cell g = path(name);
        EXPECT_TRUE(file_io::query(&g)->is(Type::date)) << name;
    }
}

TEST_F(FileIoTest, SizeExistsAndCreateDir) {
    spit(dir / "ten", "0123456789");
    Cell ten = path("ten"), missing = path("missing"), folder = path("sub/"), sub = path("sub");
    EXPECT_EQ(file_io::size_q(&ten), 10);
    EXPECT_EQ(file_io::size_q(&missing), std::nullopt);
    EXPECT_FALSE(file_io::exists_q(&sub));
    EXPECT_TRUE(file_io::create_dir(&folder));
    EXPECT_FALSE(file_io::create_dir(&folder));
    EXPECT_TRUE(file_io::exists_q(&sub));
    EXPECT_EQ(file_io::size_q(&folder), std::nullopt);
    EXPECT_EQ(file_io::size_q(&sub), std::nullopt);  // opens as no file
    EXPECT_TRUE(file_io::exists_q(&ten));
    EXPECT_FALSE(file_io::exists_q(&missing));
}

TEST_F(FileIoTest, ReadAndWriteThroughTheFileActions) {
    auto read = reinterpret_cast<slotfn::Read>(datatype::action_of(Type::file, slot::read));
    auto write = reinterpret_cast<slotfn::Write>(datatype::action_of(Type::file, slot::write));
    Cell f = path("t"), text = str("a\nb"), as = str("utf-8");
    EXPECT_EQ(write(&f, &text, {})->int2(), 3);
    EXPECT_EQ(utf8(*read(&f, {})), "a\nb");
    EXPECT_EQ(raised([&] { read(&f, {.as = &as}); }), error::id::internal_not_done);
    EXPECT_EQ(raised([&] { write(&f, &text, {.allow = &as}); }),
              error::id::internal_not_done);
}
