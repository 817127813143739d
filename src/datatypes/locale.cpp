// Locale data: the month names and currency codes of system/locale and the money-digits
// option, with the built-in English months and default currency list until system exists.
#include "datatypes/locale.h"

#include <iterator>

#include "datatypes/block.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/case-folding.h"
#include "memory/upcalls.h"
#include "memory/symbol.h"

namespace zuv::locale {

namespace {

constexpr std::string_view months[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};

constexpr std::string_view currencies[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD",
    "BDT", "BTC", "BGN", "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP",
    "BYN", "BZD", "CAD", "CDF", "CHF", "CKD", "CLP", "CNY", "COP", "CRC", "CUC", "CUP",
    "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "ETH", "EUR", "FJD",
    "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP",
    "JMD", "JOD", "JPY", "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD",
    "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD", "MAD", "MDL", "MGA", "MKD", "MMK",
    "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN", "NAD", "NGN", "NIO",
    "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB",
    "PYG", "QAR", "ZUV", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK",
    "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS",
    "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU",
    "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER",
    "ZAR", "ZMW",
};
static_assert(std::size(currencies) == 170);

// system/locale/currencies/list, or null before it exists.
Cell* currency_list() {
    Cell* list = upcall::calls.system_field({"locale", "currencies", "list"});
    return list && list->is(Type::block) ? list : nullptr;
}

std::string word_text(const Cell* c) {
    if (!scalar::any_word_q(c->type())) return {};
    int32_t id = c->int2();
    return std::string(symbol::name(id), symbol::name_length(id));
}

}  // namespace

std::optional<std::string> month_name(int32_t m) {
    if (m < 1 || m > 12) return std::nullopt;
    Cell* list = upcall::calls.system_field({"locale", "months"});
    if (!list) return std::string(months[m - 1]);
    if (!list->is(Type::block) || m > series::length(list)) return std::nullopt;
    Cell* name = block::head(list) + (m - 1);
    if (!name->is(Type::string)) return std::nullopt;
    return string::to_utf8(name);
}

int32_t currency_count() {
    Cell* list = currency_list();
    return list ? series::length(list) : static_cast<int32_t>(std::size(currencies));
}

std::string currency_name(int32_t index) {
    Cell* list = currency_list();
    if (!list) return std::string(currencies[index - 1]);
    return index >= 1 && index <= series::length(list) ? word_text(block::head(list) + (index - 1)) : std::string();
}

int32_t currency_index(std::string_view code_in) {
    std::string code(code_in);  // the caller's text may live in a buffer that moves
    Cell* list = currency_list();
    if (!list) {
        for (int32_t i = 0; i < static_cast<int32_t>(std::size(currencies)); ++i)
            if (case_folding::same_ascii_ci(currencies[i], code)) return i + 1;
        return 0;
    }
    int32_t n = series::length(list);
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(list) + i;
        if (scalar::any_word_q(c->type()) && case_folding::same_ascii_ci(word_text(c), code)) return i + 1;
    }
    return 0;
}

int32_t money_digits() {
    Cell* digits = upcall::calls.system_field({"options", "money-digits"});
    return digits && digits->is(Type::integer) ? digits->int2() : 2;
}

}  // namespace zuv::locale
