// HTTP and HTTPS requests behind the url! read and write actions.
#pragma once
#include "memory/cell.h"

namespace zuv::http {

// Performs a request: the method is a word! (get, head, post, or any other word, sent in
// upper case), headers a block! or null, data the body or null. Gives the response as a
// string! (a block of lines with lines, a binary! with binary, the status and headers too
// with info), or null when the request could not be made.
Cell* request(Cell* method, Cell* url, Cell* headers, Cell* data, bool lines, bool binary, bool info);

}  // namespace zuv::http
