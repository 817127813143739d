// HTTP and HTTPS requests behind the url! read and write actions: one synchronous exchange
// over libcurl (certificates verified, redirects followed, time limits set) that blocks the
// program's thread until the whole answer is in.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "memory/cell.h"

namespace zuv::http {

// The default headers sent when a request names none.
inline constexpr const char* default_content_type = "application/x-www-form-urlencoded";
inline constexpr const char* default_accept_charset = "UTF-8";
extern const char* const default_user_agent;

// One request in plain form. A method of GET or HEAD sends no body.
struct Request {
    std::string method;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
};

struct Response {
    long status = 0;
    std::string headers;  // the final answer's header lines, each ended by CR LF
    std::string body;
};

// Performs the exchange; nothing when it could not be made (no connection, a refused
// certificate, a time limit passed, too many redirects). An answer with an error status is
// still an answer.
std::optional<Response> perform(const Request& request);

// Performs a request: the method is a word! (get, head, post, or any other word, sent in
// upper case), headers a block! of name/value pairs or null (the defaults), data the body or
// null (a binary! is sent as its bytes, a string as UTF-8, any other value formed; none sends
// nothing). Pushes the response as a string! (a block of lines with lines, a binary! with
// binary; with info a block of the status integer!, the header map and the body), or gives
// null when the request could not be made.
Cell* request(Cell* method, Cell* url, Cell* headers, Cell* data, bool lines, bool binary, bool info);

// The header lines "name: value" (each ended by CR LF) as the header map: each name a
// set-word key with its value as a string!, a repeated name (in any letter case) giving a
// block of all its values in order. Pushes the result.
Cell* parse_headers(std::string_view text);

}  // namespace zuv::http
