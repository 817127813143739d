// HTTP requests: not built yet; the one entry raises internal/not-done.
#include "reader/http.h"

#include "evaluator/error.h"

namespace zuv::http {

Cell* request(Cell*, Cell*, Cell*, Cell*, bool, bool, bool) { error::raise(error::id::internal_not_done); }

}  // namespace zuv::http
