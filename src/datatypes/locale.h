// What the date! and money! texts read from the language's locale and options: month names,
// the currency codes and the decimals money forms with, from system/locale and
// system/options; before those exist, the built-in English months and default currency list.
// Texts are returned as copies: the lists live in series buffers that move.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zuv::locale {

// The name of month m (1-12); nothing when the locale's list has no text at that position
// (the caller raises script/invalid-months).
std::optional<std::string> month_name(int32_t m);

// The currency list: count and the code at a 1-based position.
int32_t currency_count();
// An index past the list gives an empty text.
std::string currency_name(int32_t index);
// The 1-based position of a code, letter case aside; 0 when it is not in the list.
int32_t currency_index(std::string_view code);

// The money-digits option: decimals that money! forms and molds with (2 when not an integer).
int32_t money_digits();

}  // namespace zuv::locale
