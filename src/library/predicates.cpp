// The type predicates: routine! values that answer from the argument cell's datatype id,
// either against one datatype or against the typeset that a global word holds at the time
// of the call (so redefining `any-list!` changes `any-list?`).
#include <array>
#include <cctype>

#include "datatypes/typeset.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "datatypes/word.h"
#include "library/routines.h"
#include "memory/datatype.h"

namespace zuv::library {

namespace {

template <Type T>
Cell* is_type(Cell** a) {
    return answer(a[0]->is(T));
}

struct DatatypePredicate {
    const char* name;  // the datatype's name without "!"
    routine::CellEntry entry;
};

#define ZUV_PREDICATE(name, type) {name, is_type<Type::type>},
// In the order of definition, from the list of datatypes.
constexpr DatatypePredicate datatype_predicates[] = {ZUV_TYPE_PREDICATES(ZUV_PREDICATE)};
#undef ZUV_PREDICATE

// In the order of definition; each tests the typeset of the word named with a final "!".
#define ZUV_TYPESET_NAME(name) name,
constexpr const char* typeset_names[] = {ZUV_TYPESET_PREDICATES(ZUV_TYPESET_NAME)};
#undef ZUV_TYPESET_NAME
constexpr size_t typeset_count = std::size(typeset_names);

// The global words of the typesets, made once at start-up.
std::array<Cell, typeset_count> typeset_words;

template <size_t N>
Cell* in_typeset(Cell** a) {
    const Cell* ts = context::get(&typeset_words[N]);
    // A word set to something else than a typeset has no bits to test.
    if (!ts->is(Type::typeset)) {
        Cell wanted, got;
        datatype::make_at(&wanted, static_cast<int>(Type::typeset));
        datatype::make_at(&got, static_cast<int>(ts->type()));
        error::raise(error::id::script_expect_val, &wanted, &got);
    }
    return answer(typeset::has(ts, static_cast<uint32_t>(a[0]->type())));
}

template <size_t... N>
constexpr std::array<routine::CellEntry, typeset_count> typeset_entries(std::index_sequence<N...>) {
    return {in_typeset<N>...};
}

// The constant that names a datatype in a predicate's low-level body: TYPE_GET_PATH.
std::string type_constant(const char* name) {
    std::string c = "TYPE_";
    for (const char* p = name; *p; ++p)
        c += *p == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return c;
}

constexpr const char* predicate_spec = R"( value [any-type!] return: [logic!])";

}  // namespace

void bind_predicates() {
    std::vector<Definition> list;
    for (const DatatypePredicate& p : datatype_predicates) {
        list.push_back({std::string(p.name) + "?", p.entry,
                        std::string(R"("Returns true if the value is this type")") + predicate_spec,
                        "TYPE_OF value = " + type_constant(p.name)});
    }
    constexpr auto entries = typeset_entries(std::make_index_sequence<typeset_count>{});
    for (size_t i = 0; i < typeset_count; ++i) {
        std::string word = std::string(typeset_names[i]) + "!";
        typeset_words[i] = *words::load(word);
        list.push_back({std::string(typeset_names[i]) + "?", entries[i],
                        "\"Returns true if the value is any type of " + std::string(typeset_names[i]) + "\"" +
                            predicate_spec,
                        "typeset/has? get-global '" + word + " TYPE_OF value"});
    }
    define_routines(list);
}

}  // namespace zuv::library
