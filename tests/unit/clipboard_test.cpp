// The clipboard's language side over the in-process store and over a store that cannot be
// opened: text with its line ends, lists of files, emptying, and the values it refuses.
#include "memory/error.h"
#include "io/clipboard.h"
#include "io_fixture.h"
#include "string_fixture.h"

using namespace zuv;
using namespace zuv::testing;
using Kind = zuv::clipboard::Content::Kind;

namespace {

class ClipboardTest : public RuntimeTest {
protected:
    void TearDown() override { clipboard::set_backend(nullptr); }
};

class Closed final : public clipboard::Backend {
public:
    std::optional<clipboard::Content> get() override { return std::nullopt; }
    bool set(const clipboard::Content&) override { return false; }
};

}  // namespace

TEST_F(ClipboardTest, TextRoundTrips) {
    for (const char* text : {"", "a\nb", "caf\xC3\xA9 \xF0\x9F\x98\x80"}) {
        Cell s = str(text);
        EXPECT_EQ(describe(*clipboard::write(&s)), "true");
        EXPECT_EQ(clipboard::backend().get()->kind, Kind::text);
        EXPECT_EQ(describe(*clipboard::read()), "\"" + std::string(text) + "\"");
    }
    // Text another program put there may end its lines with CR LF.
    clipboard::Content c;
    c.kind = Kind::text;
    c.text = "a\r\nb\rc";
    clipboard::backend().set(c);
    EXPECT_EQ(describe(*clipboard::read()), "\"a\nbc\"");
}

TEST_F(ClipboardTest, FileListsAndEmptying) {
    Cell list = block_of({str("/tmp/a b/c.txt", Type::file), str("/x/y"), str("rel", Type::file)});
    EXPECT_EQ(describe(*clipboard::write(&list)), "true");
    clipboard::Content held = *clipboard::backend().get();
    EXPECT_EQ(held.kind, Kind::files);
    EXPECT_EQ(held.files, (std::vector<std::string>{"/tmp/a b/c.txt", "/x/y", "rel"}));
    EXPECT_EQ(describe(*clipboard::read()), "[%/tmp/a b/c.txt %/x/y %rel]");
    Cell none{static_cast<uint32_t>(Type::none), 0, 0, 0};
    EXPECT_EQ(describe(*clipboard::write(&none)), "true");
    EXPECT_EQ(describe(*clipboard::read()), "none");
}

TEST_F(ClipboardTest, RefusedValuesAndClosedClipboards) {
    Cell n = integer(1), url = str("http://x", Type::url), mixed = block_of({str("a", Type::file), integer(2)});
    for (Cell* v : {&n, &url, &mixed}) {
        EXPECT_EQ(raised([&] { clipboard::write(v); }), error::id::script_invalid_arg);
    }
    EXPECT_EQ(describe(error::last.args[0]), "2");
    Closed closed;
    clipboard::set_backend(&closed);
    Cell s = str("x");
    EXPECT_EQ(describe(*clipboard::write(&s)), "false");
    EXPECT_EQ(describe(*clipboard::read()), "false");
}
