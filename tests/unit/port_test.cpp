// port!: ports whose actor is a native actor table reach its C++ entries with the plain
// arguments of the action; a missing entry, or a handle that names no table, is an error.
#include <gtest/gtest.h>

#include <functional>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "scalar_helpers.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

int32_t length_of(Cell*) { return 7; }
Cell* open_q(Cell* port) {
    *port = logic(true);
    return port;
}
// read answers the /part length it was given, to show its options arrive.
Cell* read(Cell* port, const slotfn::ReadOptions& o) {
    *port = o.part ? *o.part : integer(-1);
    return port;
}

const port::NativeActor& table() {
    static port::NativeActor t = [] {
        port::NativeActor a{};
        a[datatype::slot::length_q - port::first_port_action] = reinterpret_cast<void*>(length_of);
        a[datatype::slot::open_q - port::first_port_action] = reinterpret_cast<void*>(open_q);
        a[datatype::slot::read - port::first_port_action] = reinterpret_cast<void*>(read);
        return a;
    }();
    return t;
}

class PortTest : public RuntimeTest {
protected:
    // An object of the given fields, kept on the argument stack.
    static Cell* object_of(std::initializer_list<std::pair<const char*, Cell>> fields) {
        Cell o;
        object::make_at(&o, static_cast<int32_t>(fields.size()));
        Cell* held = stack::push(&o);
        for (const auto& [name, value] : fields) context::add_with_value(held->data1, symbol::make(name), &value);
        return held;
    }
    static Cell word(const char* name) {
        Cell w;
        word::make_at(&w, symbol::make(name));
        return w;
    }
    // A port of a scheme named in system/schemes.
    static Cell* port_of(const char* scheme) {
        Cell* spec = object_of({{"scheme", word(scheme)}});
        Cell* p = datatype::push(static_cast<int>(Type::port));
        port::make(p, spec, static_cast<int32_t>(Type::port));
        return p;
    }
    template <class F>
    static F action(int slot) {
        return reinterpret_cast<F>(datatype::action_of(Type::port, slot));
    }
    // Schemes `native` (the registered table) and `stray` (a handle of no table).
    void SetUp() override {
        RuntimeTest::SetUp();
        static Cell actor = [] {
            Cell a;
            port::register_native_actor(&table(), &a);
            return a;
        }();
        Cell stray;
        handle::make_at(&stray, 0, handle::subtype::none);
        Cell* schemes = block::push_new(4);
        Cell name = word("native");
        block::append(schemes, &name);
        block::append(schemes, object_of({{"name", name}, {"actor", actor}}));
        name = word("stray");
        block::append(schemes, &name);
        block::append(schemes, object_of({{"name", name}, {"actor", stray}}));
        Cell* system = object_of({{"schemes", *schemes}});
        Cell w = word("system");
        saved_system = *context::get(&w);
        context::set(&w, system);
    }
    void TearDown() override {
        Cell w = word("system");
        context::set(&w, &saved_system);
    }
    Cell saved_system;
};

}  // namespace

TEST_F(PortTest, ANativeActorGetsThePlainArgumentsOfItsEntries) {
    Cell* p = port_of("native");
    EXPECT_TRUE(port::get_actor(p)->is(Type::handle));
    EXPECT_EQ(action<slotfn::Length>(datatype::slot::length_q)(p), 7);
    Cell copy = *p;
    EXPECT_EQ(mold(*action<slotfn::Port>(datatype::slot::open_q)(&copy)), "true");
    Cell three = integer(3);
    copy = *p;
    EXPECT_EQ(mold(*port::read(&copy, {.part = &three})), "3");
    copy = *p;
    EXPECT_EQ(mold(*port::read(&copy, {})), "-1");
}

TEST_F(PortTest, AnEntryTheTableLacksIsNoPortAction) {
    // An error unrolls the argument stack: each call gets its own copies of the cells.
    Cell native = *port_of("native"), stray = *port_of("stray");
    auto query = [&] {
        Cell p = native;
        action<slotfn::Port>(datatype::slot::query)(&p);
    };
    auto write = [&] {
        Cell p = native, one = integer(1);
        port::write(&p, &one, {});
    };
    auto length = [&] {
        Cell p = stray;
        action<slotfn::Length>(datatype::slot::length_q)(&p);
    };
    auto open_q = [&] {
        Cell p = stray;
        action<slotfn::Port>(datatype::slot::open_q)(&p);
    };
    std::function<void()> calls[] = {query, write, length, open_q};
    for (const auto& f : calls) {
        auto id = raised(f);
        ASSERT_TRUE(id);
        EXPECT_EQ(*id, error::id::access_no_port_action);
    }
    raised(query);
    EXPECT_EQ(mold(error::last.args[0]), "query");
}
