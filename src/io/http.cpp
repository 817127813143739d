// HTTP requests over libcurl. The exchange itself works on plain C++ strings; the callbacks
// only append bytes (nothing may throw through curl's C frames), and cells are made once the
// answer is complete.
#include "io/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "datatypes/form.h"
#include "memory/actions.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "io/file-io.h"
#include "io/sigpipe.h"
#include "runtime/shared-library.h"

namespace zuv::http {

#if defined(__aarch64__)
const char* const default_user_agent = "Mozilla/5.0 (X11; Linux aarch64)";
#else
const char* const default_user_agent = "Mozilla/5.0 (X11; Linux x86_64)";
#endif

namespace {

// Time limits: a connection must be made within a minute, and an answer that stalls
// (less than one byte a second for half a minute) is given up.
constexpr long connect_seconds = 60;
constexpr long stall_seconds = 30;
constexpr long max_redirects = 10;

// libcurl's entries, found when the first request is made.
struct Curl {
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
};

// Null when libcurl cannot be opened or initialised: the request then fails as an
// unreachable one does.
const Curl* curl() {
    static const Curl* ready = [] () -> const Curl* {
        static runtime::SharedLibrary library{"libcurl.so.4", "libcurl-gnutls.so.4", "libcurl.so"};
        static Curl api;
        bool found = library.bind(api.global_init, "curl_global_init") &&
                     library.bind(api.easy_init, "curl_easy_init") &&
                     library.bind(api.easy_setopt, "curl_easy_setopt") &&
                     library.bind(api.easy_perform, "curl_easy_perform") &&
                     library.bind(api.easy_getinfo, "curl_easy_getinfo") &&
                     library.bind(api.easy_cleanup, "curl_easy_cleanup") &&
                     library.bind(api.slist_append, "curl_slist_append") &&
                     library.bind(api.slist_free_all, "curl_slist_free_all");
        if (!found || api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
        return &api;
    }();
    return ready;
}

size_t on_body(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// Each call brings one header line. A status line starts a new answer (after a redirect or
// an interim 100 Continue), whose lines replace those kept so far.
size_t on_header(char* data, size_t size, size_t count, void* target) {
    auto* headers = static_cast<std::string*>(target);
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        headers->clear();
    } else if (line != "\r\n" && line != "\n") {
        headers->append(line);
    }
    return size * count;
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl()->easy_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl()->slist_free_all(l); }
};

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The text of a header name or value: a word's spelling, a string's text, else its form.
std::string header_text(Cell* value) {
    switch (value->type()) {
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
            return symbol::name(value->int2());
        default:
            break;
    }
    if (string::family_q(value->type())) return string::to_utf8(value);
    Cell v = *value, text;
    actions::form_to(&v, &text);
    return string::to_utf8(&text);
}

// The pairs, pushed, become a map! in their place (20 slots, as most answers need no more);
// the map keeps the block as its own.
Cell* header_map(Cell* pairs) {
    Cell block = *pairs, made;
    map::make_at(&made, &block, 20);
    *pairs = made;
    return pairs;
}

}  // namespace

std::optional<Response> perform(const Request& r) {
    const Curl* api = curl();
    if (!api) return std::nullopt;
    std::unique_ptr<CURL, EasyDeleter> h(api->easy_init());
    if (!h) return std::nullopt;
    CURL* c = h.get();
    std::unique_ptr<curl_slist, ListDeleter> list;
    auto add_header = [&](const std::string& line) {
        curl_slist* l = api->slist_append(list.get(), line.c_str());
        if (l) {
            static_cast<void>(list.release());
            list.reset(l);
        }
        return l != nullptr;
    };
    for (const auto& [name, value] : r.headers) {
        // "Name;" is how curl is told to send a header with an empty value.
        if (!add_header(value.empty() ? name + ";" : name + ": " + value)) return std::nullopt;
    }
    // No waiting for a 100 Continue before sending a large body: the body goes at once.
    if (!add_header("Expect:")) return std::nullopt;

    Response response;
    api->easy_setopt(c, CURLOPT_URL, r.url.c_str());
    api->easy_setopt(c, CURLOPT_HTTPHEADER, list.get());
    api->easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    api->easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api->easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    api->easy_setopt(c, CURLOPT_MAXREDIRS, max_redirects);
    api->easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    api->easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    api->easy_setopt(c, CURLOPT_CONNECTTIMEOUT, connect_seconds);
    api->easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api->easy_setopt(c, CURLOPT_LOW_SPEED_TIME, stall_seconds);
    api->easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    api->easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    api->easy_setopt(c, CURLOPT_WRITEDATA, &response.body);
    api->easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    api->easy_setopt(c, CURLOPT_HEADERDATA, &response.headers);
    if (r.method == "GET") {
        api->easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (r.method == "HEAD") {
        api->easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        if (r.method != "POST") api->easy_setopt(c, CURLOPT_CUSTOMREQUEST, r.method.c_str());
        if (r.body || r.method == "POST") {
            std::string_view body = r.body ? std::string_view(*r.body) : std::string_view("");
            api->easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            api->easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        }
    }
    CURLcode done;
    {
        sigpipe::Blocked quiet;  // a peer closing early must not end the program
        done = api->easy_perform(c);
    }
    if (done != CURLE_OK) return std::nullopt;
    api->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

Cell* parse_headers(std::string_view text) {
    std::vector<std::pair<std::string, std::vector<std::string>>> fields;
    auto same_name = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    };
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos) continue;
        std::string_view name = line.substr(0, colon), value = line.substr(colon + 1);
        if (name.find_first_of(" \t") != std::string_view::npos) continue;
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        auto known = std::find_if(fields.begin(), fields.end(), [&](auto& f) { return same_name(f.first, name); });
        if (known == fields.end()) {
            fields.push_back({std::string(name), {std::string(value)}});
        } else {
            known->second.emplace_back(value);
        }
    }
    Cell* pairs = block::push_new(static_cast<int32_t>(fields.size() * 2));
    for (auto& [name, values] : fields) {
        Cell key;
        cell::make(&key, Type::set_word, 0, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
        block::append(pairs, &key);
        auto text_of = [](const std::string& v) {
            Cell s;
            string::make_at(&s, static_cast<int32_t>(v.size()));
            string::append_utf8(&s, v);
            return s;
        };
        if (values.size() == 1) {
            Cell s = text_of(values[0]);
            block::append(pairs, &s);
            continue;
        }
        Cell all;
        block::make_at(&all, static_cast<int32_t>(values.size()));
        for (auto& v : values) {
            Cell s = text_of(v);
            block::append(&all, &s);
        }
        block::append(pairs, &all);
    }
    return header_map(pairs);
}

Cell* request(Cell* method, Cell* url, Cell* headers, Cell* data, bool lines, bool binary, bool info) {
    Request r;
    r.method = upper(symbol::name(method->int2()));
    url::encode(url, r.url, url::mode_url);
    if (headers && headers->is(Type::block)) {
        for (int32_t i = 0, n = block::length(headers); i + 1 < n; i += 2) {
            Cell name = *(block::head(headers) + i);
            std::string name_text = header_text(&name);
            Cell value = *(block::head(headers) + i + 1);
            r.headers.emplace_back(std::move(name_text), header_text(&value));
        }
    } else {
        r.headers = {{"Content-Type", default_content_type},
                     {"Accept-Charset", default_accept_charset},
                     {"User-Agent", default_user_agent}};
    }
    if (data && !data->is(Type::none) && r.method != "GET" && r.method != "HEAD") {
        if (data->is(Type::binary)) {
            r.body = file_io::bytes_of_binary(data);
        } else {
            r.body = header_text(data);
        }
    }
    std::optional<Response> answer = perform(r);
    if (!answer) return nullptr;
    auto body = [&]() -> Cell* {
        if (binary) return file_io::binary_from_bytes(answer->body);
        if (lines) return file_io::split_lines(answer->body);
        return file_io::string_from_utf8(answer->body);
    };
    if (!info) return body();
    Cell* result = block::push_new(3);
    Cell status;
    cell::make(&status, Type::integer, 0, static_cast<uint32_t>(answer->status));
    block::append(result, &status);
    block::append(result, parse_headers(answer->headers));
    block::append(result, body());
    stack::pop(2);
    return result;
}

}  // namespace zuv::http
