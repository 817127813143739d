// float! (64-bit doubles) and percent! (a fraction: 50% holds 0.5): their helpers, the text
// forms of doubles that several datatypes use, the tolerant equality, and the float
// arithmetic that integer!, percent! and time! operations reach. The double lives in data
// words 2-3, low word first.
#pragma once
#include <cstdint>
#include <optional>

#include "datatypes/float-text.h"
#include "memory/action-types.h"
#include "memory/cell.h"

namespace zuv::float_ {

// Process-wide formatting flags, set by the change handler of the `float` options object:
// pretty forms cut binary noise from the text of doubles; full is kept and read by nothing.
extern bool pretty_print_q;
extern bool full_support_q;

inline double get(const Cell* c) { return c->float23(); }
Cell* box(double value);
Cell* make_at(Cell* c, double value);
// From the two 32-bit halves of the double.
Cell* make_in(Cell* block, uint32_t high, uint32_t low);
Cell* push(double value);
Cell* push64(uint32_t high, uint32_t low);

double abs(double value);
bool NaN_q(double value);
bool NaN32_q(float value);
bool special_q(double value);  // +INF, -INF or NaN
// Rounded to the nearest integer (0.49999999999999994 added, then truncated); a result
// outside 32 bits raises script/out-of-range with the double as a float!.
int32_t to_integer(double value);
bool almost_equal_q(double a, double b);
bool almost_equal32_q(float a, float b);

// The float kernel: IEEE add, subtract, multiply, divide; remainder by fmod with its own
// rules for NaN and infinite divisors. Another operator raises script/cannot-use.
double do_math_op(double left, double right, int32_t op);

// Text kinds of form_text.
namespace kind {
constexpr int single = 0, float_ = 1, single_percent = 2, percent = 3, seconds = 4, point = 5;
}
// The text of a double for a datatype's form (the printf-based forms, cleaned up).
float_text::Text form_text(double value, int kind);

// The double of an integer! or float! cell; script/bad-to-arg with float! otherwise.
double get_number(const Cell* c);

// The rounding refinements of `round`.
struct RoundModes {
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};
// value rounded to a multiple of scale (>= 0); nothing when the value is left as it is.
// math/overflow when the result passes the largest double.
std::optional<double> round_double(double value, double scale, const RoundModes& modes);

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* absolute(Cell* value);
Cell* negate(Cell* value);
// Left: integer!, float!, percent! or time!; the result is left in a.
Cell* do_math(Cell* a, Cell* b, int32_t op);
Cell* power(Cell* base, Cell* exponent);
Cell* round(Cell* value, const slotfn::RoundOptions& options);
bool even_q(Cell* value);
bool odd_q(Cell* value);

void init();

}  // namespace zuv::float_

namespace zuv::percent {

inline double get(const Cell* c) { return c->float23(); }
Cell* box(double value);
Cell* make_at(Cell* c, double value);
Cell* make_at64(Cell* c, uint32_t high, uint32_t low);
Cell* make_in(Cell* block, uint32_t high, uint32_t low);
Cell* push(double value);
Cell* push64(uint32_t high, uint32_t low);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);

void init();

}  // namespace zuv::percent
