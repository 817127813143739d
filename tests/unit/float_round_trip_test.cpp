// Doubles through text and back: every finite double survives mold and the lexer bit for bit,
// the text forms never follow the C library's numeric locale, and loaded scalars carry no
// stray header flags.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "number_fixture.h"
#include "reader/lexer-load.h"

namespace zuv::testing {

namespace {

// A sample that reaches every kind of double a program meets: raw bit patterns (all
// exponents), subnormals, the extremes, signed zeros, integers held as doubles, and short
// decimals whose shortest text is the one a person would type.
class DoubleSource {
public:
    explicit DoubleSource(uint64_t seed) : rng_(seed) {}

    double next() {
        const uint64_t r = rng_();
        const uint64_t sign = (r & 1) << 63;
        switch ((r >> 1) % 8) {
            case 0: case 1: case 2: {
                // Any finite pattern.
                uint64_t bits;
                do bits = rng_();
                while ((bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull);
                return std::bit_cast<double>(bits);
            }
            case 3: return std::bit_cast<double>(sign | (rng_() & 0x000FFFFFFFFFFFFFull));  // subnormal or zero
            case 4: {
                static const double extremes[] = {
                    DBL_MAX, DBL_MIN, std::numeric_limits<double>::denorm_min(), 0.0,
                    std::nextafter(DBL_MAX, 0.0), std::nextafter(DBL_MIN, 0.0), std::nextafter(DBL_MIN, 1.0),
                    9007199254740992.0, 9007199254740993.0, 1e16, 1e17, 1e-6, 1e-7, 0.1, 0.5, 1.0,
                };
                const double x = extremes[rng_() % std::size(extremes)];
                return sign ? -x : x;
            }
            case 5: {
                // Integers up to 2^53 and beyond (every such double is an integer).
                const int shift = static_cast<int>(rng_() % 64);
                const double x = static_cast<double>(rng_() >> shift);
                return sign ? -x : x;
            }
            case 6: {
                const double x = static_cast<double>(rng_() % 1000000) / std::pow(10.0, double(rng_() % 12));
                return sign ? -x : x;
            }
            default: {
                // Near a power of two, where the spacing of doubles changes.
                const int e = static_cast<int>(rng_() % 2046) - 1022;
                const double x = std::nextafter(std::ldexp(1.0, e), (rng_() & 1) ? INFINITY : 0.0);
                return sign ? -x : x;
            }
        }
    }

private:
    std::mt19937_64 rng_;
};

// Sets LC_NUMERIC to a locale whose decimal point is a comma for the life of the guard, as
// a GUI toolkit's start-up may; ok() is false when no such locale is installed.
class CommaLocale {
public:
    CommaLocale() {
        const char* before = std::setlocale(LC_NUMERIC, nullptr);
        saved_ = before ? before : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8",
                                 "it_IT.UTF-8", "es_ES.UTF-8", "nl_NL.UTF-8", "de_DE", "fr_FR"}) {
            if (std::setlocale(LC_NUMERIC, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
                ok_ = true;
                return;
            }
        }
        std::setlocale(LC_NUMERIC, saved_.c_str());
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

}  // namespace

using FloatRoundTripTest = RuntimeTest;

// The doubles go in batches: one mold of a block of them, one load of its text.
TEST_F(FloatRoundTripTest, MillionDoublesSurviveMoldAndLoad) {
    constexpr int total = 1000000, batch = 20000;
    DoubleSource source(0x5EED2026u);
    std::vector<double> values(batch);
    int failures = 0;
    for (int done = 0; done < total && failures < 10; done += batch) {
        Cell* b = stack::push_slot();
        block::make_at(b, batch);
        for (double& v : values) {
            v = source.next();
            Cell c = flt(v);
            block::append(b, &c);
        }
        // The text is ASCII: its bytes are taken straight from the string's buffer.
        Cell* out = stack::push(&unset::shared);
        actions::mold_to(b, out);
        ASSERT_EQ(series::buffer(out)->unit(), 1);
        const std::string text(reinterpret_cast<const char*>(series::head_address(out)),
                               static_cast<std::size_t>(series::length(out)));
        Cell* back = stack::push_slot();
        block::make_at(back, 1);
        lexer::load_into(back, text);
        ASSERT_EQ(block::length(back), 1);
        Cell* loaded = stack::push(block::head(back));
        ASSERT_EQ(block::length(loaded), batch);
        for (int i = 0; i < batch && failures < 10; ++i) {
            const Cell got = block::head(loaded)[i];
            const bool same = got.is(Type::float_) &&
                              std::bit_cast<uint64_t>(got.float23()) == std::bit_cast<uint64_t>(values[i]);
            if (!same) {
                ++failures;
                ADD_FAILURE() << "bits " << std::hex << std::bit_cast<uint64_t>(values[i]) << " molded as "
                              << mold(flt(values[i])) << " loaded as " << mold(got);
            }
        }
        stack::pop(4);
    }
}

// Texts that need a decimal point keep "." under a comma locale, and reading is unaffected.
TEST_F(FloatRoundTripTest, TextsIgnoreTheNumericLocale) {
    CommaLocale comma;
    if (!comma.ok()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    struct Case {
        Cell value;
        const char* form;
        const char* mold;
    } cases[] = {
        {flt(0.5), "0.5", "0.5"},
        {flt(1234.5678), "1234.5678", "1234.5678"},
        {flt(1.5e-7), "1.5e-7", "0.00000015"},
        {pct(0.125), "12.5%", "12.5%"},
        {tim(1.5), "0:00:01.5", "0:00:01.5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.form);
        EXPECT_EQ(mold(c.value), c.mold);
    }
    EXPECT_EQ(float_::form_text(2.25, float_::kind::point).view(), "2.25");
    EXPECT_EQ(float_::form_text(0.1f, float_::kind::single).view(), "0.1");

    Cell* b = stack::push_slot();
    block::make_at(b, 4);
    lexer::load_into(b, "0.5 1:00:01.5 12.5%");
    ASSERT_EQ(block::length(b), 3);
    EXPECT_EQ(block::head(b)[0].float23(), 0.5);
    EXPECT_EQ(block::head(b)[1].float23(), 3601.5);
    EXPECT_EQ(block::head(b)[2].float23(), 0.125);
}

// Each value's cell is built from nothing: its new-line marker never comes from the value
// loaded before it (which began a line here), as the helpers that keep flag bits would let it.
TEST_F(FloatRoundTripTest, LoadedScalarsCarryNoStrayFlags) {
    for (const char* text : {"1x2", "(1, 2)", "(1, 2, 3)", "1.2.3", "1:00", "$1", "1-Jan-2026", "1.5", "7"}) {
        Cell* b = stack::push_slot();
        block::make_at(b, 2);
        lexer::load_into(b, std::string("\n7 ") + text);
        ASSERT_EQ(block::length(b), 2) << text;
        EXPECT_NE(block::head(b)[0].header & header::new_line, 0u) << text;
        EXPECT_EQ(block::head(b)[1].header & header::new_line, 0u) << text;
        stack::pop(1);
    }
}

}  // namespace zuv::testing
